// A widget's normal appearance stream: base, value section, installation.
#include "AppearanceStream.h"

#include "EmbeddedFonts.h"

#include <qpdf/Pl_QPDFTokenizer.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cmath>
#include <map>

namespace quill::pdf::appearance {

namespace {

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

// The widget's normal appearance stream when it may be redrawn in place: indirect, and named by
// no other appearance entry of the form (writers that share identical streams exist). Redrawing in
// place spares qpdf numbering a new object, for which it reads every object of the file first (and
// a signed file's update, or the page text after an edit, then compares every one of them); the
// update carries just the one stream.
QPDFObjectHandle reusableNormal(QPDFObjectHandle widget, const std::function<int(QPDFObjGen)>& uses) {
    auto ap = widget.getKey("/AP");
    auto normal = ap.isDictionary() ? ap.getKey("/N") : QPDFObjectHandle::newNull();
    if (!normal.isStream() || !normal.isIndirect()) return QPDFObjectHandle::newNull();
    return uses(normal.getObjGen()) == 1 ? normal : QPDFObjectHandle::newNull();
}

bool isFallbackName(const std::string& name) {
    return name.rfind(fonts::EmbeddedFonts::resourceName(0).substr(0, 5), 0) == 0;  // "/QmFb"
}

}  // namespace

std::string replaceValueSection(const std::string& content, const std::string& drawing) {
    std::string out;
    ValueSection section(drawing);
    Pl_String sink("appearance", nullptr, out);
    Pl_QPDFTokenizer tokenizer("appearance", &section, &sink);
    tokenizer.writeString(content);
    tokenizer.finish();
    return out;
}

double borderInset(QPDFObjectHandle widget) {
    // A border is drawn only in the colour /MK gives it; without one the box is all room.
    auto mk = widget.getKey("/MK");
    if (!mk.isDictionary() || colour(mk.getKey("/BC"), true).empty()) return 0;
    auto bs = widget.getKey("/BS");
    bool doubled = bs.isDictionary() && bs.getKey("/S").isName() &&
                   (bs.getKey("/S").getName() == "/B" || bs.getKey("/S").getName() == "/I");
    return doubled ? 2 * borderWidth(widget) : borderWidth(widget);
}

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

void install(QPDF& pdf, QPDFObjectHandle widget, const Base& base, const std::string& content, const FieldFont& font,
             const std::set<int>& faces, fonts::EmbeddedFonts& embedded, const std::function<int(QPDFObjGen)>& uses) {
    auto fresh = reusableNormal(widget, uses);
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
    if (font.dict.isDictionary()) needed[font.name] = font.dict;
    for (int face : faces) needed.emplace(fonts::EmbeddedFonts::resourceName(face), embedded.font(face));
    auto resources = base.dict.getKey("/Resources");
    bool missing = false;
    for (auto& [name, dict] : needed)
        if (fontIn(resources, name).isNull() || (isFallbackName(name) && !fontIn(resources, name).isSameObjectAs(dict)))
            missing = true;
    if (missing) {
        // A copy: the resources may be shared with other appearances or the form.
        resources = resources.isDictionary() ? resources.shallowCopy() : QPDFObjectHandle::newDictionary();
        auto fontDict = resources.getKey("/Font");
        fontDict = fontDict.isDictionary() ? fontDict.shallowCopy() : QPDFObjectHandle::newDictionary();
        for (auto& [name, dict] : needed)
            if (fontIn(resources, name).isNull() || isFallbackName(name)) fontDict.replaceKey(name, dict);
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

}  // namespace quill::pdf::appearance
