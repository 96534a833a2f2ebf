// Page-text speed: one open document against a pdftotext run per page, whole files, and page cost
// against document size. The test documents are generated with qpdf from fixture pages into a
// temporary folder and removed afterwards.
//
//   bench_text [--keep]     prints one line per measurement and the goals met
#include "BenchSupport.h"
#include "TempDir.h"
#include "quill/pdf/Document.h"
#include "quill/pdf/Text.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quill::pdf;
using quill::bench::timeMs;
namespace fs = std::filesystem;

namespace {

const std::string kPdfs = std::string(QUILL_FIXTURES_DIR) + "/pdfs/";

// Runs a program with arguments (no shell), output to /dev/null; true on exit status 0.
bool runQuiet(const std::vector<std::string>& args) {
    return quill::bench::runProgram(args) == 0;
}

// The page text the plug-in sends: words joined by their layout bits.
std::size_t pageTextLength(const std::shared_ptr<Document>& doc, int page) {
    std::u16string text;
    for (const auto& w : pageWords(doc, page)) {
        text += w.text;
        if (w.attributes & kWordSpaceAfter) text += u' ';
        if (w.attributes & kWordLastOnLine) text += u'\r';
    }
    return text.size();
}

// `copies` of pages first..last of src, preceded by `head` and followed by `tail` (qpdf page ranges).
bool makePdf(const std::string& out, const std::string& src, const std::string& head, int copies,
             const std::string& range, const std::string& tail) {
    std::vector<std::string> args{"qpdf", "--empty", "--pages"};
    if (!head.empty()) args.insert(args.end(), {src, head});
    for (int i = 0; i < copies; ++i) args.insert(args.end(), {src, range});
    if (!tail.empty()) args.insert(args.end(), {src, tail});
    args.insert(args.end(), {"--", out});
    return runQuiet(args);
}

void report(const std::string& what, double ours, double theirs, const std::string& goal, bool met) {
    std::printf("%-58s ours %9.1f ms   pdftotext %9.1f ms   %-22s %s\n", what.c_str(), ours, theirs, goal.c_str(),
                met ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv) {
    bool keep = argc > 1 && std::strcmp(argv[1], "--keep") == 0;
    quill::testsupport::TempDir scratch("quill-bench-text");
    const std::string dir = scratch.path.string();
    const std::string src = kPdfs + "pdkids.pdf";  // 55 text pages
    const std::string big = dir + "/1000.pdf", huge = dir + "/5000.pdf", small = dir + "/10.pdf";
    // 1,000 pages: 18 copies of pages 1-55 and pages 1-10. 5,000 and 10 pages: page 2,500 of the big
    // one is page 5 of the small one (pages 6-10, then 499 copies of 1-10, then 1-5).
    if (!makePdf(big, src, "", 18, "1-55", "1-10") || !makePdf(small, src, "", 1, "1-10", "") ||
        !makePdf(huge, src, "6-10", 499, "1-10", "1-5")) {
        std::cerr << "bench_text: qpdf could not make the test documents\n";
        return 1;
    }

    int failures = 0;
    // 1. 100 page texts from an open 1,000-page document beside 100 pdftotext runs.
    std::vector<int> pages;
    for (int i = 0; i < 100; ++i) pages.push_back(i * 10 + 3);  // 1-based page numbers
    auto doc = Document::open(big, false);
    clearTextCache();
    std::size_t units = 0;
    double first = timeMs([&] { units += pageTextLength(doc, pages[0] - 1); });
    double ours = first + timeMs([&] {
                      for (std::size_t i = 1; i < pages.size(); ++i) units += pageTextLength(doc, pages[i] - 1);
                  });
    double theirs = timeMs([&] {
        for (int p : pages)
            runQuiet(
                {"pdftotext", "-f", std::to_string(p), "-l", std::to_string(p), "-enc", "UTF-8", big, "/dev/null"});
    });
    std::printf("(first page text, including the parse: %.1f ms; %zu units in all)\n", first, units);
    bool met = ours * 10 <= theirs;
    failures += !met;
    report("100 pages of 1,000, open document", ours, theirs, "goal: 10x faster", met);

    // 2. All 1,000 pages beside pdftotext on the whole file.
    clearTextCache();
    doc = Document::open(big, false);
    ours = timeMs([&] {
        for (int p = 0; p < doc->numPages(); ++p) pageTextLength(doc, p);
    });
    theirs = timeMs([&] { runQuiet({"pdftotext", "-enc", "UTF-8", big, "/dev/null"}); });
    met = ours <= theirs * 1.5;
    failures += !met;
    report("all 1,000 pages", ours, theirs, "goal: within 1.5x", met);

    // After a change the parse reads the objects from memory: the first page text pays for writing
    // them out once; the pages after it do not.
    doc->markChanged();
    double changedFirst = timeMs([&] { pageTextLength(doc, 500); });
    double changedNext = timeMs([&] { pageTextLength(doc, 501); });
    std::printf("after a change to the 1,000-page document: first page text %.1f ms (with the rewrite), next %.2f ms\n",
                changedFirst, changedNext);

    // 3. Page cost against document size: page 2,500 of 5,000 beside page 5 of 10 (the same page).
    auto hugeDoc = Document::open(huge, false);
    auto smallDoc = Document::open(small, false);
    clearTextCache();
    double hugeCold = timeMs([&] { pageTextLength(hugeDoc, 2499); });
    double smallCold = timeMs([&] { pageTextLength(smallDoc, 4); });
    constexpr int kRepeats = 50;
    double hugeWarm = timeMs([&] {
                          for (int i = 0; i < kRepeats; ++i) pageTextLength(hugeDoc, 2499);
                      }) /
                      kRepeats;
    double smallWarm = timeMs([&] {
                           for (int i = 0; i < kRepeats; ++i) pageTextLength(smallDoc, 4);
                       }) /
                       kRepeats;
    double pdftotextHuge = timeMs([&] { runQuiet({"pdftotext", "-f", "2500", "-l", "2500", huge, "/dev/null"}); });
    double pdftotextSmall = timeMs([&] { runQuiet({"pdftotext", "-f", "5", "-l", "5", small, "/dev/null"}); });
    std::printf("page 2,500 of 5,000: first %.2f ms (with the parse), then %.3f ms a page; pdftotext %.1f ms\n",
                hugeCold, hugeWarm, pdftotextHuge);
    std::printf("page 5 of 10:        first %.2f ms (with the parse), then %.3f ms a page; pdftotext %.1f ms\n",
                smallCold, smallWarm, pdftotextSmall);
    met = hugeWarm <= smallWarm * 1.5;
    failures += !met;
    report("page 2,500 of 5,000 vs page 5 of 10 (per page)", hugeWarm, smallWarm, "goal: within 1.5x", met);

    scratch.keep = keep;
    if (keep) std::printf("documents kept in %s\n", dir.c_str());
    return failures == 0 ? 0 : 2;
}
