// The coercions of NSAppleEventDescriptor's values: a descriptor read as text,
// as an integer, as a boolean or as a four-character code, from whichever
// type it holds, as the Apple Event Manager coerces them.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "AEDescStorage.h"
#include "NSAppleEventDescriptor.h"

using quill::ae::Kind;
using quill::ae::Node;
using quill::ae::nodeOf;

namespace {

template <class T>
bool readScalar(const Node& n, T& out) {
    if (n.data.size() != sizeof(T)) return false;
    std::memcpy(&out, n.data.data(), sizeof(T));
    return true;
}

char16_t swap16(char16_t c) {
    return static_cast<char16_t>(((c & 0xFF) << 8) | ((c >> 8) & 0xFF));
}

// UTF-16 units from bytes in host order (bigEndian false) or big-endian; a
// leading BOM of either order overrides. Odd sizes are refused.
std::optional<std::u16string> utf16From(const std::vector<std::uint8_t>& data, bool bigEndian) {
    if (data.size() % 2) return std::nullopt;
    std::u16string units(data.size() / 2, u'\0');
    if (!units.empty()) std::memcpy(units.data(), data.data(), data.size());
    const bool hostBig = std::endian::native == std::endian::big;
    bool swap = bigEndian != hostBig;
    if (!units.empty()) {
        char16_t first = units[0];
        if (first == 0xFEFF || first == 0xFFFE) {
            swap = first == 0xFFFE;
            units.erase(0, 1);
        }
    }
    if (swap)
        for (auto& c : units) c = swap16(c);
    return units;
}

std::optional<std::int64_t> integerOf(const Node& n) {
    SInt32 l;
    SInt16 s;
    UInt32 m;
    SInt64 c;
    switch (n.type) {
        case typeSInt32:
            if (readScalar(n, l)) return l;
            return std::nullopt;
        case typeSInt16:
            if (readScalar(n, s)) return s;
            return std::nullopt;
        case typeUInt32:
            if (readScalar(n, m)) return m;
            return std::nullopt;
        case typeSInt64:
            if (readScalar(n, c)) return c;
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<bool> booleanOf(const Node& n) {
    if (n.type == typeTrue) return true;
    if (n.type == typeFalse) return false;
    if (n.type == typeBoolean && n.data.size() == 1) return n.data[0] != 0;
    return std::nullopt;
}

std::string fourChars(OSType code) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return s;
}

NSStringOrNil textOf(const Node& n) {
    switch (n.kind()) {
        case Kind::List:
            if (n.items.size() == 1) return textOf(n.items[0].value);
            return std::nullopt;
        case Kind::Record:
        case Kind::Event:
            return std::nullopt;
        case Kind::Scalar:
            break;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(n.data.data()), n.data.size());
    switch (n.type) {
        case typeUnicodeText:
            if (auto u = utf16From(n.data, false)) return NSString(std::move(*u));
            return std::nullopt;
        case typeUTF16ExternalRepresentation:
            if (auto u = utf16From(n.data, true)) return NSString(std::move(*u));
            return std::nullopt;
        case typeUTF8Text:
            if (auto u = quill::utf::utf8ToUtf16(bytes)) return NSString(std::move(*u));
            return std::nullopt;
        case typeChar: {
            if (auto u = quill::utf::utf8ToUtf16(bytes)) return NSString(std::move(*u));
            std::u16string latin1(bytes.begin(), bytes.end());  // each byte is its own code point
            for (std::size_t i = 0; i < bytes.size(); ++i) latin1[i] = static_cast<unsigned char>(bytes[i]);
            return NSString(std::move(latin1));
        }
        case typeEnumerated:
        case typeType: {
            OSType code;
            if (!readScalar(n, code)) return std::nullopt;
            return NSStr(fourChars(code));
        }
        case typeIEEE64BitFloatingPoint: {
            double d;
            if (!readScalar(n, d) || !std::isfinite(d)) return std::nullopt;
            char buf[64];
            auto r = std::to_chars(buf, buf + sizeof buf, d);
            return NSStr(std::string(buf, r.ptr));
        }
        default:
            break;
    }
    if (auto i = integerOf(n)) return NSStr(std::to_string(*i));
    if (auto b = booleanOf(n)) return NSStr(*b ? "true" : "false");
    return std::nullopt;
}

// A whole text holding a decimal integer (white space around it allowed).
std::optional<std::int64_t> parseInteger(const std::u16string& units) {
    std::string s;
    for (char16_t c : units) {
        if (c > 0x7F) return std::nullopt;
        s.push_back(static_cast<char>(c));
    }
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    if (b < e && s[b] == '+') ++b;
    std::int64_t v = 0;
    auto r = std::from_chars(s.data() + b, s.data() + e, v);
    if (r.ec != std::errc() || r.ptr != s.data() + e || b == e) return std::nullopt;
    return v;
}

std::optional<std::int64_t> int64Of(const Node& n) {
    if (n.kind() == Kind::List) {
        if (n.items.size() == 1) return int64Of(n.items[0].value);
        return std::nullopt;
    }
    if (n.kind() != Kind::Scalar) return std::nullopt;
    if (auto i = integerOf(n)) return i;
    if (auto b = booleanOf(n)) return *b ? 1 : 0;
    if (n.type == typeIEEE64BitFloatingPoint) {
        double d;
        if (!readScalar(n, d) || !std::isfinite(d) || std::fabs(d) > 9.0e18) return std::nullopt;
        return static_cast<std::int64_t>(std::llround(d));
    }
    if (n.type == typeUnicodeText || n.type == typeUTF8Text || n.type == typeChar ||
        n.type == typeUTF16ExternalRepresentation) {
        if (auto t = textOf(n)) return parseInteger(t->units());
    }
    return std::nullopt;
}

}  // namespace

NSStringOrNil NSAppleEventDescriptor::stringValue() const {
    try {
        return textOf(nodeOf(desc_));
    } catch (...) {
        return std::nullopt;
    }
}

SInt32 NSAppleEventDescriptor::int32Value() const {
    try {
        auto v = int64Of(nodeOf(desc_));
        if (!v || *v < std::numeric_limits<SInt32>::min() || *v > std::numeric_limits<SInt32>::max()) return 0;
        return static_cast<SInt32>(*v);
    } catch (...) {
        return 0;
    }
}

Boolean NSAppleEventDescriptor::booleanValue() const {
    try {
        Node n = nodeOf(desc_);
        if (n.kind() == Kind::List && n.items.size() == 1) {
            Node item = std::move(n.items[0].value);  // not n = n.items[0].value: that frees its own source
            n = std::move(item);
        }
        if (auto b = booleanOf(n)) return *b;
        if (auto i = integerOf(n)) return *i != 0;
        if (auto t = textOf(n)) {
            const std::string s = t->lowercaseString().UTF8String();
            if (s == "true" || s == "yes") return 1;
            if (s == "false" || s == "no") return 0;
            if (auto i = parseInteger(t->units())) return *i != 0;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

OSType NSAppleEventDescriptor::typeCodeValue() const {
    if (quill::ae::kindOf(desc_.descriptorType) != Kind::Scalar || !desc_.dataHandle) return 0;
    OSType code = 0;
    if (!readScalar(desc_.dataHandle->node, code)) return 0;
    return code;
}
OSType NSAppleEventDescriptor::enumCodeValue() const {
    return typeCodeValue();
}
