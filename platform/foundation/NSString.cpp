// NSString: UTF-16 strings with the Foundation operations the plug-ins use.
#include "NSString.h"

#include <algorithm>
#include <climits>
#include <cwctype>

namespace quill::utf {

namespace {
void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes one code point at in[i]; returns false on an invalid sequence and
// always advances i by at least one byte.
bool decodeOne(std::string_view in, std::size_t& i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(in[i]);
    if (b0 < 0x80) {
        cp = b0;
        ++i;
        return true;
    }
    int extra;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        ++i;
        return false;
    }
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= in.size()) {
            ++i;
            return false;
        }
        const auto b = static_cast<unsigned char>(in[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return false;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += extra + 1;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    return true;
}
}  // namespace

std::optional<std::u16string> utf8ToUtf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        char32_t cp;
        if (!decodeOne(in, i, cp)) return std::nullopt;
        appendUtf16(out, cp);
    }
    return out;
}

std::u16string utf8ToUtf16Lenient(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        char32_t cp;
        appendUtf16(out, decodeOne(in, i, cp) ? cp : 0xFFFD);
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
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

NSComparisonResult NSString::compare(const NSString& other) const {
    const int c = units_.compare(other.units_);
    return c < 0 ? NSOrderedAscending : (c > 0 ? NSOrderedDescending : NSOrderedSame);
}

NSString NSString::lowercaseString() const {
    std::u16string out = units_;
    for (auto& u : out) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
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
int hexValue(char16_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
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
    std::string bytes;
    const std::string utf8 = UTF8String();
    // Work on UTF-8 so that escaped multi-byte sequences join up with plain text.
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '%') {
            bytes.push_back(utf8[i]);
            continue;
        }
        if (i + 2 >= utf8.size()) return std::nullopt;
        const int hi = hexValue(static_cast<unsigned char>(utf8[i + 1]));
        const int lo = hexValue(static_cast<unsigned char>(utf8[i + 2]));
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    if (enc == NSASCIIStringEncoding)
        for (unsigned char c : bytes)
            if (c >= 0x80) return std::nullopt;
    return fromUTF8(bytes);
}
