// Document functions: open, close, save, save as, print, append, page count.
#include <array>

#include "Common.h"
#include "../frame/Guard.h"
#include "../frame/Handlers.h"
#include "../frame/PluginError.h"
#include "../link/AcrobatLink.h"
#include "../link/ReplyCheck.h"

using namespace quill::fm;

namespace {
constexpr AEEventID kOpenEvent = FourCC("KVZ1");
constexpr AEEventID kSaveAsEvent = FourCC("KVZ4");
constexpr AEEventID kCloseEvent = FourCC("KVZ5");
constexpr AEEventID kAppendEvent = FourCC("KVZ7");
constexpr AEEventID kPrintEvent = FourCC("KVZ8");
constexpr AEEventID kSaveEvent = FourCC("KVZb");
constexpr AEEventID kPageCountEvent = FourCC("KVZc");

// Acrobat's words for the failing append replies "-1" to "-6", in test order.
constexpr std::array<const char*, 6> kAppendFailures = {
    "Operation not permitted.",
    "This document contains information not understood by the viewer. It may be in a newer file format.",
    "Too many pages for insertion.",
    "Bad parameter.",
    "Insufficient memory to complete the operation.",
    "There was an error while inserting pages and another error while trying to recover.",
};
constexpr const char* kAppendUnspecified = "Unspecified error. Try operation again.";

// Open and save as: "OK" leaves a document open; any other answer is the
// communication error with Acrobat's text.
void answerDocumentReply(const NSStringOrNil& reply, fmx::Data& result) {
    if (replyEquals(reply, "OK")) {
        bPDFOpened = true;
        setSuccessResult(result);
    } else {
        setErrorResult(kCommunication, reply, result);
    }
}

}  // namespace

QUILL_FM_HANDLER(Do_Torv_OpenPDF) {
    return guardedHandler("Torv_OpenPDF", result, [&] {
        if (bPDFOpened) return setErrorResult(kPDFAlreadyOpen, std::nullopt, result);
        if (parms.Size() != 1) return setErrorResult(kInvalidParamCount, std::nullopt, result);

        fmx::Text pathText;
        pathText.SetText(parms.AtAsText(0));
        char path[kPathBufferSize] = {};
        FSRef ref;
        if (!copyPathText(pathText, path) || pathToFSRef(path, &ref, nullptr) != noErr)
            return setErrorResult(kFileNotFound, std::nullopt, result);

        if (!launchAndFindAcrobat(result)) return;
        buildTarget();

        NSAppleEventDescriptorRef list = NSAppleEventDescriptor::initListDescriptor();
        list->insertDescriptor(textItem(NSStr(path)), 0);
        NSAppleEventDescriptorRef event = makeBridgeEvent(kOpenEvent);
        event->setParamDescriptor(list, keyList);
        const auto reply = askAcrobat(event, result);
        if (!reply) return;
        answerDocumentReply(*reply, result);
    });
}

QUILL_FM_HANDLER(Do_Torv_ClosePDF) {
    return guardedHandler("Torv_ClosePDF", result, [&] {
        if (!AcrobatReady(result)) return;
        // Whatever Acrobat answers, the close counts as done; an Acrobat that
        // did not answer at all is reported, and the link is closed all the same.
        const auto reply = askAcrobat(makeBridgeEvent(kCloseEvent), result);
        closeLink();
        if (reply) setSuccessResult(result);
    });
}

QUILL_FM_HANDLER(Do_Torv_SavePDF) {
    return guardedHandler("Torv_SavePDF", result, [&] {
        if (!AcrobatReady(result)) return;
        // Acrobat shows a failed save to its user and answers with the same
        // text, which is reported as a failed save as is answered.
        const auto reply = askAcrobat(makeBridgeEvent(kSaveEvent), result);
        if (!reply) return;
        if (replyEquals(*reply, "OK"))
            setSuccessResult(result);
        else
            setErrorResult(kCommunication, *reply, result);
    });
}

QUILL_FM_HANDLER(Do_Torv_SaveAsPDF) {
    return guardedHandler("Torv_SaveAsPDF", result, [&] {
        if (!AcrobatReady(result)) return;
        const fmx::Text& pathText = parms.AtAsText(0);
        if (pathText.GetSize() == 0) return setErrorResult(kInvalidParamCount, std::nullopt, result);

        char path[kPathBufferSize] = {};
        if (!copyPathText(pathText, path)) return setErrorResult(kInvalidParamValue, std::nullopt, result);
        FSRef ref;
        const OSStatus status = pathToFSRef(path, &ref, nullptr);
        if (status != noErr && status != fnfErr) return setErrorResult(kInvalidParamValue, std::nullopt, result);
        const std::size_t length = FMstrlen(path);
        if (length > 0 && path[length - 1] == '/') return setErrorResult(kInvalidParamValue, std::nullopt, result);

        NSAppleEventDescriptorRef event = makeBridgeEvent(kSaveAsEvent);
        event->setParamDescriptor(textItem(NSStr(path)), keyCString);
        const auto reply = askAcrobat(event, result);
        if (!reply) return;
        answerDocumentReply(*reply, result);
    });
}

QUILL_FM_HANDLER(Do_Torv_PrintPDF) {
    return guardedHandler("Torv_PrintPDF", result, [&] {
        if (!AcrobatReady(result)) return;
        const auto reply = askAcrobat(makeBridgeEvent(kPrintEvent), result);
        if (!reply) return;
        // A reply without a text is no proof that anything was printed.
        if (replyEquals(*reply, "OK"))
            setSuccessResult(result);
        else
            setErrorResult(kUndefined, *reply, result);
    });
}

QUILL_FM_HANDLER(Do_Torv_AppendPDF) {
    return guardedHandler("Torv_AppendPDF", result, [&] {
        if (!AcrobatReady(result)) return;
        const NSString paths = stringOf(parms.AtAsText(0));
        if (paths.length() == 0) return setSuccessResult(result);

        // Empty pieces stay: a trailing carriage return sends an empty path.
        const std::vector<NSString> pieces = paths.componentsSeparatedByString(NSStr("\r"));
        NSAppleEventDescriptorRef event = makeBridgeEvent(kAppendEvent);
        for (const NSString& piece : pieces) {
            event->setParamDescriptor(textItem(piece), keyCString);
            const auto answered = askAcrobat(event, result);
            if (!answered) return;
            const NSStringOrNil& reply = *answered;
            if (replyEquals(reply, "OK")) continue;
            // A missing reply matches the first test, "-1".
            for (std::size_t i = 0; i < kAppendFailures.size(); ++i) {
                const std::string code = "-" + std::to_string(i + 1);
                if (replySame(reply, code.c_str()))
                    return setErrorResult(kAppendNotEditable, NSStr(kAppendFailures[i]), result);
            }
            return setErrorResult(kAppendFailed, NSStr(kAppendUnspecified), result);
        }
        setSuccessResult(result);
    });
}

QUILL_FM_HANDLER(Do_Torv_GetNumPages) {
    return guardedHandler("Torv_GetNumPages", result, [&] {
        if (!AcrobatReady(result)) return;
        const auto reply = askAcrobat(makeBridgeEvent(kPageCountEvent), result);
        if (!reply) return;
        // A reply without a count is no count.
        if (!*reply) return setErrorResult(kCommunication, std::nullopt, result);
        // Whatever Acrobat answered is the result; the store is left alone.
        setResultUnits(result, **reply, systemLocale());
    });
}
