// BridgeProtocol: the bridge events QuillmarkFM sends and QuillmarkAcro
// answers, written down once. Both plug-ins take the event class, the event
// ids, the parameter and reply keywords and the append status codes from here;
// neither spells one of them itself.
//
// Every bridge event is an Apple Event of class kBridgeEventClass carrying at
// most one request parameter; the reply carries one text under keyReplyText.
//
//  id    event                  request parameter                  reply text under keyReplyText
//  KVZ1  kOpenDocEvent          keyList: [path]                    "OK" | "Descriptor not found." | message
//  KVZ2  kSetFieldEvent         1st param, list: [name, value]     "OK" | "-2" no such field |
//                                                                  "Descriptor not found." | message
//  KVZ3  kGetFieldEvent         keyCString: name                   the value | "-1" no name |
//                                                                  "-2" no such field | message
//  KVZ4  kSaveAsDocEvent        keyCString: path                   "OK" | "Descriptor not found." | message
//  KVZ5  kCloseDocEvent         none                               "OK" | message
//  KVZ6  kRestoreDefaultsEvent  none (QuillmarkFM never sends it)  "OK" | message
//  KVZ7  kAppendDocEvent        1st param, text: path              "OK" | kAppendNotPermitted ... kAppendOtherError
//  KVZ8  kPrintDocEvent         none                               "OK" | message
//  KVZ9  kGetDocInfoEvent       keyCString: key                    the value | "Descriptor not found." | message
//  KVZa  kSetDocInfoEvent       keyList: [key, value]              "OK" | "-2" | message
//  KVZb  kSaveDocEvent          none                               "OK" | message
//  KVZc  kGetNumPagesEvent      none                               the count in decimal | message
//  KVZd  kGetTextFromPageEvent  keyLong: page (1-based)            the text | "-1" no such page | "-2" no words
//  KVZf  kGetFieldNamesEvent    keyCString: "y" for values         name[":|:" value] CR ... | "-2" no field
//  KVZg  kInsertPagesEvent      keyList: [after, path, first,      "0" | a fixed message, then Acrobat's
//                                         count, bookmarks]
//  KVZh  kDeletePagesEvent      keyList: [last, first]             "0" | a fixed message, then Acrobat's
//
//  "message" is the text of the Acrobat error that stopped the handler.
//
// Every handler also answers "No PDF document is open." when it needs a
// document and there is none. The letter e is not an id; the insert event's
// id is the same four characters as the event class.
//
// Texts travel as Unicode text descriptors; page numbers are 1-based on the
// wire. The client waits kReplyTimeoutTicks for each reply.
#pragma once

#include "AppleEvents.h"

#include <array>

namespace quill::bridge {

// Event class of every bridge event.
inline constexpr AEEventClass kBridgeEventClass = FourCC("KVZg");

// Event ids, in the order QuillmarkAcro registers its handlers.
inline constexpr AEEventID kOpenDocEvent = FourCC("KVZ1");
inline constexpr AEEventID kSetFieldEvent = FourCC("KVZ2");
inline constexpr AEEventID kGetFieldEvent = FourCC("KVZ3");
inline constexpr AEEventID kSaveAsDocEvent = FourCC("KVZ4");
inline constexpr AEEventID kCloseDocEvent = FourCC("KVZ5");
inline constexpr AEEventID kRestoreDefaultsEvent = FourCC("KVZ6");
inline constexpr AEEventID kAppendDocEvent = FourCC("KVZ7");
inline constexpr AEEventID kPrintDocEvent = FourCC("KVZ8");
inline constexpr AEEventID kGetDocInfoEvent = FourCC("KVZ9");
inline constexpr AEEventID kSetDocInfoEvent = FourCC("KVZa");
inline constexpr AEEventID kSaveDocEvent = FourCC("KVZb");
inline constexpr AEEventID kGetNumPagesEvent = FourCC("KVZc");
inline constexpr AEEventID kGetTextFromPageEvent = FourCC("KVZd");
inline constexpr AEEventID kGetFieldNamesEvent = FourCC("KVZf");
inline constexpr AEEventID kInsertPagesEvent = FourCC("KVZg");
inline constexpr AEEventID kDeletePagesEvent = FourCC("KVZh");

inline constexpr std::array<AEEventID, 16> kAllEvents = {
    kOpenDocEvent,         kSetFieldEvent,        kGetFieldEvent,    kSaveAsDocEvent,
    kCloseDocEvent,        kRestoreDefaultsEvent, kAppendDocEvent,   kPrintDocEvent,
    kGetDocInfoEvent,      kSetDocInfoEvent,      kSaveDocEvent,     kGetNumPagesEvent,
    kGetTextFromPageEvent, kGetFieldNamesEvent,   kInsertPagesEvent, kDeletePagesEvent,
};

// Request parameter keywords (the same four characters as descriptor types,
// used here as keywords) and the one reply keyword.
inline constexpr AEKeyword keyList = FourCC("list");
inline constexpr AEKeyword keyCString = FourCC("cstr");
inline constexpr AEKeyword keyLong = FourCC("long");
inline constexpr AEKeyword keyReplyText = FourCC("errs");

// How long the client waits for a reply: 1200 ticks, 20 seconds.
inline constexpr long kReplyTimeoutTicks = 1200;

// The append event's failure replies. QuillmarkAcro chooses one from the
// Acrobat error that stopped the append; QuillmarkFM turns it back into
// Acrobat's words. Each names the error it stands for.
inline constexpr const char* kAppendNotPermitted = "-1";    // operation not permitted
inline constexpr const char* kAppendNewerFormat = "-2";     // a newer file format than the viewer's
inline constexpr const char* kAppendTooManyPages = "-3";    // too many pages for insertion
inline constexpr const char* kAppendBadParameter = "-4";    // bad parameter
inline constexpr const char* kAppendNoMemory = "-5";        // insufficient memory
inline constexpr const char* kAppendRecoveryFailed = "-6";  // inserting and then recovering both failed
inline constexpr const char* kAppendOtherError = "-7";      // any other error
inline constexpr const char* kAppendCertified = "-8";       // certified (or locked) against page changes

}  // namespace quill::bridge
