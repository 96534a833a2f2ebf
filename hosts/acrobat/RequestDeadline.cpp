// Request deadlines: the sender's reply deadline carried by the event ('rdln'), checked by the
// engine just before a save's rename.
#include "RequestDeadline.h"

#include "quill/pdf/AtomicFile.h"

#include "AppleEvents.h"
#include "NSAppleEventDescriptor.h"
#include "NSAppleEventManager.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

namespace acro_host {

namespace {

using Clock = std::chrono::steady_clock;

// After the rename the answer is still to be written and read: the file is placed only when
// that much time is left, so an answer that arrives late never follows a replaced file.
constexpr auto kAnswerTime = std::chrono::milliseconds(500);

std::optional<Clock::time_point> currentDeadline() {
    NSAppleEventDescriptor* event = NSAppleEventManager::sharedAppleEventManager().currentAppleEvent();
    if (!event) return std::nullopt;  // not inside a request: a save of our own, no one waits
    auto attr = event->attributeDescriptorForKeyword(keyReplyDeadlineAttr);
    if (!attr || attr->descriptorType() != typeSInt64) return std::nullopt;
    const auto bytes = attr->data();
    std::int64_t ms = 0;
    if (bytes.size() != sizeof ms) return std::nullopt;
    std::memcpy(&ms, bytes.data(), sizeof ms);
    // A time the clock cannot hold (a damaged or hostile event) sets no deadline.
    constexpr std::int64_t kLatest = std::int64_t{1} << 40;  // ms: about 35 years of uptime
    if (ms <= 0 || ms > kLatest) return std::nullopt;
    return Clock::time_point(std::chrono::milliseconds(ms)) - kAnswerTime;
}

}  // namespace

void installRequestDeadline() {
    quill::pdf::setPlacementDeadline(currentDeadline);
    if (const char* delay = std::getenv("QUILLMARK_ACROBAT_SAVE_DELAY_MS"); delay && *delay) {
        const long ms = std::strtol(delay, nullptr, 10);
        if (ms > 0)
            quill::pdf::setBeforeRenameHookForTesting(
                [ms](const std::string&) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    }
}

}  // namespace acro_host
