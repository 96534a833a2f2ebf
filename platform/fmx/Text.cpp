// fmx::Text and fmx::QuadChar: UTF-16 text with byte encodings at the edges.
#include "FMWrapper.h"

#include <algorithm>
#include <cstring>

#include "Unicode.h"

namespace fmx {

uint32 QuadChar::AsLong() const {
    return (static_cast<uint32>(static_cast<uchar>(chars_[0])) << 24) |
           (static_cast<uint32>(static_cast<uchar>(chars_[1])) << 16) |
           (static_cast<uint32>(static_cast<uchar>(chars_[2])) << 8) |
           static_cast<uint32>(static_cast<uchar>(chars_[3]));
}

bool QuadChar::operator==(const QuadChar& other) const {
    return std::memcmp(chars_, other.chars_, 4) == 0;
}

namespace {

// Clamps [position, position+size) to a text of `length` units.
std::pair<std::size_t, std::size_t> clampRange(std::size_t length, uint32 position, uint32 size) {
    const std::size_t from = std::min<std::size_t>(position, length);
    const std::size_t count = std::min<std::size_t>(size, length - from);
    return {from, count};
}

// Simple one-to-one case mapping for the scripts plug-in texts commonly hold
// (Latin, Greek, Cyrillic). Special casings that change length are left alone.
char16_t toLower(char16_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x178 && c != 0x17F) {
        // Latin Extended-A pairs: even upper/odd lower, except 0x139..0x148 and 0x179..0x17E (odd upper).
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
        return (c & 1) ? c : static_cast<char16_t>(c + 1);
    }
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    return c;
}

char16_t toUpper(char16_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x178 && c != 0x17F) {
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper) return (c & 1) ? c : static_cast<char16_t>(c - 1);
        return (c & 1) ? static_cast<char16_t>(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 32);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
    return c;
}

bool isAsciiEncoding(Text::Encoding e) {
    return e == Text::kEncoding_ASCII_DOS || e == Text::kEncoding_ASCII_Windows || e == Text::kEncoding_ASCII_Mac;
}

}  // namespace

void Text::GetUnicode(uint16* buffer, uint32 position, uint32 size) const {
    if (!buffer) return;
    const auto [from, count] = clampRange(units_.size(), position, size);
    std::copy_n(units_.data() + from, count, buffer);
}

void Text::GetBytes(char* buffer, uint32 bufferSize, uint32 position, uint32 size, Encoding encoding) const {
    if (!buffer || bufferSize == 0) return;
    const auto [from, count] = clampRange(units_.size(), position, size);
    const std::u16string_view part(units_.data() + from, count);
    std::size_t used = 0;
    const std::size_t room = bufferSize - 1;
    if (isAsciiEncoding(encoding) || encoding == kEncoding_ISO_8859_1) {
        const char16_t limit = encoding == kEncoding_ISO_8859_1 ? 0xFF : 0x7F;
        for (std::size_t i = 0; i < part.size() && used < room; ++i) {
            const char16_t c = part[i];
            std::size_t n = 1;
            quill::unicode::codePointAt(part, i, &n);
            i += n - 1;  // a pair is one character: one '?'
            buffer[used++] = c <= limit ? static_cast<char>(c) : '?';
        }
    } else {
        for (std::size_t i = 0; i < part.size(); ++i) {
            std::size_t n = 1;
            quill::unicode::codePointAt(part, i, &n);
            const std::string bytes = quill::unicode::utf16ToUtf8(part.substr(i, n));
            if (used + bytes.size() > room) break;
            std::memcpy(buffer + used, bytes.data(), bytes.size());
            used += bytes.size();
            i += n - 1;
        }
    }
    buffer[used] = '\0';
}

void Text::Assign(const char* s, Encoding encoding) {
    if (!s) {
        units_.clear();
        return;
    }
    AssignWithLength(s, static_cast<uint32>(std::strlen(s)), encoding);
}

void Text::AssignWithLength(const char* s, uint32 strlength, Encoding encoding) {
    units_.clear();
    if (!s) return;
    const std::string_view bytes(s, strlength);
    if (isAsciiEncoding(encoding) || encoding == kEncoding_ISO_8859_1) {
        for (unsigned char b : bytes)
            units_.push_back(encoding == kEncoding_ISO_8859_1 || b < 0x80 ? static_cast<char16_t>(b) : u'\uFFFD');
    } else {
        units_ = quill::unicode::utf8ToUtf16(bytes);
    }
}

void Text::AssignUnicode(const uint16* s) {
    units_.clear();
    if (s) units_ = reinterpret_cast<const char16_t*>(s);
}

void Text::AssignUnicodeWithLength(const uint16* s, uint32 strlength) {
    units_.clear();
    if (s) units_.assign(reinterpret_cast<const char16_t*>(s), strlength);
}

void Text::SetText(const Text& source, uint32 position, uint32 size) {
    const auto [from, count] = clampRange(source.units_.size(), position, size);
    units_ = source.units_.substr(from, count);  // safe when source is *this
}

void Text::AppendText(const Text& source, uint32 position, uint32 size) {
    const auto [from, count] = clampRange(source.units_.size(), position, size);
    units_ += source.units_.substr(from, count);
}

void Text::InsertText(const Text& source, uint32 position) {
    const std::size_t at = std::min<std::size_t>(position, units_.size());
    units_.insert(at, std::u16string(source.units_));
}

void Text::DeleteText(uint32 position, uint32 size) {
    const auto [from, count] = clampRange(units_.size(), position, size);
    units_.erase(from, count);
}

uint32 Text::Find(const Text& pattern, uint32 position) const {
    if (position > units_.size()) return kSize_Invalid;
    const auto at = units_.find(pattern.units_, position);
    return at == std::u16string::npos ? kSize_Invalid : static_cast<uint32>(at);
}

uint32 Text::FindIgnoringCase(const Text& pattern, uint32 position) const {
    if (position > units_.size()) return kSize_Invalid;
    std::u16string hay = units_, needle = pattern.units_;
    std::transform(hay.begin(), hay.end(), hay.begin(), toLower);
    std::transform(needle.begin(), needle.end(), needle.begin(), toLower);
    const auto at = hay.find(needle, position);
    return at == std::u16string::npos ? kSize_Invalid : static_cast<uint32>(at);
}

void Text::Uppercase() {
    std::transform(units_.begin(), units_.end(), units_.begin(), toUpper);
}
void Text::Lowercase() {
    std::transform(units_.begin(), units_.end(), units_.begin(), toLower);
}

std::string Text::ToUTF8() const {
    return quill::unicode::utf16ToUtf8(units_);
}

Text Text::FromUTF8(std::string_view utf8) {
    Text t;
    t.units_ = quill::unicode::utf8ToUtf16(utf8);
    return t;
}

}  // namespace fmx
