// FMWrapper/FMXTypes.h: QuadChar (a plug-in's four-character id) and Locale,
// with their holders.
#pragma once

#include <string>

#include "FMWrapper/FMXClient.h"

extern "C++" {
namespace fmx {

// ---------------------------------------------------------------------------
// QuadChar: four characters naming a plug-in ("TORV").
class QuadChar {
public:
    QuadChar& operator=(const QuadChar& other) = default;
    uchar operator[](int i) const { return static_cast<uchar>(chars_[i & 3]); }
    uchar& operator[](int i) { return reinterpret_cast<uchar&>(chars_[i & 3]); }
    bool operator==(const QuadChar& other) const;
    bool operator!=(const QuadChar& other) const { return !(*this == other); }
    bool operator<(const QuadChar& other) const { return AsLong() < other.AsLong(); }
    bool operator<=(const QuadChar& other) const { return !(other < *this); }
    bool operator>(const QuadChar& other) const { return other < *this; }
    bool operator>=(const QuadChar& other) const { return !(*this < other); }
    // First character in the high byte, as a four-character code.
    uint32 GetMacType() const { return AsLong(); }
    void SetMacType(uint32 value) {
        for (int i = 0; i < 4; ++i) chars_[i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
    }

    // Stand-in extras for the host and tests.
    uint32 AsLong() const;
    void SetValue(const QuadChar& other) { *this = other; }
    std::string ToString() const { return std::string(chars_, 4); }

    FMX_STANDIN_CONSTRUCTION : QuadChar() = default;
    QuadChar(char c0, char c1, char c2, char c3) : chars_{c0, c1, c2, c3} {}
    QuadChar(const QuadChar& other) = default;

private:
    friend class QuadCharUniquePtr;
    char chars_[4] = {0, 0, 0, 0};
};

// ---------------------------------------------------------------------------
// Locale: which collation and formatting rules a value carries. This stand-in
// formats every locale the same way (M/D/YYYY dates, "." decimal point).
class Locale {
public:
    enum Type {
        kType_None = 0,
        kType_System = 1,
        kType_UnicodeRaw = 2,
        kType_UnicodeStandard = 3,
        kType_Catalog = 4,
        kType_CAT = 16,
        kType_HRV = 17,
        kType_CES = 18,
        kType_DAN = 19,
        kType_NLD = 20,
        kType_ENG = 21,
        kType_FIN = 22,
        kType_Invalid = 0xFFFF
    };
    Locale& operator=(const Locale& other) = default;

    // Stand-in extras for the host and tests.
    Type GetType() const { return type_; }
    void Assign(const Locale& other) { type_ = other.type_; }
    bool operator==(const Locale& other) const { return type_ == other.type_; }

    FMX_STANDIN_CONSTRUCTION : Locale(Type type = kType_System) : type_(type) {}
    Locale(const Locale& other) = default;

private:
    friend class LocaleUniquePtr;
    friend class Data;  // holds its locale by value
    Type type_;
};

class QuadCharUniquePtr : public std::unique_ptr<QuadChar> {
public:
    QuadCharUniquePtr() : std::unique_ptr<QuadChar>(new QuadChar()) {}
    QuadCharUniquePtr(char c0, char c1, char c2, char c3) : std::unique_ptr<QuadChar>(new QuadChar(c0, c1, c2, c3)) {}
    QuadCharUniquePtr(const QuadChar& value) : std::unique_ptr<QuadChar>(new QuadChar(value)) {}
};

class LocaleUniquePtr : public std::unique_ptr<Locale> {
public:
    LocaleUniquePtr(Locale::Type inputType = Locale::kType_System) : std::unique_ptr<Locale>(new Locale(inputType)) {}
    LocaleUniquePtr(const Locale& copyConstruct) : std::unique_ptr<Locale>(new Locale(copyConstruct)) {}
};

}  // namespace fmx
}
