// NSString: UTF-16 strings with the Foundation operations the plug-ins use.
#include "NSString.h"

#include "PercentEscapes.h"
#include "Unicode.h"

#include <algorithm>
#include <climits>
#include <cwctype>

// The stand-ins' conversions are the tree's one text unit.
namespace quill::utf {

std::optional<std::u16string> utf8ToUtf16(std::string_view in) {
    return quill::unicode::utf8ToUtf16Strict(in);
}

std::u16string utf8ToUtf16Lenient(std::string_view in) {
    return quill::unicode::utf8ToUtf16(in);
}

std::string utf16ToUtf8(std::u16string_view in) {
    return quill::unicode::utf16ToUtf8(in);
}

}  // namespace quill::utf

NSString NSString::stringWithCharacters(const unichar* chars, NSUInteger length) {
    if (!chars || length == 0) return NSString();
    return NSString(std::u16string(chars, length));
}

std::optional<NSString> NSString::stringWithUTF8String(const char* utf8) {
    if (!utf8) return std::nullopt;
    return fromUTF8(utf8);
}

std::optional<NSString> NSString::fromUTF8(std::string_view utf8) {
    auto u = quill::utf::utf8ToUtf16(utf8);
    if (!u) return std::nullopt;
    return NSString(std::move(*u));
}

NSString NSStr(std::string_view utf8) {
    return NSString(quill::utf::utf8ToUtf16Lenient(utf8));
}

std::string NSString::UTF8String() const {
    return quill::utf::utf16ToUtf8(units_);
}

std::string NSString::fileSystemRepresentation() const {
    std::string out;
    out.reserve(units_.size());
    std::size_t at = 0;
    while (at < units_.size()) {
        const char16_t u = units_[at];
        // A trail surrogate after a lead was taken with it below: one met here stands alone.
        if (u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u - 0xDC00);
            ++at;
            continue;
        }
        std::size_t length = 1;
        const char32_t c = quill::unicode::codePointAt(units_, at, &length);
        quill::unicode::appendUtf8(out, c);
        at += length;
    }
    return out;
}

std::u16string quill::utf::fileSystemBytesToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t length = quill::unicode::utf8CharLength(bytes, at);
        if (length == 0) {
            out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[at]));
            ++at;
            continue;
        }
        out += quill::unicode::utf8ToUtf16(bytes.substr(at, length));
        at += length;
    }
    return out;
}

NSComparisonResult NSString::compare(const NSString& other) const {
    const int c = units_.compare(other.units_);
    return c < 0 ? NSOrderedAscending : (c > 0 ? NSOrderedDescending : NSOrderedSame);
}

NSString NSString::lowercaseString() const {
    std::u16string out = units_;
    for (auto& u : out) {
        if (quill::unicode::isSurrogate(u)) continue;
        if (u < 0x80) {
            if (u >= 'A' && u <= 'Z') u = static_cast<char16_t>(u + 32);
        } else {
            u = static_cast<char16_t>(std::towlower(static_cast<wint_t>(u)));
        }
    }
    return NSString(std::move(out));
}

NSString NSString::substringFromIndex(NSUInteger index) const {
    if (index >= units_.size()) return NSString();
    return NSString(units_.substr(index));
}

bool NSString::hasPrefix(const NSString& p) const {
    return units_.size() >= p.units_.size() && std::equal(p.units_.begin(), p.units_.end(), units_.begin());
}

bool NSString::hasSuffix(const NSString& s) const {
    return units_.size() >= s.units_.size() && std::equal(s.units_.rbegin(), s.units_.rend(), units_.rbegin());
}

NSUInteger NSString::rangeOfString(const NSString& s) const {
    if (s.units_.empty()) return NSNotFound;
    const auto pos = units_.find(s.units_);
    return pos == std::u16string::npos ? NSNotFound : pos;
}

std::vector<NSString> NSString::componentsSeparatedByString(const NSString& sep) const {
    std::vector<NSString> parts;
    if (sep.units_.empty()) {
        parts.push_back(*this);
        return parts;
    }
    std::size_t start = 0;
    for (;;) {
        const auto pos = units_.find(sep.units_, start);
        if (pos == std::u16string::npos) {
            parts.emplace_back(units_.substr(start));
            break;
        }
        parts.emplace_back(units_.substr(start, pos - start));
        start = pos + sep.units_.size();
    }
    return parts;
}

NSInteger NSString::integerValue() const {
    std::size_t i = 0;
    while (i < units_.size() && (units_[i] == ' ' || units_[i] == '\t' || units_[i] == '\n' || units_[i] == '\r' ||
                                 units_[i] == '\v' || units_[i] == '\f'))
        ++i;
    bool neg = false;
    if (i < units_.size() && (units_[i] == '+' || units_[i] == '-')) {
        neg = units_[i] == '-';
        ++i;
    }
    long long v = 0;
    bool saturated = false;
    for (; i < units_.size() && units_[i] >= '0' && units_[i] <= '9'; ++i) {
        if (!saturated) {
            if (v > (LLONG_MAX - (units_[i] - '0')) / 10)
                saturated = true;
            else
                v = v * 10 + (units_[i] - '0');
        }
    }
    if (saturated) return neg ? LONG_MIN : LONG_MAX;
    return static_cast<NSInteger>(neg ? -v : v);
}

namespace {
bool keepUnescaped(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '-':
        case '_':
        case '.':
        case '~':
        case '/':
        case ':':
        case '@':
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case ';':
        case '=':
            return true;
        default:
            return false;
    }
}
}  // namespace

std::optional<NSString> NSString::stringByAddingPercentEscapesUsingEncoding(NSStringEncoding enc) const {
    if (enc != NSASCIIStringEncoding && enc != NSUTF8StringEncoding) return std::nullopt;
    if (enc == NSASCIIStringEncoding)
        for (auto u : units_)
            if (u >= 0x80) return std::nullopt;
    static const char* hex = "0123456789ABCDEF";
    std::u16string out;
    for (unsigned char c : UTF8String()) {
        if (keepUnescaped(c)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(static_cast<char16_t>(hex[c >> 4]));
            out.push_back(static_cast<char16_t>(hex[c & 0xF]));
        }
    }
    return NSString(std::move(out));
}

std::optional<NSString> NSString::stringByReplacingPercentEscapesUsingEncoding(NSStringEncoding enc) const {
    if (enc != NSASCIIStringEncoding && enc != NSUTF8StringEncoding) return std::nullopt;
    // Work on UTF-8 so that escaped multi-byte sequences join up with plain text.
    const auto bytes = quill::url::percentDecode(UTF8String());
    if (!bytes) return std::nullopt;
    if (enc == NSASCIIStringEncoding)
        for (unsigned char c : *bytes)
            if (c >= 0x80) return std::nullopt;
    return fromUTF8(*bytes);
}

std::optional<std::string> quill::url::percentDecode(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = quill::unicode::hexValue(static_cast<unsigned char>(text[i + 1]));
        const int lo = quill::unicode::hexValue(static_cast<unsigned char>(text[i + 2]));
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return bytes;
}
