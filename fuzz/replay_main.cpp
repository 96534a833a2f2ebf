// Replays files (or every file in folders) through a fuzz target, for builds
// without libFuzzer; CTest runs each target over its seed corpus.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

static int replayFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

int main(int argc, char** argv) {
    int failures = 0, count = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st {};
        if (::stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "no such file: %s\n", argv[i]);
            ++failures;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            DIR* d = ::opendir(argv[i]);
            while (d) {
                struct dirent* e = ::readdir(d);
                if (!e) break;
                if (e->d_name[0] == '.') continue;
                failures += replayFile(std::string(argv[i]) + "/" + e->d_name);
                ++count;
            }
            if (d) ::closedir(d);
        } else {
            failures += replayFile(argv[i]);
            ++count;
        }
    }
    std::printf("replayed %d inputs\n", count);
    return failures ? 1 : 0;
}
