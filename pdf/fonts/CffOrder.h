// Puts the glyphs of a subset OpenType (CFF) program into the order of the CIDs that show them,
// so that a CIDFontType0 reaches its glyphs the same way in every viewer: CID = glyph number,
// and a CID-keyed program's charset maps each CID to itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quill::pdf::fonts {

// `program` is an OpenType font with a 'CFF ' table as HarfBuzz's subsetter writes it;
// `glyphOfCid[k]` is the glyph of `program` that CID k shows (k = 0 is .notdef and 0). A glyph
// may serve several CIDs (the same glyph standing for different text). The result holds
// exactly glyphOfCid.size() glyphs, glyph k being the old glyph glyphOfCid[k], with the
// tables that list glyphs (CharStrings, charset, FDSelect, hmtx, maxp, hhea) to match and any
// other glyph-indexed table left out. Nothing when the program is not laid out as expected.
std::optional<std::string> orderGlyphsByCid(const std::string& program, const std::vector<unsigned>& glyphOfCid);

}  // namespace quill::pdf::fonts
