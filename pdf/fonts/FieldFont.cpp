// The field's own font: encodings, widths and where the field finds it.
#include "FieldFont.h"

#include "quill/pdf/Forms.h"

#include <poppler/NameToUnicodeTable.h>
#include <qpdf/QUtil.hh>

#include <array>
#include <cctype>
#include <set>

namespace quill::pdf::appearance {

namespace {

// Helvetica's advance widths (thousandths of the size) for the WinAnsi codes 32 to 255. The
// standard fonts come without /Widths and qpdf has no metrics for them.
constexpr short kHelvetica[224] = {
    278,  278, 355, 556, 556, 889,  667,  191,  333, 333,  389, 584, 278,  333, 278, 278,   // 32
    556,  556, 556, 556, 556, 556,  556,  556,  556, 556,  278, 278, 584,  584, 584, 556,   // 48
    1015, 667, 667, 722, 722, 667,  611,  778,  722, 278,  500, 667, 556,  833, 722, 778,   // 64
    667,  778, 722, 667, 611, 722,  667,  944,  667, 667,  611, 278, 278,  278, 469, 556,   // 80
    333,  556, 556, 500, 556, 556,  278,  556,  556, 222,  222, 500, 222,  833, 556, 556,   // 96
    556,  556, 333, 500, 278, 556,  500,  722,  500, 500,  500, 334, 260,  334, 584, 350,   // 112
    556,  350, 222, 556, 333, 1000, 556,  556,  333, 1000, 667, 333, 1000, 350, 611, 350,   // 128
    350,  222, 222, 333, 333, 350,  556,  1000, 333, 1000, 500, 333, 944,  350, 500, 667,   // 144
    278,  333, 556, 556, 556, 556,  260,  556,  333, 737,  370, 556, 584,  333, 737, 333,   // 160
    400,  584, 333, 333, 333, 556,  537,  278,  333, 333,  365, 556, 834,  834, 834, 611,   // 176
    667,  667, 667, 667, 667, 667,  1000, 722,  667, 667,  667, 667, 278,  278, 278, 278,   // 192
    722,  722, 778, 778, 778, 778,  778,  584,  778, 722,  722, 722, 722,  667, 667, 611,   // 208
    556,  556, 556, 556, 556, 556,  889,  500,  556, 556,  556, 556, 278,  278, 278, 278,   // 224
    556,  556, 556, 556, 556, 556,  556,  584,  611, 556,  556, 556, 556,  500, 556, 500};  // 240

char32_t firstCodePoint(const std::string& utf8) {
    auto units = utf8ToUtf16(utf8);
    if (units.empty()) return 0;
    return quill::unicode::codePointAt(units, 0);
}

// The code-to-character table of a base encoding.
const std::array<char32_t, 256>& baseTable(const std::string& name) {
    static const auto build = [](int which) {
        std::array<char32_t, 256> t{};
        for (int c = 0x20; c < 256; ++c) {
            std::string one(1, static_cast<char>(c));
            std::string utf8;
            if (which == 0) {
                utf8 = QUtil::win_ansi_to_utf8(one);
            } else if (which == 1) {
                utf8 = QUtil::mac_roman_to_utf8(one);
            } else {
                // The standard encoding: ASCII with curly quotes where ASCII has straight ones.
                if (c < 0x7F && c != '\'' && c != '`') utf8 = one;
            }
            char32_t u = utf8.empty() ? 0 : firstCodePoint(utf8);
            t[static_cast<std::size_t>(c)] = u == 0xFFFD || u == 0x7F ? 0 : u;
        }
        return t;
    };
    static const std::array<char32_t, 256> winAnsi = build(0), macRoman = build(1), standard = build(2);
    if (name == "/WinAnsiEncoding") return winAnsi;
    if (name == "/MacRomanEncoding") return macRoman;
    return standard;
}

// A font for a name that no resource holds but that names a standard font (or one of the
// usual short names for one), as some writers leave it; null for any other name.
QPDFObjectHandle standardFont(const std::string& name) {
    static const std::set<std::string> standard = {
        "Helvetica",   "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
        "Times-Roman", "Times-Bold",     "Times-Italic",      "Times-BoldItalic",
        "Courier",     "Courier-Bold",   "Courier-Oblique",   "Courier-BoldOblique"};
    static const std::map<std::string, std::string> shortNames = {
        {"Helv", "Helvetica"}, {"HeBo", "Helvetica-Bold"}, {"TiRo", "Times-Roman"}, {"Cour", "Courier"}};
    std::string base = name.empty() ? name : name.substr(1);
    if (auto it = shortNames.find(base); it != shortNames.end()) base = it->second;
    if (!standard.count(base)) return QPDFObjectHandle::newNull();
    auto font = QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /Encoding /WinAnsiEncoding >>");
    font.replaceKey("/BaseFont", QPDFObjectHandle::newName("/" + base));
    return font;
}

// Weight, slant and pitch of a font, from its descriptor and else its name.
fonts::Style styleOf(QPDFObjectHandle font) {
    fonts::Style style;
    std::string base = font.getKey("/BaseFont").isName() ? font.getKey("/BaseFont").getName() : std::string();
    auto has = [&](const char* word) { return base.find(word) != std::string::npos; };
    style.bold = has("Bold") || has("Black") || has("Heavy");
    style.italic = has("Italic") || has("Oblique");
    style.fixedPitch = has("Courier") || has("Mono");
    style.serif =
        !has("Sans") && (has("Times") || has("Roman") || has("Serif") || has("CenturyOld") ||
                         has("CenturySchoolbook") || has("Georgia") || has("Garamond") || has("Bookman") ||
                         has("Palatino") || has("Cambria") || has("Minion") || has("Baskerville") || has("Caslon"));
    auto descriptor = font.getKey("/FontDescriptor");
    if (descriptor.isDictionary()) {
        auto flags = descriptor.getKey("/Flags");
        if (flags.isInteger()) {
            style.fixedPitch = style.fixedPitch || (flags.getIntValue() & 1);
            style.serif = (style.serif || (flags.getIntValue() & 2)) && !has("Sans");
            style.italic = style.italic || (flags.getIntValue() & 64);
            style.bold = style.bold || (flags.getIntValue() & 262144);
        }
        auto weight = descriptor.getKey("/FontWeight");
        if (weight.isNumber() && weight.getNumericValue() >= 600) style.bold = true;
        auto angle = descriptor.getKey("/ItalicAngle");
        if (angle.isNumber() && angle.getNumericValue() != 0) style.italic = true;
    }
    return style;
}

bool embedsProgram(QPDFObjectHandle descriptor) {
    return descriptor.isDictionary() &&
           (descriptor.hasKey("/FontFile") || descriptor.hasKey("/FontFile2") || descriptor.hasKey("/FontFile3"));
}

}  // namespace

char32_t glyphNameToUnicode(const std::string& name) {
    static const std::unordered_map<std::string, char32_t> agl = [] {
        std::unordered_map<std::string, char32_t> m;
        for (const auto& entry : nameToUnicodeTextTab)
            if (entry.name) m.emplace(entry.name, static_cast<char32_t>(entry.u));
        return m;
    }();
    auto found = agl.find(name);
    if (found != agl.end()) return found->second;
    auto hexValue = [](const std::string& digits) -> char32_t {
        if (digits.empty() || digits.size() > 6) return 0;
        char32_t v = 0;
        for (char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return 0;
            v = v * 16 + static_cast<char32_t>(
                             std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::toupper(c) - 'A' + 10));
        }
        return v <= 0x10FFFF ? v : 0;
    };
    if (name.size() == 7 && name.compare(0, 3, "uni") == 0) return hexValue(name.substr(3));
    if (name.size() >= 5 && name.size() <= 7 && name[0] == 'u') return hexValue(name.substr(1));
    return 0;
}

std::shared_ptr<const FieldEncoding> readEncoding(QPDFObjectHandle font) {
    auto out = std::make_shared<FieldEncoding>();
    std::array<char32_t, 256> table{};
    if (!font.isDictionary()) {
        // No font dictionary: a standard font named in the appearance, shown in WinAnsi.
        table = baseTable("/WinAnsiEncoding");
    } else {
        out->style = styleOf(font);
        std::string subtype = font.getKey("/Subtype").isName() ? font.getKey("/Subtype").getName() : std::string();
        std::string base = font.getKey("/BaseFont").isName() ? font.getKey("/BaseFont").getName() : std::string();
        // A composite font, or a symbol font whose codes are not characters, shows nothing we
        // can map: its characters go to an embedded font instead.
        if (subtype == "/Type0") {
            out->cids = CompositeCodes::read(font);
            out->composite = out->cids != nullptr;
            return out;
        }
        if (subtype == "/Type3" || base.find("Symbol") != std::string::npos ||
            base.find("Dingbats") != std::string::npos)
            return out;
        auto enc = font.getKey("/Encoding");
        auto descriptor = font.getKey("/FontDescriptor");
        bool embedded = embedsProgram(descriptor);
        std::string baseName = enc.isName() ? enc.getName()
                               : enc.isDictionary() && enc.getKey("/BaseEncoding").isName()
                                   ? enc.getKey("/BaseEncoding").getName()
                                   : std::string();
        // An embedded program's built-in encoding cannot be read here; only /Differences counts.
        if (!(embedded && baseName.empty())) table = baseTable(baseName);
        if (enc.isDictionary() && enc.getKey("/Differences").isArray()) {
            int code = 0;
            for (auto& item : enc.getKey("/Differences").aitems()) {
                if (item.isInteger()) {
                    code = item.getIntValueAsInt();
                } else if (item.isName()) {
                    if (code >= 0 && code < 256)
                        table[static_cast<std::size_t>(code)] = glyphNameToUnicode(item.getName().substr(1));
                    ++code;
                }
            }
        }
        // A font that is not embedded and calls itself symbolic is shown by whatever font a
        // viewer or printer puts in its place, which maps codes beyond ASCII its own way: only
        // ASCII is trusted to it.
        auto flags = descriptor.isDictionary() ? descriptor.getKey("/Flags") : QPDFObjectHandle::newNull();
        if (!embedded && flags.isInteger() && (flags.getIntValue() & 4))
            for (int c = 0x7F; c < 256; ++c) table[static_cast<std::size_t>(c)] = 0;
        if (embedded) {
            // A subset has a glyph only where it gives a width.
            auto widths = font.getKey("/Widths");
            int first = font.getKey("/FirstChar").isInteger() ? font.getKey("/FirstChar").getIntValueAsInt() : 0;
            for (int c = 0; c < 256; ++c) {
                int at = c - first;
                bool has = widths.isArray() && at >= 0 && at < widths.getArrayNItems() &&
                           widths.getArrayItem(at).isNumber() && widths.getArrayItem(at).getNumericValue() > 0;
                if (!has) table[static_cast<std::size_t>(c)] = 0;
            }
        }
    }
    for (int c = 255; c >= 0x20; --c) {
        char32_t u = table[static_cast<std::size_t>(c)];
        if (u >= 0x20) out->codes[u] = static_cast<unsigned char>(c);
    }
    return out;
}

Metrics::Metrics(QPDFObjectHandle font) {
    if (!font.isDictionary()) return;  // the viewer's default font: Helvetica
    auto widths = font.getKey("/Widths");
    if (widths.isArray()) {
        hasWidths_ = true;
        for (auto& w : widths.aitems()) widths_.push_back(w.isNumber() ? w.getNumericValue() : -1);
        first_ = font.getKey("/FirstChar").isInteger() ? font.getKey("/FirstChar").getIntValueAsInt() : 0;
    }
    auto descriptor = font.getKey("/FontDescriptor");
    if (descriptor.isDictionary()) {
        if (descriptor.getKey("/MissingWidth").isNumber())
            missing_ = descriptor.getKey("/MissingWidth").getNumericValue();
        if (descriptor.getKey("/Ascent").isNumber() && descriptor.getKey("/Ascent").getNumericValue() > 0)
            ascent_ = descriptor.getKey("/Ascent").getNumericValue();
        if (descriptor.getKey("/Descent").isNumber() && descriptor.getKey("/Descent").getNumericValue() < 0)
            descent_ = descriptor.getKey("/Descent").getNumericValue();
    }
    std::string base = font.getKey("/BaseFont").isName() ? font.getKey("/BaseFont").getName() : std::string();
    if (base.find("Courier") != std::string::npos) {
        standard_ = Standard::courier;
        if (!descriptor.isDictionary()) ascent_ = 629, descent_ = -157, boxTop_ = 805, boxBottom_ = -250;
    } else if (base.find("Helvetica") != std::string::npos || base.find("Arial") != std::string::npos) {
        standard_ = Standard::helvetica;
    } else {
        standard_ = Standard::other;
        if (!descriptor.isDictionary()) ascent_ = 683, descent_ = -217, boxTop_ = 898, boxBottom_ = -218;  // Times
    }
    if (descriptor.isDictionary()) {
        boxTop_ = ascent_, boxBottom_ = descent_;
        auto bbox = descriptor.getKey("/FontBBox");
        if (bbox.isRectangle()) {
            auto r = bbox.getArrayAsRectangle();
            double top = std::max(r.lly, r.ury), bottom = std::min(r.lly, r.ury);
            // A box of a few units or of thousands of ems is a damaged entry, not the font's.
            if (top > 0 && bottom <= 0 && top - bottom >= 500 && top - bottom <= 3000)
                boxTop_ = top, boxBottom_ = bottom;
        }
    }
}

double Metrics::width(unsigned char code) const {
    if (hasWidths_) {
        int at = code - first_;
        if (at >= 0 && at < static_cast<int>(widths_.size()) && widths_[static_cast<std::size_t>(at)] >= 0)
            return widths_[static_cast<std::size_t>(at)];
        return missing_;
    }
    switch (standard_) {
        case Standard::courier:
            return 600;
        case Standard::other:
            return 500;
        case Standard::helvetica:
            break;
    }
    return code >= 32 ? kHelvetica[code - 32] : 0;
}

QPDFObjectHandle fontIn(QPDFObjectHandle resources, const std::string& name) {
    if (!resources.isDictionary()) return QPDFObjectHandle::newNull();
    auto fonts = resources.getKey("/Font");
    if (!fonts.isDictionary() || !fonts.hasKey(name)) return QPDFObjectHandle::newNull();
    return fonts.getKey(name);
}

FieldFont findFieldFont(const DefaultAppearance& da, QPDFObjectHandle resources, QPDFObjectHandle formResources,
                        bool standardByName) {
    FieldFont out;
    out.name = da.font;
    // A /DA without a size names no font the drawing can use (a list box asks only for a name).
    if (standardByName ? da.sizeAt < 0 : da.font.empty()) return out;
    out.dict = fontIn(resources, out.name);
    if (out.dict.isNull()) out.dict = fontIn(formResources, out.name);
    if (out.dict.isNull() && standardByName) out.dict = standardFont(out.name);
    return out;
}

const FieldEncoding& FieldFonts::encodingOf(QPDFObjectHandle font) {
    if (font.isIndirect()) {
        auto& slot = indirect_[font.getObjGen()];
        if (!slot) slot = readEncoding(font);
        return *slot;
    }
    // A direct font (a standard one named in the appearance): by what it says.
    auto& slot = direct_[font.isDictionary() ? font.unparse() : std::string()];
    if (!slot) slot = readEncoding(font);
    return *slot;
}

}  // namespace quill::pdf::appearance
