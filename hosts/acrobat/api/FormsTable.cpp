// The "Forms" table: a document's form fields as PDField handles over the form engine.
#include "AcroSDK.h"
#include "HostAPI.h"
#include "ObjectHandles.h"
#include "PDDocHandle.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"

#include <map>
#include <optional>
#include <memory>
#include <unordered_map>
#include <string>
#include <vector>

using acro_host::ObjectHandles;
using quill::pdf::Document;
using quill::pdf::Error;
using quill::pdf::FormFields;

// A field handle: which document and which node of its field tree. The PDField a plug-in holds
// is a tag, never the address of this record: tags are never used twice, so the records of a
// closed document can be freed while a stale tag still reports itself invalid.
class CPDField {
public:
    std::weak_ptr<Document> doc;
    std::uint32_t docId = 0;
    std::size_t index = 0;  // position in the walk when last seen
    QPDFObjGen objGen;      // identity of an indirect field dictionary
    std::string name;       // the PDF text handed out by AFPDFieldGetName
};

namespace {

struct FieldRegistry {
    // Per document id: the tags of its field handles by node identity.
    std::map<std::uint32_t, std::map<std::pair<QPDFObjGen, std::size_t>, std::uintptr_t>> byDoc;
    std::unordered_map<std::uintptr_t, CPDField> byTag;
    std::uintptr_t lastTag = 0x1000;
};

FieldRegistry& registry() {
    static FieldRegistry r;
    return r;
}

PDField handleOf(std::uintptr_t tag) {
    return reinterpret_cast<PDField>(tag);
}

// The record behind a handle, or null for a stale or foreign one.
CPDField* recordOf(PDField field) {
    auto& tags = registry().byTag;
    auto it = tags.find(reinterpret_cast<std::uintptr_t>(field));
    return it == tags.end() ? nullptr : &it->second;
}

}  // namespace

// Frees the handles of documents that are no longer open. Called at every close as well as
// before a walk: a merge looks fields up by name and never walks, so without the call at close
// the records of every document it closed would stay behind, growing over the whole run.
void acro_host::forgetClosedFieldHandles() {
    auto& r = registry();
    for (auto doc = r.byDoc.begin(); doc != r.byDoc.end();) {
        const auto first = doc->second.empty() ? r.byTag.end() : r.byTag.find(doc->second.begin()->second);
        if (first != r.byTag.end() && !first->second.doc.expired()) {
            ++doc;
            continue;
        }
        for (const auto& [key, tag] : doc->second) r.byTag.erase(tag);
        doc = r.byDoc.erase(doc);
    }
}

std::size_t acro_host::fieldHandleCount() {
    return registry().byTag.size();
}

namespace {

std::shared_ptr<Document> sharedDocumentOf(PDDoc pdDoc) {
    if (!acro_host::isLivePDDoc(pdDoc) || !pdDoc->doc)
        throw Error(quill::pdf::err::kBadParm, "The document is not open.");
    return pdDoc->doc;
}

PDField handleFor(std::uint32_t docId, const std::shared_ptr<Document>& doc, const FormFields& forms, std::size_t i) {
    auto dict = forms.fields()[i].dict;
    // Direct field dictionaries (rare) have no identity of their own: their walk position stands in.
    auto key =
        dict.isIndirect() ? std::make_pair(dict.getObjGen(), std::size_t{0}) : std::make_pair(QPDFObjGen(), i + 1);
    auto& r = registry();
    // A document's first handle: whatever was held for documents closed meanwhile goes first.
    if (r.byDoc.find(docId) == r.byDoc.end()) acro_host::forgetClosedFieldHandles();
    auto& tag = r.byDoc[docId][key];
    if (!tag) {
        r.lastTag += 8;
        tag = r.lastTag;
        CPDField& record = r.byTag[tag];
        record.doc = doc;
        record.docId = docId;
        record.objGen = dict.isIndirect() ? dict.getObjGen() : QPDFObjGen();
    }
    r.byTag[tag].index = i;
    return handleOf(tag);
}

struct Resolved {
    std::shared_ptr<Document> doc;
    std::shared_ptr<FormFields> forms;
    std::size_t index;
    CPDField* field;
};

// The field's node in the document's current tree, or nothing when the handle is stale.
std::optional<Resolved> resolve(PDField handle) {
    CPDField* field = recordOf(handle);
    if (!field) return std::nullopt;
    auto doc = field->doc.lock();
    if (!doc) return std::nullopt;
    auto forms = FormFields::forDocument(doc);
    auto matches = [&](std::size_t i) {
        auto dict = forms->fields()[i].dict;
        return field->objGen.isIndirect() ? dict.isIndirect() && dict.getObjGen() == field->objGen : !dict.isIndirect();
    };
    if (field->index < forms->size() && matches(field->index)) return Resolved{doc, forms, field->index, field};
    if (field->objGen.isIndirect()) {
        for (std::size_t i = 0; i < forms->size(); ++i) {
            if (matches(i)) {
                field->index = i;
                return Resolved{doc, forms, i, field};
            }
        }
    }
    return std::nullopt;
}

Resolved mustResolve(PDField field) {
    auto r = resolve(field);
    if (!r) throw Error(quill::pdf::err::kBadParm, "The form field is no longer part of an open document.");
    return *r;
}

ACCB1 void ACCB2 impl_AFPDDocLoadPDFields(PDDoc pdDoc) {
    acro_host::guarded([&] { FormFields::forDocument(sharedDocumentOf(pdDoc)); });
}

ACCB1 void ACCB2 impl_AFPDDocEnumPDFields(PDDoc pdDoc, ASBool terminals, ASBool, AFPDFieldEnumProc proc,
                                          void* clientData) {
    // The visitor may raise; its exception passes through to the caller's frame untouched.
    std::vector<PDField> fields = acro_host::guarded([&] {
        if (!proc) throw Error(quill::pdf::err::kBadParm, "No field visitor was given.");
        auto doc = sharedDocumentOf(pdDoc);
        auto forms = FormFields::forDocument(doc);
        auto id = ObjectHandles::shared().idOf(doc);
        acro_host::forgetClosedFieldHandles();
        std::vector<PDField> out;
        out.reserve(forms->size());
        for (std::size_t i = 0; i < forms->size(); ++i) {
            const auto& node = forms->fields()[i];
            // A kid without a name of its own is a widget of the field above it, not a field: the
            // field is offered once, whatever number of widgets shows it.
            if (!node.named && node.parent >= 0) continue;
            bool leaf = true;
            for (std::size_t k = i + 1; k < forms->size() && forms->fields()[k].parent >= static_cast<int>(i); ++k)
                if (forms->fields()[k].parent == static_cast<int>(i) && forms->fields()[k].named) leaf = false;
            if (terminals && !leaf) continue;
            out.push_back(handleFor(id, doc, *forms, i));
        }
        return out;
    });
    for (auto* field : fields)
        if (!proc(field, clientData)) break;
}

ACCB1 PDField ACCB2 impl_AFPDDocGetPDFieldFromName(PDDoc pdDoc, char* name) {
    return acro_host::guarded([&]() -> PDField {
        if (!name) throw Error(quill::pdf::err::kBadParm, "No field name was given.");
        auto doc = sharedDocumentOf(pdDoc);
        auto forms = FormFields::forDocument(doc);
        const std::u16string wanted = acro_host::decodePDText(name);
        // The first node of a name is a field the walk offers: a widget kid shares its parent's
        // name and comes after it.
        int at = forms->find(wanted);
        if (at < 0) return nullptr;
        return handleFor(ObjectHandles::shared().idOf(doc), doc, *forms, static_cast<std::size_t>(at));
    });
}

ACCB1 ASBool ACCB2 impl_AFPDFieldIsValid(PDField field) {
    return acro_host::guarded([&]() -> ASBool { return resolve(field) ? 1 : 0; });
}

ACCB1 CosObj ACCB2 impl_AFPDFieldGetCosObj(PDField field) {
    return acro_host::guarded([&]() -> CosObj {
        auto r = mustResolve(field);
        auto h = ObjectHandles::shared().handle(r.field->docId, r.forms->fields()[r.index].dict);
        return CosObj{h.a, h.b};
    });
}

ACCB1 char* ACCB2 impl_AFPDFieldGetName(PDField field) {
    return acro_host::guarded([&]() -> char* {
        auto r = mustResolve(field);
        // Kept in the handle so the pointer stays good after the tree is read again.
        r.field->name = r.forms->fields()[r.index].fullNamePDText;
        return r.field->name.data();
    });
}

ACCB1 CosObj ACCB2 impl_AFPDFieldGetValue(PDField field) {
    return acro_host::guarded([&]() -> CosObj {
        auto r = mustResolve(field);
        // Through the holder's entry, so that reading a value on every walk reuses one handle.
        int holder = r.forms->valueHolder(r.index);
        if (holder < 0) return CosObj{0, 0};
        auto h = ObjectHandles::shared().handleForKey(r.field->docId,
                                                      r.forms->fields()[static_cast<std::size_t>(holder)].dict, "/V");
        return CosObj{h.a, h.b};
    });
}

ACCB1 ASBool ACCB2 impl_AFPDFieldSetValue(PDField field, CosObj value) {
    return acro_host::guarded([&]() -> ASBool {
        auto r = mustResolve(field);
        auto object = ObjectHandles::shared().object({value.a, value.b});
        if (!object) throw Error(quill::pdf::err::kBadParm, "The value belongs to a document that is no longer open.");
        r.forms->setValue(r.index, *object);
        return 1;
    });
}

ACCB1 void ACCB2 impl_ResetForm(PDDoc pdDoc, CosObj fields, ASBool include) {
    acro_host::guarded([&] {
        auto doc = sharedDocumentOf(pdDoc);
        auto forms = FormFields::forDocument(doc);
        auto list = ObjectHandles::shared().object({fields.a, fields.b});
        if (!list)
            throw Error(quill::pdf::err::kBadParm, "The list of fields belongs to a document that is no longer open.");
        if (list->isNull()) {
            forms->reset();
            return;
        }
        if (!list->isArray()) throw Error(quill::pdf::err::kBadParm, "The fields to reset are not a list of names.");
        std::vector<std::u16string> names;
        for (auto& item : list->aitems())
            if (item.isString()) names.push_back(quill::pdf::pdfTextToUtf16(item.getStringValue()));
        forms->reset(names, include != 0);
    });
}

const acro_host::ProcRegistration reg{
    FormsHFTName,
    {{AFPDDocLoadPDFields_SEL, reinterpret_cast<void*>(&impl_AFPDDocLoadPDFields)},
     {AFPDDocEnumPDFields_SEL, reinterpret_cast<void*>(&impl_AFPDDocEnumPDFields)},
     {AFPDFieldIsValid_SEL, reinterpret_cast<void*>(&impl_AFPDFieldIsValid)},
     {AFPDFieldGetCosObj_SEL, reinterpret_cast<void*>(&impl_AFPDFieldGetCosObj)},
     {AFPDFieldGetName_SEL, reinterpret_cast<void*>(&impl_AFPDFieldGetName)},
     {AFPDFieldGetValue_SEL, reinterpret_cast<void*>(&impl_AFPDFieldGetValue)},
     {AFPDFieldSetValue_SEL, reinterpret_cast<void*>(&impl_AFPDFieldSetValue)},
     {ResetForm_SEL, reinterpret_cast<void*>(&impl_ResetForm)},
     {AFPDDocGetPDFieldFromName_SEL, reinterpret_cast<void*>(&impl_AFPDDocGetPDFieldFromName)}}};

}  // namespace
