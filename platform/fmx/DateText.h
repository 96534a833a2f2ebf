// DateText: how this libFMWrapper reads dates, times and timestamps written as text,
// and the calendar arithmetic behind them, shared by Data's text conversion and
// filemaker-host's date and time functions. Not part of the plug-in interface.
#pragma once

#include <string_view>

#include "FMWrapper.h"

namespace fmx {

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

}  // namespace fmx
