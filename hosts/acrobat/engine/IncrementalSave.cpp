// Saving a document as an update appended to its file's bytes.
#include "AtomicFile.h"
#include "Document.h"
#include "Error.h"
#include "IncrementalWriter.h"
#include "Save.h"
#include "Signatures.h"

namespace quill::pdf {

void saveIncrementally(Document& doc, int flags, const std::string& path) {
    if (path.empty()) throw Error(err::kBadParm, "No file name was given for the save.");
    IncrementalUpdate update = makeIncrementalUpdate(doc);
    if (update.objects > 0) checkDocumentChange(doc.qpdf());
    // The same checked, atomic write as a full save: the file's current bytes, then the update.
    writeFileAtomically(path, [&](FileSink& sink) {
        writeBaseBytes(doc, [&](const char* p, std::size_t n) { sink.write(p, n); });
        sink.write(update.bytes);
    });
    if (!(flags & kSaveCopy)) {
        commitIncrementalUpdate(doc, update);
        doc.rebindToFile(path);
    }
}

}  // namespace quill::pdf
