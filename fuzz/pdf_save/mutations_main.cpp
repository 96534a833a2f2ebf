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

#include "PdfMutator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
namespace pdf_save_counts {
extern long opened, saved, refusedAtSave;
}

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
        const std::string input = quill::test::mutatePdf(seeds[static_cast<std::size_t>(i) % seeds.size()], rng);
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
