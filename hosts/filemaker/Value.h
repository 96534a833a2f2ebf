// Values of the calculation language: fmx::Data made and read the way
// FileMaker's calculation engine treats them (text, number, date, time,
// timestamp), plus the value-list and decimal helpers the built-ins share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FMWrapper.h"

namespace fm_host::value {

fmx::Data text(std::u16string_view units);
fmx::Data textUtf8(std::string_view utf8);
fmx::Data number(const fmx::FixPt& n);
fmx::Data number(std::int64_t n);
fmx::Data boolean(bool b);
fmx::Data date(const fmx::DateTime& d);
fmx::Data timestamp(const fmx::DateTime& d);
fmx::Data empty();

// Number parsed from decimal text ("-12.5"); an empty value when it is not one.
fmx::Data numberFromDecimal(const std::string& decimal);

std::u16string units(const fmx::Data& v);
std::string utf8(const fmx::Data& v);
bool isEmpty(const fmx::Data& v);
// Number, date, time, timestamp or boolean: compared and added as numbers.
bool isNumeric(const fmx::Data& v);
bool isDateLike(const fmx::Data& v);
// FileMaker's truth: a value is true when the number in it is not zero.
bool truth(const fmx::Data& v);
std::int64_t integer(const fmx::Data& v);  // the number, truncated toward zero

// FileMaker's comparison: numbers (and dates) by value, otherwise text
// without regard to case. Negative, zero or positive.
int compare(const fmx::Data& a, const fmx::Data& b);

std::u16string lower(std::u16string_view s);
bool equalsIgnoringCase(std::u16string_view a, std::u16string_view b);

// A return-separated list: values split at CR (and LF); the final return
// does not start a further value.
std::vector<std::u16string> splitValues(std::u16string_view list);
// Values joined with a return after each one, as FileMaker's value functions answer.
std::u16string joinValues(const std::vector<std::u16string>& values);

// Decimal rounding on the number's exact decimal text.
enum class Rounding { HalfAwayFromZero, TowardZero, Floor };
fmx::FixPt roundDecimal(const fmx::FixPt& n, int places, Rounding mode);

// Quotient of two numbers worked out in decimal (never through a double), so
// 1/3 is .3333333333333333 and 10/3 ends in 3, not in a binary 5. REQUIRES: y
// is not zero.
fmx::FixPt divide(const fmx::FixPt& x, const fmx::FixPt& y);

// The result n of x op y as the calculation carries it on. When an operand
// was itself cut at the 16th digit (1/3 is .3333333333333333) and only the
// carry of the last digits stands between n and a short number (1/3*3 is
// .9999999999999999), the short number; otherwise n unchanged.
fmx::FixPt tidy(const fmx::FixPt& n, const fmx::FixPt& x, const fmx::FixPt& y);

// Text counted in characters (code points), not UTF-16 units: an emoji is one.
std::u32string codePoints(std::u16string_view units);
std::u16string fromCodePoints(std::u32string_view cps);

}  // namespace fm_host::value
