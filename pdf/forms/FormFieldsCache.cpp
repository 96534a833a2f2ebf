// The per-document cache of field trees: one FormFields for each open Document, read again when
// the document's generation moved on behind its back, and the drawing due before a save or print.
#include "quill/pdf/Document.h"
#include "quill/pdf/Forms.h"
#include "InstalledFaces.h"

#include <map>
#include <memory>

namespace quill::pdf {

struct FormFieldsCache {
    struct Entry {
        std::weak_ptr<Document> doc;
        std::shared_ptr<FormFields> fields;
    };
    static std::map<const Document*, Entry>& entries() {
        static std::map<const Document*, Entry> map;
        return map;
    }
    // Reads the tree again when the document moved on behind its back.
    static void refresh(FormFields& fields, Document& doc) {
        if (fields.generation_ == doc.generation()) return;
        fields.reload();
        fields.generation_ = doc.generation();
    }
};

void forgetClosedFormFields() {
    auto& entries = FormFieldsCache::entries();
    for (auto it = entries.begin(); it != entries.end();) {
        if (it->second.doc.expired())
            it = entries.erase(it);
        else
            ++it;
    }
}

std::shared_ptr<FormFields> FormFields::forDocument(const std::shared_ptr<Document>& doc) {
    forgetClosedFormFields();
    auto& entries = FormFieldsCache::entries();
    auto& entry = entries[doc.get()];
    if (!entry.fields || entry.doc.lock() != doc) {
        std::weak_ptr<Document> weak = doc;
        entry.fields = std::make_shared<FormFields>(doc->qpdf(), std::function<void()>(), true, &doc->warningList());
        FormFields* raw = entry.fields.get();  // the callback lives inside *raw
        entry.fields->changed_ = [weak, raw]() {
            if (auto d = weak.lock()) {
                d->markChanged();
                raw->generation_ = d->generation();
            }
        };
        entry.fields->changedObjects_ = [weak, raw](const std::vector<ObjectId>& objects) {
            if (auto d = weak.lock()) {
                d->markChanged(objects);
                raw->generation_ = d->generation();
            }
        };
        entry.doc = doc;
        entry.fields->generation_ = doc->generation();
    } else if (entry.fields->generation_ != doc->generation()) {
        entry.fields->reload();
        entry.fields->generation_ = doc->generation();
    }
    return entry.fields;
}

void flushAppearances(Document& doc) {
    auto& entries = FormFieldsCache::entries();
    auto found = entries.find(&doc);
    if (found == entries.end() || !found->second.fields || found->second.doc.expired()) return;
    auto fields = found->second.fields;  // drawing may call back into the cache's document
    if (fields->hasPending()) fields->drawPending();
}

std::shared_ptr<FormFields> loadedFormFields(Document& doc) {
    auto& entries = FormFieldsCache::entries();
    auto found = entries.find(&doc);
    if (found == entries.end() || !found->second.fields || found->second.doc.expired()) return nullptr;
    auto fields = found->second.fields;
    FormFieldsCache::refresh(*fields, doc);
    return fields;
}

void drawAllAppearances(Document& doc) {
    auto& entries = FormFieldsCache::entries();
    auto found = entries.find(&doc);
    if (found != entries.end() && found->second.fields && !found->second.doc.expired()) {
        auto fields = found->second.fields;
        fields->drawPending();
        fields->drawMissing();
        return;
    }
    FormFields fields(doc.qpdf(), [&doc] { doc.markChanged(); });
    fields.drawMissing();
}

void prepareFieldFonts() {
    // A Latin and a CJK character in the plain sans-serif most fields ask for.
    for (char32_t c : {U'A', U'\u4E2D'}) {
        const int face = fonts::faceFor(c);
        if (face >= 0) (void)fonts::ascent(face);
    }
}

}  // namespace quill::pdf
