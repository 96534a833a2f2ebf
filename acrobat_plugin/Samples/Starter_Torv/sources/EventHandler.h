// EventHandler: MyEventHandler, the one receiver of the bridge events, and
// the table that ties each bridge event to the method answering it.
//
// The handlers live in files by job: DocumentHandlers (open, close, save,
// save as, print, append, page count), FormHandlers (the field walk, get,
// set, names, restore defaults), TextInfoHandlers (document information and
// page text), PageHandlers (insert and delete). The documents they share are
// in WorkingDocument.h.
//
// Threading: everything here runs on Acrobat's main thread, one event at a
// time.
#pragma once

#include "PIHeaders.h"

#include "NSAppleEventDescriptor.h"
#include "NSAppleEventManager.h"

#include <cstddef>

class MyEventHandler;
// The one instance, created by PluginInit.
extern MyEventHandler* handler;

// One row of the bridge event table: the event ID and the method answering it.
struct BridgeEventRow {
    AEEventID eventID;
    void (MyEventHandler::*method)(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
};

// The sixteen bridge events in registration order.
const BridgeEventRow* bridgeEventTable(std::size_t* count);

class MyEventHandler {
public:
    // Clears gPdDoc and registers every row of the bridge event table with the
    // shared Apple Event manager, in table order; logs one line to syslog.
    MyEventHandler();
    MyEventHandler(const MyEventHandler&) = delete;
    MyEventHandler& operator=(const MyEventHandler&) = delete;

    void handleOpenDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleSetFieldEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleGetFieldEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleSaveAsDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleCloseDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleRestoreDefaultsEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleAppendDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handlePrintDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleGetDocInfoEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleSetDocInfoEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleSaveDocEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleGetNumPagesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleGetTextFromPageEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleGetFieldNamesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleInsertPagesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
    void handleDeletePagesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
};
