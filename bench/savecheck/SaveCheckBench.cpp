// The cost of reading every save back before it replaces the file: a title set + save of a
// 1,000-page document, whole (unsigned) and as an update (signed by pdfsig), with the time the
// read-back takes inside each save (from the new file synced to the rename).
//
//   bench_savecheck [--runs N] [--keep DIR]
// Prints medians and p90s and whether the goal (read-back under 10% of the save) is met. Not a
// test: run it by hand on a quiet machine.
#include "quill/pdf/AtomicFile.h"
#include "BenchSupport.h"
#include "quill/pdf/Document.h"
#include "quill/pdf/Info.h"
#include "quill/pdf/Save.h"
#include "SaveCheck.h"
#include "Signing.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace quill::pdf;
using namespace quill::bench;

namespace {

// CPU time of this process in milliseconds: on a shared machine the wall clock also counts the
// time other programs hold the processors.
double cpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Times the saves of `pdf` (a title set each) and, within them, the read-back.
void measureSaves(const char* what, const fs::path& pdf, int runs) {
    auto doc = Document::open(pdf.string(), false);
    std::vector<double> saves, checks, cpuSaves, cpuChecks;
    std::chrono::steady_clock::time_point checkStart;
    double cpuStart = 0;
    setBeforeReadBackHookForTesting([&](int) {
        checkStart = std::chrono::steady_clock::now();
        cpuStart = cpuMs();
    });
    setBeforeRenameHookForTesting([&](const std::string&) {
        checks.push_back(since(checkStart));
        cpuChecks.push_back(cpuMs() - cpuStart);
    });
    for (int i = 0; i <= runs; ++i) {
        setInfo(*doc, u"Title", u"Run " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)));
        const double cpu0 = cpuMs();
        const double ms = timeMs([&] { save(*doc, kSaveFull | kSaveCollectGarbage, pdf.string()); });
        if (i > 0) {  // the first is the warm-up
            saves.push_back(ms);
            cpuSaves.push_back(cpuMs() - cpu0);
        }
    }
    checks.erase(checks.begin());
    cpuChecks.erase(cpuChecks.begin());
    setBeforeReadBackHookForTesting({});
    setBeforeRenameHookForTesting({});
    const Stats save = stats(saves), check = stats(checks), cpuSave = stats(cpuSaves), cpuCheck = stats(cpuChecks);
    // The share of the save without the read-back, in processor time (the wall clock is shown too).
    const double share = 100.0 * cpuCheck.median / (cpuSave.median - cpuCheck.median);
    std::printf("%s\n  wall: save %9.2f ms (p90 %9.2f), read-back %8.2f ms (p90 %8.2f)\n", what, save.median, save.p90,
                check.median, check.p90);
    std::printf("  cpu:  save %9.2f ms (p90 %9.2f), read-back %8.2f ms (p90 %8.2f): %.1f%% of the save without it\n",
                cpuSave.median, cpuSave.p90, cpuCheck.median, cpuCheck.p90, share);
    std::printf("goal read-back < 10%% of the save (%s): %s\n", what, share < 10 ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv, "bench_savecheck", 11);
    const fs::path& dir = options.dir;
    const fs::path pdfs = fs::path(QUILL_FIXTURES_DIR) / "pdfs";

    // A 1,000-page document: the sample form's page, then 999 text pages.
    const fs::path plain = dir / "form1000.pdf";
    std::vector<std::string> cmd{"qpdf", "--empty", "--pages", (pdfs / "sample_form.pdf").string(), "1"};
    for (int i = 0; i < 18; ++i) cmd.push_back((pdfs / "pdkids.pdf").string());
    cmd.insert(cmd.end(), {(pdfs / "pdkids.pdf").string(), "1-9", "--", plain.string()});
    check(runProgram(cmd) == 0, "making the 1,000-page file");
    const fs::path nss = dir / "nss";
    const std::string failed = quill::testsupport::makeSigningDatabase(
        nss, {"bench", "CN=Bench", 12, "bench_savecheck noise 0123456789abcdef"});
    check(failed.empty(), failed.c_str());
    const fs::path signedPdf = dir / "signed1000.pdf";
    check(quill::testsupport::Signer{nss, "bench"}.addSignature(plain, signedPdf), "signing");
    std::printf("runs: %d (median, p90); folder %s; %ju and %ju bytes\n", options.runs, dir.c_str(),
                static_cast<std::uintmax_t>(fs::file_size(plain)),
                static_cast<std::uintmax_t>(fs::file_size(signedPdf)));

    measureSaves("1,000 pages, unsigned (whole file)", plain, options.runs);
    measureSaves("1,000 pages, signed (update appended)", signedPdf, options.runs);
    finish(options);
    return 0;
}
