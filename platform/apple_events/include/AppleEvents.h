// AppleEvents: the C-level Apple Event Manager — descriptors (AEDesc), their
// type and keyword codes, the error codes, and AESendMessage.
//
// An AEDesc owns its data: dataHandle points to a tree the library allocated
// (AEDescStorage, see AEDescStorage.h), released by AEDisposeDesc. A desc
// with a null dataHandle has no data (typeNull). AEDuplicateDesc makes a deep
// copy. Descriptors are not shared between threads without a lock of the
// caller's; AESendMessage may be called from any thread.
//
// No exception leaves these functions: failures are OSErr codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "MacTypes.h"

using DescType = OSType;
using AEKeyword = OSType;
using AEEventClass = OSType;
using AEEventID = OSType;
using AEReturnID = SInt16;
using AETransactionID = SInt32;
using AESendMode = SInt32;

// Descriptor types.
inline constexpr DescType typeAEList = FourCC("list");
inline constexpr DescType typeAERecord = FourCC("reco");
inline constexpr DescType typeAppleEvent = FourCC("aevt");
inline constexpr DescType typeUnicodeText = FourCC("utxt");
inline constexpr DescType typeUTF8Text = FourCC("utf8");
inline constexpr DescType typeUTF16ExternalRepresentation = FourCC("ut16");
inline constexpr DescType typeChar = FourCC("TEXT");
inline constexpr DescType typeSInt16 = FourCC("shor");
inline constexpr DescType typeSInt32 = FourCC("long");
inline constexpr DescType typeUInt32 = FourCC("magn");
inline constexpr DescType typeSInt64 = FourCC("comp");
inline constexpr DescType typeIEEE64BitFloatingPoint = FourCC("doub");
inline constexpr DescType typeBoolean = FourCC("bool");
inline constexpr DescType typeTrue = FourCC("true");
inline constexpr DescType typeFalse = FourCC("fals");
inline constexpr DescType typeProcessSerialNumber = FourCC("psn ");
inline constexpr DescType typeApplicationBundleID = FourCC("bund");
inline constexpr DescType typeKernelProcessID = FourCC("kpid");
inline constexpr DescType typeType = FourCC("type");
inline constexpr DescType typeEnumerated = FourCC("enum");
inline constexpr DescType typeWildCard = FourCC("****");
inline constexpr DescType typeNull = FourCC("null");

// Keywords and attributes.
inline constexpr AEKeyword keyDirectObject = FourCC("----");
inline constexpr AEKeyword keyErrorNumber = FourCC("errn");
inline constexpr AEKeyword keyErrorString = FourCC("errs");
inline constexpr AEKeyword keyProcessSerialNumber = FourCC("psn ");
inline constexpr AEKeyword keyAddressAttr = FourCC("addr");
inline constexpr AEKeyword keyEventClassAttr = FourCC("evcl");
inline constexpr AEKeyword keyEventIDAttr = FourCC("evid");
inline constexpr AEKeyword keyReturnIDAttr = FourCC("rtid");
inline constexpr AEKeyword keyTransactionIDAttr = FourCC("tran");
inline constexpr AEKeyword keyTimeoutAttr = FourCC("timo");
inline constexpr AEKeyword keyReplyRequestedAttr = FourCC("repq");
// The sending process's pid ('long'), set by the Event Manager on every event it delivers; what
// the sender put there itself is replaced.
inline constexpr AEKeyword keySenderPIDAttr = FourCC("spid");
// When the sender stops waiting for the reply: steady-clock milliseconds ('comp'), on the wire
// with every request sent with a time-out, so the receiver can tell a late answer from a due one.
inline constexpr AEKeyword keyReplyDeadlineAttr = FourCC("rdln");

inline constexpr AEEventClass kCoreEventClass = FourCC("aevt");
inline constexpr AEEventID kAEOpenApplication = FourCC("oapp");
inline constexpr AEEventID kAEQuitApplication = FourCC("quit");
inline constexpr AEEventID kAEOpenDocuments = FourCC("odoc");
inline constexpr AEEventID kAEAnswer = FourCC("ansr");

// Send modes (the low bits choose how to wait for the reply).
inline constexpr AESendMode kAENoReply = 1;
inline constexpr AESendMode kAEQueueReply = 2;
inline constexpr AESendMode kAEWaitReply = 3;
inline constexpr AESendMode kAENeverInteract = 0x10;
inline constexpr AESendMode kAECanInteract = 0x20;
inline constexpr AESendMode kAEAlwaysInteract = 0x30;
inline constexpr AESendMode kAEDontReconnect = 0x80;

// Time-outs, in ticks (1/60 s).
inline constexpr long kAEDefaultTimeout = -1;  // about a minute
inline constexpr long kNoTimeOut = -2;         // wait for ever

inline constexpr AEReturnID kAutoGenerateReturnID = -1;
inline constexpr AETransactionID kAnyTransactionID = 0;

inline constexpr OSErr errAECoercionFail = -1700;
inline constexpr OSErr errAEDescNotFound = -1701;
inline constexpr OSErr errAECorruptData = -1702;
inline constexpr OSErr errAEWrongDataType = -1703;
inline constexpr OSErr errAENotAEDesc = -1704;
inline constexpr OSErr errAEBadListItem = -1705;
inline constexpr OSErr errAENotAppleEvent = -1707;
inline constexpr OSErr errAEEventNotHandled = -1708;
inline constexpr OSErr errAEReplyNotValid = -1709;
inline constexpr OSErr errAEUnknownSendMode = -1710;
inline constexpr OSErr errAETimeout = -1712;
inline constexpr OSErr errAEIllegalIndex = -1719;
inline constexpr OSErr errAEEventFailed = -10000;
inline constexpr OSErr errAEDescIsNull = -1739;

struct AEDescStorage;  // opaque; defined in AEDescStorage.h
using AEDataStorage = AEDescStorage*;

// Naturally aligned (16 bytes), not packed as on the Mac: nothing here
// exchanges AEDesc structs in binary form, and a misaligned pointer member
// would make every reference to it undefined behaviour.
struct AEDesc {
    DescType descriptorType;
    AEDataStorage dataHandle;  // null: no data
};

using AppleEvent = AEDesc;
using AEDescList = AEDesc;
using AERecord = AEDesc;
using AEAddressDesc = AEDesc;

// A descriptor of the given type holding a copy of the bytes. For typeAEList,
// typeAERecord and typeAppleEvent the bytes are a flattened descriptor of
// that type (AEDescStorage.h) and an empty container when dataSize is 0;
// errAECorruptData when they do not decode. typeNull with no bytes gives a
// null dataHandle. paramErr for a null result or null bytes with a size.
OSErr AECreateDesc(DescType typeCode, const void* dataPtr, std::size_t dataSize, AEDesc* result);
OSErr AEInitializeDesc(AEDesc* desc);  // {typeNull, nullptr}
OSErr AEDisposeDesc(AEDesc* desc);     // releases the data and leaves {typeNull, nullptr}
OSErr AEDuplicateDesc(const AEDesc* from, AEDesc* to);
// Size and copy of a scalar descriptor's bytes (0 / errAEWrongDataType for containers).
std::size_t AEGetDescDataSize(const AEDesc* desc);
OSErr AEGetDescData(const AEDesc* desc, void* dataPtr, std::size_t maximumSize);

// Sends an Apple event to the process named by its keyAddressAttr (type
// 'psn ' with the 8-byte ProcessSerialNumber, or 'kpid' with a 4-byte pid).
//   kAEWaitReply: waits up to timeOutInTicks (1/60 s; kAEDefaultTimeout is
//     60 s, kNoTimeOut for ever) and returns:
//       noErr                 *reply is the reply event ('aevt'/'ansr'; no
//                             parameters when the handler set none);
//       errAETimeout -1712    no reply in time (a late reply is dropped);
//       procNotFound -600     the target process is not running (at once);
//       errAEEventNotHandled -1708  the target has no handler for the event;
//       connectionInvalid -609  the target closed the connection mid-exchange;
//       errAECorruptData -1702  the event or the reply could not be carried.
//   kAENoReply / kAEQueueReply: returns once the event is handed over; the
//     reply is typeNull.
// An event to this process itself, sent from its run loop's thread or while
// no run loop runs, is dispatched directly on the calling thread.
// *reply (when not null) is always written: the reply event, or a null
// descriptor when there is none. Any previous content of *reply is not
// released (it is an out-argument, as on the Mac).
OSStatus AESendMessage(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode, long timeOutInTicks);
