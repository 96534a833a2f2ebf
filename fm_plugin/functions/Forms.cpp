// Form functions: read and write one field, list the field names.
#include "Common.h"
#include "../frame/Guard.h"
#include "../frame/Handlers.h"
#include "../frame/PluginError.h"
#include "../link/AcrobatLink.h"
#include "../link/ReplyCheck.h"

using namespace quill::fm;

QUILL_FM_HANDLER(Do_Torv_GetPDFFieldValue) {
    return guardedHandler("Torv_GetPDFFieldValue", result, [&] {
        if (!AcrobatReady(result)) return;
        const NSString name = stringOf(parms.AtAsText(0));
        // An empty name answers -1105 "Insufficient memory.", not a parameter
        // error: the function has always reported it as the name string that
        // could not be made, and scripts test for that code.
        if (name.length() == 0) return setErrorResult(kInsufficientMemory, std::nullopt, result);

        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kGetFieldEvent);
        event->setParamDescriptor(textItem(name), keyCString);
        const auto answered = askAcrobat(event, result);
        if (!answered) return;
        const NSStringOrNil& reply = *answered;
        if (replySame(reply, bridge::kReplyNoFieldName)) return setErrorResult(kCommunication, std::nullopt, result);
        if (replySame(reply, bridge::kReplyNoSuchField)) return setErrorResult(kFieldNotFound, std::nullopt, result);
        // Success leaves the store as it was.
        setResultUTF8(result, *reply, *localeOf(parms, 0));
    });
}

QUILL_FM_HANDLER(Do_Torv_SetPDFFieldValue) {
    return guardedHandler("Torv_SetPDFFieldValue", result, [&] {
        if (!AcrobatReady(result)) return;
        const NSString name = stringOf(parms.AtAsText(0));
        const NSString value = stringOf(parms.AtAsText(1));
        if (name.length() == 0) return setErrorResult(kInvalidParamValue, std::nullopt, result);
        if (holdsNul(name) || holdsNul(value)) return setErrorResult(kInvalidParamValue, std::nullopt, result);

        // An empty value travels as an empty text: the field is cleared.
        NSAppleEventDescriptorRef list = NSAppleEventDescriptor::initListDescriptor();
        list->insertDescriptor(textItem(name), 0);
        list->insertDescriptor(textItem(value), 0);
        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kSetFieldEvent);
        event->setParamDescriptor(list, keyList);
        const auto answered = askAcrobat(event, result);
        if (!answered) return;
        const NSStringOrNil& reply = *answered;
        if (replySame(reply, bridge::kReplyNoSuchField)) return setErrorResult(kFieldNotFound, std::nullopt, result);
        if (replyEquals(reply, bridge::kReplyOK)) return setSuccessResult(result);
        setErrorResult(kUndefined, reply, result);
    });
}

QUILL_FM_HANDLER(Do_Torv_GetFieldNames) {
    return guardedHandler("Torv_GetFieldNames", result, [&] {
        if (!AcrobatReady(result)) return;
        const char* flag = bridge::kWithoutValues;
        if (parms.Size() > 0 && parms.AtAsText(0).GetSize() > 0) {
            const NSString lower = stringOf(parms.AtAsText(0)).lowercaseString();
            if (lower == NSStr("t") || lower == NSStr("y") || lower == NSStr("1")) flag = bridge::kWithValues;
        }
        NSAppleEventDescriptorRef event = makeBridgeEvent(bridge::kGetFieldNamesEvent);
        event->setParamDescriptor(textItem(NSStr(flag)), keyCString);
        const auto answered = askAcrobat(event, result);
        if (!answered) return;
        const NSStringOrNil& reply = *answered;
        if (replySame(reply, bridge::kReplyNoFields)) return setErrorResult(kNoFields, std::nullopt, result);
        if (reply->length() == 0) return setErrorResult(kInsufficientMemory, std::nullopt, result);
        setResultUTF8(result, *reply, *localeOf(parms, 0));
    });
}
