// The font a field's default appearance names: which characters it shows under which codes,
// how wide they are, and where the field finds it.
#pragma once

#include "CompositeFont.h"
#include "DefaultAppearance.h"
#include "EmbeddedFonts.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quill::pdf::appearance {

// The characters a simple font shows and the code of each: its base encoding with its
// /Differences laid over, limited to codes that have a glyph in an embedded subset. For a
// composite (Type0, Identity-H) font: the two-byte code and width of what its /ToUnicode map
// names and its program holds.
struct FieldEncoding {
    std::unordered_map<char32_t, unsigned char> codes;
    bool composite = false;
    std::shared_ptr<const CompositeCodes> cids;  // null for a composite font we cannot read
    fonts::Style style;                          // what a fallback for it should look like

    bool has(char32_t c) const { return composite ? cids && cids->find(c) : codes.count(c) > 0; }
    std::optional<unsigned char> code(char32_t c) const {
        auto found = codes.find(c);
        if (found == codes.end()) return std::nullopt;
        return found->second;
    }
    // A composite font's code and width for `c`; null when it has none.
    const std::pair<std::string, double>* cid(char32_t c) const { return cids ? cids->find(c) : nullptr; }
};

std::shared_ptr<const FieldEncoding> readEncoding(QPDFObjectHandle font);

// The character a glyph name stands for: the Adobe Glyph List, uniXXXX, uXXXX[XX]; 0 if none.
char32_t glyphNameToUnicode(const std::string& name);

// Advance widths of the font's single-byte codes, from its /Widths, else from the standard
// font it names: Helvetica's table, Courier's fixed 600, and for the other standard fonts an
// average width (500) that is only an estimate. A null font is the viewer's default: Helvetica.
class Metrics {
public:
    explicit Metrics(QPDFObjectHandle font);
    // Thousandths of the font size.
    double width(unsigned char code) const;
    double ascent() const { return ascent_ / 1000; }
    double descent() const { return descent_ / 1000; }
    // The vertical metrics a single line is centred on and an auto size fills the box by: the
    // font's bounding box (a standard font's own when the font has no descriptor).
    double boxTop() const { return boxTop_ / 1000; }
    double boxBottom() const { return boxBottom_ / 1000; }

private:
    enum class Standard { helvetica, courier, other };
    bool hasWidths_ = false;
    std::vector<double> widths_;  // -1 where the entry is no number
    int first_ = 0;
    double missing_ = 0;
    Standard standard_ = Standard::helvetica;
    double ascent_ = 718, descent_ = -207;    // Helvetica
    double boxTop_ = 931, boxBottom_ = -225;  // Helvetica
};

// The font dictionary `name` in a resource dictionary's /Font; null when there is none.
QPDFObjectHandle fontIn(QPDFObjectHandle resources, const std::string& name);

// The field's font: what its default appearance names, found in the appearance's resources,
// else the form's (/DR), else (when `standardByName`) a standard font the name stands for.
// Null when none is had; the name stays as the appearance gives it.
struct FieldFont {
    std::string name;
    mutable QPDFObjectHandle dict = QPDFObjectHandle::newNull();  // qpdf's handles have no const readers
};
FieldFont findFieldFont(const DefaultAppearance& da, QPDFObjectHandle resources, QPDFObjectHandle formResources,
                        bool standardByName);

// The encodings of the fonts fields name, read once a font a document. Main thread only.
class FieldFonts {
public:
    const FieldEncoding& encodingOf(QPDFObjectHandle font);

private:
    std::map<QPDFObjGen, std::shared_ptr<const FieldEncoding>> indirect_;
    std::map<std::string, std::shared_ptr<const FieldEncoding>> direct_;
};

}  // namespace quill::pdf::appearance
