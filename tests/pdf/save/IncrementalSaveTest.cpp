// Saving signed documents: every save appends an update, so earlier signatures keep covering the
// bytes they signed; locks and no-changes certification refuse edits. Signs its forms with
// pdfsig and a throw-away NSS database made with certutil.
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "IncrementalWriter.h"
#include "quill/pdf/Info.h"
#include "quill/pdf/Save.h"
#include "quill/pdf/Signatures.h"
#include "Signing.h"
#include "quill/pdf/Text.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <sys/stat.h>

using namespace quill::pdf;
using namespace testutil;

namespace {

int count(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (auto p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// One NSS database with a self-signed signing certificate for the whole run.
class Signer : public quill::testsupport::Signer {
public:
    static Signer& shared() {
        static Signer s;
        return s;
    }
    bool ok() const { return ok_; }

private:
    Signer() {
        db = dir_.path;
        nick = "quill";
        ok_ = quill::testsupport::makeSigningDatabase(
                  db, {"quill", "CN=Quillmark Test", 120, "quillmark signing test noise 0123456789abcdef"})
                  .empty();
    }
    TempDir dir_;
    bool ok_ = false;
};

// Every signature pdfsig lists is valid; returns how many it found.
int validSignatures(const std::string& report) {
    return count(report, "Signature Validation: Signature is Valid.");
}

std::string fieldValue(const fs::path& p, const std::u16string& name) {
    auto doc = Document::open(p.string(), false);
    auto forms = FormFields::forDocument(doc);
    int i = forms->find(name);
    if (i < 0) return "<missing>";
    auto v = forms->value(static_cast<std::size_t>(i));
    return v.isString() ? v.getUTF8Value() : "<not text>";
}

std::string pdfinfoTitle(const fs::path& p) {
    std::string out;
    run({"pdfinfo", p.string()}, &out);
    auto at = out.find("Title:");
    if (at == std::string::npos) return "";
    auto end = out.find('\n', at);
    std::string line = out.substr(at + 6, end - at - 6);
    return line.substr(line.find_first_not_of(' '));
}

void setText(const std::shared_ptr<Document>& doc, const std::u16string& name, const std::string& value) {
    auto forms = FormFields::forDocument(doc);
    int i = forms->find(name);
    ASSERT_GE(i, 0);
    forms->setValue(static_cast<std::size_t>(i), QPDFObjectHandle::newUnicodeString(value));
    doc->markChanged();
}

class SignedSave : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Signer::shared().ok()) GTEST_SKIP() << "certutil could not make a signing certificate";
    }
    fs::path signedCopy(const std::string& fixture) {
        fs::path in = dir / fixture;
        fs::copy_file(fixtures() / fixture, in);
        fs::path out = dir / ("signed-" + fixture);
        EXPECT_TRUE(Signer::shared().addSignature(in, out));
        return out;
    }
    TempDir dir;
};

TEST_F(SignedSave, FillAndTitleAppendToTheSignedBytesAndEverySignatureStaysValid) {
    const fs::path file = signedCopy("sample_form.pdf");
    const std::string signedBytes = slurp(file);
    ASSERT_EQ(validSignatures(Signer::shared().verify(file)), 1);

    auto doc = Document::open(file.string(), false);
    setText(doc, u"Name_Last", "Dupont");
    setInfo(*doc, u"Title", u"Contrat signé");
    save(*doc, kSaveFull | kSaveCollectGarbage, file.string());

    const std::string saved = slurp(file);
    EXPECT_TRUE(startsWith(saved, signedBytes)) << "the signed bytes must stay as they were";
    EXPECT_EQ(count(saved, "startxref"), count(signedBytes, "startxref") + 1);
    std::string report = Signer::shared().verify(file);
    EXPECT_EQ(validSignatures(report), 1) << report;
    EXPECT_NE(report.find("Not total document signed"), std::string::npos) << report;
    EXPECT_TRUE(qpdfCheck(file));
    EXPECT_EQ(fieldValue(file, u"Name_Last"), "Dupont");
    EXPECT_EQ(pdfinfoTitle(file), "Contrat signé");

    // A second save appends a second update after the first, and the document stays usable.
    const std::string first = saved;
    setText(doc, u"Name_First", "Jeanne");
    save(*doc, kSaveFull | kSaveCollectGarbage, file.string());
    const std::string second = slurp(file);
    EXPECT_TRUE(startsWith(second, first));
    EXPECT_EQ(count(second, "startxref"), count(first, "startxref") + 1);
    // A fill changes the field and its widget's appearance, nothing else.
    // (The file ends with a cross-reference stream: the update's own is one more object.)
    const std::string update = second.substr(first.size());
    EXPECT_EQ(count(update, " obj\n") - count(update, "/Type /XRef"), 2) << update.substr(0, 2000);
    EXPECT_EQ(validSignatures(Signer::shared().verify(file)), 1);
    EXPECT_TRUE(qpdfCheck(file));
    EXPECT_EQ(fieldValue(file, u"Name_First"), "Jeanne");
    EXPECT_EQ(fieldValue(file, u"Name_Last"), "Dupont");

    // Nothing changed since: a save leaves the file byte for byte as it is.
    save(*doc, kSaveFull | kSaveCollectGarbage, file.string());
    EXPECT_EQ(slurp(file), second);
}

TEST_F(SignedSave, SaveAsWritesTheUpdateToTheCopyAndTheNextSaveStillCarriesIt) {
    const fs::path file = signedCopy("sample_form.pdf");
    const std::string signedBytes = slurp(file);
    auto doc = Document::open(file.string(), false);
    setText(doc, u"Name_Last", "Martin");
    const fs::path copy = dir / "copy.pdf";
    save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, copy.string());

    EXPECT_EQ(slurp(file), signedBytes) << "save as leaves the document's own file alone";
    EXPECT_TRUE(startsWith(slurp(copy), signedBytes));
    EXPECT_EQ(validSignatures(Signer::shared().verify(copy)), 1);
    EXPECT_EQ(fieldValue(copy, u"Name_Last"), "Martin");
    EXPECT_EQ(doc->path(), file.string());

    // The copy did not become the document's file: its own save appends the same change.
    save(*doc, kSaveFull | kSaveCollectGarbage, file.string());
    EXPECT_TRUE(startsWith(slurp(file), signedBytes));
    EXPECT_EQ(fieldValue(file, u"Name_Last"), "Martin");
    EXPECT_EQ(validSignatures(Signer::shared().verify(file)), 1);
}

TEST_F(SignedSave, AFileEndingWithAStreamGetsAStreamUpdate) {
    const fs::path file = signedCopy("with_signature.pdf");
    const std::string signedBytes = slurp(file);
    auto doc = Document::open(file.string(), false);
    setInfo(*doc, u"Subject", u"stream update");
    save(*doc, kSaveFull | kSaveCollectGarbage, file.string());

    const std::string saved = slurp(file);
    ASSERT_TRUE(startsWith(saved, signedBytes));
    const std::string update = saved.substr(signedBytes.size());
    EXPECT_NE(update.find("/Type /XRef"), std::string::npos);
    EXPECT_EQ(update.find("\ntrailer"), std::string::npos);
    EXPECT_EQ(validSignatures(Signer::shared().verify(file)), 1);
    EXPECT_TRUE(qpdfCheck(file));
    auto again = Document::open(file.string(), false);
    EXPECT_EQ(getInfo(*again, u"Subject"), u"stream update");

    // qpdf numbers a new object past the objects it knows, which is the number the update's
    // cross-reference stream took: the second update must still carry the new object.
    auto added = doc->qpdf().makeIndirectObject(QPDFObjectHandle::parse("<< /Quill (second update) >>"));
    doc->qpdf().getRoot().replaceKey("/QuillTest", added);
    doc->markChanged();
    save(*doc, kSaveFull | kSaveCollectGarbage, file.string());
    EXPECT_TRUE(qpdfCheck(file));
    EXPECT_EQ(validSignatures(Signer::shared().verify(file)), 1);
    auto third = Document::open(file.string(), false);
    auto got = third->qpdf().getRoot().getKey("/QuillTest");
    ASSERT_TRUE(got.isDictionary());
    EXPECT_EQ(got.getKey("/Quill").getUTF8Value(), "second update");
}

TEST_F(SignedSave, OwnerPasswordFilesKeepTheirEncryption) {
    // AES-128 (a real-world file) and AES-256 (the sample form encrypted by qpdf).
    const fs::path aes256 = dir / "aes256.pdf";
    ASSERT_EQ(run({"qpdf", "--encrypt", "", "owner-secret", "256", "--", (fixtures() / "sample_form.pdf").string(),
                   aes256.string()}),
              0);
    const fs::path signed256 = dir / "signed-aes256.pdf";
    ASSERT_TRUE(Signer::shared().addSignature(aes256, signed256));
    for (auto [file, revision] : {std::pair{signedCopy("bug1815476.pdf"), "R = 4"}, std::pair{signed256, "R = 6"}}) {
        SCOPED_TRACE(file.filename().string());
        auto doc = Document::open(file.string(), false);
        auto forms = FormFields::forDocument(doc);
        int text = -1;
        for (std::size_t i = 0; i < forms->size() && text < 0; ++i)
            if (forms->effectiveKind(i) == "Tx" && forms->fields()[i].terminal) text = static_cast<int>(i);
        ASSERT_GE(text, 0);
        const std::u16string name = forms->fields()[static_cast<std::size_t>(text)].fullName;
        // Two characters: the sample form's first text field (STATE) takes at most two.
        setText(doc, name, "né");
        setInfo(*doc, u"Title", u"Encrypted title");
        save(*doc, kSaveFull | kSaveCollectGarbage, file.string());

        EXPECT_EQ(validSignatures(Signer::shared().verify(file)), 1);
        EXPECT_TRUE(qpdfCheck(file));
        std::string out;
        run({"qpdf", "--show-encryption", file.string()}, &out);
        EXPECT_NE(out.find(revision), std::string::npos) << out;
        // The strings were written encrypted: a reader that decrypts finds them, the raw bytes do not.
        EXPECT_EQ(slurp(file).find("Encrypted title"), std::string::npos);
        EXPECT_EQ(pdfinfoTitle(file), "Encrypted title");
        EXPECT_EQ(fieldValue(file, name), "né");
    }
}

TEST(IncrementalSave, UnsignedDocumentsKeepTheFullSaveAndUsageRightsAppend) {
    TempDir dir;
    const fs::path plain = dir / "plain.pdf";
    makePdf(plain, 2, "Plain");
    auto doc = Document::open(plain.string(), false);
    EXPECT_FALSE(needsIncrementalSave(*doc));
    setInfo(*doc, u"Title", u"Rewritten");
    save(*doc, kSaveFull | kSaveCollectGarbage, plain.string());
    EXPECT_EQ(count(slurp(plain), "startxref"), 1);
    EXPECT_EQ(pdfinfoTitle(plain), "Rewritten");

    // The sample form carries usage rights (a /Perms dictionary): its saves append.
    const fs::path form = dir / "form.pdf";
    fs::copy_file(fixtures() / "sample_form.pdf", form);
    const std::string original = slurp(form);
    auto rights = Document::open(form.string(), false);
    EXPECT_TRUE(needsIncrementalSave(*rights));
    setText(rights, u"Name_Last", "Rights");
    save(*rights, kSaveFull | kSaveCollectGarbage, form.string());
    EXPECT_TRUE(startsWith(slurp(form), original));
    EXPECT_TRUE(qpdfCheck(form));
    EXPECT_EQ(fieldValue(form, u"Name_Last"), "Rights");
}

TEST(IncrementalSave, EveryFixtureTakesAnUpdateThatReadersAccept) {
    TempDir dir;
    int updated = 0;
    for (auto& entry : fs::directory_iterator(fixtures())) {
        if (entry.path().extension() != ".pdf") continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::shared_ptr<Document> doc;
        try {
            doc = Document::open(entry.path().string(), false);
        } catch (const Error&) {
            continue;  // needs a password or repair: not ours to update
        }
        if (!canUpdateIncrementally(*doc) || signatureFacts(doc->qpdf()).certification == 1) continue;
        setInfo(*doc, u"Title", u"Updated title");
        // The first text field too, when the file has one.
        auto forms = FormFields::forDocument(doc);
        std::u16string filled;
        for (std::size_t i = 0; i < forms->size() && filled.empty(); ++i) {
            const auto& f = forms->fields()[i];
            if (forms->effectiveKind(i) != "Tx" || !f.terminal || f.fullName.empty()) continue;
            try {
                forms->setValue(i, QPDFObjectHandle::newUnicodeString("Filled in"));
                filled = f.fullName;
            } catch (const Error&) {
                // a field the file does not let us set (a lock): try the next
            }
        }
        doc->markChanged();
        const fs::path out = dir / "out.pdf";
        saveIncrementally(*doc, kSaveCopy, out.string());
        const std::string original = slurp(entry.path()), saved = slurp(out);
        EXPECT_TRUE(startsWith(saved, original));
        EXPECT_TRUE(qpdfCheck(out) || !qpdfCheck(entry.path())) << "qpdf --check fails only where it failed before";
        EXPECT_EQ(pdfinfoTitle(out), "Updated title");
        EXPECT_EQ(qpdfPages(out), doc->numPages());
        if (!filled.empty()) {
            EXPECT_EQ(fieldValue(out, filled), "Filled in");
        }
        ++updated;
    }
    EXPECT_GT(updated, 25);
}

// A hybrid file: a classic table whose trailer points at a cross-reference stream that lists
// objects kept in an object stream.
std::string hybridPdf() {
    std::string b = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> off(8, 0);
    auto obj = [&](int n, const std::string& body) {
        off[static_cast<std::size_t>(n)] = b.size();
        b += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
    };
    obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    std::string content = "BT /F1 12 Tf 20 100 Td (Hybrid) Tj ET";
    obj(3,
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << /Font << /F1 5 0 R >> >> "
        "/Contents 4 0 R >>");
    obj(4, "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    // Objects 5 (font) and 6 (info) live in object stream 7.
    std::string o5 = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    std::string o6 = "<< /Title (Hybrid original) >>";
    std::string header = "5 0 6 " + std::to_string(o5.size() + 1) + " ";
    std::string objs = header + o5 + " " + o6;
    obj(7, "<< /Type /ObjStm /N 2 /First " + std::to_string(header.size()) + " /Length " + std::to_string(objs.size()) +
               " >>\nstream\n" + objs + "\nendstream");
    // The cross-reference stream (object 8) lists only the compressed objects.
    std::string data;
    auto entry = [&](int type, int f2, int f3) {
        data += static_cast<char>(type);
        data += static_cast<char>((f2 >> 8) & 0xFF);
        data += static_cast<char>(f2 & 0xFF);
        data += static_cast<char>(f3);
    };
    entry(2, 7, 0);
    entry(2, 7, 1);
    std::size_t xrefStm = b.size();
    b += "8 0 obj\n<< /Type /XRef /Size 9 /W [1 2 1] /Index [5 2] /Length " + std::to_string(data.size()) +
         " >>\nstream\n" + data + "\nendstream\nendobj\n";
    std::size_t xref = b.size();
    b += "xref\n0 5\n0000000000 65535 f \n";
    for (int n = 1; n <= 4; ++n) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off[static_cast<std::size_t>(n)]);
        b += line;
    }
    b += "7 1\n";
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off[7]);
    b += line;
    b += "trailer\n<< /Size 9 /Root 1 0 R /Info 6 0 R /XRefStm " + std::to_string(xrefStm) + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
    return b;
}

TEST(IncrementalSave, AHybridFileRoundTripsWithATableUpdate) {
    TempDir dir;
    const fs::path file = dir / "hybrid.pdf";
    const std::string original = hybridPdf();
    std::ofstream(file, std::ios::binary) << original;
    ASSERT_TRUE(qpdfCheck(file));

    auto doc = Document::open(file.string(), false);
    ASSERT_EQ(getInfo(*doc, u"Title"), u"Hybrid original");
    setInfo(*doc, u"Title", u"Hybrid updated");
    const fs::path out = dir / "out.pdf";
    saveIncrementally(*doc, kSaveCopy, out.string());

    const std::string saved = slurp(out);
    ASSERT_TRUE(startsWith(saved, original));
    const std::string update = saved.substr(original.size());
    EXPECT_NE(update.find("\nxref\n"), std::string::npos) << update;
    // The info dictionary left its object stream: it is written as a plain object.
    EXPECT_NE(update.find("6 0 obj"), std::string::npos);
    EXPECT_TRUE(qpdfCheck(out));
    EXPECT_EQ(pdfinfoTitle(out), "Hybrid updated");
    auto pages = pageTexts(out);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], "Hybrid");
}

// Two text fields whose widgets share one appearance stream (writers that merge identical
// streams make such files) and a third with a stream of its own, in a file of 1,100 objects.
std::shared_ptr<Document> sharedAppearanceForm(const fs::path& file) {
    QPDF q;
    q.emptyPDF();
    auto font = q.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
    auto page = q.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 300 300] >>"));
    q.getRoot().getKey("/Pages").replaceKey("/Kids", QPDFObjectHandle::newArray({page}));
    q.getRoot().getKey("/Pages").replaceKey("/Count", QPDFObjectHandle::newInteger(1));
    auto appearance = [&] {
        auto s = q.newStream("/Tx BMC\nEMC\n");
        s.getDict().replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 100 20]"));
        s.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
        return s;
    };
    auto shared = appearance();
    auto field = [&](const std::string& name, int y, QPDFObjectHandle ap) {
        auto f = q.makeIndirectObject(
            QPDFObjectHandle::parse("<< /FT /Tx /T (" + name + ") /Subtype /Widget /Rect [10 " + std::to_string(y) +
                                    " 110 " + std::to_string(y + 20) + "] /DA (/Helv 10 Tf 0 g) >>"));
        f.replaceKey("/P", page);
        auto apDict = QPDFObjectHandle::newDictionary();
        apDict.replaceKey("/N", ap);
        f.replaceKey("/AP", apDict);
        return f;
    };
    auto a = field("a", 10, shared), b = field("b", 40, shared), c = field("c", 70, appearance());
    page.replaceKey("/Annots", QPDFObjectHandle::newArray({a, b, c}));
    auto acroForm = QPDFObjectHandle::parse("<< /DA (/Helv 10 Tf 0 g) >>");
    acroForm.replaceKey("/Fields", QPDFObjectHandle::newArray({a, b, c}));
    auto dr = QPDFObjectHandle::newDictionary();
    auto fonts = QPDFObjectHandle::newDictionary();
    fonts.replaceKey("/Helv", font);
    dr.replaceKey("/Font", fonts);
    acroForm.replaceKey("/DR", dr);
    q.getRoot().replaceKey("/AcroForm", q.makeIndirectObject(acroForm));
    // Enough objects that a redraw in place pays (small files always get a new stream).
    auto pad = QPDFObjectHandle::newArray();
    for (int i = 0; i < 1100; ++i) pad.appendItem(q.makeIndirectObject(QPDFObjectHandle::newInteger(i)));
    q.getRoot().replaceKey("/QuillPad", pad);
    QPDFWriter w(q, file.c_str());
    w.write();
    return Document::open(file.string(), false);
}

QPDFObjGen normalOf(const std::shared_ptr<Document>& doc, const std::u16string& name) {
    auto forms = FormFields::forDocument(doc);
    return forms->fields()[static_cast<std::size_t>(forms->find(name))].dict.getKey("/AP").getKey("/N").getObjGen();
}

TEST(IncrementalSave, AFieldsOwnAppearanceIsRedrawnInPlaceAndASharedOneIsLeftToTheOthers) {
    TempDir dir;
    auto doc = sharedAppearanceForm(dir / "shared.pdf");
    const QPDFObjGen shared = normalOf(doc, u"a");
    ASSERT_EQ(normalOf(doc, u"b"), shared);
    const QPDFObjGen own = normalOf(doc, u"c");

    // Sets only mark their fields; the appearances are drawn together before anything is written.
    setText(doc, u"c", "Own");
    setText(doc, u"a", "Alpha");
    flushAppearances(*doc);
    EXPECT_EQ(normalOf(doc, u"c"), own) << "an appearance no other widget uses is redrawn where it is";
    EXPECT_NE(normalOf(doc, u"a"), shared) << "a shared appearance is not redrawn for one of its users";
    EXPECT_EQ(normalOf(doc, u"b"), shared);

    const fs::path out = dir / "out.pdf";
    saveIncrementally(*doc, kSaveCopy, out.string());
    EXPECT_TRUE(qpdfCheck(out));
    auto saved = Document::open(out.string(), false);
    for (auto [name, text] : {std::pair{u"a", "(Alpha)"}, std::pair{u"c", "(Own)"}}) {
        auto forms = FormFields::forDocument(saved);
        auto n = forms->fields()[static_cast<std::size_t>(forms->find(name))].dict.getKey("/AP").getKey("/N");
        auto data = n.getStreamData(qpdf_dl_all);
        std::string drawn(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        EXPECT_NE(drawn.find(text), std::string::npos) << drawn;
    }
    EXPECT_EQ(fieldValue(out, u"a"), "Alpha");
    EXPECT_EQ(fieldValue(out, u"b"), "<not text>");
    EXPECT_EQ(fieldValue(out, u"c"), "Own");
}

std::string words(const std::shared_ptr<Document>& doc, int page) {
    std::string out;
    for (auto& w : pageWords(doc, page)) out += utf16ToUtf8(w.text) + " ";
    return out;
}

TEST(IncrementalText, PageTextAfterAnEditSeesTheEditInPlainAndEncryptedFiles) {
    TempDir dir;
    const fs::path plain = dir / "plain.pdf";
    makePdf(plain, 3, "Page");
    auto doc = Document::open(plain.string(), false);
    EXPECT_EQ(words(doc, 1), "Page 2 ");
    auto pages = doc->qpdf().getAllPages();
    pages[1]
        .getKey("/Contents")
        .replaceStreamData("BT /F1 12 Tf 20 100 Td (Edited here) Tj ET", QPDFObjectHandle::newNull(),
                           QPDFObjectHandle::newNull());
    doc->markChanged();
    EXPECT_EQ(words(doc, 1), "Edited here ");
    EXPECT_EQ(words(doc, 2), "Page 3 ");

    // An RC4-encrypted file: the appended stream must be encrypted for the reader to see it.
    const fs::path rc4 = dir / "orientation.pdf";
    fs::copy_file(fixtures() / "orientation.pdf", rc4);
    auto enc = Document::open(rc4.string(), false);
    const std::string first = words(enc, 0);
    ASSERT_FALSE(first.empty());
    ASSERT_NE(words(enc, 1), first);
    auto encPages = enc->qpdf().getAllPages();
    auto data = encPages[0].getKey("/Contents").getStreamData(qpdf_dl_all);
    QPDFObjectHandle fresh = QPDFObjectHandle::newStream(&enc->qpdf(), data);
    encPages[1].replaceKey("/Contents", fresh);
    encPages[1].replaceKey("/Resources", encPages[0].getKey("/Resources"));
    encPages[1].replaceKey("/Rotate", encPages[0].getKey("/Rotate"));
    enc->markChanged();
    EXPECT_EQ(words(enc, 1), first);
    // The same update written out: readers other than the extractor agree.
    const fs::path out = dir / "rc4-updated.pdf";
    saveIncrementally(*enc, kSaveCopy, out.string());
    EXPECT_TRUE(qpdfCheck(out));
    auto before = pageTexts(rc4), after = pageTexts(out);
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[1], before[0]);
    EXPECT_EQ(after[2], before[2]);
}

}  // namespace

namespace {

int updatesIn(const std::string& bytes) {
    return count(bytes, "%%EOF");
}

}  // namespace

// Taking away the page that holds the signature's widget does not make the document unsigned:
// the save still appends, and the signature stays in the form, so readers still verify it.
TEST_F(SignedSave, DeletingTheSignedPageStillAppendsAndKeepsTheSignedRevision) {
    const fs::path file = signedCopy("pdkids.pdf");
    const std::string signedBytes = slurp(file);
    ASSERT_EQ(validSignatures(Signer::shared().verify(file)), 1);

    auto doc = Document::open(file.string(), false);
    const int pages = doc->numPages();
    doc->deletePages(0, 0);
    setInfo(*doc, u"Title", u"without its first page");
    save(*doc, kSaveFull | kSaveCollectGarbage, file.string());

    const std::string saved = slurp(file);
    EXPECT_TRUE(startsWith(saved, signedBytes)) << "the signed revision was rewritten";
    EXPECT_EQ(updatesIn(saved), updatesIn(signedBytes) + 1);
    const std::string report = Signer::shared().verify(file);
    EXPECT_EQ(validSignatures(report), 1) << report;
    EXPECT_NE(report.find("Not total document signed"), std::string::npos) << report;
    EXPECT_TRUE(qpdfCheck(file));
    EXPECT_EQ(pdfinfoTitle(file), "without its first page");
    EXPECT_EQ(Document::open(file.string(), false)->numPages(), pages - 1);
}

// The appending save writes its file the way every save does: through a link to the file it
// names, keeping the file's permission bits, and never onto something that is no plain file.
TEST_F(SignedSave, AnAppendingSaveFollowsLinksKeepsTheModeAndRefusesNonFiles) {
    const fs::path file = signedCopy("sample_form.pdf");
    const std::string signedBytes = slurp(file);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const fs::path link = dir.path / "link.pdf";
    fs::create_symlink(file, link);

    auto doc = Document::open(link.string(), false);
    setInfo(*doc, u"Title", u"through a link");
    save(*doc, kSaveFull | kSaveCollectGarbage, link.string());
    EXPECT_TRUE(fs::is_symlink(link)) << "the link was replaced by a file";
    EXPECT_TRUE(startsWith(slurp(file), signedBytes));
    EXPECT_EQ(pdfinfoTitle(file), "through a link");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    const fs::path fifo = dir.path / "fifo.pdf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int code = 0;
    try {
        save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, fifo.string());
    } catch (const Error& e) {
        code = e.code();
    }
    EXPECT_NE(code, 0) << "a save onto a FIFO was answered as success";
    EXPECT_TRUE(fs::is_fifo(fifo));
}

// Objects that are a plain number or string on their own (a page's rotation, a stream length
// kept indirect) are written as their value in an update, not as a reference to themselves.
TEST_F(SignedSave, IndirectNumbersAndStringsOfInsertedPagesKeepTheirValues) {
    const fs::path file = signedCopy("sample_form.pdf");
    const fs::path source = dir.path / "rotated.pdf";
    {
        QPDF q;
        q.emptyPDF();
        QPDFObjectHandle page = q.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Page /MediaBox [0 0 200 200] /Resources << >> /Rotate 90 /Title (x) >>"));
        page.replaceKey("/Rotate", q.makeIndirectObject(QPDFObjectHandle::newInteger(90)));
        page.replaceKey("/PieceLabel", q.makeIndirectObject(QPDFObjectHandle::newUnicodeString("indirect")));
        q.addPage(page, false);
        QPDFWriter w(q, source.c_str());
        w.write();
    }
    auto doc = Document::open(file.string(), false);
    auto src = Document::open(source.string(), false);
    doc->insertPages(0, *src, 0, 1, 0);
    save(*doc, kSaveFull | kSaveCollectGarbage, file.string());

    EXPECT_EQ(validSignatures(Signer::shared().verify(file)), 1);
    EXPECT_EQ(run({"qpdf", "--check", file.string()}), 0) << "qpdf found damage in the update";
    QPDF back;
    back.processFile(file.c_str());
    QPDFObjectHandle page = back.getAllPages().at(1);
    QPDFObjectHandle rotate = page.getKey("/Rotate");
    ASSERT_TRUE(rotate.isInteger()) << rotate.unparseResolved();
    EXPECT_EQ(rotate.getIntValue(), 90);
    EXPECT_EQ(page.getKey("/PieceLabel").getUTF8Value(), "indirect");
}

// pdfsig signs ukrainian.pdf (whose field list is an indirect array) with a signature field the
// form's list does not reach; the file is signed all the same, and its saves append.
TEST_F(SignedSave, ASignatureOutsideTheFieldListStillMakesSavesAppend) {
    const fs::path file = signedCopy("ukrainian.pdf");
    const std::string signedBytes = slurp(file);
    ASSERT_EQ(validSignatures(Signer::shared().verify(file)), 1);

    auto doc = Document::open(file.string(), false);
    setInfo(*doc, u"Title", u"Заголовок");
    save(*doc, kSaveFull | kSaveCollectGarbage, file.string());
    EXPECT_TRUE(startsWith(slurp(file), signedBytes)) << "the signed bytes were rewritten";
    EXPECT_EQ(validSignatures(Signer::shared().verify(file)), 1);
    EXPECT_EQ(pdfinfoTitle(file), "Заголовок");
}

// Pages taken from a signed document bring its signature field along, without the signature: it
// signed another file's bytes, and readers would report it here as broken.
TEST_F(SignedSave, PagesInsertedFromASignedFileBringAnEmptySignatureField) {
    const fs::path signedKids = signedCopy("pdkids.pdf");
    const fs::path file = dir.path / "plain.pdf";
    makePdf(file, 3, "Plain");
    {
        auto doc = Document::open(file.string(), false);
        auto from = Document::open(signedKids.string(), false);
        doc->insertPages(0, *from, 0, 2, 0);
        save(*doc, kSaveFull | kSaveCollectGarbage, file.string());
    }
    const std::string report = Signer::shared().verify(file);
    EXPECT_EQ(report.find("Digest Mismatch"), std::string::npos) << report;
    EXPECT_EQ(validSignatures(report), 0) << report;
    EXPECT_EQ(count(slurp(file), "%%EOF"), 1) << "an unsigned document keeps the full save";
    QPDF q;
    q.processFile(file.string().c_str());
    QPDFObjectHandle fields = q.getRoot().getKey("/AcroForm").getKey("/Fields");
    ASSERT_TRUE(fields.isArray());
    int signatureFields = 0;
    for (auto& f : fields.aitems()) {
        if (!f.getKey("/FT").isNameAndEquals("/Sig")) continue;
        ++signatureFields;
        EXPECT_FALSE(f.hasKey("/V")) << f.unparseResolved();
    }
    EXPECT_EQ(signatureFields, 1);
    EXPECT_EQ(validSignatures(Signer::shared().verify(signedKids)), 1) << "the source keeps its signature";
}

// Whether a file was signed when read is worked out at the first save, from the bytes and the
// field tree as read: a signature value with no /ByteRange in the plain bytes (here none at all,
// or kept in an object stream) still makes saves append after its field left the field list; an
// empty signature field does not.
TEST(IncrementalSave, ASignatureValueFoundOnlyByTheFieldWalkStillMakesSavesAppendAfterItsFieldIsGone) {
    struct Case {
        const char* name;
        bool withValue;
        bool objectStreams;
        bool appends;
    };
    for (const Case& c : {Case{"value", true, false, true}, Case{"value-objstm", true, true, true},
                          Case{"empty-field", false, false, false}}) {
        TempDir dir;
        const fs::path file = dir / (std::string(c.name) + ".pdf");
        {
            makePdf(dir / "plain.pdf", 1, "Sig");
            QPDF q;
            q.processFile((dir / "plain.pdf").c_str());
            auto field = q.makeIndirectObject(QPDFObjectHandle::parse("<< /FT /Sig /T (Signer) >>"));
            if (c.withValue)
                field.replaceKey("/V", q.makeIndirectObject(QPDFObjectHandle::parse(
                                           "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached >>")));
            auto form = QPDFObjectHandle::parse("<< /Fields [] >>");
            form.getKey("/Fields").appendItem(field);
            q.getRoot().replaceKey("/AcroForm", form);
            QPDFWriter w(q, file.c_str());
            if (c.objectStreams) w.setObjectStreamMode(qpdf_o_generate);
            w.write();
        }
        const std::string original = slurp(file);
        auto doc = Document::open(file.string(), false);
        doc->qpdf().getRoot().getKey("/AcroForm").replaceKey("/Fields", QPDFObjectHandle::newArray());
        setInfo(*doc, u"Title", u"Edited");
        doc->markChanged();
        save(*doc, kSaveFull | kSaveCollectGarbage, file.string());
        const std::string saved = slurp(file);
        EXPECT_EQ(startsWith(saved, original), c.appends) << c.name;
        EXPECT_EQ(count(saved, "startxref") > 1, c.appends) << c.name;
        EXPECT_EQ(pdfinfoTitle(file), "Edited") << c.name;
    }
}
