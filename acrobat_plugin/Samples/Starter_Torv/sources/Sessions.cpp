// Sessions: the senders' slots and their exchange with the working-document globals.
#include "Sessions.h"

#include "HandlerFrame.h"
#include "WorkingDocument.h"

#include "Processes.h"

#include <sys/types.h>

#include <map>
#include <memory>
#include <utility>

namespace quill::acro {

namespace {

struct Slot {
    PDDoc doc = nullptr;
    bool fromWindow = false;
    EditCopy edits;
    ASBool fieldFound = false;
    bool watched = false;  // psn names the sender; false: no sender, or one already gone
    ProcessSerialNumber psn{0, kNoProcess};
};

// By sender pid; 0: events without a sender.
std::map<pid_t, std::unique_ptr<Slot>>& slots() {
    static auto* all = new std::map<pid_t, std::unique_ptr<Slot>>;
    return *all;
}

Slot* gCurrent = nullptr;
pid_t gCurrentPid = 0;

void exchange(Slot& slot) noexcept {
    std::swap(gPdDoc, slot.doc);
    std::swap(gPdDocFromWindow, slot.fromWindow);
    editCopy.swap(slot.edits);
    std::swap(fieldFound, slot.fieldFound);
}

bool holdsNothing(const Slot& slot) {
    return !slot.doc && !slot.edits.pending();
}

// Closes what the slot holds, as the close handler does for its sender.
void closeSlot(Slot& slot) noexcept {
    exchange(slot);
    quietly("closing an exited sender's document", [] {
        editCopy.clear();
        dropWorkingDocument();
    });
    exchange(slot);
}

// Asked twice an event: the process that holds the sender's pid now is looked up (one look at
// the process table) and must be the one the slot was made for, since pids are reused.
bool senderRuns(const Slot& slot, pid_t pid) noexcept {
    if (!slot.watched) return false;
    ProcessSerialNumber now{0, kNoProcess};
    Boolean same = false;
    return GetProcessForPID(pid, &now) == noErr && SameProcess(&now, &slot.psn, &same) == noErr && same;
}

void closeSlotsOfExitedSenders() noexcept {
    auto& all = slots();
    for (auto it = all.begin(); it != all.end();) {
        if (it->first != 0 && !senderRuns(*it->second, it->first)) {
            closeSlot(*it->second);
            it = all.erase(it);
        } else {
            ++it;
        }
    }
}

pid_t senderOf(NSAppleEventDescriptor* event) {
    if (!event) return 0;
    NSAppleEventDescriptorRef pid = event->attributeDescriptorForKeyword(keySenderPIDAttr);
    const SInt32 value = pid ? pid->int32Value() : 0;
    return value > 0 ? static_cast<pid_t>(value) : 0;
}

}  // namespace

SenderScope::SenderScope(NSAppleEventDescriptor* event) noexcept {
    if (gCurrent) return;
    try {
        closeSlotsOfExitedSenders();
        const pid_t pid = senderOf(event);
        auto& slot = slots()[pid];
        if (!slot) {
            slot = std::make_unique<Slot>();
            if (pid != 0) slot->watched = GetProcessForPID(pid, &slot->psn) == noErr;
        }
        gCurrent = slot.get();
        gCurrentPid = pid;
        exchange(*gCurrent);
        entered_ = true;
    } catch (...) {
        // No slot could be made: the call runs with the empty globals and
        // whatever it opens is closed when the scope ends.
        logInternal("sender", "no slot for the sender");
    }
}

SenderScope::~SenderScope() {
    if (!entered_) {
        if (!gCurrent) {
            Slot scratch;
            exchange(scratch);
            closeSlot(scratch);
        }
        return;
    }
    exchange(*gCurrent);
    auto& all = slots();
    auto it = all.find(gCurrentPid);
    // A sender that has exited meanwhile leaves nothing behind.
    if (gCurrentPid != 0 && !senderRuns(*gCurrent, gCurrentPid)) closeSlot(*gCurrent);
    if (it != all.end() && holdsNothing(*it->second)) all.erase(it);
    gCurrent = nullptr;
    gCurrentPid = 0;
}

AVDoc activeWindowOfSender() {
    AVDoc window = AVAppGetActiveDoc();
    if (!window) return nullptr;
    PDDoc doc = AVDocGetPDDoc(window);
    for (const auto& [pid, slot] : slots())
        if (slot.get() != gCurrent && slot->doc && slot->doc == doc) return nullptr;
    return window;
}

}  // namespace quill::acro
