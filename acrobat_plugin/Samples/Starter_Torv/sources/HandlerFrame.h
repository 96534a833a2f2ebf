// HandlerFrame: what every bridge event handler is built from — the one trap
// that keeps exceptions inside a handler, the reply helpers, Acrobat's error
// messages, and the readers of request parameters.
//
// Everything here runs on Acrobat's main thread inside a handler call.
#pragma once

#include "PIHeaders.h"

#include "BridgeProtocol.h"
#include "Holders.h"
#include "NSAppleEventDescriptor.h"

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace quill::acro {

// The two reply texts every handler may send, from the bridge's words.
using quill::bridge::kDescriptorNotFound;
using quill::bridge::kNoDocument;

// A text object of UTF-8 text: request texts and the separators of the
// plug-in's own lists. Not ASTextFromEncoded, whose encoding is a script
// code of the host, not UTF-8.
inline ASText textFromUTF8(const char* utf8) {
    return ASTextFromUnicode(reinterpret_cast<const ASUTF16Val*>(utf8), kUTF8);
}

// Puts a text into the reply under the reply keyword.
void setReplyText(NSAppleEventDescriptor* reply, std::string_view utf8);

// The reply of the handlers that answer "OK" or the message of the error that
// stopped them: the no-document text when there was nothing to work on.
void replyOutcome(NSAppleEventDescriptor* reply, bool noDocument, const std::string& message);

// Raw UTF-16 units in host byte order, no mark, no terminator. The count is a
// size_t: values and page texts of any length are sent whole.
void setReplyUnits(NSAppleEventDescriptor* reply, const ASUTF16Val* units, std::size_t count);
std::size_t unitCount(const ASUTF16Val* units);
// The text object's units as the reply.
void setReplyFromText(NSAppleEventDescriptor* reply, ASText text);

// Acrobat's message for an error code (at most 255 bytes). Runs in a frame of
// its own so that it is safe to call from a handler part.
std::string errorMessage(ASErrorCode code);

// Shows the message to the Acrobat user in a note; logs it when no note can
// be shown.
void alert(const std::string& message);

void logInternal(const char* what, const char* detail) noexcept;

// Runs `call` in a frame of its own for a release that must not fail the
// request: an Acrobat error or any other exception is logged under `what`
// and goes no further.
template <class Call>
void quietly(const char* what, Call&& call) noexcept {
    try {
        DURING
        call();
        HANDLER
        logInternal(what, errorMessage(ERRORCODE).c_str());
        END_HANDLER
    } catch (...) {
        logInternal(what, "unexpected exception");
    }
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

// Runs `work` in a frame of its own and replies "OK", or Acrobat's message when it raised
// (without a note to the user).
template <class Work>
void replyOkOrMessage(NSAppleEventDescriptor* reply, Work&& work) {
    std::string message;
    DURING
    work();
    HANDLER
    message = errorMessage(ERRORCODE);
    END_HANDLER
    replyOutcome(reply, false, message);
}

// Runs `work` in a frame of its own and replies as the handlers that show
// Acrobat's message in a note do: "OK", the no-document text when `work`
// returns false (it found nothing to work on), or Acrobat's message when it
// raised, which the user also sees in a note.
template <class Work>
void replyAlertingOutcome(NSAppleEventDescriptor* reply, Work&& work) {
    std::string message;
    bool noDocument = false;
    DURING
    noDocument = !work();
    HANDLER
    message = errorMessage(ERRORCODE);
    alert(message);
    END_HANDLER
    replyOutcome(reply, noDocument, message);
}

// The request parameter under `key` as a string, or nil.
NSStringOrNil stringParam(NSAppleEventDescriptor* event, AEKeyword key);

// A request path as an Acrobat path name of type "CFURLRef", made from a
// CFURLRef of the path. Raises when no path name can be made.
ASPathName pathNameFromRequestPath(const NSString& path);

// A text object of a request text.
ASText textFromRequest(const NSString& s);

}  // namespace quill::acro
