// PDFDocEncoding: the table of the bytes whose characters differ from
// Latin-1 (0x18-0x1F, 0x80-0x9E, 0xA0), and the two conversions.
#include "PDFDocEncoding.h"

#include <array>

namespace acro_host::pdfdoc {

namespace {

struct Special {
    unsigned char byte;
    char16_t unit;
};

constexpr std::array<Special, 40> kSpecials = {{
    {0x18, u'\u02D8'}, {0x19, u'\u02C7'}, {0x1A, u'\u02C6'}, {0x1B, u'\u02D9'}, {0x1C, u'\u02DD'}, {0x1D, u'\u02DB'},
    {0x1E, u'\u02DA'}, {0x1F, u'\u02DC'}, {0x80, u'\u2022'}, {0x81, u'\u2020'}, {0x82, u'\u2021'}, {0x83, u'\u2026'},
    {0x84, u'\u2014'}, {0x85, u'\u2013'}, {0x86, u'\u0192'}, {0x87, u'\u2044'}, {0x88, u'\u2039'}, {0x89, u'\u203A'},
    {0x8A, u'\u2212'}, {0x8B, u'\u2030'}, {0x8C, u'\u201E'}, {0x8D, u'\u201C'}, {0x8E, u'\u201D'}, {0x8F, u'\u2018'},
    {0x90, u'\u2019'}, {0x91, u'\u201A'}, {0x92, u'\u2122'}, {0x93, u'\uFB01'}, {0x94, u'\uFB02'}, {0x95, u'\u0141'},
    {0x96, u'\u0152'}, {0x97, u'\u0160'}, {0x98, u'\u0178'}, {0x99, u'\u017D'}, {0x9A, u'\u0131'}, {0x9B, u'\u0142'},
    {0x9C, u'\u0153'}, {0x9D, u'\u0161'}, {0x9E, u'\u017E'}, {0xA0, u'\u20AC'},
}};

char16_t special(unsigned char b) {
    for (const Special& s : kSpecials)
        if (s.byte == b) return s.unit;
    return 0;
}

}  // namespace

std::u16string decode(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        const char16_t s = special(b);
        out += s ? s : static_cast<char16_t>(b);
    }
    return out;
}

std::optional<std::string> encode(const std::u16string& units) {
    std::string out;
    out.reserve(units.size());
    for (char16_t u : units) {
        if (u == u'\t' || u == u'\n' || u == u'\r' || (u >= 0x20 && u <= 0x7E) ||
            (u >= 0xA1 && u <= 0xFF && u != 0xAD)) {
            out += static_cast<char>(u);
            continue;
        }
        bool found = false;
        for (const Special& s : kSpecials) {
            if (s.unit == u) {
                out += static_cast<char>(s.byte);
                found = true;
                break;
            }
        }
        if (!found) return std::nullopt;
    }
    return out;
}

}  // namespace acro_host::pdfdoc
