// WorkingDocument: the documents QuillmarkAcro keeps between bridge events
// and the few operations that change which document is which.
//
// Rules, stated once for every handler:
// - gPdDoc is the working document, the one every handler works on; null
//   when none is open. It is set by the open handler, cleared by the close
//   handler and replaced by the active window's document when the field walk
//   adopts it.
// - gPdDocFromWindow is true when gPdDoc was adopted from a document window:
//   the window owns that document, so the plug-in forgets it and never
//   closes it. Otherwise the plug-in owns gPdDoc and closes it with
//   PDDocClose.
// - editCopy holds the page edits (append, insert, delete) asked for since
//   the last save. They are checked when asked for, against the page count
//   they give one after another, but made on gPdDoc itself only by the save,
//   just before it writes: gPdDoc keeps its pages, page count and page texts
//   until then, as scripts expect, while every field value and document
//   information change made before or after a page edit is in the document
//   that is written. (A separate copy of the pages, written over the file,
//   lost those changes.) The plug-in owns the source documents the edits
//   keep open. The edits never outlive the working document they were
//   asked for on.
// - fieldFound is set by the field walk when the requested field was met;
//   the field handlers clear it before each walk.
//
// Each sender of bridge events has its own set of these four (Sessions.h):
// during a handler call they are the caller's, between calls they are empty.
//
// Threading: Acrobat delivers every bridge event on its main thread, one at
// a time; these are plain globals without locks.
#pragma once

#include "PIHeaders.h"
#include "Holders.h"

#include <cstdint>
#include <deque>
#include <utility>

namespace quill::acro {

// Acrobat's limit on the pages of one document.
inline constexpr std::int64_t kMaxDocumentPages = 8388607;

// Page edits waiting for the save of the working document.
class EditCopy {
public:
    EditCopy() = default;
    EditCopy(const EditCopy&) = delete;
    EditCopy& operator=(const EditCopy&) = delete;

    bool pending() const { return !edits_.empty(); }
    // The page count `doc` (the working document) has once the edits are made.
    std::int64_t pageCount(PDDoc doc) const;
    // Records inserting `count` pages of `source` from its page `start` after
    // page `after` of the edited document (PDLastPage: at its end). Takes the
    // source over, also when it raises: pdErrTooManyPagesForInsert when the
    // document would outgrow Acrobat's limit, genErrBadParm for a count below
    // one or a page outside either document.
    void insert(PDDoc doc, ASInt32 after, PDDoc source, ASInt32 start, ASInt32 count, ASUns16 flags);
    // Records deleting pages first..last (zero-based, of the edited
    // document). Raises genErrBadParm for a page outside it and
    // pdErrOpNotPermitted when no page would be left.
    void remove(PDDoc doc, ASInt32 first, ASInt32 last);
    // Makes the edits on `doc` in the order they were asked for and forgets
    // them. When one fails, the rest are dropped too (their page numbers
    // counted on it) and the error is raised.
    void applyTo(PDDoc doc);
    // Makes the edits on `doc`, a copy being written, and keeps them pending.
    void replayOn(PDDoc doc) const;
    // Forgets every edit and closes the sources, quietly.
    void clear();
    // Exchanges the edits with another copy's (a sender's slot, Sessions.h).
    void swap(EditCopy& other) noexcept {
        edits_.swap(other.edits_);
        std::swap(change_, other.change_);
    }

private:
    struct Edit {
        bool isInsert = false;
        ASInt32 first = 0;  // insert: the page after which; delete: the first page
        ASInt32 last = 0;   // delete: the last page
        PDDoc source = nullptr;
        ASInt32 start = 0;
        ASInt32 count = 0;
        ASUns16 flags = 0;
    };
    static void make(PDDoc doc, const Edit& edit);
    std::deque<Edit> edits_;
    std::int64_t change_ = 0;  // pages added minus pages deleted
};

}  // namespace quill::acro

extern PDDoc gPdDoc;
extern bool gPdDocFromWindow;
extern quill::acro::EditCopy editCopy;
extern ASBool fieldFound;

namespace quill::acro {

// True when `doc` refuses pages being added or removed (PDDocPermRequest denies it). An
// application that cannot answer the question is taken to allow it; its save still refuses.
bool pageChangesDenied(PDDoc doc, PDPermReqOpr operation) noexcept;

// Closes a window without saving, logging instead of raising.
void closeWindowQuietly(AVDoc window) noexcept;

// Forgets the working document, closing it when the plug-in owns it.
void dropWorkingDocument();

// Makes `doc` the working document, owned by the plug-in; the previous one
// is dropped unless it is the same document.
void replaceWorkingDocument(PDDoc doc);

// The field walk makes the front window's document the working document.
// Page edits asked for on the previous working document no longer belong to
// it and are dropped with it.
void adoptWindowDocument(PDDoc doc);

}  // namespace quill::acro
