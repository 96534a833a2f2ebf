// Page edit speed.
//
//  1. Deleting pages 2..N-1 of an N-page document (N = 1,000, 5,000, 10,000) as acrobat-host does
//     it for a script: in place on the open document, then the save. The edit copy the plug-in
//     once made first (a new document holding every page, then the delete) is timed beside it.
//  2. Deleting pages 2..101 of a 1,000-page file and saving, open included, beside
//     `mutool merge -o out.pdf in.pdf 1,102-1000` (MuPDF) doing the same work.
//
//   bench_pages [--runs N] [--keep DIR]
// Prints medians and p90s. Not a test: run it by hand on a quiet machine.
#include "BenchSupport.h"
#include "quill/pdf/Document.h"
#include "quill/pdf/Save.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace quill::pdf;
using namespace quill::bench;

namespace {

// An N-page file of real text pages (the 55 pages of pdkids.pdf over and over), made with qpdf.
fs::path makeFile(const fs::path& dir, int pages) {
    const fs::path src = fs::path(QUILL_FIXTURES_DIR) / "pdfs" / "pdkids.pdf";
    const fs::path out = dir / ("pages" + std::to_string(pages) + ".pdf");
    std::vector<std::string> cmd{"qpdf", "--empty", "--pages"};
    for (int left = pages; left > 0; left -= 55) {
        cmd.push_back(src.string());
        cmd.push_back(left >= 55 ? "1-55" : "1-" + std::to_string(left));
    }
    cmd.push_back("--");
    cmd.push_back(out.string());
    check(runProgram(cmd) == 0, "making a test file");
    check(Document::open(out.string(), false)->numPages() == pages, "page count of a test file");
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const quill::bench::Options options = quill::bench::parseOptions(argc, argv, "bench_pages", 7);
    const int runs = options.runs;
    const fs::path& dir = options.dir;
    const fs::path out = dir / "out.pdf";
    std::printf("runs: %d (median, p90 in ms); folder %s\n\n", runs, dir.c_str());

    std::printf("1. delete pages 2..N-1 of an N-page document\n");
    std::printf("%7s  %-28s %-28s %-28s %-28s\n", "N", "in place (delete only)", "in place + save",
                "old edit copy + delete", "freeing the document");
    for (int n : {1000, 5000, 10000}) {
        const fs::path file = makeFile(dir, n);
        std::shared_ptr<Document> doc;
        auto openIt = [&] {
            doc = Document::open(file.string(), false);
            doc->numPages();
        };
        Stats del = measure(runs, openIt, [&] { doc->deletePages(1, n - 2); });
        Stats delSave = measure(runs, openIt, [&] {
            doc->deletePages(1, n - 2);
            save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, out.string());
        });
        check(Document::open(out.string(), false)->numPages() == 2, "the saved page count");
        // What a close would cost if it freed the document before answering (the host now frees
        // it after the reply).
        Stats freed = measure(
            runs,
            [&] {
                openIt();
                doc->deletePages(1, n - 2);
                save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, out.string());
            },
            [&] { doc.reset(); });
        Stats copied = measure(std::min(runs, 3), openIt, [&] {
            auto copy = Document::create();
            copy->insertPages(kLastPage, *doc, 0, kAllPages, kInsertAll);
            copy->deletePages(1, n - 2);
        });
        doc.reset();
        std::printf("%7d  %9.1f (p90 %9.1f)    %9.1f (p90 %9.1f)    %9.1f (p90 %9.1f)    %9.1f (p90 %9.1f)\n", n,
                    del.median, del.p90, delSave.median, delSave.p90, copied.median, copied.p90, freed.median,
                    freed.p90);
    }

    std::printf("\n2. delete pages 2..101 of a 1,000-page file + save (open included)\n");
    const fs::path big = dir / "pages1000.pdf";
    // Interleaved, so that both see the same load: ours with the document freed inside the timing,
    // ours as the host answers it (the document is freed after the reply), and mutool.
    const bool haveMutool = runProgram({"mutool", "-v"}) != 127;
    const fs::path theirs = dir / "mutool-out.pdf";
    std::vector<double> withFree, answered, mu;
    for (int i = 0; i <= runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        auto doc = Document::open(big.string(), false);
        doc->deletePages(1, 100);
        save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, out.string());
        const double saved = since(t0);
        doc.reset();
        const double freed = since(t0);
        double m = 0;
        if (haveMutool) {
            auto t1 = std::chrono::steady_clock::now();
            runProgram({"mutool", "merge", "-o", theirs.string(), big.string(), "1,102-1000"});
            m = since(t1);
        }
        if (i == 0) continue;  // warm-up
        answered.push_back(saved);
        withFree.push_back(freed);
        mu.push_back(m);
    }
    check(Document::open(out.string(), false)->numPages() == 900, "our page count");
    const Stats a = stats(answered), f = stats(withFree);
    std::printf("  ours, as answered          %9.1f (p90 %9.1f)\n", a.median, a.p90);
    std::printf("  ours, document freed too   %9.1f (p90 %9.1f)\n", f.median, f.p90);
    if (haveMutool) {
        check(Document::open(theirs.string(), false)->numPages() == 900, "mutool's page count");
        const Stats m = stats(mu);
        std::printf("  mutool merge               %9.1f (p90 %9.1f)\n", m.median, m.p90);
        std::printf("  ratio ours/mutool          %9.2f (freed too %.2f)\n", a.median / m.median, f.median / m.median);
    } else {
        std::printf("  mutool not found (Debian package mupdf-tools)\n");
    }

    quill::bench::finish(options);
    return 0;
}
