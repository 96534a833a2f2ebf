// FormHandlers: the field walk, its visitors, and the get, set, names and
// restore-defaults handlers.
#include "EventHandler.h"
#include "FieldWalk.h"
#include "HandlerFrame.h"
#include "Sessions.h"
#include "WorkingDocument.h"

#include <cstring>
#include <exception>
#include <string>

using namespace quill::acro;
namespace bridge = quill::bridge;

namespace {

// The document the form requests act on: the active window's when Acrobat
// has one (its selection cleared; the field walk also makes it the working
// document), else the working document, or null when there is none. Its
// fields are loaded. Raises like the calls it makes; runs inside the
// caller's exception frame.
PDDoc loadFieldsOfFrontDocument(bool adoptWindow) {
    AVDoc window = activeWindowOfSender();
    PDDoc doc = nullptr;
    if (window) {
        doc = AVDocGetPDDoc(window);
        if (adoptWindow) adoptWindowDocument(doc);
        AFPDDocLoadPDFields(doc);
        AVDocClearSelection(window, true);
    } else {
        doc = gPdDoc;
        if (doc) AFPDDocLoadPDFields(doc);
    }
    return doc;
}

}  // namespace

void MyEventHandler::handleRestoreDefaultsEvent(NSAppleEventDescriptor*, NSAppleEventDescriptor* replyEvent) {
    trapHandler("restore defaults", replyEvent, [&] {
        replyAlertingOutcome(replyEvent, [] {
            PDDoc target = loadFieldsOfFrontDocument(false);
            if (!target) return false;
            ResetForm(target, CosNewNull(), true);
            return true;
        });
    });
}

// ---- form fields -----------------------------------------------------------

void MyEventHandler::handleSetFieldEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("set field", replyEvent, [&] {
        fieldFound = false;
        NSAppleEventDescriptorRef list = event ? event->descriptorAtIndex(1) : nullptr;
        NSAppleEventDescriptorRef nameItem =
            list && list->descriptorType() == typeAEList ? list->descriptorAtIndex(1) : nullptr;
        NSAppleEventDescriptorRef valueItem =
            list && list->descriptorType() == typeAEList ? list->descriptorAtIndex(2) : nullptr;
        NSStringOrNil name = nameItem ? nameItem->stringValue() : std::nullopt;
        NSStringOrNil value = valueItem ? valueItem->stringValue() : std::nullopt;
        // Copies of a value of megabytes: let them go before the field takes its own.
        list.reset();
        nameItem.reset();
        valueItem.reset();
        if (!name || !value) {
            setReplyText(replyEvent, kDescriptorNotFound);
            return;
        }
        std::string replyText = bridge::kReplyNoSuchField;
        SetFieldClientData data{nullptr, nullptr, 0};
        DURING
        ScopedText nameText(textFromRequest(*name));
        ScopedText valueText(textFromRequest(*value));
        value.reset();
        data.name = nameText.get();
        data.value = valueText.get();
        doEnumFields(&data, setFieldEnumProc, data.name);
        HANDLER
        replyText = errorMessage(ERRORCODE);
        END_HANDLER
        if (fieldFound) {
            // A found field whose value could not be stored is an error, not "OK".
            replyText = data.storeError == 0 ? std::string(bridge::kReplyOK) : errorMessage(data.storeError);
        }
        setReplyText(replyEvent, replyText);
    });
}

void MyEventHandler::handleGetFieldEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("get field", replyEvent, [&] {
        NSStringOrNil name = stringParam(event, bridge::keyCString);
        if (!name) {
            setReplyText(replyEvent, bridge::kReplyNoFieldName);
            return;
        }
        GetFieldClientData data{nullptr, nullptr};
        fieldFound = false;
        std::string message;
        DURING
        ScopedText nameText(textFromRequest(*name));
        data.name = nameText.get();
        doEnumFields(&data, getFieldEnumProc, data.name);
        HANDLER
        message = errorMessage(ERRORCODE);
        END_HANDLER
        // The visitor may have made the value before the walk raised.
        const ScopedText value(data.value);
        if (!message.empty() && !fieldFound) {
            setReplyText(replyEvent, message);
        } else if (fieldFound && data.value) {
            setReplyFromText(replyEvent, data.value);
        } else if (fieldFound) {
            setReplyText(replyEvent, "");
        } else {
            setReplyText(replyEvent, bridge::kReplyNoSuchField);
        }
    });
}

void MyEventHandler::handleGetFieldNamesEvent(NSAppleEventDescriptor* event, NSAppleEventDescriptor* replyEvent) {
    trapHandler("field names", replyEvent, [&] {
        NSStringOrNil flag = stringParam(event, bridge::keyCString);
        FieldNamesClientData data{false, nullptr};
        data.withValues = flag && flag->compare(NSStr(bridge::kWithValues)) == NSOrderedSame;
        fieldFound = false;
        std::string message;
        ScopedText list;
        DURING
        list.reset(ASTextNew());
        data.list = list.get();
        doEnumFields(&data, getFieldNamesEnumProc);
        HANDLER
        message = errorMessage(ERRORCODE);
        END_HANDLER
        if (fieldFound && data.list)
            setReplyFromText(replyEvent, data.list);
        else if (!message.empty())
            setReplyText(replyEvent, message);
        else
            setReplyText(replyEvent, bridge::kReplyNoFields);
    });
}

namespace {

// Offers the visitor the first field named `name`, found through the Forms
// layer's index; true when the visitor ended the walk there. The fields before
// it in the walk have other names, and the visitors act on a name match only,
// so they would have passed them by. False (the full walk follows) when the
// layer finds no such field or cannot look names up, or the visitor went on.
bool offerNamedField(PDDoc doc, ASText name, FieldEnumProc proc, void* clientData) {
    PDField volatile field = nullptr;
    DURING
    const AcrobatBuffer pdText(ASTextGetPDTextCopy(name, nullptr));
    field = AFPDDocGetPDFieldFromName(doc, static_cast<char*>(pdText.get()));
    HANDLER
    field = nullptr;
    END_HANDLER
    return field && !proc(field, clientData);
}

}  // namespace

void doEnumFields(void* clientData, FieldEnumProc proc, ASText name) {
    fieldFound = false;
    bool noDocument = false;
    DURING
    PDDoc doc = loadFieldsOfFrontDocument(true);
    if (doc) {
        ASCallback callback = ASCallbackCreate(reinterpret_cast<void*>(proc));
        if (!name || !offerNamedField(doc, name, proc, clientData))
            AFPDDocEnumPDFields(doc, false, false, reinterpret_cast<AFPDFieldEnumProc>(callback), clientData);
    } else {
        noDocument = true;
    }
    HANDLER
    alert(errorMessage(ERRORCODE));
    END_HANDLER
    if (noDocument) alert(std::string(kNoDocument));
}

namespace {

// The field's own kind when it is one the walk handles ("Tx", "Ch", "Btn");
// null for any other kind and for a field without an "FT" name of its own.
const char* ownFieldKind(PDField field) {
    if (!AFPDFieldIsValid(field)) return nullptr;
    CosObj dict = AFPDFieldGetCosObj(field);
    CosObj kindObj = CosDictGetKeyString(dict, "FT");
    if (CosObjGetType(kindObj) != CosName) return nullptr;
    const char* kind = ASAtomGetString(CosNameValue(kindObj));
    if (!kind) return nullptr;
    for (const char* handled : {"Tx", "Ch", "Btn"})
        if (std::strcmp(kind, handled) == 0) return handled;
    return nullptr;
}

bool fullNameMatches(PDField field, ASText wanted) {
    const ScopedText name(ASTextFromPDText(AFPDFieldGetName(field)));
    return ASTextCmp(name.get(), wanted) == 0;
}

// Whether the bytes are well-formed UTF-8 with at least one non-ASCII character.
bool isNonAsciiUtf8(const char* s) {
    bool wide = false;
    for (auto p = reinterpret_cast<const unsigned char*>(s); *p;) {
        int more = *p < 0x80 ? 0 : (*p >> 5) == 0x6 ? 1 : (*p >> 4) == 0xE ? 2 : (*p >> 3) == 0x1E ? 3 : -1;
        if (more < 0) return false;
        wide = wide || more > 0;
        ++p;
        for (; more > 0; --more, ++p)
            if ((*p & 0xC0) != 0x80) return false;
    }
    return wide;
}

// The field's value as a new text object: a button's own "V" name, a text or
// choice field's string. Raises when the value is not of that form.
ASText readFieldValue(PDField field, const char* kind) {
    if (std::strcmp(kind, "Btn") == 0) {
        CosObj v = CosDictGetKeyString(AFPDFieldGetCosObj(field), "V");
        // A state name is bytes: UTF-8 from current software ("男性"), PDFDocEncoding from older.
        const char* name = ASAtomGetString(CosNameValue(v));
        return isNonAsciiUtf8(name) ? textFromUTF8(name) : ASTextFromPDText(name);
    }
    const AcrobatBuffer bytes(CosCopyStringValue(AFPDFieldGetValue(field), nullptr));
    return ASTextFromPDText(static_cast<const char*>(bytes.get()));
}

// Ends a names entry whose name or value could not be read. Its own frame, so
// that a failure here leaves the visitor's frame alone.
void endEntryQuietly(ASText list, ASText terminator) noexcept {
    quietly("field names", [&] { ASTextCat(list, terminator); });
}

// Visitors are called from inside Acrobat: no exception may leave them. An
// exception that is not Acrobat's counts as a general Acrobat error.
constexpr ASErrorCode kGeneralError = ErrBuildCode(ErrAlways, ErrSysNone, genErrGeneral);

}  // namespace

ASBool setFieldEnumProc(PDField field, void* clientData) {
    auto* data = static_cast<SetFieldClientData*>(clientData);
    ASBool goOn = true;
    bool matched = false;
    try {
        DURING
        const char* kind = ownFieldKind(field);
        if (kind && fullNameMatches(field, data->name)) {
            matched = true;
            fieldFound = true;
            ASInt32 length = 0;
            const AcrobatBuffer bytes(ASTextGetPDTextCopy(data->value, &length));
            CosObj dict = AFPDFieldGetCosObj(field);
            CosObj value = CosNewString(CosObjGetDoc(dict), false, static_cast<const char*>(bytes.get()), length);
            AFPDFieldSetValue(field, value);
            data->storeError = 0;
            goOn = false;
        }
        HANDLER
        // Go on: a later field of the same name may take the value.
        if (matched) data->storeError = ERRORCODE != 0 ? ERRORCODE : kGeneralError;
        goOn = true;
        END_HANDLER
    } catch (...) {
        if (matched) data->storeError = kGeneralError;
        goOn = true;
    }
    return goOn;
}

ASBool getFieldEnumProc(PDField field, void* clientData) {
    auto* data = static_cast<GetFieldClientData*>(clientData);
    ASBool goOn = true;
    try {
        DURING
        const char* kind = ownFieldKind(field);
        if (kind && fullNameMatches(field, data->name)) {
            fieldFound = true;
            data->value = readFieldValue(field, kind);
            goOn = false;
        }
        HANDLER
        // A matching field whose value cannot be read ends the walk.
        goOn = !fieldFound;
        END_HANDLER
    } catch (...) {
        goOn = !fieldFound;
    }
    return goOn;
}

ASBool getFieldNamesEnumProc(PDField field, void* clientData) {
    auto* data = static_cast<FieldNamesClientData*>(clientData);
    try {
        const ScopedText terminator(textFromUTF8(bridge::kLineEnd));
        const ScopedText separator(textFromUTF8(bridge::kNameValueSeparator));
        DURING
        const char* kind = ownFieldKind(field);
        if (kind) {
            fieldFound = true;
            const ScopedText name(ASTextFromPDText(AFPDFieldGetName(field)));
            ASTextCat(data->list, name.get());
            if (data->withValues) {
                ASTextCat(data->list, separator.get());
                const ScopedText value(readFieldValue(field, kind));
                ASTextCat(data->list, value.get());
            }
            ASTextCat(data->list, terminator.get());
        }
        HANDLER
        // The entry ends here: name and separator without a value, or an
        // empty line when the name was not reached.
        endEntryQuietly(data->list, terminator.get());
        END_HANDLER
    } catch (...) {
        logInternal("field names", "unexpected exception in the field visitor");
    }
    return true;
}
