// DateText: the calendar arithmetic and time-of-day helpers that DateTime,
// Data's text conversion and the reading of dates and times written as text
// share (the reading itself is declared for the host in
// FMWrapper/FMXDateTime.h). Private to this library.
#pragma once

#include <string_view>

#include "FMWrapper.h"

namespace fmx::calendar {

inline int64 floorDiv(int64 a, int64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
inline int64 floorMod(int64 a, int64 b) {
    return a - floorDiv(a, b) * b;
}

inline constexpr int64 kUsecPerDay = 86'400'000'000LL;

// Sets the time part of d to a count of microseconds (any sign, any size).
inline void setUsec(DateTime& d, int64 usec) {
    const int64 hours = usec / 3'600'000'000LL;
    int64 rest = usec % 3'600'000'000LL;
    const auto minutes = static_cast<int16>(rest / 60'000'000LL);
    rest %= 60'000'000LL;
    d.SetNormalizedTime(hours, minutes, static_cast<int16>(rest / 1'000'000LL), static_cast<int32>(rest % 1'000'000LL));
}

inline bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace fmx::calendar
