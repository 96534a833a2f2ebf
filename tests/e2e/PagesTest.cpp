// Page text, document information, inserting and deleting pages, end to end.
#include "Slurp.h"
#include "Harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace e2e;

namespace {

// Words of a text, without pdftotext's bidirectional embedding marks
// (U+202A to U+202E), which are layout, not text.
std::vector<std::string> words(std::string text) {
    for (const char* mark : {"\u202A", "\u202B", "\u202C", "\u202D", "\u202E"})
        for (size_t pos; (pos = text.find(mark)) != std::string::npos;) text.erase(pos, 3);
    std::vector<std::string> out;
    std::string w;
    for (char c : text) {
        if (c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f') {
            if (!w.empty()) out.push_back(w);
            w.clear();
        } else {
            w.push_back(c);
        }
    }
    if (!w.empty()) out.push_back(w);
    return out;
}

using quill::testsupport::slurp;

class Pages : public ::testing::Test {
protected:
    Sandbox box;
    FmSession fm{box};
    void open(const fs::path& pdf) { ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError(); }
    void TearDown() override { fm("Torv_ClosePDF"); }
};

TEST_F(Pages, PageTextHasTheWordsPdftotextFinds) {
    for (const char* name : {"pdkids.pdf", "T4.pdf", "french_diacritics.pdf", "russian.pdf", "jo.pdf", "issue16063.pdf",
                             "ArabicCIDTrueType.pdf", "issue13211.pdf", "data-000001.pdf"}) {
        SCOPED_TRACE(name);
        const fs::path pdf = box.copy(fixture(name));
        open(pdf);
        const std::string text = fm("Torv_GetTextFromPage ( 1 )");
        EXPECT_EQ(text.find('\n'), std::string::npos);
        const auto expected = words(slurp(std::string(QUILL_FIXTURES_DIR) + "/truth/" + name + ".p1.txt"));
        const auto got = words(text);
        // The same words in the same order; allow a few differences (ligatures, hyphenation).
        size_t same = 0;
        for (size_t i = 0, j = 0; i < expected.size() && j < got.size();) {
            if (expected[i] == got[j]) {
                ++same;
                ++i;
                ++j;
            } else if (i + 1 < expected.size() && expected[i + 1] == got[j])
                ++i;
            else
                ++j;
        }
        EXPECT_GE(same * 100, expected.size() * 95) << same << " of " << expected.size();
        ASSERT_EQ(fm("Torv_ClosePDF"), "0");
    }
}

TEST_F(Pages, PageNumbersAndEmptyPages) {
    open(box.copy(example("form.pdf")));
    EXPECT_NE(fm("Torv_GetTextFromPage ( 1 )").find("Quillmark Membership Form"), std::string::npos);
    EXPECT_NE(fm("Torv_GetTextFromPage ( 1 )").find('\r'), std::string::npos);
    for (auto page : {"0", "-1", "2"}) {
        EXPECT_EQ(fm(std::string("Torv_GetTextFromPage ( ") + page + " )"), "!!ERROR!!") << page;
        EXPECT_EQ(fm.lastError(),
                  std::string("Invalid page number for GetTextFromPage. Page ") + page + " is not in the document.");
    }
    EXPECT_EQ(fm("Torv_GetTextFromPage ( \"\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-3");
    ASSERT_EQ(fm("Torv_ClosePDF"), "0");
    open(box.copy(fixture("congress.pdf")));
    EXPECT_EQ(fm("Torv_GetTextFromPage ( 1 )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastError(), "GetTextFromPage found no text on specifid page.");
}

TEST_F(Pages, InfoKeysAndDates) {
    const fs::path form = box.copy(example("form.pdf"));
    open(form);
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"Title\" )"), "Membership Form");
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"title\" )"), "");  // accepted, sent as written
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"Subject\" )"), "");
    auto created = fm.eval("Torv_GetPDFInfo ( \"CreationDate\" )");
    EXPECT_EQ(created.type, "date");
    EXPECT_EQ(created.value, "2026-01-05");
    // "Date", the tail of the two date keys, is accepted and sent as written:
    // the document has no such entry, so the result stays empty.
    EXPECT_EQ(fm.eval("Torv_GetPDFInfo ( \"Date\" )").type, "empty");
    EXPECT_EQ(fm.eval("Torv_GetPDFInfo ( \"Title|Author\" )").value, "");
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"Colour\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-4");
    EXPECT_EQ(fm("Torv_SetPDFInfo ( \"ModDate\" ; \"D:2020\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-4");
    // A successful set clears the store; a successful get does not.
    EXPECT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Grüße – 東京 😀\" )"), "0");
    EXPECT_EQ(fm.lastError(), "SUCCESS");
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"Colour\" )"), "!!ERROR!!");
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"Title\" )"), "Grüße – 東京 😀");
    EXPECT_EQ(fm.lastErrorNumber(), "-4");
    const fs::path saved = box.root() / "saved.pdf";
    ASSERT_EQ(fm("Torv_SaveAsPDF ( " + lit(saved) + " )"), "0");
    auto info = run({"/usr/bin/pdfinfo", saved.string()}, {{"LC_ALL", "C.UTF-8"}});
    EXPECT_NE(info.out.find("Grüße – 東京 😀"), std::string::npos) << info.out;
}

TEST_F(Pages, InsertAndDeleteThenSave) {
    const fs::path doc = box.copy(fixture("hello_world_rotated.pdf"), "doc.pdf");  // 5 pages
    const fs::path src = box.copy(example("appendix.pdf"));                        // 2 pages
    open(doc);
    EXPECT_EQ(fm("Torv_DeletePages ( 2 ; 3 )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetNumPages"), "5");
    EXPECT_EQ(fm("Torv_InsertPages ( 1 ; " + lit(src) + " ; 2 ; 1 ; \"0\" )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SavePDF"), "0");
    EXPECT_EQ(fm("Torv_GetNumPages"), "4");
    EXPECT_EQ(pagesOf(doc), 4);
    auto p2 = run({"/usr/bin/pdftotext", "-f", "2", "-l", "2", doc.string(), "-"});
    EXPECT_NE(p2.out.find("Appendix, page 2"), std::string::npos) << p2.out;
}

TEST_F(Pages, RangeMessages) {
    open(box.copy(fixture("hello_world_rotated.pdf"), "doc.pdf"));
    const fs::path src = box.copy(example("appendix.pdf"));
    auto del = [&](const std::string& a, const std::string& b) {
        EXPECT_EQ(fm("Torv_DeletePages ( " + a + " ; " + b + " )"), "!!ERROR!!");
        return fm.lastError();
    };
    EXPECT_EQ(del("4", "2"), "Error deleting page(s):  Start page cannot be greater than the last page.");
    EXPECT_EQ(del("\"\"", "2"),
              "Error deleting page(s):  Starting page to be deleted is out of range. The page number given was 0.");
    EXPECT_EQ(del("0", "9"),
              "Error deleting page(s):  Last page to be deleted is out of range. The page number given was 9.");
    auto ins = [&](const std::string& args) {
        EXPECT_EQ(fm("Torv_InsertPages ( " + args + " )"), "!!ERROR!!");
        return fm.lastError();
    };
    const std::string s = lit(src);
    EXPECT_EQ(ins("0 ; " + s + " ; 1 ; 1 ; \"\""),
              "Error inserting page(s):  Desired position to insert page(s) after is out of range in the destination "
              "document. The page number given was 0.");
    EXPECT_EQ(ins("6 ; " + s + " ; 1 ; 1 ; \"\""),
              "Error inserting page(s):  Desired position to insert page(s) after is out of range in the destination "
              "document. The page number given was 6.");
    EXPECT_EQ(ins("1 ; " + s + " ; 3 ; 0 ; \"\""),
              "Error inserting page(s):  Starting page in the source document is out of range. The page number given "
              "was 3.");
    // Start and count both wrong: the last failing check's message is sent.
    const std::string count =
        "Error inserting page(s):  Number of pages to insert in the source document out of range.";
    EXPECT_EQ(ins("1 ; " + s + " ; 3 ; 1 ; \"\""), count + " The page count given was 1.");
    EXPECT_EQ(ins("1 ; " + s + " ; 2 ; 2 ; \"\""), count + " The page count given was 2.");
    EXPECT_EQ(ins("1 ; " + s + " ; 0 ; -1 ; \"\""), count + " The page count given was -1.");
    const std::string missing = ins("1 ; " + lit(box.root() / "none.pdf") + " ; 1 ; 1 ; \"\"");
    EXPECT_EQ(missing.rfind("Error inserting page(s):  Failed to open source document. ", 0), 0u) << missing;
    EXPECT_EQ(fm("Torv_SavePDF"), "0");
    EXPECT_EQ(fm("Torv_GetNumPages"), "5");
}

}  // namespace
