// Saving a document as an update appended to its file's bytes.
#include "AtomicFile.h"
#include "Document.h"
#include "Error.h"
#include "IncrementalWriter.h"
#include "Save.h"
#include "SaveCheck.h"
#include "Signatures.h"

#include <sys/stat.h>

namespace quill::pdf {

void saveIncrementally(Document& doc, int flags, const std::string& path) {
    if (path.empty()) throw Error(err::kBadParm, "No file name was given for the save.");
    checkFileUnchanged(doc, path);
    IncrementalUpdate update = makeIncrementalUpdate(doc);
    if (update.objects > 0) checkDocumentChange(doc.qpdf());
    SaveCheck check(doc);
    // With nothing to append the file is its current bytes again; they are compared all the same.
    std::uint64_t base = 0;
    writeBaseBytes(doc, [&](const char*, std::size_t n) { base += n; });
    check.expectUpdate(base, update.bytes.empty() ? -1 : currentXref(doc), update.bytes.empty() ? 0 : update.size,
                       [&](const std::function<void(const char*, std::size_t)>& sink) { writeBaseBytes(doc, sink); });
    // The same checked, atomic write as a full save: the file's current bytes, then the update.
    FileStamp written;
    writeFileAtomically(
        path,
        [&](FileSink& sink) {
            writeBaseBytes(doc, [&](const char* p, std::size_t n) { sink.write(p, n); });
            sink.write(update.bytes);
        },
        {},
        [&](int fd) {
            check.verify(fd, path);
            struct stat st {};
            if (::fstat(fd, &st) == 0) written = stampOf(st);
        });
    noteFileWritten(doc, path, written);
    if (!(flags & kSaveCopy)) {
        commitIncrementalUpdate(doc, update);
        doc.rebindToFile(path);
    }
}

}  // namespace quill::pdf
