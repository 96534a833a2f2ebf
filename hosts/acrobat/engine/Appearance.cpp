// Widget appearances after a field's value changed: text drawn fresh, button states switched.
#include "Appearance.h"

#include "EmbeddedFonts.h"
#include "Forms.h"

#include <fribidi.h>
#include <hb.h>
#include <poppler/NameToUnicodeTable.h>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pl_QPDFTokenizer.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFFormFieldObjectHelper.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <unordered_map>

namespace quill::pdf::appearance {

namespace {

constexpr int kMultilineFlag = 1 << 12;
constexpr int kPasswordFlag = 1 << 13;
constexpr int kFileSelectFlag = 1 << 20;
constexpr int kComboFlag = 1 << 17;
constexpr int kCombFlag = 1 << 24;

// Auto size (0 in the default appearance) never goes above or below these.
constexpr double kAutoMax = 12;
constexpr double kAutoMin = 4;
constexpr double kLeading = 1.15;  // line distance over font size in multi-line fields

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

bool isListBox(QPDFFormFieldObjectHelper& field) {
    return field.isChoice() && (field.getFlags() & kComboFlag) == 0;
}

std::string number(double v) {
    if (std::fabs(v) < 0.005) v = 0;
    return QUtil::double_to_string(v, 2);
}

// The default appearance as tokens, with where its last Tf takes its font and size.
struct DefaultAppearance {
    std::vector<std::string> tokens;  // raw token text
    int sizeAt = -1;                  // index of the size operand of the last Tf
    std::string font;                 // its font name, with the solidus
    double size = 0;
    std::vector<int> tfAt;  // index of every Tf operator

    explicit DefaultAppearance(const std::string& da) {
        auto input = std::make_shared<BufferInputSource>("default appearance", da);
        QPDFTokenizer tokenizer;
        tokenizer.allowEOF();
        int lastNumber = -1;
        std::string lastName;
        for (;;) {
            auto token = tokenizer.readToken(input, "default appearance", true);
            auto type = token.getType();
            if (type == QPDFTokenizer::tt_eof || type == QPDFTokenizer::tt_bad) break;
            tokens.push_back(token.getRawValue());
            if (type == QPDFTokenizer::tt_integer || type == QPDFTokenizer::tt_real) {
                lastNumber = static_cast<int>(tokens.size()) - 1;
            } else if (type == QPDFTokenizer::tt_name) {
                lastName = token.getValue();
            } else if (token.isWord("Tf")) {
                tfAt.push_back(static_cast<int>(tokens.size()) - 1);
                font = lastName;
                sizeAt = lastNumber;
                size = lastNumber >= 0 ? std::strtod(tokens[static_cast<std::size_t>(lastNumber)].c_str(), nullptr) : 0;
            }
        }
    }

    // The operators with the size the drawing uses.
    std::string withSize(double chosen) const {
        std::string out;
        for (std::size_t k = 0; k < tokens.size(); ++k) {
            if (!out.empty()) out += ' ';
            out += static_cast<int>(k) == sizeAt ? number(chosen) : tokens[k];
        }
        return out;
    }

    // The operators without their font choice (when the field's font is nowhere to be had).
    std::string withoutFont() const {
        std::string out;
        for (std::size_t k = 0; k < tokens.size(); ++k) {
            bool skip = false;
            for (int at : tfAt)
                if (static_cast<int>(k) <= at && static_cast<int>(k) >= at - 2) skip = true;
            if (skip) continue;
            if (!out.empty()) out += ' ';
            out += tokens[k];
        }
        return out;
    }
};

QPDFObjectHandle fontIn(QPDFObjectHandle resources, const std::string& name) {
    if (!resources.isDictionary()) return QPDFObjectHandle::newNull();
    auto fonts = resources.getKey("/Font");
    if (!fonts.isDictionary() || !fonts.hasKey(name)) return QPDFObjectHandle::newNull();
    return fonts.getKey(name);
}

// ---- what the field's own font can show ----

char32_t firstCodePoint(const std::string& utf8) {
    auto units = utf8ToUtf16(utf8);
    if (units.empty()) return 0;
    if (units.size() >= 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF)
        return 0x10000 + ((static_cast<char32_t>(units[0]) - 0xD800) << 10) + (units[1] - 0xDC00);
    return units[0];
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

// The character a glyph name stands for: the Adobe Glyph List, uniXXXX, uXXXX[XX]; 0 if none.
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

// The characters a simple font shows and the code of each: its base encoding with its
// /Differences laid over, limited to codes that have a glyph in an embedded subset.
// For a composite (Type0, Identity-H) font: the two-byte code of each character its
// /ToUnicode map names and its program holds, with the glyph's width.
struct FieldEncoding {
    std::unordered_map<char32_t, unsigned char> codes;
    bool composite = false;
    std::unordered_map<char32_t, std::pair<std::string, double>> cids;
    bool has(char32_t c) const { return composite ? cids.count(c) > 0 : codes.count(c) > 0; }
    std::optional<unsigned char> code(char32_t c) const {
        auto found = codes.find(c);
        if (found == codes.end()) return std::nullopt;
        return found->second;
    }
};

// Hex digits of a CMap token (<...>) as a number; -1 when it is none.
long hexNumber(const std::string& token) {
    if (token.size() < 3 || token.front() != '<' || token.back() != '>') return -1;
    long v = 0;
    for (std::size_t k = 1; k + 1 < token.size(); ++k) {
        if (!std::isxdigit(static_cast<unsigned char>(token[k]))) return -1;
        v = v * 16 + std::stol(std::string(1, token[k]), nullptr, 16);
        if (v > 0xFFFFFFFL) return -1;
    }
    return v;
}

// The one character a CMap destination (<UTF-16BE>) stands for; 0 for none or several.
char32_t destination(const std::string& token) {
    if (token.size() < 3 || token.front() != '<' || token.back() != '>') return 0;
    std::string hex = token.substr(1, token.size() - 2);
    std::u16string units;
    for (std::size_t k = 0; k + 4 <= hex.size(); k += 4)
        units.push_back(static_cast<char16_t>(hexNumber("<" + hex.substr(k, 4) + ">")));
    if (units.size() == 1 && !(units[0] >= 0xD800 && units[0] <= 0xDFFF)) return units[0];
    if (units.size() == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 && units[1] <= 0xDFFF)
        return 0x10000 + ((static_cast<char32_t>(units[0]) - 0xD800) << 10) + (units[1] - 0xDC00);
    return 0;
}

// Reads a composite font whose program is embedded: characters from its /ToUnicode map,
// kept where /W gives the CID a width (a subset lists the glyphs it holds) and the CID
// reaches a glyph through /CIDToGIDMap.
void readComposite(QPDFObjectHandle font, FieldEncoding& out) {
    auto encoding = font.getKey("/Encoding");
    auto descendants = font.getKey("/DescendantFonts");
    auto toUnicode = font.getKey("/ToUnicode");
    if (!encoding.isName() || encoding.getName() != "/Identity-H" || !descendants.isArray() ||
        descendants.getArrayNItems() < 1 || !toUnicode.isStream())
        return;
    auto cidFont = descendants.getArrayItem(0);
    auto descriptor = cidFont.getKey("/FontDescriptor");
    if (!descriptor.isDictionary() ||
        !(descriptor.hasKey("/FontFile2") || descriptor.hasKey("/FontFile3") || descriptor.hasKey("/FontFile")))
        return;
    std::map<long, double> widths;
    auto w = cidFont.getKey("/W");
    if (w.isArray()) {
        int n = w.getArrayNItems();
        for (int k = 0; k + 1 < n;) {
            auto first = w.getArrayItem(k), second = w.getArrayItem(k + 1);
            if (!first.isInteger()) break;
            long c = first.getIntValue();
            if (second.isArray()) {
                for (auto& v : second.aitems()) widths[c++] = v.isNumber() ? v.getNumericValue() : 0;
                k += 2;
            } else if (second.isInteger() && k + 2 < n && w.getArrayItem(k + 2).isNumber()) {
                double v = w.getArrayItem(k + 2).getNumericValue();
                for (long last = std::min<long>(static_cast<long>(second.getIntValue()), c + 0xFFFF); c <= last; ++c)
                    widths[c] = v;
                k += 3;
            } else {
                break;
            }
        }
    }
    auto map = cidFont.getKey("/CIDToGIDMap");
    std::string gids;
    if (map.isStream()) {
        auto data = map.getStreamData(qpdf_dl_all);
        gids.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    }
    auto holds = [&](long cid) {
        auto found = widths.find(cid);
        if (found == widths.end() || found->second <= 0 || cid <= 0 || cid > 0xFFFF) return false;
        if (!map.isStream()) return true;  // Identity
        auto at = static_cast<std::size_t>(cid) * 2;
        return at + 1 < gids.size() && (gids[at] != 0 || gids[at + 1] != 0);
    };
    auto add = [&](long cid, char32_t c) {
        if (c < 0x20 || !holds(cid) || out.cids.count(c)) return;
        std::string bytes{static_cast<char>(cid >> 8), static_cast<char>(cid & 0xFF)};
        out.cids.emplace(c, std::make_pair(bytes, widths[cid]));
    };
    auto data = toUnicode.getStreamData(qpdf_dl_all);
    std::istringstream in(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()));
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) tokens.push_back(t);
    enum { none, chars, ranges } section = none;
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        const auto& t = tokens[k];
        if (t == "beginbfchar")
            section = chars;
        else if (t == "beginbfrange")
            section = ranges;
        else if (t == "endbfchar" || t == "endbfrange")
            section = none;
        else if (section == chars && k + 1 < tokens.size()) {
            long cid = hexNumber(t);
            if (cid >= 0) add(cid, destination(tokens[k + 1]));
            ++k;
        } else if (section == ranges && k + 2 < tokens.size()) {
            long lo = hexNumber(t), hi = hexNumber(tokens[k + 1]);
            if (lo < 0 || hi < lo || hi - lo > 0xFFFF) {
                section = none;
                continue;
            }
            if (tokens[k + 2].front() == '[') {
                // [<d1> <d2> ...]: one destination a code.
                std::size_t j = k + 2;
                long cid = lo;
                std::string item = tokens[j].substr(1);
                for (;;) {
                    bool last = !item.empty() && item.back() == ']';
                    if (last) item.pop_back();
                    if (!item.empty() && cid <= hi) add(cid++, destination(item));
                    if (last || ++j >= tokens.size()) break;
                    item = tokens[j];
                }
                k = j;
            } else {
                char32_t c = destination(tokens[k + 2]);
                for (long cid = lo; c && cid <= hi; ++cid, ++c) add(cid, c);
                k += 2;
            }
        }
    }
    out.composite = true;
}

std::shared_ptr<const FieldEncoding> readEncoding(QPDFObjectHandle font) {
    auto out = std::make_shared<FieldEncoding>();
    std::array<char32_t, 256> table{};
    if (!font.isDictionary()) {
        // No font dictionary: a standard font named in the appearance, shown in WinAnsi.
        table = baseTable("/WinAnsiEncoding");
    } else {
        std::string subtype = font.getKey("/Subtype").isName() ? font.getKey("/Subtype").getName() : std::string();
        std::string base = font.getKey("/BaseFont").isName() ? font.getKey("/BaseFont").getName() : std::string();
        // A composite font, or a symbol font whose codes are not characters, shows nothing we
        // can map: its characters go to an embedded font instead.
        if (subtype == "/Type0") {
            readComposite(font, *out);
            return out;
        }
        if (subtype == "/Type3" || base.find("Symbol") != std::string::npos ||
            base.find("Dingbats") != std::string::npos)
            return out;
        auto enc = font.getKey("/Encoding");
        auto descriptor = font.getKey("/FontDescriptor");
        bool embedded =
            descriptor.isDictionary() &&
            (descriptor.hasKey("/FontFile") || descriptor.hasKey("/FontFile2") || descriptor.hasKey("/FontFile3"));
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

}  // namespace

struct Drawing::Impl {
    explicit Impl(QPDF& pdf) : pdf(pdf), fonts(pdf) {}
    QPDF& pdf;
    fonts::EmbeddedFonts fonts;
    std::map<QPDFObjGen, std::shared_ptr<const FieldEncoding>> encodings;
    std::map<std::string, std::shared_ptr<const FieldEncoding>> directEncodings;
    const FieldEncoding& encodingOf(QPDFObjectHandle font);
    // How many appearance entries of the form's widgets name each indirect stream; counted on
    // the first redraw that may reuse a stream in place, again after the field tree changed.
    std::optional<std::map<QPDFObjGen, int>> appearanceUses;
    int usesOf(QPDFObjGen og);
};

namespace {

// Advance widths of the font's single-byte codes, from its /Widths, else from the
// standard font it names: Helvetica's table, Courier's fixed 600, and for the other standard
// fonts an average width (500) that is only an estimate.
class Metrics {
public:
    explicit Metrics(QPDFObjectHandle font) {
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
            if (!descriptor.isDictionary()) ascent_ = 629, descent_ = -157;
        } else if (base.find("Helvetica") != std::string::npos || base.find("Arial") != std::string::npos) {
            standard_ = Standard::helvetica;
        } else {
            standard_ = Standard::other;
            if (!descriptor.isDictionary()) ascent_ = 683, descent_ = -217;  // Times
        }
    }

    // Thousandths of the font size.
    double width(unsigned char code) const {
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
    double width(const std::string& codes, double size) const {
        double sum = 0;
        for (char c : codes) sum += width(static_cast<unsigned char>(c));
        return sum * size / 1000;
    }
    double ascent() const { return ascent_ / 1000; }
    double descent() const { return descent_ / 1000; }

private:
    enum class Standard { helvetica, courier, other };
    bool hasWidths_ = false;
    std::vector<double> widths_;  // -1 where the entry is no number
    int first_ = 0;
    double missing_ = 0;
    Standard standard_ = Standard::helvetica;
    double ascent_ = 718, descent_ = -207;  // Helvetica
};

// One glyph placed on a line: a code of the field's font (font -1) or of an embedded face.
// Advances and offsets in thousandths of the font size.
struct Glyph {
    int font = -1;
    std::string code;
    double advance = 0;  // where the next glyph starts
    double nominal = 0;  // what a viewer advances by after drawing it
    double dx = 0, dy = 0;
    bool space = false;
};
using Line = std::vector<Glyph>;

double widthOf(const Line& line, double size) {
    double sum = 0;
    for (const auto& g : line) sum += g.advance;
    return sum * size / 1000;
}

bool isMark(char32_t c) {
    auto category = hb_unicode_general_category(hb_unicode_funcs_get_default(), c);
    return category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK || c == 0x200D || (c >= 0xFE00 && c <= 0xFE0F);
}

hb_script_t scriptOf(char32_t c) {
    return hb_unicode_script(hb_unicode_funcs_get_default(), c);
}

// A paragraph (no line breaks) as glyphs in visual order: the characters the field's font
// has in that font, the others in the first installed face that has them; right-to-left text
// laid out by the bidirectional algorithm, every run of an installed face shaped by HarfBuzz.
// A character no font has is left out of the drawing.
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

    // The font of each character; -2 for none.
    std::vector<int> font(text.size(), -2);
    for (std::size_t k = 0; k < text.size(); ++k) {
        char32_t c = text[k];
        bool previousEmbedded = k > 0 && font[k - 1] >= 0;
        // A mark, or a neutral inside right-to-left text, stays with the face before it when
        // that face has it, so that the run shapes (and reads) as one.
        bool sticky = isMark(c) || ((levels[k] & 1) && !FRIBIDI_IS_STRONG(types[k]));
        if (sticky && previousEmbedded) {
            int face = fonts::faceFor(c);
            if (face == font[k - 1]) {
                font[k] = face;
                continue;
            }
        }
        if (encoding.has(c)) {
            font[k] = -1;
            continue;
        }
        font[k] = fonts::faceFor(c);
    }

    // Runs of one level, one font and (for installed faces) one script, in logical order.
    struct Run {
        std::size_t start, end;
        int level;
        int font;
    };
    std::vector<Run> runs;
    hb_script_t runScript = HB_SCRIPT_COMMON;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (font[k] == -2) continue;
        hb_script_t script = scriptOf(text[k]);
        bool realScript = script != HB_SCRIPT_COMMON && script != HB_SCRIPT_INHERITED;
        bool same = !runs.empty() && runs.back().end == k && runs.back().level == levels[k] &&
                    runs.back().font == font[k] &&
                    (font[k] < 0 || !realScript || runScript == HB_SCRIPT_COMMON || runScript == script);
        if (same) {
            runs.back().end = k + 1;
        } else {
            runs.push_back({k, k + 1, levels[k], font[k]});
            runScript = HB_SCRIPT_COMMON;
        }
        if (realScript) runScript = script;
    }
    // Visual order: from the highest level down to the lowest odd one, reverse every
    // stretch of runs at that level or above.
    int highest = 0, lowestOdd = 1000;
    for (auto& r : runs) {
        highest = std::max(highest, r.level);
        if (r.level & 1) lowestOdd = std::min(lowestOdd, r.level);
    }
    for (int level = highest; level >= lowestOdd && level > 0; --level) {
        for (std::size_t i = 0; i < runs.size();) {
            if (runs[i].level < level) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < runs.size() && runs[j].level >= level) ++j;
            std::reverse(runs.begin() + static_cast<std::ptrdiff_t>(i), runs.begin() + static_cast<std::ptrdiff_t>(j));
            i = j;
        }
    }
    for (auto& r : runs) {
        bool rtl = (r.level & 1) != 0;
        if (r.font < 0) {
            Line part;
            for (std::size_t k = r.start; k < r.end; ++k) {
                Glyph g;
                if (encoding.composite) {
                    const auto& [bytes, width] = encoding.cids.at(text[k]);
                    g.code = bytes;
                    g.advance = g.nominal = width;
                } else {
                    auto code = *encoding.code(text[k]);
                    g.code.assign(1, static_cast<char>(code));
                    g.advance = g.nominal = metrics.width(code);
                }
                g.space = text[k] == ' ';
                part.push_back(g);
            }
            if (rtl) std::reverse(part.begin(), part.end());
            line.insert(line.end(), part.begin(), part.end());
            continue;
        }
        auto shaped = fonts::shape(r.font, text.substr(r.start, r.end - r.start), rtl);
        for (auto& s : shaped) {
            Glyph g;
            g.font = r.font;
            g.code = embedded.code(r.font, s.gid, s.text);
            g.advance = s.advance;
            g.nominal = fonts::nominalAdvance(r.font, s.gid);
            g.dx = s.dx;
            g.dy = s.dy;
            g.space = s.text == U" ";
            line.push_back(g);
        }
    }
    return line;
}

// Wraps a paragraph's glyphs to `width`: at the last space that fits, else (one word wider
// than the line) between glyphs.
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

struct Box {
    double llx = 0, lly = 0, urx = 0, ury = 0;
    double width() const { return urx - llx; }
    double height() const { return ury - lly; }
};

// What the field shows and how: set from the field, then laid out into a content stream.
struct TextPlan {
    std::vector<Line> paragraphs;                       // more than one only in a multi-line field
    std::vector<std::u32string> logical;                // the same paragraphs as characters
    std::function<Line(const std::u32string&)> layout;  // lays out characters as layoutParagraph does
    mutable QPDFObjectHandle font =
        QPDFObjectHandle::newNull();  // the field's own font; null when it names none we have
    std::string fontName;
    DefaultAppearance da{""};
    int quadding = 0;
    bool multiline = false;
    int comb = 0;  // cells of a comb field, else 0
};

// Paragraphs up to this length with right-to-left text are wrapped in reading order; longer
// ones (each candidate line is laid out again) glyph by glyph.
constexpr std::size_t kLogicalWrapLimit = 2000;

bool hasRightToLeft(const std::u32string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char32_t c) { return FRIBIDI_IS_RTL(fribidi_get_bidi_type(static_cast<FriBidiChar>(c))); });
}

// Wraps a paragraph in reading order, so that with right-to-left text the first line holds
// its first words: words are added to a line while its laid-out width fits; a word wider than
// a line is broken between characters.
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

std::string hexCode(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        auto u = static_cast<unsigned char>(c);
        out += digits[u >> 4];
        out += digits[u & 15];
    }
    return out;
}

// The text operators for one line starting at (x, y): the font switched where the glyphs'
// font changes, positions kept by TJ adjustments, marks raised with Ts.
std::string showLine(const Line& line, double x, double y, double size, const std::string& fieldFont,
                     int& currentFont) {
    std::string out = "1 0 0 1 " + number(x) + " " + number(y) + " Tm\n";
    std::string tj, bytes;
    int parts = 0;  // strings and numbers in tj
    auto endString = [&] {
        if (bytes.empty()) return;
        // The field's own font as a plain string, an embedded one's two-byte codes in hex.
        tj += currentFont < 0 ? QPDFObjectHandle::newString(bytes).unparse() : "<" + hexCode(bytes) + ">";
        bytes.clear();
        ++parts;
    };
    auto flush = [&] {
        endString();
        if (parts == 1)
            out += tj + " Tj\n";
        else if (parts > 1)
            out += "[" + tj + "] TJ\n";
        tj.clear();
        parts = 0;
    };
    auto adjust = [&](double n) {
        if (std::fabs(n) <= 0.01) return;
        endString();
        tj += " " + number(n) + " ";
        ++parts;
    };
    for (const auto& g : line) {
        if (g.font != currentFont) {
            flush();
            out += (g.font < 0 ? fieldFont : fonts::EmbeddedFonts::resourceName(g.font)) + " " + number(size) + " Tf\n";
            currentFont = g.font;
        }
        bool raised = std::fabs(g.dy) > 0.01;
        if (raised) {
            flush();
            out += number(g.dy * size / 1000) + " Ts\n";
        }
        adjust(-g.dx);
        bytes += g.code;
        adjust(g.nominal + g.dx - g.advance);
        if (raised) {
            flush();
            out += "0 Ts\n";
        }
    }
    flush();
    return out;
}

// The drawing that goes between /Tx BMC and EMC.
std::string draw(const TextPlan& plan, const Box& box, double border) {
    Metrics metrics(plan.font);
    double pad = border + 1;
    double innerWidth = std::max(0.0, box.width() - 2 * pad);
    double innerHeight = std::max(0.0, box.height() - 2 * pad);
    double lineHeight = metrics.ascent() - metrics.descent();
    bool autoSize = plan.da.size <= 0;
    double size = autoSize ? kAutoMax : plan.da.size;

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
    auto singleLineY = [&](double s) { return box.lly + (box.height() - lineHeight * s) / 2 - metrics.descent() * s; };

    if (plan.multiline) {
        std::vector<Line> lines;
        for (;;) {
            lines.clear();
            for (std::size_t k = 0; k < plan.paragraphs.size(); ++k) {
                bool logical = k < plan.logical.size() && plan.layout && hasRightToLeft(plan.logical[k]) &&
                               plan.logical[k].size() <= kLogicalWrapLimit;
                for (auto& l : logical ? wrapLogical(plan.logical[k], plan.layout, size, innerWidth)
                                       : wrap(plan.paragraphs[k], size, innerWidth))
                    lines.push_back(std::move(l));
            }
            double needed = (metrics.ascent() - metrics.descent()) * size + (lines.size() - 1) * kLeading * size;
            if (!autoSize || needed <= innerHeight || size <= kAutoMin) break;
            size = std::max(kAutoMin, size - 0.5);
        }
        double y = box.ury - pad - metrics.ascent() * size;
        for (auto& line : lines) {
            double w = widthOf(line, size);
            placed.push_back({std::move(line), alignedX(w), y});
            y -= kLeading * size;
        }
    } else if (plan.comb > 0) {
        const Line text = plan.paragraphs.empty() ? Line() : plan.paragraphs.front();
        double cell = box.width() / plan.comb;
        if (autoSize) {
            double widest = 0;
            for (auto& g : text) widest = std::max(widest, g.advance);
            size = std::min(size, innerHeight / lineHeight);
            if (widest > 0) size = std::min(size, cell * 1000 / widest);
            size = std::max(size, kAutoMin);
        }
        double y = singleLineY(size);
        for (std::size_t k = 0; k < text.size() && k < static_cast<std::size_t>(plan.comb); ++k) {
            Line one{text[k]};
            double x = box.llx + cell * static_cast<double>(k) + (cell - widthOf(one, size)) / 2;
            placed.push_back({one, x, y});
        }
    } else {
        const Line text = plan.paragraphs.empty() ? Line() : plan.paragraphs.front();
        if (autoSize) {
            size = std::min(size, innerHeight / lineHeight);
            double at1 = widthOf(text, 1);
            if (at1 > 0) size = std::min(size, innerWidth / at1);
            size = std::max(size, kAutoMin);
        }
        placed.push_back({text, alignedX(widthOf(text, size)), singleLineY(size)});
    }

    std::string out = "q\n";
    out += number(box.llx + border) + " " + number(box.lly + border) + " " + number(box.width() - 2 * border) + " " +
           number(box.height() - 2 * border) + " re W n\n";
    // The default appearance sets the colour and, when the field has a font of its own, that font.
    out += "BT\n" + (plan.font.isNull() ? plan.da.withoutFont() : plan.da.withSize(size)) + "\n";
    int currentFont = plan.font.isNull() ? -3 : -1;
    for (auto& p : placed) {
        if (p.glyphs.empty()) continue;
        out += showLine(p.glyphs, p.x, p.y, size, plan.fontName, currentFont);
    }
    out += "ET\nQ\n";
    return out;
}

// Copies a content stream, putting `drawing` in place of what stands between /Tx BMC and its
// EMC; a stream without that section gets one at its end.
class ValueSection : public QPDFObjectHandle::TokenFilter {
public:
    explicit ValueSection(std::string drawing) : drawing_(std::move(drawing)) {}

    void handleToken(QPDFTokenizer::Token const& token) override {
        auto type = token.getType();
        bool ignorable = type == QPDFTokenizer::tt_space || type == QPDFTokenizer::tt_comment;
        if (state_ == State::inside) {
            if (token.isWord("BMC") || token.isWord("BDC")) {
                ++depth_;
            } else if (token.isWord("EMC")) {
                if (depth_ == 0) {
                    write(drawing_);
                    write("EMC");
                    state_ = State::after;
                } else {
                    --depth_;
                }
            }
            return;
        }
        if (state_ == State::before) {
            if (!pending_.empty()) {
                if (ignorable) {
                    pending_ += token.getRawValue();
                    return;
                }
                if (token.isWord("BMC")) {
                    write("/Tx BMC\n");
                    pending_.clear();
                    state_ = State::inside;
                    return;
                }
                write(pending_);
                pending_.clear();
            }
            if (type == QPDFTokenizer::tt_name && token.getValue() == "/Tx") {
                pending_ = token.getRawValue();
                return;
            }
        }
        writeToken(token);
    }

    void handleEOF() override {
        write(pending_);
        if (state_ == State::before)
            write("\n/Tx BMC\n" + drawing_ + "EMC\n");
        else if (state_ == State::inside)
            write(drawing_ + "EMC\n");
    }

private:
    enum class State { before, inside, after };
    std::string drawing_;
    std::string pending_;  // a /Tx name and the space after it, until the next token tells
    State state_ = State::before;
    int depth_ = 0;
};

std::string replaceValueSection(const std::string& content, const std::string& drawing) {
    std::string out;
    ValueSection section(drawing);
    Pl_String sink("appearance", nullptr, out);
    Pl_QPDFTokenizer tokenizer("appearance", &section, &sink);
    tokenizer.writeString(content);
    tokenizer.finish();
    return out;
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

// Fills `plan` for a text field or combo box. Never fails for want of a font: what the
// field's font cannot show is drawn with an embedded one.
void planText(QPDFFormFieldObjectHelper& field, QPDFObjectHandle resources, TextPlan& plan, Drawing::Impl& drawing) {
    int flags = field.getFlags();
    plan.da = DefaultAppearance(field.getDefaultAppearance());
    plan.fontName = plan.da.font;
    if (plan.da.sizeAt >= 0) {
        plan.font = fontIn(resources, plan.fontName);
        if (plan.font.isNull()) plan.font = fontIn(field.getDefaultResources(), plan.fontName);
        if (plan.font.isNull()) plan.font = standardFont(plan.fontName);
    }
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
    const FieldEncoding& encoding = plan.font.isNull() ? none : drawing.encodingOf(plan.font);
    Metrics metrics(plan.font);
    // Paragraphs split at line breaks (CR, LF, CR LF); outside a multi-line field a line break
    // shows as a space. Other control characters are not drawn.
    auto units = utf8ToUtf16(value);
    std::u32string paragraph;
    auto* fonts = &drawing.fonts;
    plan.layout = [&encoding, metrics, fonts](const std::u32string& text) {
        return layoutParagraph(text, encoding, metrics, *fonts);
    };
    auto endParagraph = [&] {
        plan.paragraphs.push_back(layoutParagraph(paragraph, encoding, metrics, drawing.fonts));
        plan.logical.push_back(paragraph);
        paragraph.clear();
    };
    for (std::size_t k = 0; k < units.size(); ++k) {
        char32_t c = units[k];
        if (c >= 0xD800 && c <= 0xDBFF && k + 1 < units.size() && units[k + 1] >= 0xDC00 && units[k + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[k + 1] - 0xDC00);
            ++k;
        }
        if (c == '\r' || c == '\n') {
            if (c == '\r' && k + 1 < units.size() && units[k + 1] == '\n') ++k;
            if (plan.multiline)
                endParagraph();
            else
                paragraph += U' ';
            continue;
        }
        if (c < 0x20 || c == 0x7F) continue;
        paragraph += c;
    }
    endParagraph();
}

double borderWidth(QPDFObjectHandle widget) {
    auto bs = widget.getKey("/BS");
    double w = 1;
    if (bs.isDictionary() && bs.getKey("/W").isNumber())
        w = bs.getKey("/W").getNumericValue();
    else if (widget.getKey("/Border").isArray() && widget.getKey("/Border").getArrayNItems() >= 3 &&
             widget.getKey("/Border").getArrayItem(2).isNumber())
        w = widget.getKey("/Border").getArrayItem(2).getNumericValue();
    return std::clamp(w, 0.0, 20.0);
}

// How far the value keeps off the edge: the border, twice over for a bevelled or inset one.
double borderInset(QPDFObjectHandle widget) {
    auto bs = widget.getKey("/BS");
    bool doubled = bs.isDictionary() && bs.getKey("/S").isName() &&
                   (bs.getKey("/S").getName() == "/B" || bs.getKey("/S").getName() == "/I");
    return doubled ? 2 * borderWidth(widget) : borderWidth(widget);
}

// The operator setting an /MK colour (grey, RGB or CMYK by its length); "" for none.
std::string colour(QPDFObjectHandle c, bool stroke) {
    if (!c.isArray()) return {};
    std::string out;
    for (auto& v : c.aitems()) {
        if (!v.isNumber()) return {};
        out += number(v.getNumericValue()) + " ";
    }
    switch (c.getArrayNItems()) {
        case 1:
            return out + (stroke ? "G" : "g");
        case 3:
            return out + (stroke ? "RG" : "rg");
        case 4:
            return out + (stroke ? "K" : "k");
        default:
            return {};
    }
}

// The background and border /MK asks for, for an appearance drawn from nothing.
std::string frame(QPDFObjectHandle widget, const Box& box) {
    auto mk = widget.getKey("/MK");
    if (!mk.isDictionary()) return {};
    std::string out;
    auto background = colour(mk.getKey("/BG"), false);
    if (!background.empty())
        out += background + " " + number(box.llx) + " " + number(box.lly) + " " + number(box.width()) + " " +
               number(box.height()) + " re f\n";
    auto border = colour(mk.getKey("/BC"), true);
    double w = borderWidth(widget);
    if (!border.empty() && w > 0)
        out += border + " " + number(w) + " w " + number(box.llx + w / 2) + " " + number(box.lly + w / 2) + " " +
               number(box.width() - w) + " " + number(box.height() - w) + " re S\n";
    return out.empty() ? out : "q\n" + out + "Q\n";
}

// The normal appearance a value is drawn into: the widget's own, or (when it has none, or
// `fresh` is asked for) one from nothing with the background and border /MK asks for.
struct Base {
    std::string content;
    mutable QPDFObjectHandle dict;
};

std::optional<Base> baseAppearance(QPDFObjectHandle widget, bool fresh, const std::string& section) {
    auto ap = widget.getKey("/AP");
    auto normal = ap.isDictionary() ? ap.getKey("/N") : QPDFObjectHandle::newNull();
    Base base;
    if (!fresh && normal.isStream() && normal.getDict().getKey("/BBox").isRectangle()) {
        auto data = normal.getStreamData(qpdf_dl_all);
        base.content.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        base.dict = normal.getDict();
        return base;
    }
    auto rect = widget.getKey("/Rect");
    if (!rect.isRectangle()) return std::nullopt;
    auto r = rect.getArrayAsRectangle();
    double w = std::fabs(r.urx - r.llx), h = std::fabs(r.ury - r.lly);
    base.dict = QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Form /Resources << /ProcSet [ /PDF /Text ] >> >>");
    // A widget turned by /MK /R draws upright in its own turned space.
    auto mk = widget.getKey("/MK");
    int turn =
        mk.isDictionary() && mk.getKey("/R").isInteger() ? ((mk.getKey("/R").getIntValueAsInt() % 360) + 360) % 360 : 0;
    if (turn == 90 || turn == 270) std::swap(w, h);
    if (turn == 90) base.dict.replaceKey("/Matrix", QPDFObjectHandle::parse("[0 1 -1 0 0 0]"));
    if (turn == 180) base.dict.replaceKey("/Matrix", QPDFObjectHandle::parse("[-1 0 0 -1 0 0]"));
    if (turn == 270) base.dict.replaceKey("/Matrix", QPDFObjectHandle::parse("[0 -1 1 0 0 0]"));
    base.dict.replaceKey("/BBox", QPDFObjectHandle::newFromRectangle(QPDFObjectHandle::Rectangle(0, 0, w, h)));
    base.content = frame(widget, Box{0, 0, w, h}) + section;
    return base;
}

Box boxOf(const Base& base) {
    auto b = base.dict.getKey("/BBox").getArrayAsRectangle();
    return Box{std::min(b.llx, b.urx), std::min(b.lly, b.ury), std::max(b.llx, b.urx), std::max(b.lly, b.ury)};
}

// Redrawing in place saves qpdf numbering a new object, which makes it read every object of the
// file once per document; in a signed file's update it also carries just the one stream. It pays
// only in files with many objects.
constexpr long long kInPlaceMinObjects = 1024;

bool worthRedrawingInPlace(QPDF& pdf) {
    auto size = pdf.getTrailer().getKey("/Size");
    return size.isInteger() && size.getIntValue() >= kInPlaceMinObjects;
}

// The widget's normal appearance stream when it may be redrawn in place: indirect, and named by
// no other appearance entry of the form (writers that share identical streams exist).
QPDFObjectHandle reusableNormal(QPDF& pdf, QPDFObjectHandle widget, Drawing::Impl& drawing) {
    auto ap = widget.getKey("/AP");
    auto normal = ap.isDictionary() ? ap.getKey("/N") : QPDFObjectHandle::newNull();
    if (!normal.isStream() || !normal.isIndirect() || !worthRedrawingInPlace(pdf)) return QPDFObjectHandle::newNull();
    return drawing.usesOf(normal.getObjGen()) == 1 ? normal : QPDFObjectHandle::newNull();
}

// Makes `content` the widget's normal appearance, with the base's entries and every font the
// drawing uses in its resources: the field's own under its name, embedded ones under theirs.
void install(QPDF& pdf, QPDFObjectHandle widget, const Base& base, const std::string& content, const TextPlan& plan,
             Drawing::Impl& drawing) {
    auto fresh = reusableNormal(pdf, widget, drawing);
    if (!fresh.isNull()) {
        // The stream keeps its number and takes the base's entries (the same ones when the base
        // was read from it, new ones when it was drawn from nothing).
        fresh.replaceStreamData(content, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
        auto dict = fresh.getDict();
        for (const auto& key : dict.getKeys())
            if (key != "/Length" && !base.dict.hasKey(key)) dict.removeKey(key);
    } else {
        fresh = QPDFObjectHandle::newStream(&pdf, content);
    }
    for (const auto& key : base.dict.getKeys()) {
        if (key == "/Length" || key == "/Filter" || key == "/DecodeParms") continue;
        fresh.getDict().replaceKey(key, base.dict.getKey(key));
    }
    std::map<std::string, QPDFObjectHandle> needed;
    if (plan.font.isDictionary()) needed[plan.fontName] = plan.font;
    // Every embedded font the drawing names, read off the drawing itself.
    const std::string prefix = fonts::EmbeddedFonts::resourceName(0).substr(0, 5);  // "/QmFb"
    for (auto at = content.find(prefix); at != std::string::npos; at = content.find(prefix, at + 1)) {
        std::size_t end = at + prefix.size();
        while (end < content.size() && std::isdigit(static_cast<unsigned char>(content[end]))) ++end;
        if (end == at + prefix.size() || end >= content.size() || content[end] != ' ') continue;
        int face = std::atoi(content.c_str() + at + prefix.size());
        needed.emplace(fonts::EmbeddedFonts::resourceName(face), drawing.fonts.font(face));
    }
    auto resources = base.dict.getKey("/Resources");
    bool missing = false;
    for (auto& [name, font] : needed)
        if (fontIn(resources, name).isNull() ||
            (name.rfind("/QmFb", 0) == 0 && !fontIn(resources, name).isSameObjectAs(font)))
            missing = true;
    if (missing) {
        // A copy: the resources may be shared with other appearances or the form.
        resources = resources.isDictionary() ? resources.shallowCopy() : QPDFObjectHandle::newDictionary();
        auto fontDict = resources.getKey("/Font");
        fontDict = fontDict.isDictionary() ? fontDict.shallowCopy() : QPDFObjectHandle::newDictionary();
        for (auto& [name, font] : needed)
            if (fontIn(resources, name).isNull() || name.rfind("/QmFb", 0) == 0) fontDict.replaceKey(name, font);
        resources.replaceKey("/Font", fontDict);
        fresh.getDict().replaceKey("/Resources", resources);
    }
    auto ap = widget.getKey("/AP");
    if (!ap.isDictionary()) {
        widget.replaceKey("/AP", QPDFObjectHandle::newDictionary());
        ap = widget.getKey("/AP");
    }
    ap.replaceKey("/N", fresh);
}

// A text field or combo box: its value drawn into the value section of its normal
// appearance, the rest of that appearance (background, border, colours) kept.
bool refreshTextField(QPDF& pdf, QPDFObjectHandle widget, Drawing::Impl& drawing, bool fresh) {
    QPDFFormFieldObjectHelper field(widget);
    auto base = baseAppearance(widget, fresh, "/Tx BMC\nEMC\n");
    if (!base) return false;
    TextPlan plan;
    planText(field, base->dict.getKey("/Resources"), plan, drawing);
    std::string text = draw(plan, boxOf(*base), borderInset(widget));
    install(pdf, widget, *base, replaceValueSection(base->content, text), plan, drawing);
    return true;
}

// A list box whose texts its font cannot all show: its options one a line from the top, the
// chosen ones highlighted, drawn with embedded fonts where needed.
bool drawListBox(QPDF& pdf, QPDFObjectHandle widget, Drawing::Impl& drawing, bool fresh) {
    QPDFFormFieldObjectHelper field(widget);
    auto base = baseAppearance(widget, fresh, "/Tx BMC\nEMC\n");
    if (!base) return false;
    TextPlan plan;
    plan.da = DefaultAppearance(field.getDefaultAppearance());
    plan.fontName = plan.da.font;
    if (plan.da.sizeAt >= 0) {
        plan.font = fontIn(base->dict.getKey("/Resources"), plan.fontName);
        if (plan.font.isNull()) plan.font = fontIn(field.getDefaultResources(), plan.fontName);
        if (plan.font.isNull()) plan.font = standardFont(plan.fontName);
    }
    static const FieldEncoding none;
    const FieldEncoding& encoding = plan.font.isNull() ? none : drawing.encodingOf(plan.font);
    Metrics metrics(plan.font);
    std::set<std::string> chosen;
    auto v = field.getValue();
    if (v.isString()) chosen.insert(v.getUTF8Value());
    if (v.isArray())
        for (auto& item : v.aitems())
            if (item.isString()) chosen.insert(item.getUTF8Value());
    std::vector<Line> lines;
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
            for (char16_t u : utf8ToUtf16(display))
                if (u >= 0x20) text += static_cast<char32_t>(u);
            lines.push_back(layoutParagraph(text, encoding, metrics, drawing.fonts));
            highlighted.push_back(chosen.count(exportValue) > 0 || chosen.count(display) > 0);
        }
    }
    Box box = boxOf(*base);
    double border = borderInset(widget);
    double size = plan.da.size > 0 ? plan.da.size : kAutoMax;
    double lineHeight = (metrics.ascent() - metrics.descent()) * size;
    std::string out = "q\n" + number(box.llx + border) + " " + number(box.lly + border) + " " +
                      number(box.width() - 2 * border) + " " + number(box.height() - 2 * border) + " re W n\n";
    double top = box.ury - border - 1;
    for (std::size_t k = 0; k < lines.size(); ++k)
        if (highlighted[k])
            out += "0.6 0.75 0.86 rg " + number(box.llx + border) + " " + number(top - (k + 1) * lineHeight) + " " +
                   number(box.width() - 2 * border) + " " + number(lineHeight) + " re f\n";
    out += "BT\n" + (plan.font.isNull() ? plan.da.withoutFont() : plan.da.withSize(size)) + "\n";
    int currentFont = plan.font.isNull() ? -3 : -1;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        double y = top - k * lineHeight - metrics.ascent() * size;
        if (!lines[k].empty()) out += showLine(lines[k], box.llx + border + 2, y, size, plan.fontName, currentFont);
    }
    out += "ET\nQ\n";
    install(pdf, widget, *base, replaceValueSection(base->content, out), plan, drawing);
    return true;
}

// A list box lists its options, the chosen one highlighted, as qpdf's writer draws them,
// when its font shows every text; else as drawListBox draws it.
bool refreshListBox(QPDF& pdf, QPDFObjectHandle widget, Drawing::Impl& drawing, bool fresh) {
    QPDFFormFieldObjectHelper field(widget);
    auto normal = widget.getKey("/AP").isDictionary() ? widget.getKey("/AP").getKey("/N") : QPDFObjectHandle::newNull();
    std::string name = DefaultAppearance(field.getDefaultAppearance()).font;
    QPDFObjectHandle font = QPDFObjectHandle::newNull();
    if (!name.empty()) {
        if (normal.isStream()) font = fontIn(normal.getDict().getKey("/Resources"), name);
        if (font.isNull()) font = fontIn(field.getDefaultResources(), name);
    }
    std::vector<std::string> texts{field.getValueAsString()};
    for (auto& option : field.getChoices()) texts.push_back(option);
    bool shows = font.isDictionary() || name.empty();
    const FieldEncoding& encoding = drawing.encodingOf(font);
    for (auto& text : texts)
        for (char16_t u : utf8ToUtf16(text))
            if (u < 0x20 || encoding.composite || !encoding.code(u)) shows = false;
    if (!shows || fresh) return drawListBox(pdf, widget, drawing, fresh);

    QPDFAnnotationObjectHelper annotation(widget);
    field.generateAppearance(annotation);
    // The stock writer only queues a filter on the stream, applied at every save; a field
    // set a hundred times would stack a hundred filters. Draw it now into a fresh stream.
    normal = widget.getKey("/AP").getKey("/N");
    if (normal.isStream()) {
        auto data = normal.getStreamData(qpdf_dl_all);
        auto stream = QPDFObjectHandle::newStream(&pdf, data);
        auto dict = normal.getDict();
        for (const auto& key : dict.getKeys()) {
            if (key == "/Length" || key == "/Filter" || key == "/DecodeParms") continue;
            stream.getDict().replaceKey(key, dict.getKey(key));
        }
        widget.getKey("/AP").replaceKey("/N", stream);
    }
    return true;
}

}  // namespace

int Drawing::Impl::usesOf(QPDFObjGen og) {
    if (!appearanceUses) {
        appearanceUses.emplace();
        auto& uses = *appearanceUses;
        auto count = [&](QPDFObjectHandle entry) {
            if (entry.isIndirect()) ++uses[entry.getObjGen()];
            if (entry.isDictionary() && !entry.isStream())
                for (auto& [state, stream] : entry.getDictAsMap())
                    if (stream.isIndirect()) ++uses[stream.getObjGen()];
        };
        auto acroForm = pdf.getRoot().getKey("/AcroForm");
        auto fields = acroForm.isDictionary() ? acroForm.getKey("/Fields") : QPDFObjectHandle::newNull();
        std::vector<QPDFObjectHandle> todo =
            fields.isArray() ? fields.getArrayAsVector() : std::vector<QPDFObjectHandle>{};
        std::set<QPDFObjGen> seen;
        while (!todo.empty()) {
            auto node = todo.back();
            todo.pop_back();
            if (!node.isDictionary() || (node.isIndirect() && !seen.insert(node.getObjGen()).second)) continue;
            auto ap = node.getKey("/AP");
            if (ap.isDictionary())
                for (const char* key : {"/N", "/D", "/R"}) count(ap.getKey(key));
            auto kids = node.getKey("/Kids");
            if (kids.isArray())
                for (auto& kid : kids.aitems()) todo.push_back(kid);
        }
    }
    auto it = appearanceUses->find(og);
    return it == appearanceUses->end() ? 0 : it->second;
}

const FieldEncoding& Drawing::Impl::encodingOf(QPDFObjectHandle font) {
    if (font.isIndirect()) {
        auto& slot = encodings[font.getObjGen()];
        if (!slot) slot = readEncoding(font);
        return *slot;
    }
    // A direct font (a standard one named in the appearance): by what it says.
    auto& slot = directEncodings[font.isDictionary() ? font.unparse() : std::string()];
    if (!slot) slot = readEncoding(font);
    return *slot;
}

Drawing::Drawing(QPDF& pdf) : impl_(std::make_unique<Impl>(pdf)) {}
Drawing::~Drawing() = default;

void Drawing::treeChanged() {
    impl_->appearanceUses.reset();
}

void Drawing::finish() {
    impl_->fonts.write();
}

bool refreshText(QPDF& pdf, QPDFObjectHandle widget, Drawing& drawing) {
    QPDFFormFieldObjectHelper field(widget);
    auto& impl = *drawing.impl_;
    for (bool fresh : {false, true}) {
        try {
            if (isListBox(field) ? refreshListBox(pdf, widget, impl, fresh)
                                 : refreshTextField(pdf, widget, impl, fresh))
                return true;
        } catch (const std::exception&) {
            // A damaged appearance stream or resource: drawn again from nothing.
        }
    }
    // Nothing to draw into (no rectangle): the appearance stays as it was and the viewer is
    // asked to draw the field.
    auto acroForm = pdf.getRoot().getKey("/AcroForm");
    if (acroForm.isDictionary()) acroForm.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));
    return false;
}

bool refreshText(QPDF& pdf, QPDFObjectHandle widget) {
    Drawing drawing(pdf);
    bool drawn = refreshText(pdf, widget, drawing);
    drawing.finish();
    return drawn;
}

std::vector<std::string> onStates(QPDFObjectHandle widget) {
    std::vector<std::string> states;
    auto ap = widget.getKey("/AP");
    if (!ap.isDictionary()) return states;
    for (const char* which : {"/N", "/D"}) {
        auto dict = ap.getKey(which);
        if (!dict.isDictionary()) continue;
        for (const auto& key : dict.getKeys()) {
            std::string name = key.substr(1);
            if (name != "Off" && std::find(states.begin(), states.end(), name) == states.end()) states.push_back(name);
        }
    }
    return states;
}

void showState(QPDFObjectHandle widget, const std::string& state) {
    auto normal = widget.getKey("/AP").isDictionary() ? widget.getKey("/AP").getKey("/N") : QPDFObjectHandle::newNull();
    bool has = normal.isDictionary() && normal.hasKey("/" + state);
    widget.replaceKey("/AS", QPDFObjectHandle::newName(has ? "/" + state : "/Off"));
}

}  // namespace quill::pdf::appearance
