// DocumentHandlers: open, close, save, save as, print, append and page count.
#include "EventHandler.h"
#include "HandlerFrame.h"
#include "WorkingDocument.h"

#include <cstdio>
#include <string>

using namespace quill::acro;
namespace bridge = quill::bridge;

namespace {

// Print as PostScript level 2, neither binary nor shrunk to fit.
constexpr ASInt32 kPostScriptLevel2 = 2;

// Save flags: a full save leaving out unreferenced objects; save as adds a copy.
constexpr PDSaveFlags kSaveFlags = PDSaveFull | PDSaveCollectGarbage;
constexpr PDSaveFlags kSaveAsFlags = PDSaveFull | PDSaveCopy | PDSaveCollectGarbage;

// Writes `doc` to `path`, which it takes over and releases, and marks the
// document saved. Raises when the write fails; the file is then as it was.
void saveDocument(PDDoc doc, ASPathName path, PDSaveFlags flags) {
    ScopedPathName held(path);
    PDDocSave(doc, flags, held.get(), nullptr, nullptr, nullptr);
    PDDocClearFlags(doc, PDDocNeedsSave);
}

// Writes `doc` over the file that `fileOwner` was opened from.
void saveOverFileOf(PDDoc doc, PDDoc fileOwner) {
    saveDocument(doc, ASFileAcquirePathName(PDDocGetFile(fileOwner)), kSaveFlags);
}

struct AppendCodeRow {
    ASUns16 errorNumber;  // low 16 bits of the Acrobat error code
    const char* reply;
};

// Append replies by error number; every other number answers the other-error reply.
constexpr AppendCodeRow kAppendCodes[] = {
    {pdErrOpNotPermitted, bridge::kAppendNotPermitted},
    {pdErrCantUseNewVersion, bridge::kAppendNewerFormat},
    {pdErrTooManyPagesForInsert, bridge::kAppendTooManyPages},
    {genErrBadParm, bridge::kAppendBadParameter},
    {genErrNoMemory, bridge::kAppendNoMemory},
    {pdErrWhileRecoverInsertPages, bridge::kAppendRecoveryFailed},
};

const char* appendReplyForError(ASErrorCode code) {
    const auto number = static_cast<ASUns16>(static_cast<ASUns32>(code) & 0xFFFFu);
    for (const auto& row : kAppendCodes)
        if (row.errorNumber == number) return row.reply;
    return bridge::kAppendOtherError;
}

}  // namespace

// ---- open and close --------------------------------------------------------

void MyEventHandler::handleOpenDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("open", replyEvent, [&] {
        NSAppleEventDescriptorRef list = event ? event->paramDescriptorForKeyword(bridge::keyList) : nullptr;
        NSAppleEventDescriptorRef item = list ? list->descriptorAtIndex(1) : nullptr;
        NSStringOrNil path = item ? item->stringValue() : std::nullopt;
        if (!path) {
            setReplyText(replyEvent, kDescriptorNotFound);
            return;
        }
        std::string replyText = "OK";
        DURING
        ScopedPathName pathName(pathNameFromRequestPath(*path));
        PDDoc opened = PDDocOpenEx(pathName.get(), ASGetDefaultFileSys(), nullptr, nullptr, false);
        // Documents held from earlier requests go once the new one is open;
        // a failed open leaves them as they were.
        PDDoc oldCopy = subDoc;
        subDoc = nullptr;
        if (oldCopy != opened) closeDocQuietly(oldCopy);
        replaceWorkingDocument(opened);
        HANDLER
        replyText = errorMessage(ERRORCODE);
        END_HANDLER
        setReplyText(replyEvent, replyText);
    });
}

void MyEventHandler::handleCloseDocEvent(NSAppleEventDescriptor*, NSAppleEventDescriptor* replyEvent) {
    trapHandler("close", replyEvent, [&] {
        std::string replyText = "OK";
        DURING
        AVDoc window = AVAppGetActiveDoc();
        if (window) AVDocClose(window, true);
        // A working document taken from a window belongs to the window: it
        // is forgotten, never closed a second time.
        if (gPdDoc) {
            if (!gPdDocFromWindow) PDDocClose(gPdDoc);
            gPdDoc = nullptr;
            gPdDocFromWindow = false;
        }
        if (subDoc) {
            PDDocClose(subDoc);
            subDoc = nullptr;
        }
        HANDLER
        replyText = errorMessage(ERRORCODE);
        END_HANDLER
        setReplyText(replyEvent, replyText);
    });
}

// ---- save, save as, print --------------------------------------------------

void MyEventHandler::handleSaveDocEvent(NSAppleEventDescriptor*, NSAppleEventDescriptor* replyEvent) {
    trapHandler("save", replyEvent, [&] {
        std::string message;
        bool noDocument = false;
        DURING
        AVDoc window = AVAppGetActiveDoc();
        if (window) {
            // The window's document goes to its own file; the working
            // document and the edit copy stay as they are, so the edit copy
            // keeps a working document whose file it will be written over.
            PDDoc doc = AVDocGetPDDoc(window);
            saveOverFileOf(doc, doc);
        } else if (subDoc) {
            if (!gPdDoc) {
                noDocument = true;
            } else {
                // The edit copy is written over the working file first (the
                // write is atomic); only then is the old working document
                // closed. A failed write leaves both documents usable and
                // the file as it was.
                saveOverFileOf(subDoc, gPdDoc);
                PDDoc written = subDoc;
                subDoc = nullptr;
                replaceWorkingDocument(written);
            }
        } else if (gPdDoc) {
            saveOverFileOf(gPdDoc, gPdDoc);
        } else {
            noDocument = true;
        }
        message.clear();
        HANDLER
        message = errorMessage(ERRORCODE);
        alert(message);
        END_HANDLER
        replyOutcome(replyEvent, noDocument, message);
    });
}

void MyEventHandler::handleSaveAsDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("save as", replyEvent, [&] {
        NSStringOrNil target = stringParam(event, bridge::keyCString);
        if (!target) {
            setReplyText(replyEvent, kDescriptorNotFound);
            return;
        }
        const std::string utf8Path = target->UTF8String();
        std::string message;
        bool noDocument = false;
        DURING
        AVDoc window = AVAppGetActiveDoc();
        PDDoc doc = window ? AVDocGetPDDoc(window) : (subDoc ? subDoc : gPdDoc);
        if (!doc) {
            noDocument = true;
        } else {
            saveDocument(doc,
                         ASFileSysCreatePathName(nullptr, ASAtomFromString("POSIXPath"), utf8Path.c_str(), nullptr),
                         kSaveAsFlags);
        }
        message.clear();
        HANDLER
        message = errorMessage(ERRORCODE);
        alert(message);
        END_HANDLER
        replyOutcome(replyEvent, noDocument, message);
    });
}

void MyEventHandler::handlePrintDocEvent(NSAppleEventDescriptor*, NSAppleEventDescriptor* replyEvent) {
    trapHandler("print", replyEvent, [&] {
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        std::string replyText;
        AVDoc window = nullptr;
        DURING
        window = AVDocOpenFromPDDoc(gPdDoc, nullptr);
        if (window) {
            const ASInt32 pages = PDDocGetNumPages(AVDocGetPDDoc(window));
            AVDocPrintPages(window, 0, pages - 1, kPostScriptLevel2, false, false);
            AVDoc done = window;
            window = nullptr;
            AVDocClose(done, true);
        }
        replyText = "OK";
        HANDLER
        replyText = errorMessage(ERRORCODE);
        alert(replyText);
        END_HANDLER
        // A print window left open would become the active window and redirect
        // later requests to it.
        closeWindowQuietly(window);
        setReplyText(replyEvent, replyText);
    });
}

// ---- append and page count -------------------------------------------------

void MyEventHandler::handleAppendDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("append", replyEvent, [&] {
        std::string replyText = bridge::kAppendOtherError;
        NSAppleEventDescriptorRef first = event ? event->descriptorAtIndex(1) : nullptr;
        NSStringOrNil path = first ? first->stringValue() : std::nullopt;
        if (!path || (!gPdDoc && !subDoc)) {
            setReplyText(replyEvent, replyText);
            return;
        }
        DURING
        ScopedPathName pathName(pathNameFromRequestPath(*path));
        ensureEditCopy();
        ScopedDoc source(PDDocOpen(pathName.get(), ASGetDefaultFileSys(), nullptr, true));
        pathName.reset();
        copyAllPages(subDoc, source.get());
        PDDocClose(source.release());
        replyText = "OK";
        HANDLER
        replyText = appendReplyForError(ERRORCODE);
        END_HANDLER
        setReplyText(replyEvent, replyText);
    });
}

void MyEventHandler::handleGetNumPagesEvent(NSAppleEventDescriptor*, NSAppleEventDescriptor* replyEvent) {
    trapHandler("page count", replyEvent, [&] {
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        const ASInt32 pages = PDDocGetNumPages(gPdDoc);
        char text[16];
        std::snprintf(text, sizeof text, "%d", static_cast<int>(pages));
        setReplyText(replyEvent, text);
    });
}
