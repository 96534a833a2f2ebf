// A mutation run over the save path, for builds without libFuzzer: every seed of the corpus is
// mutated (byte flips, truncation, spliced ranges, PDF-ish junk, changed digits) and fed to the
// target, which aborts on a finding. Each input has 60 seconds (a hang ends the run). Run by hand:
//   fuzz_pdf_save_mutations CORPUS_DIR COUNT [SEED]
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
namespace pdf_save_counts {
extern long opened, saved, refusedAtSave;
}

namespace {

std::string mutate(std::string data, std::mt19937& rng) {
    auto pick = [&](std::size_t n) { return n ? std::uniform_int_distribution<std::size_t>(0, n - 1)(rng) : 0; };
    const int rounds = 1 + static_cast<int>(pick(6));
    for (int r = 0; r < rounds && !data.empty(); ++r) {
        switch (pick(5)) {
            case 0:
                for (int i = 0; i < 1 + static_cast<int>(pick(16)); ++i)
                    data[pick(data.size())] ^= static_cast<char>(1 + pick(255));
                break;
            case 1:
                data.resize(data.size() - pick(data.size() / 4 + 1));
                break;
            case 2: {
                const std::size_t from = pick(data.size()), to = pick(data.size());
                const std::size_t len = std::min<std::size_t>({pick(512), data.size() - from, data.size() - to});
                data.replace(to, len, data.substr(from, len));
                break;
            }
            case 3: {
                static const char* junk[] = {"obj",
                                             "endobj",
                                             "<<",
                                             ">>",
                                             "xref",
                                             "trailer",
                                             "%%EOF",
                                             "/Size 2147483647",
                                             "/Length 127",
                                             "/XRefStm 0",
                                             "/Prev 0",
                                             "/Lock << /Action /All /P 1 >>",
                                             "/ByteRange [0 1 2 3]",
                                             "9999999 0 R"};
                data.insert(pick(data.size()), junk[pick(std::size(junk))]);
                break;
            }
            default:
                for (int i = 0; i < 8; ++i) {
                    const std::size_t p = pick(data.size());
                    if (data[p] >= '0' && data[p] <= '9') data[p] = static_cast<char>('0' + pick(10));
                }
        }
    }
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR COUNT [SEED]\n", argv[0]);
        return 2;
    }
    std::vector<std::string> seeds;
    if (DIR* d = ::opendir(argv[1])) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream in(std::string(argv[1]) + "/" + e->d_name, std::ios::binary);
            seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        ::closedir(d);
    }
    if (seeds.empty()) return 2;
    const long count = std::atol(argv[2]);
    std::mt19937 rng(argc > 3 ? static_cast<unsigned>(std::atol(argv[3])) : 1u);
    for (long i = 0; i < count; ++i) {
        const std::string input = mutate(seeds[static_cast<std::size_t>(i) % seeds.size()], rng);
        ::alarm(60);  // SIGALRM ends the run: a hang is a finding
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        if ((i + 1) % 1000 == 0)
            std::fprintf(stderr, "%ld inputs: %ld opens, %ld saves read back, %ld refused at the save\n", i + 1,
                         pdf_save_counts::opened, pdf_save_counts::saved, pdf_save_counts::refusedAtSave);
    }
    ::alarm(0);
    std::printf(
        "%ld inputs (two opens each, without and with repair): %ld opens, %ld saves read back and "
        "re-opened, %ld refused at the save; no crash, no hang, no unreadable file answered as success\n",
        count, pdf_save_counts::opened, pdf_save_counts::saved, pdf_save_counts::refusedAtSave);
    return 0;
}
