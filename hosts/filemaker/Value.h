// Values of the calculation language: fmx::Data made and read the way
// FileMaker's calculation engine treats them (text, number, date, time,
// timestamp), plus the value-list helpers the built-ins share. Numbers are
// fmx::FixPt (decimal, see FMWrapper.h); their arithmetic lives there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FMWrapper.h"
#include "FixPtMath.h"

namespace fm_host::value {

fmx::Data text(std::u16string_view units);
fmx::Data textUtf8(std::string_view utf8);
fmx::Data number(const fmx::FixPt& n);
fmx::Data number(std::int64_t n);
fmx::Data boolean(bool b);
fmx::Data date(const fmx::DateTime& d);
fmx::Data timestamp(const fmx::DateTime& d);
fmx::Data time(const fmx::DateTime& d);
// A time of that many seconds; a timestamp that many seconds after 1/1/0001
// 0:00 ("?" before it or after 12/31/32767).
fmx::Data timeOfSeconds(const fmx::FixPt& seconds);
fmx::Data timestampOfSeconds(const fmx::FixPt& seconds);
fmx::Data empty();
fmx::Data questionMark();  // FileMaker's "?": the answer to an impossible number or date

// The digits after the point a calculation works to and shows: 16, or what
// the innermost SetPrecision asks for (up to 400). Single-threaded, like the host.
int precision();
class PrecisionScope {
public:
    explicit PrecisionScope(int digits);
    ~PrecisionScope();
    PrecisionScope(const PrecisionScope&) = delete;
    PrecisionScope& operator=(const PrecisionScope&) = delete;

private:
    int outer_;
};
// A zero with the calculation's precision, for a result to be written into.
fmx::FixPt zero();

// Number parsed from decimal text ("-12.5"); an empty value when it is not one.
fmx::Data numberFromDecimal(const std::string& decimal);
// A record field's value as a calculation reads it: text, except that a value
// that is a plain number (no white space) reads as a number keeping its own
// text ("007").
fmx::Data ofField(const std::string& utf8);

std::u16string units(const fmx::Data& v);
std::string utf8(const fmx::Data& v);
bool isEmpty(const fmx::Data& v);
// Number, date, time, timestamp or boolean: compared and added as numbers.
bool isNumeric(const fmx::Data& v);
bool isDateLike(const fmx::Data& v);  // a date (not a time or timestamp)
bool isTime(const fmx::Data& v);
bool isTimestamp(const fmx::Data& v);
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

// Decimal rounding of the number as it shows (HalfAwayFromZero, TowardZero, Floor, Ceiling).
using Rounding = fmx::Rounding;
fmx::FixPt roundDecimal(const fmx::FixPt& n, int places, Rounding mode);

// x op y for + - * / ^, with FileMaker's types: a date plus or minus days is a
// date and a date minus a date is days; a time plus or minus seconds is a
// time, and so is a time minus a time; a timestamp plus or minus seconds is a
// timestamp, a timestamp minus a timestamp is seconds. A division by zero or
// an impossible power answers "?".
fmx::Data arithmetic(const std::string& op, const fmx::Data& x, const fmx::Data& y);

// Text counted in characters (code points), not UTF-16 units: an emoji is one.
std::u32string codePoints(std::u16string_view units);
std::u16string fromCodePoints(std::u32string_view cps);

}  // namespace fm_host::value
