// Widget appearances after a field's value changed: text drawn fresh, button states switched.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <string>
#include <vector>

namespace quill::pdf::appearance {

// Gives a text or choice widget an appearance for its field's current value, drawn with the
// font its default appearance names. A text field or combo box gets its value placed by the
// field's alignment (/Q, inherited, else the form's), wrapped from the top when the field is
// multi-line, one character a cell in a comb field, and at a size that fits when the size
// is 0 (auto). Only the value section (/Tx BMC ... EMC) of an existing appearance is drawn
// anew; its background and border stay. A list box lists its options.
// When that font cannot show the value (or, for a list box, one of its options) exactly as
// it stands -- a character outside the font's single-byte encoding, a glyph missing from an
// embedded subset, a line break outside a multi-line field -- no glyph is drawn: the stale
// appearance is removed and the form asks the viewer to draw it (/NeedAppearances).
// Returns false when it left the widget to the viewer.
bool refreshText(QPDF& pdf, QPDFObjectHandle widget);

// The on-state names of a button widget: the keys of its normal (and down) appearance
// dictionaries other than Off, sorted.
std::vector<std::string> onStates(QPDFObjectHandle widget);

// Shows `state` on a button widget: its /AS becomes the state when the widget has an
// appearance for it, else Off.
void showState(QPDFObjectHandle widget, const std::string& state);

}  // namespace quill::pdf::appearance
