// Widget appearances after a field's value changed: text drawn fresh, button states switched.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "quill/pdf/Warnings.h"

#include <memory>
#include <string>
#include <vector>

namespace quill::pdf::appearance {

// What drawing keeps for one document between fields: the encodings of the fonts fields name,
// read once a font, and the fonts embedded for characters those cannot show. Main thread only.
class Drawing {
public:
    // Warnings go to `warnings` (the document's list) when given, else to the process's list.
    explicit Drawing(QPDF& pdf, WarningList* warnings = nullptr);
    ~Drawing();
    Drawing(const Drawing&) = delete;
    Drawing& operator=(const Drawing&) = delete;
    // Writes the embedded fonts' programs and maps; due before the document is written out.
    // Returns the objects of the fonts made or changed since the last call.
    std::vector<QPDFObjectHandle> finish();
    // Forgets which widgets share appearance streams; due when the field tree changed.
    void treeChanged();
    // Counts the appearance streams one node of the field tree names. A reader walking the
    // whole tree after treeChanged() hands every node here, which spares the drawing a walk of
    // its own; without one, the first redraw that asks walks the tree itself.
    void countUses(QPDFObjectHandle node);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    friend bool refreshText(QPDF&, QPDFObjectHandle, Drawing&);
};

// Gives a text or choice widget an appearance for its field's current value, drawn with the
// font its default appearance names. A text field or combo box gets its value placed by the
// field's alignment (/Q, inherited, else the form's), wrapped from the top when the field is
// multi-line, one character a cell in a comb field, and at a size that fits when the size
// is 0 (auto). Only the value section (/Tx BMC ... EMC) of an existing appearance is drawn
// anew; its background and border stay. A list box lists its options.
// Every character the field's font has (through its base encoding and /Differences) is drawn
// in that font; the others in an installed font that has them, embedded as a subset, right-
// to-left text laid out by the bidirectional algorithm and shaped. An appearance is never
// removed: a damaged one is drawn again from nothing. Returns false only when the widget has
// nothing to draw into (no rectangle); the form then asks the viewer to draw it.
bool refreshText(QPDF& pdf, QPDFObjectHandle widget, Drawing& drawing);
// The same for one widget alone, its fonts written at once.
bool refreshText(QPDF& pdf, QPDFObjectHandle widget);

// The on-state names of a button widget: the keys of its normal (and down) appearance
// dictionaries other than Off, sorted.
std::vector<std::string> onStates(QPDFObjectHandle widget);

// Shows `state` on a button widget: its /AS becomes the state when the widget has an
// appearance for it, else Off. An on appearance that names a font its resources lack is
// drawn anew: the /MK /CA mark in ZapfDingbats.
void showState(QPDFObjectHandle widget, const std::string& state);

}  // namespace quill::pdf::appearance
