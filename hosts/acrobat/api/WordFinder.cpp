// PDModel word finder: the words of a page, with their text and layout bits, over the text engine.
#include "AcroSDK.h"
#include "HostAPI.h"
#include "PDDocHandle.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Text.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

struct _t_PDWord {
    std::u16string text;
    ASUns16 attributes = 0;
};

// One finder per PDDocCreateWordFinderUCS; it holds the word list of one page at a time. The word
// handles it gives out (addresses into `words`, which is not resized while the list is held) stay
// valid until that list is released or the finder destroyed.
struct _t_PDWordFinder {
    PDDoc pdDoc = nullptr;
    std::weak_ptr<quill::pdf::Document> doc;  // tells a reused handle address from the original
    ASInt32 page = -1;                        // page of the held list; -1 when none
    std::vector<_t_PDWord> words;
    std::vector<PDWord> table;  // handed out as the sorted and reading-order tables
};

namespace {

using acro_host::guarded;
using acro_host::raise;

// Handles are checked against these before use: a stale or foreign pointer raises instead of
// being followed.
std::unordered_set<const _t_PDWordFinder*>& liveFinders() {
    static std::unordered_set<const _t_PDWordFinder*> s;
    return s;
}

// The finder last found live, tried first (a plug-in works one list at a time); cleared when that
// finder is destroyed, so it is always live or null.
const _t_PDWordFinder* lastFinder = nullptr;

// The finder whose list holds `w`, or null. A word handle is valid only as the address of an element
// of a live finder's list.
const _t_PDWordFinder* holderOf(PDWord w) {
    auto holds = [w](const _t_PDWordFinder* f) {
        if (f->words.empty()) return false;
        const _t_PDWord* first = f->words.data();
        const _t_PDWord* end = first + f->words.size();
        if (std::less<const _t_PDWord*>{}(w, first) || !std::less<const _t_PDWord*>{}(w, end)) return false;
        const auto offset = reinterpret_cast<std::uintptr_t>(w) - reinterpret_cast<std::uintptr_t>(first);
        return offset % sizeof(_t_PDWord) == 0;
    };
    if (lastFinder && holds(lastFinder)) return lastFinder;
    for (const _t_PDWordFinder* f : liveFinders())
        if (holds(f)) return lastFinder = f;
    return nullptr;
}

_t_PDWordFinder& finderOf(PDWordFinder wf) {
    if (wf && wf == lastFinder) return *wf;
    if (!wf || !liveFinders().count(wf)) raise(GenError(genErrBadParm), "The word finder is not valid.");
    lastFinder = wf;
    return *wf;
}

_t_PDWord& wordOf(PDWord w) {
    if (!w || !holderOf(w)) raise(GenError(genErrBadParm), "The word is not valid.");
    return *w;
}

void dropList(_t_PDWordFinder& f) {
    f.words.clear();
    f.table.clear();
    f.page = -1;
}

ACCB1 PDWordFinder ACCB2 impl_PDDocCreateWordFinderUCS(PDDoc doc, ASInt16, ASUns16, void*) {
    return guarded([&] {
        acro_host::documentOf(doc);  // raises for a document that is not open
        auto f = std::make_unique<_t_PDWordFinder>();
        f->pdDoc = doc;
        f->doc = doc->doc;
        liveFinders().insert(f.get());
        return f.release();
    });
}

// Words come in reading order; the x-y sorted and reading-order tables, when asked for, list
// them in that same order.
ACCB1 void ACCB2 impl_PDWordFinderAcquireWordList(PDWordFinder wf, ASInt32 pgNum, PDWord* wInfoP, PDWord** xySortTable,
                                                  PDWord** rdOrderTable, ASInt32* numWords) {
    guarded([&] {
        auto& f = finderOf(wf);
        auto doc = f.doc.lock();
        if (!doc || !acro_host::isLivePDDoc(f.pdDoc) || f.pdDoc->doc != doc)
            raise(GenError(genErrBadParm), "The document of the word finder is closed.");
        auto words = quill::pdf::pageWords(doc, pgNum);
        dropList(f);
        f.words.resize(words.size());
        f.table.resize(words.size());
        for (std::size_t i = 0; i < words.size(); ++i) {
            f.words[i].text = std::move(words[i].text);
            f.words[i].attributes = words[i].attributes;
            f.table[i] = &f.words[i];
        }
        f.page = pgNum;
        if (wInfoP) *wInfoP = f.table.empty() ? nullptr : f.table.front();
        if (xySortTable) *xySortTable = f.table.empty() ? nullptr : f.table.data();
        if (rdOrderTable) *rdOrderTable = f.table.empty() ? nullptr : f.table.data();
        if (numWords) *numWords = static_cast<ASInt32>(f.table.size());
    });
}

ACCB1 PDWord ACCB2 impl_PDWordFinderGetNthWord(PDWordFinder wf, ASInt32 nth) {
    return guarded([&] {
        auto& f = finderOf(wf);
        if (nth < 0 || static_cast<std::size_t>(nth) >= f.table.size())
            raise(GenError(genErrBadParm), "There is no word with that number.");
        return f.table[static_cast<std::size_t>(nth)];
    });
}

ACCB1 void ACCB2 impl_PDWordGetASText(PDWord word, ASUns32 filter, ASText text) {
    guarded([&] {
        auto& w = wordOf(word);
        if (!(filter & W_SOFT_HYPHEN) || w.text.find(u'\u00AD') == std::u16string::npos) {
            acro_host::assignText(text, w.text);  // raises for a text that is not live
            return;
        }
        std::u16string out;
        out.reserve(w.text.size());
        for (char16_t u : w.text)
            if (u != u'\u00AD') out.push_back(u);
        acro_host::setText(text, std::move(out));
    });
}

ACCB1 ASUns16 ACCB2 impl_PDWordGetAttr(PDWord word) {
    return guarded([&] { return wordOf(word).attributes; });
}

ACCB1 void ACCB2 impl_PDWordFinderReleaseWordList(PDWordFinder wf, ASInt32 pgNum) {
    guarded([&] {
        auto& f = finderOf(wf);
        if (f.page == pgNum) dropList(f);
    });
}

ACCB1 void ACCB2 impl_PDWordFinderDestroy(PDWordFinder wf) {
    guarded([&] {
        if (!wf) return;
        auto& f = finderOf(wf);
        dropList(f);
        liveFinders().erase(wf);
        if (lastFinder == wf) lastFinder = nullptr;
        delete wf;
    });
}

acro_host::ProcRegistration registration{
    "PDModel",
    {
        {PDDocCreateWordFinderUCSSEL, reinterpret_cast<void*>(&impl_PDDocCreateWordFinderUCS)},
        {PDWordFinderAcquireWordListSEL, reinterpret_cast<void*>(&impl_PDWordFinderAcquireWordList)},
        {PDWordFinderGetNthWordSEL, reinterpret_cast<void*>(&impl_PDWordFinderGetNthWord)},
        {PDWordGetASTextSEL, reinterpret_cast<void*>(&impl_PDWordGetASText)},
        {PDWordGetAttrSEL, reinterpret_cast<void*>(&impl_PDWordGetAttr)},
        {PDWordFinderReleaseWordListSEL, reinterpret_cast<void*>(&impl_PDWordFinderReleaseWordList)},
        {PDWordFinderDestroySEL, reinterpret_cast<void*>(&impl_PDWordFinderDestroy)},
    }};

}  // namespace
