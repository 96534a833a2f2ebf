// Incremental updates: the objects changed since a document was read, appended after the file's
// own bytes with a cross-reference section of the kind the file ends with.
//
// Change tracking: the document records where in its bytes qpdf read objects from (an object
// never read cannot have changed), and a second, untouched parse of the same bytes is the
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

class InputSource;

namespace quill::pdf {

class Document;

// What the engine knows about the bytes a document was read from (made when it is opened).
struct IncrementalState;

// State for a document read from `bytes` (owned by `owner`, which the state keeps alive), or,
// when bytes is null, from the file at `path` whose first `size` bytes are read again when needed.
std::shared_ptr<IncrementalState> newIncrementalState(std::shared_ptr<const void> owner, const char* bytes,
                                                      std::size_t size, const std::string& path);

// Wraps the source qpdf parses a document from, so that every object read is recorded in `state`.
std::shared_ptr<InputSource> recordReads(std::shared_ptr<InputSource> inner, std::shared_ptr<IncrementalState> state);

// The appended part of one save: the changed objects and the cross-reference section.
struct IncrementalUpdate {
    std::string bytes;        // to write after the file's current bytes; empty when nothing changed
    std::size_t objects = 0;  // changed, new and freed objects it holds
    std::int64_t xrefOffset = -1;
    int size = 0;                   // the /Size it gives
    std::shared_ptr<void> written;  // what the update wrote, for commitIncrementalUpdate
};

// True when the document's file can take an incremental update: it was read from a file whose
// bytes are at hand and its cross-reference data did not need reconstruction.
bool canUpdateIncrementally(Document& doc);

// The update that brings the document's file (as read, plus updates saved to it since) up to
// the document's objects. Throws Error when the document cannot be updated incrementally.
IncrementalUpdate makeIncrementalUpdate(Document& doc);

// Calls sink with the file's current bytes in order (the bytes read, then each update saved).
// Throws Error when a file read again has changed since the open.
void writeBaseBytes(Document& doc, const std::function<void(const char*, std::size_t)>& sink);

// Records that `update` now ends the document's own file (a save to it, not a copy).
void commitIncrementalUpdate(Document& doc, const IncrementalUpdate& update);

// Whether the file held a signature value or usage rights when it was read. Later edits (a deleted
// page that took a signature field with it) do not change it: the signed bytes are still there.
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
