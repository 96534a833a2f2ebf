// Page edits mixed with field and document information changes, end to end
// through filemaker-host and acrobat-host on real files: whatever the order,
// every change made since the open is in the file the save writes, and page
// counts change at the save.
#include "Harness.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>

#include <gtest/gtest.h>

using namespace e2e;

namespace {

// A field's value as libqpdf reads it from the file.
std::string fieldIn(const fs::path& pdf, const std::string& name) {
    QPDF q;
    q.processFile(pdf.string().c_str());
    QPDFAcroFormDocumentHelper forms(q);
    for (auto& f : forms.getFormFields())
        if (f.getFullyQualifiedName() == name) return f.getValueAsString();
    return "<no field>";
}

std::string infoOf(const fs::path& pdf, const std::string& key) {
    QPDF q;
    q.processFile(pdf.string().c_str());
    QPDFObjectHandle v = q.getTrailer().getKey("/Info").getKey("/" + key);
    return v.isString() ? v.getUTF8Value() : "";
}

std::string pageText(const fs::path& pdf, int page) {
    const std::string p = std::to_string(page);
    return run({"/usr/bin/pdftotext", "-f", p, "-l", p, pdf.string(), "-"}).out;
}

class PageEdits : public ::testing::Test {
protected:
    Sandbox box;
    FmSession fm{box};
    void open(const fs::path& pdf) { ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError(); }
    void ok(const std::string& calc) { ASSERT_EQ(fm(calc), "0") << calc << ": " << fm.lastError(); }
    void TearDown() override { fm("Torv_ClosePDF"); }
};

TEST_F(PageEdits, InfoThenAppendThenFieldThenSave) {
    const fs::path doc = box.copy(fixture("AcroFormsBasicFields.pdf"), "doc.pdf");  // one page, XMP packet
    const fs::path appendix = box.copy(example("appendix.pdf"));                    // two pages
    open(doc);
    ok("Torv_SetPDFInfo ( \"Title\" ; \"Neuer Titel – 東京\" )");
    ok("Torv_AppendPDF ( " + lit(appendix) + " )");
    ok("Torv_SetPDFFieldValue ( \"TextField\" ; \"filled after the append\" )");
    EXPECT_EQ(fm("Torv_GetNumPages"), "1");
    ok("Torv_SavePDF");
    EXPECT_EQ(fm("Torv_GetNumPages"), "3");

    EXPECT_EQ(pagesOf(doc), 3);
    EXPECT_NE(pageText(doc, 2).find("Appendix, page 1"), std::string::npos);
    EXPECT_EQ(infoOf(doc, "Title"), "Neuer Titel – 東京");
    const auto meta = run({"/usr/bin/pdfinfo", "-meta", doc.string()}, {{"LC_ALL", "C.UTF-8"}});
    EXPECT_NE(meta.out.find("Neuer Titel – 東京"), std::string::npos) << meta.out;
    EXPECT_EQ(fieldIn(doc, "TextField"), "filled after the append");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"TextField\" )"), "filled after the append");
    EXPECT_EQ(run({"/usr/bin/qpdf", "--check", doc.string()}).status, 0);
}

TEST_F(PageEdits, DeleteFieldInsertInfoThenSaveAsThenSave) {
    // A six-page form: the one-page form, then five other pages.
    const fs::path doc = box.copy(example("form.pdf"), "doc.pdf");
    const fs::path five = box.copy(fixture("hello_world_rotated.pdf"));
    const fs::path appendix = box.copy(example("appendix.pdf"));
    open(doc);
    ok("Torv_AppendPDF ( " + lit(five) + " )");
    ok("Torv_SavePDF");
    ASSERT_EQ(pagesOf(doc), 6);

    ok("Torv_DeletePages ( 3 ; 5 )");
    ok("Torv_SetPDFFieldValue ( \"applicant.name\" ; \"Ann Example\" )");
    ok("Torv_InsertPages ( 1 ; " + lit(appendix) + " ; 2 ; 1 ; \"0\" )");
    ok("Torv_SetPDFInfo ( \"Subject\" ; \"Membership\" )");
    EXPECT_EQ(fm("Torv_GetNumPages"), "6");

    const fs::path copy = box.root() / "copy.pdf";
    ok("Torv_SaveAsPDF ( " + lit(copy) + " )");
    EXPECT_EQ(pagesOf(copy), 4);
    EXPECT_NE(pageText(copy, 2).find("Appendix, page 2"), std::string::npos);
    EXPECT_EQ(fieldIn(copy, "applicant.name"), "Ann Example");
    EXPECT_EQ(infoOf(copy, "Subject"), "Membership");
    // The working document and its file are as they were; the edits wait for the save.
    EXPECT_EQ(fm("Torv_GetNumPages"), "6");
    EXPECT_EQ(pagesOf(doc), 6);
    EXPECT_EQ(fieldIn(doc, "applicant.name"), "");

    ok("Torv_SavePDF");
    EXPECT_EQ(fm("Torv_GetNumPages"), "4");
    EXPECT_EQ(pagesOf(doc), 4);
    EXPECT_NE(pageText(doc, 2).find("Appendix, page 2"), std::string::npos);
    EXPECT_NE(pageText(doc, 1).find("Quillmark Membership Form"), std::string::npos);
    EXPECT_EQ(fieldIn(doc, "applicant.name"), "Ann Example");
    EXPECT_EQ(infoOf(doc, "Subject"), "Membership");
    EXPECT_EQ(infoOf(doc, "Title"), "Membership Form");
    EXPECT_EQ(run({"/usr/bin/qpdf", "--check", doc.string()}).status, 0);
}

// Page numbers are read at full width: a number past 32 bits is refused and named, never cut to
// its low bits (4294967298 is not page 2), and the document keeps every page.
TEST_F(PageEdits, PageNumbersPast32BitsAreRefusedAndNamed) {
    const fs::path doc = box.copy(fixture("hello_world_rotated.pdf"), "doc.pdf");  // five pages
    const fs::path appendix = box.copy(example("appendix.pdf"));
    open(doc);
    const struct {
        std::string calc, words;
    } rows[] = {
        {"Torv_DeletePages ( 2 ; 4294967298 )",
         "Last page to be deleted is out of range. The page number given was 4294967298."},
        {"Torv_DeletePages ( 1 ; 2147483648 )",
         "Last page to be deleted is out of range. The page number given was 2147483648."},
        {"Torv_InsertPages ( 4294967297 ; " + lit(appendix) + " ; 1 ; 1 ; 0 )",
         "Desired position to insert page(s) after is out of range in the destination document. The page number given "
         "was 4294967297."},
        {"Torv_GetTextFromPage ( 4294967297 )", "Page 4294967297 is not in the document."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(fm(row.calc), "!!ERROR!!") << row.calc;
        const std::string why = fm.lastError();
        EXPECT_NE(why.find(row.words), std::string::npos) << row.calc << ": " << why;
    }
    ok("Torv_SavePDF");
    EXPECT_EQ(fm("Torv_GetNumPages"), "5");
    EXPECT_EQ(pagesOf(doc), 5);
}

}  // namespace
