// Signature facts: signed fields, their locks and certification, read from the field tree.
#include "quill/pdf/Signatures.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "FieldTree.h"
#include "quill/pdf/Forms.h"
#include "IncrementalWriter.h"
#include "quill/pdf/Warnings.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <set>

namespace quill::pdf {

namespace {

std::vector<std::u16string> namesOf(QPDFObjectHandle fields) {
    std::vector<std::u16string> out;
    if (!fields.isArray()) return out;
    for (auto& f : fields.aitems())
        if (f.isString()) out.push_back(pdfTextToUtf16(f.getStringValue()));
    return out;
}

// A lock dictionary (/Lock of a signature field, or the /TransformParams of a /FieldMDP reference).
void addLock(SignatureFacts& facts, const std::u16string& owner, QPDFObjectHandle lock) {
    if (!lock.isDictionary()) return;
    // /P of a lock (PDF 2.0, written by signing services) limits the whole document as a
    // certification's /DocMDP /P does, whatever the lock's /Action says of the fields.
    QPDFObjectHandle p = lock.getKey("/P");
    if (p.isInteger() && p.getIntValue() >= 1 && p.getIntValue() <= 3 &&
        (facts.lockPermissions == 0 || p.getIntValue() < facts.lockPermissions)) {
        facts.lockPermissions = static_cast<int>(p.getIntValue());
        facts.lockedBy = owner;
    }
    QPDFObjectHandle action = lock.getKey("/Action");
    if (!action.isName()) return;
    SignatureLock l;
    l.signatureField = owner;
    if (action.getName() == "/All") {
        l.all = true;
    } else if (action.getName() == "/Include" || action.getName() == "/Exclude") {
        l.exclude = action.getName() == "/Exclude";
        l.fields = namesOf(lock.getKey("/Fields"));
    } else {
        return;
    }
    facts.locks.push_back(std::move(l));
}

// The /P of a /DocMDP transform among a signature value's /Reference entries (2 when absent).
int docMdpOf(QPDFObjectHandle sig) {
    QPDFObjectHandle refs = sig.isDictionary() ? sig.getKey("/Reference") : QPDFObjectHandle::newNull();
    if (!refs.isArray()) return 0;
    for (auto& r : refs.aitems()) {
        if (!r.isDictionary() || !r.getKey("/TransformMethod").isNameAndEquals("/DocMDP")) continue;
        QPDFObjectHandle p = r.getKey("/TransformParams");
        p = p.isDictionary() ? p.getKey("/P") : QPDFObjectHandle::newNull();
        if (p.isInteger() && p.getIntValue() >= 1 && p.getIntValue() <= 3) return static_cast<int>(p.getIntValue());
        return 2;
    }
    return 0;
}

// What a field-tree node takes from the nodes above it: its full name and its kind.
struct Inherited {
    std::u16string name;
    std::string kind;
};

Inherited visitField(SignatureFacts& facts, QPDFObjectHandle node, const Inherited& parent) {
    Inherited mine = parent;
    QPDFObjectHandle t = node.getKey("/T");
    if (t.isString()) {
        std::u16string own = pdfTextToUtf16(t.getStringValue());
        mine.name = parent.name.empty() ? own : parent.name + u"." + own;
    }
    QPDFObjectHandle ft = node.getKey("/FT");
    if (ft.isName()) mine.kind = ft.getName();
    if (mine.kind == "/Sig") {
        QPDFObjectHandle v = node.getKey("/V");
        if (v.isDictionary()) {
            facts.signedValue = true;
            addLock(facts, mine.name, node.getKey("/Lock"));
            QPDFObjectHandle refs = v.getKey("/Reference");
            if (refs.isArray()) {
                for (auto& r : refs.aitems())
                    if (r.isDictionary() && r.getKey("/TransformMethod").isNameAndEquals("/FieldMDP"))
                        addLock(facts, mine.name, r.getKey("/TransformParams"));
            }
        }
    }
    return mine;
}

bool covers(const std::u16string& listed, const std::u16string& field) {
    return field == listed || (field.size() > listed.size() && field.compare(0, listed.size(), listed) == 0 &&
                               field[listed.size()] == u'.');
}

std::string quoted(const std::u16string& name) {
    return "\"" + utf16ToUtf8(name) + "\"";
}

// Refusals use the code Acrobat raises for an edit a document does not allow; its reply text is
// the fixed "Operation not permitted.", so the reason goes to the log (a warning) as well.
[[noreturn]] void refuse(const std::string& why) {
    warn(Severity::kNotice, why);
    throw Error(err::kOpNotPermitted, why);
}

// Who limits the changes: the certification, else the locking signature.
std::string limitedBy(const SignatureFacts& facts) {
    if (facts.certification != 0 && facts.certification == permittedChanges(facts)) return "The document is certified";
    return "The signature " + quoted(facts.lockedBy) + " locks the document";
}

[[noreturn]] void refuseCertified(const SignatureFacts& facts, const std::string& what) {
    refuse(limitedBy(facts) + " with no changes allowed; " + what + " cannot be changed.");
}

}  // namespace

int permittedChanges(const SignatureFacts& facts) {
    if (facts.certification == 0) return facts.lockPermissions;
    if (facts.lockPermissions == 0) return facts.certification;
    return std::min(facts.certification, facts.lockPermissions);
}

SignatureFacts signatureFacts(QPDF& pdf) {
    SignatureFacts facts;
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle perms = root.getKey("/Perms");
    if (perms.isDictionary() && !perms.getKeys().empty()) {
        facts.permissions = true;
        facts.certification = docMdpOf(perms.getKey("/DocMDP"));
    }
    walkFieldTree(pdf, Inherited{},
                  [&](QPDFObjectHandle node, const Inherited& parent) { return visitField(facts, node, parent); });
    return facts;
}

bool needsIncrementalSave(Document& doc) {
    if (wasUpdatedIncrementally(doc) || wasSignedWhenRead(doc)) return true;
    SignatureFacts facts = signatureFacts(doc.qpdfForWriting());
    return facts.signedValue || facts.permissions;
}

void checkFieldChange(QPDF& pdf, const std::u16string& fullName) {
    checkFieldChange(signatureFacts(pdf), fullName);
}

void checkFieldChange(const SignatureFacts& facts, const std::u16string& fullName) {
    if (permittedChanges(facts) == 1) refuseCertified(facts, "the field " + quoted(fullName));
    for (const auto& lock : facts.locks) {
        bool locked = lock.all;
        if (!lock.all) {
            bool listed = false;
            for (const auto& f : lock.fields) listed = listed || covers(f, fullName);
            locked = lock.exclude ? !listed : listed;
        }
        if (locked)
            refuse("The field " + quoted(fullName) + " is locked by the signature " + quoted(lock.signatureField) +
                   " and cannot be changed.");
    }
}

void checkDocumentChange(QPDF& pdf) {
    const SignatureFacts facts = signatureFacts(pdf);
    if (permittedChanges(facts) == 1) refuseCertified(facts, "it");
}

void checkPageChange(QPDF& pdf) {
    const SignatureFacts facts = signatureFacts(pdf);
    const int level = permittedChanges(facts);
    if (level == 0) return;
    refuse(limitedBy(facts) + " against page changes (" +
           (level == 1 ? "no changes allowed" : "only filling in, signing and commenting allowed") +
           "); its pages cannot be inserted, deleted or appended.");
}

}  // namespace quill::pdf
