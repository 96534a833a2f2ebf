// Reading an indirect object straight from a file's bytes, as a PDF reader's tokenizer does, only
// far enough to know where it ends, which objects it refers to and what its dictionary's own
// entries are. Anything it is not sure of (a damaged object, a stream whose length does not lead
// to "endstream", nesting past a sane depth) makes it give up; the caller then asks qpdf.
//
// Cost: one pass over the object's own bytes (a stream's data is skipped by its length), no
// allocation beyond the lists it fills.
#pragma once

#include <qpdf/QPDFObjGen.hh>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class QPDF;

namespace quill::pdf {

class Document;

class RawObject {
public:
    struct Value {
        enum Kind { kOther, kInteger, kRef, kName } kind = kOther;
        long long integer = 0;
        QPDFObjGen ref;
        std::string_view text;           // a name's bytes, "/" included
        std::size_t begin = 0, end = 0;  // where the value stands in the bytes
    };
    // Where a reference ("n g R") stands in the bytes.
    struct RefSpan {
        std::size_t begin = 0, end = 0;
        QPDFObjGen ref;
    };
    struct Entry {
        std::string_view key;  // "/" included, as written (no #xx decoded)
        Value value;
    };

    RawObject(std::string_view bytes, std::vector<QPDFObjGen>& refs) : b_(bytes), refs_(refs) {}

    // The end of object `og` (just past its "endobj") when it starts at `at`; 0 when unsure.
    // `lengthOf` gives the value of an indirect stream length (-1: unknown). The objects it refers
    // to are added to the list given at construction.
    std::size_t scan(std::size_t at, QPDFObjGen og, const std::function<long long(QPDFObjGen)>& lengthOf);

    // After a scan: whether the object is a dictionary (or a stream's), and its own entries.
    bool isDictionary() const { return dictionary_; }
    bool isStream() const { return stream_; }
    const std::vector<Entry>& entries() const { return entries_; }
    // Just past the object's "obj" keyword.
    std::size_t bodyStart() const { return body_; }
    // Where each reference stood, in the order met, when a list was given (stream data is skipped).
    void noteSpans(std::vector<RefSpan>* spans) { spans_ = spans; }

private:
    void skip();
    bool keyword(std::string_view word);
    bool unsignedInt(long long& v);
    std::string_view name();
    bool literalString();
    bool value(int depth, bool top, Value* out);
    bool valueHere(int depth, bool top, Value* out);

    std::string_view b_;
    std::vector<QPDFObjGen>& refs_;
    std::vector<RefSpan>* spans_ = nullptr;
    std::size_t p_ = 0;
    std::size_t body_ = 0;
    bool dictionary_ = false;
    bool stream_ = false;
    std::vector<Entry> entries_;
};

// Whether `bytes` hold, at `at`, object `og` whole and well formed, with a stream's length given
// directly (as this engine writes objects).
bool isWholeObject(std::string_view bytes, std::size_t at, QPDFObjGen og);

// The document's file objects that qpdf has not read yet: for those, the file's bytes are what
// the document holds. Made for one edit (it copies qpdf's cross-reference table); nothing for a
// document not read from bytes at hand.
class UnreadObjects {
public:
    static std::unique_ptr<UnreadObjects> of(Document& doc);
    // The own entries of dictionary `og`, when it is one of those objects and plainly a
    // dictionary (no stream) in the file; nothing otherwise.
    std::optional<std::vector<RawObject::Entry>> dictionary(QPDFObjGen og);
    ~UnreadObjects();

private:
    struct Impl;
    explicit UnreadObjects(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace quill::pdf
