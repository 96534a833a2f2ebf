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

}  // namespace

BridgeExchange exchangeWithAcrobat(const NSAppleEventDescriptorRef& event) {
    BridgeExchange ex;
    if (!event) return ex;
    AppleEvent reply;
    AEInitializeDesc(&reply);
    ex.status = AESendMessage(event->aeDesc(), &reply, kAEWaitReply, replyTimeoutTicks());
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
