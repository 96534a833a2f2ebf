// Document speed: open + page count of a 1,000-page file, appending ten files and saving, and
// deleting or inserting pages and saving — each beside the qpdf command doing the same work.
//
//   bench_docs [--runs N] [--keep DIR]
// Prints the median and p90 of each, and the ratios. Not a test: run it by hand on a quiet machine.
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

void report(const char* what, Stats ours, Stats theirs, const char* theirName) {
    std::printf("%-34s ours %8.2f ms (p90 %8.2f)   %-22s %8.2f ms (p90 %8.2f)   ratio %.2f\n", what, ours.median,
                ours.p90, theirName, theirs.median, theirs.p90, ours.median / theirs.median);
}

}  // namespace

int main(int argc, char** argv) {
    const quill::bench::Options options = quill::bench::parseOptions(argc, argv, "bench_docs", 15);
    const int runs = options.runs;
    const fs::path& dir = options.dir;
    const fs::path src = fs::path(QUILL_FIXTURES_DIR) / "pdfs" / "pdkids.pdf";  // 55 real text pages

    // The inputs, made with qpdf: a 1,000-page document and ten 10-page files.
    const fs::path big = dir / "big1000.pdf";
    {
        std::vector<std::string> cmd{"qpdf", "--empty", "--pages"};
        for (int i = 0; i < 18; ++i) cmd.push_back(src.string());
        cmd.push_back(src.string());
        cmd.push_back("1-10");
        cmd.push_back("--");
        cmd.push_back(big.string());
        check(runProgram(cmd) == 0, "making the 1,000-page file");
    }
    std::vector<std::string> tens;
    for (int k = 0; k < 10; ++k) {
        fs::path p = dir / ("ten" + std::to_string(k) + ".pdf");
        std::string range = std::to_string(1 + 4 * k) + "-" + std::to_string(10 + 4 * k);
        check(runProgram({"qpdf", "--empty", "--pages", src.string(), range, "--", p.string()}) == 0,
              "making a 10-page file");
        tens.push_back(p.string());
    }
    check(Document::open(big.string(), false)->numPages() == 1000, "page count");

    std::printf("runs: %d (median, p90); folder %s\n", runs, dir.c_str());

    // 1. Open + page count + close.
    Stats openOurs = measure(runs, [&] { check(Document::open(big.string(), false)->numPages() == 1000, "count"); });
    Stats openQpdf = measure(runs, [&] { runProgram({"qpdf", "--show-npages", big.string()}); });
    report("open + page count + close", openOurs, openQpdf, "qpdf --show-npages");

    // 2. Append ten 10-page files to a new document and save as.
    const fs::path merged = dir / "merged.pdf";
    Stats appendOurs = measure(runs, [&] {
        auto doc = Document::create();
        for (auto& t : tens) {
            auto s = Document::open(t, true);
            doc->insertPages(kLastPage, *s, 0, kAllPages, kInsertAll);
        }
        save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, merged.string());
    });
    std::vector<std::string> qmerge{"qpdf", "--empty", "--pages"};
    for (auto& t : tens) qmerge.push_back(t);
    qmerge.push_back("--");
    qmerge.push_back((dir / "merged-qpdf.pdf").string());
    Stats appendQpdf = measure(runs, [&] { runProgram(qmerge); });
    report("append 10 x 10 pages + save as", appendOurs, appendQpdf, "qpdf --empty --pages");

    // 3. Delete 100 pages + save, and insert 10 pages + save, on the open 1,000-page document.
    const fs::path out = dir / "edited.pdf";
    Stats deleteOpen = measure(runs, [&] {
        auto doc = Document::open(big.string(), false);
        doc->deletePages(100, 199);
        save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, out.string());
    });
    // The same without the open, as on a document a host already holds.
    std::vector<double> delOnly, insOnly;
    for (int i = 0; i < runs; ++i) {
        auto doc = Document::open(big.string(), false);
        doc->numPages();
        auto t0 = std::chrono::steady_clock::now();
        doc->deletePages(100, 199);
        save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, out.string());
        delOnly.push_back(since(t0));
    }
    Stats deleteQpdf = measure(runs, [&] {
        runProgram({"qpdf", big.string(), "--pages", big.string(), "1-100,201-z", "--", out.string()});
    });
    Stats insertOpen = measure(runs, [&] {
        auto doc = Document::open(big.string(), false);
        auto ten = Document::open(tens[0], true);
        doc->insertPages(499, *ten, 0, kAllPages, kInsertAll);
        save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, out.string());
    });
    for (int i = 0; i < runs; ++i) {
        auto doc = Document::open(big.string(), false);
        auto ten = Document::open(tens[0], true);
        doc->numPages();
        ten->numPages();
        auto t0 = std::chrono::steady_clock::now();
        doc->insertPages(499, *ten, 0, kAllPages, kInsertAll);
        save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, out.string());
        insOnly.push_back(since(t0));
    }
    Stats insertQpdf = measure(runs, [&] {
        runProgram({"qpdf", big.string(), "--pages", big.string(), "1-500", tens[0], big.string(), "501-z", "--",
                    out.string()});
    });
    report("delete 100 + save (open included)", deleteOpen, deleteQpdf, "qpdf --pages");
    report("delete 100 + save (open document)", stats(delOnly), deleteQpdf, "qpdf --pages");
    report("insert 10 + save (open included)", insertOpen, insertQpdf, "qpdf --pages");
    report("insert 10 + save (open document)", stats(insOnly), insertQpdf, "qpdf --pages");

    quill::bench::finish(options);
    return 0;
}
