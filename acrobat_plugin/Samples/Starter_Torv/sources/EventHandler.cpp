// EventHandler: the bridge event handlers of QuillmarkAcro and the field walk.
#include "EventHandler.h"

#include <syslog.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

PDDoc gPdDoc = nullptr;
bool gPdDocFromWindow = false;
PDDoc subDoc = nullptr;
ASBool fieldFound = false;
MyEventHandler* handler = nullptr;

namespace {

constexpr AEKeyword kKeyErrs = FourCC("errs");
constexpr AEKeyword kKeyList = FourCC("list");
constexpr AEKeyword kKeyCstr = FourCC("cstr");
constexpr AEKeyword kKeyLong = FourCC("long");

constexpr std::string_view kDescriptorNotFound = "Descriptor not found.";
constexpr std::string_view kNoDocument = "No PDF document is open.";

// Acrobat's message texts fit a buffer of this size, terminator included.
constexpr std::size_t kMessageBufferSize = 256;

// Save flags: a full save leaving out unreferenced objects; save as adds a copy.
constexpr PDSaveFlags kSaveFlags = PDSaveFull | PDSaveCollectGarbage;
constexpr PDSaveFlags kSaveAsFlags = PDSaveFull | PDSaveCopy | PDSaveCollectGarbage;

// Word attribute bits that place a space and a line break after a word.
constexpr ASUns16 kWordAdjacentToSpace = WXE_ADJACENT_TO_SPACE;
constexpr ASUns16 kWordLastOnLine = WXE_LAST_WORD_ON_LINE;

OSType codeOf(const char* four) {
    return (static_cast<OSType>(static_cast<unsigned char>(four[0])) << 24) |
           (static_cast<OSType>(static_cast<unsigned char>(four[1])) << 16) |
           (static_cast<OSType>(static_cast<unsigned char>(four[2])) << 8) |
           static_cast<OSType>(static_cast<unsigned char>(four[3]));
}

// ---- replies ---------------------------------------------------------------

void setReplyText(NSAppleEventDescriptor* reply, std::string_view utf8) {
    if (!reply) return;
    NSString text(quill::utf::utf8ToUtf16Lenient(utf8));
    reply->setParamDescriptor(NSAppleEventDescriptor::descriptorWithString(text), kKeyErrs);
}

// The reply of the handlers that answer "OK" or the message of the error that
// stopped them: the no-document text when there was nothing to work on.
void replyOutcome(NSAppleEventDescriptor* reply, bool noDocument, const std::string& message) {
    if (noDocument)
        setReplyText(reply, kNoDocument);
    else
        setReplyText(reply, message.empty() ? std::string("OK") : message);
}

// Raw UTF-16 units in host byte order, no mark, no terminator. The count is a
// size_t: values and page texts of any length are sent whole.
void setReplyUnits(NSAppleEventDescriptor* reply, const ASUTF16Val* units, std::size_t count) {
    if (!reply) return;
    static const ASUTF16Val none = 0;
    if (!units) units = &none;
    auto d = NSAppleEventDescriptor::descriptorWithDescriptorType(typeUnicodeText, units, count * sizeof(ASUTF16Val));
    if (d) reply->setParamDescriptor(d, kKeyErrs);
}

std::size_t unitCount(const ASUTF16Val* units) {
    std::size_t n = 0;
    if (units)
        while (units[n] != 0) ++n;
    return n;
}

void setReplyFromText(NSAppleEventDescriptor* reply, ASText text) {
    const ASUTF16Val* units = ASTextGetUnicode(text);
    setReplyUnits(reply, units, unitCount(units));
}

// Acrobat's message for an error code (at most 255 bytes). Runs in a frame of
// its own so that it is safe to call from a handler part.
std::string errorMessage(ASErrorCode code) {
    char buffer[kMessageBufferSize];
    buffer[0] = '\0';
    DURING
    ASGetErrorString(code, buffer, sizeof buffer);
    HANDLER
    buffer[0] = '\0';
    END_HANDLER
    buffer[sizeof buffer - 1] = '\0';
    if (buffer[0] == '\0') {
        std::snprintf(buffer, sizeof buffer, "Acrobat error %d.", static_cast<int>(code));
    }
    return buffer;
}

void alert(const std::string& message) {
    DURING
    AVAlertNote(message.c_str());
    HANDLER
    syslog(LOG_WARNING, "QuillmarkAcro: %s", message.c_str());
    END_HANDLER
}

void logInternal(const char* what, const char* detail) {
    syslog(LOG_ERR, "QuillmarkAcro: %s: %s", what, detail);
}

// The one trap of every handler: an Acrobat exception that no inner frame
// took becomes Acrobat's message; any other exception a clear error text.
// Nothing leaves the handler.
template <class Body>
void trapHandler(const char* name, NSAppleEventDescriptor* reply, Body&& body) {
    try {
        DURING
        body();
        HANDLER
        setReplyText(reply, errorMessage(ERRORCODE));
        END_HANDLER
    } catch (const std::exception& e) {
        logInternal(name, e.what());
        setReplyText(reply, std::string("An internal error occurred: ") + e.what());
    } catch (...) {
        logInternal(name, "unknown exception");
        setReplyText(reply, "An internal error occurred.");
    }
}

// ---- documents -------------------------------------------------------------

void closeDocQuietly(PDDoc doc) {
    if (!doc) return;
    DURING
    PDDocClose(doc);
    HANDLER
    logInternal("PDDocClose", errorMessage(ERRORCODE).c_str());
    END_HANDLER
}

void releasePathQuietly(ASPathName path) {
    if (!path) return;
    DURING
    ASFileSysReleasePath(nullptr, path);
    HANDLER
    END_HANDLER
}

void closeWindowQuietly(AVDoc window) {
    if (!window) return;
    DURING
    AVDocClose(window, true);
    HANDLER
    logInternal("AVDocClose", errorMessage(ERRORCODE).c_str());
    END_HANDLER
}

// Forgets the working document, closing it when the plug-in owns it.
void dropWorkingDocument() {
    PDDoc old = gPdDoc;
    const bool owned = !gPdDocFromWindow;
    gPdDoc = nullptr;
    gPdDocFromWindow = false;
    if (owned) closeDocQuietly(old);
}

// The field walk makes the front window's document the working document. An
// edit copy made from the previous working document no longer belongs to it:
// saving it later would write another document's pages over the window
// document's file, so it is released together with the old document.
void adoptWindowDocument(PDDoc doc) {
    if (doc == gPdDoc) return;
    PDDoc oldCopy = subDoc;
    subDoc = nullptr;
    closeDocQuietly(oldCopy);
    dropWorkingDocument();
    gPdDoc = doc;
    gPdDocFromWindow = true;
}

// The document the form requests act on: the active window's when Acrobat
// has one (its selection cleared; the field walk also makes it the working
// document), else the working document, or null when there is none. Its
// fields are loaded. Raises like the calls it makes; runs inside the
// caller's exception frame.
PDDoc loadFieldsOfFrontDocument(bool adoptWindow) {
    AVDoc window = AVAppGetActiveDoc();
    PDDoc doc = nullptr;
    if (window) {
        doc = AVDocGetPDDoc(window);
        if (adoptWindow) adoptWindowDocument(doc);
        AFPDDocLoadPDFields(doc);
        AVDocClearSelection(window, true);
    } else {
        doc = gPdDoc;
        if (doc) AFPDDocLoadPDFields(doc);
    }
    return doc;
}

// Makes the edit copy from the working document when there is none. The copy
// becomes subDoc only once every page is in it, so a half-made copy never
// stands in for the document. Raises on failure.
void copyAllPages(PDDoc target, PDDoc source) {
    PDDocInsertPages(target, PDLastPage, source, 0, PDAllPages, PDInsertAll, nullptr, nullptr, nullptr, nullptr);
}

void ensureEditCopy() {
    if (subDoc) return;
    PDDoc copy = PDDocCreate();
    ASErrorCode failed = 0;
    DURING
    copyAllPages(copy, gPdDoc);
    HANDLER
    failed = ERRORCODE;
    if (failed == 0) failed = ErrBuildCode(ErrAlways, ErrSysNone, genErrGeneral);
    END_HANDLER
    if (failed != 0) {
        closeDocQuietly(copy);
        ASRaise(failed);
    }
    subDoc = copy;
}

// A request path as an Acrobat path name of type "CFURLRef". The path is
// percent-escaped for a URL; a path with characters outside ASCII is escaped
// through UTF-8, so such files open too. Raises when no path name can be made.
ASPathName pathNameFromRequestPath(const NSString& path) {
    if (path.length() == 0) ASRaise(ErrBuildCode(ErrAlways, ErrSysNone, genErrBadParm));
    NSStringOrNil escaped = path.stringByAddingPercentEscapesUsingEncoding(NSASCIIStringEncoding);
    if (!escaped) escaped = path.stringByAddingPercentEscapesUsingEncoding(NSUTF8StringEncoding);
    if (!escaped) ASRaise(ErrBuildCode(ErrAlways, ErrSysNone, genErrBadParm));
    return pathNameFromURLText(escaped->UTF8String());
}

NSStringOrNil stringParam(NSAppleEventDescriptor* event, AEKeyword key) {
    if (!event) return std::nullopt;
    NSAppleEventDescriptorRef d = event->paramDescriptorForKeyword(key);
    return d ? d->stringValue() : std::nullopt;
}

// A text object of a request text (host encoding value 2: UTF-8).
ASText textFromRequest(const NSString& s) {
    const std::string utf8 = s.UTF8String();
    return ASTextFromEncoded(utf8.c_str(), 2);
}

void destroyText(ASText t) {
    if (!t) return;
    DURING
    ASTextDestroy(t);
    HANDLER
    END_HANDLER
}

// Frees a buffer that Acrobat allocated when the scope ends.
struct AcrobatBuffer {
    void* p = nullptr;
    ~AcrobatBuffer() {
        if (p) ASfree(p);
    }
};

// ---- append ----------------------------------------------------------------

struct AppendCodeRow {
    ASUns16 errorNumber;  // low 16 bits of the Acrobat error code
    const char* reply;
};

// Append replies by error number; every other number answers "-7".
constexpr AppendCodeRow kAppendCodes[] = {
    {40, "-1"}, {47, "-2"}, {22, "-3"}, {3, "-4"}, {2, "-5"}, {54, "-6"},
};
constexpr const char* kAppendOtherError = "-7";

const char* appendReplyForError(ASErrorCode code) {
    const auto number = static_cast<ASUns16>(static_cast<ASUns32>(code) & 0xFFFFu);
    for (const auto& row : kAppendCodes)
        if (row.errorNumber == number) return row.reply;
    return kAppendOtherError;
}

}  // namespace

// ---- event table -----------------------------------------------------------

namespace {
constexpr BridgeEventRow kBridgeEvents[] = {
    {"KVZ1", &MyEventHandler::handleOpenDocEvent},         {"KVZ2", &MyEventHandler::handleSetFieldEvent},
    {"KVZ3", &MyEventHandler::handleGetFieldEvent},        {"KVZ4", &MyEventHandler::handleSaveAsDocEvent},
    {"KVZ5", &MyEventHandler::handleCloseDocEvent},        {"KVZ6", &MyEventHandler::handleRestoreDefaultsEvent},
    {"KVZ7", &MyEventHandler::handleAppendDocEvent},       {"KVZ8", &MyEventHandler::handlePrintDocEvent},
    {"KVZ9", &MyEventHandler::handleGetDocInfoEvent},      {"KVZa", &MyEventHandler::handleSetDocInfoEvent},
    {"KVZb", &MyEventHandler::handleSaveDocEvent},         {"KVZc", &MyEventHandler::handleGetNumPagesEvent},
    {"KVZd", &MyEventHandler::handleGetTextFromPageEvent}, {"KVZf", &MyEventHandler::handleGetFieldNamesEvent},
    {"KVZg", &MyEventHandler::handleInsertPagesEvent},     {"KVZh", &MyEventHandler::handleDeletePagesEvent},
};
}  // namespace

const BridgeEventRow* bridgeEventTable(std::size_t* count) {
    if (count) *count = std::size(kBridgeEvents);
    return kBridgeEvents;
}

MyEventHandler::MyEventHandler() {
    gPdDoc = nullptr;
    gPdDocFromWindow = false;
    NSAppleEventManager& manager = NSAppleEventManager::sharedAppleEventManager();
    for (const BridgeEventRow& row : kBridgeEvents) {
        manager.setEventHandler(this, row.method, codeOf(kBridgeEventClass), codeOf(row.eventID));
    }
    syslog(LOG_NOTICE, "%s", "Initializing Event Handler");
}

// ---- open, close, restore defaults ----------------------------------------

void MyEventHandler::handleOpenDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("open", replyEvent, [&] {
        NSAppleEventDescriptorRef list = event ? event->paramDescriptorForKeyword(kKeyList) : nullptr;
        NSAppleEventDescriptorRef item = list ? list->descriptorAtIndex(1) : nullptr;
        NSStringOrNil path = item ? item->stringValue() : std::nullopt;
        if (!path) {
            setReplyText(replyEvent, kDescriptorNotFound);
            return;
        }
        std::string replyText = "OK";
        ASPathName pathName = nullptr;
        DURING
        pathName = pathNameFromRequestPath(*path);
        PDDoc opened = PDDocOpenEx(pathName, ASGetDefaultFileSys(), nullptr, nullptr, false);
        // Documents held from earlier requests go once the new one is open;
        // a failed open leaves them as they were.
        PDDoc oldCopy = subDoc;
        subDoc = nullptr;
        if (oldCopy != opened) closeDocQuietly(oldCopy);
        if (gPdDoc != opened) dropWorkingDocument();
        gPdDoc = opened;
        gPdDocFromWindow = false;
        HANDLER
        replyText = errorMessage(ERRORCODE);
        END_HANDLER
        releasePathQuietly(pathName);
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

void MyEventHandler::handleRestoreDefaultsEvent(NSAppleEventDescriptor*, NSAppleEventDescriptor* replyEvent) {
    trapHandler("restore defaults", replyEvent, [&] {
        std::string message;
        bool noDocument = false;
        DURING
        PDDoc target = loadFieldsOfFrontDocument(false);
        if (target) {
            ResetForm(target, CosNewNull(), true);
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

// ---- save, save as, print --------------------------------------------------

void MyEventHandler::handleSaveDocEvent(NSAppleEventDescriptor*, NSAppleEventDescriptor* replyEvent) {
    trapHandler("save", replyEvent, [&] {
        std::string message;
        bool noDocument = false;
        ASPathName path = nullptr;
        DURING
        AVDoc window = AVAppGetActiveDoc();
        if (window) {
            // The window's document goes to its own file; the working
            // document and the edit copy stay as they are, so the edit copy
            // keeps a working document whose file it will be written over.
            PDDoc doc = AVDocGetPDDoc(window);
            path = ASFileAcquirePathName(PDDocGetFile(doc));
            PDDocSave(doc, kSaveFlags, path, nullptr, nullptr, nullptr);
            ASPathName done = path;
            path = nullptr;
            ASFileSysReleasePath(nullptr, done);
            PDDocClearFlags(doc, PDDocNeedsSave);
        } else if (subDoc) {
            if (!gPdDoc) {
                noDocument = true;
            } else {
                // The edit copy is written over the working file first (the
                // write is atomic); only then is the old working document
                // closed. A failed write leaves both documents usable and
                // the file as it was.
                path = ASFileAcquirePathName(PDDocGetFile(gPdDoc));
                PDDocSave(subDoc, kSaveFlags, path, nullptr, nullptr, nullptr);
                ASPathName done = path;
                path = nullptr;
                ASFileSysReleasePath(nullptr, done);
                PDDocClearFlags(subDoc, PDDocNeedsSave);
                PDDoc written = subDoc;
                subDoc = nullptr;
                dropWorkingDocument();
                gPdDoc = written;
                gPdDocFromWindow = false;
            }
        } else if (gPdDoc) {
            path = ASFileAcquirePathName(PDDocGetFile(gPdDoc));
            PDDocSave(gPdDoc, kSaveFlags, path, nullptr, nullptr, nullptr);
            ASPathName done = path;
            path = nullptr;
            ASFileSysReleasePath(nullptr, done);
            PDDocClearFlags(gPdDoc, PDDocNeedsSave);
        } else {
            noDocument = true;
        }
        message.clear();
        HANDLER
        message = errorMessage(ERRORCODE);
        alert(message);
        END_HANDLER
        releasePathQuietly(path);
        replyOutcome(replyEvent, noDocument, message);
    });
}

void MyEventHandler::handleSaveAsDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("save as", replyEvent, [&] {
        NSStringOrNil target = stringParam(event, kKeyCstr);
        if (!target) {
            setReplyText(replyEvent, kDescriptorNotFound);
            return;
        }
        const std::string utf8Path = target->UTF8String();
        std::string message;
        bool noDocument = false;
        ASPathName path = nullptr;
        DURING
        AVDoc window = AVAppGetActiveDoc();
        PDDoc doc = window ? AVDocGetPDDoc(window) : (subDoc ? subDoc : gPdDoc);
        if (!doc) {
            noDocument = true;
        } else {
            path = ASFileSysCreatePathName(nullptr, ASAtomFromString("POSIXPath"), utf8Path.c_str(), nullptr);
            PDDocSave(doc, kSaveAsFlags, path, nullptr, nullptr, nullptr);
            ASPathName done = path;
            path = nullptr;
            ASFileSysReleasePath(nullptr, done);
            PDDocClearFlags(doc, PDDocNeedsSave);
        }
        message.clear();
        HANDLER
        message = errorMessage(ERRORCODE);
        alert(message);
        END_HANDLER
        releasePathQuietly(path);
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
            AVDocPrintPages(window, 0, pages - 1, 2, false, false);
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
        std::string replyText = kAppendOtherError;
        NSAppleEventDescriptorRef first = event ? event->descriptorAtIndex(1) : nullptr;
        NSStringOrNil path = first ? first->stringValue() : std::nullopt;
        if (!path || (!gPdDoc && !subDoc)) {
            setReplyText(replyEvent, replyText);
            return;
        }
        ASPathName pathName = nullptr;
        PDDoc source = nullptr;
        DURING
        pathName = pathNameFromRequestPath(*path);
        ensureEditCopy();
        source = PDDocOpen(pathName, ASGetDefaultFileSys(), nullptr, true);
        ASPathName done = pathName;
        pathName = nullptr;
        ASFileSysReleasePath(nullptr, done);
        copyAllPages(subDoc, source);
        PDDoc opened = source;
        source = nullptr;
        PDDocClose(opened);
        replyText = "OK";
        HANDLER
        replyText = appendReplyForError(ERRORCODE);
        END_HANDLER
        releasePathQuietly(pathName);
        closeDocQuietly(source);
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

// ---- document information --------------------------------------------------

void MyEventHandler::handleGetDocInfoEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("get info", replyEvent, [&] {
        NSStringOrNil key = stringParam(event, kKeyCstr);
        if (!key) {
            setReplyText(replyEvent, kDescriptorNotFound);
            return;
        }
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        ASText value = ASTextNew();
        ASText keyText = nullptr;
        std::string message;
        const ASUTF16Val* units = nullptr;
        std::size_t count = 0;
        DURING
        keyText = textFromRequest(*key);
        PDDocGetInfoASText(gPdDoc, keyText, value);
        units = ASTextGetUnicode(value);
        count = unitCount(units);
        HANDLER
        message = errorMessage(ERRORCODE);
        alert(message);
        END_HANDLER
        if (message.empty())
            setReplyUnits(replyEvent, units, count);
        else
            setReplyText(replyEvent, message);
        destroyText(keyText);
        destroyText(value);
    });
}

void MyEventHandler::handleSetDocInfoEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("set info", replyEvent, [&] {
        NSAppleEventDescriptorRef list = event ? event->paramDescriptorForKeyword(kKeyList) : nullptr;
        NSAppleEventDescriptorRef keyItem = list ? list->descriptorAtIndex(1) : nullptr;
        NSAppleEventDescriptorRef valueItem = list ? list->descriptorAtIndex(2) : nullptr;
        NSStringOrNil key = keyItem ? keyItem->stringValue() : std::nullopt;
        NSStringOrNil value = valueItem ? valueItem->stringValue() : std::nullopt;
        if (!key || !value) {
            setReplyText(replyEvent, "-2");
            return;
        }
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        ASText keyText = textFromRequest(*key);
        ASText valueText = nullptr;
        // A refused or failed store is answered with its message, not "OK" (a document certified
        // with no changes allowed refuses every entry).
        std::string replyText = "OK";
        DURING
        valueText = textFromRequest(*value);
        PDDocSetInfoAsASText(gPdDoc, keyText, valueText);
        HANDLER
        replyText = errorMessage(ERRORCODE);
        alert(replyText);
        END_HANDLER
        destroyText(keyText);
        destroyText(valueText);
        setReplyText(replyEvent, replyText);
    });
}

// ---- page text -------------------------------------------------------------

void MyEventHandler::handleGetTextFromPageEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("page text", replyEvent, [&] {
        NSAppleEventDescriptorRef pageParam = event ? event->paramDescriptorForKeyword(kKeyLong) : nullptr;
        const std::int64_t pageIndex = static_cast<std::int64_t>(pageParam ? pageParam->int32Value() : 0) - 1;
        if (!gPdDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        const ASInt32 pageCount = PDDocGetNumPages(gPdDoc);
        if (pageIndex < 0 || pageIndex >= pageCount) {
            setReplyText(replyEvent, "-1");
            return;
        }
        const auto page = static_cast<ASInt32>(pageIndex);
        PDWordFinder finder = nullptr;
        bool listHeld = false;
        ASText pageText = nullptr, wordText = nullptr, lineBreak = nullptr, space = nullptr;
        DURING
        finder = PDDocCreateWordFinderUCS(gPdDoc, 0, WXE_XY_SORT, nullptr);
        PDWord wordInfo = nullptr;
        ASInt32 wordCount = 0;
        PDWordFinderAcquireWordList(finder, page, &wordInfo, nullptr, nullptr, &wordCount);
        listHeld = true;
        if (wordCount <= 0) {
            setReplyText(replyEvent, "-2");
        } else {
            pageText = ASTextNew();
            wordText = ASTextNew();
            lineBreak = ASTextFromEncoded("\r", 1);
            space = ASTextFromEncoded(" ", 1);
            for (ASInt32 i = 0; i < wordCount; ++i) {
                PDWord word = PDWordFinderGetNthWord(finder, i);
                PDWordGetASText(word, W_SOFT_HYPHEN, wordText);
                ASTextCat(pageText, wordText);
                const ASUns16 attributes = PDWordGetAttr(word);
                if (attributes & kWordAdjacentToSpace) ASTextCat(pageText, space);
                if (attributes & kWordLastOnLine) ASTextCat(pageText, lineBreak);
            }
        }
        listHeld = false;
        PDWordFinderReleaseWordList(finder, page);
        if (pageText) setReplyFromText(replyEvent, pageText);
        HANDLER
        // The message goes to a note only; the reply carries no text.
        alert(errorMessage(ERRORCODE));
        END_HANDLER
        destroyText(wordText);
        destroyText(pageText);
        destroyText(lineBreak);
        destroyText(space);
        if (finder) {
            DURING
            if (listHeld) PDWordFinderReleaseWordList(finder, page);
            PDWordFinderDestroy(finder);
            HANDLER
            END_HANDLER
        }
    });
}

// ---- insert and delete pages -----------------------------------------------

namespace {
const char kInsertOpenFailed[] = "Failed to open source document. ";
const char kInsertAfterOutOfRange[] =
    "Desired position to insert page(s) after is out of range in the destination document.";
const char kInsertStartOutOfRange[] = "Starting page in the source document is out of range.";
const char kInsertCountOutOfRange[] = "Number of pages to insert in the source document out of range.";
const char kInsertFailed[] = "Failed to insert pages. ";
const char kInsertException[] = "An exception occurred when inserting pages. ";
const char kDeleteStartOutOfRange[] = "Starting page to be deleted is out of range.";
const char kDeleteLastOutOfRange[] = "Last page to be deleted is out of range.";
const char kDeleteOrder[] = "Start page cannot be greater than the last page.";
const char kDeleteFailed[] = "Failed to delete pages. ";
const char kDeleteException[] = "An exception occurred when deleting pages. ";

// Items 1..n of a list parameter, all present; false otherwise.
bool listItems(NSAppleEventDescriptor* event, long n, std::vector<NSAppleEventDescriptorRef>& items) {
    NSAppleEventDescriptorRef list = event ? event->paramDescriptorForKeyword(kKeyList) : nullptr;
    if (!list) return false;
    items.clear();
    for (long i = 1; i <= n; ++i) {
        NSAppleEventDescriptorRef item = list->descriptorAtIndex(i);
        if (!item) return false;
        items.push_back(item);
    }
    return true;
}

// The edit copy, made when needed; on failure the reply text names the error.
bool editCopyReady(std::string& replyText, const char* failedPrefix) {
    bool ready = false;
    DURING
    ensureEditCopy();
    ready = true;
    HANDLER
    replyText = std::string(failedPrefix) + errorMessage(ERRORCODE);
    END_HANDLER
    return ready;
}
}  // namespace

void MyEventHandler::handleInsertPagesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("insert pages", replyEvent, [&] {
        std::vector<NSAppleEventDescriptorRef> items;
        NSStringOrNil sourcePath;
        if (listItems(event, 5, items)) sourcePath = items[1]->stringValue();
        if (!sourcePath) {
            setReplyText(replyEvent, std::string(kInsertException) + "The request lacks its page list.");
            return;
        }
        if (!gPdDoc && !subDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        const std::int64_t insertAfter = static_cast<std::int64_t>(items[0]->int32Value()) - 1;
        const std::int64_t firstSource = static_cast<std::int64_t>(items[2]->int32Value()) - 1;
        const std::int64_t pageCount = items[3]->int32Value();
        const ASUns16 flags = items[4]->booleanValue() ? PDInsertBookmarks : PDInsertAll;

        std::string replyText = "0";
        ASPathName pathName = nullptr;
        PDDoc source = nullptr;
        try {
            DURING
            pathName = pathNameFromRequestPath(*sourcePath);
            source = PDDocOpenEx(pathName, ASGetDefaultFileSys(), nullptr, nullptr, false);
            HANDLER
            replyText = std::string(kInsertOpenFailed) + errorMessage(ERRORCODE);
            END_HANDLER
        } catch (const std::exception& e) {
            replyText = std::string(kInsertException) + e.what();
        }
        releasePathQuietly(pathName);
        if (replyText == "0" && editCopyReady(replyText, kInsertFailed)) {
            const std::int64_t targetPages = PDDocGetNumPages(subDoc);
            const std::int64_t sourcePages = PDDocGetNumPages(source);
            // Every failing check replaces the text: the last one is sent.
            if (insertAfter < 0 || insertAfter > targetPages - 1) replyText = kInsertAfterOutOfRange;
            if (firstSource < 0 || firstSource > sourcePages - 1) replyText = kInsertStartOutOfRange;
            if (pageCount < 0 || firstSource + pageCount > sourcePages) replyText = kInsertCountOutOfRange;
        }
        if (replyText == "0") {
            try {
                DURING
                PDDocInsertPages(subDoc, static_cast<ASInt32>(insertAfter), source, static_cast<ASInt32>(firstSource),
                                 static_cast<ASInt32>(pageCount), flags, nullptr, nullptr, nullptr, nullptr);
                PDDoc done = source;
                source = nullptr;
                PDDocClose(done);
                HANDLER
                replyText = std::string(kInsertFailed) + errorMessage(ERRORCODE);
                END_HANDLER
            } catch (const std::exception& e) {
                replyText = std::string(kInsertException) + e.what();
            }
        }
        closeDocQuietly(source);
        setReplyText(replyEvent, replyText);
    });
}

void MyEventHandler::handleDeletePagesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("delete pages", replyEvent, [&] {
        std::vector<NSAppleEventDescriptorRef> items;
        if (!listItems(event, 2, items)) {
            setReplyText(replyEvent, std::string(kDeleteException) + "The request lacks its page list.");
            return;
        }
        if (!gPdDoc && !subDoc) {
            setReplyText(replyEvent, kNoDocument);
            return;
        }
        const std::int64_t last = static_cast<std::int64_t>(items[0]->int32Value()) - 1;
        const std::int64_t first = static_cast<std::int64_t>(items[1]->int32Value()) - 1;
        std::string replyText = "0";
        if (editCopyReady(replyText, kDeleteFailed)) {
            const std::int64_t pages = PDDocGetNumPages(subDoc);
            if (first < 0 || first > pages - 1) replyText = kDeleteStartOutOfRange;
            if (last < 0 || last > pages - 1) replyText = kDeleteLastOutOfRange;
            if (last < first) replyText = kDeleteOrder;
        }
        if (replyText == "0") {
            try {
                DURING
                PDDocDeletePages(subDoc, static_cast<ASInt32>(first), static_cast<ASInt32>(last), nullptr, nullptr);
                HANDLER
                replyText = std::string(kDeleteFailed) + errorMessage(ERRORCODE);
                END_HANDLER
            } catch (const std::exception& e) {
                replyText = std::string(kDeleteException) + e.what();
            }
        }
        setReplyText(replyEvent, replyText);
    });
}

// ---- form fields -----------------------------------------------------------

void MyEventHandler::handleSetFieldEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("set field", replyEvent, [&] {
        fieldFound = false;
        NSAppleEventDescriptorRef list = event ? event->descriptorAtIndex(1) : nullptr;
        NSAppleEventDescriptorRef nameItem =
            list && list->descriptorType() == typeAEList ? list->descriptorAtIndex(1) : nullptr;
        NSAppleEventDescriptorRef valueItem =
            list && list->descriptorType() == typeAEList ? list->descriptorAtIndex(2) : nullptr;
        NSStringOrNil name = nameItem ? nameItem->stringValue() : std::nullopt;
        NSStringOrNil value = valueItem ? valueItem->stringValue() : std::nullopt;
        if (!name || !value) {
            setReplyText(replyEvent, kDescriptorNotFound);
            return;
        }
        std::string replyText = "-2";
        SetFieldClientData data{nullptr, nullptr, 0};
        DURING
        data.name = textFromRequest(*name);
        data.value = textFromRequest(*value);
        doEnumFields(&data, setFieldEnumProc);
        HANDLER
        replyText = errorMessage(ERRORCODE);
        END_HANDLER
        if (fieldFound) {
            // A found field whose value could not be stored is an error, not "OK".
            replyText = data.storeError == 0 ? std::string("OK") : errorMessage(data.storeError);
        }
        destroyText(data.name);
        destroyText(data.value);
        setReplyText(replyEvent, replyText);
    });
}

void MyEventHandler::handleGetFieldEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("get field", replyEvent, [&] {
        NSStringOrNil name = stringParam(event, kKeyCstr);
        if (!name) {
            setReplyText(replyEvent, "-1");
            return;
        }
        GetFieldClientData data{nullptr, nullptr};
        fieldFound = false;
        std::string message;
        DURING
        data.name = textFromRequest(*name);
        doEnumFields(&data, getFieldEnumProc);
        HANDLER
        message = errorMessage(ERRORCODE);
        END_HANDLER
        if (!message.empty() && !fieldFound) {
            setReplyText(replyEvent, message);
        } else if (fieldFound && data.value) {
            setReplyFromText(replyEvent, data.value);
        } else if (fieldFound) {
            setReplyText(replyEvent, "");
        } else {
            setReplyText(replyEvent, "-2");
        }
        destroyText(data.value);
        destroyText(data.name);
    });
}

void MyEventHandler::handleGetFieldNamesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("field names", replyEvent, [&] {
        NSStringOrNil flag = stringParam(event, kKeyCstr);
        FieldNamesClientData data{false, nullptr};
        data.withValues = flag && flag->compare(NSStr("y")) == NSOrderedSame;
        fieldFound = false;
        std::string message;
        DURING
        data.list = ASTextNew();
        doEnumFields(&data, getFieldNamesEnumProc);
        HANDLER
        message = errorMessage(ERRORCODE);
        END_HANDLER
        if (fieldFound && data.list)
            setReplyFromText(replyEvent, data.list);
        else if (!message.empty())
            setReplyText(replyEvent, message);
        else
            setReplyText(replyEvent, "-2");
        destroyText(data.list);
    });
}

void doEnumFields(void* clientData, FieldEnumProc proc) {
    fieldFound = false;
    bool noDocument = false;
    DURING
    PDDoc doc = loadFieldsOfFrontDocument(true);
    if (doc) {
        ASCallback callback = ASCallbackCreate(gExtensionID, reinterpret_cast<void*>(proc));
        AFPDDocEnumPDFields(doc, false, false, reinterpret_cast<AFPDFieldEnumProc>(callback), clientData);
    } else {
        noDocument = true;
    }
    HANDLER
    alert(errorMessage(ERRORCODE));
    END_HANDLER
    if (noDocument) alert(std::string(kNoDocument));
}

namespace {

// The field's own kind when it is one the walk handles ("Tx", "Ch", "Btn");
// null for any other kind and for a field without an "FT" name of its own.
const char* ownFieldKind(PDField field) {
    if (!AFPDFieldIsValid(field)) return nullptr;
    CosObj dict = AFPDFieldGetCosObj(field);
    CosObj kindObj = CosDictGetKeyString(dict, "FT");
    if (CosObjGetType(kindObj) != CosName) return nullptr;
    const char* kind = ASAtomGetString(CosNameValue(kindObj));
    if (!kind) return nullptr;
    for (const char* handled : {"Tx", "Ch", "Btn"})
        if (std::strcmp(kind, handled) == 0) return handled;
    return nullptr;
}

bool fullNameMatches(PDField field, ASText wanted) {
    ASText name = ASTextFromPDText(AFPDFieldGetName(field));
    const ASInt32 order = ASTextCmp(name, wanted);
    ASTextDestroy(name);
    return order == 0;
}

// The field's value as a new text object: a button's own "V" name, a text or
// choice field's string. Raises when the value is not of that form.
ASText readFieldValue(PDField field, const char* kind) {
    if (std::strcmp(kind, "Btn") == 0) {
        CosObj v = CosDictGetKeyString(AFPDFieldGetCosObj(field), "V");
        return ASTextFromPDText(ASAtomGetString(CosNameValue(v)));
    }
    AcrobatBuffer bytes;
    bytes.p = CosCopyStringValue(AFPDFieldGetValue(field), nullptr);
    return ASTextFromPDText(static_cast<const char*>(bytes.p));
}

// Visitors are called from inside Acrobat: no exception may leave them. An
// exception that is not Acrobat's counts as a general Acrobat error.
constexpr ASErrorCode kGeneralError = ErrBuildCode(ErrAlways, ErrSysNone, genErrGeneral);

}  // namespace

ASBool setFieldEnumProc(PDField field, void* clientData) {
    auto* data = static_cast<SetFieldClientData*>(clientData);
    ASBool goOn = true;
    bool matched = false;
    try {
        DURING
        const char* kind = ownFieldKind(field);
        if (kind && fullNameMatches(field, data->name)) {
            matched = true;
            fieldFound = true;
            ASInt32 length = 0;
            AcrobatBuffer bytes;
            bytes.p = ASTextGetPDTextCopy(data->value, &length);
            CosObj dict = AFPDFieldGetCosObj(field);
            CosObj value = CosNewString(CosObjGetDoc(dict), false, static_cast<const char*>(bytes.p), length);
            AFPDFieldSetValue(field, value);
            data->storeError = 0;
            goOn = false;
        }
        HANDLER
        // Go on: a later field of the same name may take the value.
        if (matched) data->storeError = ERRORCODE != 0 ? ERRORCODE : kGeneralError;
        goOn = true;
        END_HANDLER
    } catch (...) {
        if (matched) data->storeError = kGeneralError;
        goOn = true;
    }
    return goOn;
}

ASBool getFieldEnumProc(PDField field, void* clientData) {
    auto* data = static_cast<GetFieldClientData*>(clientData);
    ASBool goOn = true;
    try {
        DURING
        const char* kind = ownFieldKind(field);
        if (kind && fullNameMatches(field, data->name)) {
            fieldFound = true;
            data->value = readFieldValue(field, kind);
            goOn = false;
        }
        HANDLER
        // A matching field whose value cannot be read ends the walk.
        goOn = !fieldFound;
        END_HANDLER
    } catch (...) {
        goOn = !fieldFound;
    }
    return goOn;
}

ASBool getFieldNamesEnumProc(PDField field, void* clientData) {
    auto* data = static_cast<FieldNamesClientData*>(clientData);
    ASText terminator = nullptr;
    ASText separator = nullptr;
    try {
        terminator = ASTextFromEncoded("\r", 1);
        separator = ASTextFromEncoded(":|:", 1);
        DURING
        const char* kind = ownFieldKind(field);
        if (kind) {
            fieldFound = true;
            ASText name = ASTextFromPDText(AFPDFieldGetName(field));
            ASTextCat(data->list, name);
            ASTextDestroy(name);
            if (data->withValues) {
                ASTextCat(data->list, separator);
                ASText value = readFieldValue(field, kind);
                ASTextCat(data->list, value);
                ASTextDestroy(value);
            }
            ASTextCat(data->list, terminator);
        }
        HANDLER
        // The entry ends here: name and separator without a value, or an
        // empty line when the name was not reached.
        DURING
        ASTextCat(data->list, terminator);
        HANDLER
        END_HANDLER
        END_HANDLER
    } catch (...) {
        logInternal("field names", "unexpected exception in the field visitor");
    }
    destroyText(terminator);
    destroyText(separator);
    return true;
}
