// Inserting pages from another document (with their form fields) and deleting pages.
#include "quill/pdf/Document.h"

#include "DocumentImpl.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "IncrementalState.h"
#include "quill/pdf/Signatures.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/Buffer.hh>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace quill::pdf {

// Files pages were inserted from. The first insert from a file copies through the source document
// as it was opened; a later insert from the same file (same identity and times, opened unchanged)
// copies through that first parse, so that qpdf's foreign copy finds what it copied before (fonts,
// images, content streams) already here: ten appends of one file add ten sets of page
// dictionaries, not ten copies of its resources to write, read back and keep.
struct SharedPageSources {
    struct Entry {
        std::string path;
        FileStamp stamp;
        std::shared_ptr<QPDF> q;
        std::set<QPDFObjGen> copiedPages;  // its pages copied into this document so far
    };
    std::map<std::string, Entry> byPath;  // the latest open of each file
};

// Kept from one insert to the next while the document's generation is the one the last insert
// left (any other change drops it): the document's form helper, analysed once (building it
// walks every field and page), and for each field name the first suffix a clash may still find
// free, so that a new copy of a form does not try again every name its earlier copies took.
// A document that let pages be inserted still does: copied signatures are emptied.
struct InsertRun {
    std::uint64_t generation = 0;
    std::unique_ptr<QPDFAcroFormDocumentHelper> form;
    std::map<std::string, int> nextSuffix;
    bool flat = false;  // the page tree is the flat one relinkPages makes
};

namespace {

// Acrobat refuses documents above this many pages.
constexpr long long kMaxPages = 8388607;

// An in-memory copy of a document, so that pages can be copied into the document they come from
// as independent pages (own annotations, own fields) through the same foreign-copy path.
std::shared_ptr<QPDF> snapshot(QPDF& q) {
    QPDFWriter w(q);
    w.setOutputMemory();
    w.setDecodeLevel(qpdf_dl_none);
    w.setCompressStreams(false);
    w.write();
    auto buf = w.getBufferSharedPointer();
    auto copy = std::make_shared<QPDF>();
    copy->setSuppressWarnings(true);
    // The buffer must outlive the QPDF reading it: keep it in a holder captured by the description.
    copy->processMemoryFile("page copy", reinterpret_cast<const char*>(buf->getBuffer()), buf->getSize());
    struct Holder {
        std::shared_ptr<Buffer> buf;
        std::shared_ptr<QPDF> q;
    };
    auto holder = std::make_shared<Holder>(Holder{buf, copy});
    return std::shared_ptr<QPDF>(holder, holder->q.get());
}

// Copies an object of another document into `target`, direct containers included (qpdf's
// foreign copy takes indirect objects only).
QPDFObjectHandle copyAny(QPDF& target, QPDFObjectHandle obj, int depth = 0);

// The inheritable page attributes a source page takes from its ancestors
// (size, crop, rotation, resources) are set on its copy, so an inserted page
// keeps its size and orientation in the new tree.
void inheritAttributes(QPDF& target, QPDFObjectHandle sourcePage, QPDFObjectHandle copy) {
    for (const char* key : {"/MediaBox", "/CropBox", "/Rotate", "/Resources"}) {
        if (copy.hasKey(key)) continue;
        QPDFObjectHandle node = sourcePage.getKey("/Parent");
        for (int depth = 0; node.isDictionary() && depth < 64; ++depth) {
            if (node.hasKey(key)) {
                copy.replaceKey(key, copyAny(target, node.getKey(key)));
                break;
            }
            node = node.getKey("/Parent");
        }
    }
}

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

// Brings the source form's resources and flags the copied widgets rely on into this form.
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

// Makes `pages` the whole page list of `q`, in that order, in one pass: a flat tree with every page
// a kid of the root node. qpdf's own addPage and removePage renumber every later page on each call,
// so a run of edits through them grows with the square of its length; this costs one walk of the
// list whatever was changed.
// Attributes a page inherits from the old intermediate nodes are put on the page first. qpdf's own
// page list is left behind (rebuilding it walks every page): the caller keeps `pages` as the list
// until Document::qpdf rebuilds it, once for a run of edits.
void relinkPages(QPDF& q, const std::vector<QPDFObjectHandle>& pages) {
    QPDFObjectHandle root = q.getRoot().getKey("/Pages");
    const QPDFObjGen rootId = root.getObjGen();
    // After the first edit the tree is flat and its root holds nothing to inherit: qpdf's push
    // (a walk of every page, each edit) has nothing left to do then. Pages not yet under the root
    // (copies have no /Parent) are noted on the same pass.
    bool flat = root.isDictionary();
    for (const char* key : {"/MediaBox", "/CropBox", "/Rotate", "/Resources"}) flat = flat && !root.hasKey(key);
    std::vector<std::size_t> moved;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        QPDFObjectHandle parent = QPDFObjectHandle(pages[i]).getKey("/Parent");
        if (parent.getObjGen() == rootId) continue;
        if (!parent.isNull()) flat = false;
        moved.push_back(i);
    }
    if (!flat) q.pushInheritedAttributesToPage();
    QPDFObjectHandle kids = QPDFObjectHandle::newArray(pages);
    // A page already under the root is left untouched, so it does not count as changed.
    for (std::size_t i : moved) QPDFObjectHandle(pages[i]).replaceKey("/Parent", root);
    root.replaceKey("/Kids", kids);
    root.replaceKey("/Count", QPDFObjectHandle::newInteger(static_cast<long long>(pages.size())));
}

// The top-level field a field belongs to.
QPDFObjectHandle topFieldOf(QPDFObjectHandle field) {
    for (int up = 0; up < 64 && field.getKey("/Parent").isDictionary(); ++up) field = field.getKey("/Parent");
    return field;
}

// Fields that go with the deleted pages, as a viewer does it: the whole top-level field when none
// of its widgets survives, else the terminal fields whose every widget was on a deleted page, and
// the deleted pages' widgets of fields that stay.
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

// A signature signs the bytes of the file it was made in: copied into another document it would
// claim bytes it never saw, and readers would report it as broken. The copied field stays, empty,
// as a viewer leaves it when it combines signed files.
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

// True when `a` (of this document) and `b` (of another) hold the same thing: the same keys and
// values, streams with the same bytes. Bounded: what is too deep or too large counts as different.
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

// True when the source's form can join this document's as it stands: every resource name of its
// /DR is new here or names the same resource, and its default appearance and quadding are this
// form's (or this document has none yet and takes the source's). Then the copied fields keep
// their /DA and appearance streams unchanged, and no resource needs a new name.
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

// The suffix ("+1", "+2" ...) that makes a copied field's full name new in this form, or "" when
// it is new already: the first one free, as qpdf gives it, searched from the last one given.
std::string freeSuffix(InsertRun& run, const std::string& name) {
    QPDFAcroFormDocumentHelper& form = *run.form;
    if (form.getFieldsWithQualifiedName(name).empty()) return {};
    int& next = run.nextSuffix[name];
    if (next < 1) next = 1;
    while (!form.getFieldsWithQualifiedName(name + "+" + std::to_string(next)).empty()) ++next;
    return "+" + std::to_string(next++);
}

// Adds the fields of freshly copied pages to this document's form. The pages were copied by qpdf's
// foreign copy from a document not copied from before, so their widgets and fields are objects of
// their own already; qpdf's fixCopiedAnnotations would copy them all once more and look for a
// free name by trying every suffix from 1. Names that clash get the suffix qpdf would give them.
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

// qpdf merges the source form's /DR into this one, renaming what clashes (/ZaDb becomes /ZaDb_1)
// in the copied streams' /Resources at once, but in their content only through a token filter
// applied when the stream is decoded on writing. Saves copy stream data as it stands, so that
// filter would never run and the streams would draw with names their resources no longer have
// (check marks and radio dots would vanish). Every stream a copied page draws with that carries such a filter is
// replaced by one holding the filtered content, under the same object number.
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

// Takes the fields (and widgets) out of the form: top-level ones from /Fields, the others from their
// parent's /Kids. Each array is rebuilt once, so the cost does not grow with fields times removals.
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

// A value of a shared source's page copied for another copy of that page: indirect objects are
// the copies made before (qpdf's foreign copy maps them), except other pages, which are not
// crossed, as qpdf's copy does not cross them: a link to a page copied here points to its copy,
// one to any other page to nothing.
QPDFObjectHandle copyShared(QPDF& target, QPDFObjectHandle obj, const std::set<QPDFObjGen>& copiedPages,
                            int depth = 0) {
    if (obj.isIndirect()) {
        if (obj.isPageObject() && !copiedPages.count(obj.getObjGen())) return QPDFObjectHandle::newNull();
        return target.copyForeignObject(obj);
    }
    if (depth > 32) return QPDFObjectHandle::newNull();
    if (obj.isDictionary()) {
        QPDFObjectHandle d = QPDFObjectHandle::newDictionary();
        for (auto& [key, value] : obj.ditems())
            if (!value.isNull()) d.replaceKey(key, copyShared(target, value, copiedPages, depth + 1));
        return d;
    }
    if (obj.isArray()) {
        QPDFObjectHandle a = QPDFObjectHandle::newArray();
        for (auto& item : obj.aitems()) a.appendItem(copyShared(target, item, copiedPages, depth + 1));
        return a;
    }
    if (obj.isStream()) return QPDFObjectHandle::newNull();  // streams are always indirect
    return obj.shallowCopy();                                // a number, name, string, boolean or null of its own
}

// True when a page's annotations can be copied as dictionaries of their own: no form widgets
// (they need fields of their own) and none tied to another annotation (pop-ups, replies).
bool annotationsCopyPlainly(QPDFObjectHandle page) {
    QPDFObjectHandle annots = page.getKey("/Annots");
    if (annots.isNull()) return true;
    if (!annots.isArray()) return false;
    for (auto& annot : annots.aitems()) {
        if (!annot.isDictionary() || annot.getKey("/Subtype").isNameAndEquals("/Widget")) return false;
        for (const char* key : {"/Parent", "/Popup", "/IRT", "/FT", "/Kids", "/T"})
            if (annot.hasKey(key)) return false;
    }
    return true;
}

// Another copy of a shared source's page copied here before: a page dictionary of its own, and
// annotations of its own, holding the copies made then (content, resources), so that both pages
// draw alike.
QPDFObjectHandle copyPageAgain(QPDF& target, QPDFObjectHandle foreign, const std::set<QPDFObjGen>& copiedPages) {
    QPDFObjectHandle page = target.makeIndirectObject(QPDFObjectHandle::newDictionary());
    for (auto& [key, value] : foreign.ditems()) {
        if (key == "/Parent" || value.isNull()) continue;
        if (key != "/Annots") {
            page.replaceKey(key, copyShared(target, value, copiedPages));
            continue;
        }
        QPDFObjectHandle annots = QPDFObjectHandle::newArray();
        for (auto& annot : value.aitems()) {
            QPDFObjectHandle copy = QPDFObjectHandle::newDictionary();
            for (auto& [k, v] : annot.ditems())
                if (!v.isNull()) copy.replaceKey(k, k == "/P" ? page : copyShared(target, v, copiedPages));
            annots.appendItem(annot.isIndirect() ? target.makeIndirectObject(copy) : copy);
        }
        page.replaceKey("/Annots", annots);
    }
    inheritAttributes(target, foreign, page);
    return page;
}

}  // namespace

void Document::insertPages(int after, Document& source, int start, int count, int flags) {
    flushAppearances(source);  // copied widgets carry the appearances of their current values
    (void)flags;               // bookmarks and threads are not copied; pages, resources and form fields always are
    Impl& me = *impl_;
    // While page edits are pending, numPages() and qpdf() would rebuild qpdf's page list first.
    const int n = me.pagesPending ? static_cast<int>(me.editedPages.size()) : numPages();
    const int srcN = source.numPages();
    if (after == kLastPage) after = n - 1;
    if (after < kBeforeFirstPage || after >= n) throw Error(err::kBadParm, "The page to insert after does not exist.");
    if (start < 0 || start >= srcN)
        throw Error(err::kBadParm, srcN == 0 ? "The document to insert from has no pages."
                                             : "The first page to insert does not exist in the source document.");
    if (count == kAllPages) count = srcN - start;
    if (count < 1 || static_cast<long long>(start) + count > srcN)
        throw Error(err::kBadParm, "The range of pages to insert is not in the source document.");
    if (static_cast<long long>(n) + count > kMaxPages)
        throw Error(err::kTooManyPages, "Inserting the pages would give the document too many pages.");
    // An insert right after another finds what that one learnt still true: the document allowed
    // page changes (inserted pages bring no signature), its form as analysed then.
    if (!me.insertRun || me.insertRun->generation != generation()) {
        checkPageChange(me.pagesPending ? *me.q : qpdf());  // a certified document keeps its pages
        me.insertRun = std::make_shared<InsertRun>();
    }
    InsertRun& run = *me.insertRun;

    // A source is shared only while it is the file as read: unchanged since its open.
    const IncrementalState* read = source.impl_->incremental.get();
    const bool shareable =
        &source != this && source.generation() == 1 && !source.wasRepaired() && read && !read->path.empty();
    SharedPageSources::Entry* shared = nullptr;
    bool known = false;
    if (shareable && me.pageSources) {
        auto it = me.pageSources->byPath.find(read->path);
        if (it != me.pageSources->byPath.end() && it->second.stamp == read->stamp) shared = &it->second;
        known = shared != nullptr;
    }
    if (shared) {
        // Widgets need fields of their own: pages with them come from the source itself.
        const std::vector<QPDFObjectHandle>& all = shared->q->getAllPages();
        if (static_cast<int>(all.size()) != srcN) shared = nullptr;
        for (int i = 0; shared && i < count; ++i)
            if (!annotationsCopyPlainly(all[static_cast<std::size_t>(start + i)])) shared = nullptr;
    }
    if (!shared) source.qpdf();  // parsed, if the open left that for later
    std::shared_ptr<QPDF> from = shared ? shared->q : source.impl_->q;
    if (from.get() == me.q.get()) from = snapshot(*me.q);
    // Nothing copied from this source before: its copies share nothing with what is here.
    const bool freshSource = !shared && !me.sourceSet.count(from.get());

    QPDF& q = *me.q;
    me.pagesBuilt = true;
    const std::vector<QPDFObjectHandle>& srcPages = from->getAllPages();
    QPDFAcroFormDocumentHelper srcAfdh(*from);
    const bool withForms = srcAfdh.hasAcroForm();

    try {
        std::vector<QPDFObjectHandle> copies;
        copies.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            QPDFObjectHandle foreign = srcPages[static_cast<std::size_t>(start + i)];
            if (shared && !shared->copiedPages.insert(foreign.getObjGen()).second) {
                copies.push_back(copyPageAgain(q, foreign, shared->copiedPages));
                continue;
            }
            QPDFObjectHandle copy = q.copyForeignObject(foreign);
            // copyForeignObject leaves out /Parent, and with it the attributes the
            // page inherits from the source's page tree: give the copy its own.
            inheritAttributes(q, foreign, copy);
            copies.push_back(copy);
        }
        if (run.flat && me.pagesPending && after == n - 1) {
            // Pages added at the end of the flat tree an earlier edit left: only they are touched.
            QPDFObjectHandle root = q.getRoot().getKey("/Pages");
            QPDFObjectHandle kids = root.getKey("/Kids");
            for (auto& copy : copies) {
                copy.replaceKey("/Parent", root);
                kids.appendItem(copy);
                me.editedPages.push_back(copy);
            }
            root.replaceKey("/Count", QPDFObjectHandle::newInteger(static_cast<long long>(me.editedPages.size())));
        } else {
            const std::vector<QPDFObjectHandle> pages = me.pagesPending ? me.editedPages : q.getAllPages();
            std::vector<QPDFObjectHandle> placed;
            placed.reserve(pages.size() + copies.size());
            placed.insert(placed.end(), pages.begin(), pages.begin() + (after + 1));
            placed.insert(placed.end(), copies.begin(), copies.end());
            placed.insert(placed.end(), pages.begin() + (after + 1), pages.end());
            relinkPages(q, placed);
            me.editedPages = std::move(placed);
            me.pagesPending = true;
            run.flat = true;
        }
        if (withForms) {
            if (!run.form) {
                // The form helper reads qpdf's page list when it analyses the form.
                me.pagesPending = false;
                me.editedPages.clear();
                q.updateAllPagesCache();
                run.form = std::make_unique<QPDFAcroFormDocumentHelper>(q);
            }
            std::vector<QPDFObjectHandle> foreignPages(srcPages.begin() + start, srcPages.begin() + start + count);
            if (freshSource && formJoinsAsIs(q, *from)) {
                joinCopiedFields(q, run, srcAfdh, foreignPages);
            } else {
                for (int i = 0; i < count; ++i)
                    run.form->fixCopiedAnnotations(copies[static_cast<std::size_t>(i)],
                                                   foreignPages[static_cast<std::size_t>(i)], srcAfdh);
            }
            mergeFormDefaults(q, *from);
            clearCopiedSignatures(*run.form, copies);
            bakeRenamedResources(q, copies);
        }
    } catch (const Error&) {
        me.insertRun.reset();
        throw;
    } catch (const std::exception& e) {
        me.insertRun.reset();
        markChanged();
        throw Error(err::kRecoverInsertPages, "The pages could not be inserted: " + std::string(e.what()) + ".");
    }
    if (!shared) {
        me.sources.push_back(from);
        me.sourceSet.insert(from.get());
        if (shareable && !known) {
            if (!me.pageSources) me.pageSources = std::make_shared<SharedPageSources>();
            SharedPageSources::Entry entry{read->path, read->stamp, from, {}};
            for (int i = 0; i < count; ++i)
                entry.copiedPages.insert(srcPages[static_cast<std::size_t>(start + i)].getObjGen());
            me.pageSources->byPath[read->path] = std::move(entry);
        }
    }
    markChanged();
    run.generation = generation();
}

void Document::deletePages(int first, int last) {
    Impl& me = *impl_;
    const int n = me.pagesPending ? static_cast<int>(me.editedPages.size()) : numPages();
    if (first == kLastPage) first = n - 1;
    if (last == kLastPage) last = n - 1;
    if (first < 0 || first >= n || last < first || last >= n)
        throw Error(err::kBadParm, "The range of pages to delete is not in the document.");
    if (last - first + 1 == n) throw Error(err::kOpNotPermitted, "A document must keep at least one page.");
    QPDF& q = me.pagesPending ? *me.q : qpdf();
    checkPageChange(q);  // a certified document keeps its pages

    if (me.pagesPending && q.getRoot().getKey("/AcroForm").isDictionary()) {
        me.pagesPending = false;  // the form helper reads qpdf's page list
        me.editedPages.clear();
        q.updateAllPagesCache();
    }
    const std::vector<QPDFObjectHandle> pages = me.pagesPending ? me.editedPages : q.getAllPages();
    me.pagesBuilt = true;
    std::set<QPDFObjGen> gone = fieldsLeavingWith(q, pages, first, last);
    // A signature stays in the form when its page goes: the signed revision it covers is still in
    // the file, and a reader lists and verifies the signature only through the form's fields.
    for (auto it = gone.begin(); it != gone.end();) {
        QPDFFormFieldObjectHelper field(q.getObject(*it));
        if (field.getFieldType() == "/Sig" && !field.getValue().isNull())
            it = gone.erase(it);
        else
            ++it;
    }

    std::vector<QPDFObjectHandle> kept;
    kept.reserve(pages.size() - static_cast<std::size_t>(last - first + 1));
    kept.insert(kept.end(), pages.begin(), pages.begin() + first);
    kept.insert(kept.end(), pages.begin() + (last + 1), pages.end());
    relinkPages(q, kept);
    me.editedPages = std::move(kept);
    me.pagesPending = true;
    if (!gone.empty()) removeFields(q, gone);
    markChanged();
}

}  // namespace quill::pdf
