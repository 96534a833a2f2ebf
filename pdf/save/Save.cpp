// Full saves: the whole document, copied where nobody changed it or through QPDFWriter, into an
// atomic file write.
#include "quill/pdf/Save.h"

#include "quill/pdf/AtomicFile.h"
#include "CopyingWriter.h"
#include "quill/pdf/Document.h"
#include "DocumentImpl.h"
#include "quill/pdf/Error.h"
#include "FormWriting.h"
#include "quill/pdf/Forms.h"
#include "IncrementalWriter.h"
#include "SaveCheck.h"
#include "quill/pdf/Signatures.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFSystemError.hh>
#include <qpdf/QPDFWriter.hh>

#include <qpdf/Pipeline.hh>

#include <sys/stat.h>

namespace quill::pdf {

namespace {

void configure(QPDFWriter& w) {
    // Stream data is copied as it stands: nothing is decoded, so nothing is recompressed, and
    // streams stored uncompressed stay so. Object streams are kept as the file had them.
    w.setDecodeLevel(qpdf_dl_none);
    w.setCompressStreams(false);
    w.setObjectStreamMode(qpdf_o_preserve);
}

// QPDFWriter's output, handed to the atomic file's checked writes and noted for the read-back.
class SinkPipeline : public Pipeline {
public:
    SinkPipeline(FileSink& sink, SaveCheck& check) : Pipeline("atomic file", nullptr), sink_(sink), check_(check) {}
    void write(unsigned char const* data, size_t len) override {
        check_.written(data, len);
        sink_.write(data, len);
    }
    void finish() override {}

private:
    FileSink& sink_;
    SaveCheck& check_;
};

void writeWithQpdf(Document& doc, FileSink& sink, SaveCheck& check) {
    SinkPipeline out(sink, check);
    QPDFWriter w(doc.qpdf());
    w.setOutputPipeline(&out);
    configure(w);
    try {
        w.write();
    } catch (const Error&) {
        throw;
    } catch (const QPDFSystemError& e) {
        throw Error(err::kUnableToWrite, "The file could not be saved (" + std::string(e.what()) + ").");
    } catch (const std::exception& e) {
        throw Error(err::kUnableToWrite, std::string("The document could not be written: ") + e.what() + ".");
    }
}

}  // namespace

void writeAtomically(Document& doc, const std::string& path) {
    flushAppearances(doc);  // field values set since the last write get their appearances
    checkFileUnchanged(doc, path);
    // The copying writer where it can; qpdf's writer where it cannot, also after it stopped part
    // way (the unfinished file is dropped and the save starts again).
    bool copying = canWriteByCopying(doc);
    for (;;) {
        SaveCheck check(doc);
        FileStamp written;
        try {
            writeFileAtomically(
                path,
                [&](FileSink& sink) {
                    std::vector<QPDFObjGen> ours;
                    if (copying && writeByCopying(
                                       doc,
                                       [&](const char* p, std::size_t n) {
                                           check.written(p, n);
                                           sink.write(p, n);
                                       },
                                       ours)) {
                        check.expectParsed(std::move(ours));
                        return;
                    }
                    writeWithQpdf(doc, sink, check);
                },
                {},
                [&](int fd) {
                    check.verify(fd, path);
                    struct stat st {};
                    if (::fstat(fd, &st) == 0) written = stampOf(st);
                });
        } catch (const CopyingStopped&) {
            copying = false;
            continue;
        }
        noteFileWritten(doc, path, written);
        return;
    }
}

void save(Document& doc, int flags, const std::string& path) {
    // A signed document stays signed only while the bytes its signatures cover stay as they are:
    // its saves append the changes instead of rewriting the file.
    flushAppearances(doc);  // field values set since the last write get their appearances
    finishFormForWriting(doc);
    if (canUpdateIncrementally(doc) && needsIncrementalSave(doc)) {
        saveIncrementally(doc, flags, path);
        return;
    }
    // The old file stays readable through qpdf's open descriptor after the rename (same inode),
    // so a document saved over its own file keeps reading its lazily loaded objects.
    writeAtomically(doc, path);
    if (!(flags & kSaveCopy)) doc.rebindToFile(path);
}

// Saving a document as an update appended to its file's bytes.
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
            writeBaseBytes(doc, [&](const char* p, std::size_t n) {
                check.written(p, n);
                sink.write(p, n);
            });
            check.written(update.bytes.data(), update.bytes.size());
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
