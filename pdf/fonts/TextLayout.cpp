// Glyphs on lines: font choice, bidirectional order (FriBidi), shaping (HarfBuzz), wrapping.
#include "TextLayout.h"

#include "EmbeddedFonts.h"

#include <fribidi.h>
#include <hb.h>
#include <unicode/ubrk.h>

#include <algorithm>
#include <numeric>
#include <optional>

namespace quill::pdf::appearance {

namespace {

bool isMark(char32_t c) {
    auto category = hb_unicode_general_category(hb_unicode_funcs_get_default(), c);
    return category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK || c == 0x200D || (c >= 0xFE00 && c <= 0xFE0F);
}

hb_script_t scriptOf(char32_t c) {
    return hb_unicode_script(hb_unicode_funcs_get_default(), c);
}

// The viramas that join the consonants around them into one conjunct (Indic_Conjunct_Break
// Linker) and the consonants they join (Indic_Conjunct_Break Consonant): Devanagari, Bengali,
// Gujarati, Oriya, Telugu, Malayalam.
bool isConjunctLinker(char32_t c) {
    return c == 0x094D || c == 0x09CD || c == 0x0ACD || c == 0x0B4D || c == 0x0C4D || c == 0x0D4D;
}

bool isConjunctConsonant(char32_t c) {
    auto in = [c](char32_t from, char32_t to) { return c >= from && c <= to; };
    return in(0x0915, 0x0939) || in(0x0958, 0x095F) || in(0x0978, 0x097F) || in(0x0995, 0x09A8) || in(0x09AA, 0x09B0) ||
           c == 0x09B2 || in(0x09B6, 0x09B9) || c == 0x09DC || c == 0x09DD || c == 0x09DF || c == 0x09F0 ||
           c == 0x09F1 || in(0x0A95, 0x0AA8) || in(0x0AAA, 0x0AB0) || c == 0x0AB2 || c == 0x0AB3 ||
           in(0x0AB5, 0x0AB9) || c == 0x0AF9 || in(0x0B15, 0x0B28) || in(0x0B2A, 0x0B30) || c == 0x0B32 ||
           c == 0x0B33 || in(0x0B35, 0x0B39) || c == 0x0B5C || c == 0x0B5D || c == 0x0B5F || c == 0x0B71 ||
           in(0x0C15, 0x0C28) || in(0x0C2A, 0x0C39) || in(0x0C58, 0x0C5A) || in(0x0D15, 0x0D3A);
}

// Whether a break before `k` is taken back because a conjunct spans it: consonant, then marks
// and joiners with a virama among them, then the consonant at `k` (rule GB9c, which ICU's
// character breaks before version 74 lack).
bool insideConjunct(const std::u32string& text, std::size_t k) {
    if (!isConjunctConsonant(text[k])) return false;
    bool linked = false;
    for (std::size_t j = k; j-- > 0;) {
        char32_t c = text[j];
        if (isConjunctLinker(c)) {
            linked = true;
        } else if (isConjunctConsonant(c)) {
            return linked;
        } else if (!isMark(c) && c != 0x200D) {
            return false;
        }
    }
    return false;
}

// Where the extended grapheme cluster (the user-perceived character) of each character starts:
// ICU's character breaks, with conjuncts kept whole.
std::vector<std::size_t> graphemeStarts(const std::u32string& text) {
    std::vector<std::size_t> start(text.size());
    // ASCII breaks between every two characters but CR LF: the common value needs no ICU.
    if (std::all_of(text.begin(), text.end(), [](char32_t c) { return c < 0x80; })) {
        for (std::size_t k = 0; k < text.size(); ++k)
            start[k] = (k > 0 && text[k] == U'\n' && text[k - 1] == U'\r') ? start[k - 1] : k;
        return start;
    }
    std::u16string units;
    std::vector<std::size_t> charAt;  // the character each UTF-16 unit belongs to
    units.reserve(text.size());
    for (std::size_t k = 0; k < text.size(); ++k) {
        char32_t c = text[k];
        if (c > 0xFFFF) {
            units += static_cast<char16_t>(0xD7C0 + (c >> 10));
            units += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
            charAt.push_back(k);
        } else {
            units += static_cast<char16_t>(c);
        }
        charAt.push_back(k);
    }
    std::vector<bool> breakBefore(text.size() + 1, false);
    // One iterator a thread, given each text in turn: opening one loads ICU's rules every time.
    struct Iterator {
        UBreakIterator* it = nullptr;
        ~Iterator() {
            if (it) ubrk_close(it);
        }
    };
    thread_local Iterator held;
    UErrorCode status = U_ZERO_ERROR;
    if (!held.it) {
        held.it = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status) && held.it) {
            ubrk_close(held.it);
            held.it = nullptr;
        }
    }
    UBreakIterator* it = held.it;
    if (it) ubrk_setText(it, reinterpret_cast<const UChar*>(units.data()), static_cast<int32_t>(units.size()), &status);
    if (U_SUCCESS(status) && it) {
        for (int32_t b = ubrk_first(it); b != UBRK_DONE; b = ubrk_next(it))
            if (static_cast<std::size_t>(b) < units.size()) breakBefore[charAt[static_cast<std::size_t>(b)]] = true;
        // The iterator keeps no pointer into a text that is about to go.
        UErrorCode cleared = U_ZERO_ERROR;
        ubrk_setText(it, nullptr, 0, &cleared);
    } else {
        for (std::size_t k = 0; k < text.size(); ++k) breakBefore[k] = k == 0 || !isMark(text[k]);
    }
    for (std::size_t k = 0; k < text.size(); ++k) {
        bool starts = k == 0 || (breakBefore[k] && !insideConjunct(text, k));
        start[k] = starts ? k : start[k - 1];
    }
    return start;
}

// Whether `c` is drawn right only when shaped: joining scripts, scripts whose vowels and marks
// reorder or stack, and Hebrew when the paragraph carries points. A field font's codes reach
// one glyph a character, so such text goes to an installed face HarfBuzz shapes.
bool needsShaping(char32_t c, bool pointedHebrew) {
    switch (scriptOf(c)) {
        case HB_SCRIPT_ARABIC:
        case HB_SCRIPT_SYRIAC:
        case HB_SCRIPT_THAANA:
        case HB_SCRIPT_NKO:
        case HB_SCRIPT_MONGOLIAN:
        case HB_SCRIPT_DEVANAGARI:
        case HB_SCRIPT_BENGALI:
        case HB_SCRIPT_GURMUKHI:
        case HB_SCRIPT_GUJARATI:
        case HB_SCRIPT_ORIYA:
        case HB_SCRIPT_TAMIL:
        case HB_SCRIPT_TELUGU:
        case HB_SCRIPT_KANNADA:
        case HB_SCRIPT_MALAYALAM:
        case HB_SCRIPT_SINHALA:
        case HB_SCRIPT_THAI:
        case HB_SCRIPT_LAO:
        case HB_SCRIPT_TIBETAN:
        case HB_SCRIPT_MYANMAR:
        case HB_SCRIPT_KHMER:
            return true;
        case HB_SCRIPT_HEBREW:
            return pointedHebrew;
        default:
            return false;
    }
}

bool hasHebrewPoints(const std::u32string& text) {
    return std::any_of(text.begin(), text.end(), [](char32_t c) { return c >= 0x0591 && c <= 0x05C7 && isMark(c); });
}

// Runs of one level, one font and (for installed faces) one script, in logical order.
struct Run {
    std::size_t start, end;
    int level;
    FontRef font;
};

}  // namespace

double widthOf(const Line& line, double size) {
    double sum = 0;
    for (const auto& g : line) sum += g.advance;
    return sum * size / 1000;
}

LineInk inkOf(const Line& line, double size) {
    LineInk ink;
    for (const auto& g : line) {
        if (g.top == g.bottom) continue;
        ink.top = ink.any ? std::max(ink.top, g.top) : g.top;
        ink.bottom = ink.any ? std::min(ink.bottom, g.bottom) : g.bottom;
        ink.any = true;
    }
    ink.top *= size / 1000;
    ink.bottom *= size / 1000;
    return ink;
}

std::set<int> fallbackFaces(const std::vector<Line>& lines) {
    std::set<int> faces;
    for (const auto& line : lines)
        for (const auto& g : line)
            if (!g.font.isField()) faces.insert(g.font.face());
    return faces;
}

Line layoutParagraph(const std::u32string& text, const FieldEncoding& encoding, const Metrics& metrics,
                     fonts::EmbeddedFonts& embedded) {
    Line line;
    if (text.empty()) return line;
    const auto n = static_cast<FriBidiStrIndex>(text.size());
    std::vector<FriBidiCharType> types(text.size());
    std::vector<FriBidiLevel> levels(text.size());
    std::vector<FriBidiChar> chars(text.begin(), text.end());
    fribidi_get_bidi_types(chars.data(), n, types.data());
    FriBidiParType direction = FRIBIDI_PAR_ON;
    if (!fribidi_get_par_embedding_levels_ex(types.data(), nullptr, n, &direction, levels.data()))
        std::fill(levels.begin(), levels.end(), FriBidiLevel{0});
    // The visual order of the characters (rule L2, after L1 reset trailing white space); marks
    // stay where they are, as a run of them is shaped with its base.
    std::vector<FriBidiStrIndex> visual(text.size());
    std::iota(visual.begin(), visual.end(), 0);
    if (!fribidi_reorder_line(0, types.data(), n, 0, direction, levels.data(), nullptr, visual.data()))
        std::iota(visual.begin(), visual.end(), 0);

    // The font of each character; none when no font has it. Text that must be shaped goes to an
    // installed face even when the field's font has its letters (drawn unjoined there); only
    // when no installed face has it does the field's font draw it as it can.
    const bool pointedHebrew = hasHebrewPoints(text);
    std::vector<std::optional<FontRef>> font(text.size());
    for (std::size_t k = 0; k < text.size(); ++k) {
        char32_t c = text[k];
        bool previousEmbedded = k > 0 && font[k - 1] && !font[k - 1]->isField();
        // A mark, or a neutral inside right-to-left text, stays with the face before it when
        // that face has it, so that the run shapes (and reads) as one.
        bool sticky = isMark(c) || ((levels[k] & 1) && !FRIBIDI_IS_STRONG(types[k]));
        if (sticky && previousEmbedded) {
            int face = fonts::faceFor(c, encoding.style);
            if (face >= 0 && FontRef::fallback(face) == *font[k - 1]) {
                font[k] = font[k - 1];
                continue;
            }
        }
        bool shaped = needsShaping(c, pointedHebrew);
        if (encoding.has(c) && !shaped) {
            font[k] = FontRef::field();
            continue;
        }
        int face = fonts::faceFor(c, encoding.style);
        if (face >= 0)
            font[k] = FontRef::fallback(face);
        else if (encoding.has(c))
            font[k] = FontRef::field();
    }
    // A word that needs a fallback is drawn whole in one face when that face has all of it: no
    // word of letters from two fonts (a subset field font that lacks a letter hands it over).
    for (std::size_t k = 0; k < text.size();) {
        if (text[k] == ' ') {
            ++k;
            continue;
        }
        std::size_t end = k;
        bool needs = false;
        int face = -1;
        for (; end < text.size() && text[end] != ' '; ++end) {
            if (font[end] && font[end]->isField()) continue;
            needs = true;
            if (font[end] && face < 0) face = font[end]->face();
        }
        bool whole = needs && face >= 0;
        for (std::size_t j = k; whole && j < end; ++j) whole = fonts::faceHas(face, text[j]);
        for (std::size_t j = k; whole && j < end; ++j) font[j] = FontRef::fallback(face);
        k = end;
    }
    // A value's fallback characters all in one face when one face has them all: no word, and no
    // two words, drawn in faces of different designs.
    {
        std::set<char32_t> needed;
        for (std::size_t k = 0; k < text.size(); ++k)
            if (font[k] && !font[k]->isField() && text[k] != ' ') needed.insert(text[k]);
        int face =
            needed.empty() ? -1 : fonts::faceForAll(std::u32string(needed.begin(), needed.end()), encoding.style);
        if (face >= 0)
            for (std::size_t k = 0; k < text.size(); ++k)
                if (font[k] && !font[k]->isField()) font[k] = FontRef::fallback(face);
    }
    // A space between two words of one fallback face takes that face's width, not the field font's.
    for (std::size_t k = 0, previous = SIZE_MAX; k < text.size(); ++k) {
        if (text[k] != ' ') {
            previous = k;
            continue;
        }
        std::size_t next = k;
        while (next < text.size() && text[next] == ' ') ++next;
        if (previous == SIZE_MAX || next == text.size() || !font[previous] || font[previous]->isField() ||
            font[next] != font[previous] || !fonts::faceHas(font[previous]->face(), U' '))
            continue;
        for (; k < next; ++k) font[k] = font[previous];
        --k;
    }
    const std::vector<std::size_t> grapheme = graphemeStarts(text);

    std::vector<Run> runs;
    std::vector<std::size_t> runOf(text.size(), SIZE_MAX);
    hb_script_t runScript = HB_SCRIPT_COMMON;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (!font[k]) continue;
        hb_script_t script = scriptOf(text[k]);
        bool realScript = script != HB_SCRIPT_COMMON && script != HB_SCRIPT_INHERITED;
        bool same = !runs.empty() && runs.back().end == k && runs.back().level == levels[k] &&
                    runs.back().font == *font[k] &&
                    (font[k]->isField() || !realScript || runScript == HB_SCRIPT_COMMON || runScript == script);
        if (same) {
            runs.back().end = k + 1;
        } else {
            runs.push_back({k, k + 1, levels[k], *font[k]});
            runScript = HB_SCRIPT_COMMON;
        }
        runOf[k] = runs.size() - 1;
        if (realScript) runScript = script;
    }
    // Runs in the order their characters come in the visual order: a run is one level, so
    // its characters stay together there.
    std::vector<std::size_t> order;
    std::vector<bool> placed(runs.size());
    for (auto at : visual) {
        std::size_t r = runOf[static_cast<std::size_t>(at)];
        if (r == SIZE_MAX || placed[r]) continue;
        placed[r] = true;
        order.push_back(r);
    }
    for (std::size_t i : order) {
        const Run& r = runs[i];
        bool rtl = (r.level & 1) != 0;
        if (r.font.isField()) {
            Line part;
            for (std::size_t k = r.start; k < r.end; ++k) {
                Glyph g;
                if (encoding.composite) {
                    const auto& [bytes, width] = *encoding.cid(text[k]);
                    g.code = bytes;
                    g.advance = g.nominal = width;
                } else {
                    auto code = *encoding.code(text[k]);
                    g.code.assign(1, static_cast<char>(code));
                    g.advance = g.nominal = metrics.width(code);
                }
                g.space = text[k] == ' ';
                auto ink = fonts::characterInk(text[k], encoding.style);
                g.top = ink.top;
                g.bottom = ink.bottom;
                g.grapheme = grapheme[k];
                part.push_back(g);
            }
            if (rtl) std::reverse(part.begin(), part.end());
            line.insert(line.end(), part.begin(), part.end());
            continue;
        }
        int face = r.font.face();
        auto shaped = fonts::shape(face, text.substr(r.start, r.end - r.start), rtl);
        for (auto& s : shaped) {
            Glyph g;
            g.font = r.font;
            g.code = embedded.code(face, s.gid, s.text);
            g.advance = s.advance;
            g.nominal = fonts::nominalAdvance(face, s.gid);
            g.dx = s.dx;
            g.dy = s.dy;
            g.space = s.text == U" ";
            auto ink = fonts::glyphInk(face, s.gid);
            if (ink.top != ink.bottom) {
                g.top = ink.top + s.dy;
                g.bottom = ink.bottom + s.dy;
            }
            g.grapheme = grapheme[std::min(text.size() - 1, r.start + s.cluster)];
            line.push_back(g);
        }
    }
    return line;
}

std::vector<Line> wrap(const Line& text, double size, double width) {
    std::vector<Line> lines;
    if (text.empty()) {
        lines.emplace_back();
        return lines;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        double used = 0;
        std::size_t end = start, lastSpace = std::string::npos;
        while (end < text.size()) {
            double w = text[end].advance * size / 1000;
            if (text[end].space)
                lastSpace = end;
            else if (used + w > width && end > start)
                break;
            used += w;
            ++end;
        }
        if (end == text.size()) {
            lines.emplace_back(text.begin() + static_cast<std::ptrdiff_t>(start), text.end());
            break;
        }
        std::size_t cut = lastSpace != std::string::npos && lastSpace > start ? lastSpace : end;
        Line line(text.begin() + static_cast<std::ptrdiff_t>(start), text.begin() + static_cast<std::ptrdiff_t>(cut));
        while (!line.empty() && line.back().space) line.pop_back();
        lines.push_back(std::move(line));
        start = cut;
        while (start < text.size() && text[start].space) ++start;
    }
    return lines;
}

bool hasRightToLeft(const std::u32string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char32_t c) { return FRIBIDI_IS_RTL(fribidi_get_bidi_type(static_cast<FriBidiChar>(c))); });
}

std::vector<Line> wrapLogical(const std::u32string& text, const std::function<Line(const std::u32string&)>& layout,
                              double size, double width) {
    std::vector<Line> lines;
    std::vector<std::u32string> words;
    for (std::size_t k = 0; k <= text.size();) {
        std::size_t end = text.find(U' ', k);
        if (end == std::u32string::npos) end = text.size();
        if (end > k) words.push_back(text.substr(k, end - k));
        k = end + 1;
    }
    auto fits = [&](const std::u32string& t) { return widthOf(layout(t), size) <= width; };
    std::u32string current;
    for (auto& word : words) {
        std::u32string candidate = current.empty() ? word : current + U" " + word;
        if (fits(candidate)) {
            current = candidate;
            continue;
        }
        if (!current.empty()) lines.push_back(layout(current));
        current.clear();
        std::u32string rest = word;
        while (!rest.empty() && !fits(rest)) {
            std::size_t take = 1;
            while (take < rest.size() && fits(rest.substr(0, take + 1))) ++take;
            lines.push_back(layout(rest.substr(0, take)));
            rest = rest.substr(take);
        }
        current = rest;
    }
    if (!current.empty() || lines.empty()) lines.push_back(layout(current));
    return lines;
}

}  // namespace quill::pdf::appearance
