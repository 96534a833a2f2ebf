// HandlerFrame: replies, error messages and request readers of the handlers.
#include "HandlerFrame.h"

#include "CFURL.h"
#include "NSString.h"

#include <syslog.h>

#include <cstdio>

namespace quill::acro {

namespace {
// Acrobat's message texts fit a buffer of this size, terminator included.
constexpr std::size_t kMessageBufferSize = 256;
}  // namespace

void setReplyText(NSAppleEventDescriptor* reply, std::string_view utf8) {
    if (!reply) return;
    NSString text(quill::utf::utf8ToUtf16Lenient(utf8));
    reply->setParamDescriptor(NSAppleEventDescriptor::descriptorWithString(text), bridge::keyReplyText);
}

void replyOutcome(NSAppleEventDescriptor* reply, bool noDocument, const std::string& message) {
    if (noDocument)
        setReplyText(reply, kNoDocument);
    else
        setReplyText(reply, message.empty() ? std::string(bridge::kReplyOK) : message);
}

void setReplyUnits(NSAppleEventDescriptor* reply, const ASUTF16Val* units, std::size_t count) {
    if (!reply) return;
    static const ASUTF16Val none = 0;
    if (!units) units = &none;
    auto d = NSAppleEventDescriptor::descriptorWithDescriptorType(typeUnicodeText, units, count * sizeof(ASUTF16Val));
    if (d) reply->setParamDescriptor(d, bridge::keyReplyText);
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

void logInternal(const char* what, const char* detail) noexcept {
    syslog(LOG_ERR, "QuillmarkAcro: %s: %s", what, detail);
}

NSStringOrNil stringParam(NSAppleEventDescriptor* event, AEKeyword key) {
    if (!event) return std::nullopt;
    NSAppleEventDescriptorRef d = event->paramDescriptorForKeyword(key);
    return d ? d->stringValue() : std::nullopt;
}

ASPathName pathNameFromRequestPath(const NSString& path) {
    if (path.length() == 0) ASRaise(ErrBuildCode(ErrAlways, ErrSysNone, genErrBadParm));
    CFURLRef url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, &path, kCFURLPOSIXPathStyle, false);
    if (!url) ASRaise(ErrBuildCode(ErrAlways, ErrSysNone, genErrBadParm));
    // Acrobat keeps its own copy of the path: the URL is ours to release, also
    // when the call raises.
    struct URLRelease {
        CFURLRef url;
        ~URLRelease() { CFRelease(url); }
    } release{url};
    return ASFileSysCreatePathName(nullptr, ASAtomFromString("CFURLRef"), url, nullptr);
}

void releasePathQuietly(ASPathName path) noexcept {
    if (path) quietly("ASFileSysReleasePath", [&] { ASFileSysReleasePath(nullptr, path); });
}

ASText textFromRequest(const NSString& s) {
    const std::string utf8 = s.UTF8String();
    return textFromUTF8(utf8.c_str());
}

void destroyText(ASText t) noexcept {
    if (t) quietly("ASTextDestroy", [&] { ASTextDestroy(t); });
}

void freeQuietly(void* buffer) noexcept {
    if (buffer) quietly("ASfree", [&] { ASfree(buffer); });
}

}  // namespace quill::acro
