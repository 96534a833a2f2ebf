// The link between QuillmarkFM and the one Acrobat process that holds the
// working document: launch-and-find, the readiness check, the link state and
// the bridge event client every event-sending function shares.
//
// Process-global state without a lock: the host calls the plug-in one call at
// a time, and AESendMessage blocks that calling thread until the reply comes
// or 20 seconds pass.
#pragma once

#include "AppleEvents.h"
#include "BridgeProtocol.h"
#include "../frame/PluginSDK.h"
#include "NSAppleEventDescriptor.h"
#include "NSString.h"
#include "Processes.h"

namespace quill::fm {

// The link state, one per process (acrobatLink()): whether a document is open
// through this plug-in, the Acrobat process found when it was opened, and the
// target every bridge event is addressed to.
//
// documentOpen() is true from a successful open until a close, or until an
// exchange finds Acrobat gone; no event but open is sent while it is
// false. The target is built when Acrobat is found and stays until close().
class AcrobatLink {
public:
    bool documentOpen() const noexcept { return documentOpen_; }
    void setDocumentOpen() noexcept { documentOpen_ = true; }

    // Launches Acrobat (Pro, then Full) when needed, finds its process and
    // addresses later events to it. False with -1100 recorded in result
    // otherwise; the earlier target is then kept.
    bool launchAndFind(fmx::Data& result);

    // False (with -1102 already recorded in result) when no document is open;
    // true when an event may be sent. An Acrobat that has gone is found by the
    // event's exchange, which records -1104 (askAcrobat).
    bool ready(fmx::Data& result);

    // Forgets the document and the target: after a close, and at unload (a
    // plug-in initialised again in the same process starts with no document).
    void close() noexcept;

    // True while the Acrobat process found at open still runs.
    bool acrobatRuns() const noexcept;
    // Acrobat has gone with the document: no document is open any more, as
    // when ready() finds it gone.
    void acrobatQuit() noexcept { documentOpen_ = false; }

    // The retained target of every bridge event, or none.
    const NSAppleEventDescriptorRef& target() const noexcept { return target_; }

private:
    bool documentOpen_ = false;
    ProcessSerialNumber psn_ = {0, kNoProcess};
    NSAppleEventDescriptorRef target_;
};

AcrobatLink& acrobatLink();

}  // namespace quill::fm

// Searches the running processes for an application (type APPL) with this
// creator whose name does not contain "Reader"; the first in the Process
// Manager's order wins. True with its PSN in *psn.
bool FindAProcess(OSType creator, ProcessSerialNumber* psn);

// The readiness check every event-sending function but open starts with:
// acrobatLink().ready(result).
bool AcrobatReady(fmx::Data& result);

namespace quill::fm {

// A bridge event of the bridge's class with this ID, addressed to the link's
// target.
NSAppleEventDescriptorRef makeBridgeEvent(AEEventID eventID);
// Sends with a 20-second wait and returns the reply's errs text, or nil when
// the reply holds none (time-out, no handler, nothing sent back). Functions
// use askAcrobat (ReplyCheck.h), which tells these cases apart.
NSStringOrNil sendBridgeEvent(const NSAppleEventDescriptorRef& event);

// The two reply tests. Equality: a missing text equals nothing. Ordering: a
// missing text compares as the same as anything.
bool replyEquals(const NSStringOrNil& reply, const char* expected);
bool replySame(const NSStringOrNil& reply, const char* expected);

// Request items.
NSAppleEventDescriptorRef textItem(const NSString& s);
NSString stringOf(const fmx::Text& t);  // the text's UTF-16 units
NSAppleEventDescriptorRef textOf(const fmx::Text& t);

// The bridge's names: event ids as bridge::k...Event, and its keywords.
namespace bridge = quill::bridge;
using bridge::keyCString;
using bridge::keyList;
using bridge::keyLong;
using bridge::keyReplyText;

}  // namespace quill::fm
