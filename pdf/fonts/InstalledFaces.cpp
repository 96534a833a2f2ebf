// The installed faces a field's own font falls back to, chosen by class, shaped and measured.
#include "InstalledFaces.h"

#include "Holders.h"

#include <fontconfig/fontconfig.h>
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <unordered_map>

namespace quill::pdf::fonts {

namespace {

constexpr hb_tag_t kGlyf = HB_TAG('g', 'l', 'y', 'f');
constexpr hb_tag_t kCff = HB_TAG('C', 'F', 'F', ' ');
constexpr hb_tag_t kOS2 = HB_TAG('O', 'S', '/', '2');

// The installed faces, each listed once, and for each style the order fontconfig gives them
// for a sans-serif (a monospace for fixed pitch) of that weight and slant.
struct Installed {
    std::vector<FcFontSet*> sets;  // fontconfig's lists, kept: the faces borrow their character sets
    std::vector<Face> faces;
    std::map<std::pair<std::string, int>, int> ids;
    struct Order {
        std::vector<int> faces;
        std::unordered_map<char32_t, int> byChar;
        std::unordered_map<char32_t, Ink> inkByChar;  // what characterInk found for each character asked
    };
    std::map<int, Order> orders;
};

Installed& installed() {
    static Installed* all = [] {
        auto* in = new Installed;  // never destroyed: HarfBuzz objects outlive static teardown
        FcInit();
        return in;
    }();
    return *all;
}

int styleKey(const Style& style) {
    return (style.bold ? 1 : 0) | (style.italic ? 2 : 0) | (style.fixedPitch ? 4 : 0) | (style.serif ? 8 : 0);
}

// How far a face is from the class a style asks for: 0 is of that class. Monospace: fixed pitch,
// then faces named monospaced (a CJK face's Latin is). Serif and sans-serif by the family's
// name. Faces of two widths (a cell grid of bitmap-like glyphs, which shapes no script) come
// after every face of a design, and faces of mathematical or other symbols after every text
// face: they have letters, but not the design of any text.
int classRank(const Face& f, const Style& style) {
    auto named = [&f](const char* word) { return f.family.find(word) != std::string::npos; };
    if (f.symbol || named("Math") || named("Symbol") || named("Emoji") || named("Dingbat")) return 9;
    if (f.dual && !named("Mono")) return 8;
    if (style.fixedPitch) return f.mono ? 0 : named("Mono") ? 1 : 2;
    bool serif = !named("Sans") && !named("Mono") &&
                 (named("Serif") || named("Roman") || named("Times") || named("Georgia") || named("Bookman") ||
                  named("Palladio") || named("Schoolbook") || named("Garamond") || named("Gelasio"));
    if (style.serif) return serif ? 0 : 1;
    return serif || f.mono ? 1 : 0;
}

Installed::Order& orderFor(const Style& style) {
    auto& in = installed();
    auto [it, fresh] = in.orders.try_emplace(styleKey(style));
    if (!fresh) return it->second;
    FcPatternHolder pattern(FcNameParse(reinterpret_cast<const FcChar8*>(style.fixedPitch ? "monospace"
                                                                         : style.serif    ? "serif"
                                                                                          : "sans-serif")));
    if (!pattern) return it->second;
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, style.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern.get(), FC_SLANT, style.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    FcFontSet* set = FcFontSort(nullptr, pattern.get(), FcFalse, nullptr, &result);
    if (!set) return it->second;
    in.sets.push_back(set);
    for (int i = 0; i < set->nfont; ++i) {
        FcChar8* file = nullptr;
        int index = 0;
        FcCharSet* chars = nullptr;
        FcBool colour = FcFalse;
        if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch || !file) continue;
        if (FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &chars) != FcResultMatch) continue;
        FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
        FcPatternGetBool(set->fonts[i], FC_COLOR, 0, &colour);
        if (colour) continue;
        auto key = std::make_pair(std::string(reinterpret_cast<const char*>(file)), index);
        auto [id, added] = in.ids.try_emplace(key, static_cast<int>(in.faces.size()));
        if (added) {
            Face f;
            f.file = key.first;
            f.index = index;
            f.chars = chars;
            int spacing = FC_PROPORTIONAL;
            FcPatternGetInteger(set->fonts[i], FC_SPACING, 0, &spacing);
            f.mono = spacing == FC_MONO;
            f.dual = spacing == FC_DUAL;
            FcChar8* family = nullptr;
            if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family) == FcResultMatch && family)
                f.family = reinterpret_cast<const char*>(family);
            FcBool symbol = FcFalse;
            FcPatternGetBool(set->fonts[i], FC_SYMBOL, 0, &symbol);
            f.symbol = symbol == FcTrue;
            in.faces.push_back(std::move(f));
        }
        it->second.faces.push_back(id->second);
    }
    // Fontconfig ranks by coverage too, so that past the first few faces of the asked class come
    // faces of any class: the class is put first again, and math and symbol faces last.
    auto& faces = it->second.faces;
    std::stable_sort(faces.begin(), faces.end(), [&in, &style](int a, int b) {
        return classRank(in.faces[static_cast<std::size_t>(a)], style) <
               classRank(in.faces[static_cast<std::size_t>(b)], style);
    });
    return it->second;
}

std::uint16_t readU16(const char* p) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(p[0]) << 8) | static_cast<unsigned char>(p[1]));
}

}  // namespace

bool open(Face& f) {
    if (f.tried) return f.usable;
    f.tried = true;
    HbBlob blob(hb_blob_create_from_file_or_fail(f.file.c_str()));
    if (!blob) return false;
    f.face = hb_face_create(blob.get(), static_cast<unsigned>(f.index));
    HbBlob glyf(hb_face_reference_table(f.face, kGlyf));
    bool outlines = hb_blob_get_length(glyf.get()) > 0;
    HbBlob cff(hb_face_reference_table(f.face, kCff));
    f.cff = !outlines && hb_blob_get_length(cff.get()) > 0;
    HbBlob os2(hb_face_reference_table(f.face, kOS2));
    unsigned length = 0;
    const char* data = hb_blob_get_data(os2.get(), &length);
    // fsType: bit 1 set alone means "restricted licence embedding".
    bool restricted = length >= 10 && (readU16(data + 8) & 0x000F) == 0x0002;
    if (!(outlines || f.cff) || restricted) return false;
    f.font = hb_font_create(f.face);
    f.upem = hb_face_get_upem(f.face);
    if (f.upem == 0) f.upem = 1000;
    hb_font_set_scale(f.font, static_cast<int>(f.upem), static_cast<int>(f.upem));
    hb_font_extents_t extents{};
    if (hb_font_get_h_extents(f.font, &extents)) {
        f.ascent = extents.ascender * 1000.0 / f.upem;
        f.descent = extents.descender * 1000.0 / f.upem;
    }
    char name[128] = {};
    unsigned size = sizeof name;
    hb_ot_name_get_utf8(f.face, HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &size, name);
    for (const char* p = name; *p; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p)) || *p == '-') f.postscriptName += *p;
    if (f.postscriptName.empty()) f.postscriptName = "Fallback";
    f.usable = true;
    return true;
}

Face& at(int face) {
    return installed().faces.at(static_cast<std::size_t>(face));
}

bool faceHas(int face, char32_t c) {
    Face& f = at(face);
    if (!FcCharSetHasChar(f.chars, static_cast<FcChar32>(c)) || !open(f)) return false;
    hb_codepoint_t gid = 0;
    return hb_font_get_nominal_glyph(f.font, c, &gid) && gid != 0;
}

int faceFor(char32_t c, const Style& style) {
    auto& order = orderFor(style);
    auto found = order.byChar.find(c);
    if (found != order.byChar.end()) return found->second;
    int chosen = -1;
    for (int face : order.faces)
        if (faceHas(face, c)) {
            chosen = face;
            break;
        }
    order.byChar.emplace(c, chosen);
    return chosen;
}

int faceForAll(const std::u32string& chars, const Style& style) {
    for (int face : orderFor(style).faces) {
        Face& f = at(face);
        bool all = std::all_of(chars.begin(), chars.end(),
                               [&](char32_t c) { return FcCharSetHasChar(f.chars, static_cast<FcChar32>(c)); });
        if (all && std::all_of(chars.begin(), chars.end(), [&](char32_t c) { return faceHas(face, c); })) return face;
    }
    return -1;
}

std::vector<ShapedGlyph> shape(int face, const std::u32string& text, bool rightToLeft) {
    Face& f = at(face);
    std::vector<ShapedGlyph> out;
    if (!open(f) || text.empty()) return out;
    HbBuffer held(hb_buffer_create());
    hb_buffer_t* buffer = held.get();
    hb_buffer_add_utf32(buffer, reinterpret_cast<const std::uint32_t*>(text.data()), static_cast<int>(text.size()), 0,
                        static_cast<int>(text.size()));
    hb_buffer_set_cluster_level(buffer, HB_BUFFER_CLUSTER_LEVEL_MONOTONE_CHARACTERS);
    hb_buffer_guess_segment_properties(buffer);
    hb_buffer_set_direction(buffer, rightToLeft ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_shape(f.font, buffer, nullptr, 0);
    unsigned count = 0;
    hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
    hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &count);
    double scale = 1000.0 / f.upem;
    // A cluster's text runs from its start to the next larger cluster start.
    std::vector<unsigned> starts;
    for (unsigned i = 0; i < count; ++i) starts.push_back(info[i].cluster);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    std::vector<bool> given(starts.size());
    // The first glyph of a cluster in reading order carries its text.
    std::vector<unsigned> order(count);
    for (unsigned i = 0; i < count; ++i) order[i] = rightToLeft ? count - 1 - i : i;
    out.resize(count);
    for (unsigned k : order) {
        auto& g = out[k];
        g.gid = info[k].codepoint;
        g.cluster = info[k].cluster;
        g.advance = pos[k].x_advance * scale;
        g.dx = pos[k].x_offset * scale;
        g.dy = pos[k].y_offset * scale;
        auto at =
            static_cast<std::size_t>(std::lower_bound(starts.begin(), starts.end(), info[k].cluster) - starts.begin());
        if (given[at]) continue;
        given[at] = true;
        std::size_t end = at + 1 < starts.size() ? starts[at + 1] : text.size();
        g.text = text.substr(info[k].cluster, end - info[k].cluster);
    }
    return out;
}

double nominalAdvance(int face, unsigned gid) {
    Face& f = at(face);
    if (!open(f)) return 0;
    return std::round(hb_font_get_glyph_h_advance(f.font, gid) * 1000.0 / f.upem);
}

double ascent(int face) {
    Face& f = at(face);
    open(f);
    return f.ascent;
}

double descent(int face) {
    Face& f = at(face);
    open(f);
    return f.descent;
}

Ink glyphInk(int face, unsigned gid) {
    Face& f = at(face);
    if (auto found = f.ink.find(gid); found != f.ink.end()) return found->second;
    hb_glyph_extents_t extents{};
    if (!open(f) || !hb_font_get_glyph_extents(f.font, gid, &extents)) return {};
    double scale = 1000.0 / f.upem;
    const Ink ink{extents.y_bearing * scale, (extents.y_bearing + extents.height) * scale};
    f.ink.emplace(gid, ink);
    return ink;
}

Ink characterInk(char32_t c, const Style& style) {
    auto& known = orderFor(style).inkByChar;
    if (auto found = known.find(c); found != known.end()) return found->second;
    Ink ink;
    int face = faceFor(c, style);
    hb_codepoint_t gid = 0;
    if (face >= 0 && hb_font_get_nominal_glyph(at(face).font, c, &gid)) ink = glyphInk(face, gid);
    known.emplace(c, ink);
    return ink;
}

}  // namespace quill::pdf::fonts
