// Widget appearances after a field's value changed: text drawn fresh, button states switched.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <string>
#include <vector>

namespace quill::pdf::appearance {

// True when the stock appearance writer shows every character of `utf8` as it is.
// It only has the fonts' single-byte codes, so anything beyond printable ASCII would
// come out as "?" (a wrong glyph), which we never draw.
bool canDraw(const std::string& utf8);

// Gives a text or choice widget an appearance for its field's current value. When the
// value (or, for a list box, one of its options) cannot be drawn, the widget's stale
// appearance is removed and the form asks the viewer to draw it (/NeedAppearances).
// Returns false when it left the widget to the viewer.
bool refreshText(QPDF& pdf, QPDFObjectHandle widget);

// The on-state names of a button widget: the keys of its normal (and down) appearance
// dictionaries other than Off, in the order they stand.
std::vector<std::string> onStates(QPDFObjectHandle widget);

// Shows `state` on a button widget: its /AS becomes the state when the widget has an
// appearance for it, else Off.
void showState(QPDFObjectHandle widget, const std::string& state);

}  // namespace quill::pdf::appearance
