// Puts the glyphs of a subset OpenType (CFF) program into the order of the CIDs that show them.
//
// HarfBuzz's subsetter numbers the glyphs it keeps in their old order, and a CID-keyed program
// keeps each glyph's old CID in its charset. A viewer may reach a CIDFontType0's glyphs through
// that charset (CID to glyph) or take the code as the glyph number; only CID = glyph number
// reads the same in both. The glyph numbers must also be known when a value is drawn, long
// before the subset is made, so the CIDs are handed out in order of first use and the program
// is reordered to match here: the new CharStrings, charset and FDSelect are appended to the
// CFF table and the Top DICT's offsets (four-byte operands in HarfBuzz's output) point at them;
// the old ones stay behind unreferenced.
#include "CffOrder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <utility>

namespace quill::pdf::fonts {

namespace {

struct Malformed {};

class Bytes {
public:
    explicit Bytes(const std::string& s) : s_(s) {}
    void need(std::size_t pos, std::size_t n) const {
        if (pos > s_.size() || n > s_.size() - pos) throw Malformed{};
    }
    unsigned u8(std::size_t pos) const {
        need(pos, 1);
        return static_cast<unsigned char>(s_[pos]);
    }
    unsigned u16(std::size_t pos) const { return (u8(pos) << 8) | u8(pos + 1); }
    std::uint32_t u32(std::size_t pos) const {
        return (static_cast<std::uint32_t>(u16(pos)) << 16) | static_cast<std::uint32_t>(u16(pos + 2));
    }
    std::uint32_t offset(std::size_t pos, unsigned size) const {
        std::uint32_t v = 0;
        for (unsigned k = 0; k < size; ++k) v = (v << 8) | u8(pos + k);
        return v;
    }
    std::string slice(std::size_t pos, std::size_t n) const {
        need(pos, n);
        return s_.substr(pos, n);
    }
    std::size_t size() const { return s_.size(); }

private:
    const std::string& s_;
};

void put16(std::string& out, unsigned v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

void set16(std::string& s, std::size_t pos, unsigned v) {
    s[pos] = static_cast<char>((v >> 8) & 0xFF);
    s[pos + 1] = static_cast<char>(v & 0xFF);
}

void set32(std::string& s, std::size_t pos, std::uint32_t v) {
    set16(s, pos, v >> 16);
    set16(s, pos + 2, v & 0xFFFF);
}

// A CFF INDEX: where it ends and where each of its items lies (absolute offsets).
struct Index {
    std::size_t end = 0;
    std::vector<std::pair<std::size_t, std::size_t>> items;
};

Index readIndex(const Bytes& b, std::size_t pos) {
    Index index;
    unsigned count = b.u16(pos);
    if (count == 0) {
        index.end = pos + 2;
        return index;
    }
    unsigned offSize = b.u8(pos + 2);
    if (offSize < 1 || offSize > 4) throw Malformed{};
    std::size_t offsets = pos + 3;
    std::size_t base = offsets + (static_cast<std::size_t>(count) + 1) * offSize - 1;
    std::size_t previous = b.offset(offsets, offSize);
    if (previous != 1) throw Malformed{};
    index.items.reserve(count);
    for (unsigned k = 1; k <= count; ++k) {
        std::size_t next = b.offset(offsets + static_cast<std::size_t>(k) * offSize, offSize);
        if (next < previous) throw Malformed{};
        index.items.emplace_back(base + previous, base + next);
        previous = next;
    }
    index.end = base + previous;
    b.need(base, previous);
    return index;
}

std::string writeIndex(const std::vector<std::string>& items) {
    std::string out;
    put16(out, static_cast<unsigned>(items.size()));
    if (items.empty()) return out;
    std::size_t total = 1;
    for (auto& item : items) total += item.size();
    unsigned offSize = total <= 0xFF ? 1 : total <= 0xFFFF ? 2 : total <= 0xFFFFFF ? 3 : 4;
    out += static_cast<char>(offSize);
    std::size_t at = 1;
    auto offset = [&](std::size_t v) {
        for (int k = static_cast<int>(offSize) - 1; k >= 0; --k) out += static_cast<char>((v >> (8 * k)) & 0xFF);
    };
    offset(at);
    for (auto& item : items) offset(at += item.size());
    for (auto& item : items) out += item;
    return out;
}

// The operands of a Top DICT operator: where the last one starts, how long it is, its value.
struct Operand {
    std::size_t pos = 0, size = 0;
    long value = 0;
};

std::map<unsigned, std::vector<Operand>> readDict(const Bytes& b, std::size_t pos, std::size_t end) {
    std::map<unsigned, std::vector<Operand>> ops;
    std::vector<Operand> operands;
    while (pos < end) {
        unsigned b0 = b.u8(pos);
        Operand o{pos, 1, 0};
        if (b0 <= 21) {
            unsigned op = b0;
            std::size_t size = 1;
            if (b0 == 12) {
                op = 1200 + b.u8(pos + 1);
                size = 2;
            }
            ops[op] = std::move(operands);
            operands.clear();
            pos += size;
            continue;
        }
        if (b0 == 28) {
            o.size = 3;
            o.value = static_cast<std::int16_t>(b.u16(pos + 1));
        } else if (b0 == 29) {
            o.size = 5;
            o.value = static_cast<std::int32_t>(b.u32(pos + 1));
        } else if (b0 == 30) {
            std::size_t p = pos + 1;
            while (true) {
                unsigned v = b.u8(p++);
                if ((v >> 4) == 0xF || (v & 0xF) == 0xF) break;
            }
            o.size = p - pos;
        } else if (b0 >= 32 && b0 <= 246) {
            o.value = static_cast<long>(b0) - 139;
        } else if (b0 >= 247 && b0 <= 250) {
            o.size = 2;
            o.value = (static_cast<long>(b0) - 247) * 256 + b.u8(pos + 1) + 108;
        } else if (b0 >= 251 && b0 <= 254) {
            o.size = 2;
            o.value = -(static_cast<long>(b0) - 251) * 256 - b.u8(pos + 1) - 108;
        } else {
            throw Malformed{};
        }
        if (pos + o.size > end) throw Malformed{};
        operands.push_back(o);
        pos += o.size;
    }
    return ops;
}

// The offset operand of `op`, when it is a single four-byte number that can be rewritten in place.
const Operand& offsetOperand(const std::map<unsigned, std::vector<Operand>>& ops, unsigned op) {
    auto it = ops.find(op);
    if (it == ops.end() || it->second.size() != 1 || it->second[0].size != 5) throw Malformed{};
    return it->second[0];
}

// The SID (name-keyed) or CID of each glyph, from a charset of format 0, 1 or 2.
std::vector<unsigned> readCharset(const Bytes& b, std::size_t pos, std::size_t glyphs) {
    std::vector<unsigned> ids(glyphs, 0);
    unsigned format = b.u8(pos++);
    std::size_t g = 1;
    if (format == 0) {
        for (; g < glyphs; ++g, pos += 2) ids[g] = b.u16(pos);
        return ids;
    }
    if (format != 1 && format != 2) throw Malformed{};
    while (g < glyphs) {
        unsigned first = b.u16(pos);
        unsigned left = format == 1 ? b.u8(pos + 2) : b.u16(pos + 2);
        pos += format == 1 ? 3 : 4;
        for (unsigned k = 0; k <= left && g < glyphs; ++k) ids[g++] = first + k;
    }
    return ids;
}

std::vector<unsigned> readFdSelect(const Bytes& b, std::size_t pos, std::size_t glyphs) {
    std::vector<unsigned> fds(glyphs, 0);
    unsigned format = b.u8(pos);
    if (format == 0) {
        for (std::size_t g = 0; g < glyphs; ++g) fds[g] = b.u8(pos + 1 + g);
        return fds;
    }
    if (format != 3) throw Malformed{};
    unsigned ranges = b.u16(pos + 1);
    std::size_t at = pos + 3;
    for (unsigned r = 0; r < ranges; ++r, at += 3) {
        unsigned first = b.u16(at), fd = b.u8(at + 2), next = b.u16(at + 3);
        for (unsigned g = first; g < next && g < glyphs; ++g) fds[g] = fd;
    }
    return fds;
}

std::string reorderCff(const std::string& cff, const std::vector<unsigned>& glyphOfCid) {
    Bytes b(cff);
    std::size_t pos = b.u8(2);      // header size
    pos = readIndex(b, pos).end;    // Name INDEX
    Index top = readIndex(b, pos);  // Top DICT INDEX
    if (top.items.size() != 1) throw Malformed{};
    auto ops = readDict(b, top.items[0].first, top.items[0].second);
    const bool cidKeyed = ops.count(1230) != 0;  // ROS
    const Operand& charStringsAt = offsetOperand(ops, 17);
    const Operand& charsetAt = offsetOperand(ops, 15);
    Index charStrings = readIndex(b, static_cast<std::size_t>(charStringsAt.value));
    const std::size_t glyphs = charStrings.items.size();
    for (unsigned g : glyphOfCid)
        if (g >= glyphs) throw Malformed{};

    std::vector<std::string> strings;
    strings.reserve(glyphOfCid.size());
    for (unsigned g : glyphOfCid)
        strings.push_back(
            cff.substr(charStrings.items[g].first, charStrings.items[g].second - charStrings.items[g].first));

    // A CID-keyed program names glyph k CID k; a name-keyed one keeps each glyph's name.
    std::string charset;
    if (cidKeyed) {
        charset += static_cast<char>(2);
        if (glyphOfCid.size() > 1) {
            put16(charset, 1);
            put16(charset, static_cast<unsigned>(glyphOfCid.size() - 2));
        } else {
            charset = std::string(1, '\0');
        }
    } else {
        if (charsetAt.value <= 2) throw Malformed{};  // a predefined charset: not what the subsetter writes
        auto sids = readCharset(b, static_cast<std::size_t>(charsetAt.value), glyphs);
        charset += '\0';
        for (std::size_t k = 1; k < glyphOfCid.size(); ++k) put16(charset, sids[glyphOfCid[k]]);
    }

    std::string out = cff;
    auto append = [&](const std::string& part, const Operand& operand) {
        set32(out, operand.pos + 1, static_cast<std::uint32_t>(out.size()));
        out += part;
    };
    append(charset, charsetAt);
    if (cidKeyed) {
        const Operand& fdSelectAt = offsetOperand(ops, 1237);
        auto fds = readFdSelect(b, static_cast<std::size_t>(fdSelectAt.value), glyphs);
        std::vector<std::pair<unsigned, unsigned>> ranges;  // first glyph, FD
        for (std::size_t k = 0; k < glyphOfCid.size(); ++k) {
            unsigned fd = fds[glyphOfCid[k]];
            if (ranges.empty() || ranges.back().second != fd) ranges.emplace_back(static_cast<unsigned>(k), fd);
        }
        std::string fdSelect(1, static_cast<char>(3));
        put16(fdSelect, static_cast<unsigned>(ranges.size()));
        for (auto [first, fd] : ranges) {
            put16(fdSelect, first);
            fdSelect += static_cast<char>(fd);
        }
        put16(fdSelect, static_cast<unsigned>(glyphOfCid.size()));
        append(fdSelect, fdSelectAt);
    }
    append(writeIndex(strings), charStringsAt);
    return out;
}

std::uint32_t checksum(const std::string& table) {
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k < table.size(); k += 4) {
        std::uint32_t word = 0;
        for (std::size_t j = 0; j < 4; ++j)
            word = (word << 8) | (k + j < table.size() ? static_cast<unsigned char>(table[k + j]) : 0u);
        sum += word;
    }
    return sum;
}

constexpr std::uint32_t tag(const char (&t)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(t[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(t[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(t[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(t[3]));
}

}  // namespace

std::optional<std::string> orderGlyphsByCid(const std::string& program, const std::vector<unsigned>& glyphOfCid) {
    if (glyphOfCid.empty() || glyphOfCid[0] != 0 || glyphOfCid.size() > 0xFFFF) return std::nullopt;
    try {
        Bytes b(program);
        if (b.u32(0) != tag("OTTO")) return std::nullopt;
        unsigned count = b.u16(4);
        // Only tables that list no glyphs, or that are written again here, are kept.
        std::map<std::uint32_t, std::string> tables;
        for (unsigned k = 0; k < count; ++k) {
            std::size_t record = 12 + static_cast<std::size_t>(k) * 16;
            std::uint32_t t = b.u32(record);
            b.need(b.u32(record + 8), b.u32(record + 12));  // a damaged file is refused whole
            if (t == tag("CFF ") || t == tag("head") || t == tag("hhea") || t == tag("hmtx") || t == tag("maxp") ||
                t == tag("OS/2") || t == tag("name") || t == tag("post"))
                tables[t] = b.slice(b.u32(record + 8), b.u32(record + 12));
        }
        for (auto t : {tag("CFF "), tag("head"), tag("hhea"), tag("hmtx"), tag("maxp")})
            if (!tables.count(t)) return std::nullopt;
        auto& head = tables[tag("head")];
        auto& hhea = tables[tag("hhea")];
        auto& maxp = tables[tag("maxp")];
        if (head.size() < 54 || hhea.size() < 36 || maxp.size() < 6) return std::nullopt;
        const std::size_t glyphs = Bytes(maxp).u16(4);
        for (unsigned g : glyphOfCid)
            if (g >= glyphs) return std::nullopt;

        // Widths and left side bearings, one full entry a glyph.
        const std::string& oldMetrics = tables[tag("hmtx")];
        Bytes m(oldMetrics);
        const unsigned metrics = Bytes(hhea).u16(34);
        if (metrics == 0) return std::nullopt;
        std::string hmtx;
        for (unsigned g : glyphOfCid) {
            unsigned advance = m.u16(4 * static_cast<std::size_t>(std::min(g, metrics - 1)));
            unsigned lsb = g < metrics ? m.u16(4 * static_cast<std::size_t>(g) + 2)
                                       : m.u16(4 * static_cast<std::size_t>(metrics) + 2 * (g - metrics));
            put16(hmtx, advance);
            put16(hmtx, lsb);
        }
        tables[tag("hmtx")] = hmtx;
        set16(hhea, 34, static_cast<unsigned>(glyphOfCid.size()));
        set16(maxp, 4, static_cast<unsigned>(glyphOfCid.size()));
        auto post = tables.find(tag("post"));
        if (post != tables.end()) {
            // Glyph names of a CFF program live in its charset; a post table naming glyphs by
            // their old numbers becomes one that names none.
            if (post->second.size() < 32) {
                tables.erase(post);
            } else if (Bytes(post->second).u32(0) != 0x00030000) {
                post->second.resize(32);
                set32(post->second, 0, 0x00030000);
            }
        }
        tables[tag("CFF ")] = reorderCff(tables[tag("CFF ")], glyphOfCid);
        set32(head, 8, 0);

        // The font file again: directory, then the tables four-byte aligned in tag order.
        const auto n = static_cast<unsigned>(tables.size());
        unsigned power = 1, log = 0;
        while (power * 2 <= n) power *= 2, ++log;
        std::string out;
        put32(out, tag("OTTO"));
        put16(out, n);
        put16(out, power * 16);
        put16(out, log);
        put16(out, n * 16 - power * 16);
        std::size_t at = 12 + static_cast<std::size_t>(n) * 16;
        std::size_t headAt = 0;
        for (auto& [t, data] : tables) {
            put32(out, t);
            put32(out, checksum(data));
            put32(out, static_cast<std::uint32_t>(at));
            put32(out, static_cast<std::uint32_t>(data.size()));
            if (t == tag("head")) headAt = at;
            at += (data.size() + 3) & ~static_cast<std::size_t>(3);
        }
        for (auto& [t, data] : tables) {
            out += data;
            out.append((4 - data.size() % 4) % 4, '\0');
        }
        set32(out, headAt + 8, 0xB1B0AFBAu - checksum(out));
        return out;
    } catch (const Malformed&) {
        return std::nullopt;
    }
}

}  // namespace quill::pdf::fonts
