// BridgeProtocol: the bridge events QuillmarkFM sends and QuillmarkAcro
// answers, written down once. Both plug-ins and the tests take every word of
// the bridge from here: the event class and ids, the parameter and reply
// keywords, the reply texts and the status codes; none spells one itself.
//
// Plain C++ on purpose: no SDK, platform or host header, so that both plug-ins
// take it unchanged into a build against the real SDKs. The codes are the
// platform's four-character codes (a UInt32, first character in the high
// byte), which convert to AEEventClass, AEEventID and AEKeyword as they are.
//
// Every bridge event is an Apple Event of class kBridgeEventClass carrying at
// most one request parameter; the reply carries one text under keyReplyText.
//
//  id    event                  request parameter                  reply text under keyReplyText
//  KVZ1  kOpenDocEvent          keyList: [path]                    kReplyOK | kDescriptorNotFound | message
//  KVZ2  kSetFieldEvent         1st param, list: [name, value]     "OK" | "-2" no such field |
//                                                                  "Descriptor not found." | message
//  KVZ3  kGetFieldEvent         keyCString: name                   the value | "-1" no name |
//                                                                  "-2" no such field | message
//  KVZ4  kSaveAsDocEvent        keyCString: path                   kReplyOK | kDescriptorNotFound | message
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

#include <array>
#include <cstdint>

namespace quill::bridge {

// A four-character code: 'abcd', the first character in the high byte.
using Code = std::uint32_t;
constexpr Code code(const char (&s)[5]) {
    return (static_cast<Code>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<Code>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<Code>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<Code>(static_cast<unsigned char>(s[3]));
}

// Event class of every bridge event.
inline constexpr Code kBridgeEventClass = code("KVZg");

// Event ids, in the order QuillmarkAcro registers its handlers.
inline constexpr Code kOpenDocEvent = code("KVZ1");
inline constexpr Code kSetFieldEvent = code("KVZ2");
inline constexpr Code kGetFieldEvent = code("KVZ3");
inline constexpr Code kSaveAsDocEvent = code("KVZ4");
inline constexpr Code kCloseDocEvent = code("KVZ5");
inline constexpr Code kRestoreDefaultsEvent = code("KVZ6");
inline constexpr Code kAppendDocEvent = code("KVZ7");
inline constexpr Code kPrintDocEvent = code("KVZ8");
inline constexpr Code kGetDocInfoEvent = code("KVZ9");
inline constexpr Code kSetDocInfoEvent = code("KVZa");
inline constexpr Code kSaveDocEvent = code("KVZb");
inline constexpr Code kGetNumPagesEvent = code("KVZc");
inline constexpr Code kGetTextFromPageEvent = code("KVZd");
inline constexpr Code kGetFieldNamesEvent = code("KVZf");
inline constexpr Code kInsertPagesEvent = code("KVZg");
inline constexpr Code kDeletePagesEvent = code("KVZh");

inline constexpr std::array<Code, 16> kAllEvents = {
    kOpenDocEvent,         kSetFieldEvent,        kGetFieldEvent,    kSaveAsDocEvent,
    kCloseDocEvent,        kRestoreDefaultsEvent, kAppendDocEvent,   kPrintDocEvent,
    kGetDocInfoEvent,      kSetDocInfoEvent,      kSaveDocEvent,     kGetNumPagesEvent,
    kGetTextFromPageEvent, kGetFieldNamesEvent,   kInsertPagesEvent, kDeletePagesEvent,
};

// Request parameter keywords (the same four characters as descriptor types,
// used here as keywords) and the one reply keyword.
inline constexpr Code keyList = code("list");
inline constexpr Code keyCString = code("cstr");
inline constexpr Code keyLong = code("long");
inline constexpr Code keyReplyText = code("errs");

// How long the client waits for a reply: 1200 ticks, 20 seconds.
inline constexpr long kReplyTimeoutTicks = 1200;

// Reply texts every handler may send. A handler that stopped on an Acrobat
// error answers that error's message instead.
inline constexpr const char* kReplyOK = "OK";        // open, set, save, close, print, append, set info
inline constexpr const char* kReplyPagesDone = "0";  // insert and delete pages
inline constexpr const char* kDescriptorNotFound = "Descriptor not found.";  // a request parameter is missing
inline constexpr const char* kNoDocument = "No PDF document is open.";

// Status replies of one event each (the same text means different things to
// different events).
inline constexpr const char* kReplyNoFieldName = "-1";  // get field: the request names no field
inline constexpr const char* kReplyNoSuchField = "-2";  // set and get field: no field of that name
inline constexpr const char* kReplyNoInfoPair = "-2";   // set info: key or value missing
inline constexpr const char* kReplyNoSuchPage = "-1";   // page text: no page of that number
inline constexpr const char* kReplyNoWords = "-2";      // page text: the page holds no words
inline constexpr const char* kReplyNoFields = "-2";     // field names: the document has no field

// The field names request and reply: the flag that asks for values (any
// other text asks for names only), the
// separator between a name and its value and the end of each line.
inline constexpr const char* kWithValues = "y";
inline constexpr const char* kWithoutValues = "n";
inline constexpr const char* kNameValueSeparator = ":|:";
inline constexpr const char* kLineEnd = "\r";

// The append event's failure replies. QuillmarkAcro chooses one from the
// Acrobat error that stopped the append; QuillmarkFM turns it back into
// Acrobat's words. Each names the error it stands for.
inline constexpr const char* kAppendNotPermitted = "-1";    // operation not permitted
inline constexpr const char* kAppendNewerFormat = "-2";     // a newer file format than the viewer's
inline constexpr const char* kAppendTooManyPages = "-3";    // too many pages for insertion
inline constexpr const char* kAppendBadParameter = "-4";    // bad parameter
inline constexpr const char* kAppendNoMemory = "-5";        // insufficient memory
inline constexpr const char* kAppendRecoveryFailed = "-6";  // inserting and then recovering both failed
inline constexpr const char* kAppendOtherError = "-7";      // any other error; after a failed open or insert
                                                            // followed by a space and Acrobat's message
inline constexpr const char* kAppendCertified = "-8";       // certified (or locked) against page changes

// The insert and delete events' failure replies: a fixed text, then (where it
// ends in a space) Acrobat's message or the exception's.
inline constexpr const char* kInsertOpenFailed = "Failed to open source document. ";
inline constexpr const char* kInsertAfterOutOfRange =
    "Desired position to insert page(s) after is out of range in the destination document.";
inline constexpr const char* kInsertStartOutOfRange = "Starting page in the source document is out of range.";
inline constexpr const char* kInsertCountOutOfRange = "Number of pages to insert in the source document out of range.";
inline constexpr const char* kInsertFailed = "Failed to insert pages. ";
inline constexpr const char* kInsertException = "An exception occurred when inserting pages. ";
inline constexpr const char* kDeleteStartOutOfRange = "Starting page to be deleted is out of range.";
inline constexpr const char* kDeleteLastOutOfRange = "Last page to be deleted is out of range.";
inline constexpr const char* kDeleteOrder = "Start page cannot be greater than the last page.";
inline constexpr const char* kDeleteFailed = "Failed to delete pages. ";
inline constexpr const char* kDeleteException = "An exception occurred when deleting pages. ";
inline constexpr const char* kPagesCertified = "The document is certified against page changes.";
inline constexpr const char* kRequestLacksPageList = "The request lacks its page list.";

}  // namespace quill::bridge
