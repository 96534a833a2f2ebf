// FMWrapper/FMXDateTime.h: DateTime, a calendar date and time of day, and its
// holder.
#pragma once

#include <string_view>

#include "FMWrapper/FMXClient.h"

extern "C++" {
namespace fmx {

// ---------------------------------------------------------------------------
// DateTime: a calendar date (proleptic Gregorian, 1/1/0001 .. 12/31/32767; a date
// field holds up to 12/31/4000, a calculation goes on past it) and
// a time of day in microseconds. Day 1 is 1/1/0001.
class DateTime {
public:
    enum { kDateOutOfRange = 1 };  // errcode when a normalized date leaves the range

    // Out-of-range fields roll over: month 13 is January of the next year,
    // day 0 the last day of the month before, month 0 December of the year before.
    errcode SetNormalizedDate(int16 month, int16 day, int16 year);
    errcode SetNormalizedDate(const FixPt& year, const FixPt& month, const FixPt& day);
    // Whole days of excess hours roll into the date; negative values roll back.
    errcode SetNormalizedTime(int64 hour, int16 minute, int16 sec, int32 usec = 0);
    errcode SetNormalizedTime(const FixPt& hour, const FixPt& minute, const FixPt& sec);
    void SetDaysSinceEpoch(int64 days);
    void SetSecsSinceMidnight(const FixPt& secs);
    void Now();

    int16 GetYear() const;
    int16 GetMonth() const;
    int16 GetDay() const;
    int64 GetDaysSinceEpoch() const { return days_; }
    int32 GetHour() const;
    int16 GetMinute() const;
    int16 GetSec() const;
    int32 GetUSec() const;
    int16 DayOfWeek() const;  // 1 = Sunday
    int16 DayOfYear() const;
    bool IsEqual(const DateTime& other) const { return days_ == other.days_ && usec_ == other.usec_; }
    bool operator==(const DateTime& other) const { return IsEqual(other); }

    FMX_STANDIN_CONSTRUCTION : DateTime();  // 1/1/0001 00:00:00
    DateTime(const DateTime& other) = default;
    DateTime& operator=(const DateTime& other) = default;  // Data copies its date (clang: -Wdeprecated-copy)

private:
    friend class DateTimeUniquePtr;
    friend class Data;  // holds its date by value
    int64 days_ = 1;
    int64 usec_ = 0;  // since midnight, 0 .. 86'399'999'999
};

class DateTimeUniquePtr : public std::unique_ptr<DateTime> {
public:
    DateTimeUniquePtr() : std::unique_ptr<DateTime>(new DateTime()) {}
    DateTimeUniquePtr(const DateTime& sourceTime) : std::unique_ptr<DateTime>(new DateTime(sourceTime)) {}
};

#if defined(FMX_STANDIN_HOST)
// Stand-in extras for the host and tests: dates, times and timestamps written
// as text, read as this library's Data reads them, and the calendar arithmetic
// behind them (filemaker-host's date and time functions use the same).

// "M/D/YYYY" or "YYYY-MM-DD" naming a real day of years 1 to 4000 (2/30 is no date, not
// March 1st); false for anything else, `out` then unchanged.
bool DateFromText(std::u16string_view text, DateTime& out);

// "H:MM", "H:MM:SS" or "H:MM:SS.ffffff", with or without "AM"/"PM" after it; without
// them hours may pass 23 (a duration) and the time may start with "-". Sets the time
// of `out` only.
bool TimeFromText(std::u16string_view text, DateTime& out);

// A date, a space and a time ("4/5/2014 4:05:06 PM"), or a date alone (midnight).
bool TimestampFromText(std::u16string_view text, DateTime& out);

// Day number (1 is 1/1/0001) of a month, day and year that may each be out of range,
// rolled over as FileMaker's Date does (month 13 is January of the next year, day 0
// the last day of the month before); false when the day falls before 1/1/0001 or
// after 12/31/kLastYear.
inline constexpr int64 kLastYear = 32767;
bool NormalizedDay(int64 month, int64 day, int64 year, int64& dayNumber);

// The first day number past 12/31/4000, the end of what a date field holds.
inline constexpr int64 kFirstDayAfter4000 = 1460971;
#endif

}  // namespace fmx
}
