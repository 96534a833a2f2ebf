// Widget appearances after a field's value changed: text drawn fresh, button states switched.
#include "Appearance.h"

#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pl_QPDFTokenizer.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFFormFieldObjectHelper.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

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

void leaveToViewer(QPDF& pdf, QPDFObjectHandle widget) {
    if (widget.hasKey("/AP")) widget.removeKey("/AP");
    auto acroForm = pdf.getRoot().getKey("/AcroForm");
    if (acroForm.isDictionary()) acroForm.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));
}

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
};

QPDFObjectHandle fontIn(QPDFObjectHandle resources, const std::string& name) {
    if (!resources.isDictionary()) return QPDFObjectHandle::newNull();
    auto fonts = resources.getKey("/Font");
    if (!fonts.isDictionary() || !fonts.hasKey(name)) return QPDFObjectHandle::newNull();
    return fonts.getKey(name);
}

// Turns `utf8` into the single-byte codes the appearance shows it with in `font`. False
// when a character has no code there, or when the code would not show that character's
// glyph in that font.
bool encodeFor(QPDFObjectHandle font, const std::string& utf8, std::string& codes) {
    std::string encoding =
        font.isDictionary() && font.getKey("/Encoding").isName() ? font.getKey("/Encoding").getName() : std::string();
    bool ok = encoding == "/WinAnsiEncoding"    ? QUtil::utf8_to_win_ansi(utf8, codes, '?')
              : encoding == "/MacRomanEncoding" ? QUtil::utf8_to_mac_roman(utf8, codes, '?')
                                                : QUtil::utf8_to_ascii(utf8, codes, '?');
    if (!ok) return false;
    if (!font.isDictionary()) return true;  // no font at all: the viewer's default shows ASCII
    if (font.getKey("/Subtype").isName() && font.getKey("/Subtype").getName() == "/Type0") return false;
    auto base = font.getKey("/BaseFont").isName() ? font.getKey("/BaseFont").getName() : std::string();
    if (base.find("Symbol") != std::string::npos || base.find("Dingbats") != std::string::npos) return false;

    std::set<int> remapped;
    auto enc = font.getKey("/Encoding");
    if (enc.isDictionary() && enc.getKey("/Differences").isArray()) {
        int code = 0;
        for (auto& item : enc.getKey("/Differences").aitems()) {
            if (item.isInteger())
                code = item.getIntValueAsInt();
            else if (item.isName())
                remapped.insert(code++);
        }
    }
    if (encoding.empty() && !enc.isDictionary()) {
        // The font's own (standard) encoding has curly quotes where ASCII has straight ones.
        remapped.insert('\'');
        remapped.insert('`');
    }
    auto descriptor = font.getKey("/FontDescriptor");
    bool embedded = descriptor.isDictionary() && (descriptor.hasKey("/FontFile") || descriptor.hasKey("/FontFile2") ||
                                                  descriptor.hasKey("/FontFile3"));
    if (embedded && encoding.empty() && !enc.isDictionary()) return false;  // a built-in encoding we cannot read
    auto widths = font.getKey("/Widths");
    int first = font.getKey("/FirstChar").isInteger() ? font.getKey("/FirstChar").getIntValueAsInt() : 0;
    if (embedded && !widths.isArray()) return false;
    for (char c : codes) {
        int code = static_cast<unsigned char>(c);
        if (remapped.count(code)) return false;
        // An embedded font, often a subset, has a glyph only where it gives a width.
        if (embedded) {
            int at = code - first;
            if (at < 0 || at >= widths.getArrayNItems()) return false;
            auto w = widths.getArrayItem(at);
            if (!w.isNumber() || w.getNumericValue() <= 0) return false;
        }
    }
    return true;
}

bool printable(const std::string& text, bool lineBreaks) {
    return std::all_of(text.begin(), text.end(), [&](char c) {
        auto u = static_cast<unsigned char>(c);
        if (lineBreaks && (u == '\r' || u == '\n')) return true;
        return u >= 0x20 && u != 0x7F;
    });
}

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

// Breaks `codes` at line breaks (CR, LF, CR LF) and wraps each paragraph to `width`: at the
// last space that fits, else (one word wider than the line) between characters.
std::vector<std::string> wrap(const std::string& codes, const Metrics& metrics, double size, double width) {
    std::vector<std::string> paragraphs{std::string()};
    for (std::size_t k = 0; k < codes.size(); ++k) {
        char c = codes[k];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && k + 1 < codes.size() && codes[k + 1] == '\n') ++k;
            paragraphs.emplace_back();
        } else {
            paragraphs.back() += c;
        }
    }
    std::vector<std::string> lines;
    for (const auto& text : paragraphs) {
        std::size_t start = 0;
        if (text.empty()) lines.emplace_back();
        while (start < text.size()) {
            double used = 0;
            std::size_t end = start, lastSpace = std::string::npos;
            while (end < text.size()) {
                double w = metrics.width(static_cast<unsigned char>(text[end])) * size / 1000;
                if (text[end] == ' ')
                    lastSpace = end;
                else if (used + w > width && end > start)
                    break;
                used += w;
                ++end;
            }
            if (end == text.size()) {
                lines.push_back(text.substr(start));
                break;
            }
            std::size_t cut = lastSpace != std::string::npos && lastSpace > start ? lastSpace : end;
            std::string line = text.substr(start, cut - start);
            while (!line.empty() && line.back() == ' ') line.pop_back();
            lines.push_back(line);
            start = cut;
            while (start < text.size() && text[start] == ' ') ++start;
        }
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
    std::string codes;  // single-byte codes; line breaks only in a multi-line field
    QPDFObjectHandle font;
    std::string fontName;
    DefaultAppearance da{""};
    int quadding = 0;
    bool multiline = false;
    int comb = 0;  // cells of a comb field, else 0
};

// The drawing that goes between /Tx BMC and EMC.
std::string draw(const TextPlan& plan, const Box& box, double border) {
    Metrics metrics(plan.font);
    double pad = border + 1;
    double innerWidth = std::max(0.0, box.width() - 2 * pad);
    double innerHeight = std::max(0.0, box.height() - 2 * pad);
    double lineHeight = metrics.ascent() - metrics.descent();
    bool autoSize = plan.da.size <= 0;
    double size = autoSize ? kAutoMax : plan.da.size;

    struct Run {
        std::string codes;
        double x, y;
    };
    std::vector<Run> runs;
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
        std::vector<std::string> lines;
        for (;;) {
            lines = wrap(plan.codes, metrics, size, innerWidth);
            double needed = (metrics.ascent() - metrics.descent()) * size + (lines.size() - 1) * kLeading * size;
            if (!autoSize || needed <= innerHeight || size <= kAutoMin) break;
            size = std::max(kAutoMin, size - 0.5);
        }
        double y = box.ury - pad - metrics.ascent() * size;
        for (auto& line : lines) {
            runs.push_back({line, alignedX(metrics.width(line, size)), y});
            y -= kLeading * size;
        }
    } else if (plan.comb > 0) {
        double cell = box.width() / plan.comb;
        if (autoSize) {
            double widest = 0;
            for (char c : plan.codes) widest = std::max(widest, metrics.width(static_cast<unsigned char>(c)));
            size = std::min(size, innerHeight / lineHeight);
            if (widest > 0) size = std::min(size, cell * 1000 / widest);
            size = std::max(size, kAutoMin);
        }
        double y = singleLineY(size);
        for (std::size_t k = 0; k < plan.codes.size() && k < static_cast<std::size_t>(plan.comb); ++k) {
            std::string one(1, plan.codes[k]);
            double x = box.llx + cell * static_cast<double>(k) + (cell - metrics.width(one, size)) / 2;
            runs.push_back({one, x, y});
        }
    } else {
        if (autoSize) {
            size = std::min(size, innerHeight / lineHeight);
            double at1 = metrics.width(plan.codes, 1);
            if (at1 > 0) size = std::min(size, innerWidth / at1);
            size = std::max(size, kAutoMin);
        }
        runs.push_back({plan.codes, alignedX(metrics.width(plan.codes, size)), singleLineY(size)});
    }

    std::string out = "q\n";
    out += number(box.llx + border) + " " + number(box.lly + border) + " " + number(box.width() - 2 * border) + " " +
           number(box.height() - 2 * border) + " re W n\n";
    out += "BT\n" + plan.da.withSize(size) + "\n";
    double x = 0, y = 0;
    for (auto& run : runs) {
        if (run.codes.empty()) continue;
        out += number(run.x - x) + " " + number(run.y - y) + " Td\n";
        out += QPDFObjectHandle::newString(run.codes).unparse() + " Tj\n";
        x = run.x;
        y = run.y;
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

// Fills `plan` for a text field or combo box; false when the font cannot show its value.
bool planText(QPDFFormFieldObjectHelper& field, QPDFObjectHandle resources, TextPlan& plan) {
    int flags = field.getFlags();
    plan.da = DefaultAppearance(field.getDefaultAppearance());
    plan.fontName = plan.da.font;
    if (plan.da.sizeAt < 0) return false;  // no font set: nothing a Tj could draw with
    plan.font = fontIn(resources, plan.fontName);
    if (plan.font.isNull()) plan.font = fontIn(field.getDefaultResources(), plan.fontName);
    if (plan.font.isNull()) plan.font = standardFont(plan.fontName);
    // A font that is nowhere: a viewer would draw nothing at all, so it draws the field itself.
    if (plan.font.isNull()) return false;
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
            // A password shows as one asterisk a character.
            std::size_t count = 0;
            for (char c : value)
                if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
            value.assign(count, '*');
        }
        auto maxLen = field.getInheritableFieldValue("/MaxLen");
        if ((flags & kCombFlag) && !(flags & (kMultilineFlag | kPasswordFlag | kFileSelectFlag)) &&
            maxLen.isInteger() && maxLen.getIntValueAsInt() > 0)
            plan.comb = maxLen.getIntValueAsInt();
    }
    if (!printable(value, plan.multiline)) return false;
    // Line by line: a line break is no glyph of the font.
    std::size_t start = 0;
    for (;;) {
        std::size_t end = value.find_first_of("\r\n", start);
        std::string codes;
        if (!encodeFor(plan.font, value.substr(start, end == std::string::npos ? end : end - start), codes))
            return false;
        plan.codes += codes;
        if (end == std::string::npos) break;
        plan.codes += value[end];
        start = end + 1;
    }
    return true;
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

// True when `stream` is an indirect stream that no appearance but `widget`'s normal one uses
// (writers that share identical streams between fields exist). Looks at every field's widgets.
bool appearanceOwnedBy(QPDF& pdf, QPDFObjectHandle widget, QPDFObjectHandle stream) {
    if (!stream.isIndirect()) return false;
    const QPDFObjGen og = stream.getObjGen();
    auto uses = [&](QPDFObjectHandle node, bool skipOwnNormal) {
        auto ap = node.getKey("/AP");
        if (!ap.isDictionary()) return false;
        for (const char* key : {"/N", "/D", "/R"}) {
            if (skipOwnNormal && std::string(key) == "/N") continue;
            auto entry = ap.getKey(key);
            if (entry.isIndirect() && entry.getObjGen() == og) return true;
            if (entry.isDictionary() && !entry.isStream())
                for (auto& [state, s] : entry.getDictAsMap())
                    if (s.isIndirect() && s.getObjGen() == og) return true;
        }
        return false;
    };
    if (uses(widget, true)) return false;
    auto acroForm = pdf.getRoot().getKey("/AcroForm");
    auto fields = acroForm.isDictionary() ? acroForm.getKey("/Fields") : QPDFObjectHandle::newNull();
    if (!fields.isArray()) return false;
    std::vector<QPDFObjectHandle> todo = fields.getArrayAsVector();
    std::set<QPDFObjGen> seen;
    while (!todo.empty()) {
        auto node = todo.back();
        todo.pop_back();
        if (!node.isDictionary() || (node.isIndirect() && !seen.insert(node.getObjGen()).second)) continue;
        if (!(node.isIndirect() && widget.isIndirect() && node.getObjGen() == widget.getObjGen()) && uses(node, false))
            return false;
        auto kids = node.getKey("/Kids");
        if (kids.isArray())
            for (auto& kid : kids.aitems()) todo.push_back(kid);
    }
    return true;
}

// Redrawing in place costs a walk of the field tree per field set (appearanceOwnedBy); a new
// stream costs qpdf a read of every object of the file, once per document. In place pays only
// in files with many objects.
constexpr long long kInPlaceMinObjects = 1024;

bool worthRedrawingInPlace(QPDF& pdf) {
    auto size = pdf.getTrailer().getKey("/Size");
    return size.isInteger() && size.getIntValue() >= kInPlaceMinObjects;
}

// A text field or combo box: its value drawn into the value section of its normal
// appearance, the rest of that appearance (background, border) kept.
bool refreshTextField(QPDF& pdf, QPDFObjectHandle widget) {
    QPDFFormFieldObjectHelper field(widget);
    auto ap = widget.getKey("/AP");
    auto normal = ap.isDictionary() ? ap.getKey("/N") : QPDFObjectHandle::newNull();
    std::string content;
    QPDFObjectHandle dict;
    if (normal.isStream() && normal.getDict().getKey("/BBox").isRectangle()) {
        auto data = normal.getStreamData(qpdf_dl_all);
        content.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        dict = normal.getDict();
    } else {
        auto rect = widget.getKey("/Rect");
        if (!rect.isRectangle()) return false;
        auto r = rect.getArrayAsRectangle();
        double w = std::fabs(r.urx - r.llx), h = std::fabs(r.ury - r.lly);
        dict = QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Form /Resources << /ProcSet [ /PDF /Text ] >> >>");
        // A widget turned by /MK /R draws upright in its own turned space.
        auto mk = widget.getKey("/MK");
        int turn = mk.isDictionary() && mk.getKey("/R").isInteger()
                       ? ((mk.getKey("/R").getIntValueAsInt() % 360) + 360) % 360
                       : 0;
        if (turn == 90 || turn == 270) std::swap(w, h);
        if (turn == 90) dict.replaceKey("/Matrix", QPDFObjectHandle::parse("[0 1 -1 0 0 0]"));
        if (turn == 180) dict.replaceKey("/Matrix", QPDFObjectHandle::parse("[-1 0 0 -1 0 0]"));
        if (turn == 270) dict.replaceKey("/Matrix", QPDFObjectHandle::parse("[0 -1 1 0 0 0]"));
        dict.replaceKey("/BBox", QPDFObjectHandle::newFromRectangle(QPDFObjectHandle::Rectangle(0, 0, w, h)));
        content = frame(widget, Box{0, 0, w, h}) + "/Tx BMC\nEMC\n";
    }
    TextPlan plan;
    if (!planText(field, dict.getKey("/Resources"), plan)) return false;

    auto b = dict.getKey("/BBox").getArrayAsRectangle();
    Box box{std::min(b.llx, b.urx), std::min(b.lly, b.ury), std::max(b.llx, b.urx), std::max(b.lly, b.ury)};
    const std::string drawn = replaceValueSection(content, draw(plan, box, borderInset(widget)));
    QPDFObjectHandle fresh;
    if (normal.isStream() && worthRedrawingInPlace(pdf) && appearanceOwnedBy(pdf, widget, normal)) {
        // Redrawn in place: no new object (qpdf reads the whole file before it numbers one), and an
        // update of a signed file carries just this stream.
        normal.replaceStreamData(drawn, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
        fresh = normal;
    } else {
        fresh = QPDFObjectHandle::newStream(&pdf, drawn);
        for (const auto& key : dict.getKeys()) {
            if (key == "/Length" || key == "/Filter" || key == "/DecodeParms") continue;
            fresh.getDict().replaceKey(key, dict.getKey(key));
        }
    }
    // The font the value is drawn in goes into the appearance's own resources.
    if (plan.font.isDictionary() && fontIn(dict.getKey("/Resources"), plan.fontName).isNull()) {
        auto resources = dict.getKey("/Resources");
        resources = resources.isDictionary() ? resources.shallowCopy() : QPDFObjectHandle::newDictionary();
        auto fonts = resources.getKey("/Font");
        fonts = fonts.isDictionary() ? fonts.shallowCopy() : QPDFObjectHandle::newDictionary();
        fonts.replaceKey(plan.fontName, plan.font);
        resources.replaceKey("/Font", fonts);
        fresh.getDict().replaceKey("/Resources", resources);
    }
    if (!ap.isDictionary()) {
        widget.replaceKey("/AP", QPDFObjectHandle::newDictionary());
        ap = widget.getKey("/AP");
    }
    ap.replaceKey("/N", fresh);
    return true;
}

// A list box lists its options, the chosen one highlighted, as qpdf's writer draws them.
bool refreshListBox(QPDF& pdf, QPDFObjectHandle widget) {
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
    std::string codes;
    for (auto& text : texts)
        if (!printable(text, false) || !encodeFor(font, text, codes)) return false;

    QPDFAnnotationObjectHelper annotation(widget);
    field.generateAppearance(annotation);
    // The stock writer only queues a filter on the stream, applied at every save; a field
    // set a hundred times would stack a hundred filters. Draw it now into a fresh stream.
    normal = widget.getKey("/AP").getKey("/N");
    if (normal.isStream()) {
        auto data = normal.getStreamData(qpdf_dl_all);
        auto fresh = QPDFObjectHandle::newStream(&pdf, data);
        auto dict = normal.getDict();
        for (const auto& key : dict.getKeys()) {
            if (key == "/Length" || key == "/Filter" || key == "/DecodeParms") continue;
            fresh.getDict().replaceKey(key, dict.getKey(key));
        }
        widget.getKey("/AP").replaceKey("/N", fresh);
    }
    return true;
}

}  // namespace

bool refreshText(QPDF& pdf, QPDFObjectHandle widget) {
    QPDFFormFieldObjectHelper field(widget);
    bool drawn = false;
    try {
        drawn = isListBox(field) ? refreshListBox(pdf, widget) : refreshTextField(pdf, widget);
    } catch (const std::exception&) {
        // A damaged appearance stream or resource: better no appearance than a stale one.
        drawn = false;
    }
    if (!drawn) leaveToViewer(pdf, widget);
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
