// Document functions: open, close, save, save as, print, append, page count.
#include <array>
#include <string>

#include "Common.h"
#include "../frame/Guard.h"
#include "../frame/Handlers.h"
#include "../frame/PluginError.h"
#include "../link/AcrobatLink.h"
#include "../link/ReplyCheck.h"

using namespace quill::fm;

namespace {

struct AppendFailure {
    const char* reply;
    const char* words;
};

// Acrobat's words for the failing append replies, in test order.
constexpr std::array<AppendFailure, 7> kAppendFailures = {{
    {bridge::kAppendNotPermitted, "Operation not permitted."},
    {bridge::kAppendNewerFormat,
     "This document contains information not understood by the viewer. It may be in a newer file format."},
    {bridge::kAppendTooManyPages, "Too many pages for insertion."},
    {bridge::kAppendBadParameter, "Bad parameter."},
    {bridge::kAppendNoMemory, "Insufficient memory to complete the operation."},
    {bridge::kAppendRecoveryFailed,
     "There was an error while inserting pages and another error while trying to recover."},
    {bridge::kAppendCertified, bridge::kPagesCertified},
}};
constexpr const char* kAppendUnspecified = "Unspecified error. Try operation again.";

// Why the append stopped, which file stopped it, and what became of the files before it (they
// stay appended: a save writes them).
NSString appendFailure(const std::string& words, const NSString& path, std::size_t before) {
    std::string text = words;
    text += path.length() == 0 ? " An empty path (no file) was not appended"
                               : " The file \"" + path.UTF8String() + "\" was not appended";
    if (before == 1) text += "; the file before it was appended and stays appended";
    if (before > 1) text += "; the " + std::to_string(before) + " files before it were appended and stay appended";
    return NSStr(text + ".");
}

// Open and save as: "OK" leaves a document open; any other answer is the
// communication error with Acrobat's text.
void answerDocumentReply(const NSStringOrNil& reply, fmx::Data& result) {
    if (replyEquals(reply, bridge::kReplyOK)) {
        acrobatLink().setDocumentOpen();
        setSuccessResult(result);
    } else {
        setErrorResult(kCommunication, reply, result);
    }
}

}  // namespace

QUILL_FM_HANDLER(Do_Torv_OpenPDF) {
    return guardedHandler("Torv_OpenPDF", result, [&] {
        if (acrobatLink().documentOpen()) return setErrorResult(kPDFAlreadyOpen, std::nullopt, result);
        if (parms.Size() != 1) return setErrorResult(kInvalidParamCount, std::nullopt, result);

        fmx::TextUniquePtr pathText;
        pathText->SetText(parms.AtAsText(0));
        char path[kPathBufferSize] = {};
        char fullPath[kPathBufferSize] = {};
        FSRef ref;
        if (!copyPathText(*pathText, path) || pathToFSRef(path, &ref, fullPath) != noErr)
            return setErrorResult(kFileNotFound, std::nullopt, result);

        if (!acrobatLink().launchAndFind(result)) return;

        NSAppleEventDescriptorRef list = NSAppleEventDescriptor::initListDescriptor();
        // The full path checked, so that a relative path opens the file
        // looked at here, whatever Acrobat's own working folder. The empty
        // text (checked as "/") still travels empty.
        list->insertDescriptor(textItem(pathString(path[0] ? fullPath : "")), 0);
        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kOpenDocEvent);
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
        const auto reply = askAcrobat(makeBridgeEvent(bridge::kCloseDocEvent), result);
        acrobatLink().close();
        if (reply) setSuccessResult(result);
    });
}

QUILL_FM_HANDLER(Do_Torv_SavePDF) {
    return guardedHandler("Torv_SavePDF", result, [&] {
        if (!AcrobatReady(result)) return;
        // Acrobat shows a failed save to its user and answers with the same
        // text, which is reported as a failed save as is answered.
        const auto reply = askAcrobat(makeBridgeEvent(bridge::kSaveDocEvent), result);
        if (!reply) return;
        if (replyEquals(*reply, bridge::kReplyOK))
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
        char fullPath[kPathBufferSize] = {};
        FSRef ref;
        const OSStatus status = pathToFSRef(path, &ref, fullPath);
        if (status != noErr && status != fnfErr) return setErrorResult(kInvalidParamValue, std::nullopt, result);
        const std::size_t length = FMstrlen(path);
        if (length > 0 && path[length - 1] == '/') return setErrorResult(kInvalidParamValue, std::nullopt, result);

        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kSaveAsDocEvent);
        event->setParamDescriptor(textItem(pathString(fullPath)), keyCString);
        const auto reply = askAcrobat(event, result);
        if (!reply) return;
        answerDocumentReply(*reply, result);
    });
}

QUILL_FM_HANDLER(Do_Torv_PrintPDF) {
    return guardedHandler("Torv_PrintPDF", result, [&] {
        if (!AcrobatReady(result)) return;
        const auto reply = askAcrobat(makeBridgeEvent(bridge::kPrintDocEvent), result);
        if (!reply) return;
        // A reply without a text is no proof that anything was printed.
        if (replyEquals(*reply, bridge::kReplyOK))
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
        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kAppendDocEvent);
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const NSString& piece = pieces[i];
            event->setParamDescriptor(textItem(fullPathText(piece)), keyCString);
            const auto answered = askAcrobat(event, result);
            if (!answered) return;
            const NSStringOrNil& reply = *answered;
            if (replyEquals(reply, bridge::kReplyOK)) continue;
            // A missing reply matches the first test, "-1".
            for (const AppendFailure& failure : kAppendFailures) {
                if (replySame(reply, failure.reply))
                    return setErrorResult(kAppendNotEditable, appendFailure(failure.words, piece, i), result);
            }
            // The other-error reply may carry Acrobat's words for what stopped the file.
            const NSString otherWithWords = NSStr(std::string(bridge::kAppendOtherError) + " ");
            const std::string words = reply && reply->hasPrefix(otherWithWords)
                                          ? reply->substringFromIndex(otherWithWords.length()).UTF8String()
                                          : kAppendUnspecified;
            return setErrorResult(kAppendFailed, appendFailure(words, piece, i), result);
        }
        setSuccessResult(result);
    });
}

QUILL_FM_HANDLER(Do_Torv_GetNumPages) {
    return guardedHandler("Torv_GetNumPages", result, [&] {
        if (!AcrobatReady(result)) return;
        const auto reply = askAcrobat(makeBridgeEvent(bridge::kGetNumPagesEvent), result);
        if (!reply) return;
        // A reply without a count is no count.
        if (!*reply) return setErrorResult(kCommunication, std::nullopt, result);
        // Whatever Acrobat answered is the result; the store is left alone.
        setResultUnits(result, **reply, *systemLocale());
    });
}
