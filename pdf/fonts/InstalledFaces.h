// The installed faces a field's own font falls back to: which face shows a character for a field
// font's class (serif, sans-serif, monospace; weight and slant), shaping runs with HarfBuzz, and
// the metrics and ink of their glyphs. Their embedding into a document is EmbeddedFonts.h's.
#pragma once

#include <fontconfig/fontconfig.h>
#include <hb.h>

#include <string>
#include <unordered_map>
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

// One installed face as fontconfig lists it; opened with HarfBuzz on first use. The rest of
// the tree asks by face number; the embedding reads the face itself.
struct Face {
    std::string file;
    int index = 0;
    bool mono = false;           // fontconfig says its glyphs are of one width
    bool dual = false;           // of two widths (narrow and wide): monospaced in Latin
    std::string family;          // fontconfig's first family name
    bool symbol = false;         // fontconfig calls it a symbol font
    FcCharSet* chars = nullptr;  // owned by the font set, which lives as long as the process
    bool tried = false;
    bool usable = false;
    bool cff = false;  // CFF outlines (OpenType), else TrueType
    hb_face_t* face = nullptr;
    hb_font_t* font = nullptr;
    // The face's working copy: a subset holding every glyph this process embedded so far
    // (while they are few), which each document's subset is cut from. Cutting from the whole
    // face parses its tables (for a CJK face tens of thousands of glyphs) on every save;
    // HarfBuzz's own preparation of a face for subsetting holds hundreds of megabytes for one.
    hb_face_t* working = nullptr;
    std::unordered_map<unsigned, unsigned> workingGlyph;  // face glyph -> glyph of the working copy
    unsigned workingGeneration = 0;                       // counts the working copies made
    unsigned upem = 1000;
    double ascent = 800, descent = -200;
    std::unordered_map<unsigned, Ink> ink;  // glyphInk's answers: HarfBuzz decodes an outline for each
    std::string postscriptName;
};

// Face number `face` of the installed list.
Face& at(int face);
// Opens a face with HarfBuzz; false when it has no TrueType or CFF outlines or forbids embedding.
bool open(Face& f);

}  // namespace quill::pdf::fonts
