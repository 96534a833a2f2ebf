// Dates, times and timestamps written as text, read as FileMaker reads them
// in a calculation or a field: "M/D/YYYY" or "YYYY-MM-DD", "H:MM:SS.ffffff" with
// or without AM/PM.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "DateText.h"

namespace fmx {

using namespace calendar;

namespace {

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

}  // namespace fmx
