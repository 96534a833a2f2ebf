// AcroView: document windows, printing and alert notes. Headless: an alert
// note goes to the application log (and syslog) and returns at once.
#include <filesystem>

#include "HostAPI.h"
#include "Program.h"

#include "PDDocHandle.h"

#include "quill/pdf/Print.h"

namespace acro_host {

namespace {

AVDoc liveWindow(AVDoc doc) {
    if (!program().isWindow(doc)) raise(GenError(genErrBadParm), "That document window is not open.");
    return doc;
}

ACCB1 AVDoc ACCB2 impl_AVAppGetActiveDoc(void) {
    return program().activeWindow();
}

ACCB1 PDDoc ACCB2 impl_AVDocGetPDDoc(AVDoc avDoc) {
    return liveWindow(avDoc)->pdDoc;
}

// Headless: nobody could be asked, so noSave or not the changes are left in
// the document for any other holder; the window just goes.
ACCB1 ASBool ACCB2 impl_AVDocClose(AVDoc doc, ASBool noSave) {
    liveWindow(doc);
    return guarded([&]() -> ASBool { return program().closeWindow(doc); });
}

ACCB1 ASBool ACCB2 impl_AVDocClearSelection(AVDoc doc, ASBool highlight) {
    liveWindow(doc);
    return true;  // a headless window has no selection
}

ACCB1 AVDoc ACCB2 impl_AVDocOpenFromPDDoc(PDDoc doc, const ASText tempTitle) {
    if (!isLivePDDoc(doc)) raise(GenError(genErrBadParm), "The document is not open.");
    return guarded([&] {
        std::string title = tempTitle ? textUtf8(tempTitle) : std::string();
        if (title.empty()) {
            const std::string& path = documentOf(doc).path();
            title = std::filesystem::path(path).filename().string();
        }
        return program().openWindow(doc, title, false);
    });
}

ACCB1 void ACCB2 impl_AVDocPrintPages(AVDoc doc, AVPageIndex firstPage, AVPageIndex lastPage, ASInt32 psLevel,
                                      ASBool binaryOK, ASBool shrinkToFit) {
    liveWindow(doc);
    guarded([&] {
        quill::pdf::Document& d = documentOf(doc->pdDoc);
        const int pages = d.numPages();
        if (firstPage < 0 || lastPage < firstPage || lastPage >= pages)
            raise(PDDocError(pdErrInvalidPageNumber),
                  "Pages " + std::to_string(firstPage + 1) + " to " + std::to_string(lastPage + 1) +
                      " cannot be printed from a document of " + std::to_string(pages) + " pages.");
        // PostScript level, binary data and shrinking mean nothing to a PDF print queue.
        const int job = quill::pdf::print(d, firstPage, lastPage, doc->title);
        program().logEvent("printed pages " + std::to_string(firstPage + 1) + " to " + std::to_string(lastPage + 1) +
                           " of " + doc->title + " (job " + std::to_string(job) + ")");
    });
}

ACCB1 void ACCB2 impl_AVAlertNote(const char* msg) {
    try {
        program().alert(msg ? msg : "");
    } catch (...) {
        // A note that cannot be logged is lost; the caller goes on regardless.
    }
}

const ProcRegistration reg{AcroViewHFTName,
                           {
                               {AVAppGetActiveDocSEL, reinterpret_cast<void*>(&impl_AVAppGetActiveDoc)},
                               {AVDocGetPDDocSEL, reinterpret_cast<void*>(&impl_AVDocGetPDDoc)},
                               {AVDocCloseSEL, reinterpret_cast<void*>(&impl_AVDocClose)},
                               {AVDocClearSelectionSEL, reinterpret_cast<void*>(&impl_AVDocClearSelection)},
                               {AVDocOpenFromPDDocSEL, reinterpret_cast<void*>(&impl_AVDocOpenFromPDDoc)},
                               {AVDocPrintPagesSEL, reinterpret_cast<void*>(&impl_AVDocPrintPages)},
                               {AVAlertNoteSEL, reinterpret_cast<void*>(&impl_AVAlertNote)},
                           }};

}  // namespace

}  // namespace acro_host
