// Printing end to end: Torv_PrintPDF prints every page of the working
// document (not pending page changes) to the default CUPS queue; the test
// reads the PDF the cups-pdf queue produces.
#include "Harness.h"

#include <gtest/gtest.h>

#include <set>
#include <fstream>
#include <thread>

using namespace e2e;

namespace {

fs::path printOutput() {
    const char* out = std::getenv("QUILL_PRINT_OUT");
    return out ? fs::path(out) : fs::path("/var/spool/cups-pdf/quillmark");
}

std::set<fs::path> pdfsIn(const fs::path& dir) {
    std::set<fs::path> out;
    std::error_code ec;
    for (auto const& e : fs::directory_iterator(dir, ec))
        if (e.path().extension() == ".pdf") out.insert(e.path());
    return out;
}

TEST(Print, PrintsThePagesOfTheWorkingDocument) {
    if (run({"/usr/bin/lpstat", "-r"}).out.find("is running") == std::string::npos ||
        run({"/usr/bin/lpstat", "-d"}).out.find("system default destination") == std::string::npos)
        GTEST_SKIP() << "no print scheduler with a default printer (scripts/cups-queue start sets one up)";
    Sandbox box;
    const fs::path doc = box.copy(example("appendix.pdf"), "to-print.pdf");  // 2 pages
    const auto before = pdfsIn(printOutput());
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0");
    // A pending append is not printed.
    ASSERT_EQ(fm("Torv_AppendPDF ( " + lit(example("form.pdf")) + " )"), "0");
    EXPECT_EQ(fm("Torv_PrintPDF"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");

    fs::path printed;
    for (int i = 0; i < 300 && printed.empty(); ++i) {
        for (auto const& p : pdfsIn(printOutput()))
            if (!before.count(p) && pagesOf(p) > 0) printed = p;
        if (printed.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(printed.empty()) << "no PDF appeared in " << printOutput();
    EXPECT_EQ(pagesOf(printed), 2);
    auto text = run({"/usr/bin/pdftotext", printed.string(), "-"});
    EXPECT_NE(text.out.find("Appendix, page 2"), std::string::npos);
    fs::remove(printed);
}

// Dark pixels of a 50 dpi grey rendering of a PDF's first page.
long inkOf(const fs::path& pdf, const fs::path& dir) {
    const fs::path prefix = dir / "ink";
    run({"/usr/bin/pdftoppm", "-r", "50", "-gray", "-singlefile", pdf.string(), prefix.string()});
    std::ifstream in(prefix.string() + ".pgm", std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();
    long dark = 0;
    for (long k = 0; k < static_cast<long>(w) * h; ++k)
        if (in.get() < 128) ++dark;
    return dark;
}

// A form filled with values in several scripts prints what this system draws: Greek,
// Cyrillic, CJK and Hebrew values put ink on the printed page. The print system passes the
// page through PostScript, which keeps the drawing but not the characters behind embedded
// Unicode fonts, so the printout is judged by its pixels against the same form printed empty.
TEST(Print, PrintedFormShowsValuesInEveryScript) {
    if (run({"/usr/bin/lpstat", "-r"}).out.find("is running") == std::string::npos ||
        run({"/usr/bin/lpstat", "-d"}).out.find("system default destination") == std::string::npos)
        GTEST_SKIP() << "no print scheduler with a default printer (scripts/cups-queue start sets one up)";
    Sandbox box;
    auto printOnce = [&](const std::vector<std::pair<std::string, std::string>>& values) {
        const fs::path doc = box.copy(example("form.pdf"), "form-to-print.pdf");
        const auto before = pdfsIn(printOutput());
        FmSession fm(box);
        EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0");
        for (auto& [field, value] : values)
            EXPECT_EQ(fm("Torv_SetPDFFieldValue ( " + lit(field) + " ; " + lit(value) + " )"), "0") << fm.lastError();
        EXPECT_EQ(fm("Torv_PrintPDF"), "0") << fm.lastError();
        EXPECT_EQ(fm("Torv_ClosePDF"), "0");
        fs::path printed;
        for (int i = 0; i < 300 && printed.empty(); ++i) {
            // The queue names its files after the job, so another job's printout is never taken.
            for (auto const& p : pdfsIn(printOutput()))
                if (!before.count(p) && p.filename().string().rfind("form-to-print", 0) == 0 && pagesOf(p) > 0)
                    printed = p;
            if (printed.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_FALSE(printed.empty()) << "no PDF appeared in " << printOutput();
        long ink = printed.empty() ? 0 : inkOf(printed, box.root());
        if (!printed.empty()) fs::remove(printed);
        return ink;
    };
    const long empty = printOnce({});
    const long filled =
        printOnce({{"applicant.name", "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xD0\x9A\xD0\xB8\xD1\x97\xD0\xB2"},
                   {"applicant.city", "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"}});
    // Twenty characters at 50 dpi leave well over a hundred dark pixels.
    EXPECT_GT(filled, empty + 100) << "empty " << empty << ", filled " << filled;
}

}  // namespace
