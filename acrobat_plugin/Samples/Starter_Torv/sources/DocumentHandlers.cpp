// DocumentHandlers: open, close, save, save as, print, append and page count.
#include "EventHandler.h"
#include "HandlerFrame.h"
#include "Sessions.h"
#include "WorkingDocument.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

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

ASPathName posixPathName(const std::string& utf8Path) {
    return ASFileSysCreatePathName(nullptr, ASAtomFromString("POSIXPath"), utf8Path.c_str(), nullptr);
}

// A private scratch file in the temporary folder, removed when the scope ends.
class ScratchFile {
public:
    ScratchFile() {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillmark-copy-XXXXXX";
        const int fd = ::mkstemp(path_.data());
        if (fd < 0) {
            path_.clear();
            ASRaise(ErrBuildCode(ErrAlways, ErrSysASFile, fileErrWrite));
        }
        ::close(fd);
    }
    ~ScratchFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Save as while page edits wait: the working document, with every change
// made to it, is written to a scratch file; that copy is opened, given the
// page edits and written to the target. The working document keeps its
// pages and its edits stay pending for the save.
void saveCopyWithPageEdits(PDDoc doc, const std::string& utf8Path) {
    ScratchFile scratch;
    saveDocument(doc, posixPathName(scratch.path()), kSaveAsFlags);
    ScopedDoc copy;
    {
        ScopedPathName scratchName(posixPathName(scratch.path()));
        copy.reset(PDDocOpen(scratchName.get(), ASGetDefaultFileSys(), nullptr, false));
    }
    editCopy.replayOn(copy.get());
    saveDocument(copy.get(), posixPathName(utf8Path), kSaveAsFlags);
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
        replyOkOrMessage(replyEvent, [&] {
            ScopedPathName pathName(pathNameFromRequestPath(*path));
            PDDoc opened = PDDocOpenEx(pathName.get(), ASGetDefaultFileSys(), nullptr, nullptr, false);
            // Documents and page edits held from earlier requests go once the
            // new one is open; a failed open leaves them as they were.
            editCopy.clear();
            replaceWorkingDocument(opened);
        });
    });
}

void MyEventHandler::handleCloseDocEvent(NSAppleEventDescriptor*, NSAppleEventDescriptor* replyEvent) {
    trapHandler("close", replyEvent, [&] {
        replyOkOrMessage(replyEvent, [] {
            AVDoc window = activeWindowOfSender();
            if (window) AVDocClose(window, true);
            // A working document taken from a window belongs to the window: it
            // is forgotten, never closed a second time.
            if (gPdDoc) {
                if (!gPdDocFromWindow) PDDocClose(gPdDoc);
                gPdDoc = nullptr;
                gPdDocFromWindow = false;
            }
            editCopy.clear();
        });
    });
}

// ---- save, save as, print --------------------------------------------------

void MyEventHandler::handleSaveDocEvent(NSAppleEventDescriptor*, NSAppleEventDescriptor* replyEvent) {
    trapHandler("save", replyEvent, [&] {
        replyAlertingOutcome(replyEvent, [] {
            AVDoc window = activeWindowOfSender();
            if (window) {
                // The window's document goes to its own file; the working
                // document and its page edits stay as they are.
                PDDoc doc = AVDocGetPDDoc(window);
                saveOverFileOf(doc, doc);
                return true;
            }
            if (!gPdDoc) return false;
            // Pending page edits are made on the working document just
            // before the write, so the file gets them together with every
            // field and information change. The write is atomic: when it
            // fails the file is as it was and the document, edits made,
            // waits for the next save.
            editCopy.applyTo(gPdDoc);
            saveOverFileOf(gPdDoc, gPdDoc);
            return true;
        });
    });
}

void MyEventHandler::handleSaveAsDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("save as", replyEvent, [&] {
        NSStringOrNil target = stringParam(event, bridge::keyCString);
        if (!target) {
            setReplyText(replyEvent, kDescriptorNotFound);
            return;
        }
        const std::string utf8Path = target->fileSystemRepresentation();  // path bytes, UTF-8 or not
        replyAlertingOutcome(replyEvent, [&] {
            AVDoc window = activeWindowOfSender();
            PDDoc doc = window ? AVDocGetPDDoc(window) : gPdDoc;
            if (!doc) return false;
            if (!window && editCopy.pending())
                saveCopyWithPageEdits(doc, utf8Path);
            else
                saveDocument(doc, posixPathName(utf8Path), kSaveAsFlags);
            return true;
        });
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
        replyText = bridge::kReplyOK;
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
        if (!path || !gPdDoc) {
            setReplyText(replyEvent, replyText);
            return;
        }
        if (pageChangesDenied(gPdDoc, PDPermReqOprInsert)) {
            setReplyText(replyEvent, bridge::kAppendCertified);
            return;
        }
        ASErrorCode failed = 0;
        DURING
        ScopedPathName pathName(pathNameFromRequestPath(*path));
        ScopedDoc source(PDDocOpen(pathName.get(), ASGetDefaultFileSys(), nullptr, true));
        pathName.reset();
        // The pages go to the end of the document at the save; the edit
        // keeps the source open until then.
        const ASInt32 pages = PDDocGetNumPages(source.get());
        editCopy.insert(gPdDoc, PDLastPage, source.release(), 0, pages, PDInsertAll);
        replyText = bridge::kReplyOK;
        HANDLER
        failed = ERRORCODE;
        END_HANDLER
        if (failed != 0) {
            replyText = appendReplyForError(failed);
            // Acrobat's words say why a file could not be used (missing, not a PDF, protected).
            if (replyText == bridge::kAppendOtherError) replyText += " " + errorMessage(failed);
        }
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
