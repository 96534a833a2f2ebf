// Manager: the process's table of Apple event handlers and their dispatch.
#include "NSAppleEventManager.h"

#include <syslog.h>

#include <exception>

#include "AEDescStorage.h"

NSAppleEventManager& NSAppleEventManager::sharedAppleEventManager() {
    static NSAppleEventManager* manager = new NSAppleEventManager;  // never destroyed: handlers may run at exit
    return *manager;
}

void NSAppleEventManager::setEventHandler(Handler handler, AEEventClass eventClass, AEEventID eventID) {
    std::lock_guard lock(mutex_);
    if (handler)
        handlers_[{eventClass, eventID}] = std::move(handler);
    else
        handlers_.erase({eventClass, eventID});
}

void NSAppleEventManager::removeEventHandler(AEEventClass eventClass, AEEventID eventID) {
    std::lock_guard lock(mutex_);
    handlers_.erase({eventClass, eventID});
}

bool NSAppleEventManager::hasEventHandler(AEEventClass eventClass, AEEventID eventID) const {
    return static_cast<bool>(find(eventClass, eventID));
}

NSAppleEventManager::Handler NSAppleEventManager::find(AEEventClass eventClass, AEEventID eventID) const {
    std::lock_guard lock(mutex_);
    for (auto key : {std::pair{eventClass, eventID}, std::pair{eventClass, typeWildCard},
                     std::pair{typeWildCard, eventID}, std::pair{typeWildCard, typeWildCard}}) {
        auto it = handlers_.find(key);
        if (it != handlers_.end()) return it->second;  // a copy: the handler runs without the lock
    }
    return {};
}

namespace {
thread_local NSAppleEventDescriptor* handling = nullptr;
}

NSAppleEventDescriptor* NSAppleEventManager::currentAppleEvent() const {
    return handling;
}

OSErr NSAppleEventManager::dispatchRawAppleEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    if (!event || event->descriptorType() != typeAppleEvent) return errAENotAppleEvent;
    Handler handler;
    try {
        handler = find(event->eventClass(), event->eventID());
    } catch (...) {
        return memFullErr;
    }
    if (!handler) return errAEEventNotHandled;
    // A reply descriptor that is not an event means "no reply wanted".
    NSAppleEventDescriptor* reply = replyEvent && replyEvent->descriptorType() == typeAppleEvent ? replyEvent : nullptr;
    NSAppleEventDescriptorRef scratch;
    if (!reply) {
        // Handlers may fill the reply unconditionally; give them one to throw away.
        scratch = NSAppleEventDescriptor::appleEventWithEventClass(kCoreEventClass, kAEAnswer, nullptr, 0, 0);
        reply = scratch.get();
    }
    struct Handling {
        NSAppleEventDescriptor* outer = handling;
        explicit Handling(NSAppleEventDescriptor* e) { handling = e; }
        ~Handling() { handling = outer; }
    } current(event);
    try {
        handler(event, reply);
        return noErr;
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "Apple event handler failed: %s", e.what());
    } catch (...) {
        syslog(LOG_ERR, "Apple event handler failed with an unknown exception");
    }
    try {
        reply->setParamDescriptor(NSAppleEventDescriptor::descriptorWithInt32(errAEEventFailed), keyErrorNumber);
    } catch (...) {
    }
    return errAEEventFailed;
}
