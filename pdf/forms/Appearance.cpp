// Widget appearances after a field's value changed: text drawn fresh, button states switched.
// The entry points; the drawing itself is done by the units beside this one.
#include "Appearance.h"

#include "AppearanceStream.h"
#include "EmbeddedFonts.h"
#include "FieldFont.h"
#include "FieldTree.h"
#include "quill/pdf/Forms.h"
#include "ValueText.h"

#include <qpdf/QPDFFormFieldObjectHelper.hh>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace quill::pdf::appearance {

struct Drawing::Impl {
    Impl(QPDF& pdf, WarningList* warnings) : pdf(pdf), warnings(warnings), fonts(pdf) {}
    QPDF& pdf;
    WarningList* warnings;  // the document's, or null for the process's; outlives the drawing
    fonts::EmbeddedFonts fonts;
    FieldFonts fieldFonts;
    // How many appearance entries of the form's widgets name each indirect stream; counted with
    // the field tree's read (countUses), else on the first redraw that may reuse a stream in
    // place; again after the field tree changed.
    std::optional<std::map<QPDFObjGen, int>> appearanceUses;
    int usesOf(QPDFObjGen og);
};

namespace {

constexpr int kComboFlag = 1 << 17;

bool isListBox(QPDFFormFieldObjectHelper& field) {
    return field.isChoice() && (field.getFlags() & kComboFlag) == 0;
}

std::function<int(QPDFObjGen)> usesIn(Drawing::Impl& drawing) {
    return [&drawing](QPDFObjGen og) { return drawing.usesOf(og); };
}

// A text field or combo box: its value drawn into the value section of its normal
// appearance, the rest of that appearance (background, border, colours) kept.
bool refreshTextField(QPDF& pdf, QPDFObjectHandle widget, Drawing::Impl& drawing, bool fresh) {
    QPDFFormFieldObjectHelper field(widget);
    auto base = baseAppearance(widget, fresh, "/Tx BMC\nEMC\n");
    if (!base) return false;
    TextPlan plan;
    planText(field, base->dict.getKey("/Resources"), plan, drawing.fieldFonts, drawing.fonts, drawing.warnings);
    auto drawn = draw(plan, boxOf(*base), borderInset(widget));
    install(pdf, widget, *base, replaceValueSection(base->content, drawn.operators), plan.font, drawn.faces,
            drawing.fonts, usesIn(drawing));
    return true;
}

// A list box: its options one a row from its top index, the chosen ones highlighted as Acrobat
// highlights them, drawn with embedded fonts where its own cannot show them.
bool refreshListBox(QPDF& pdf, QPDFObjectHandle widget, Drawing::Impl& drawing, bool fresh) {
    QPDFFormFieldObjectHelper field(widget);
    auto base = baseAppearance(widget, fresh, "/Tx BMC\nEMC\n");
    if (!base) return false;
    FieldFont font;
    auto drawn = drawOptions(field, base->dict.getKey("/Resources"), boxOf(*base), borderInset(widget),
                             drawing.fieldFonts, drawing.fonts, font);
    install(pdf, widget, *base, replaceValueSection(base->content, drawn.operators), font, drawn.faces, drawing.fonts,
            usesIn(drawing));
    return true;
}

}  // namespace

namespace {

// Adds the indirect streams an appearance entry (/N, /D or /R) names: the entry itself, or the
// states of a dictionary of them.
void countEntry(std::map<QPDFObjGen, int>& uses, QPDFObjectHandle entry) {
    if (entry.isIndirect()) ++uses[entry.getObjGen()];
    if (entry.isDictionary() && !entry.isStream())
        for (auto& [state, stream] : entry.ditems())
            if (stream.isIndirect()) ++uses[stream.getObjGen()];
}

void countNode(std::map<QPDFObjGen, int>& uses, QPDFObjectHandle node) {
    auto ap = node.getKey("/AP");
    if (ap.isDictionary())
        for (const char* key : {"/N", "/D", "/R"}) countEntry(uses, ap.getKey(key));
}

}  // namespace

int Drawing::Impl::usesOf(QPDFObjGen og) {
    if (!appearanceUses) {
        appearanceUses.emplace();
        walkFieldTree(pdf, 0, [&](QPDFObjectHandle node, int) {
            countNode(*appearanceUses, node);
            return 0;
        });
    }
    auto it = appearanceUses->find(og);
    return it == appearanceUses->end() ? 0 : it->second;
}

Drawing::Drawing(QPDF& pdf, WarningList* warnings) : impl_(std::make_unique<Impl>(pdf, warnings)) {}
Drawing::~Drawing() = default;

void Drawing::treeChanged() {
    impl_->appearanceUses.reset();
}

void Drawing::countUses(QPDFObjectHandle node) {
    if (!impl_->appearanceUses) impl_->appearanceUses.emplace();
    countNode(*impl_->appearanceUses, node);
}

std::vector<QPDFObjectHandle> Drawing::finish() {
    return impl_->fonts.write();
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

namespace {

// The font names an appearance stream's text operators (Tf) take, in order; none when the
// stream cannot be read.
std::optional<std::vector<std::string>> textFonts(QPDFObjectHandle stream) {
    struct Fonts : QPDFObjectHandle::ParserCallbacks {
        std::vector<std::string> names;
        QPDFObjectHandle last;
        void handleObject(QPDFObjectHandle obj) override {
            if (obj.isOperator() && obj.getOperatorValue() == "Tf" && last.isName()) names.push_back(last.getName());
            if (obj.isName()) last = obj;
        }
        void handleEOF() override {}
    } fonts;
    try {
        QPDFObjectHandle::parseContentStream(stream, &fonts);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return std::move(fonts.names);
}

// textFonts for the small on-appearances of buttons, remembered by the stream's stored bytes and
// their filters: every record of a merge opens the same form, whose check boxes and radio
// buttons would otherwise be parsed again on every set.
std::optional<std::vector<std::string>> rememberedTextFonts(QPDFObjectHandle stream) {
    constexpr std::size_t kMaxBytes = 16 * 1024;
    constexpr std::size_t kMaxEntries = 1024;
    static std::mutex lock;
    static std::map<std::string, std::optional<std::vector<std::string>>> known;
    std::string key;
    try {
        auto dict = stream.getDict();
        auto raw = stream.getRawStreamData();
        if (raw->getSize() > kMaxBytes) return textFonts(stream);
        key = dict.getKey("/Filter").unparseResolved() + '\n' + dict.getKey("/DecodeParms").unparseResolved() + '\n';
        key.append(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
    } catch (const std::exception&) {
        return std::nullopt;
    }
    {
        std::lock_guard<std::mutex> held(lock);
        auto found = known.find(key);
        if (found != known.end()) return found->second;
    }
    // A stream read with warnings is not remembered: every document reading it hears them.
    QPDF* pdf = stream.getOwningQPDF();
    const std::size_t warningsBefore = pdf ? pdf->numWarnings() : 0;
    auto names = textFonts(stream);
    if (!pdf || pdf->numWarnings() != warningsBefore) return names;
    std::lock_guard<std::mutex> held(lock);
    if (known.size() >= kMaxEntries) known.clear();
    known.emplace(std::move(key), names);
    return names;
}

// Whether every font an appearance stream's text names is in its resources; a stream that
// cannot be read counts as not drawable.
bool fontsPresent(QPDFObjectHandle stream) {
    auto names = rememberedTextFonts(stream);
    if (!names) return false;
    auto resources = stream.getDict().getKey("/Resources");
    return std::all_of(names->begin(), names->end(),
                       [&](const std::string& name) { return !fontIn(resources, name).isNull(); });
}

// Advance widths of the ZapfDingbats marks /MK /CA names most (check, circle, cross, square,
// diamond, star); others are taken as this wide.
double dingbatWidth(char c) {
    switch (c) {
        case '4':
            return 846;
        case 'l':
            return 791;
        case '8':
            return 733;
        case 'n':
            return 762;
        case 'u':
            return 759;
        case 'H':
            return 816;
        default:
            return 800;
    }
}

// A button's on appearance drawn anew: its /MK /CA mark (a check for a check box, a dot for a
// radio button when it names none) in ZapfDingbats, centred, in the colour of its /DA.
QPDFObjectHandle drawnMark(QPDF& pdf, QPDFObjectHandle widget, QPDFObjectHandle old) {
    QPDFFormFieldObjectHelper field(widget);
    auto mk = widget.getKey("/MK");
    std::string mark = mk.isDictionary() && mk.getKey("/CA").isString() ? mk.getKey("/CA").getStringValue() : "";
    if (mark.empty()) mark = field.isRadioButton() ? "l" : "4";
    mark = mark.substr(0, 1);
    QPDFObjectHandle::Rectangle box(0, 0, 0, 0);
    if (old.isStream() && old.getDict().getKey("/BBox").isRectangle()) {
        box = old.getDict().getKey("/BBox").getArrayAsRectangle();
    } else if (widget.getKey("/Rect").isRectangle()) {
        auto r = widget.getKey("/Rect").getArrayAsRectangle();
        box = QPDFObjectHandle::Rectangle(0, 0, std::fabs(r.urx - r.llx), std::fabs(r.ury - r.lly));
    }
    double w = box.urx - box.llx, h = box.ury - box.lly;
    DefaultAppearance da(field.getDefaultAppearance());
    double width = dingbatWidth(mark[0]) / 1000;
    double size = da.size > 0 ? da.size : 0.8 * std::min(h, width > 0 ? w / width : w);
    double x = box.llx + (w - width * size) / 2, y = box.lly + (h - 0.7 * size) / 2;
    std::string content = "q BT " + da.withoutFont() + " /ZaDi " + number(size) + " Tf " + number(x) + " " + number(y) +
                          " Td " + QPDFObjectHandle::newString(mark).unparse() + " Tj ET Q\n";
    auto stream = QPDFObjectHandle::newStream(&pdf, content);
    auto dict = stream.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    dict.replaceKey("/BBox", QPDFObjectHandle::newFromRectangle(box));
    if (old.isStream() && old.getDict().getKey("/Matrix").isArray())
        dict.replaceKey("/Matrix", old.getDict().getKey("/Matrix"));
    dict.replaceKey("/Resources", QPDFObjectHandle::parse("<< /Font << /ZaDi << /Type /Font /Subtype /Type1 /BaseFont "
                                                          "/ZapfDingbats >> >> /ProcSet [ /PDF /Text ] >>"));
    return stream;
}

}  // namespace

void showState(QPDFObjectHandle widget, const std::string& state) {
    auto normal = widget.getKey("/AP").isDictionary() ? widget.getKey("/AP").getKey("/N") : QPDFObjectHandle::newNull();
    bool has = normal.isDictionary() && normal.hasKey("/" + state);
    widget.replaceKey("/AS", QPDFObjectHandle::newName(has ? "/" + state : "/Off"));
    // An on appearance whose text names a font its resources lack shows nothing in one viewer
    // and a stray letter in another: the mark is drawn anew.
    if (!has || state == "Off") return;
    auto on = normal.getKey("/" + state);
    QPDF* pdf = widget.getOwningQPDF();
    if (!pdf || (on.isStream() && fontsPresent(on))) return;
    normal.replaceKey("/" + state, drawnMark(*pdf, widget, on));
}

}  // namespace quill::pdf::appearance
