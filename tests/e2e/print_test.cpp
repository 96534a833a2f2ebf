// Printing end to end: Torv_PrintPDF prints every page of the working
// document (not pending page changes) to the default CUPS queue; the test
// reads the PDF the cups-pdf queue produces.
#include "Harness.h"

#include <gtest/gtest.h>

#include <set>
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

}  // namespace
