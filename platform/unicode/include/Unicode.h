// UTF-8, UTF-16 and code points, one way of converting for the whole tree.
// Ill-formed input is never an error here unless asked for: each maximal
// ill-formed subsequence (as the Unicode standard counts them) becomes one
// U+FFFD, and a surrogate that is not half of a pair becomes U+FFFD when
// written out as UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quill::unicode {

inline constexpr char32_t kReplacement = 0xFFFD;

// UTF-8 to UTF-16; ill-formed sequences become U+FFFD.
std::u16string utf8ToUtf16(std::string_view utf8);
// Strict: nullopt on any ill-formed sequence (overlongs, surrogates, beyond U+10FFFF, cut short).
std::optional<std::u16string> utf8ToUtf16Strict(std::string_view utf8);
// Whether the bytes are well-formed UTF-8 throughout.
bool isUtf8(std::string_view bytes);
// The byte length of the well-formed character starting at bytes[at]; 0 when none starts there.
std::size_t utf8CharLength(std::string_view bytes, std::size_t at);

// UTF-16 to UTF-8; lone surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view units);
// The code points of UTF-16 text, pairs joined; a lone surrogate stays as it is.
std::u32string utf16ToUtf32(std::u16string_view units);
// UTF-8 to code points (ill-formed sequences become U+FFFD).
std::u32string utf8ToUtf32(std::string_view utf8);
// The code point at units[at] (a pair joined, a lone surrogate as it is) and how many units it takes.
char32_t codePointAt(std::u16string_view units, std::size_t at, std::size_t* length = nullptr);

// Appends one code point; a surrogate or anything beyond U+10FFFF is written as U+FFFD.
void appendUtf16(std::u16string& out, char32_t c);
void appendUtf8(std::string& out, char32_t c);
// Code points to UTF-16 (each as appendUtf16 writes it).
std::u16string utf32ToUtf16(std::u32string_view text);

// The surrogate tests, for code that walks UTF-16 itself.
bool isSurrogate(char32_t c);
bool isLeadSurrogate(char32_t c);
bool isTrailSurrogate(char32_t c);
// The code point of a lead and a trail surrogate.
char32_t joinSurrogates(char32_t lead, char32_t trail);

// The value of an ASCII hexadecimal digit of either case, -1 for anything else. A plain char
// above ASCII converts to a value far outside the digits, so it too gives -1.
constexpr int hexValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
    return -1;
}

}  // namespace quill::unicode
