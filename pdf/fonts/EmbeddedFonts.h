// Installed fonts for characters a field's own font cannot show, and their subsets embedded
// into a document as Unicode (Type0, Identity-H) fonts.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quill::pdf::fonts {

// One shaped glyph, in thousandths of the font size.
struct ShapedGlyph {
    unsigned gid = 0;
    double advance = 0;     // where the next glyph starts
    double dx = 0, dy = 0;  // where this one sits off the pen (marks)
    std::u32string text;    // the characters this glyph stands for (empty: a later part of a cluster)
    unsigned cluster = 0;   // where in the run's text its cluster starts
};

// What a fallback face should look like: the field font's weight, slant and pitch.
struct Style {
    bool bold = false, italic = false, fixedPitch = false, serif = false;
};

// The installed face that shows `c`, in fontconfig's order for a sans-serif (a serif, a
// monospace for fixed pitch) of the style's weight and slant; -1 when none. Only faces with TrueType or CFF
// outlines whose licence allows embedding are offered, colour ones not. Each list is read
// once a process; safe on the host's main thread only.
int faceFor(char32_t c, const Style& style = {});
// Whether `face` has a glyph for `c`.
bool faceHas(int face, char32_t c);
// The first face in the style's order that has every one of `chars`; -1 when none has.
int faceForAll(const std::u32string& chars, const Style& style = {});

// Shapes one run (one face, one direction) with HarfBuzz: joining, marks, ligatures. Glyphs
// come in visual order (left to right), also for a right-to-left run.
std::vector<ShapedGlyph> shape(int face, const std::u32string& text, bool rightToLeft);

// The advance a viewer takes for `gid` from the widths written with the font.
double nominalAdvance(int face, unsigned gid);
// Ascent and descent of a face in thousandths (descent negative).
double ascent(int face);
double descent(int face);

// How far a glyph's ink reaches above and below the baseline, in thousandths of the size
// (below negative); both 0 for a glyph without ink.
struct Ink {
    double top = 0, bottom = 0;
};
Ink glyphInk(int face, unsigned gid);
// The ink of `c` as the installed face that shows it draws it: what a viewer draws for a
// font a form names but does not carry.
Ink characterInk(char32_t c, const Style& style);

// The fallback fonts embedded into one document: one subset a face, grown as values need
// glyphs. Codes are CIDs of our own numbering, handed out in order of first use, so the same
// glyph standing for different text (a ligature, say) copies as that text. A TrueType face is
// embedded as a CIDFontType2 (CIDs reach glyphs through /CIDToGIDMap), a CFF face as a
// CIDFontType0 over an OpenType program whose glyphs are put in CID order (CID = glyph number).
// The subset's tag follows the glyphs it holds, so two subsets never share a name. Main thread only.
class EmbeddedFonts {
public:
    explicit EmbeddedFonts(QPDF& pdf);
    ~EmbeddedFonts();
    EmbeddedFonts(const EmbeddedFonts&) = delete;
    EmbeddedFonts& operator=(const EmbeddedFonts&) = delete;

    // The font dictionary for `face` (made on first use) and the resource name it goes under.
    QPDFObjectHandle font(int face);
    static std::string resourceName(int face);
    // The two bytes that show glyph `gid` of `face` as `text`.
    std::string code(int face, unsigned gid, const std::u32string& text);
    // Writes the program, widths and maps of every font that gained glyphs since the last call.
    // Nothing is written for a font whose glyph set is unchanged.
    void write();
    bool pending() const;

private:
    struct Font;
    QPDF& pdf_;
    std::map<int, std::unique_ptr<Font>> fonts_;
};

}  // namespace quill::pdf::fonts
