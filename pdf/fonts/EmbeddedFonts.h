// Subsets of installed faces (InstalledFaces.h) embedded into a document as Unicode (Type0,
// Identity-H) fonts, for the characters a field's own font cannot show.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "InstalledFaces.h"

namespace quill::pdf::fonts {

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
    // Nothing is written for a font whose glyph set is unchanged. Returns every object made or
    // changed since the last call (by font() too).
    std::vector<QPDFObjectHandle> write();
    bool pending() const;

private:
    struct Font;
    QPDF& pdf_;
    std::map<int, std::unique_ptr<Font>> fonts_;
    std::vector<QPDFObjectHandle> made_;  // objects font() made since the last write()
};

}  // namespace quill::pdf::fonts
