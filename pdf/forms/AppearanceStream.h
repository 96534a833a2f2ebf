// A widget's normal appearance stream: the one a value is drawn into (its own, or one drawn
// from nothing with its frame), the value section replaced, and the result installed with
// the fonts the drawing uses.
#pragma once

#include "FieldFont.h"
#include "ValueText.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <optional>
#include <set>
#include <string>

namespace quill::pdf::fonts {
class EmbeddedFonts;
}

namespace quill::pdf::appearance {

// Copies a content stream, putting `drawing` in place of what stands between /Tx BMC and its
// EMC; a stream without that section gets one at its end.
std::string replaceValueSection(const std::string& content, const std::string& drawing);

// How far the value keeps off the edge: the border, twice over for a bevelled or inset one;
// nothing when /MK gives the border no colour (none is drawn).
double borderInset(QPDFObjectHandle widget);

// The normal appearance a value is drawn into: the widget's own, or (when it has none, or
// `fresh` is asked for) one from nothing with the background and border /MK asks for and
// `section` as its content after them. None when the widget has no rectangle.
struct Base {
    std::string content;
    mutable QPDFObjectHandle dict;
};
std::optional<Base> baseAppearance(QPDFObjectHandle widget, bool fresh, const std::string& section);
Box boxOf(const Base& base);

// Makes `content` the widget's normal appearance, with the base's entries and every font the
// drawing uses in its resources: the field's own under its name, the fallback `faces` under
// theirs. `uses` counts the appearance entries of the form naming the widget's normal stream
// (a stream named once may be redrawn in place).
void install(QPDF& pdf, QPDFObjectHandle widget, const Base& base, const std::string& content, const FieldFont& font,
             const std::set<int>& faces, fonts::EmbeddedFonts& embedded, const std::function<int(QPDFObjGen)>& uses);

}  // namespace quill::pdf::appearance
