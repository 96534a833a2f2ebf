// Subsets of installed faces embedded into a document as Unicode (Type0, Identity-H) fonts.
#include "EmbeddedFonts.h"

#include "CffOrder.h"
#include "Holders.h"

#include "Unicode.h"

#include <fontconfig/fontconfig.h>
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>
#include <qpdf/QUtil.hh>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <new>
#include <stdexcept>
#include <unordered_map>

namespace quill::pdf::fonts {

namespace {

// Compressed at zlib's fastest level: every save that adds a glyph writes a font's program,
// widths and map again. The fastest level costs a little size and much less time.
std::string flate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                  static_cast<uLong>(data.size()), Z_BEST_SPEED) != Z_OK)
        throw std::bad_alloc();
    out.resize(size);
    return out;
}

QPDFObjectHandle compressedStream(QPDF& pdf, const std::string& data) {
    auto s = QPDFObjectHandle::newStream(&pdf);
    s.replaceStreamData(flate(data), QPDFObjectHandle::newName("/FlateDecode"), QPDFObjectHandle::newNull());
    return s;
}

std::string hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFF);
    return buf;
}

std::string utf16Hex(const std::u32string& text) {
    std::string out;
    for (char16_t u : quill::unicode::utf32ToUtf16(text)) out += hex4(u);
    return out;
}

}  // namespace

struct EmbeddedFonts::Font {
    int face = -1;
    bool cff = false;
    std::string postscriptName;
    QPDFObjectHandle type0, cidFont, descriptor;
    std::map<std::pair<unsigned, std::u32string>, unsigned> cids;
    std::vector<std::pair<unsigned, std::u32string>> byCid{{0, U""}};  // CID 0 is .notdef
    std::size_t written = 0;                                           // CIDs covered by the last write
    std::size_t count() const { return byCid.size(); }
};

namespace {

// A subset's six-letter tag, from the face and the glyphs it holds: two different subsets in
// one document (say from two fill sessions) never share a name.
std::string subsetTag(const std::string& file, int index, const std::vector<unsigned>& glyphs) {
    unsigned long long h = 1469598103934665603ULL;
    auto mix = [&](unsigned long long v) { h = (h ^ v) * 1099511628211ULL; };
    for (char c : file) mix(static_cast<unsigned char>(c));
    mix(static_cast<unsigned long long>(index));
    for (unsigned g : glyphs) mix(g);
    std::string tag;
    for (int k = 0; k < 6; ++k, h /= 26) tag += static_cast<char>('A' + h % 26);
    return tag;
}

// A plan to subset `face` to `glyphs` (and .notdef), its glyphs renumbered in their order.
hb_subset_plan_t* planSubset(hb_face_t* face, const std::vector<unsigned>& glyphs, bool cff) {
    HbSubsetInput held(hb_subset_input_create_or_fail());
    hb_subset_input_t* input = held.get();
    if (!input) return nullptr;
    hb_set_t* set = hb_subset_input_glyph_set(input);
    hb_set_add(set, 0);
    for (unsigned gid : glyphs) hb_set_add(set, gid);
    // A PDF viewer reaches glyphs by number: layout tables and the character map are dead weight.
    hb_set_t* drop = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
    for (hb_tag_t t : {HB_TAG('G', 'S', 'U', 'B'), HB_TAG('G', 'P', 'O', 'S'), HB_TAG('G', 'D', 'E', 'F'),
                       HB_TAG('k', 'e', 'r', 'n'), HB_TAG('B', 'A', 'S', 'E'), HB_TAG('J', 'S', 'T', 'F'),
                       HB_TAG('D', 'S', 'I', 'G'), HB_TAG('M', 'A', 'T', 'H')})
        hb_set_add(drop, t);
    // A CFF program is reached through its CIDs alone; the character map of a CJK face is
    // tens of thousands of entries that subsetting would walk on every save. Vertical
    // metrics too: the text is written horizontally (Identity-H).
    if (cff)
        for (hb_tag_t t : {HB_TAG('c', 'm', 'a', 'p'), HB_TAG('v', 'h', 'e', 'a'), HB_TAG('v', 'm', 't', 'x'),
                           HB_TAG('V', 'O', 'R', 'G')})
            hb_set_add(drop, t);
    // Glyph names are kept: a printout that passes through PostScript knows its characters by them.
    hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_NO_HINTING | HB_SUBSET_FLAGS_GLYPH_NAMES);
    return hb_subset_plan_create_or_fail(face, input);
}

// Past this many glyphs a face's working copy stops growing (a few megabytes of CJK outlines)
// and subsets of glyphs it lacks are cut from the whole face.
constexpr std::size_t kWorkingGlyphs = 8192;

// Whether the working copy of `f` holds every glyph of `glyphs`, after growing it if needed.
bool updateWorkingCopy(Face& f, const std::vector<unsigned>& glyphs) {
    std::vector<unsigned> wanted;
    for (auto& [gid, in] : f.workingGlyph) wanted.push_back(gid);
    const std::size_t had = wanted.size();
    for (unsigned gid : glyphs)
        if (!f.workingGlyph.count(gid)) wanted.push_back(gid);
    if (wanted.size() == had && f.working) return true;
    if (wanted.size() > kWorkingGlyphs) return false;
    HbSubsetPlan plan(planSubset(f.face, wanted, f.cff));
    if (!plan) return false;
    hb_face_t* copy = hb_subset_plan_execute_or_fail(plan.get());
    if (!copy) return false;
    const hb_map_t* map = hb_subset_plan_old_to_new_glyph_mapping(plan.get());
    std::unordered_map<unsigned, unsigned> glyph;
    for (unsigned gid : wanted) {
        hb_codepoint_t mapped = hb_map_get(map, gid);
        if (mapped == HB_MAP_VALUE_INVALID) {
            hb_face_destroy(copy);
            return false;
        }
        glyph.emplace(gid, mapped);
    }
    glyph.emplace(0u, 0u);
    if (f.working) hb_face_destroy(f.working);
    f.working = copy;
    f.workingGlyph = std::move(glyph);
    ++f.workingGeneration;
    return true;
}

// A subset as a document's font embeds it: its program, compressed, and the glyph each held
// glyph became. Cutting and compressing is most of a save that draws a fallback font; a merge
// cuts the same subsets record after record.
struct CutSubset {
    std::size_t programSize = 0;
    std::string compressed;
    std::vector<unsigned> newGlyphs;  // in the order of the glyphs held
};

// The subsets cut lately, by what decides their bytes: the face, the copy of it they were cut
// from (-1: the whole face, else the working copy's generation), CFF or not, and the glyphs
// held in CID order. Bounded; emptied whole when full.
using SubsetKey = std::tuple<int, long long, bool, std::vector<unsigned>>;
constexpr std::size_t kCutSubsets = 64;
constexpr std::size_t kCutSubsetBytes = 16u << 20;

std::map<SubsetKey, CutSubset>& cutSubsets() {
    static std::map<SubsetKey, CutSubset> cache;
    return cache;
}

std::size_t& cutSubsetBytes() {
    static std::size_t bytes = 0;
    return bytes;
}

// Cuts the subset of `held` (face glyphs in CID order) from `f`; nullopt when HarfBuzz cannot.
std::optional<CutSubset> cutSubset(Face& f, int face, bool cff, const std::vector<unsigned>& held,
                                   const std::string& postscriptName) {
    // The face's glyph `gid` in the face the subset is cut from.
    hb_face_t* source = f.face;
    std::function<unsigned(unsigned)> inSource = [](unsigned gid) { return gid; };
    long long from = -1;
    if (updateWorkingCopy(f, held)) {
        source = f.working;
        inSource = [&f](unsigned gid) { return f.workingGlyph.at(gid); };
        from = f.workingGeneration;
    }
    SubsetKey key{face, from, cff, held};
    auto& cache = cutSubsets();
    if (auto found = cache.find(key); found != cache.end()) return found->second;

    std::vector<unsigned> sourceGlyphs;
    for (unsigned gid : held) sourceGlyphs.push_back(inSource(gid));
    HbSubsetPlan heldPlan(planSubset(source, sourceGlyphs, cff));
    hb_subset_plan_t* plan = heldPlan.get();
    if (!plan) return std::nullopt;
    const hb_map_t* sourceToNew = hb_subset_plan_old_to_new_glyph_mapping(plan);
    CutSubset cut;
    cut.newGlyphs.reserve(held.size());
    for (unsigned gid : sourceGlyphs) {
        hb_codepoint_t mapped = hb_map_get(sourceToNew, gid);
        cut.newGlyphs.push_back(mapped == HB_MAP_VALUE_INVALID ? 0 : mapped);
    }
    HbFace subset(hb_subset_plan_execute_or_fail(plan));
    if (!subset) return std::nullopt;
    HbBlob blob(hb_face_reference_blob(subset.get()));
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob.get(), &length);
    std::string program(data ? data : "", length);
    if (cff) {
        // Glyph k of the program becomes the glyph CID k shows (see CffOrder.h).
        auto ordered = orderGlyphsByCid(program, cut.newGlyphs);
        if (!ordered) throw std::runtime_error("The subset of the font " + postscriptName + " is malformed.");
        program = std::move(*ordered);
    }
    cut.programSize = program.size();
    cut.compressed = flate(program);
    if (cache.size() >= kCutSubsets || cutSubsetBytes() + cut.compressed.size() > kCutSubsetBytes) {
        cache.clear();
        cutSubsetBytes() = 0;
    }
    cutSubsetBytes() += cut.compressed.size();
    cache.emplace(std::move(key), cut);
    return cut;
}

}  // namespace

EmbeddedFonts::EmbeddedFonts(QPDF& pdf) : pdf_(pdf) {}
EmbeddedFonts::~EmbeddedFonts() = default;

std::string EmbeddedFonts::resourceName(int face) {
    return "/QmFb" + std::to_string(face);
}

QPDFObjectHandle EmbeddedFonts::font(int face) {
    auto& slot = fonts_[face];
    if (slot) return slot->type0;
    Face& f = at(face);
    open(f);
    slot = std::make_unique<Font>();
    slot->face = face;
    slot->cff = f.cff;
    slot->postscriptName = f.postscriptName;
    // The tag is settled when the subset is written.
    std::string base = "/" + subsetTag(f.file, f.index, {}) + "+" + f.postscriptName;
    slot->descriptor = pdf_.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /FontDescriptor /Flags 32 /ItalicAngle 0 /StemV 80 /FontBBox [-1000 " +
        std::to_string(static_cast<int>(f.descent)) + " 2000 " + std::to_string(static_cast<int>(f.ascent)) +
        "] /Ascent " + std::to_string(static_cast<int>(f.ascent)) + " /Descent " +
        std::to_string(static_cast<int>(f.descent)) + " /CapHeight " + std::to_string(static_cast<int>(f.ascent)) +
        " >>"));
    slot->descriptor.replaceKey("/FontName", QPDFObjectHandle::newName(base));
    slot->cidFont = pdf_.makeIndirectObject(
        QPDFObjectHandle::parse(std::string("<< /Type /Font /Subtype ") + (f.cff ? "/CIDFontType0" : "/CIDFontType2") +
                                " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) "
                                "/Supplement 0 >> /DW 1000 >>"));
    slot->cidFont.replaceKey("/BaseFont", QPDFObjectHandle::newName(base));
    slot->cidFont.replaceKey("/FontDescriptor", slot->descriptor);
    slot->type0 =
        pdf_.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type0 /Encoding /Identity-H >>"));
    slot->type0.replaceKey("/BaseFont", QPDFObjectHandle::newName(base));
    auto descendants = QPDFObjectHandle::newArray();
    descendants.appendItem(slot->cidFont);
    slot->type0.replaceKey("/DescendantFonts", descendants);
    made_.insert(made_.end(), {slot->descriptor, slot->cidFont, slot->type0});
    return slot->type0;
}

std::string EmbeddedFonts::code(int face, unsigned gid, const std::u32string& text) {
    font(face);
    auto& f = *fonts_[face];
    auto key = std::make_pair(gid, text);
    auto found = f.cids.find(key);
    unsigned cid = 0;
    if (found != f.cids.end()) {
        cid = found->second;
    } else {
        // Past 65,535 CIDs a glyph is shown for the first text it stood for.
        if (f.byCid.size() >= 0xFFFF) {
            for (std::size_t k = 1; k < f.byCid.size(); ++k)
                if (f.byCid[k].first == gid) return {static_cast<char>(k >> 8), static_cast<char>(k & 0xFF)};
            return {0, 0};
        }
        cid = static_cast<unsigned>(f.byCid.size());
        f.byCid.push_back(key);
        f.cids.emplace(key, cid);
    }
    return {static_cast<char>(cid >> 8), static_cast<char>(cid & 0xFF)};
}

bool EmbeddedFonts::pending() const {
    for (auto& [face, f] : fonts_)
        if (f->written != f->count()) return true;
    return false;
}

std::vector<QPDFObjectHandle> EmbeddedFonts::write() {
    std::vector<QPDFObjectHandle> changed = std::move(made_);
    made_.clear();
    for (auto& [face, f] : fonts_) {
        if (f->written == f->count()) continue;
        Face& installedFace = at(face);
        std::vector<unsigned> held;
        for (auto& [gid, text] : f->byCid) held.push_back(gid);
        const auto cut = cutSubset(installedFace, face, f->cff, held, f->postscriptName);
        if (!cut) continue;

        std::string cidToGid;
        auto widths = QPDFObjectHandle::newArray();
        auto list = QPDFObjectHandle::newArray();
        std::string toUnicode =
            "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n/CIDSystemInfo << /Registry (Adobe) "
            "/Ordering (UCS) /Supplement 0 >> def\n/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
            "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
        std::vector<std::string> entries;
        for (std::size_t cid = 0; cid < f->byCid.size(); ++cid) {
            unsigned gid = f->byCid[cid].first;
            if (!f->cff) {
                unsigned mapped = cut->newGlyphs[cid];
                cidToGid += static_cast<char>(mapped >> 8);
                cidToGid += static_cast<char>(mapped & 0xFF);
            }
            list.appendItem(QPDFObjectHandle::newInteger(static_cast<long long>(nominalAdvance(face, gid))));
            if (cid > 0 && !f->byCid[cid].second.empty())
                entries.push_back("<" + hex4(static_cast<unsigned>(cid)) + "> <" + utf16Hex(f->byCid[cid].second) +
                                  ">\n");
        }
        for (std::size_t k = 0; k < entries.size(); k += 100) {
            std::size_t n = std::min<std::size_t>(100, entries.size() - k);
            toUnicode += std::to_string(n) + " beginbfchar\n";
            for (std::size_t j = k; j < k + n; ++j) toUnicode += entries[j];
            toUnicode += "endbfchar\n";
        }
        toUnicode += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
        auto fontFile = QPDFObjectHandle::newStream(&pdf_);
        fontFile.replaceStreamData(cut->compressed, QPDFObjectHandle::newName("/FlateDecode"),
                                   QPDFObjectHandle::newNull());
        widths.appendItem(QPDFObjectHandle::newInteger(0));
        widths.appendItem(list);
        if (f->cff) {
            fontFile.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/OpenType"));
            f->descriptor.replaceKey("/FontFile3", fontFile);
        } else {
            fontFile.getDict().replaceKey("/Length1",
                                          QPDFObjectHandle::newInteger(static_cast<long long>(cut->programSize)));
            f->descriptor.replaceKey("/FontFile2", fontFile);
            f->cidFont.replaceKey("/CIDToGIDMap", compressedStream(pdf_, cidToGid));
        }
        f->cidFont.replaceKey("/W", widths);
        auto base = QPDFObjectHandle::newName("/" + subsetTag(installedFace.file, installedFace.index, held) + "+" +
                                              f->postscriptName);
        f->descriptor.replaceKey("/FontName", base);
        f->cidFont.replaceKey("/BaseFont", base);
        f->type0.replaceKey("/BaseFont", base);
        f->type0.replaceKey("/ToUnicode", compressedStream(pdf_, toUnicode));
        f->written = f->count();
        changed.insert(changed.end(), {f->descriptor, f->cidFont, f->type0, fontFile, f->type0.getKey("/ToUnicode")});
        if (!f->cff) changed.push_back(f->cidFont.getKey("/CIDToGIDMap"));
    }
    return changed;
}

}  // namespace quill::pdf::fonts
