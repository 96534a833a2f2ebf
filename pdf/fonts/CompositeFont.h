// What a composite (Type0, Identity-H) field font can show: its /ToUnicode CMap and its /W
// widths, both kept as the file gives them and asked by character, so that a map of a
// thousand wide ranges costs what its text costs, not what its ranges span.
#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quill::pdf::appearance {

// The bfchar and bfrange mappings of a /ToUnicode CMap, read with qpdf's tokenizer (so
// "<0041><0042>" without space between reads as two codes).
class ToUnicodeCMap {
public:
    explicit ToUnicodeCMap(const std::string& cmap);
    // The codes that stand for exactly `c` (one character, no more), in the order the CMap gives them.
    std::vector<long> codesFor(char32_t c) const;
    std::size_t mappings() const { return singles_.size() + ranges_.size(); }

private:
    struct Range {
        long lo, hi;
        char32_t first;  // the character of `lo`; the next codes count up from it
        std::size_t order;
    };
    std::unordered_multimap<char32_t, std::pair<std::size_t, long>> singles_;  // character -> (order, code)
    std::vector<Range> ranges_;
    std::size_t order_ = 0;
};

// A CIDFont's /W array, asked CID by CID; a later entry for the same CID wins.
class CidWidths {
public:
    explicit CidWidths(QPDFObjectHandle w);
    std::optional<double> width(long cid) const;

private:
    struct Segment {
        long first, last;
        double width;        // when `values` is npos
        std::size_t values;  // where the segment's own widths start in values_
    };
    std::vector<Segment> segments_;
    std::vector<double> values_;
};

// The two-byte code and width of each character a composite font with an embedded program
// shows: named by its /ToUnicode map, given a width by /W (a subset lists what it holds) and
// reaching a glyph through /CIDToGIDMap. Looked up on demand and remembered.
class CompositeCodes {
public:
    // Null when the font is no Identity-H Type0 with an embedded program and a /ToUnicode map.
    static std::shared_ptr<CompositeCodes> read(QPDFObjectHandle type0);
    const std::pair<std::string, double>* find(char32_t c) const;

private:
    CompositeCodes(ToUnicodeCMap map, CidWidths widths, std::string cidToGid, bool identity);
    bool holds(long cid) const;
    ToUnicodeCMap map_;
    CidWidths widths_;
    std::string cidToGid_;
    bool identity_;
    mutable std::unordered_map<char32_t, std::optional<std::pair<std::string, double>>> known_;
};

}  // namespace quill::pdf::appearance
