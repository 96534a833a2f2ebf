// Form fields of a PDF: the field tree in walk order, values, setting and resetting them.
#include "quill/pdf/Forms.h"

#include "quill/pdf/Signatures.h"

#include "Appearance.h"
#include "quill/pdf/Error.h"
#include "FieldTree.h"

#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cctype>
#include <set>

#include "quill/pdf/Document.h"

namespace quill::pdf {

namespace {

// A value the field cannot take. Not the general bad-parameter code: that one's message is a
// fixed text, and the user has to see which states the field has.
constexpr int kSysPDModel = 5;
constexpr int32_t kValueRefused = errCode(err::kSevAlways, kSysPDModel, 3);

constexpr int kPushButtonFlag = 1 << 16;
constexpr int kRadioFlag = 1 << 15;

std::string nameOf(QPDFObjectHandle h) {
    return h.isName() ? h.getName().substr(1) : std::string();
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// The "#xx" escapes of a name as written in the file ("#d8#a7"), which users copy from it and
// qpdf keeps in the names it hands out.
std::string unescapeName(const std::string& s) {
    std::string out;
    for (std::size_t k = 0; k < s.size(); ++k) {
        if (s[k] == '#' && k + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[k + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[k + 2]))) {
            out.push_back(static_cast<char>(std::stoi(s.substr(k + 1, 2), nullptr, 16)));
            k += 2;
        } else {
            out.push_back(s[k]);
        }
    }
    return out;
}

// A state name as its user reads it: names are bytes, written as UTF-8 by current software and in
// PDFDocEncoding by older software.
std::string stateText(const std::string& name) {
    std::string bytes = unescapeName(name);
    return quill::unicode::isUtf8(bytes) ? bytes : QUtil::pdf_doc_to_utf8(bytes);
}

// Characters of a text value as a viewer counts them against /MaxLen: code points.
std::size_t characters(const std::u16string& units) {
    std::size_t n = 0;
    for (char16_t u : units)
        if (!quill::unicode::isTrailSurrogate(u)) ++n;
    return n;
}

std::string listStates(const std::vector<std::string>& states) {
    std::string out;
    for (std::size_t k = 0; k < states.size(); ++k) {
        if (k > 0) out += (k + 1 == states.size()) ? " and " : ", ";
        out += stateText(states[k]);
    }
    return out;
}

}  // namespace

std::string nameBytes(const std::string& name) {
    return unescapeName(name);
}

FormFields::FormFields(QPDF& pdf, std::function<void()> changed, bool deferDrawing, WarningList* warnings)
    : pdf_(pdf),
      changed_(std::move(changed)),
      drawing_(std::make_unique<appearance::Drawing>(pdf, warnings)),
      deferDrawing_(deferDrawing) {
    reload();
}

FormFields::~FormFields() = default;

void FormFields::reload() {
    fields_.clear();
    kids_.clear();
    byName_.clear();
    signatures_.reset();
    drawing_->treeChanged();
    // Each node gets the index of its parent in the walk and hands its own to its kids.
    walkFieldTree(pdf_, -1, [&](QPDFObjectHandle node, int parent) {
        drawing_->countUses(node);
        FormField f;
        f.dict = node;
        f.parent = parent;
        f.ownKind = nameOf(node.getKey("/FT"));
        auto t = node.getKey("/T");
        f.named = t.isString();
        std::u16string partial = f.named ? pdfTextToUtf16(t.getStringValue()) : std::u16string();
        std::u16string base = parent >= 0 ? fields_[static_cast<std::size_t>(parent)].fullName : std::u16string();
        if (!f.named)
            f.fullName = base;
        else
            f.fullName = base.empty() ? partial : base + u"." + partial;
        f.fullNamePDText = utf16ToPdfText(f.fullName);
        f.fullNamePDText.append(2, '\0');
        auto index = static_cast<int>(fields_.size());
        fields_.push_back(std::move(f));
        kids_.emplace_back();
        if (parent >= 0) kids_[static_cast<std::size_t>(parent)].push_back(static_cast<std::size_t>(index));
        return index;
    });
    byName_.reserve(fields_.size());
    for (std::size_t i = 0; i < fields_.size(); ++i) byName_.emplace(fields_[i].fullName, static_cast<int>(i));
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i].terminal =
            std::none_of(kids_[i].begin(), kids_[i].end(), [&](std::size_t k) { return fields_[k].named; });
    }
}

int FormFields::find(const std::u16string& name) const {
    auto found = byName_.find(name);
    return found == byName_.end() ? -1 : found->second;
}

std::string FormFields::effectiveKind(std::size_t i) const {
    for (int k = static_cast<int>(i); k >= 0; k = fields_[static_cast<std::size_t>(k)].parent)
        if (!fields_[static_cast<std::size_t>(k)].ownKind.empty()) return fields_[static_cast<std::size_t>(k)].ownKind;
    return {};
}

int FormFields::ownerOf(std::size_t i) const {
    int k = static_cast<int>(i);
    while (!fields_[static_cast<std::size_t>(k)].named && fields_[static_cast<std::size_t>(k)].parent >= 0)
        k = fields_[static_cast<std::size_t>(k)].parent;
    return k;
}

int FormFields::valueHolder(std::size_t i) const {
    // Only a parent of the same name (this node has no /T) lends its value.
    for (int k = static_cast<int>(i); k >= 0; k = fields_[static_cast<std::size_t>(k)].parent) {
        const auto& f = fields_[static_cast<std::size_t>(k)];
        if (f.dict.hasKey("/V")) return k;
        if (f.named) break;
    }
    return -1;
}

QPDFObjectHandle FormFields::value(std::size_t i) const {
    int k = valueHolder(i);
    return k < 0 ? QPDFObjectHandle::newNull() : fields_[static_cast<std::size_t>(k)].dict.getKey("/V");
}

// The widgets that show the owner's value: leaves at or below the owner, except below a named
// field with a value of its own (a widget's own /V is a stale namesake value and does not count).
std::vector<std::size_t> FormFields::widgetsSharingValue(std::size_t owner) const {
    std::vector<std::size_t> out;
    std::function<void(std::size_t, bool)> visit = [&](std::size_t k, bool top) {
        auto dict = fields_[k].dict;
        if (!top && fields_[k].named && dict.hasKey("/V")) return;
        if (kids_[k].empty()) {
            out.push_back(k);
            return;
        }
        for (auto kid : kids_[k]) visit(kid, false);
    };
    visit(owner, true);
    return out;
}

std::vector<std::string> FormFields::buttonStates(std::size_t i) const {
    std::vector<std::string> states{"Off"};
    for (auto w : widgetsSharingValue(static_cast<std::size_t>(ownerOf(i))))
        for (auto& s : appearance::onStates(fields_[w].dict))
            if (std::find(states.begin(), states.end(), s) == states.end()) states.push_back(s);
    return states;
}

void FormFields::refreshAppearances(std::size_t owner) {
    std::string kind = effectiveKind(owner);
    for (auto w : widgetsSharingValue(owner)) {
        auto widget = fields_[w].dict;
        if (kind == "Btn") {
            appearance::showState(widget, nameOf(value(w)));
        } else if (kind == "Tx" || kind == "Ch") {
            if (!deferDrawing_) {
                appearance::refreshText(pdf_, widget, *drawing_);
            } else if (!widget.isIndirect()) {
                pending_.push_back(widget);
            } else if (pendingSet_.insert(widget.getObjGen()).second) {
                pending_.push_back(widget);
            }
        }
    }
    if (!deferDrawing_) drawing_->finish();
}

void FormFields::drawMissing() {
    bool drew = false;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (!kids_[i].empty()) continue;
        std::string kind = effectiveKind(i);
        if (kind != "Tx" && kind != "Ch") continue;
        auto ap = fields_[i].dict.getKey("/AP");
        if (ap.isDictionary() && ap.getKey("/N").isStream()) continue;
        appearance::refreshText(pdf_, fields_[i].dict, *drawing_);
        drew = true;
    }
    if (!drew) return;
    drawing_->finish();
    noteChange();
}

bool FormFields::drawEverything() {
    drawPending();
    if (!signatures_) signatures_ = signatureFacts(pdf_);
    bool all = true;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (!kids_[i].empty()) continue;
        std::string kind = effectiveKind(i);
        if (kind != "Tx" && kind != "Ch" && kind != "Btn") continue;
        try {
            checkFieldChange(*signatures_, fields_[static_cast<std::size_t>(ownerOf(i))].fullName);
        } catch (const Error&) {
            all = false;  // drawn as its signature saw it
            continue;
        }
        auto widget = fields_[i].dict;
        if (kind != "Btn") {
            all = appearance::refreshText(pdf_, widget, *drawing_) && all;
            continue;
        }
        auto ap = widget.getKey("/AP");
        if (!ap.isDictionary() || !ap.getKey("/N").isDictionary()) {
            // A push button shows its one appearance; other buttons need one per state.
            if (!(ap.isDictionary() && ap.getKey("/N").isStream())) all = false;
            continue;
        }
        // Only a state that moves is written (a signed file's update stays small).
        std::string state = nameOf(value(i));
        if (state.empty() || !ap.getKey("/N").hasKey("/" + state)) state = "Off";
        auto before = widget.getKey("/AS");
        if (!before.isName() || before.getName() != "/" + state) appearance::showState(widget, state);
    }
    drawing_->finish();
    noteChange();
    return all;
}

namespace {
QPDFObjectHandle normalAppearance(QPDFObjectHandle widget) {
    auto ap = widget.getKey("/AP");
    return ap.isDictionary() ? ap.getKey("/N") : QPDFObjectHandle::newNull();
}
}  // namespace

void FormFields::drawPending() {
    if (pending_.empty()) return;
    auto widgets = std::move(pending_);
    pending_.clear();
    pendingSet_.clear();
    // What changed is known when every widget's stream was drawn again in place: the widget, its
    // appearance dictionary and stream, and the objects of any font embedded for the values.
    bool known = static_cast<bool>(changedObjects_);
    std::vector<QPDFObjectHandle> touched;
    for (auto& widget : widgets) {
        auto before = known ? normalAppearance(widget) : QPDFObjectHandle::newNull();
        const bool drawn = appearance::refreshText(pdf_, widget, *drawing_);
        if (!known) continue;
        auto after = normalAppearance(widget);
        if (!drawn || !before.isStream() || !before.isIndirect() || !after.isIndirect() ||
            before.getObjGen() != after.getObjGen()) {
            known = false;
            continue;
        }
        touched.push_back(widget);
        if (auto ap = widget.getKey("/AP"); ap.isIndirect()) touched.push_back(ap);
        touched.push_back(after);
    }
    const auto fonts = drawing_->finish();
    touched.insert(touched.end(), fonts.begin(), fonts.end());
    if (known)
        noteChange(touched);
    else
        noteChange();
}

void FormFields::noteChange() {
    if (changed_) changed_();
}

void FormFields::noteChange(const std::vector<QPDFObjectHandle>& objects) {
    std::vector<ObjectId> ids;
    ids.reserve(objects.size());
    for (const auto& o : objects) {
        if (!o.isIndirect() || !changedObjects_) return noteChange();
        ids.push_back(ObjectId{o.getObjectID(), o.getGeneration()});
    }
    changedObjects_(ids);
}

void FormFields::setValue(std::size_t i, QPDFObjectHandle v) {
    if (i >= fields_.size()) throw Error(err::kBadParm, "The form field does not exist.");
    auto owner = static_cast<std::size_t>(ownerOf(i));
    // A field a signature locks, or any field of a no-changes certified document, stays as it is.
    if (!signatures_) signatures_ = signatureFacts(pdf_);  // one walk per version of the tree
    checkFieldChange(*signatures_, fields_[owner].fullName);
    std::string kind = effectiveKind(i);
    std::string name = utf16ToUtf8(fields_[owner].fullName);

    if (kind == "Btn" && !v.isNull()) {
        int flags = 0;
        for (int k = static_cast<int>(i); k >= 0; k = fields_[static_cast<std::size_t>(k)].parent) {
            auto ff = fields_[static_cast<std::size_t>(k)].dict.getKey("/Ff");
            if (ff.isInteger()) {
                flags = ff.getIntValueAsInt();
                break;
            }
        }
        if (flags & kPushButtonFlag) throw Error(kValueRefused, "The push button " + quoted(name) + " holds no value.");
        std::string wanted;
        if (v.isName())
            wanted = nameOf(v);
        else if (v.isString())
            wanted = utf16ToUtf8(pdfTextToUtf16(v.getStringValue()));
        else
            throw Error(kValueRefused, "The value for the button " + quoted(name) + " is not a state name.");
        auto states = buttonStates(i);
        std::string state;
        const std::string unescaped = unescapeName(wanted);
        for (auto& s : states) {
            // Matched by the decoded name ("男性"), its bytes as read before, or its #xx form.
            if (s == wanted || stateText(s) == wanted || QUtil::pdf_doc_to_utf8(unescapeName(s)) == wanted ||
                unescapeName(s) == unescaped) {
                state = s;
                break;
            }
        }
        if (state.empty()) {
            // An export value from /Opt picks the on-state of the widget at its position.
            auto opt = fields_[owner].dict.getKey("/Opt");
            auto widgets = widgetsSharingValue(owner);
            if (opt.isArray()) {
                for (int k = 0; k < opt.getArrayNItems() && static_cast<std::size_t>(k) < widgets.size(); ++k) {
                    auto o = opt.getArrayItem(k);
                    if (o.isString() && o.getUTF8Value() == wanted) {
                        auto on = appearance::onStates(fields_[widgets[static_cast<std::size_t>(k)]].dict);
                        if (!on.empty()) {
                            state = on.front();
                            break;
                        }
                    }
                }
            }
        }
        if (state.empty()) {
            std::string what = (flags & kRadioFlag) ? "radio button group " : "check box ";
            throw Error(kValueRefused, "The value " + quoted(wanted) + " is not a state of the " + what + quoted(name) +
                                           "; its states are " + listStates(states) + ".");
        }
        v = QPDFObjectHandle::newName("/" + state);
    } else if (!v.isNull() && !v.isString() && !(kind == "Ch" && v.isArray())) {
        throw Error(kValueRefused, "The value for the field " + quoted(name) + " is not text.");
    } else if (kind == "Tx" && v.isString()) {
        // A viewer stops typing at /MaxLen; a longer value would be stored whole and drawn cut.
        QPDFObjectHandle maxLen = QPDFObjectHandle::newNull();
        for (int k = static_cast<int>(i); k >= 0 && maxLen.isNull(); k = fields_[static_cast<std::size_t>(k)].parent)
            maxLen = fields_[static_cast<std::size_t>(k)].dict.getKey("/MaxLen");
        const std::size_t length = characters(pdfTextToUtf16(v.getStringValue()));
        if (maxLen.isInteger() && maxLen.getIntValue() >= 0 && length > static_cast<std::size_t>(maxLen.getIntValue()))
            throw Error(kValueRefused, "The value for the field " + quoted(name) + " has " + std::to_string(length) +
                                           " characters; the field takes at most " +
                                           std::to_string(maxLen.getIntValue()) + ".");
    }

    std::vector<QPDFObjectHandle> touched{fields_[owner].dict};
    if (v.isNull())
        fields_[owner].dict.removeKey("/V");
    else
        fields_[owner].dict.replaceKey("/V", v);
    // The selected-indices list of a list box would contradict the new value.
    if (kind == "Ch" && fields_[owner].dict.hasKey("/I")) fields_[owner].dict.removeKey("/I");
    // Stale values on widgets of the same name would hide the new one.
    std::function<void(std::size_t)> clearNamesakes = [&](std::size_t k) {
        for (auto kid : kids_[k]) {
            if (fields_[kid].named) continue;
            if (fields_[kid].dict.hasKey("/V")) {
                fields_[kid].dict.removeKey("/V");
                touched.push_back(fields_[kid].dict);
            }
            clearNamesakes(kid);
        }
    };
    clearNamesakes(owner);
    valuesSet_ = true;
    refreshAppearances(owner);
    // Text and choice widgets are drawn later (drawPending); until then only the values changed.
    const std::string shownAs = effectiveKind(owner);
    if (deferDrawing_ && (shownAs == "Tx" || shownAs == "Ch"))
        noteChange(touched);
    else
        noteChange();
}

// A terminal field goes back to its default (its own /DV or the one it inherits); without
// one a choice field takes its first option (the export value of an [export display] pair)
// and any other field loses its value (a check box or radio group without a value shows
// every widget off). Fields with
// named kids keep theirs: only terminal fields hold what the form shows. Widgets of the same
// name lose any value of their own.
void FormFields::resetNode(std::size_t i) {
    auto& f = fields_[i];
    bool isField = f.named || f.parent < 0;
    if (!isField) {
        if (f.dict.hasKey("/V")) f.dict.removeKey("/V");
        return;
    }
    if (!f.terminal) return;
    auto inherited = [&](const std::string& key) {
        for (int k = static_cast<int>(i); k >= 0; k = fields_[static_cast<std::size_t>(k)].parent) {
            auto v = fields_[static_cast<std::size_t>(k)].dict.getKey(key);
            if (!v.isNull()) return v;
        }
        return QPDFObjectHandle::newNull();
    };
    std::string kind = effectiveKind(i);
    QPDFObjectHandle dv = inherited("/DV");
    if (dv.isNull() && kind == "Ch") {
        auto opt = inherited("/Opt");
        if (opt.isArray() && opt.getArrayNItems() > 0) {
            auto first = opt.getArrayItem(0);
            if (first.isArray() && first.getArrayNItems() == 2) first = first.getArrayItem(0);
            if (first.isString()) dv = first;
        }
    }
    if (f.dict.hasKey("/I")) f.dict.removeKey("/I");
    if (dv.isNull()) {
        if (f.dict.hasKey("/V")) f.dict.removeKey("/V");
    } else {
        f.dict.replaceKey("/V", dv.isIndirect() ? dv : dv.shallowCopy());
    }
}

void FormFields::reset() {
    reset({}, false);
}

void FormFields::reset(const std::vector<std::u16string>& names, bool include) {
    if (fields_.empty()) return;
    auto listed = [&](std::size_t i) {
        for (int k = static_cast<int>(i); k >= 0; k = fields_[static_cast<std::size_t>(k)].parent)
            for (auto& n : names)
                if (fields_[static_cast<std::size_t>(k)].named && fields_[static_cast<std::size_t>(k)].fullName == n)
                    return true;
        return false;
    };
    std::vector<bool> chosen(fields_.size());
    for (std::size_t i = 0; i < fields_.size(); ++i) chosen[i] = names.empty() ? true : (listed(i) == include);
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (chosen[i]) resetNode(i);
    valuesSet_ = true;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const auto& f = fields_[i];
        if (chosen[i] && (f.named || f.parent < 0) && f.terminal) refreshAppearances(i);
    }
    noteChange();
}

}  // namespace quill::pdf
