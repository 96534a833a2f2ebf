// EventHandler: MyEventHandler, the one receiver of the bridge events, its
// handlers, the working-document state they share, and the form-field walk.
//
// Threading: everything here runs on Acrobat's main thread, one event at a
// time; the globals below are plain variables without locks.
// Ownership: gPdDoc (unless it was taken from a document window) and subDoc
// are owned by the plug-in and released with PDDocClose; text objects, path
// names and word finders live for one handler call.
#pragma once

#include "CorCalls.h"

#include "NSAppleEventDescriptor.h"
#include "NSAppleEventManager.h"

#include <cstddef>

// The working document: the document every handler works on (null when none).
extern PDDoc gPdDoc;
// True when gPdDoc was taken from a document window by the field walk: the
// window owns it, so the plug-in never closes it.
extern bool gPdDocFromWindow;
// The edit copy: page changes go here until a save writes it over the working
// document's file.
extern PDDoc subDoc;
// Set by the field walk when the requested field was met.
extern ASBool fieldFound;

class MyEventHandler;
// The one instance, created by PluginInit.
extern MyEventHandler* handler;

// One row of the bridge event table: the event ID and the method answering it.
struct BridgeEventRow {
    const char* eventID;  // four characters
    void (MyEventHandler::*method)(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent);
};

// The sixteen bridge events in registration order.
const BridgeEventRow* bridgeEventTable(std::size_t* count);

// Event class of every bridge event, and the reply keyword.
inline constexpr const char* kBridgeEventClass = "KVZg";

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

// Client data of the three field visitors (owned by the handler that starts
// the walk, which creates and destroys the text objects in it).
struct SetFieldClientData {
    ASText name;
    ASText value;
    // Error of the last failed store into a matching field; 0 once a store
    // succeeded. Lets the set handler report a failed store instead of "OK".
    ASErrorCode storeError;
};

struct GetFieldClientData {
    ASText name;
    ASText value;  // out: null on entry; created by the visitor
};

struct FieldNamesClientData {
    ASBool withValues;
    ASText list;  // created empty by the handler; only appended to by the visitor
};

// A field visitor: non-zero to go on with the next field, zero to stop.
using FieldEnumProc = ASBool (*)(PDField field, void* clientData);

// Walks the fields of the front window's document (which then becomes the
// working document) or of the working document. Outcome: fieldFound, the
// client data and gPdDoc.
void doEnumFields(void* clientData, FieldEnumProc proc);
ASBool setFieldEnumProc(PDField field, void* clientData);
ASBool getFieldEnumProc(PDField field, void* clientData);
ASBool getFieldNamesEnumProc(PDField field, void* clientData);
