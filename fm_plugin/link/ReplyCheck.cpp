// The shared reply check: one send, and the outcome of the exchange sorted
// into an answer, a busy Acrobat, a vanished Acrobat or a failed send.
#include "ReplyCheck.h"

#include <syslog.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "AcrobatLink.h"
#include "../frame/PluginError.h"

namespace quill::fm {

namespace {

constexpr std::int16_t kCouldNotSend = -1106;

bool gLastTimedOut = false;

// Files appended or pages inserted since the document was opened or last saved: the page edits a
// save carries out and a close drops, each taking the application time of its own.
long gPendingPageEdits = 0;

// The longest a page edit may add to the work of the call that carries it out (1/60 s): many times
// what appending a one-page form and writing it costs, so that a save of ten thousand appended
// files is answered when it is done, while an application that stops answering is still noticed.
constexpr long kTicksPerPendingEdit = 6;

// How long a call waits for Acrobat's answer; $QUILLMARK_REPLY_TIMEOUT_TICKS (1/60 s) shortens
// it for tests of late answers.
long replyTimeoutTicks() {
    static const long ticks = [] {
        const char* env = std::getenv("QUILLMARK_REPLY_TIMEOUT_TICKS");
        const long v = env ? std::strtol(env, nullptr, 10) : 0;
        return v > 0 ? v : bridge::kReplyTimeoutTicks;
    }();
    return ticks;
}

bool acrobatRuns() {
    return acrobatLink().acrobatRuns();
}

// A killed process closes its sockets a moment before the system stops
// listing it: a connection that broke is given that moment before Acrobat
// counts as running.
bool acrobatGoneAfterBreak() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (acrobatRuns()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The calls that carry out or drop the pending page edits wait for them too.
bool carriesPageEdits(AEEventID id) {
    return id == bridge::kSaveDocEvent || id == bridge::kSaveAsDocEvent || id == bridge::kCloseDocEvent;
}

// Keeps the count of pending page edits in step with what Acrobat answered.
void notePageEdits(AEEventID id, const BridgeExchange& ex) {
    if (ex.outcome != BridgeExchange::Outcome::Answered) {
        if (ex.outcome == BridgeExchange::Outcome::Gone) gPendingPageEdits = 0;
        return;
    }
    if (id == bridge::kAppendDocEvent && ex.text && ex.text->isEqualToString(NSStr(bridge::kReplyOK)))
        ++gPendingPageEdits;
    else if (id == bridge::kInsertPagesEvent && ex.text && ex.text->isEqualToString(NSStr(bridge::kReplyPagesDone)))
        ++gPendingPageEdits;
    else if (id == bridge::kOpenDocEvent || id == bridge::kCloseDocEvent ||
             (id == bridge::kSaveDocEvent && ex.text && ex.text->isEqualToString(NSStr(bridge::kReplyOK))))
        gPendingPageEdits = 0;
}

}  // namespace

long replyWaitTicks(AEEventID eventID) {
    const long base = replyTimeoutTicks();
    if (!carriesPageEdits(eventID)) return base;
    constexpr long kLongest = 0x7FFFFFFF;
    const long extra = gPendingPageEdits > (kLongest - base) / kTicksPerPendingEdit
                           ? kLongest - base
                           : gPendingPageEdits * kTicksPerPendingEdit;
    return base + extra;
}

void forgetPendingPageEdits() noexcept {
    gPendingPageEdits = 0;
}

BridgeExchange exchangeWithAcrobat(const NSAppleEventDescriptorRef& event) {
    BridgeExchange ex;
    if (!event) return ex;
    AppleEvent reply;
    AEInitializeDesc(&reply);
    ex.status = AESendMessage(event->aeDesc(), &reply, kAEWaitReply, replyWaitTicks(event->eventID()));
    switch (ex.status) {
        case noErr:
        case errAEEventNotHandled:  // Acrobat answered, without a handler's text
            ex.outcome = BridgeExchange::Outcome::Answered;
            break;
        case errAETimeout:
            ex.outcome = acrobatRuns() ? BridgeExchange::Outcome::TimedOut : BridgeExchange::Outcome::Gone;
            break;
        case procNotFound:
        case connectionInvalid:
            ex.outcome = acrobatGoneAfterBreak() ? BridgeExchange::Outcome::Gone : BridgeExchange::Outcome::NotCarried;
            break;
        default:
            ex.outcome = acrobatRuns() ? BridgeExchange::Outcome::NotCarried : BridgeExchange::Outcome::Gone;
            break;
    }
    if (ex.outcome == BridgeExchange::Outcome::Answered && reply.dataHandle) {
        NSAppleEventDescriptorRef wrapper = NSAppleEventDescriptor::initWithAEDescNoCopy(&reply);
        if (wrapper) {
            if (NSAppleEventDescriptorRef errs = wrapper->descriptorForKeyword(keyReplyText))
                ex.text = errs->stringValue();
            return ex;
        }
    }
    AEDisposeDesc(&reply);
    return ex;
}

std::optional<NSStringOrNil> askAcrobat(const NSAppleEventDescriptorRef& event, fmx::Data& result) {
    const BridgeExchange ex = exchangeWithAcrobat(event);
    if (event) notePageEdits(event->eventID(), ex);
    const bool busyBefore = gLastTimedOut;
    gLastTimedOut = ex.outcome == BridgeExchange::Outcome::TimedOut;
    switch (ex.outcome) {
        case BridgeExchange::Outcome::Answered:
            // Acrobat holds no document for this process (it was closed there): the call failed,
            // and later calls need a new open.
            if (replyEquals(ex.text, bridge::kNoDocument)) {
                syslog(LOG_WARNING, "QuillmarkFM: Acrobat holds no document for this process");
                acrobatLink().acrobatQuit();
                setErrorResult(kNoPDFOpen, std::nullopt, result);
                return std::nullopt;
            }
            return ex.text;
        case BridgeExchange::Outcome::Gone:
            syslog(LOG_WARNING, "QuillmarkFM: Acrobat quit during a call (status %d)", static_cast<int>(ex.status));
            acrobatLink().acrobatQuit();
            setErrorResult(kAcrobatQuit, std::nullopt, result);
            return std::nullopt;
        case BridgeExchange::Outcome::TimedOut:
            syslog(LOG_WARNING, "QuillmarkFM: Acrobat did not answer within 20 seconds");
            setErrorResult(kCommunication,
                           NSStr(busyBefore ? "Acrobat is still busy with an earlier request that did not finish "
                                              "within 20 seconds; try again when it has finished."
                                            : "Acrobat did not answer within 20 seconds; it is busy and may still "
                                              "carry the request out."),
                           result);
            return std::nullopt;
        case BridgeExchange::Outcome::NotCarried:
            break;
    }
    syslog(LOG_WARNING, "QuillmarkFM: a bridge event could not be carried (status %d)", static_cast<int>(ex.status));
    setErrorResult(
        kCouldNotSend,
        NSStr(("The request could not be sent to Acrobat (error " + std::to_string(static_cast<int>(ex.status)) + ").")
                  .c_str()),
        result);
    return std::nullopt;
}

bool acrobatWasBusy() {
    return gLastTimedOut;
}

}  // namespace quill::fm
