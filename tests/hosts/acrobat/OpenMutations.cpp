// OpenMutations: a mutation run over the open path. Every fixture PDF is
// mutated (byte flips, truncation, spliced ranges, inserted junk), written
// to a temporary file and opened through the tables as a plug-in opens it
// (PDModel PDDocOpenEx inside an exception frame, with and without repair),
// then counted and closed. Not a unit test: run it by hand,
//   acrobat_host_open_mutations SECONDS [SEED]
// It prints the figures; any crash or sanitizer report is a finding.
#include "Application.h"
#include "HostAPI.h"
#include "PdfMutator.h"
#include "TempDir.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

template <class Proto>
Proto proc(const char* table, Selector sel) {
    return reinterpret_cast<Proto>(acro_host::registeredProc(table, sel));
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    std::mt19937 rng(argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u);
    acro_host::Application::Options o;
    o.pluginsDir = "/nonexistent";
    o.installEventHandlers = false;
    acro_host::Application app(o);

    std::vector<std::string> corpus;
    for (const auto& e : fs::directory_iterator(fs::path(QUILL_FIXTURES_DIR) / "pdfs")) {
        std::ifstream in(e.path(), std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const quill::testsupport::TempDir dir("acrohost-mutant");
    const fs::path file = dir / "mutant.pdf";
    auto atom = proc<ASAtomFromStringSELPROTO>(CoreHFTName, ASAtomFromStringSEL);
    auto create = proc<ASFileSysCreatePathNameSELPROTO>(AcroSupportHFTName, ASFileSysCreatePathNameSEL);
    auto release = proc<ASFileSysReleasePathSELPROTO>(AcroSupportHFTName, ASFileSysReleasePathSEL);
    auto open = proc<PDDocOpenExSELPROTO>(PDModelHFTName, PDDocOpenExSEL);
    auto pages = proc<PDDocGetNumPagesSELPROTO>(PDModelHFTName, PDDocGetNumPagesSEL);
    auto close = proc<PDDocCloseSELPROTO>(PDModelHFTName, PDDocCloseSEL);

    std::map<std::string, long> outcomes;
    long runs = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        const std::string data = quill::test::mutatePdf(corpus[runs % corpus.size()], rng);
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << data;
        }
        for (const bool repair : {false, true}) {
            ++runs;
            try {
                acro_host::HostExceptionFrame frame;
                ASPathName path = create(nullptr, atom("POSIXPath"), file.c_str(), nullptr);
                PDDoc doc = nullptr;
                try {
                    doc = open(path, nullptr, nullptr, nullptr, repair);
                } catch (...) {
                    release(nullptr, path);
                    throw;
                }
                release(nullptr, path);
                pages(doc);
                close(doc);
                ++outcomes["opened"];
            } catch (const acro_host::RequestAborted& e) {
                char key[32];
                std::snprintf(key, sizeof key, "error 0x%08X", static_cast<unsigned>(e.code));
                ++outcomes[key];
            }
        }
    }
    fs::remove(file);
    std::printf("%ld opens of mutated fixtures (%zu seeds) in %d s\n", runs, corpus.size(), seconds);
    for (const auto& [k, n] : outcomes) std::printf("  %-20s %ld\n", k.c_str(), n);
    return 0;
}
