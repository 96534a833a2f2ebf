// The one reply check of QuillmarkFM: every event-sending function sends its
// bridge event through askAcrobat, which tells an answer from a failure to get
// one, so that no function reads a missing reply as success.
//
// Same threading as the link: the host calls one function at a time.
#pragma once

#include <optional>

#include "../frame/PluginSDK.h"
#include "NSAppleEventDescriptor.h"
#include "NSString.h"

namespace quill::fm {

// What one exchange with Acrobat came to.
struct BridgeExchange {
    enum class Outcome {
        Answered,    // a reply came; `text` is its errs text, or nil when it holds none
        TimedOut,    // no reply within the 20-second wait; Acrobat still runs
        Gone,        // Acrobat is no longer running (killed, crashed, quit)
        NotCarried,  // the event could not be sent or its reply not read
    };
    Outcome outcome = Outcome::NotCarried;
    OSStatus status = noErr;  // what AESendMessage answered
    NSStringOrNil text;
};

// Sends the event to `target`, waits (replyWaitTicks), and says what came of it.
BridgeExchange exchangeWithAcrobat(const NSAppleEventDescriptorRef& event);

// How long a call waits for Acrobat's answer, in 1/60 s: 20 seconds; a save, save as or close
// waits besides up to a tenth of a second for every file appended and every insert of pages since
// the document was opened or last saved (the edits it carries out or drops), so that a call whose
// work grows with what was asked of it is answered when done. The request carries the moment its
// sender stops waiting; a save still running then leaves its file untouched.
long replyWaitTicks(AEEventID eventID);
// Forgets the pending page edits (the document was closed or Acrobat has gone).
void forgetPendingPageEdits() noexcept;

// Sends the event and checks that Acrobat answered. Answered: the reply's errs
// text (nil when the reply holds none; each function decides what that means,
// never success). Otherwise the error is already recorded in `result` and the
// answer is nullopt:
//   - Acrobat has gone: -1104, and no document is open any more (as the
//     readiness check does);
//   - no answer within 20 seconds: -1115 with a text that says Acrobat is busy
//     and may still carry the request out; when the call before timed out too,
//     the text says Acrobat is still busy with that earlier request;
//   - the event could not be carried: -1106 with the system's status.
std::optional<NSStringOrNil> askAcrobat(const NSAppleEventDescriptorRef& event, fmx::Data& result);

// True while the last exchange ended without an answer in time.
bool acrobatWasBusy();

}  // namespace quill::fm
