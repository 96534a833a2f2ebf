// WorkingDocument: the working document, the edit copy and the field flag.
#include "WorkingDocument.h"

#include "HandlerFrame.h"

PDDoc gPdDoc = nullptr;
bool gPdDocFromWindow = false;
PDDoc subDoc = nullptr;
ASBool fieldFound = false;

namespace quill::acro {

void closeDocQuietly(PDDoc doc) noexcept {
    if (!doc) return;
    try {
        DURING
        PDDocClose(doc);
        HANDLER
        logInternal("PDDocClose", errorMessage(ERRORCODE).c_str());
        END_HANDLER
    } catch (...) {
        logInternal("PDDocClose", "unexpected exception");
    }
}

void closeWindowQuietly(AVDoc window) noexcept {
    if (!window) return;
    try {
        DURING
        AVDocClose(window, true);
        HANDLER
        logInternal("AVDocClose", errorMessage(ERRORCODE).c_str());
        END_HANDLER
    } catch (...) {
        logInternal("AVDocClose", "unexpected exception");
    }
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

// Saving an edit copy of another document later would write its pages over
// the window document's file, so the old copy goes with the old document.
void adoptWindowDocument(PDDoc doc) {
    if (doc == gPdDoc) return;
    PDDoc oldCopy = subDoc;
    subDoc = nullptr;
    closeDocQuietly(oldCopy);
    dropWorkingDocument();
    gPdDoc = doc;
    gPdDocFromWindow = true;
}

void copyAllPages(PDDoc target, PDDoc source) {
    PDDocInsertPages(target, PDLastPage, source, 0, PDAllPages, PDInsertAll, nullptr, nullptr, nullptr, nullptr);
}

void ensureEditCopy() {
    if (subDoc) return;
    ScopedDoc copy(PDDocCreate());
    copyAllPages(copy.get(), gPdDoc);
    subDoc = copy.release();
}

}  // namespace quill::acro
