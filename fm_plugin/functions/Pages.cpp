// Page, text and info functions: document information, text of a page,
// inserting and deleting pages.
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Common.h"
#include "../frame/Guard.h"
#include "../frame/Handlers.h"
#include "../frame/PluginError.h"
#include "../link/AcrobatLink.h"
#include "../link/ReplyCheck.h"

using namespace quill::fm;

namespace {

// The keys the info functions accept. A key is accepted when it, followed by
// "|", occurs here ignoring case; with no bar in front of the first key, the
// tail of a key ("Date") is accepted too.
constexpr const char* PDFinfoKeyWords = "Title|Author|Subject|Keywords|Creator|Producer|CreationDate|ModDate|Trapped|";
constexpr std::size_t kKeyBufferSize = 32;

struct AcceptedKey {
    bool found = false;
    bool isDate = false;
};

AcceptedKey acceptKey(const fmx::Text& key) {
    fmx::TextUniquePtr list;
    list->Assign(PDFinfoKeyWords);
    fmx::TextUniquePtr probe;
    probe->SetText(key);
    fmx::TextUniquePtr bar;
    bar->Assign("|");
    probe->AppendText(*bar);
    const fmx::uint32 at = list->FindIgnoringCase(*probe, 0);
    AcceptedKey accepted;
    if (at == fmx::Text::kSize_Invalid) return accepted;
    accepted.found = true;
    // The key as the list writes it decides whether it is a date key.
    char listForm[kKeyBufferSize] = {};
    list->GetBytes(listForm, sizeof listForm, at, key.GetSize(), fmx::Text::kEncoding_UTF8);
    accepted.isDate = std::strstr(listForm, "Date") != nullptr;
    return accepted;
}

// Two to four characters of a PDF date ("D:YYYYMMDDHHmmSS...") as a number.
std::int32_t dateField(const std::string& value, std::size_t position, std::size_t length) {
    const std::string digits = value.substr(position, length);
    return ConvertStringToInt(digits.c_str());
}

void setDateResult(fmx::Data& result, const std::string& value) {
    std::int32_t year = 2016, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    const std::size_t n = value.size();
    if (n >= 6) year = dateField(value, 2, 4);
    if (n >= 8) month = dateField(value, 6, 2);
    if (n >= 10) day = dateField(value, 8, 2);
    if (n >= 12) hour = dateField(value, 10, 2);
    if (n >= 14) minute = dateField(value, 12, 2);
    if (n >= 16) second = dateField(value, 14, 2);
    fmx::DateTimeUniquePtr date;
    date->SetNormalizedDate(static_cast<fmx::int16>(month), static_cast<fmx::int16>(day),
                            static_cast<fmx::int16>(year));
    date->SetNormalizedTime(hour, static_cast<fmx::int16>(minute), static_cast<fmx::int16>(second), 0);
    result.SetAsDate(*date, fmx::Data::kDTDate);
}

// A number parameter: its text's integerValue, read at full width. Only numbers that fit the
// 32-bit items of the event travel; cut to their low bits, 4294967298 would name page 2.
NSInteger numberParam(const fmx::DataVect& parms, fmx::uint32 index) {
    return stringOf(parms.AtAsText(index)).integerValue();
}

bool fitsEvent(NSInteger value) {
    return value >= std::numeric_limits<SInt32>::min() && value <= std::numeric_limits<SInt32>::max();
}

// A number of a page event and the range text the handler answers when it is out of range.
struct PageNumber {
    NSInteger value;
    const char* outOfRange;
    const char* what = "page number";
};

// The handler's range text for the first number that cannot travel, or for the reply itself,
// followed by the number it was given: the range texts alone do not say which call's number was
// wrong, nor how it was read.
NSStringOrNil rangeFailure(const std::vector<PageNumber>& numbers, const NSStringOrNil& reply) {
    for (const PageNumber& n : numbers) {
        const bool said = reply ? replySame(reply, n.outOfRange) : !fitsEvent(n.value);
        if (said)
            return NSStr(std::string(n.outOfRange) + " The " + n.what + " given was " + std::to_string(n.value) + ".");
    }
    return reply;
}

}  // namespace

QUILL_FM_HANDLER(Do_Torv_GetPDFInfo) {
    return guardedHandler("Torv_GetPDFInfo", result, [&] {
        if (!AcrobatReady(result)) return;
        const fmx::Text& keyText = parms.AtAsText(0);
        if (keyText.GetSize() == 0) return setErrorResult(kInvalidParamCount, std::nullopt, result);
        const NSString key = stringOf(keyText);
        const AcceptedKey accepted = acceptKey(keyText);
        if (!accepted.found) return setErrorResult(kInvalidParamValue, std::nullopt, result);

        // The key goes to Acrobat as the user wrote it.
        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kGetDocInfoEvent);
        event->setParamDescriptor(textItem(key), keyCString);
        const auto answered = askAcrobat(event, result);
        if (!answered) return;
        const NSStringOrNil& reply = *answered;
        // A reply without a text is no value; an empty text is: the result
        // stays unset, which is no error.
        if (!reply) return setErrorResult(kCommunication, std::nullopt, result);
        if (reply->length() == 0) return;
        if (!accepted.isDate)
            setResultUTF8(result, *reply, *localeOf(parms, 0));
        else
            setDateResult(result, reply->UTF8String());
    });
}

QUILL_FM_HANDLER(Do_Torv_SetPDFInfo) {
    return guardedHandler("Torv_SetPDFInfo", result, [&] {
        if (!AcrobatReady(result)) return;
        const fmx::Text& keyText = parms.AtAsText(0);
        if (keyText.GetSize() == 0) return setErrorResult(kInvalidParamCount, std::nullopt, result);
        const AcceptedKey accepted = acceptKey(keyText);
        if (!accepted.found || accepted.isDate) return setErrorResult(kInvalidParamValue, std::nullopt, result);
        if (holdsNul(stringOf(parms.AtAsText(1)))) return setErrorResult(kInvalidParamValue, std::nullopt, result);

        // An empty value travels as an empty text, which clears the entry.
        NSAppleEventDescriptorRef list = NSAppleEventDescriptor::initListDescriptor();
        list->insertDescriptor(textOf(keyText), 0);
        list->insertDescriptor(textOf(parms.AtAsText(1)), 0);
        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kSetDocInfoEvent);
        event->setParamDescriptor(list, keyList);
        const auto answered = askAcrobat(event, result);
        if (!answered) return;
        const NSStringOrNil& reply = *answered;
        // "-2": key or value missing in the request. Any text but "OK" is Acrobat's message of a
        // store it refused (a document certified with no changes allowed) or could not make.
        if (replySame(reply, bridge::kReplyNoInfoPair)) return setErrorResult(kInvalidInfoParam, std::nullopt, result);
        if (replyEquals(reply, bridge::kReplyOK)) return setSuccessResult(result);
        setErrorResult(kUndefined, reply, result);
    });
}

QUILL_FM_HANDLER(Do_Torv_GetTextFromPage) {
    return guardedHandler("Torv_GetTextFromPage", result, [&] {
        if (!AcrobatReady(result)) return;
        if (parms.AtAsText(0).GetSize() == 0) return setErrorResult(kInvalidParamCount, std::nullopt, result);
        // One-based, unchanged; Acrobat checks the range. A number past the 32-bit item is no page.
        const fmx::int64 wide = parms.AtAsNumber(0).AsLong64();
        const NSString pageNamed = NSStr("Page " + std::to_string(wide) + " is not in the document.");
        if (!fitsEvent(wide)) return setErrorResult(kInvalidPageNumber, pageNamed, result);
        const SInt32 page = static_cast<SInt32>(wide);

        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kGetTextFromPageEvent);
        event->setParamDescriptor(NSAppleEventDescriptor::descriptorWithInt32(page), keyLong);
        const auto answered = askAcrobat(event, result);
        if (!answered) return;
        const NSStringOrNil& reply = *answered;
        if (replySame(reply, bridge::kReplyNoSuchPage)) return setErrorResult(kInvalidPageNumber, pageNamed, result);
        if (replySame(reply, bridge::kReplyNoWords)) return setErrorResult(kNoTextOnPage, std::nullopt, result);
        // Success leaves the store as it was.
        setResultUnits(result, *reply, *localeOf(parms, 0));
    });
}

QUILL_FM_HANDLER(Do_Torv_InsertPages) {
    return guardedHandler("Torv_InsertPages", result, [&] {
        if (!AcrobatReady(result)) return;
        const std::vector<PageNumber> numbers = {{numberParam(parms, 0), bridge::kInsertAfterOutOfRange},
                                                 {numberParam(parms, 2), bridge::kInsertStartOutOfRange},
                                                 {numberParam(parms, 3), bridge::kInsertCountOutOfRange, "page count"}};
        for (const PageNumber& n : numbers)
            if (!fitsEvent(n.value)) return setErrorResult(kInsertPagesFailed, rangeFailure(numbers, {}), result);
        const SInt32 afterPage = static_cast<SInt32>(numbers[0].value);
        const NSString sourcePath = stringOf(parms.AtAsText(1));
        const SInt32 firstSourcePage = static_cast<SInt32>(numbers[1].value);
        const SInt32 pageCount = static_cast<SInt32>(numbers[2].value);
        const NSString flagText = stringOf(parms.AtAsText(4)).lowercaseString();
        const bool keepBookmarks =
            flagText.length() == 0 || flagText == NSStr("true") || flagText == NSStr("1") || flagText == NSStr("t");

        // An empty source path travels as an empty text so that every item
        // keeps its place in the list.
        NSAppleEventDescriptorRef list = NSAppleEventDescriptor::initListDescriptor();
        list->insertDescriptor(NSAppleEventDescriptor::descriptorWithInt32(afterPage), 0);
        list->insertDescriptor(textItem(fullPathText(sourcePath)), 0);
        list->insertDescriptor(NSAppleEventDescriptor::descriptorWithInt32(firstSourcePage), 0);
        list->insertDescriptor(NSAppleEventDescriptor::descriptorWithInt32(pageCount), 0);
        list->insertDescriptor(NSAppleEventDescriptor::descriptorWithBoolean(keepBookmarks), 0);
        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kInsertPagesEvent);
        event->setParamDescriptor(list, keyList);
        const auto answered = askAcrobat(event, result);
        if (!answered) return;
        const NSStringOrNil& reply = *answered;
        // Only the handler's "0" is success; a reply without a text is not.
        if (replyEquals(reply, bridge::kReplyPagesDone)) return setSuccessResult(result);
        setErrorResult(kInsertPagesFailed, rangeFailure(numbers, reply), result);
    });
}

QUILL_FM_HANDLER(Do_Torv_DeletePages) {
    return guardedHandler("Torv_DeletePages", result, [&] {
        if (!AcrobatReady(result)) return;
        const std::vector<PageNumber> numbers = {{numberParam(parms, 0), bridge::kDeleteStartOutOfRange},
                                                 {numberParam(parms, 1), bridge::kDeleteLastOutOfRange}};
        for (const PageNumber& n : numbers)
            if (!fitsEvent(n.value)) return setErrorResult(kDeletePagesFailed, rangeFailure(numbers, {}), result);
        const SInt32 firstPage = static_cast<SInt32>(numbers[0].value);
        const SInt32 lastPage = static_cast<SInt32>(numbers[1].value);

        // The last page comes first.
        NSAppleEventDescriptorRef list = NSAppleEventDescriptor::initListDescriptor();
        list->insertDescriptor(NSAppleEventDescriptor::descriptorWithInt32(lastPage), 0);
        list->insertDescriptor(NSAppleEventDescriptor::descriptorWithInt32(firstPage), 0);
        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kDeletePagesEvent);
        event->setParamDescriptor(list, keyList);
        const auto answered = askAcrobat(event, result);
        if (!answered) return;
        const NSStringOrNil& reply = *answered;
        if (replyEquals(reply, bridge::kReplyPagesDone)) return setSuccessResult(result);
        setErrorResult(kDeletePagesFailed, rangeFailure(numbers, reply), result);
    });
}
