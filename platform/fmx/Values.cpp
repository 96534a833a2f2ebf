// fmx::DateTime, fmx::Data, fmx::DataVect, fmx::ExprEnv and the host registrar.
#include "DateText.h"
#include "FMWrapper.h"

#include <algorithm>
#include <chrono>
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
const int64 kLastDay = daysFromCivil(4000, 12, 31) - kEpochOffset;

}  // namespace

// ---------------------------------------------------------------------------
// DateTime

DateTime::DateTime() = default;

errcode DateTime::SetNormalizedDate(int16 month, int16 day, int16 year) {
    const int64 m0 = static_cast<int64>(month) - 1;
    const int64 y = year + floorDiv(m0, 12);
    const int64 m = floorMod(m0, 12) + 1;
    const int64 days = daysFromCivil(y, m, 1) + (static_cast<int64>(day) - 1) - kEpochOffset;
    if (days < 1 || days > kLastDay) return kDateOutOfRange;
    days_ = days;
    return 0;
}

errcode DateTime::SetNormalizedDate(const FixPt& year, const FixPt& month, const FixPt& day) {
    auto to16 = [](const FixPt& f) { return static_cast<int16>(std::clamp<int32>(f.AsLong(), -32768, 32767)); };
    return SetNormalizedDate(to16(month), to16(day), to16(year));
}

errcode DateTime::SetNormalizedTime(int64 hour, int16 minute, int16 sec, int32 usec) {
    // Hours beyond a few hundred thousand years are nonsense; refuse rather than overflow.
    if (hour > 3'000'000'000LL || hour < -3'000'000'000LL) return kDateOutOfRange;
    const int64 total = ((hour * 60 + minute) * 60 + sec) * 1'000'000LL + usec;
    usec_ = total;
    return 0;
}

errcode DateTime::SetNormalizedTime(const FixPt& hour, const FixPt& minute, const FixPt& sec) {
    const double s = sec.AsFloat();
    const int64 whole = static_cast<int64>(s);
    const int32 micro = static_cast<int32>((s - static_cast<double>(whole)) * 1e6);
    return SetNormalizedTime(hour.AsLong64(), static_cast<int16>(minute.AsLong()),
                             static_cast<int16>(std::clamp<int64>(whole, -32768, 32767)), micro);
}

void DateTime::SetDaysSinceEpoch(int64 days) {
    days_ = days;
}

void DateTime::SetSecsSinceMidnight(const FixPt& secs) {
    usec_ = static_cast<int64>(secs.AsFloat() * 1e6);
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

std::string timeText(const DateTime& d) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d", d.GetHour(), d.GetMinute(), d.GetSec());
    return buf;
}

// The number a text stands for in a calculation: its digits and first
// decimal point, negative when a "-" comes before the first digit.
FixPt numberInText(std::u16string_view text) {
    std::string digits;
    bool neg = false, point = false;
    for (char16_t c : text) {
        if (c >= u'0' && c <= u'9')
            digits.push_back(static_cast<char>(c));
        else if (c == u'.' && !point) {
            point = true;
            digits.push_back('.');
        } else if (c == u'-' && digits.find_first_of("0123456789") == std::string::npos)
            neg = true;
    }
    FixPt n;
    if (digits.find_first_of("0123456789") != std::string::npos) n.AssignText((neg ? "-" : "") + digits);
    return n;
}

}  // namespace

bool DateFromText(std::u16string_view text, DateTime& out) {
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
    return 0;
}

errcode Data::SetAsNumber(const FixPt& number, DataType nativeType) {
    Clear(nativeType);
    number_.AssignFixPt(number);
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

errcode Data::SetAsTime(const DateTime& time, DataType nativeType) {
    Clear(nativeType);
    date_ = time;
    text_ = Text::FromUTF8(timeText(time));
    number_.AssignInt64(static_cast<int64>(time.GetHour()) * 3600 + time.GetMinute() * 60 + time.GetSec());
    return 0;
}

errcode Data::SetAsTimeStamp(const DateTime& timeStamp, DataType nativeType) {
    Clear(nativeType);
    date_ = timeStamp;
    text_ = Text::FromUTF8(dateText(timeStamp) + " " + timeText(timeStamp));
    number_.AssignInt64(timeStamp.GetDaysSinceEpoch() * 86400 + static_cast<int64>(timeStamp.GetHour()) * 3600 +
                        timeStamp.GetMinute() * 60 + timeStamp.GetSec());
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
