// fmx::DateTime, fmx::Data, fmx::DataVect, fmx::ExprEnv and the host registrar.
#include "DateText.h"
#include "FMWrapper.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <ctime>

namespace fmx {

namespace {

int64 floorDiv(int64 a, int64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
int64 floorMod(int64 a, int64 b) {
    return a - floorDiv(a, b) * b;
}

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
int64 daysFromCivil(int64 y, int64 m, int64 d) {
    y -= m <= 2;
    const int64 era = floorDiv(y, 400);
    const int64 yoe = y - era * 400;
    const int64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64 z, int64& y, int64& m, int64& d) {
    z += 719468;
    const int64 era = floorDiv(z, 146097);
    const int64 doe = z - era * 146097;
    const int64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64 mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2);
}

// Day 1 is 1/1/0001.
const int64 kEpochOffset = daysFromCivil(1, 1, 1) - 1;
const int64 kLastDay = daysFromCivil(kLastYear, 12, 31) - kEpochOffset;
constexpr int64 kUsecPerDay = 86'400'000'000LL;
constexpr int64 kFieldLimit = 1'000'000'000'000LL;  // of one Date/Time part: keeps int64 sums exact

int64 clampPart(int64 v) {
    return std::clamp(v, -kFieldLimit, kFieldLimit);
}

}  // namespace

bool NormalizedDay(int64 month, int64 day, int64 year, int64& dayNumber) {
    const int64 m0 = clampPart(month) - 1;
    const int64 y = clampPart(year) + floorDiv(m0, 12);
    const int64 m = floorMod(m0, 12) + 1;
    if (y < -kLastYear || y > kLastYear) return false;
    const int64 days = daysFromCivil(y, m, 1) + (clampPart(day) - 1) - kEpochOffset;
    if (days < 1 || days > kLastDay) return false;
    dayNumber = days;
    return true;
}

// ---------------------------------------------------------------------------
// DateTime

DateTime::DateTime() = default;

errcode DateTime::SetNormalizedDate(int16 month, int16 day, int16 year) {
    int64 days = 0;
    if (!NormalizedDay(month, day, year, days)) return kDateOutOfRange;
    days_ = days;
    return 0;
}

errcode DateTime::SetNormalizedDate(const FixPt& year, const FixPt& month, const FixPt& day) {
    // Decimal parts are cut off, as FileMaker's Date does.
    int64 days = 0;
    if (!year.IsNumber() || !month.IsNumber() || !day.IsNumber() ||
        !NormalizedDay(month.AsLong64(), day.AsLong64(), year.AsLong64(), days))
        return kDateOutOfRange;
    days_ = days;
    return 0;
}

errcode DateTime::SetNormalizedTime(int64 hour, int16 minute, int16 sec, int32 usec) {
    // Hours beyond a few hundred thousand years are nonsense; refuse rather than overflow.
    if (hour > 3'000'000'000LL || hour < -3'000'000'000LL) return kDateOutOfRange;
    const int64 total = ((hour * 60 + minute) * 60 + sec) * 1'000'000LL + usec;
    usec_ = total;
    return 0;
}

errcode DateTime::SetNormalizedTime(const FixPt& hour, const FixPt& minute, const FixPt& sec) {
    // Fractions of hours and minutes count (4.5 hours is 4:30), worked out in decimal.
    FixPt total(0, 6), part(0, 6);
    hour.Multiply(FixPt(3600), part);
    total.AssignFixPt(part);
    minute.Multiply(FixPt(60), part);
    total.Add(part, total);
    total.Add(sec, total);
    if (!total.IsNumber()) return kDateOutOfRange;
    FixPt usec(0, 0);
    total.Multiply(FixPt(1'000'000), usec);
    const double approx = usec.AsFloat();
    if (approx > 9.0e18 || approx < -9.0e18) return kDateOutOfRange;
    usec_ = usec.AsLong64();
    return 0;
}

void DateTime::SetDaysSinceEpoch(int64 days) {
    days_ = days;
}

void DateTime::SetSecsSinceMidnight(const FixPt& secs) {
    FixPt usec(0, 0);
    secs.Multiply(FixPt(1'000'000), usec);
    usec_ = usec.AsLong64();
}

void DateTime::Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    SetNormalizedDate(static_cast<int16>(local.tm_mon + 1), static_cast<int16>(local.tm_mday),
                      static_cast<int16>(local.tm_year + 1900));
    SetNormalizedTime(local.tm_hour, static_cast<int16>(local.tm_min), static_cast<int16>(local.tm_sec));
}

int16 DateTime::GetYear() const {
    int64 y, m, d;
    civilFromDays(days_ + kEpochOffset, y, m, d);
    return static_cast<int16>(y);
}

int16 DateTime::GetMonth() const {
    int64 y, m, d;
    civilFromDays(days_ + kEpochOffset, y, m, d);
    return static_cast<int16>(m);
}

int16 DateTime::GetDay() const {
    int64 y, m, d;
    civilFromDays(days_ + kEpochOffset, y, m, d);
    return static_cast<int16>(d);
}

// Times are durations: GetHour counts whole hours and may exceed 23.
int32 DateTime::GetHour() const {
    return static_cast<int32>(usec_ / 3'600'000'000LL);
}
int16 DateTime::GetMinute() const {
    return static_cast<int16>((usec_ / 60'000'000LL) % 60);
}
int16 DateTime::GetSec() const {
    return static_cast<int16>((usec_ / 1'000'000LL) % 60);
}
int32 DateTime::GetUSec() const {
    return static_cast<int32>(usec_ % 1'000'000LL);
}

int16 DateTime::DayOfWeek() const {
    // 1/1/0001 was a Monday.
    return static_cast<int16>(floorMod(days_, 7) + 1);
}

int16 DateTime::DayOfYear() const {
    int64 y, m, d;
    civilFromDays(days_ + kEpochOffset, y, m, d);
    return static_cast<int16>(days_ + kEpochOffset - daysFromCivil(y, 1, 1) + 1);
}

// ---------------------------------------------------------------------------
// Data

namespace {

std::string dateText(const DateTime& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d/%d/%04d", d.GetMonth(), d.GetDay(), d.GetYear());
    return buf;
}

// ".5", ".000123": the fraction of a second, without trailing zeros; "" for none.
std::string fractionText(int64 usec) {
    if (usec == 0) return "";
    char buf[16];
    std::snprintf(buf, sizeof buf, ".%06lld", static_cast<long long>(usec));
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    return s;
}

// A time as a duration: "4:14:32", "25:00:00", "-1:30:00", "0:00:01.5".
std::string durationText(int64 usec) {
    const bool neg = usec < 0;
    const std::uint64_t u = neg ? static_cast<std::uint64_t>(-(usec + 1)) + 1 : static_cast<std::uint64_t>(usec);
    const std::uint64_t secs = u / 1'000'000;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%llu:%02llu:%02llu", neg ? "-" : "", static_cast<unsigned long long>(secs / 3600),
                  static_cast<unsigned long long>(secs / 60 % 60), static_cast<unsigned long long>(secs % 60));
    return buf + fractionText(static_cast<int64>(u % 1'000'000));
}

// A time of day on a 12-hour clock, as a timestamp shows it: "1:10:30 PM".
std::string clockText(int64 usec) {
    const int64 secs = usec / 1'000'000;
    const int64 h = secs / 3600;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(h % 12 == 0 ? 12 : h % 12),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    return buf + fractionText(usec % 1'000'000) + (h < 12 ? " AM" : " PM");
}

// Microseconds as a decimal number of seconds.
FixPt secondsOf(int64 usec) {
    FixPt n(0, 6), million(1'000'000), r(0, FixPt::kDefltFixedPrecision);
    n.AssignInt64(usec);
    n.Divide(million, r);
    return r;
}

// Sets the time part of d to a count of microseconds (any sign, any size).
void setUsec(DateTime& d, int64 usec) {
    const int64 hours = usec / 3'600'000'000LL;
    int64 rest = usec % 3'600'000'000LL;
    const auto minutes = static_cast<int16>(rest / 60'000'000LL);
    rest %= 60'000'000LL;
    d.SetNormalizedTime(hours, minutes, static_cast<int16>(rest / 1'000'000LL), static_cast<int32>(rest % 1'000'000LL));
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The number a text stands for in a calculation: its digits and first
// decimal point. It is negative when a "-" or "(" comes before the first
// digit, unless a period or a digit comes right before that sign.
FixPt numberInText(std::u16string_view text) {
    std::string digits;
    bool neg = false, point = false;
    char16_t before = 0;  // the character before the current one
    for (char16_t c : text) {
        if (isDigit(c)) {
            digits.push_back(static_cast<char>(c));
        } else if (c == u'.' && !point) {
            point = true;
            digits.push_back('.');
        } else if ((c == u'-' || c == u'(') && digits.find_first_of("0123456789") == std::string::npos &&
                   before != u'.' && !isDigit(before)) {
            neg = true;
        }
        before = c;
    }
    FixPt n;
    if (digits.find_first_of("0123456789") != std::string::npos) n.AssignText((neg ? "-" : "") + digits);
    return n;
}

// A text's characters as bytes, anything beyond ASCII as "?".
std::string ascii(std::u16string_view text) {
    std::string s;
    for (char16_t c : text) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return s;
}

}  // namespace

bool TimeFromText(std::u16string_view text, DateTime& out) {
    std::string s = ascii(text);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    std::size_t start = s.find_first_not_of(' ');
    if (start == std::string::npos) return false;
    s.erase(0, start);
    int meridiem = 0;  // 1 AM, 2 PM
    auto endsWith = [&](const char* suffix) {
        const std::size_t n = std::strlen(suffix);
        return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
    };
    if (endsWith("AM") || endsWith("PM")) {
        meridiem = endsWith("AM") ? 1 : 2;
        s.resize(s.size() - 2);
        while (!s.empty() && s.back() == ' ') s.pop_back();
    }
    const bool neg = !s.empty() && s[0] == '-' && meridiem == 0;
    if (neg) s.erase(0, 1);
    long long h = 0, m = 0, sec = 0;
    int used = 0;
    const char* p = s.c_str();
    if (std::sscanf(p, "%lld:%lld%n", &h, &m, &used) != 2 || !isDigit(static_cast<char16_t>(s[0]))) return false;
    p += used;
    long long usec = 0;
    if (*p == ':') {
        int more = 0;
        if (std::sscanf(p, ":%lld%n", &sec, &more) != 1 || !isDigit(static_cast<char16_t>(p[1]))) return false;
        p += more;
        if (*p == '.') {
            ++p;
            int digits = 0;
            while (isDigit(static_cast<char16_t>(*p))) {
                if (digits++ < 6) usec = usec * 10 + (*p - '0');
                ++p;
            }
            if (digits == 0) return false;
            for (; digits < 6; ++digits) usec *= 10;
        }
    }
    if (*p != '\0' || m < 0 || m > 59 || sec < 0 || sec > 59 || h < 0 || h > 2'000'000'000LL) return false;
    if (meridiem != 0) {
        if (h < 1 || h > 12) return false;
        h = h % 12 + (meridiem == 2 ? 12 : 0);
    }
    const int64 total = ((h * 60 + m) * 60 + sec) * 1'000'000LL + usec;
    setUsec(out, neg ? -total : total);
    return true;
}

bool TimestampFromText(std::u16string_view text, DateTime& out) {
    std::u16string s(text);
    while (!s.empty() && s.back() == u' ') s.pop_back();
    const auto space = s.find(u' ');
    DateTime d;
    if (!DateFromText(std::u16string_view(s).substr(0, space), d)) return false;
    if (space == std::u16string::npos) {
        d.SetNormalizedTime(0, 0, 0, 0);
    } else {
        DateTime t;
        if (!TimeFromText(std::u16string_view(s).substr(space + 1), t)) return false;
        const int64 usec =
            (static_cast<int64>(t.GetHour()) * 3600 + t.GetMinute() * 60 + t.GetSec()) * 1'000'000LL + t.GetUSec();
        if (usec < 0 || usec >= kUsecPerDay) return false;
        d.SetNormalizedTime(t.GetHour(), t.GetMinute(), t.GetSec(), t.GetUSec());
    }
    out = d;
    return true;
}

bool DateFromText(std::u16string_view text, DateTime& out) {
    // Every text a value is given is tried as a date: most hold a character
    // no written date can (a name, a path), and are refused before the scan.
    const auto dateChar = [](char16_t c) {
        return (c >= u'0' && c <= u'9') || c == u'/' || c == u'-' || c == u'+' || c == u' ' ||
               (c >= u'\t' && c <= u'\r');
    };
    if (text.empty() || !std::all_of(text.begin(), text.end(), dateChar)) return false;
    // Both written forms need two separators of one kind: a plain number has none.
    if (std::count(text.begin(), text.end(), u'/') < 2 && std::count(text.begin(), text.end(), u'-') < 2) return false;
    std::string s;
    for (char16_t c : text) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    int a = 0, b = 0, c = 0, used = 0;
    int month = 0, day = 0, year = 0;
    if (std::sscanf(s.c_str(), "%d/%d/%d%n", &a, &b, &c, &used) == 3 && used == static_cast<int>(s.size())) {
        month = a, day = b, year = c;
    } else if (std::sscanf(s.c_str(), "%d-%d-%d%n", &a, &b, &c, &used) == 3 && used == static_cast<int>(s.size())) {
        year = a, month = b, day = c;
    } else {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1 || year > 4000) return false;
    DateTime d;
    if (d.SetNormalizedDate(static_cast<int16>(month), static_cast<int16>(day), static_cast<int16>(year)) != 0)
        return false;
    // A written date names a real day: 2/30 is not rolled over into March.
    if (d.GetMonth() != month || d.GetDay() != day) return false;
    out = d;
    return true;
}

bool Data::IsEmpty() const {
    return text_.GetSize() == 0;
}

errcode Data::SetAsText(const Text& text, const Locale& locale, DataType nativeType) {
    Clear(nativeType == kDTInvalid ? kDTText : nativeType);
    locale_ = locale;
    text_ = text;
    number_ = numberInText(text.View());
    DateTime d;
    if (DateFromText(text.View(), d)) date_ = d;
    if (nativeType == kDTTime && TimeFromText(text.View(), d)) {
        const Text keep = text;
        SetAsTime(d, kDTTime);
        text_ = keep;
    } else if (nativeType == kDTTimeStamp && TimestampFromText(text.View(), d)) {
        const Text keep = text;
        SetAsTimeStamp(d, kDTTimeStamp);
        text_ = keep;
    }
    locale_ = locale;
    return 0;
}

errcode Data::SetAsNumber(const FixPt& number, DataType nativeType) {
    Clear(nativeType);
    number_ = number;
    text_ = Text::FromUTF8(number.AsString());
    date_.SetDaysSinceEpoch(number.AsLong64());
    return 0;
}

errcode Data::SetAsDate(const DateTime& date, DataType nativeType) {
    Clear(nativeType);
    date_ = date;
    text_ = Text::FromUTF8(dateText(date));
    number_.AssignInt64(date.GetDaysSinceEpoch());
    return 0;
}

namespace {
int64 usecOf(const DateTime& t) {
    return (static_cast<int64>(t.GetHour()) * 3600 + t.GetMinute() * 60 + t.GetSec()) * 1'000'000LL + t.GetUSec();
}
}  // namespace

errcode Data::SetAsTime(const DateTime& time, DataType nativeType) {
    Clear(nativeType);
    date_ = time;
    text_ = Text::FromUTF8(durationText(usecOf(time)));
    number_ = secondsOf(usecOf(time));
    return 0;
}

errcode Data::SetAsTimeStamp(const DateTime& timeStamp, DataType nativeType) {
    Clear(nativeType);
    // The time of day rolls whole days into the date.
    const int64 usec = usecOf(timeStamp);
    const int64 days = timeStamp.GetDaysSinceEpoch() + floorDiv(usec, kUsecPerDay);
    const int64 inDay = floorMod(usec, kUsecPerDay);
    DateTime d;
    d.SetDaysSinceEpoch(days);
    setUsec(d, inDay);
    date_ = d;
    text_ = Text::FromUTF8(dateText(d) + " " + clockText(inDay));
    FixPt daySeconds(0), secs;
    daySeconds.AssignInt64((days - 1) * 86400);
    daySeconds.Add(secondsOf(inDay), secs);
    number_ = secs;
    return 0;
}

errcode Data::SetAsBoolean(bool value, DataType nativeType) {
    Clear(nativeType);
    number_.AssignInt(value ? 1 : 0);
    text_ = Text::FromUTF8(value ? "1" : "0");
    return 0;
}

void Data::Clear(DataType newNativeType) {
    const Locale keep = locale_;
    *this = Data();
    locale_ = keep;
    type_ = newNativeType;
}

void Data::ConvertData(DataType nativeType) {
    const Text text = text_;
    const Locale locale = locale_;
    switch (nativeType) {
        case kDTNumber: {
            const FixPt n = number_;
            SetAsNumber(n);
            break;
        }
        case kDTDate: {
            const DateTime d = date_;
            SetAsDate(d);
            break;
        }
        default:
            SetAsText(text, locale, nativeType);
            break;
    }
    locale_ = locale;
}

// ---------------------------------------------------------------------------
// DataVect

Data* DataVect::PopBack() {
    if (items_.empty()) return nullptr;
    popped_ = items_.back();
    items_.pop_back();
    return &popped_;
}

const Data& DataVect::At(uint32 position) const {
    static const Data empty = [] {
        Data d;
        d.SetAsText(Text(), Locale());
        return d;
    }();
    return position < items_.size() ? items_[position] : empty;
}

// ---------------------------------------------------------------------------
// Registration

namespace host {
namespace {
Registrar* gRegistrar = nullptr;
}
Registrar* setRegistrar(Registrar* registrar) {
    Registrar* previous = gRegistrar;
    gRegistrar = registrar;
    return previous;
}
Registrar* registrar() {
    return gRegistrar;
}
}  // namespace host

errcode ExprEnv::RegisterExternalFunction(const QuadChar& pluginId, int16 functionId, const Text& functionName,
                                          const Text& functionPrototype, int16 minArgs, int16 maxArgs,
                                          uint32 compatibleOnFlags, ExtPluginType funcPtr) {
    return RegisterExternalFunctionEx(pluginId, functionId, functionName, functionPrototype, Text(), minArgs, maxArgs,
                                      compatibleOnFlags, funcPtr);
}

errcode ExprEnv::RegisterExternalFunctionEx(const QuadChar& pluginId, int16 functionId, const Text& functionName,
                                            const Text& functionPrototype, const Text& functionDescription,
                                            int16 minArgs, int16 maxArgs, uint32 compatibleOnFlags,
                                            ExtPluginType funcPtr) {
    host::Registrar* r = host::registrar();
    if (!r) return -1;
    return r->registerFunction(pluginId, functionId, functionName, functionPrototype, functionDescription, minArgs,
                               maxArgs, compatibleOnFlags, funcPtr);
}

errcode ExprEnv::UnRegisterExternalFunction(const QuadChar& pluginId, int16 functionId) {
    host::Registrar* r = host::registrar();
    if (!r) return -1;
    return r->unregisterFunction(pluginId, functionId);
}

}  // namespace fmx
