// FMWrapper/FMXFixPt.h: FixPt, the calculation engine's decimal number, and
// its holder.
#pragma once

#include <string>
#include <string_view>

#include "FMWrapper/FMXClient.h"

extern "C++" {
namespace fmx {

// ---------------------------------------------------------------------------
// FixPt: a decimal number as the calculation engine keeps it. Decimal text is
// held exactly (up to 18 significant digits, `precision` digits after the
// point); beyond that the value is kept as a double.
class FixPt {
public:
    enum { kDefltFixedPrecision = 16 };

    FixPt(int32 val = 0, int32 precision = kDefltFixedPrecision);
    FixPt(const FixPt& other, int32 precision);

    void AssignFixPt(const FixPt& other);
    void AssignInt(int32 val);
    void AssignInt64(int64 val);
    void AssignDouble(double val);
    // Parses a decimal number ("-12.50", "3e2"); false (value unchanged) when the text is not one.
    bool AssignText(std::string_view decimal);  // stand-in extra

    int GetPrecision() const { return precision_; }
    void SetPrecision(int precision);

    int32 AsLong() const;  // truncates toward zero, saturates at the int32 limits
    int64 AsLong64() const;
    double AsFloat() const;
    bool AsBool() const;
    // Shortest decimal form: "12.5", "-3", "0.001"; no exponent for typical values.
    std::string AsString() const;  // stand-in extra

    void Increment(int32 n);
    void Decrement(int32 n);
    void Negate();
    void Add(const FixPt& arg, FixPt& result) const;
    void Subtract(const FixPt& arg, FixPt& result) const;
    void Multiply(const FixPt& arg, FixPt& result) const;
    errcode Divide(const FixPt& arg, FixPt& result) const;  // 1 on division by zero

    bool operator==(const FixPt& other) const;
    bool operator!=(const FixPt& other) const { return !(*this == other); }
    bool operator<(const FixPt& other) const;

private:
    void normalize();
    bool neg_ = false;
    bool inexact_ = false;        // true: value_ holds the number, not the decimal fields
    std::uint64_t mantissa_ = 0;  // the digits, scaled by 10^scale_
    int32 scale_ = 0;
    double value_ = 0;
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
