// Inserting pages from another document (with their form fields) and deleting pages.
#include "Document.h"

#include "DocumentImpl.h"
#include "Error.h"
#include "Forms.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/Buffer.hh>

#include <functional>
#include <set>

namespace quill::pdf {

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

}  // namespace

void Document::insertPages(int after, Document& source, int start, int count, int flags) {
    flushAppearances(source);  // copied widgets carry the appearances of their current values
    (void)flags;               // bookmarks and threads are not copied; pages, resources and form fields always are
    const int n = numPages();
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

    Impl& me = *impl_;
    std::shared_ptr<QPDF> from = source.impl_->q;
    if (from.get() == me.q.get()) from = snapshot(*me.q);

    QPDF& q = *me.q;
    QPDFPageDocumentHelper dh(q);
    std::vector<QPDFPageObjectHelper> pages = dh.getAllPages();
    me.pagesBuilt = true;
    QPDFPageDocumentHelper srcDh(*from);
    std::vector<QPDFPageObjectHelper> srcPages = srcDh.getAllPages();
    QPDFAcroFormDocumentHelper afdh(q);
    QPDFAcroFormDocumentHelper srcAfdh(*from);
    const bool withForms = srcAfdh.hasAcroForm();

    try {
        QPDFObjectHandle prev =
            after >= 0 ? pages[static_cast<std::size_t>(after)].getObjectHandle() : QPDFObjectHandle();
        for (int i = 0; i < count; ++i) {
            QPDFObjectHandle foreign = srcPages[static_cast<std::size_t>(start + i)].getObjectHandle();
            QPDFObjectHandle copy = q.copyForeignObject(foreign);
            // copyForeignObject leaves out /Parent, and with it the attributes the
            // page inherits from the source's page tree: give the copy its own.
            inheritAttributes(q, foreign, copy);
            // addPage links the copy into this tree.
            if (prev.isInitialized())
                dh.addPageAt(QPDFPageObjectHelper(copy), false, QPDFPageObjectHelper(prev));
            else
                dh.addPage(QPDFPageObjectHelper(copy), true);
            // addPage may store a different handle (e.g. a copy when the page object is shared).
            QPDFObjectHandle placed = copy;
            if (withForms) afdh.fixCopiedAnnotations(placed, foreign, srcAfdh);
            prev = placed;
        }
        if (withForms) mergeFormDefaults(q, *from);
    } catch (const Error&) {
        throw;
    } catch (const std::exception& e) {
        markChanged();
        throw Error(err::kRecoverInsertPages, "The pages could not be inserted: " + std::string(e.what()) + ".");
    }
    me.sources.push_back(from);
    markChanged();
}

void Document::deletePages(int first, int last) {
    const int n = numPages();
    if (first == kLastPage) first = n - 1;
    if (last == kLastPage) last = n - 1;
    if (first < 0 || first >= n || last < first || last >= n)
        throw Error(err::kBadParm, "The range of pages to delete is not in the document.");
    if (last - first + 1 == n) throw Error(err::kOpNotPermitted, "A document must keep at least one page.");

    QPDF& q = *impl_->q;
    QPDFPageDocumentHelper dh(q);
    std::vector<QPDFPageObjectHelper> pages = dh.getAllPages();
    impl_->pagesBuilt = true;
    QPDFAcroFormDocumentHelper afdh(q);

    // Fields whose every widget sits on a deleted page go with the pages, as a viewer does: the
    // whole top-level field when none of its widgets survives, else the emptied terminal fields.
    std::set<QPDFObjGen> gone;
    if (afdh.hasAcroForm()) {
        std::set<QPDFObjGen> kept;
        for (int i = 0; i < n; ++i) {
            if (i >= first && i <= last) continue;
            for (auto& w : afdh.getWidgetAnnotationsForPage(pages[static_cast<std::size_t>(i)]))
                kept.insert(w.getObjectHandle().getObjGen());
        }
        std::set<QPDFObjGen> tops;
        for (int i = first; i <= last; ++i) {
            for (auto& w : afdh.getWidgetAnnotationsForPage(pages[static_cast<std::size_t>(i)])) {
                QPDFFormFieldObjectHelper field = afdh.getFieldForAnnotation(w);
                if (field.isNull()) continue;
                QPDFObjectHandle top = field.getObjectHandle();
                for (int up = 0; up < 64 && top.getKey("/Parent").isDictionary(); ++up) top = top.getKey("/Parent");
                tops.insert(top.getObjGen());
                bool elsewhere = false;
                for (auto& other : afdh.getAnnotationsForField(field))
                    if (kept.count(other.getObjectHandle().getObjGen())) elsewhere = true;
                if (!elsewhere) gone.insert(field.getObjectHandle().getObjGen());
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
    }
    for (int i = first; i <= last; ++i) dh.removePage(pages[static_cast<std::size_t>(i)]);
    if (!gone.empty()) afdh.removeFormFields(gone);
    markChanged();
}

}  // namespace quill::pdf
