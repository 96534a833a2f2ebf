// The link between QuillmarkFM and the one Acrobat process that holds the
// working document: launch-and-find, the readiness check, the link state and
// the bridge event client every event-sending function shares.
//
// Process-global state without a lock: the host calls the plug-in one call at
// a time, and AESendMessage blocks that calling thread until the reply comes
// or 20 seconds pass.
#pragma once

#include "AppleEvents.h"
#include "FMWrapper.h"
#include "NSAppleEventDescriptor.h"
#include "NSString.h"
#include "Processes.h"

// Link state.
extern bool bPDFOpened;                   // a document is open through this plug-in
extern ProcessSerialNumber gPSN;          // the Acrobat process found at open
extern AEAddressDesc tgtAddress;          // its address; data present = it could be built
extern NSAppleEventDescriptorRef target;  // retained target of every bridge event, or none

// Searches the running processes for an application (type APPL) with this
// creator whose name does not contain "Reader"; the first in the Process
// Manager's order wins. True with its PSN in *psn.
bool FindAProcess(OSType creator, ProcessSerialNumber* psn);

// False (with -1102 or -1104 already recorded in result) when no document is
// open or the Acrobat process has gone; true when an event may be sent.
bool AcrobatReady(fmx::Data& result);

namespace quill::fm {

// Launches Acrobat (Pro, then Full) when needed and finds its process; sets
// gPSN and tgtAddress. False with -1100 recorded in result otherwise.
bool launchAndFindAcrobat(fmx::Data& result);

// Makes `target` from gPSN (replacing any earlier one).
void buildTarget();

// Clears the link as a close does: no document, no address, no target.
void closeLink();
// Releases what the link holds (at shut-down); the link is closed too.
void releaseLink();

// A bridge event of class KVZg with this ID, addressed to `target`.
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

// Keywords and event IDs of the bridge.
inline constexpr AEEventClass kBridgeEventClass = FourCC("KVZg");
inline constexpr AEKeyword keyList = FourCC("list");
inline constexpr AEKeyword keyCString = FourCC("cstr");
inline constexpr AEKeyword keyLong = FourCC("long");
inline constexpr AEKeyword keyReplyText = FourCC("errs");
inline constexpr long kBridgeTimeoutTicks = 1200;

}  // namespace quill::fm
