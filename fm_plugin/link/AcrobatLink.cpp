// Launch-and-find, the readiness check and the bridge event client.
#include "AcrobatLink.h"

#include <syslog.h>

#include <cstring>

#include "NSWorkspace.h"
#include "ReplyCheck.h"
#include "../frame/Handlers.h"
#include "../frame/PluginError.h"
#include "../frame/TextUtils.h"

namespace {
constexpr OSType kAcrobatCreator = FourCC("CARO");
constexpr OSType kApplicationType = FourCC("APPL");
// Not asynchronous: the launch call returns once Acrobat has started.
constexpr NSWorkspaceLaunchOptions kLaunchOptions = NSWorkspaceLaunchAllowingClassicStartup;
constexpr const char* kAcrobatBundleIDs[] = {"com.adobe.Acrobat.Pro", "com.adobe.Acrobat.Full"};
constexpr UInt32 kProcessInfoLength = sizeof(ProcessInfoRec);
}  // namespace

bool FindAProcess(OSType creator, ProcessSerialNumber* psn) {
    if (!psn) return false;
    psn->highLongOfPSN = 0;
    psn->lowLongOfPSN = kNoProcess;
    Str255 name;
    while (GetNextProcess(psn) == noErr) {
        ProcessInfoRec info;
        std::memset(&info, 0, sizeof info);
        std::memset(name, 0, sizeof name);
        info.processInfoLength = kProcessInfoLength;
        info.processName = name;  // no processAppRef: the bundle is not needed, and finding it costs a look at the disk
        if (GetProcessInformation(psn, &info) != noErr) continue;
        if (info.processType != kApplicationType || info.processSignature != creator) continue;
        // Adobe Reader shares Acrobat's creator code.
        FMp2cstr(name);
        if (FMstrstr(reinterpret_cast<const char*>(name), "Reader")) continue;
        return true;
    }
    return false;
}

bool AcrobatReady(fmx::Data& result) {
    return quill::fm::acrobatLink().ready(result);
}

namespace quill::fm {

void forgetAcrobat() noexcept {
    acrobatLink().close();
}

AcrobatLink& acrobatLink() {
    static AcrobatLink link;
    return link;
}

bool AcrobatLink::launchAndFind(fmx::Data& result) {
    bool launched = false;
    for (const char* bundleID : kAcrobatBundleIDs) {
        launched = NSWorkspace::sharedWorkspace().launchAppWithBundleIdentifier(NSStr(bundleID), kLaunchOptions,
                                                                                nullptr, nullptr);
        if (launched) break;
    }
    if (!launched) {
        // A runtime folder that is not safe stops every launch and every event: say which
        // folder and why, rather than only that Acrobat could not be launched.
        NSStringOrNil why;
        try {
            (void)quill::process::runtimeDir();
        } catch (const std::exception& e) {
            syslog(LOG_ERR, "QuillmarkFM: %s", e.what());
            why = NSStr(e.what());
        }
        setErrorResult(kAcrobatNotFound, why, result);
        return false;
    }
    ProcessSerialNumber psn;
    if (!FindAProcess(kAcrobatCreator, &psn)) {
        // Launched but not among the processes (it quit at once, or runs as
        // Reader only): an event to an empty address could never be answered.
        syslog(LOG_WARNING, "QuillmarkFM: Acrobat launched but its process was not found");
        setErrorResult(kAcrobatNotFound, std::nullopt, result);
        return false;
    }
    NSAppleEventDescriptorRef target =
        NSAppleEventDescriptor::descriptorWithDescriptorType(typeProcessSerialNumber, &psn, sizeof psn);
    if (!target) {
        setErrorResult(kAcrobatNotFound, std::nullopt, result);
        return false;
    }
    psn_ = psn;
    target_ = std::move(target);
    return true;
}

bool AcrobatLink::ready(fmx::Data& result) {
    if (!documentOpen_) {
        setErrorResult(kNoPDFOpen, std::nullopt, result);
        return false;
    }
    // Whether Acrobat still runs is not asked here: the event's connection
    // tells at once when its process has gone, and the exchange then reports
    // it as quit (askAcrobat). Asking first would cost every call a look at
    // the process table for what the send finds out anyway.
    return true;
}

bool AcrobatLink::acrobatRuns() const noexcept {
    ProcessInfoRec info;
    std::memset(&info, 0, sizeof info);
    info.processInfoLength = kProcessInfoLength;
    return GetProcessInformation(&psn_, &info) == noErr;
}

void AcrobatLink::close() noexcept {
    forgetPendingPageEdits();
    documentOpen_ = false;
    target_ = nullptr;
}

NSAppleEventDescriptorRef makeBridgeEvent(AEEventID eventID) {
    return NSAppleEventDescriptor::appleEventWithEventClass(bridge::kBridgeEventClass, eventID, acrobatLink().target(),
                                                            kAutoGenerateReturnID, kAnyTransactionID);
}

NSStringOrNil sendBridgeEvent(const NSAppleEventDescriptorRef& event) {
    // The one exchange every function goes through (ReplyCheck.h); only the text is kept here.
    return exchangeWithAcrobat(event).text;
}

bool replyEquals(const NSStringOrNil& reply, const char* expected) {
    return reply && reply->isEqualToString(NSStr(expected));
}

bool replySame(const NSStringOrNil& reply, const char* expected) {
    return !reply || reply->compare(NSStr(expected)) == NSOrderedSame;
}

NSAppleEventDescriptorRef textItem(const NSString& s) {
    return NSAppleEventDescriptor::descriptorWithString(s);
}

NSString stringOf(const fmx::Text& t) {
    std::u16string units(t.GetSize(), u'\0');
    if (!units.empty()) t.GetUnicode(reinterpret_cast<fmx::uint16*>(units.data()), 0, t.GetSize());
    return NSString(std::move(units));
}

NSAppleEventDescriptorRef textOf(const fmx::Text& t) {
    return textItem(stringOf(t));
}

}  // namespace quill::fm
