// Full saves that copy what nobody changed: the document's objects reachable from its trailer,
// under the numbers they have, each object qpdf never read since the open copied as its bytes
// stand in the file, the others written from the document. The objects nobody refers to any more
// (deleted pages, replaced appearances, an old cross-reference stream) are left out, as qpdf's
// writer leaves them out; the file gets one cross-reference table.
//
// Cost: O(bytes written) plus a scan of each copied object's own bytes (not its stream data) for
// the objects it refers to; no object is parsed by qpdf that was not parsed before. qpdf's writer
// instead parses and renumbers every object of the file.
//
// An object qpdf has not read cannot have changed, as long as nothing puts an object in place
// under an existing number without reading it first (QPDF::replaceObject): the engine does that
// only for numbers it made itself, which qpdf hands out once every object was read.
//
// Not thread-safe: used from the host's main thread with its Document.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

#include <qpdf/QPDFObjGen.hh>

namespace quill::pdf {

class Document;

// Whether the document can be written this way: read from bytes that are at hand, not
// encrypted, not repaired, and not updated incrementally since the open. The rest goes through
// qpdf's writer.
bool canWriteByCopying(Document& doc);

// Writes the whole document to `sink`, object by object. `fromDocument` receives the objects
// written from the document's own objects rather than copied (the read-back parses those).
// Returns false, having written nothing, when it is not sure it can write the document (numbers
// too sparse, an object it cannot read): qpdf's writer then writes it. Throws CopyingStopped
// when it meets such trouble part way: the caller starts the file again with qpdf's writer.
// What the sink throws passes through.
bool writeByCopying(Document& doc, const std::function<void(const char*, std::size_t)>& sink,
                    std::vector<QPDFObjGen>& fromDocument);

struct CopyingStopped : std::exception {
    const char* what() const noexcept override;
};

}  // namespace quill::pdf
