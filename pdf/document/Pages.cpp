// Inserting pages from another document (with their form fields) and deleting pages.
#include "quill/pdf/Document.h"

#include "DocumentImpl.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "IncrementalState.h"
#include "PageForms.h"
#include "RawObject.h"
#include "RawPages.h"
#include "CopyingWriter.h"
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
#include <optional>
#include <set>
#include <string>

namespace quill::pdf {

using namespace pageforms;

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

constexpr const char* kInheritable[] = {"/MediaBox", "/CropBox", "/Rotate", "/Resources"};

// True when the root of `q`'s page tree holds nothing for its pages to inherit.
bool rootBequeathsNothing(QPDF& q) {
    QPDFObjectHandle root = q.getRoot().getKey("/Pages");
    if (!root.isDictionary()) return false;
    for (const char* key : kInheritable)
        if (root.hasKey(key)) return false;
    return true;
}

// The pages of a flat tree, the shape most writers and every earlier edit leave: every kid of the
// root (no page's kid) is a page of its own, an indirect dictionary that is no node, listed once,
// whose /Parent is the root and whose /Type is /Page. The kids are then qpdf's page list, read in
// one pass without that walk's bookkeeping. Any other tree (nested nodes, a page listed twice or
// inline, a wrong /Type: qpdf's walk mends those) answers nothing.
std::optional<std::vector<QPDFObjectHandle>> flatPages(QPDF& q, UnreadObjects* unread) {
    static const std::string kKids = "/Kids", kParent = "/Parent", kType = "/Type", kPage = "/Page";
    QPDFObjectHandle root = q.getRoot().getKey("/Pages");
    if (!root.isIndirect() || !root.isDictionary() || root.hasKey(kParent)) return std::nullopt;
    QPDFObjectHandle kids = root.getKey(kKids);
    if (!kids.isArray()) return std::nullopt;
    const QPDFObjGen rootId = root.getObjGen();
    std::vector<QPDFObjectHandle> pages = kids.getArrayAsVector();
    std::vector<QPDFObjGen> ids;
    ids.reserve(pages.size());
    for (auto& page : pages) {
        if (!page.isIndirect()) return std::nullopt;
        // A page qpdf has not read yet is looked at in the file's bytes, and stays unread: the save
        // then copies it as it stands. Keys spelt with #xx escapes, or given twice, are left to qpdf.
        if (auto entries = unread ? unread->dictionary(page.getObjGen()) : std::nullopt) {
            int kids = 0, parents = 0, types = 0;
            bool plain = true, underRoot = false, isPage = false;
            for (const auto& e : *entries) {
                plain = plain && e.key.find('#') == std::string_view::npos;
                if (e.key == kKids) ++kids;
                if (e.key == kParent) {
                    ++parents;
                    underRoot = e.value.kind == RawObject::Value::kRef && e.value.ref == rootId;
                }
                if (e.key == kType) {
                    ++types;
                    isPage = e.value.kind == RawObject::Value::kName && e.value.text == kPage;
                }
            }
            if (plain && kids == 0 && parents == 1 && types == 1) {
                if (!underRoot || !isPage) return std::nullopt;
                ids.push_back(page.getObjGen());
                continue;
            }
        }
        if (!page.isDictionary() || page.hasKey(kKids) || !page.getKey(kType).isNameAndEquals(kPage))
            return std::nullopt;
        if (page.getKey(kParent).getObjGen() != rootId) return std::nullopt;
        ids.push_back(page.getObjGen());
    }
    std::sort(ids.begin(), ids.end());
    if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) return std::nullopt;
    return pages;
}

// Makes `pages` the whole page list of `q`, in that order, in one pass: a flat tree with every page
// a kid of the root node. qpdf's own addPage and removePage renumber every later page on each call,
// so a run of edits through them grows with the square of its length; this costs one walk of the
// list whatever was changed.
// Attributes a page inherits from the old intermediate nodes are put on the page first. qpdf's own
// page list is left behind (rebuilding it walks every page): the caller keeps `pages` as the list
// until Document::qpdf rebuilds it, once for a run of edits.
// `newcomers`, when given, says that the tree is flat already and that the pages not in it (the
// copies just made) are exactly those: the others are left untouched without being looked at.
void relinkPages(QPDF& q, const std::vector<QPDFObjectHandle>& pages,
                 const std::vector<QPDFObjectHandle>* newcomers = nullptr) {
    QPDFObjectHandle root = q.getRoot().getKey("/Pages");
    if (newcomers) {
        for (const auto& page : *newcomers) QPDFObjectHandle(page).replaceKey("/Parent", root);
        root.replaceKey("/Kids", QPDFObjectHandle::newArray(pages));
        root.replaceKey("/Count", QPDFObjectHandle::newInteger(static_cast<long long>(pages.size())));
        return;
    }
    const QPDFObjGen rootId = root.getObjGen();
    // After the first edit the tree is flat and its root holds nothing to inherit: qpdf's push
    // (a walk of every page, each edit) has nothing left to do then. Pages not yet under the root
    // (copies have no /Parent) are noted on the same pass.
    bool flat = root.isDictionary();
    for (const char* key : kInheritable) flat = flat && !root.hasKey(key);
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

// The `n` pages an edit starts from when the tree is flat and its root holds nothing to inherit:
// those an earlier edit left (`edited` while `pending`: it made the tree so), or those flatPages
// finds before qpdf's own list was `built`. Nothing otherwise: the edit then takes qpdf's list
// and lets relinkPages look at every page.
std::optional<std::vector<QPDFObjectHandle>> flatList(Document& doc, QPDF& q, bool pending,
                                                      const std::vector<QPDFObjectHandle>& edited, bool built, int n) {
    std::optional<std::vector<QPDFObjectHandle>> pages;
    if (pending) {
        if (rootBequeathsNothing(q)) pages = edited;
    } else if (!built && rootBequeathsNothing(q)) {
        pages = flatPages(q, UnreadObjects::of(doc).get());
    }
    if (pages && pages->size() != static_cast<std::size_t>(n)) pages.reset();
    return pages;
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

// The plan for an insert of plain pages copied from the source file's bytes at the save (see
// RawPages.h), when both documents allow it: the source unchanged since its open, with no form and
// a flat page tree; this document saved by copying, its page tree flat and no page edit pending.
std::shared_ptr<RawPages> planFromBytes(Document& doc, Document& source, int after, int start, int count, int n,
                                        int srcN) {
    auto& me = DocumentAccess::impl(doc);
    if (me.throughQpdf || me.pagesPending || &source == &doc || source.generation() != 1 || source.wasRepaired())
        return nullptr;
    if (!canWriteByCopying(doc)) return nullptr;
    QPDF& q = doc.qpdf();
    if (!rootBequeathsNothing(q)) return nullptr;
    // The cheap refusals first; the walk over every page of this document last.
    QPDF& sq = source.qpdf();
    if (sq.getRoot().hasKey("/AcroForm") || !rootBequeathsNothing(sq)) return nullptr;
    auto sourcePages = flatPages(sq, UnreadObjects::of(source).get());
    if (!sourcePages || sourcePages->size() != static_cast<std::size_t>(srcN)) return nullptr;
    std::vector<QPDFObjGen> ids;
    ids.reserve(sourcePages->size());
    for (const auto& page : *sourcePages) ids.push_back(page.getObjGen());
    auto plan = planRawPages(source, ids, sq.getRoot().getKey("/Pages").getObjGen(), start, count);
    if (!plan) return nullptr;
    auto pages = flatPages(q, UnreadObjects::of(doc).get());
    if (!pages || pages->size() != static_cast<std::size_t>(n)) return nullptr;
    plan->after = after;
    plan->start = start;
    plan->count = count;
    plan->pagesAfter = n + count;
    plan->root = q.getRoot().getKey("/Pages").getObjGen();
    return plan;
}

}  // namespace

void Document::insertPages(int after, Document& source, int start, int count, int flags) {
    Impl& me = *impl_;
    if (me.rawPages) settleRawPages(*this);
    flushAppearances(source);  // copied widgets carry the appearances of their current values
    (void)flags;               // bookmarks and threads are not copied; pages, resources and form fields always are
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

    if (auto plan = planFromBytes(*this, source, after, start, count, n, srcN)) {
        plan->flags = flags;
        me.rawPages = std::move(plan);
        markChanged();
        return;
    }

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
            std::optional<std::vector<QPDFObjectHandle>> flat =
                flatList(*this, q, me.pagesPending, me.editedPages, me.pagesBuilt, n);
            const std::vector<QPDFObjectHandle> pages = flat              ? std::move(*flat)
                                                        : me.pagesPending ? me.editedPages
                                                                          : q.getAllPages();
            std::vector<QPDFObjectHandle> placed;
            placed.reserve(pages.size() + copies.size());
            placed.insert(placed.end(), pages.begin(), pages.begin() + (after + 1));
            placed.insert(placed.end(), copies.begin(), copies.end());
            placed.insert(placed.end(), pages.begin() + (after + 1), pages.end());
            relinkPages(q, placed, flat ? &copies : nullptr);
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
    if (me.rawPages) settleRawPages(*this);
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
    std::optional<std::vector<QPDFObjectHandle>> flat =
        flatList(*this, q, me.pagesPending, me.editedPages, me.pagesBuilt, n);
    const std::vector<QPDFObjectHandle> pages = flat              ? std::move(*flat)
                                                : me.pagesPending ? me.editedPages
                                                                  : q.getAllPages();
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
    const std::vector<QPDFObjectHandle> noNewcomers;
    relinkPages(q, kept, flat ? &noNewcomers : nullptr);
    me.editedPages = std::move(kept);
    me.pagesPending = true;
    if (!gone.empty()) removeFields(q, gone);
    markChanged();
}

}  // namespace quill::pdf
