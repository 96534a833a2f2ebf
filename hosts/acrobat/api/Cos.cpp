// The "Cos" table: PDF objects as CosObj handles over the handle table (ObjectHandles).
#include "AcroSDK.h"
#include "HostAPI.h"
#include "ObjectHandles.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"

#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>

using acro_host::ObjectHandles;

// A CosDoc is a tag made of the handle table's document id, never an address: ids are never
// used twice, so a CosDoc of a closed document stays a safe, dead value without any record
// kept for it.
struct _t_CosDoc;

namespace {

CosObj toCos(ObjectHandles::Handle h) {
    return CosObj{h.a, h.b};
}
ObjectHandles::Handle fromCos(CosObj o) {
    return {o.a, o.b};
}

QPDFObjectHandle resolve(CosObj obj) {
    auto object = ObjectHandles::shared().object(fromCos(obj));
    if (!object)
        throw quill::pdf::Error(quill::pdf::err::kBadParm, "The object belongs to a document that is no longer open.");
    return *object;
}

ASAtom atomFor(const std::string& name) {
    auto proc = reinterpret_cast<ASAtomFromStringSELPROTO>(acro_host::registeredProc(CoreHFTName, ASAtomFromStringSEL));
    if (!proc) throw quill::pdf::Error(quill::pdf::err::kGeneral, "Names cannot be turned into atoms.");
    return proc(name.c_str());
}

constexpr std::uintptr_t kCosDocMark = 8;

CosDoc cosDocFor(std::uint32_t id) {
    return reinterpret_cast<CosDoc>((static_cast<std::uintptr_t>(id) << 4) | kCosDocMark);
}

// The document id a CosDoc names; 0 (no document) for a value that is no CosDoc.
std::uint32_t idOfCosDoc(CosDoc doc) {
    const auto tag = reinterpret_cast<std::uintptr_t>(doc);
    if ((tag & 0xF) != kCosDocMark || (tag >> 4) > UINT32_MAX) return 0;
    return static_cast<std::uint32_t>(tag >> 4);
}

ACCB1 CosObj ACCB2 impl_CosNewNull() {
    return CosObj{0, 0};
}

ACCB1 CosObj ACCB2 impl_CosDictGetKeyString(CosObj dict, const char* key) {
    return acro_host::guarded([&]() -> CosObj {
        if (!key) throw quill::pdf::Error(quill::pdf::err::kBadParm, "No dictionary key was given.");
        auto container = resolve(dict);
        if (!container.isDictionary()) return CosObj{0, 0};
        return toCos(ObjectHandles::shared().handleForKey(dict.a, container, std::string("/") + key));
    });
}

ACCB1 CosType ACCB2 impl_CosObjGetType(CosObj obj) {
    return acro_host::guarded([&]() -> CosType {
        auto o = resolve(obj);
        if (o.isInteger()) return CosInteger;
        if (o.isReal()) return CosReal;
        if (o.isBool()) return CosBoolean;
        if (o.isName()) return CosName;
        if (o.isString()) return CosString;
        if (o.isStream()) return CosStream;
        if (o.isDictionary()) return CosDict;
        if (o.isArray()) return CosArray;
        return CosNull;
    });
}

ACCB1 ASAtom ACCB2 impl_CosNameValue(CosObj obj) {
    return acro_host::guarded([&]() -> ASAtom {
        auto o = resolve(obj);
        if (!o.isName()) throw quill::pdf::Error(quill::pdf::err::kBadParm, "The object is not a name.");
        // An atom holds the name's bytes ("男性" in UTF-8), as Acrobat's does, not qpdf's escapes.
        return atomFor(quill::pdf::nameBytes(o.getName().substr(1)));
    });
}

ACCB1 CosDoc ACCB2 impl_CosObjGetDoc(CosObj obj) {
    return acro_host::guarded([&]() -> CosDoc {
        if (obj.a == 0 || !ObjectHandles::shared().owner(obj.a))
            throw quill::pdf::Error(quill::pdf::err::kBadParm, "The object belongs to no open document.");
        return cosDocFor(obj.a);
    });
}

ACCB1 CosObj ACCB2 impl_CosNewString(CosDoc doc, ASBool indirect, const char* str, ASTArraySize nBytes) {
    return acro_host::guarded([&]() -> CosObj {
        const std::uint32_t id = idOfCosDoc(doc);
        if (!id || !ObjectHandles::shared().owner(id))
            throw quill::pdf::Error(quill::pdf::err::kBadParm, "The document of the new string is not open.");
        if (nBytes < 0 || (nBytes > 0 && !str))
            throw quill::pdf::Error(quill::pdf::err::kBadParm, "The string's bytes are missing.");
        auto string = QPDFObjectHandle::newString(std::string(str ? str : "", static_cast<std::size_t>(nBytes)));
        if (indirect) {
            auto owner = std::static_pointer_cast<quill::pdf::Document>(ObjectHandles::shared().owner(id));
            string = owner->qpdf().makeIndirectObject(string);
        }
        return toCos(ObjectHandles::shared().handle(id, string));
    });
}

ACCB1 char* ACCB2 impl_CosCopyStringValue(CosObj obj, ASTCount* nBytes) {
    return acro_host::guarded([&]() -> char* {
        auto o = resolve(obj);
        if (!o.isString()) throw quill::pdf::Error(quill::pdf::err::kBadParm, "The object is not a string.");
        std::string bytes = o.getStringValue();
        // Freed by the caller with ASfree: plain malloc memory. Two NULs end UTF-16 text as well.
        auto* copy = static_cast<char*>(std::malloc(bytes.size() + 2));
        if (!copy)
            throw quill::pdf::Error(quill::pdf::err::kNoMemory, "There is not enough memory to copy the string.");
        std::memcpy(copy, bytes.data(), bytes.size());
        copy[bytes.size()] = copy[bytes.size() + 1] = '\0';
        if (nBytes) *nBytes = static_cast<ASTCount>(bytes.size());
        return copy;
    });
}

const acro_host::ProcRegistration reg{CosHFTName,
                                      {{CosNewNullSEL, reinterpret_cast<void*>(&impl_CosNewNull)},
                                       {CosDictGetKeyStringSEL, reinterpret_cast<void*>(&impl_CosDictGetKeyString)},
                                       {CosObjGetTypeSEL, reinterpret_cast<void*>(&impl_CosObjGetType)},
                                       {CosNameValueSEL, reinterpret_cast<void*>(&impl_CosNameValue)},
                                       {CosObjGetDocSEL, reinterpret_cast<void*>(&impl_CosObjGetDoc)},
                                       {CosNewStringSEL, reinterpret_cast<void*>(&impl_CosNewString)},
                                       {CosCopyStringValueSEL, reinterpret_cast<void*>(&impl_CosCopyStringValue)}}};

}  // namespace
