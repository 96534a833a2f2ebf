// A value's characters as glyphs on lines: which font draws each character, the visual order
// of right-to-left text, shaping, and wrapping to a width.
#pragma once

#include "FieldFont.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quill::pdf::fonts {
class EmbeddedFonts;
}

namespace quill::pdf::appearance {

// The font a glyph is drawn in: the field's own, or an installed face embedded as a fallback.
class FontRef {
public:
    static FontRef field() { return FontRef(-1); }
    static FontRef fallback(int face) { return FontRef(face); }
    bool isField() const { return face_ < 0; }
    // The installed face (fonts::faceFor's number) of a fallback.
    int face() const { return face_; }
    bool operator==(const FontRef& other) const { return face_ == other.face_; }
    bool operator!=(const FontRef& other) const { return face_ != other.face_; }

private:
    explicit FontRef(int face) : face_(face) {}
    int face_;
};

// One glyph placed on a line, with the bytes that show it in its font. Advances and offsets
// in thousandths of the font size.
struct Glyph {
    FontRef font = FontRef::field();
    std::string code;
    double advance = 0;  // where the next glyph starts
    double nominal = 0;  // what a viewer advances by after drawing it
    double dx = 0, dy = 0;
    bool space = false;
    double top = 0, bottom = 0;  // its ink above and below the baseline, its offset included
    std::size_t grapheme = 0;    // where in the paragraph the user-perceived character it belongs to starts
};
using Line = std::vector<Glyph>;

double widthOf(const Line& line, double size);

// The ink of a line above and below its baseline at `size`; both 0 when it has none.
struct LineInk {
    double top = 0, bottom = 0;
    bool any = false;
};
LineInk inkOf(const Line& line, double size);

// The installed faces the lines draw with.
std::set<int> fallbackFaces(const std::vector<Line>& lines);

// A paragraph (no line breaks) as glyphs in visual order: the characters the field's font
// has in that font, the others in the first installed face that has them; right-to-left text
// laid out by the bidirectional algorithm, every run of an installed face shaped by HarfBuzz.
// A character no font has is left out of the drawing.
Line layoutParagraph(const std::u32string& text, const FieldEncoding& encoding, const Metrics& metrics,
                     fonts::EmbeddedFonts& embedded);

// Wraps a paragraph's glyphs to `width`: at the last space that fits, else (one word wider
// than the line) between glyphs.
std::vector<Line> wrap(const Line& text, double size, double width);

bool hasRightToLeft(const std::u32string& text);

// Wraps a paragraph in reading order, so that with right-to-left text the first line holds
// its first words: words are added to a line while its laid-out width fits; a word wider than
// a line is broken between characters.
std::vector<Line> wrapLogical(const std::u32string& text, const std::function<Line(const std::u32string&)>& layout,
                              double size, double width);

}  // namespace quill::pdf::appearance
