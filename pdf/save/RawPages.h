// Pages inserted from another file's bytes. An insert of plain pages (no form, from an unchanged,
// unencrypted file read whole) into a document whose page tree is flat makes no qpdf object at
// all: it notes which of the source file's objects the pages bring, and the copying writer puts
// them into the saved file under new numbers, their bytes as they stand but for the references.
// qpdf 11 reads every object of a document the first time a new object is made in it
// (QPDF::getObjectCount resolves the whole cross-reference table), so a qpdf copy of a page costs
// a parse of the whole target, and after that no object of it can be copied as it stands.
//
// Anything that needs the pages as qpdf objects (any call but the page count, a full save and the
// close) first makes the same insert through qpdf, from a parse of the same source bytes
// (settleRawPages).
//
// Not thread-safe: used from the host's main thread with its Document.
#pragma once

#include <qpdf/QPDFObjGen.hh>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quill::pdf {

class Document;
struct IncrementalState;

struct RawPages {
    // The insert as asked, to make it through qpdf later.
    int after = 0, start = 0, count = 0, flags = 0;
    int pagesAfter = 0;                        // the document's page count with the pages
    std::shared_ptr<IncrementalState> source;  // the source's bytes, kept alive
    QPDFObjGen root;                           // the document's page tree root

    // A reference to rewrite, or a stream's indirect length to write as the number it names.
    struct Span {
        std::size_t begin = 0, end = 0;
        QPDFObjGen ref;
        long long length = -1;
    };
    // One source object: the byte ranges that make it (for a page, its entries but /Parent; for
    // anything else, all from past "obj" to "endobj"), with the spans in them, in order.
    struct Copy {
        QPDFObjGen og;
        bool page = false;
        std::vector<std::pair<std::size_t, std::size_t>> parts;
        std::vector<Span> spans;
    };
    std::vector<Copy> copies;         // the pages first, in order
    std::map<QPDFObjGen, int> index;  // source object -> its place in copies
};

// The source objects that pages [start, start + count) of `source` bring, whose page list (a flat
// tree under `sourceRoot`) is `sourcePages`; nothing when one of them cannot be copied as it
// stands (not in the file's bytes, not whole, in an object stream, or leading to the catalog or
// the page tree). The caller fills in the rest of the plan.
std::shared_ptr<RawPages> planRawPages(Document& source, const std::vector<QPDFObjGen>& sourcePages,
                                       QPDFObjGen sourceRoot, int start, int count);

// Writes the planned objects numbered from `first` on, as "n 0 obj ... endobj": text this writer
// makes goes to `own`, flushed through `flush` before each run of the source's bytes goes to
// `copy`; `starts` is told of each object just before it is begun.
void writeRawPages(const RawPages& plan, int first, std::string& own, const std::function<void()>& flush,
                   const std::function<void(const char*, std::size_t)>& copy, const std::function<void(int)>& starts);

// Makes a planned insert through qpdf (see above). Throws what the insert throws, the plan kept.
void settleRawPages(Document& doc);

}  // namespace quill::pdf
