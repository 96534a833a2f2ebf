// FMWrapper/FMXText.h: Text, a run of UTF-16 code units, and its holder.
// Positions and sizes count UTF-16 units (a character outside the BMP counts two).
#pragma once

#include <string>
#include <string_view>

#include "FMWrapper/FMXClient.h"

extern "C++" {
namespace fmx {

class Text {
public:
    enum Encoding {
        kEncoding_Native = 0,  // UTF-8 on this platform
        kEncoding_UTF8 = 1,
        kEncoding_ASCII_DOS = 2,
        kEncoding_ASCII_Windows = 3,
        kEncoding_ASCII_Mac = 4,
        kEncoding_ISO_8859_1 = 5,
        kEncoding_ShiftJIS_Mac = 6,
        kEncoding_ShiftJIS_Win = 7,
        kEncoding_Korean_Mac = 8,
        kEncoding_Korean_Win = 9,
        kEncoding_Korean_Johab = 10,
        kEncoding_ChineseTrad_Mac = 11,
        kEncoding_ChineseTrad_Win = 12,
        kEncoding_ChineseSimp_Mac = 13,
        kEncoding_ChineseSimp_Win = 14,
        kEncoding_Cyrillic_Mac = 15,
        kEncoding_Cyrillic_Win = 16,
        kEncoding_ISO_8859_5 = 17,
        kEncoding_CentralEurope_Mac = 18,
        kEncoding_EasternEurope_Win = 19,
        kEncoding_ISO_8859_2 = 20,
        kEncoding_Turkish_Mac = 21,
        kEncoding_Turkish_Win = 22,
        kEncoding_ISO_8859_3 = 23,
        kEncoding_ISO_8859_9 = 24,
        kEncoding_Baltic_Win = 25,
        kEncoding_ISO_8859_4 = 26,
        kEncoding_Arabic_Mac = 27,
        kEncoding_Arabic_Win = 28,
        kEncoding_ISO_8859_6 = 29,
        kEncoding_Greek_Mac = 30,
        kEncoding_Greek_Win = 31,
        kEncoding_ISO_8859_7 = 32,
        kEncoding_Hebrew_Mac = 33,
        kEncoding_Hebrew_Win = 34,
        kEncoding_ISO_8859_8 = 35,
        kEncoding_ISO_8859_15 = 36
    };
    enum : uint32 { kSize_Invalid = 0xFFFFFFFF, kSize_End = 0xFFFFFFFF };

    uint32 GetSize() const { return static_cast<uint32>(units_.size()); }
    // Copies `size` units from `position` (clamped to the text), without a terminator.
    void GetUnicode(uint16* buffer, uint32 position, uint32 size) const;
    // Converts units [position, position+size) and writes at most bufferSize-1
    // bytes plus a terminating 0 (nothing at all when bufferSize is 0). A
    // character that does not fit whole is left out. ASCII encodings give "?"
    // for characters they cannot hold; ISO 8859-1 holds U+0000..U+00FF; every
    // other encoding is written as UTF-8.
    void GetBytes(char* buffer, uint32 bufferSize, uint32 position = 0, uint32 size = kSize_End,
                  Encoding encoding = kEncoding_Native) const;
    // A NUL-terminated byte string in the given encoding (null: empty text).
    // Invalid UTF-8 becomes U+FFFD.
    void Assign(const char* s, Encoding encoding = kEncoding_Native);
    void AssignWithLength(const char* s, uint32 strlength, Encoding encoding = kEncoding_Native);
    // Zero-terminated UTF-16 (null: empty text).
    void AssignUnicode(const uint16* s);
    void AssignUnicodeWithLength(const uint16* s, uint32 strlength);
    // this = the units [position, position+size) of source.
    void SetText(const Text& source, uint32 position = 0, uint32 size = kSize_End);
    void AppendText(const Text& source, uint32 position = 0, uint32 size = kSize_End);
    void InsertText(const Text& source, uint32 position);
    void DeleteText(uint32 position, uint32 size = kSize_End);
    // Position of the first occurrence at or after `position`, or kSize_Invalid.
    uint32 Find(const Text& pattern, uint32 position) const;
    uint32 FindIgnoringCase(const Text& pattern, uint32 position) const;
    void Uppercase();
    void Lowercase();

    // Comparison of raw Unicode values.
    bool operator==(const Text& other) const { return units_ == other.units_; }
    bool operator!=(const Text& other) const { return units_ != other.units_; }
    bool operator<(const Text& other) const { return units_ < other.units_; }
    bool operator<=(const Text& other) const { return units_ <= other.units_; }
    bool operator>(const Text& other) const { return units_ > other.units_; }
    bool operator>=(const Text& other) const { return units_ >= other.units_; }

#if defined(FMX_STANDIN_HOST)
    // Stand-in extras for the host and tests: the units as char16_t.
    void GetUnicode(char16_t* buffer, uint32 position, uint32 size) const {
        GetUnicode(reinterpret_cast<uint16*>(buffer), position, size);
    }
    void AssignUnicode(const char16_t* s) {
        AssignUnicode(reinterpret_cast<const uint16*>(s));
    }
    void AssignUnicodeWithLength(const char16_t* s, uint32 strlength) {
        AssignUnicodeWithLength(reinterpret_cast<const uint16*>(s), strlength);
    }
    std::u16string_view View() const {
        return units_;
    }
    std::string ToUTF8() const;
    static Text FromUTF8(std::string_view utf8);
#endif

    FMX_STANDIN_CONSTRUCTION : Text() = default;
    Text(const Text& source) = default;
    Text& operator=(const Text& source) = default;  // Data copies its text (clang: -Wdeprecated-copy)

private:
    friend class TextUniquePtr;
    friend class Data;  // holds its text by value
    std::u16string units_;
};

class TextUniquePtr : public std::unique_ptr<Text> {
public:
    TextUniquePtr() : std::unique_ptr<Text>(new Text()) {}
};

}  // namespace fmx
}
