// FMWrapper/FMXFixPt.h: FixPt, the calculation engine's decimal number, and
// its holder.
#pragma once

#include <string>
#include <string_view>

#include "FMWrapper/FMXClient.h"

extern "C++" {
namespace fmx {

// ---------------------------------------------------------------------------
// FixPt: a decimal number as the calculation engine keeps it, from 10^-400 to
// beyond 10^400. Sums, differences and products are exact; a quotient, a root
// or a logarithm is carried to `precision` digits after the point (16 unless
// SetPrecision asks for up to 400) and a few guard digits more, so that 1/3*3
// reads back as 1. What the number shows (AsString), compares (== <) and
// converts to (AsLong) is the value rounded to `precision` places, half away
// from zero. A division by zero or a result beyond the range is "not a
// number": AsString answers "?", AsBool false.
class FixPt {
public:
    enum { kDefltFixedPrecision = 16 };
    enum { kMaxFixedPrecision = 400 };  // stand-in extra: SetPrecision's upper limit

    FixPt(int32 val = 0, int32 precision = kDefltFixedPrecision);
    FixPt(const FixPt& other, int32 precision);
    FixPt(const FixPt& other);
    FixPt& operator=(const FixPt& other);
    ~FixPt();

    void AssignFixPt(const FixPt& other);  // the value; this keeps its own precision
    void AssignInt(int32 val);
    void AssignInt64(int64 val);
    void AssignDouble(double val);  // the shortest decimal that reads back as val
    // Parses a decimal number ("-12.50", "3e2"); false (value unchanged) when the text is not one.
    bool AssignText(std::string_view decimal);  // stand-in extra

    // Digits after the point that show, 0 to 400.
    int GetPrecision() const { return precision_; }
    void SetPrecision(int precision);

    int32 AsLong() const;  // truncates toward zero, saturates at the int32 limits
    int64 AsLong64() const;
    double AsFloat() const;
    bool AsBool() const;
    // Plain decimal form, never an exponent: "12.5", "-3", "0.001",
    // "100000000000000000000"; "?" for not a number.
    std::string AsString() const;  // stand-in extra
    bool IsNumber() const;         // stand-in extra: false after a division by zero or an overflow

    void Increment(int32 n);
    void Increment64(int64 n);
    void Decrement(int32 n);
    void Decrement64(int64 n);
    void Negate();
    void Add(const FixPt& arg, FixPt& result) const;
    void Subtract(const FixPt& arg, FixPt& result) const;
    void Multiply(const FixPt& arg, FixPt& result) const;
    errcode Divide(const FixPt& arg, FixPt& result) const;  // 1 on division by zero (result unchanged)

    bool operator==(const FixPt& other) const;
    bool operator!=(const FixPt& other) const { return !(*this == other); }
    bool operator<(const FixPt& other) const;
    bool operator<=(const FixPt& other) const { return !(other < *this); }
    bool operator>(const FixPt& other) const { return other < *this; }
    bool operator>=(const FixPt& other) const { return !(*this < other); }

private:
    friend struct FixPtAccess;  // libFMWrapper's own number functions (FixPtMath.h)
    // The decimal value itself, a Boost.Multiprecision number kept in place
    // (no allocation per copy); only the library's Decimal.h knows its type.
    enum { kValueBytes = 264 };
    alignas(8) unsigned char value_[kValueBytes];
    int32 precision_ = kDefltFixedPrecision;
};

class FixPtUniquePtr : public std::unique_ptr<FixPt> {
public:
    FixPtUniquePtr(int32 val = 0, int precision = FixPt::kDefltFixedPrecision)
        : std::unique_ptr<FixPt>(new FixPt(val, precision)) {}
    FixPtUniquePtr(int32 val, const FixPt& precisionExample)
        : std::unique_ptr<FixPt>(new FixPt(val, precisionExample.GetPrecision())) {}
};

}  // namespace fmx
}
