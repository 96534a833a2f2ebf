// The form side of inserting and deleting pages.
#include "PageForms.h"

#include "quill/pdf/Forms.h"

#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <deque>
#include <functional>

namespace quill::pdf::pageforms {

QPDFObjectHandle copyAny(QPDF& target, QPDFObjectHandle obj, int depth) {
    if (obj.isIndirect()) return target.copyForeignObject(obj);
    if (depth > 32) return QPDFObjectHandle::newNull();
    if (obj.isDictionary()) {
        QPDFObjectHandle d = QPDFObjectHandle::newDictionary();
        for (const auto& key : obj.getKeys()) d.replaceKey(key, copyAny(target, obj.getKey(key), depth + 1));
        return d;
    }
    if (obj.isArray()) {
        QPDFObjectHandle a = QPDFObjectHandle::newArray();
        for (int i = 0; i < obj.getArrayNItems(); ++i) a.appendItem(copyAny(target, obj.getArrayItem(i), depth + 1));
        return a;
    }
    if (obj.isStream()) return QPDFObjectHandle::newNull();  // streams are always indirect
    return QPDFObjectHandle::parse(obj.unparse());
}

void mergeFormDefaults(QPDF& target, QPDF& source) {
    QPDFObjectHandle srcForm = source.getRoot().getKey("/AcroForm");
    if (!srcForm.isDictionary()) return;
    QPDFObjectHandle root = target.getRoot();
    QPDFObjectHandle form = root.getKey("/AcroForm");
    if (!form.isDictionary()) return;  // no fields were copied
    if (!form.getKey("/DA").isString() && srcForm.getKey("/DA").isString())
        form.replaceKey("/DA", copyAny(target, srcForm.getKey("/DA")));
    if (srcForm.getKey("/NeedAppearances").isBool() && srcForm.getKey("/NeedAppearances").getBoolValue())
        form.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));
    QPDFObjectHandle srcDR = srcForm.getKey("/DR");
    if (!srcDR.isDictionary()) return;
    QPDFObjectHandle dr = form.getKey("/DR");
    if (!dr.isDictionary()) {
        form.replaceKey("/DR", copyAny(target, srcDR));
        return;
    }
    // Fill in missing resource names, category by category (/Font, /Encoding ...).
    for (const auto& cat : srcDR.getKeys()) {
        QPDFObjectHandle srcCat = srcDR.getKey(cat);
        QPDFObjectHandle cur = dr.getKey(cat);
        if (!srcCat.isDictionary()) continue;
        if (!cur.isDictionary()) {
            cur = QPDFObjectHandle::newDictionary();
            dr.replaceKey(cat, cur);
        }
        for (const auto& name : srcCat.getKeys()) {
            if (cur.hasKey(name)) continue;
            QPDFObjectHandle v = srcCat.getKey(name);
            cur.replaceKey(name, copyAny(target, v));
        }
    }
}

QPDFObjectHandle topFieldOf(QPDFObjectHandle field) {
    for (int up = 0; up < 64 && field.getKey("/Parent").isDictionary(); ++up) field = field.getKey("/Parent");
    return field;
}

std::set<QPDFObjGen> fieldsLeavingWith(QPDF& q, const std::vector<QPDFObjectHandle>& pages, int first, int last) {
    std::set<QPDFObjGen> gone;
    QPDFAcroFormDocumentHelper afdh(q);
    if (!afdh.hasAcroForm()) return gone;
    const int n = static_cast<int>(pages.size());
    std::set<QPDFObjGen> kept;
    for (int i = 0; i < n; ++i) {
        if (i >= first && i <= last) continue;
        for (auto& w : afdh.getWidgetAnnotationsForPage(QPDFPageObjectHelper(pages[static_cast<std::size_t>(i)])))
            kept.insert(w.getObjectHandle().getObjGen());
    }
    std::set<QPDFObjGen> tops;
    for (int i = first; i <= last; ++i) {
        for (auto& w : afdh.getWidgetAnnotationsForPage(QPDFPageObjectHelper(pages[static_cast<std::size_t>(i)]))) {
            QPDFFormFieldObjectHelper field = afdh.getFieldForAnnotation(w);
            if (field.isNull()) continue;
            tops.insert(topFieldOf(field.getObjectHandle()).getObjGen());
            bool elsewhere = false;
            for (auto& other : afdh.getAnnotationsForField(field))
                if (kept.count(other.getObjectHandle().getObjGen())) elsewhere = true;
            if (!elsewhere) {
                gone.insert(field.getObjectHandle().getObjGen());
            } else if (w.getObjectHandle().getObjGen() != field.getObjectHandle().getObjGen()) {
                // A widget of a field that lives on: it leaves the field's /Kids, or the field would
                // keep the deleted page (its /P) in every file written.
                gone.insert(w.getObjectHandle().getObjGen());
            }
        }
    }
    for (const auto& og : tops) {
        std::vector<QPDFObjGen> widgets;
        std::set<QPDFObjGen> seen;
        std::function<void(QPDFObjectHandle, int)> walk = [&](QPDFObjectHandle node, int depth) {
            if (depth > 64 || !node.isDictionary() || (node.isIndirect() && !seen.insert(node.getObjGen()).second))
                return;
            QPDFObjectHandle kids = node.getKey("/Kids");
            if (!kids.isArray()) {
                widgets.push_back(node.getObjGen());
                return;
            }
            for (auto& k : kids.aitems()) walk(k, depth + 1);
        };
        walk(q.getObject(og), 0);
        bool anyKept = false;
        for (const auto& w : widgets) anyKept = anyKept || kept.count(w) > 0;
        if (!anyKept) gone.insert(og);
    }
    return gone;
}

void clearCopiedSignatures(QPDFAcroFormDocumentHelper& afdh, const std::vector<QPDFObjectHandle>& copies) {
    for (const auto& page : copies) {
        for (auto& w : afdh.getWidgetAnnotationsForPage(QPDFPageObjectHelper(page))) {
            QPDFFormFieldObjectHelper field = afdh.getFieldForAnnotation(w);
            if (field.isNull() || field.getFieldType() != "/Sig") continue;
            QPDFObjectHandle node = field.getObjectHandle();
            for (int depth = 0; depth < 64 && node.isDictionary(); ++depth) {
                if (node.hasKey("/V")) {
                    node.removeKey("/V");
                    break;
                }
                node = node.getKey("/Parent");
            }
        }
    }
}

bool sameContent(QPDFObjectHandle a, QPDFObjectHandle b, int depth, long& budget) {
    if (--budget < 0 || depth > 16) return false;
    const qpdf_object_type_e type = a.getTypeCode();
    if (type != b.getTypeCode()) return false;
    if (type == ::ot_stream) {
        if (!sameContent(a.getDict(), b.getDict(), depth + 1, budget)) return false;
        auto da = a.getRawStreamData();
        auto db = b.getRawStreamData();
        budget -= static_cast<long>(da->getSize() / 64);
        return budget >= 0 && da->getSize() == db->getSize() &&
               std::equal(da->getBuffer(), da->getBuffer() + da->getSize(), db->getBuffer());
    }
    if (type == ::ot_dictionary) {
        if (a.getKeys() != b.getKeys()) return false;
        for (const auto& key : a.getKeys())
            if (!sameContent(a.getKey(key), b.getKey(key), depth + 1, budget)) return false;
        return true;
    }
    if (type == ::ot_array) {
        const int n = a.getArrayNItems();
        if (n != b.getArrayNItems()) return false;
        for (int i = 0; i < n; ++i)
            if (!sameContent(a.getArrayItem(i), b.getArrayItem(i), depth + 1, budget)) return false;
        return true;
    }
    return a.unparseResolved() == b.unparseResolved();
}

bool formJoinsAsIs(QPDF& target, QPDF& source) {
    QPDFObjectHandle srcForm = source.getRoot().getKey("/AcroForm");
    QPDFObjectHandle form = target.getRoot().getKey("/AcroForm");
    if (!srcForm.isDictionary() || !form.isDictionary()) return true;
    auto text = [](QPDFObjectHandle v) { return v.isString() ? v.getUTF8Value() : std::string(); };
    auto number = [](QPDFObjectHandle v) { return v.isInteger() ? v.getIntValue() : 0; };
    if (form.hasKey("/DA") && text(form.getKey("/DA")) != text(srcForm.getKey("/DA"))) return false;
    if (number(form.getKey("/Q")) != number(srcForm.getKey("/Q"))) return false;
    QPDFObjectHandle srcDR = srcForm.getKey("/DR");
    QPDFObjectHandle dr = form.getKey("/DR");
    if (!srcDR.isDictionary() || !dr.isDictionary()) return true;
    long budget = 20000;
    for (const auto& cat : srcDR.getKeys()) {
        QPDFObjectHandle srcCat = srcDR.getKey(cat);
        QPDFObjectHandle cur = dr.getKey(cat);
        if (!srcCat.isDictionary() || !cur.isDictionary()) continue;
        for (const auto& name : srcCat.getKeys())
            if (cur.hasKey(name) && !sameContent(cur.getKey(name), srcCat.getKey(name), 0, budget)) return false;
    }
    return true;
}

std::string freeSuffix(InsertRun& run, const std::string& name) {
    QPDFAcroFormDocumentHelper& form = *run.form;
    if (form.getFieldsWithQualifiedName(name).empty()) return {};
    int& next = run.nextSuffix[name];
    if (next < 1) next = 1;
    while (!form.getFieldsWithQualifiedName(name + "+" + std::to_string(next)).empty()) ++next;
    return "+" + std::to_string(next++);
}

void joinCopiedFields(QPDF& q, InsertRun& run, QPDFAcroFormDocumentHelper& srcAfdh,
                      const std::vector<QPDFObjectHandle>& foreignPages) {
    std::vector<QPDFObjectHandle> tops;
    std::set<QPDFObjGen> seen;
    for (QPDFObjectHandle page : foreignPages) {
        QPDFObjectHandle annots = page.getKey("/Annots");
        if (!annots.isArray()) continue;
        for (auto& annot : annots.aitems()) {
            QPDFFormFieldObjectHelper field = srcAfdh.getFieldForAnnotation(QPDFAnnotationObjectHelper(annot));
            QPDFObjectHandle node = field.getObjectHandle();
            if (!node.isIndirect() || node.isStream()) continue;  // qpdf ignores such fields too
            QPDFObjectHandle top = field.getTopLevelField().getObjectHandle();
            if (!top.isIndirect() || !top.isDictionary()) continue;
            QPDFObjectHandle copy = q.copyForeignObject(top);
            if (seen.insert(copy.getObjGen()).second) tops.push_back(copy);
        }
    }
    std::map<std::string, std::string> renames;
    std::set<QPDFObjGen> visited;
    std::deque<QPDFObjectHandle> queue(tops.begin(), tops.end());
    while (!queue.empty()) {
        QPDFObjectHandle node = queue.front();
        queue.pop_front();
        if (!node.isDictionary() || !visited.insert(node.getObjGen()).second) continue;
        QPDFObjectHandle kids = node.getKey("/Kids");
        if (kids.isArray())
            for (auto& kid : kids.aitems()) queue.push_back(kid);
        if (!node.hasKey("/T")) continue;
        const std::string name = QPDFFormFieldObjectHelper(node).getFullyQualifiedName();
        auto [it, fresh] = renames.try_emplace(name);
        if (fresh) it->second = freeSuffix(run, name);
        if (!it->second.empty())
            node.replaceKey("/T", QPDFObjectHandle::newUnicodeString(node.getKey("/T").getUTF8Value() + it->second));
    }
    for (auto& top : tops) run.form->addFormField(QPDFFormFieldObjectHelper(top));
}

void bakeRenamedResources(QPDF& q, const std::vector<QPDFObjectHandle>& copies) {
    std::set<QPDFObjGen> seen;
    std::function<void(QPDFObjectHandle, int)> visit = [&](QPDFObjectHandle obj, int depth) {
        if (depth > 32) return;
        if (obj.isIndirect() && !seen.insert(obj.getObjGen()).second) return;
        if (obj.isStream()) {
            if (obj.isDataModified()) {
                try {
                    auto data = obj.getStreamData(qpdf_dl_generalized);
                    QPDFObjectHandle fresh = q.newStream(data);
                    QPDFObjectHandle dict = obj.getDict();
                    for (const auto& key : dict.getKeys())
                        if (key != "/Length" && key != "/Filter" && key != "/DecodeParms" && key != "/DL")
                            fresh.getDict().replaceKey(key, dict.getKey(key));
                    const QPDFObjGen here = obj.getObjGen(), spare = fresh.getObjGen();
                    q.swapObjects(here, spare);
                    // The old stream now sits under the new number, no longer referred to, and
                    // its data can no longer be read: qpdf's foreign copy finds a copied stream's
                    // data by the number it was copied under. An update writes every new number
                    // that is not null, so it would fail on it; null, it is never written.
                    q.replaceObject(spare, QPDFObjectHandle::newNull());
                    obj = q.getObject(here);
                } catch (const std::exception&) {
                    // Content that cannot be decoded is left as it is: it is drawn as before.
                }
            }
            visit(obj.getDict().getKey("/Resources"), depth + 1);
            return;
        }
        if (obj.isArray()) {
            for (auto& item : obj.aitems()) visit(item, depth + 1);
        } else if (obj.isDictionary()) {
            for (const auto& key : obj.getKeys()) {
                // The page tree and field parents lead out of the copied pages.
                if (key == "/Parent" || key == "/P" || key == "/Dest" || key == "/A") continue;
                visit(obj.getKey(key), depth + 1);
            }
        }
    };
    for (auto page : copies) {
        visit(page.getKey("/Contents"), 0);
        visit(page.getKey("/Resources"), 0);
        visit(page.getKey("/Annots"), 0);
    }
}

void removeFields(QPDF& q, const std::set<QPDFObjGen>& gone) {
    QPDFObjectHandle form = q.getRoot().getKey("/AcroForm");
    if (!form.isDictionary()) return;
    auto without = [&](QPDFObjectHandle array) {
        std::vector<QPDFObjectHandle> keep;
        bool changed = false;
        for (auto& item : array.aitems()) {
            if (item.isIndirect() && gone.count(item.getObjGen()))
                changed = true;
            else
                keep.push_back(item);
        }
        if (changed) array.setArrayFromVector(keep);
    };
    QPDFObjectHandle fields = form.getKey("/Fields");
    if (fields.isArray()) without(fields);
    std::set<QPDFObjGen> parents;
    for (const auto& og : gone) {
        QPDFObjectHandle parent = q.getObject(og).getKey("/Parent");
        if (parent.isDictionary() && parent.isIndirect() && !gone.count(parent.getObjGen()) &&
            parents.insert(parent.getObjGen()).second && parent.getKey("/Kids").isArray())
            without(parent.getKey("/Kids"));
    }
}

}  // namespace quill::pdf::pageforms
