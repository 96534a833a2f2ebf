// Incremental updates: the objects changed since a document was read, appended after the file's
// own bytes with a cross-reference section of the kind the file ends with.
//
// Change tracking: the document records where in its bytes qpdf read objects from (an object
// never read cannot have changed; one append a seek, sorted when an update asks), and a second, untouched parse of the same bytes is the
// baseline the read objects are compared with. Objects written by an earlier update of the same
// file are compared with what was written. New objects are the numbers past the file's last one.
// Cost: O(objects read since the open), plus one lazy parse of the cross-reference table.
// Objects put in place with QPDF::replaceObject without being read first are not seen.
//
// Not thread-safe: used from the host's main thread with its Document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>

class InputSource;

namespace quill::pdf {

class Document;

// What the engine knows about the bytes a document was read from (made when it is opened).
struct IncrementalState;
// What one update wrote, for the updates after it.
struct UpdateRecord;

// Which file a path names and how it stood: a change on disk shows in one of these (a rewrite of
// the same size in the modification time, a file put in its place in the inode). The change time
// catches what the others miss: a writer that sets the modification time back (touch -r, rsync
// --times, an unpacked archive) cannot set it back, as no system call writes it.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    long long mtimeNs = 0;
    long long ctimeNs = 0;
    bool operator==(const FileStamp& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtimeNs == o.mtimeNs && ctimeNs == o.ctimeNs;
    }
};
FileStamp stampOf(const struct stat& st);

// State for a document read from `bytes` (owned by `owner`, which the state keeps alive), or,
// when bytes is null, from the file at `path` whose first `size` bytes are read again when needed.
// `stamp` is the file as it was read.
std::shared_ptr<IncrementalState> newIncrementalState(std::shared_ptr<const void> owner, const char* bytes,
                                                      std::size_t size, const std::string& path,
                                                      const FileStamp& stamp);

// Throws Error (kUnableToWrite) when the file the document was read from changed on disk since
// (or since this engine last wrote it) and the save needs it: `target` names it, or the document
// still reads its objects or bytes from it.
void checkFileUnchanged(Document& doc, const std::string& target);
// Records the file a save to `target` put in place, when that is the file the document was read from.
void noteFileWritten(Document& doc, const std::string& target, const FileStamp& written);

// Wraps the source qpdf parses a document from, so that every object read is recorded in `state`.
std::shared_ptr<InputSource> recordReads(std::shared_ptr<InputSource> inner, std::shared_ptr<IncrementalState> state);

// The appended part of one save: the changed objects and the cross-reference section.
struct IncrementalUpdate {
    std::string bytes;        // to write after the file's current bytes; empty when nothing changed
    std::size_t objects = 0;  // changed, new and freed objects it holds
    std::int64_t xrefOffset = -1;
    long long size = 0;                           // the /Size it gives
    std::shared_ptr<const UpdateRecord> written;  // what the update wrote, for commitIncrementalUpdate
};

// True when the document's file can take an incremental update: it was read from a file whose
// bytes are at hand and its cross-reference data did not need reconstruction.
bool canUpdateIncrementally(Document& doc);

// The update that brings the document's file (as read, plus updates saved to it since) up to
// the document's objects. Throws Error when the document cannot be updated incrementally.
// Without `compare` every object of the file read since the open is written as it stands, changed
// or not, and what cannot be written is left as the file has it: for bytes that are only read
// (the page text), where comparing with the baseline would cost more than writing. Such an update
// is never saved.
IncrementalUpdate makeIncrementalUpdate(Document& doc, bool compare = true);

// Calls sink with the file's current bytes in order (the bytes read, then each update saved).
// Throws Error when a file read again has changed since the open.
void writeBaseBytes(Document& doc, const std::function<void(const char*, std::size_t)>& sink);

// The offset of the cross-reference section that ends the document's file now (the /Prev of
// the next update).
std::int64_t currentXref(Document& doc);

// Records that `update` now ends the document's own file (a save to it, not a copy).
void commitIncrementalUpdate(Document& doc, const IncrementalUpdate& update);

// Whether the file held a signature value or usage rights when it was read. Later edits (a deleted
// page that took a signature field with it) do not change it: the signed bytes are still there.
// The open notes what it saw on the way (usage rights in the catalog); the rest is worked out
// from the bytes read when a save first asks, so that an open reads no more than it needs.
void noteSignedWhenRead(Document& doc, bool isSigned);
bool wasSignedWhenRead(Document& doc);

// True once the document was saved incrementally: every later save appends as well.
bool wasUpdatedIncrementally(Document& doc);

// Saves `doc` to `path` as its file's bytes followed by an update holding the changes, atomically
// (temporary file beside the target, synced, renamed). Without kSaveCopy the document is then tied
// to `path` and later saves append to what this one wrote. A document certified with no changes
// allowed is refused (Error kOpNotPermitted) when it has changes; nothing is written then.
void saveIncrementally(Document& doc, int flags, const std::string& path);

// The file's current bytes followed by the update, in one buffer (for readers that want a
// whole file in memory, such as the text extractor).
std::string bytesWithUpdate(Document& doc, const IncrementalUpdate& update);

}  // namespace quill::pdf
