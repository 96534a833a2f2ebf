// NSString: the Foundation string as both plug-ins use it — an immutable run
// of UTF-16 code units with the handful of operations the plug-ins call.
//
// Value type. A Foundation "nil" string is spelled std::optional<NSString>
// (NSStringOrNil); operations that can fail to produce a string return one.
// Thread-compatible: no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using NSStringEncoding = unsigned long;
inline constexpr NSStringEncoding NSASCIIStringEncoding = 1;
inline constexpr NSStringEncoding NSUTF8StringEncoding = 4;

using NSUInteger = std::size_t;
using NSInteger = long;
using unichar = char16_t;

enum NSComparisonResult : NSInteger { NSOrderedAscending = -1, NSOrderedSame = 0, NSOrderedDescending = 1 };

inline constexpr NSUInteger NSNotFound = static_cast<NSUInteger>(-1);

class NSString {
public:
    NSString() = default;
    explicit NSString(std::u16string units) : units_(std::move(units)) {}

    // Exactly `length` units from `chars` (chars may be null when length is 0).
    static NSString stringWithCharacters(const unichar* chars, NSUInteger length);
    // Decodes UTF-8; nil when the bytes are not valid UTF-8 or the pointer is null.
    static std::optional<NSString> stringWithUTF8String(const char* utf8);
    static std::optional<NSString> fromUTF8(std::string_view utf8);

    NSUInteger length() const { return units_.size(); }
    unichar characterAtIndex(NSUInteger i) const { return units_.at(i); }
    const std::u16string& units() const { return units_; }

    // UTF-8 form. A lone surrogate becomes U+FFFD.
    std::string UTF8String() const;
    // The bytes of the path this string names, as the file system takes them: its UTF-8 form,
    // except that a lone surrogate U+DC80..U+DCFF stands for the byte 0x80..0xFF itself. A
    // file name that is no UTF-8 (a Latin-1 folder name, say) thus travels as a string and
    // comes back byte for byte; any other lone surrogate becomes U+FFFD.
    std::string fileSystemRepresentation() const;

    // Unit-by-unit comparison, as Foundation's literal compare.
    NSComparisonResult compare(const NSString& other) const;
    bool isEqualToString(const NSString& other) const { return units_ == other.units_; }
    bool operator==(const NSString& other) const = default;

    NSString lowercaseString() const;
    NSString substringFromIndex(NSUInteger index) const;  // clamps to the end
    bool hasPrefix(const NSString& p) const;
    bool hasSuffix(const NSString& s) const;
    // Position of the first occurrence, or NSNotFound.
    NSUInteger rangeOfString(const NSString& s) const;
    std::vector<NSString> componentsSeparatedByString(const NSString& sep) const;

    // Leading white space, an optional sign, then decimal digits up to the
    // first other character; 0 when there are none. Saturates at the limits.
    NSInteger integerValue() const;

    // Percent-escapes every character that may not stand in a URL as it is,
    // and also "%", "#" and "?" so that the escaped text always names the same
    // file again. With NSASCIIStringEncoding a text holding any non-ASCII
    // character cannot be escaped: nil. With NSUTF8StringEncoding non-ASCII
    // characters are escaped byte by byte.
    std::optional<NSString> stringByAddingPercentEscapesUsingEncoding(NSStringEncoding enc) const;
    // Replaces "%XX" escapes; nil when an escape is malformed or the bytes do
    // not decode in the encoding.
    std::optional<NSString> stringByReplacingPercentEscapesUsingEncoding(NSStringEncoding enc) const;

private:
    std::u16string units_;
};

using NSStringOrNil = std::optional<NSString>;

// Convenience for literals in our own code: NSString from UTF-8 that is known
// to be valid (invalid bytes become U+FFFD).
NSString NSStr(std::string_view utf8);

// UTF conversions shared by the stand-ins.
namespace quill::utf {
// Strict: nullopt on invalid UTF-8 (overlongs, surrogates, > U+10FFFF).
std::optional<std::u16string> utf8ToUtf16(std::string_view in);
// Lenient: invalid sequences become U+FFFD.
std::u16string utf8ToUtf16Lenient(std::string_view in);
// Lone surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view in);
// Path bytes to UTF-16: what is UTF-8 decodes as such, and each byte of an ill-formed sequence
// becomes the lone surrogate U+DC00 + byte (NSString::fileSystemRepresentation's inverse).
std::u16string fileSystemBytesToUtf16(std::string_view bytes);
}  // namespace quill::utf
