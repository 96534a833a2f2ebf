// fmx::DateTime: the proleptic Gregorian calendar of day numbers (1 is
// 1/1/0001) and the time of day in microseconds.
#include <algorithm>
#include <chrono>
#include <ctime>

#include "DateText.h"

namespace fmx {

using namespace calendar;

namespace {

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

}  // namespace fmx
