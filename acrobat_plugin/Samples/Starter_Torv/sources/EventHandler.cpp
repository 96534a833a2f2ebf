// EventHandler: the bridge event table and the registration of its handlers.
#include "EventHandler.h"

#include "BridgeProtocol.h"
#include "Sessions.h"
#include "WorkingDocument.h"

#include <syslog.h>

#include <iterator>

MyEventHandler* handler = nullptr;

namespace {
using namespace quill::bridge;

constexpr BridgeEventRow kBridgeEvents[] = {
    {kOpenDocEvent, &MyEventHandler::handleOpenDocEvent},
    {kSetFieldEvent, &MyEventHandler::handleSetFieldEvent},
    {kGetFieldEvent, &MyEventHandler::handleGetFieldEvent},
    {kSaveAsDocEvent, &MyEventHandler::handleSaveAsDocEvent},
    {kCloseDocEvent, &MyEventHandler::handleCloseDocEvent},
    {kRestoreDefaultsEvent, &MyEventHandler::handleRestoreDefaultsEvent},
    {kAppendDocEvent, &MyEventHandler::handleAppendDocEvent},
    {kPrintDocEvent, &MyEventHandler::handlePrintDocEvent},
    {kGetDocInfoEvent, &MyEventHandler::handleGetDocInfoEvent},
    {kSetDocInfoEvent, &MyEventHandler::handleSetDocInfoEvent},
    {kSaveDocEvent, &MyEventHandler::handleSaveDocEvent},
    {kGetNumPagesEvent, &MyEventHandler::handleGetNumPagesEvent},
    {kGetTextFromPageEvent, &MyEventHandler::handleGetTextFromPageEvent},
    {kGetFieldNamesEvent, &MyEventHandler::handleGetFieldNamesEvent},
    {kInsertPagesEvent, &MyEventHandler::handleInsertPagesEvent},
    {kDeletePagesEvent, &MyEventHandler::handleDeletePagesEvent},
};
static_assert(std::size(kBridgeEvents) == kAllEvents.size());
}  // namespace

const BridgeEventRow* bridgeEventTable(std::size_t* count) {
    if (count) *count = std::size(kBridgeEvents);
    return kBridgeEvents;
}

MyEventHandler::MyEventHandler() {
    gPdDoc = nullptr;
    gPdDocFromWindow = false;
    NSAppleEventManager& manager = NSAppleEventManager::sharedAppleEventManager();
    // Every handler runs on its sender's working document.
    for (const BridgeEventRow& row : kBridgeEvents) {
        const auto method = row.method;
        manager.setEventHandler(
            [this, method](NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
                quill::acro::SenderScope sender(event);
                (this->*method)(event, replyEvent);
            },
            kBridgeEventClass, row.eventID);
    }
    syslog(LOG_NOTICE, "%s", "Initializing Event Handler");
}
