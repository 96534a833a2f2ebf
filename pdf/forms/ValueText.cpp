// What a text field, combo box or list box shows, placed in its box.
#include "ValueText.h"

#include "quill/pdf/Forms.h"
#include "TextOperators.h"
#include "quill/pdf/Warnings.h"

#include "EmbeddedFonts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace quill::pdf::appearance {

namespace {

constexpr int kMultilineFlag = 1 << 12;
constexpr int kPasswordFlag = 1 << 13;
constexpr int kFileSelectFlag = 1 << 20;
constexpr int kCombFlag = 1 << 24;

// Auto size (0 in the default appearance) never goes below kAutoMin; a multi-line field's is
// the largest up to kAutoMax at which its lines fit, a single line takes what the box holds.
constexpr double kAutoMax = 12;
constexpr double kAutoMin = 4;
// Acrobat's single-line auto size leaves this much of the size (beyond the font's bounding
// box) of the height inside the border unused.
constexpr double kAutoGap = 0.1935;
constexpr double kPadding = 2;     // between the border's inner edge and the text, left and right
constexpr double kLeading = 1.15;  // line distance over font size in multi-line fields
// The fill behind a list box's chosen rows: Acrobat's selection colour.
constexpr const char* kListHighlight = "0.600006 0.756866 0.854904";

// Paragraphs up to this length with right-to-left text are wrapped in reading order; longer
// ones (each candidate line is laid out again) glyph by glyph.
constexpr std::size_t kLogicalWrapLimit = 2000;

// The characters of UTF-8 text, surrogate pairs joined.
std::u32string characters(const std::string& utf8) {
    return quill::unicode::utf8ToUtf32(utf8);
}

// The clip to the box inside its border.
std::string begin(const Box& box, double border) {
    std::string out = "q\n";
    out += number(box.llx + border) + " " + number(box.lly + border) + " " + number(box.width() - 2 * border) + " " +
           number(box.height() - 2 * border) + " re W n\n";
    return out;
}

// The start of the text object: the default appearance sets the colour and, when the field
// has a font of its own, that font.
std::string textObject(const TextPlan& plan, double size) {
    return "BT\n" + (plan.font.dict.isNull() ? plan.da.withoutFont() : plan.da.withSize(size)) + "\n";
}

}  // namespace

void planText(QPDFFormFieldObjectHelper& field, QPDFObjectHandle resources, TextPlan& plan, FieldFonts& fieldFonts,
              fonts::EmbeddedFonts& embedded, WarningList* warnings) {
    int flags = field.getFlags();
    plan.da = DefaultAppearance(field.getDefaultAppearance());
    plan.font = findFieldFont(plan.da, resources, field.getDefaultResources(), true);
    plan.quadding = field.getQuadding();
    std::string value = field.getValueAsString();
    if (field.isChoice()) {
        // A combo box shows the display text of the option whose export value it holds.
        auto opt = field.getInheritableFieldValue("/Opt");
        if (opt.isArray())
            for (auto& item : opt.aitems())
                if (item.isArray() && item.getArrayNItems() == 2 && item.getArrayItem(0).isString() &&
                    item.getArrayItem(1).isString() && item.getArrayItem(0).getUTF8Value() == value) {
                    value = item.getArrayItem(1).getUTF8Value();
                    break;
                }
    } else {
        plan.multiline = (flags & kMultilineFlag) != 0;
        if (flags & kPasswordFlag) {
            // A password shows as one bullet a character.
            std::size_t count = 0;
            for (char c : value)
                if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
            value.clear();
            for (std::size_t k = 0; k < count; ++k) value += "\xE2\x80\xA2";
        }
        auto maxLen = field.getInheritableFieldValue("/MaxLen");
        if ((flags & kCombFlag) && !(flags & (kMultilineFlag | kPasswordFlag | kFileSelectFlag)) &&
            maxLen.isInteger() && maxLen.getIntValueAsInt() > 0)
            plan.comb = maxLen.getIntValueAsInt();
    }
    static const FieldEncoding none;
    const FieldEncoding& encoding = plan.font.dict.isNull() ? none : fieldFonts.encodingOf(plan.font.dict);
    Metrics metrics(plan.font.dict);
    auto* fonts = &embedded;
    plan.layout = [&encoding, metrics, fonts](const std::u32string& text) {
        return layoutParagraph(text, encoding, metrics, *fonts);
    };
    // Paragraphs split at line breaks (CR, LF, CR LF); outside a multi-line field a line break
    // shows as a space. Other control characters are not drawn.
    // Line by line from the UTF-8 value (breaks are single bytes there): a value of megabytes is
    // never held whole as characters beside its paragraphs.
    std::u32string paragraph;
    auto endParagraph = [&] {
        // A multi-line field's paragraphs are laid out when drawn, only as far as its box shows them.
        if (!plan.multiline) plan.paragraphs.push_back(plan.layout(paragraph));
        plan.logical.push_back(paragraph);
        paragraph.clear();
    };
    for (std::size_t at = 0;;) {
        std::size_t end = std::min(value.find_first_of("\r\n", at), value.size());
        for (char32_t c : characters(value.substr(at, end - at)))
            if (c >= 0x20 && c != 0x7F) paragraph += c;
        if (end == value.size()) break;
        at = end + (value[end] == '\r' && end + 1 < value.size() && value[end + 1] == '\n' ? 2 : 1);
        if (plan.multiline)
            endParagraph();
        else
            paragraph += U' ';
    }
    endParagraph();
    // What no font shows is left out of the drawing; the log says so, with the field.
    std::size_t lost = 0;
    char32_t first = 0;
    for (const auto& p : plan.logical)
        for (char32_t c : p)
            if (!encoding.has(c) && fonts::faceFor(c, encoding.style) < 0 && lost++ == 0) first = c;
    if (lost > 0) {
        char code[16];
        std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(first));
        std::string text = "field \"" + field.getFullyQualifiedName() + "\": " + std::to_string(lost) +
                           " character(s) no installed font has were not drawn (the first U+" + code + ")";
        if (warnings)
            warnings->add(Severity::kWarning, std::move(text));
        else
            warn(Severity::kWarning, std::move(text));
    }
}

DrawnValue draw(const TextPlan& plan, const Box& box, double border) {
    Metrics metrics(plan.font.dict);
    double pad = border + kPadding;
    double innerWidth = std::max(0.0, box.width() - 2 * pad);
    double innerHeight = std::max(0.0, box.height() - 2 * pad);
    bool autoSize = plan.da.size <= 0;
    double size = autoSize ? kAutoMax : plan.da.size;
    // The border's inner edges: the clip, and the room a single line's ink has.
    const double top = box.ury - border, bottom = box.lly + border;

    struct Placed {
        Line glyphs;
        double x, y;
    };
    std::vector<Placed> placed;
    auto alignedX = [&](double width) {
        double x = box.llx + pad;
        if (plan.quadding == 1)
            x += (innerWidth - width) / 2;
        else if (plan.quadding == 2)
            x += innerWidth - width;
        return std::max(x, box.llx + pad);  // what does not fit starts at the left
    };
    // A single line is centred on the font's vertical metrics (its bounding box, as Acrobat
    // does); then moved so that its ink (the drawn glyphs, marks included) stays between the
    // border's inner edges, and when the box cannot hold it all, the top stays: what is cut is
    // the bottom, descenders first.
    const double boxLine = metrics.boxTop() - metrics.boxBottom();
    auto singleLineY = [&](const Line& line, double s) {
        double y = box.lly + (box.height() - boxLine * s) / 2 - metrics.boxBottom() * s;
        auto ink = inkOf(line, s);
        if (!ink.any) return y;
        if (y + ink.top > top) y = top - ink.top;
        if (y + ink.bottom < bottom) y = std::min(bottom - ink.bottom, top - ink.top);
        return y;
    };
    // The largest size at which a single line fits the box as Acrobat sizes it: the font's
    // bounding box and a gap of kAutoGap sizes in the height inside the border (a point in when
    // there is none), and its ink between the border's inner edges.
    auto heightFit = [&](const Line& line) {
        double room = std::max(0.0, top - bottom);
        double inside = std::max(0.0, box.height() - 2 * std::max(border, 1.0));
        double s = boxLine > 0 ? inside / (boxLine + kAutoGap) : room;
        auto ink = inkOf(line, 1);
        if (ink.any && ink.top > ink.bottom) s = std::min(s, room / (ink.top - ink.bottom));
        return s;
    };

    if (plan.multiline) {
        // Lines below the box are clipped away: paragraphs are laid out and wrapped only until
        // the lines pass the bottom, and a paragraph only as far as the lines the box holds can
        // reach, so a value of megabytes costs what the box shows. The auto size is the largest
        // up to kAutoMax at which the lines all fit: sizes from kAutoMax down by half points to
        // the first that fits, then halved steps toward the next larger, to a hundredth.
        std::vector<Line> lines;
        auto layOut = [&](double s) {
            lines.clear();
            double below = innerHeight - (metrics.ascent() - metrics.descent()) * s;
            auto shown = static_cast<std::size_t>(std::max(0.0, below) / (kLeading * s)) + 2;  // one part cut
            // No glyph of a line narrower than a tenth of the size, but marks, which ride on others.
            auto reach = static_cast<std::size_t>(shown * (innerWidth * 10 / s + 1));
            bool fits = true;
            for (std::size_t k = 0; k < plan.logical.size() && fits; ++k) {
                const std::u32string& text = plan.logical[k];
                const std::u32string part = text.size() > reach ? text.substr(0, reach) : std::u32string();
                const std::u32string& laid = text.size() > reach ? part : text;
                bool logical = hasRightToLeft(laid) && laid.size() <= kLogicalWrapLimit;
                for (auto& l :
                     logical ? wrapLogical(laid, plan.layout, s, innerWidth) : wrap(plan.layout(laid), s, innerWidth))
                    lines.push_back(std::move(l));
                if (lines.size() > shown || text.size() > reach) fits = false;
            }
            if (lines.size() > shown) lines.resize(shown);
            double needed = (metrics.ascent() - metrics.descent()) * s + (lines.size() - 1) * kLeading * s;
            return fits && needed <= innerHeight;
        };
        bool fits = layOut(size);
        if (autoSize && !fits) {
            double larger = size;
            while (!fits && size > kAutoMin) {
                larger = size;
                size = std::max(kAutoMin, size - 0.5);
                fits = layOut(size);
            }
            if (fits) {
                double found = size;
                while (larger - found > 0.01) {
                    double middle = std::floor((found + larger) / 2 * 100) / 100;
                    if (middle <= found) break;
                    (layOut(middle) ? found : larger) = middle;
                }
                size = found;
                layOut(size);
            }
        }
        // The first baseline sits the tallest face of the first line's ascent below the top, so
        // that marks above capitals stay inside the box.
        double ascent = metrics.ascent();
        if (!lines.empty())
            for (const auto& g : lines.front())
                if (!g.font.isField()) ascent = std::max(ascent, fonts::ascent(g.font.face()) / 1000);
        double y = box.ury - pad - ascent * size;
        for (auto& line : lines) {
            double w = widthOf(line, size);
            placed.push_back({std::move(line), alignedX(w), y});
            y -= kLeading * size;
        }
    } else if (plan.comb > 0) {
        // One user-perceived character a cell (a letter with its marks, a syllable), the cells
        // used from the left, centred (whole cells) or from the right by the field's alignment.
        std::vector<Line> cells;
        if (!plan.paragraphs.empty())
            for (const auto& g : plan.paragraphs.front()) {
                if (cells.empty() || cells.back().back().grapheme != g.grapheme) cells.emplace_back();
                cells.back().push_back(g);
            }
        auto comb = static_cast<std::size_t>(plan.comb);
        if (cells.size() > comb) cells.resize(comb);
        double cell = box.width() / plan.comb;
        Line shown;
        for (auto& c : cells) shown.insert(shown.end(), c.begin(), c.end());
        if (autoSize) {
            double widest = 0;
            for (auto& c : cells) widest = std::max(widest, widthOf(c, 1000));
            size = heightFit(shown);
            if (widest > 0) size = std::min(size, cell * 1000 / widest);
            size = std::max(size, kAutoMin);
        }
        std::size_t first = plan.quadding == 1   ? (comb - cells.size()) / 2
                            : plan.quadding == 2 ? comb - cells.size()
                                                 : 0;
        double y = singleLineY(shown, size);
        for (std::size_t k = 0; k < cells.size(); ++k) {
            double x = box.llx + cell * static_cast<double>(first + k) + (cell - widthOf(cells[k], size)) / 2;
            placed.push_back({cells[k], x, y});
        }
    } else {
        const Line text = plan.paragraphs.empty() ? Line() : plan.paragraphs.front();
        if (autoSize) {
            size = heightFit(text);
            double at1 = widthOf(text, 1);
            if (at1 > 0) size = std::min(size, innerWidth / at1);
            size = std::max(size, kAutoMin);
        }
        placed.push_back({text, alignedX(widthOf(text, size)), singleLineY(text, size)});
    }

    DrawnValue out;
    out.operators = begin(box, border) + textObject(plan, size);
    std::optional<FontRef> current;
    if (!plan.font.dict.isNull()) current = FontRef::field();
    for (auto& p : placed) {
        if (p.glyphs.empty()) continue;
        out.operators += showLine(p.glyphs, p.x, p.y, size, plan.font.name, current);
        for (auto& g : p.glyphs)
            if (!g.font.isField()) out.faces.insert(g.font.face());
    }
    out.operators += "ET\nQ\n";
    return out;
}

DrawnValue drawOptions(QPDFFormFieldObjectHelper& field, QPDFObjectHandle resources, const Box& box, double border,
                       FieldFonts& fieldFonts, fonts::EmbeddedFonts& embedded, FieldFont& font) {
    TextPlan plan;
    plan.da = DefaultAppearance(field.getDefaultAppearance());
    plan.font = findFieldFont(plan.da, resources, field.getDefaultResources(), true);
    font = plan.font;
    static const FieldEncoding none;
    const FieldEncoding& encoding = plan.font.dict.isNull() ? none : fieldFonts.encodingOf(plan.font.dict);
    Metrics metrics(plan.font.dict);
    std::set<std::string> chosen;
    auto v = field.getValue();
    if (v.isString()) chosen.insert(v.getUTF8Value());
    if (v.isArray())
        for (auto& item : v.aitems())
            if (item.isString()) chosen.insert(item.getUTF8Value());
    std::vector<std::u32string> texts;
    std::vector<bool> highlighted;
    auto opt = field.getInheritableFieldValue("/Opt");
    if (opt.isArray()) {
        for (auto& item : opt.aitems()) {
            std::string exportValue, display;
            if (item.isString()) exportValue = display = item.getUTF8Value();
            if (item.isArray() && item.getArrayNItems() == 2) {
                exportValue = item.getArrayItem(0).isString() ? item.getArrayItem(0).getUTF8Value() : "";
                display = item.getArrayItem(1).isString() ? item.getArrayItem(1).getUTF8Value() : "";
            }
            std::u32string text;
            for (char32_t c : characters(display))
                if (c >= 0x20 && c != 0x7F) text += c;
            texts.push_back(std::move(text));
            highlighted.push_back(chosen.count(exportValue) > 0 || chosen.count(display) > 0);
        }
    }
    // Rows as Acrobat draws them: the font's bounding box high, from a point (or the border) in
    // from the top; the chosen rows filled behind their text, the text a point further in from
    // the left and standing on the font's descent. Auto size lists at 12 points.
    const double inset = std::max(border, 1.0);
    double size = plan.da.size > 0 ? plan.da.size : kAutoMax;
    double row = (metrics.boxTop() - metrics.boxBottom()) * size;
    if (row <= 0) row = size;
    const double top = box.ury - inset, bottom = box.lly + inset;
    auto rows = static_cast<std::size_t>(std::max(1.0, std::floor((top - bottom) / row + 1e-6)));
    // The list starts at its top index, scrolled to the first chosen option when that one would
    // be out of sight, so that a box of one row shows what is chosen.
    std::size_t first = 0;
    auto ti = field.getInheritableFieldValue("/TI");
    if (ti.isInteger() && ti.getIntValue() > 0 && static_cast<std::size_t>(ti.getIntValue()) < texts.size())
        first = static_cast<std::size_t>(ti.getIntValue());
    auto firstChosen = std::find(highlighted.begin(), highlighted.end(), true);
    if (firstChosen != highlighted.end()) {
        auto at = static_cast<std::size_t>(firstChosen - highlighted.begin());
        if (at < first || at >= first + rows) first = at + 1 >= rows ? at + 1 - rows : 0;
    }
    std::vector<Line> lines;
    DrawnValue out;
    out.operators = begin(box, inset);
    // Only rows that reach into the box are laid out and drawn; a chosen row is filled when it
    // is whole inside the box (or the only one showing).
    for (std::size_t k = first; k < texts.size() && top - (k - first) * row > bottom; ++k) {
        double rowBottom = top - (k - first + 1) * row;
        if (highlighted[k] && (k == first || rowBottom >= bottom - 0.01))
            out.operators += std::string(kListHighlight) + " rg " + number(box.llx + inset) + " " + number(rowBottom) +
                             " " + number(box.width() - 2 * inset) + " " + number(row) + " re f\n";
        lines.push_back(layoutParagraph(texts[k], encoding, metrics, embedded));
    }
    out.operators += textObject(plan, size);
    std::optional<FontRef> current;
    if (!plan.font.dict.isNull()) current = FontRef::field();
    for (std::size_t k = 0; k < lines.size(); ++k) {
        double y = top - (k + 1) * row - metrics.descent() * size;
        if (!lines[k].empty())
            out.operators += showLine(lines[k], box.llx + inset + 1, y, size, plan.font.name, current);
    }
    out.operators += "ET\nQ\n";
    out.faces = fallbackFaces(lines);
    return out;
}

}  // namespace quill::pdf::appearance
