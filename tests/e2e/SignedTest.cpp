// Signed documents end to end: filled and saved through filemaker-host and a real acrobat-host,
// every signature still valid for pdfsig afterwards; a field a signature locks is refused.
#include "Slurp.h"
#include "Harness.h"
#include "Signing.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <fstream>
#include <sstream>

using namespace e2e;

namespace {

using quill::testsupport::slurp;

int count(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (auto p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

class Signed : public ::testing::Test {
protected:
    Sandbox box;
    FmSession fm{box};
    fs::path nss() {
        const fs::path db = box.root() / "nss";
        if (fs::exists(db / "ready")) return db;
        EXPECT_EQ(quill::testsupport::makeSigningDatabase(
                      db, {"quill", "CN=Quillmark E2E", 120, "quillmark end-to-end signing noise 0123456789"}),
                  "");
        std::ofstream(db / "ready") << "";
        return db;
    }
    quill::testsupport::Signer signer() { return {nss(), "quill"}; }
    std::string verify(const fs::path& pdf) { return signer().verify(pdf); }
    void TearDown() override { fm("Torv_ClosePDF"); }
};

TEST_F(Signed, SetTitleAndSaveKeepTheSignatureValid) {
    // with_signature.pdf ends with a cross-reference stream; pdfsig signs it with an update.
    const fs::path pdf = box.root() / "signed.pdf";
    ASSERT_TRUE(signer().addSignature(fixture("with_signature.pdf"), pdf));
    const std::string before = slurp(pdf);
    ASSERT_EQ(count(verify(pdf), "Signature is Valid."), 1);

    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Signed and titled\" )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"Title\" )"), "Signed and titled");

    const std::string after = slurp(pdf);
    EXPECT_EQ(after.compare(0, before.size(), before), 0) << "the signed bytes were rewritten";
    const std::string report = verify(pdf);
    EXPECT_EQ(count(report, "Signature is Valid."), 1) << report;
    EXPECT_NE(report.find("Not total document signed"), std::string::npos) << report;
    EXPECT_NE(run({"/usr/bin/pdfinfo", pdf.string()}).out.find("Signed and titled"), std::string::npos);
    EXPECT_EQ(run({"/usr/bin/qpdf", "--check", pdf.string()}).status, 0);
}

TEST_F(Signed, ACertifiedNoChangesDocumentStaysAsItWas) {
    // sample2.pdf is certified with no changes allowed (DocMDP P 1).
    const fs::path pdf = box.copy(fixture("sample2.pdf"));
    const std::string before = slurp(pdf);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError();
    const std::string title = fm("Torv_GetPDFInfo ( \"Title\" )");
    EXPECT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Changed anyway\" )"), "!!ERROR!!");
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"Title\" )"), title);
    fm("Torv_SavePDF");
    EXPECT_EQ(slurp(pdf), before);
    const std::string report = verify(pdf);
    EXPECT_EQ(count(report, "Signature is Valid."), 1) << report;
    EXPECT_NE(report.find("Total document signed"), std::string::npos) << report;
}

TEST_F(Signed, FillASignedFormSaveAsAndALockedFieldIsRefused) {
    // The sample form's empty signature field gets a lock on Name_Last, then pdfsig signs it.
    const fs::path unsignedForm = box.root() / "locked-unsigned.pdf";
    {
        QPDF q;
        q.processFile(fixture("sample_form.pdf").c_str());
        bool locked = false;
        for (auto& f : q.getRoot().getKey("/AcroForm").getKey("/Fields").aitems()) {
            if (f.getKey("/FT").isNameAndEquals("/Sig")) {
                f.replaceKey("/Lock", QPDFObjectHandle::parse("<< /Type /SigFieldLock /Action /Include /Fields "
                                                              "[(Name_Last)] >>"));
                locked = true;
            }
        }
        ASSERT_TRUE(locked);
        QPDFWriter w(q, unsignedForm.c_str());
        w.write();
    }
    const fs::path pdf = box.root() / "signed.pdf";
    ASSERT_TRUE(signer().signField(unsignedForm, pdf, "EMPLOYEE SIGNATURE"));
    const std::string signedBytes = slurp(pdf);
    ASSERT_EQ(count(verify(pdf), "Signature is Valid."), 1);

    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"Name_First\" ; \"Ingrid\" )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"Name_Last\" ; \"Forged\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1116");
    const std::string why = fm.lastError();
    // pdErrOpNotPermitted: Acrobat's fixed wording for an edit the document does not allow.
    EXPECT_EQ(why, "Undefined Error. Operation not permitted.");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"Name_Last\" )"), "Bar") << "the value the form came with";

    const fs::path copy = box.root() / "filled copy.pdf";
    ASSERT_EQ(fm("Torv_SaveAsPDF ( " + lit(copy) + " )"), "0") << fm.lastError();
    EXPECT_EQ(slurp(pdf), signedBytes) << "save as leaves the open file alone";
    const std::string filled = slurp(copy);
    EXPECT_EQ(filled.compare(0, signedBytes.size(), signedBytes), 0);
    const std::string report = verify(copy);
    EXPECT_EQ(count(report, "Signature is Valid."), 1) << report;
    EXPECT_NE(report.find("Not total document signed"), std::string::npos) << report;
    EXPECT_EQ(run({"/usr/bin/qpdf", "--check", copy.string()}).status, 0);
    auto fields = run({"/usr/bin/pdftk", copy.string(), "dump_data_fields_utf8"}).out;
    EXPECT_NE(fields.find("FieldName: Name_First\nFieldNameAlt: FIRST\nFieldFlags: 0\nFieldValue: Ingrid"),
              std::string::npos)
        << fields;
}

TEST_F(Signed, PageEditsFieldsAndInfoInAnyOrderAppendToTheSignedFile) {
    // A signed form gets a 55-page document appended and saved, then loses pages, gets pages back,
    // a field and a title, a save as, loses another page and is saved. Every save appends.
    const fs::path pdf = box.root() / "signed form.pdf";
    ASSERT_EQ(run({"/usr/bin/pdfsig", "-nssdir", "sql:" + nss().string(), "-nick", "quill", "-add-signature",
                   "-new-signature-field-name", "Approval", fixture("sample_form.pdf"), pdf.string()})
                  .status,
              0);
    const std::string signedBytes = slurp(pdf);
    const fs::path kids = fixture("pdkids.pdf");

    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_AppendPDF ( " + lit(kids) + " )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    const std::string first = slurp(pdf);
    EXPECT_EQ(first.compare(0, signedBytes.size(), signedBytes), 0);
    EXPECT_EQ(count(verify(pdf), "Signature is Valid."), 1);

    ASSERT_EQ(fm("Torv_DeletePages ( 2 ; 10 )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SetPDFFieldValue ( \"Name_First\" ; \"Ann\" )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_InsertPages ( 1 ; " + lit(kids) + " ; 1 ; 3 ; 0 )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Subject\" ; \"Mixed\" )"), "0") << fm.lastError();
    const fs::path copy = box.root() / "copy.pdf";
    ASSERT_EQ(fm("Torv_SaveAsPDF ( " + lit(copy) + " )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_DeletePages ( 2 ; 2 )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    fm("Torv_ClosePDF");

    for (const auto& [file, pages] : {std::pair{copy, 50}, std::pair{pdf, 49}}) {
        SCOPED_TRACE(file.filename().string());
        const std::string saved = slurp(file);
        EXPECT_EQ(saved.compare(0, first.size(), first), 0) << "the signed and saved bytes were rewritten";
        EXPECT_EQ(run({"/usr/bin/qpdf", "--check", file.string()}).status, 0) << "qpdf warns about the update";
        QPDF q;
        q.processFile(file.c_str());
        EXPECT_EQ(static_cast<int>(q.getAllPages().size()), pages);
        EXPECT_NE(run({"/usr/bin/pdfinfo", file.string()}).out.find("Mixed"), std::string::npos);
        EXPECT_NE(run({"/usr/bin/pdftk", file.string(), "dump_data_fields_utf8"}).out.find("FieldValue: Ann"),
                  std::string::npos);
    }
    for (const auto& file : {copy, pdf}) {
        const std::string report = verify(file);
        EXPECT_EQ(count(report, "Signature is Valid."), 1) << report;
    }
}

// Page 1 of another form inserted into signed forms of several makers: both forms bring their
// own resources (fonts of the same names), so the copy renames and rewrites the inserted page's
// appearance streams. The save appends them and every signature stays valid.
TEST_F(Signed, InsertingAPageOfAnotherFormKeepsTheSignaturesValid) {
    // A table ending, a cross-reference stream, earlier updates; sources with their own /DR fonts.
    const std::string targets[] = {"AcroFormsBasicFields.pdf", "with_signature.pdf", "issue17492.pdf"};
    const std::string sources[] = {"sample_form.pdf", "FormTestFromOo.pdf"};
    for (const auto& target : targets) {
        for (const auto& source : sources) {
            SCOPED_TRACE(target + " <- " + source);
            const fs::path pdf = box.root() / ("signed " + target);
            fs::remove(pdf);
            ASSERT_TRUE(signer().addSignature(fixture(target), pdf, "Insert check"));
            const std::string signedBytes = slurp(pdf);
            const int pages = pagesOf(pdf);
            ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError();
            ASSERT_EQ(fm("Torv_InsertPages ( 1 ; " + lit(fixture(source)) + " ; 1 ; 1 ; 0 )"), "0") << fm.lastError();
            EXPECT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
            EXPECT_EQ(fm("Torv_ClosePDF"), "0");
            const std::string saved = slurp(pdf);
            EXPECT_EQ(saved.compare(0, signedBytes.size(), signedBytes), 0);
            EXPECT_EQ(pagesOf(pdf), pages + 1);
            EXPECT_EQ(run({"/usr/bin/qpdf", "--check", pdf.string()}).status, 0);
            const std::string report = verify(pdf);
            EXPECT_EQ(count(report, "Signature is Valid."), count(report, "Signature Validation:")) << report;
            EXPECT_GE(count(report, "Signature is Valid."), 1) << report;
        }
    }
}

}  // namespace
