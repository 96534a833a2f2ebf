// Digital signatures of a document as far as editing and saving care: whether the document is
// signed (so that saves must append), what a signature locks, and certification.
#pragma once

#include <string>
#include <vector>

class QPDF;

namespace quill::pdf {

class Document;

struct SignatureLock {
    std::u16string signatureField;  // full name of the signature field that locks
    bool all = false;               // every field
    bool exclude = false;           // every field but `fields`
    std::vector<std::u16string> fields;
};

struct SignatureFacts {
    bool signedValue = false;  // a signature field holds a signature value (/V)
    bool permissions = false;  // the catalog has a /Perms dictionary (certification, usage rights)
    int certification = 0;     // /DocMDP /P of a certifying signature (1..3), 0 when not certified
    // The strictest /P of a signed field's /Lock (1..3, as /DocMDP's), 0 when none has one, and the
    // full name of that signature field.
    int lockPermissions = 0;
    std::u16string lockedBy;
    std::vector<SignatureLock> locks;  // of signed fields only
};

// Reads the signature fields and the catalog. Cost: one walk of the field tree.
SignatureFacts signatureFacts(QPDF& pdf);

// The changes the document allows, the strictest of its certification and its signatures'
// /Lock /P: 0 any, 1 none, 2 filling in and signing, 3 also commenting. Pages are never
// inserted, deleted or appended at 1 to 3.
int permittedChanges(const SignatureFacts& facts);

// True when saves of `doc` must append to its file so that earlier signatures stay valid.
bool needsIncrementalSave(Document& doc);

// Throws Error (kOpNotPermitted) when the field of full name `fullName` may not be changed: a
// signature locks it, or the document is certified with no changes allowed.
void checkFieldChange(QPDF& pdf, const std::u16string& fullName);
// The same against facts already read.
void checkFieldChange(const SignatureFacts& facts, const std::u16string& fullName);

// Throws Error (kOpNotPermitted) when the document is certified with no changes allowed.
void checkDocumentChange(QPDF& pdf);

// Throws Error (kOpNotPermitted) when the document is certified at all: every certification level
// allows at most filling, signing and annotating, never adding or removing pages.
void checkPageChange(QPDF& pdf);

}  // namespace quill::pdf
