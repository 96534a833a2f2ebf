// What a text field, combo box or list box shows and where in its box: the value read from the
// field, laid out, placed by alignment, wrapping, comb cells and auto size, written as operators.
#pragma once

#include "FieldFont.h"
#include "TextLayout.h"
#include "quill/pdf/Warnings.h"

#include <qpdf/QPDFFormFieldObjectHelper.hh>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quill::pdf::appearance {

struct Box {
    double llx = 0, lly = 0, urx = 0, ury = 0;
    double width() const { return urx - llx; }
    double height() const { return ury - lly; }
};

// What the field shows and how: set from the field, then placed into a box.
struct TextPlan {
    std::vector<Line> paragraphs;                       // more than one only in a multi-line field
    std::vector<std::u32string> logical;                // the same paragraphs as characters
    std::function<Line(const std::u32string&)> layout;  // lays out characters as layoutParagraph does
    FieldFont font;                                     // its dict null when the field names none we have
    DefaultAppearance da{""};
    int quadding = 0;
    bool multiline = false;
    int comb = 0;  // cells of a comb field, else 0
};

// The operators that go between /Tx BMC and EMC, and the fallback faces they draw with.
struct DrawnValue {
    std::string operators;
    std::set<int> faces;
};

// Fills `plan` for a text field or combo box whose appearance has `resources`. Never fails for
// want of a font: what the field's font cannot show is drawn with an embedded one. What no font
// has is a warning in `warnings` (null: the process's list).
void planText(QPDFFormFieldObjectHelper& field, QPDFObjectHandle resources, TextPlan& plan, FieldFonts& fieldFonts,
              fonts::EmbeddedFonts& embedded, WarningList* warnings = nullptr);

// The plan placed in `box`, `border` in from its edges.
DrawnValue draw(const TextPlan& plan, const Box& box, double border);

// A list box's options one a row from its top index (scrolled to the first chosen one when that
// is out of sight), the chosen ones filled behind in Acrobat's selection colour, drawn with
// embedded fonts where its own cannot show them.
DrawnValue drawOptions(QPDFFormFieldObjectHelper& field, QPDFObjectHandle resources, const Box& box, double border,
                       FieldFonts& fieldFonts, fonts::EmbeddedFonts& embedded, FieldFont& font);

}  // namespace quill::pdf::appearance
