// Printing end to end: Torv_PrintPDF prints every page of the working
// document (not pending page changes) to the default CUPS queue; the tests
// read the PDF the IPP Everywhere printer behind it received.
#include "Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

using namespace e2e;

namespace {

fs::path printOutput() {
    const char* out = std::getenv("QUILL_PRINT_OUT");
    return out ? fs::path(out) : fs::path("/var/spool/quillmark-print");
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
            if (!before.count(p) && p.filename().string().find("to-print") != std::string::npos && pagesOf(p) > 0)
                printed = p;
        if (printed.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(printed.empty()) << "no PDF appeared in " << printOutput();
    EXPECT_EQ(pagesOf(printed), 2);
    auto text = run({"/usr/bin/pdftotext", printed.string(), "-"});
    EXPECT_NE(text.out.find("Appendix, page 2"), std::string::npos);
    fs::remove(printed);
}

std::string textOf(const fs::path& pdf) {
    return run({"/usr/bin/pdftotext", "-layout", pdf.string(), "-"}).out;
}

// Waits for the printer's file of the job whose title holds `tag`, complete (qpdf reads it).
fs::path waitForJob(const std::string& tag, const std::set<fs::path>& before) {
    // A busy machine's print system takes its time: each job goes through the scheduler's filters
    // and the printer, and both write their spool files to disk.
    for (int i = 0; i < 900; ++i) {
        for (auto const& p : pdfsIn(printOutput()))
            if (!before.count(p) && p.filename().string().find(tag) != std::string::npos && pagesOf(p) > 0) return p;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

// A form filled with values in many scripts reaches the printer as the document it is: the
// printer's copy holds the same text as the document saved at the same moment, and that text
// holds the values.
TEST(Print, PrintedFormHoldsTheDocumentsTextInEveryScript) {
    if (run({"/usr/bin/lpstat", "-r"}).out.find("is running") == std::string::npos ||
        run({"/usr/bin/lpstat", "-d"}).out.find("system default destination") == std::string::npos)
        GTEST_SKIP() << "no print scheduler with a default printer (scripts/cups-queue start sets one up)";
    struct Row {
        const char* script;
        std::vector<std::pair<std::string, std::string>> values;  // field, value
        bool leftToRight = true;                                  // pdftotext gives right-to-left text in its own order
    };
    const std::vector<Row> rows = {
        {"latin-greek-cyrillic", {{"applicant.name", "Łódź Tromsø"}, {"applicant.city", "Αθήνα"}, {"email", "Київ"}}},
        {"vietnamese-cjk", {{"applicant.name", "Hà Nội"}, {"applicant.city", "東京都"}, {"email", "北京市"}}},
        {"arabic-hebrew", {{"applicant.name", "القاهرة"}, {"applicant.city", "שלום"}}, false},
        {"korean-devanagari-thai",
         {{"applicant.name", "서울 한국어"}, {"applicant.city", "नमस्ते हिन्दी"}, {"email", "ภาษาไทย"}}},
    };
    Sandbox box;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        const std::string tag = std::string("print-") + row.script;
        const fs::path doc = box.copy(example("form.pdf"), tag + ".pdf");
        const fs::path saved = box.root() / (tag + "-saved.pdf");
        const auto before = pdfsIn(printOutput());
        FmSession fm(box);
        ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0");
        for (auto& [field, value] : row.values)
            EXPECT_EQ(fm("Torv_SetPDFFieldValue ( " + lit(field) + " ; " + lit(value) + " )"), "0") << fm.lastError();
        EXPECT_EQ(fm("Torv_PrintPDF"), "0") << fm.lastError();
        EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(saved) + " )"), "0") << fm.lastError();
        EXPECT_EQ(fm("Torv_ClosePDF"), "0");
        const fs::path printed = waitForJob(tag, before);
        ASSERT_FALSE(printed.empty()) << "no job file appeared in " << printOutput();
        const std::string text = textOf(saved);
        EXPECT_EQ(textOf(printed), text);
        // Without spaces: where shaped clusters sit apart the extractor guesses one between them.
        auto squeezed = [](std::string t) {
            t.erase(std::remove(t.begin(), t.end(), ' '), t.end());
            return t;
        };
        for (auto& [field, value] : row.values) {
            if (!row.leftToRight) continue;
            EXPECT_NE(squeezed(text).find(squeezed(value)), std::string::npos) << value << "\n" << text;
        }
        fs::remove(printed);
    }
}

}  // namespace
