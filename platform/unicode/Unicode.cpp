// The conversions over ICU's macros (header-only: no ICU data, no library call).
#include "Unicode.h"

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace quill::unicode {

namespace {

// ICU's macros read bytes as uint8_t.
const std::uint8_t* bytesOf(std::string_view s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

// One step of UTF-8 decoding from s[i]: the code point, or a negative value for an ill-formed
// sequence (its maximal subpart consumed).
UChar32 nextUtf8(std::string_view s, std::size_t& i) {
    const std::uint8_t* b = bytesOf(s);
    const std::size_t n = s.size();
    UChar32 c;
    U8_NEXT(b, i, n, c);
    return c;
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const UChar32 c = nextUtf8(utf8, i);
        appendUtf16(out, c < 0 ? kReplacement : static_cast<char32_t>(c));
    }
    return out;
}

std::optional<std::u16string> utf8ToUtf16Strict(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const UChar32 c = nextUtf8(utf8, i);
        if (c < 0) return std::nullopt;
        appendUtf16(out, static_cast<char32_t>(c));
    }
    return out;
}

bool isUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();)
        if (nextUtf8(bytes, i) < 0) return false;
    return true;
}

std::size_t utf8CharLength(std::string_view bytes, std::size_t at) {
    if (at >= bytes.size()) return 0;
    std::size_t i = at;
    return nextUtf8(bytes, i) < 0 ? 0 : i - at;
}

std::string utf16ToUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size();) {
        std::size_t n = 0;
        const char32_t c = codePointAt(units, i, &n);
        appendUtf8(out, c);  // a lone surrogate is written as U+FFFD
        i += n;
    }
    return out;
}

std::u32string utf16ToUtf32(std::u16string_view units) {
    std::u32string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size();) {
        std::size_t n = 0;
        out.push_back(codePointAt(units, i, &n));
        i += n;
    }
    return out;
}

std::u32string utf8ToUtf32(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const UChar32 c = nextUtf8(utf8, i);
        out.push_back(c < 0 ? kReplacement : static_cast<char32_t>(c));
    }
    return out;
}

char32_t codePointAt(std::u16string_view units, std::size_t at, std::size_t* length) {
    std::size_t i = at;
    UChar32 c;
    U16_NEXT(units.data(), i, units.size(), c);
    if (length) *length = i - at;
    return static_cast<char32_t>(c);
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (U_IS_SURROGATE(c) || c > 0x10FFFF) c = kReplacement;
    if (U16_LENGTH(c) == 1) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        out.push_back(static_cast<char16_t>(U16_LEAD(c)));
        out.push_back(static_cast<char16_t>(U16_TRAIL(c)));
    }
}

void appendUtf8(std::string& out, char32_t c) {
    if (U_IS_SURROGATE(c) || c > 0x10FFFF) c = kReplacement;
    std::uint8_t buf[U8_MAX_LENGTH];
    std::size_t n = 0;
    U8_APPEND_UNSAFE(buf, n, c);
    out.append(reinterpret_cast<const char*>(buf), n);
}

std::u16string utf32ToUtf16(std::u32string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char32_t c : text) appendUtf16(out, c);
    return out;
}

bool isSurrogate(char32_t c) {
    return U_IS_SURROGATE(c);
}

bool isLeadSurrogate(char32_t c) {
    return U16_IS_LEAD(c);
}

bool isTrailSurrogate(char32_t c) {
    return U16_IS_TRAIL(c);
}

char32_t joinSurrogates(char32_t lead, char32_t trail) {
    return static_cast<char32_t>(U16_GET_SUPPLEMENTARY(lead, trail));
}

}  // namespace quill::unicode
