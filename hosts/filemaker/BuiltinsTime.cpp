// Date, time and timestamp built-ins, and the Get names that read the clock
// and the session's user.
#include <pwd.h>
#include <uuid/uuid.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "Builtins.h"
#include "Value.h"

namespace fm_host {

namespace {

int gLastMessageChoice = 0;

std::int64_t usecOf(const fmx::DateTime& t) {
    return (static_cast<std::int64_t>(t.GetHour()) * 3600 + t.GetMinute() * 60 + t.GetSec()) * 1'000'000LL +
           t.GetUSec();
}

// A parameter as a date: a date value, a timestamp's date, a number of days
// (1 is 1/1/0001, up to 12/31/4000), or a date (or timestamp) written as text.
bool dateOf(const fmx::Data& v, fmx::DateTime& out) {
    if (value::isEmpty(v)) return false;
    switch (v.GetNativeType()) {
        case fmx::Data::kDTDate:
        case fmx::Data::kDTTimeStamp:
            out.SetDaysSinceEpoch(v.GetAsDate().GetDaysSinceEpoch());
            return true;
        case fmx::Data::kDTNumber:
        case fmx::Data::kDTBoolean: {
            const std::int64_t days = v.GetAsNumber().AsLong64();
            if (days < 1 || days >= fmx::kFirstDayAfter4000) return false;
            out.SetDaysSinceEpoch(days);
            return true;
        }
        default:
            break;
    }
    std::u16string s = value::units(v);
    const auto space = s.find(u' ');  // a timestamp's date
    if (space != std::u16string::npos) s.resize(space);
    return fmx::DateFromText(s, out);
}

// A parameter as a time in microseconds: a time value, a timestamp's time of
// day, a number of seconds, or a time (or timestamp) written as text.
bool timeOf(const fmx::Data& v, std::int64_t& usec) {
    if (value::isEmpty(v)) return false;
    fmx::DateTime t;
    switch (v.GetNativeType()) {
        case fmx::Data::kDTTime:
        case fmx::Data::kDTTimeStamp:
            usec = usecOf(v.GetAsTime());
            return true;
        case fmx::Data::kDTNumber:
        case fmx::Data::kDTBoolean: {
            fmx::FixPt u(0, 0);
            v.GetAsNumber().Multiply(fmx::FixPt(1'000'000), u);
            const double approx = u.AsFloat();
            if (!u.IsNumber() || approx > 9e18 || approx < -9e18) return false;
            usec = u.AsLong64();
            return true;
        }
        default:
            break;
    }
    const std::u16string s = value::units(v);
    if (fmx::TimeFromText(s, t)) {
        usec = usecOf(t);
        return true;
    }
    if (fmx::TimestampFromText(s, t)) {
        usec = usecOf(t);
        return true;
    }
    return false;
}

fmx::Data seconds(std::int64_t usec) {
    fmx::FixPt n(0, 6), r = value::zero();
    n.AssignInt64(usec);
    n.Divide(fmx::FixPt(1'000'000), r);
    return value::number(r);
}

fmx::Data dateFn(const BuiltinArgs& a) {
    for (std::size_t i = 0; i < 3; ++i)
        if (value::isEmpty(a[i])) return value::empty();
    fmx::DateTime d;
    // Months and days roll over, but the answer must be a date FileMaker keeps: 1/1/0001 to 12/31/4000.
    if (d.SetNormalizedDate(a[2].GetAsNumber(), a[0].GetAsNumber(), a[1].GetAsNumber()) != 0 ||
        d.GetDaysSinceEpoch() < 1 || d.GetDaysSinceEpoch() >= fmx::kFirstDayAfter4000)
        return value::questionMark();
    return value::date(d);
}

enum class Part { Year, Month, Day, DayOfWeek, DayOfYear, WeekOfYear };

int weekOfYear(const fmx::DateTime& d) {
    fmx::DateTime jan1;
    jan1.SetNormalizedDate(1, 1, d.GetYear());
    return (d.DayOfYear() - 1 + jan1.DayOfWeek() - 1) / 7 + 1;
}

template <Part P>
fmx::Data datePart(const BuiltinArgs& a) {
    fmx::DateTime d;
    if (!dateOf(a[0], d)) return value::empty();
    int v = 0;
    switch (P) {
        case Part::Year:
            v = d.GetYear();
            break;
        case Part::Month:
            v = d.GetMonth();
            break;
        case Part::Day:
            v = d.GetDay();
            break;
        case Part::DayOfWeek:
            v = d.DayOfWeek();
            break;
        case Part::DayOfYear:
            v = d.DayOfYear();
            break;
        case Part::WeekOfYear:
            v = weekOfYear(d);
            break;
    }
    return value::number(static_cast<std::int64_t>(v));
}

// The first week of a fiscal year is the first one with four or more of its
// days; a week belongs to the year its fourth day falls in.
fmx::Data weekOfYearFiscalFn(const BuiltinArgs& a) {
    fmx::DateTime d;
    if (!dateOf(a[0], d) || value::isEmpty(a[1])) return value::empty();
    const std::int64_t start = value::integer(a[1]);
    if (start < 1 || start > 7) return value::questionMark();
    auto weekStart = [&](std::int64_t day, int dow) { return day - ((dow - start + 7) % 7); };
    const std::int64_t ws = weekStart(d.GetDaysSinceEpoch(), d.DayOfWeek());
    fmx::DateTime fourth;
    fourth.SetDaysSinceEpoch(ws + 3);
    fmx::DateTime jan1;
    jan1.SetNormalizedDate(1, 1, fourth.GetYear());
    std::int64_t first = weekStart(jan1.GetDaysSinceEpoch(), jan1.DayOfWeek());
    if (first + 3 < jan1.GetDaysSinceEpoch()) first += 7;
    return value::number((ws - first) / 7 + 1);
}

const char* const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

fmx::Data dayNameFn(const BuiltinArgs& a) {
    fmx::DateTime d;
    if (!dateOf(a[0], d)) return value::empty();
    return value::textUtf8(kDayNames[d.DayOfWeek() - 1]);
}

fmx::Data monthNameFn(const BuiltinArgs& a) {
    fmx::DateTime d;
    if (!dateOf(a[0], d)) return value::empty();
    return value::textUtf8(kMonthNames[d.GetMonth() - 1]);
}

fmx::Data getAsDate(const BuiltinArgs& a) {
    if (value::isEmpty(a[0])) return value::empty();
    fmx::DateTime d;
    if (!dateOf(a[0], d)) return value::questionMark();
    return value::date(d);
}

// Time ( hours ; minutes ; seconds ): fractions of hours and minutes count.
fmx::Data timeFn(const BuiltinArgs& a) {
    for (std::size_t i = 0; i < 3; ++i)
        if (value::isEmpty(a[i])) return value::empty();
    fmx::DateTime t;
    if (t.SetNormalizedTime(a[0].GetAsNumber(), a[1].GetAsNumber(), a[2].GetAsNumber()) != 0)
        return value::questionMark();
    return value::time(t);
}

enum class TimePart { Hour, Minute, Seconds };

template <TimePart P>
fmx::Data timePart(const BuiltinArgs& a) {
    std::int64_t usec = 0;
    if (!timeOf(a[0], usec)) return value::empty();
    switch (P) {
        case TimePart::Hour:
            return value::number(usec / 3'600'000'000LL);
        case TimePart::Minute:
            return value::number(usec / 60'000'000LL % 60);
        case TimePart::Seconds:
            return seconds(usec % 60'000'000LL);
    }
    return value::empty();
}

fmx::Data getAsTime(const BuiltinArgs& a) {
    if (value::isEmpty(a[0])) return value::empty();
    std::int64_t usec = 0;
    if (!timeOf(a[0], usec)) return value::questionMark();
    fmx::FixPt secs(0, 6), r = value::zero();
    secs.AssignInt64(usec);
    secs.Divide(fmx::FixPt(1'000'000), r);
    return value::timeOfSeconds(r);
}

// Seconds since 1/1/0001 0:00 of a date and a time of day (which may roll days over).
fmx::Data timestampOf(std::int64_t day, std::int64_t usec) {
    fmx::FixPt secs(0, 6), r = value::zero(), daySecs = value::zero();
    secs.AssignInt64(usec);
    secs.Divide(fmx::FixPt(1'000'000), r);
    daySecs.AssignInt64((day - 1) * 86400);
    r.Add(daySecs, r);
    return value::timestampOfSeconds(r);
}

fmx::Data timestampFn(const BuiltinArgs& a) {
    if (value::isEmpty(a[0]) || value::isEmpty(a[1])) return value::empty();
    fmx::DateTime d;
    std::int64_t usec = 0;
    if (!dateOf(a[0], d) || !timeOf(a[1], usec)) return value::questionMark();
    return timestampOf(d.GetDaysSinceEpoch(), usec);
}

fmx::Data getAsTimestamp(const BuiltinArgs& a) {
    const fmx::Data& v = a[0];
    if (value::isEmpty(v)) return value::empty();
    fmx::DateTime t;
    switch (v.GetNativeType()) {
        case fmx::Data::kDTTimeStamp:
            return v;
        case fmx::Data::kDTDate:
            return timestampOf(v.GetAsDate().GetDaysSinceEpoch(), 0);
        case fmx::Data::kDTTime:
            return timestampOf(1, usecOf(v.GetAsTime()));
        case fmx::Data::kDTNumber:
        case fmx::Data::kDTBoolean:
            return value::timestampOfSeconds(v.GetAsNumber());  // seconds since 1/1/0001
        default:
            break;
    }
    if (fmx::TimestampFromText(value::units(v), t)) return timestampOf(t.GetDaysSinceEpoch(), usecOf(t));
    return value::questionMark();
}

// Now, to whole seconds, as FileMaker's Get ( CurrentTimestamp ) is.
fmx::DateTime now() {
    fmx::DateTime t;
    t.Now();
    return t;
}

// A version-4 UUID from the system's random source, in upper case as FileMaker's Get ( UUID ) gives it.
std::string uuid() {
    uuid_t id;
    uuid_generate_random(id);
    char buf[37];
    uuid_unparse_upper(id, buf);
    return buf;
}

std::string accountName() {
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) return pw->pw_name;
    return "";
}

}  // namespace

std::int64_t utcMilliseconds(std::chrono::system_clock::time_point t) {
    // 1/1/1970 is day 719163 of FileMaker's count, which starts at 1 on 1/1/0001.
    constexpr std::int64_t kMsBefore1970 = 719162LL * 86400 * 1000;
    return kMsBefore1970 + std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

void noteMessageChoice(int button) {
    gLastMessageChoice = button;
}

std::optional<fmx::Data> clockGet(const std::string& what) {
    if (what == "currentdate") {
        fmx::DateTime d;
        d.SetDaysSinceEpoch(now().GetDaysSinceEpoch());
        return value::date(d);
    }
    if (what == "currenttime") {
        const fmx::DateTime t = now();
        fmx::DateTime time;
        time.SetNormalizedTime(t.GetHour(), t.GetMinute(), t.GetSec());
        return value::time(time);
    }
    if (what == "currenttimestamp" || what == "currenthosttimestamp") {  // this host is its own host
        const fmx::DateTime t = now();
        return timestampOf(t.GetDaysSinceEpoch(), usecOf(t));
    }
    if (what == "currenttimeutcmilliseconds") return value::number(utcMilliseconds(std::chrono::system_clock::now()));
    if (what == "uuid") return value::textUtf8(uuid());
    if (what == "accountname") return value::textUtf8(accountName());
    if (what == "lastmessagechoice") return value::number(static_cast<std::int64_t>(gLastMessageChoice));
    return std::nullopt;
}

void addTimeBuiltins(std::vector<Builtin>& t) {
    t.push_back({"Date", 3, 3, dateFn, "Date ( month ; day ; year )"});
    t.push_back({"Year", 1, 1, datePart<Part::Year>, "Year ( date )"});
    t.push_back({"Month", 1, 1, datePart<Part::Month>, "Month ( date )"});
    t.push_back({"Day", 1, 1, datePart<Part::Day>, "Day ( date )"});
    t.push_back({"DayOfWeek", 1, 1, datePart<Part::DayOfWeek>, "DayOfWeek ( date )"});
    t.push_back({"DayOfYear", 1, 1, datePart<Part::DayOfYear>, "DayOfYear ( date )"});
    t.push_back({"WeekOfYear", 1, 1, datePart<Part::WeekOfYear>, "WeekOfYear ( date )"});
    t.push_back({"WeekOfYearFiscal", 2, 2, weekOfYearFiscalFn, "WeekOfYearFiscal ( date ; startingDay )"});
    t.push_back({"DayName", 1, 1, dayNameFn, "DayName ( date )"});
    t.push_back({"MonthName", 1, 1, monthNameFn, "MonthName ( date )"});
    t.push_back({"GetAsDate", 1, 1, getAsDate, "GetAsDate ( text )"});
    t.push_back({"Time", 3, 3, timeFn, "Time ( hours ; minutes ; seconds )"});
    t.push_back({"Hour", 1, 1, timePart<TimePart::Hour>, "Hour ( time )"});
    t.push_back({"Minute", 1, 1, timePart<TimePart::Minute>, "Minute ( time )"});
    t.push_back({"Seconds", 1, 1, timePart<TimePart::Seconds>, "Seconds ( time )"});
    t.push_back({"GetAsTime", 1, 1, getAsTime, "GetAsTime ( text )"});
    t.push_back({"Timestamp", 2, 2, timestampFn, "Timestamp ( date ; time )"});
    t.push_back({"GetAsTimestamp", 1, 1, getAsTimestamp, "GetAsTimestamp ( text )"});
}

}  // namespace fm_host
