// Widget appearances after a field's value changed: text drawn fresh, button states switched.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <string>
#include <vector>

namespace quill::pdf::appearance {

// Gives a text or choice widget an appearance for its field's current value, drawn with the
// font its default appearance names. When that font cannot show the value (or, for a list
// box, one of its options) exactly as it stands -- a character outside the font's
// single-byte encoding, a glyph missing from an embedded subset, a line break -- no glyph
// is drawn: the stale appearance is removed and the form asks the viewer to draw it
// (/NeedAppearances).
// Returns false when it left the widget to the viewer.
bool refreshText(QPDF& pdf, QPDFObjectHandle widget);

// The on-state names of a button widget: the keys of its normal (and down) appearance
// dictionaries other than Off, sorted.
std::vector<std::string> onStates(QPDFObjectHandle widget);

// Shows `state` on a button widget: its /AS becomes the state when the widget has an
// appearance for it, else Off.
void showState(QPDFObjectHandle widget, const std::string& state);

}  // namespace quill::pdf::appearance
