// NSAppleEventManager: the per-process table of Apple event handlers and
// their dispatch.
//
// One shared instance per process (it lives in the shared library, so a
// plug-in and its host see the same table). The table is guarded by a lock,
// so handlers may be set from any thread; dispatch runs the handler on the
// calling thread (the run loop's main thread for events that arrive over
// the wire) and never holds the lock while the handler runs.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <utility>

#include "NSAppleEventDescriptor.h"

class NSAppleEventManager {
public:
    static NSAppleEventManager& sharedAppleEventManager();

    using Handler = std::function<void(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent)>;

    // Installs the handler for the class and ID, replacing any earlier one.
    // typeWildCard ('****') as class or ID matches any; an exact match wins.
    void setEventHandler(Handler handler, AEEventClass eventClass, AEEventID eventID);
    // The Objective-C shape: the handler object and its method. The object
    // must outlive its registration.
    template <class T>
    void setEventHandler(T* handler,
                         void (T::*selector)(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent),
                         AEEventClass eventClass, AEEventID eventID) {
        setEventHandler(Handler([handler, selector](NSAppleEventDescriptor* e, NSAppleEventDescriptor* r) {
                            (handler->*selector)(e, r);
                        }),
                        eventClass, eventID);
    }
    void removeEventHandler(AEEventClass eventClass, AEEventID eventID);
    bool hasEventHandler(AEEventClass eventClass, AEEventID eventID) const;

    // Dispatches one event to its handler on the calling thread.
    // Returns errAEEventNotHandled when no handler is installed, and
    // errAENotAppleEvent when event is null or not an Apple event. A handler
    // that throws has its exception caught and logged (syslog); the call then
    // returns errAEEventFailed and puts that code under keyErrorNumber of the
    // reply, which keeps whatever the handler had put in. replyEvent may be
    // null, or a null descriptor when no reply is wanted (then left alone).
    OSErr dispatchRawAppleEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    // The event whose handler runs on this thread now (the innermost, when a handler dispatches
    // another); null outside a handler.
    NSAppleEventDescriptor* currentAppleEvent() const;

private:
    NSAppleEventManager() = default;
    Handler find(AEEventClass eventClass, AEEventID eventID) const;

    mutable std::mutex mutex_;
    std::map<std::pair<AEEventClass, AEEventID>, Handler> handlers_;
};
