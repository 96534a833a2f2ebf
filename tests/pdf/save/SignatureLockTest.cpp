// Edits a signature forbids: fields its lock names, and anything in a no-changes certified document.
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "quill/pdf/Info.h"
#include "quill/pdf/Save.h"
#include "quill/pdf/Signatures.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <functional>

using namespace quill::pdf;
using namespace testutil;

namespace {

// A one-page form with text fields a, b and group.c, and a signature field whose value and
// lock are given (the signature value is only its dictionary; no cryptography is involved).
std::shared_ptr<QPDF> formWithSignature(const std::string& sigValue, const std::string& lock,
                                        const std::string& perms = "") {
    auto q = std::make_shared<QPDF>();
    q->emptyPDF();
    auto page = q->makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 200 200] >>"));
    q->getRoot().getKey("/Pages").replaceKey("/Kids", QPDFObjectHandle::newArray({page}));
    q->getRoot().getKey("/Pages").replaceKey("/Count", QPDFObjectHandle::newInteger(1));
    auto text = [&](const std::string& name) {
        return q->makeIndirectObject(QPDFObjectHandle::parse("<< /FT /Tx /T (" + name + ") /V (old) >>"));
    };
    auto c = text("c");
    auto group = q->makeIndirectObject(QPDFObjectHandle::parse("<< /T (group) >>"));
    group.replaceKey("/Kids", QPDFObjectHandle::newArray({c}));
    c.replaceKey("/Parent", group);
    std::string sig = "<< /FT /Sig /T (Sig1)";
    if (!sigValue.empty()) sig += " /V " + sigValue;
    if (!lock.empty()) sig += " /Lock " + lock;
    sig += " >>";
    auto sigField = q->makeIndirectObject(QPDFObjectHandle::parse(sig));
    auto fields = QPDFObjectHandle::newArray({text("a"), text("b"), group, sigField});
    auto acroForm = QPDFObjectHandle::newDictionary();
    acroForm.replaceKey("/Fields", fields);
    q->getRoot().replaceKey("/AcroForm", q->makeIndirectObject(acroForm));
    if (!perms.empty()) {
        auto perm = QPDFObjectHandle::parse("<< /DocMDP " + perms + " >>");
        q->getRoot().replaceKey("/Perms", perm);
    }
    return q;
}

int32_t refusal(QPDF& q, const std::u16string& field) {
    try {
        checkFieldChange(q, field);
    } catch (const Error& e) {
        return e.code();
    }
    return 0;
}

TEST(SignatureLocks, LockAndFieldMdpOfSignedFieldsProtectTheFieldsTheyName) {
    // /Lock includes a; the value's FieldMDP excludes b and group: everything else is locked too.
    auto q = formWithSignature(
        "<< /Type /Sig /Reference [<< /TransformMethod /FieldMDP /TransformParams << /Action /Exclude "
        "/Fields [(b) (group)] >> >>] >>",
        "<< /Action /Include /Fields [(a)] >>");
    SignatureFacts facts = signatureFacts(*q);
    EXPECT_TRUE(facts.signedValue);
    EXPECT_EQ(facts.locks.size(), 2u);
    EXPECT_EQ(refusal(*q, u"a"), err::kOpNotPermitted);
    EXPECT_EQ(refusal(*q, u"b"), 0);
    EXPECT_EQ(refusal(*q, u"group.c"), 0) << "a listed name covers the fields below it";
    EXPECT_EQ(refusal(*q, u"groupie"), err::kOpNotPermitted) << "a name is not a prefix of another name";

    try {
        checkFieldChange(*q, u"a");
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "The field \"a\" is locked by the signature \"Sig1\" and cannot be changed.");
    }
}

TEST(SignatureLocks, AnUnsignedFieldsLockAndOtherCertificationsLockNothing) {
    auto unsignedLock = formWithSignature("", "<< /Action /All >>");
    EXPECT_FALSE(signatureFacts(*unsignedLock).signedValue);
    EXPECT_EQ(refusal(*unsignedLock, u"a"), 0);

    // Certified with form filling allowed (P 2): fields may change.
    auto fillable = formWithSignature(
        "<< /Type /Sig /Reference [<< /TransformMethod /DocMDP /TransformParams << /P 2 >> >>] >>", "",
        "<< /Type /Sig /Reference [<< /TransformMethod /DocMDP /TransformParams << /P 2 >> >>] >>");
    EXPECT_EQ(signatureFacts(*fillable).certification, 2);
    EXPECT_EQ(refusal(*fillable, u"a"), 0);
    EXPECT_NO_THROW(checkDocumentChange(*fillable));

    auto allLocked = formWithSignature("<< /Type /Sig >>", "<< /Action /All >>");
    EXPECT_EQ(refusal(*allLocked, u"b"), err::kOpNotPermitted);
}

// Writes the form to a file and opens it as acrobat-host does.
std::shared_ptr<Document> openWritten(const std::shared_ptr<QPDF>& q, const fs::path& file) {
    QPDFWriter w(*q, file.c_str());
    w.setStaticID(true);
    w.write();
    return Document::open(file.string(), false);
}

TEST(SignatureLocks, ANoChangesCertifiedDocumentRefusesEveryEditAndWritesNothing) {
    const std::string certifying =
        "<< /Type /Sig /Reference [<< /TransformMethod /DocMDP /TransformParams << /P 1 >> >>] >>";
    auto q = formWithSignature(certifying, "", certifying);
    TempDir dir;
    const fs::path file = dir / "certified.pdf";
    auto doc = openWritten(q, file);
    const std::string before = slurp(file);
    EXPECT_TRUE(needsIncrementalSave(*doc));

    auto forms = FormFields::forDocument(doc);
    int a = forms->find(u"a");
    ASSERT_GE(a, 0);
    try {
        forms->setValue(static_cast<std::size_t>(a), QPDFObjectHandle::newUnicodeString("new"));
        FAIL() << "the field set was not refused";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), err::kOpNotPermitted);
        EXPECT_NE(std::string(e.what()).find("certified with no changes allowed"), std::string::npos);
    }
    EXPECT_EQ(forms->value(static_cast<std::size_t>(a)).getUTF8Value(), "old");
    EXPECT_THROW(setInfo(*doc, u"Title", u"x"), Error);

    // A change made below the engine's checks is caught at the save: nothing is written.
    doc->qpdf().getRoot().replaceKey("/Lang", QPDFObjectHandle::newString("fr"));
    doc->markChanged();
    try {
        save(*doc, kSaveFull | kSaveCollectGarbage, file.string());
        FAIL() << "the save was not refused";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), err::kOpNotPermitted);
    }
    EXPECT_EQ(slurp(file), before);
    const fs::path copy = dir / "copy.pdf";
    EXPECT_THROW(save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, copy.string()), Error);
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1) << "no temporary file left";
}

}  // namespace

TEST(SignatureLocks, ACertifiedDocumentKeepsItsPagesAtEveryLevel) {
    for (const char* level : {"1", "2", "3"}) {
        const std::string certifying = std::string("<< /Type /Sig /Reference [<< /TransformMethod /DocMDP ") +
                                       "/TransformParams << /P " + level + " >> >>] >>";
        auto q = formWithSignature(certifying, "", certifying);
        auto pages = q->getRoot().getKey("/Pages");
        auto second = q->makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 200 200] >>"));
        second.replaceKey("/Parent", pages);
        pages.getKey("/Kids").appendItem(second);
        pages.replaceKey("/Count", QPDFObjectHandle::newInteger(2));
        TempDir dir;
        auto doc = openWritten(q, dir / "certified.pdf");
        auto other = openWritten(formWithSignature("", ""), dir / "other.pdf");
        ASSERT_EQ(doc->numPages(), 2);
        for (auto edit : {std::function<void()>([&] { doc->deletePages(1, 1); }),
                          std::function<void()>([&] { doc->insertPages(0, *other, 0, 1, 0); })}) {
            try {
                edit();
                ADD_FAILURE() << "a page edit of a document certified at level " << level << " was not refused";
            } catch (const Error& e) {
                EXPECT_EQ(e.code(), err::kOpNotPermitted) << level;
            }
        }
        EXPECT_EQ(doc->numPages(), 2) << level;
    }
}
