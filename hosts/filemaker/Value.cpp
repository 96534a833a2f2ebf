// Values of the calculation language.
#include "Value.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "IcuText.h"
#include "Unicode.h"

namespace fm_host::value {

fmx::Data text(std::u16string_view units) {
    fmx::Text t;
    t.AssignUnicodeWithLength(units.data(), static_cast<fmx::uint32>(units.size()));
    fmx::Data d;
    d.SetAsText(t, fmx::Locale());
    return d;
}

fmx::Data textUtf8(std::string_view utf8) {
    fmx::Data d;
    d.SetAsText(fmx::Text::FromUTF8(utf8), fmx::Locale());
    return d;
}

namespace {
int gPrecision = fmx::FixPt::kDefltFixedPrecision;
}  // namespace

int precision() {
    return gPrecision;
}

PrecisionScope::PrecisionScope(int digits) : outer_(gPrecision) {
    gPrecision = std::clamp(digits, static_cast<int>(fmx::FixPt::kDefltFixedPrecision),
                            static_cast<int>(fmx::FixPt::kMaxFixedPrecision));
}

PrecisionScope::~PrecisionScope() {
    gPrecision = outer_;
}

fmx::FixPt zero() {
    return fmx::FixPt(0, gPrecision);
}

fmx::Data questionMark() {
    return textUtf8("?");
}

fmx::Data number(const fmx::FixPt& n) {
    if (!n.IsNumber()) return questionMark();
    fmx::Data d;
    d.SetAsNumber(fmx::FixPt(n, gPrecision));
    return d;
}

fmx::Data number(std::int64_t n) {
    // Counters, flags and comparisons make most of a script's numbers small whole ones, and each
    // new number costs a decimal conversion of the wide fixed point: those at the default
    // precision are made once and copied.
    static std::array<std::optional<fmx::Data>, 256> small;
    const bool cached =
        n >= 0 && n < static_cast<std::int64_t>(small.size()) && gPrecision == fmx::FixPt::kDefltFixedPrecision;
    if (cached && small[static_cast<std::size_t>(n)]) return *small[static_cast<std::size_t>(n)];
    fmx::FixPt f;
    f.AssignInt64(n);
    fmx::Data d = number(f);
    if (cached) small[static_cast<std::size_t>(n)] = d;
    return d;
}

fmx::Data boolean(bool b) {
    return number(static_cast<std::int64_t>(b ? 1 : 0));
}

fmx::Data date(const fmx::DateTime& d) {
    fmx::Data v;
    v.SetAsDate(d);
    return v;
}

fmx::Data timestamp(const fmx::DateTime& d) {
    fmx::Data v;
    v.SetAsTimeStamp(d);
    return v;
}

fmx::Data time(const fmx::DateTime& d) {
    fmx::Data v;
    v.SetAsTime(d);
    return v;
}

namespace {
// Whole microseconds of a number of seconds, when they fit.
bool microseconds(const fmx::FixPt& seconds, std::int64_t& usec) {
    if (!seconds.IsNumber()) return false;
    fmx::FixPt u(0, 0);
    seconds.Multiply(fmx::FixPt(1000000), u);
    const double approx = u.AsFloat();
    if (approx > 9.0e18 || approx < -9.0e18) return false;
    usec = fmx::RoundFixPt(u, 0, Rounding::HalfAwayFromZero).AsLong64();
    return true;
}

void setUsec(fmx::DateTime& d, std::int64_t usec) {
    const std::int64_t hours = usec / 3'600'000'000LL;
    std::int64_t rest = usec % 3'600'000'000LL;
    const auto minutes = static_cast<fmx::int16>(rest / 60'000'000LL);
    rest %= 60'000'000LL;
    d.SetNormalizedTime(hours, minutes, static_cast<fmx::int16>(rest / 1'000'000LL),
                        static_cast<fmx::int32>(rest % 1'000'000LL));
}
}  // namespace

fmx::Data timeOfSeconds(const fmx::FixPt& seconds) {
    std::int64_t usec = 0;
    if (!microseconds(seconds, usec)) return questionMark();
    fmx::DateTime d;
    setUsec(d, usec);
    return time(d);
}

fmx::Data timestampOfSeconds(const fmx::FixPt& seconds) {
    std::int64_t usec = 0;
    if (!microseconds(seconds, usec) || usec < 0) return questionMark();
    constexpr std::int64_t kUsecPerDay = 86'400'000'000LL;
    std::int64_t lastDay = 0;
    fmx::NormalizedDay(12, 31, fmx::kLastYear, lastDay);
    const std::int64_t day = usec / kUsecPerDay + 1;
    if (day > lastDay) return questionMark();
    fmx::DateTime d;
    d.SetDaysSinceEpoch(day);
    setUsec(d, usec % kUsecPerDay);
    return timestamp(d);
}

fmx::Data empty() {
    return text(u"");
}

fmx::Data numberFromDecimal(const std::string& decimal) {
    if (!decimal.empty() && decimal.size() <= 3 &&
        std::all_of(decimal.begin(), decimal.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return number(static_cast<std::int64_t>(std::strtol(decimal.c_str(), nullptr, 10)));
    fmx::FixPt f = zero();
    if (!f.AssignText(decimal)) return empty();
    return number(f);
}

fmx::Data ofField(const std::string& v) {
    fmx::FixPt f;
    fmx::Data d;
    if (!v.empty() && v.find_first_of(" \t\r\n") == std::string::npos && f.AssignText(v))
        d.SetAsText(fmx::Text::FromUTF8(v), fmx::Locale(), fmx::Data::kDTNumber);
    else
        d.SetAsText(fmx::Text::FromUTF8(v), fmx::Locale());
    return d;
}

std::u16string units(const fmx::Data& v) {
    return std::u16string(v.GetAsText().View());
}

std::string utf8(const fmx::Data& v) {
    return v.GetAsText().ToUTF8();
}

bool isEmpty(const fmx::Data& v) {
    return v.GetAsText().GetSize() == 0;
}

bool isNumeric(const fmx::Data& v) {
    switch (v.GetNativeType()) {
        case fmx::Data::kDTNumber:
        case fmx::Data::kDTDate:
        case fmx::Data::kDTTime:
        case fmx::Data::kDTTimeStamp:
        case fmx::Data::kDTBoolean:
            return true;
        default:
            return false;
    }
}

bool isDateLike(const fmx::Data& v) {
    return v.GetNativeType() == fmx::Data::kDTDate;
}

bool isTime(const fmx::Data& v) {
    return v.GetNativeType() == fmx::Data::kDTTime;
}

bool isTimestamp(const fmx::Data& v) {
    return v.GetNativeType() == fmx::Data::kDTTimeStamp;
}

bool truth(const fmx::Data& v) {
    return !isEmpty(v) && v.GetAsNumber().AsBool();
}

std::int64_t integer(const fmx::Data& v) {
    return v.GetAsNumber().AsLong64();
}

std::u16string lower(std::u16string_view s) {
    return icu_text::foldSimple(s);
}

bool equalsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && lower(a) == lower(b);
}

int compare(const fmx::Data& a, const fmx::Data& b) {
    // A number against a text that holds only a number compares as numbers,
    // so a record's "42" equals 42; anything else compares as text.
    auto numericText = [](const fmx::Data& v) {
        fmx::FixPt f;
        const std::string s = utf8(v);
        return !s.empty() && s.find_first_of(" \t\r\n") == std::string::npos && f.AssignText(s);
    };
    const bool an = isNumeric(a), bn = isNumeric(b);
    if ((an && bn) || (an && numericText(b)) || (bn && numericText(a))) {
        if (isEmpty(a) || isEmpty(b)) return isEmpty(a) == isEmpty(b) ? 0 : (isEmpty(a) ? -1 : 1);
        const fmx::FixPt &x = a.GetAsNumber(), &y = b.GetAsNumber();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    const std::u16string x = icu_text::fold(a.GetAsText().View()), y = icu_text::fold(b.GetAsText().View());
    return x < y ? -1 : (y < x ? 1 : 0);
}

std::vector<std::u16string> splitValues(std::u16string_view list) {
    std::vector<std::u16string> out;
    std::u16string current;
    bool open = false;  // a value has begun since the last return
    for (std::size_t i = 0; i < list.size(); ++i) {
        const char16_t c = list[i];
        if (c == u'\r' || c == u'\n' || c == u'\u2028' ||
            c == u'\u2029') {  // also Unicode's line and paragraph separators
            if (c == u'\r' && i + 1 < list.size() && list[i + 1] == u'\n') ++i;
            out.push_back(std::move(current));
            current.clear();
            open = false;
        } else {
            current.push_back(c);
            open = true;
        }
    }
    if (open) out.push_back(std::move(current));
    return out;
}

std::u16string joinValues(const std::vector<std::u16string>& values) {
    std::u16string out;
    for (const auto& v : values) {
        out += v;
        out.push_back(u'\r');
    }
    return out;
}

fmx::FixPt roundDecimal(const fmx::FixPt& n, int places, Rounding mode) {
    return fmx::RoundFixPt(n, places, mode);
}

namespace {

enum class Kind { Number, Date, Time, Timestamp };

Kind kindOf(const fmx::Data& v) {
    switch (v.GetNativeType()) {
        case fmx::Data::kDTDate:
            return Kind::Date;
        case fmx::Data::kDTTime:
            return Kind::Time;
        case fmx::Data::kDTTimeStamp:
            return Kind::Timestamp;
        default:
            return Kind::Number;
    }
}

// The result of a sum or difference as the type FileMaker gives it.
fmx::Data typed(const fmx::FixPt& r, Kind k) {
    switch (k) {
        case Kind::Date: {
            const std::int64_t day = r.AsLong64();
            std::int64_t lastDay = 0;
            fmx::NormalizedDay(12, 31, fmx::kLastYear, lastDay);
            if (day < 1 || day > lastDay) return number(r);
            fmx::DateTime d;
            d.SetDaysSinceEpoch(day);
            return date(d);
        }
        case Kind::Time:
            return timeOfSeconds(r);
        case Kind::Timestamp:
            return timestampOfSeconds(r);
        case Kind::Number:
            break;
    }
    return number(r);
}

}  // namespace

fmx::Data arithmetic(const std::string& op, const fmx::Data& a, const fmx::Data& b) {
    const fmx::FixPt &x = a.GetAsNumber(), &y = b.GetAsNumber();
    fmx::FixPt r = zero();
    const Kind ka = kindOf(a), kb = kindOf(b);
    // A timestamp plus or minus a time (its seconds) is a timestamp.
    const bool stampAndTime =
        (ka == Kind::Timestamp && kb == Kind::Time) || (ka == Kind::Time && kb == Kind::Timestamp);
    if (op == "+") {
        x.Add(y, r);
        if (stampAndTime) return typed(r, Kind::Timestamp);
        // A date, time or timestamp plus a number (either way round) keeps its type.
        if (ka != Kind::Number && (kb == Kind::Number || (ka == Kind::Time && kb == Kind::Time))) return typed(r, ka);
        if (kb != Kind::Number && ka == Kind::Number) return typed(r, kb);
        return number(r);
    }
    if (op == "-") {
        x.Subtract(y, r);
        if (ka == Kind::Timestamp && kb == Kind::Time) return typed(r, Kind::Timestamp);
        if (ka != Kind::Number && kb == Kind::Number) return typed(r, ka);
        if (ka == Kind::Time && kb == Kind::Time) return typed(r, Kind::Time);
        return number(r);  // date − date is days, timestamp − timestamp seconds
    }
    if (op == "*") {
        x.Multiply(y, r);
        return number(r);
    }
    if (op == "/") {
        if (y.IsNumber() && !y.AsBool()) return questionMark();  // FileMaker's answer to a division by zero
        if (x.Divide(y, r) != 0) return questionMark();
        return number(r);
    }
    if (op == "^") {
        if (!fmx::PowerFixPt(x, y, r)) return questionMark();
        return number(r);
    }
    return questionMark();
}

std::u32string codePoints(std::u16string_view s) {
    return quill::unicode::utf16ToUtf32(s);  // a lone surrogate stays as it is
}

std::u16string fromCodePoints(std::u32string_view cps) {
    std::u16string out;
    out.reserve(cps.size());
    for (char32_t c : cps) {
        if (c > 0x10FFFF) continue;
        if (c < 0x10000)
            out.push_back(static_cast<char16_t>(c));  // a lone surrogate passes through as it came
        else
            quill::unicode::appendUtf16(out, c);
    }
    return out;
}

}  // namespace fm_host::value
