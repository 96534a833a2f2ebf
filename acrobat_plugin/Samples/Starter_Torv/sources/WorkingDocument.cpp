// WorkingDocument: the working document, the edit copy and the field flag.
#include "WorkingDocument.h"

#include "HandlerFrame.h"

PDDoc gPdDoc = nullptr;
bool gPdDocFromWindow = false;
quill::acro::EditCopy editCopy;
ASBool fieldFound = false;

namespace quill::acro {

void closeDocQuietly(PDDoc doc) noexcept {
    if (doc) quietly("PDDocClose", [&] { PDDocClose(doc); });
}

bool pageChangesDenied(PDDoc doc, PDPermReqOpr operation) noexcept {
    bool denied = false;
    quietly("PDDocPermRequest",
            [&] { denied = PDDocPermRequest(doc, PDPermReqObjPage, operation, nullptr) == PDPermReqDenied; });
    return denied;
}

void closeWindowQuietly(AVDoc window) noexcept {
    if (window) quietly("AVDocClose", [&] { AVDocClose(window, true); });
}

void dropWorkingDocument() {
    PDDoc old = gPdDoc;
    const bool owned = !gPdDocFromWindow;
    gPdDoc = nullptr;
    gPdDocFromWindow = false;
    if (owned) closeDocQuietly(old);
}

void replaceWorkingDocument(PDDoc doc) {
    if (gPdDoc != doc) dropWorkingDocument();
    gPdDoc = doc;
    gPdDocFromWindow = false;
}

// Page edits counted on another document's pages would land on the wrong
// pages of the window document, so they go with the old document.
void adoptWindowDocument(PDDoc doc) {
    if (doc == gPdDoc) return;
    editCopy.clear();
    dropWorkingDocument();
    gPdDoc = doc;
    gPdDocFromWindow = true;
}

std::int64_t EditCopy::pageCount(PDDoc doc) const {
    return static_cast<std::int64_t>(PDDocGetNumPages(doc)) + change_;
}

void EditCopy::insert(PDDoc doc, ASInt32 after, PDDoc source, ASInt32 start, ASInt32 count, ASUns16 flags) {
    ASErrorCode refused = 0;
    DURING
    const std::int64_t pages = pageCount(doc);
    const std::int64_t sourcePages = PDDocGetNumPages(source);
    if (count < 1 || start < 0 || start + static_cast<std::int64_t>(count) > sourcePages ||
        (after != PDLastPage && (after < PDBeforeFirstPage || after >= pages)))
        refused = ErrBuildCode(ErrAlways, ErrSysNone, genErrBadParm);
    else if (pages + count > kMaxDocumentPages)
        refused = ErrBuildCode(ErrSuppressable, ErrSysPDDoc, pdErrTooManyPagesForInsert);
    HANDLER
    refused = ERRORCODE;
    END_HANDLER
    if (refused != 0) {
        closeDocQuietly(source);
        ASRaise(refused);
    }
    Edit edit;
    edit.isInsert = true;
    edit.first = after == PDLastPage ? static_cast<ASInt32>(pageCount(doc) - 1) : after;
    edit.source = source;
    edit.start = start;
    edit.count = count;
    edit.flags = flags;
    edits_.push_back(edit);
    change_ += count;
}

void EditCopy::remove(PDDoc doc, ASInt32 first, ASInt32 last) {
    const std::int64_t pages = pageCount(doc);
    if (first < 0 || last < first || last >= pages) ASRaise(ErrBuildCode(ErrAlways, ErrSysNone, genErrBadParm));
    if (static_cast<std::int64_t>(last) - first + 1 >= pages)
        ASRaise(ErrBuildCode(ErrSuppressable, ErrSysPDDoc, pdErrOpNotPermitted));
    Edit edit;
    edit.first = first;
    edit.last = last;
    edits_.push_back(edit);
    change_ -= static_cast<std::int64_t>(last) - first + 1;
}

void EditCopy::make(PDDoc doc, const Edit& edit) {
    if (edit.isInsert)
        PDDocInsertPages(doc, edit.first, edit.source, edit.start, edit.count, edit.flags, nullptr, nullptr, nullptr,
                         nullptr);
    else
        PDDocDeletePages(doc, edit.first, edit.last, nullptr, nullptr);
}

void EditCopy::applyTo(PDDoc doc) {
    ASErrorCode failed = 0;
    while (!edits_.empty() && failed == 0) {
        DURING
        make(doc, edits_.front());
        HANDLER
        failed = ERRORCODE;
        if (failed == 0) failed = ErrBuildCode(ErrAlways, ErrSysNone, genErrGeneral);
        END_HANDLER
        if (failed != 0) break;
        const Edit done = edits_.front();
        edits_.pop_front();
        change_ -= done.isInsert ? done.count : -(static_cast<std::int64_t>(done.last) - done.first + 1);
        closeDocQuietly(done.source);
    }
    if (failed != 0) {
        clear();
        ASRaise(failed);
    }
}

void EditCopy::replayOn(PDDoc doc) const {
    for (const Edit& edit : edits_) make(doc, edit);
}

void EditCopy::clear() {
    std::deque<Edit> old;
    old.swap(edits_);
    change_ = 0;
    for (const Edit& edit : old) closeDocQuietly(edit.source);
}

}  // namespace quill::acro
