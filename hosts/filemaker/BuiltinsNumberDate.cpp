// Number and date built-ins, the table of every built-in, and the names Get knows.
#include <strings.h>

#include <algorithm>

#include "Builtins.h"
#include "DateText.h"
#include "Value.h"

namespace fm_host {

namespace {

using value::Rounding;

// FileMaker answers an empty value when a number function's first parameter is empty.
bool anyEmpty(const BuiltinArgs& a, std::size_t count) {
    for (std::size_t i = 0; i < count && i < a.size(); ++i)
        if (value::isEmpty(a[i])) return true;
    return false;
}

int places(const BuiltinArgs& a, std::size_t i) {
    return static_cast<int>(std::clamp<std::int64_t>(value::integer(a[i]), -400, 400));
}

fmx::Data absFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    fmx::FixPt n(a[0].GetAsNumber(), fmx::FixPt::kDefltFixedPrecision);
    if (n < fmx::FixPt(0)) n.Negate();
    return value::number(n);
}

fmx::Data intFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    return value::number(value::roundDecimal(a[0].GetAsNumber(), 0, Rounding::TowardZero));
}

fmx::Data floorFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    return value::number(value::roundDecimal(a[0].GetAsNumber(), 0, Rounding::Floor));
}

fmx::Data ceilingFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    fmx::FixPt n(a[0].GetAsNumber(), fmx::FixPt::kDefltFixedPrecision);
    n.Negate();
    fmx::FixPt r = value::roundDecimal(n, 0, Rounding::Floor);
    r.Negate();
    return value::number(r);
}

fmx::Data roundFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 2)) return value::empty();
    return value::number(value::roundDecimal(a[0].GetAsNumber(), places(a, 1), Rounding::HalfAwayFromZero));
}

fmx::Data truncateFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 2)) return value::empty();
    return value::number(value::roundDecimal(a[0].GetAsNumber(), places(a, 1), Rounding::TowardZero));
}

// Div and Mod round the quotient down, so Mod ( -15 ; 4 ) is 1 and Mod ( 15 ; -4 ) is -1.
bool floorQuotient(const BuiltinArgs& a, fmx::FixPt& q) {
    const fmx::FixPt &x = a[0].GetAsNumber(), &y = a[1].GetAsNumber();
    if (y == fmx::FixPt(0)) return false;
    q = value::roundDecimal(value::divide(x, y), 0, Rounding::Floor);
    return true;
}

fmx::Data divFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 2)) return value::empty();
    fmx::FixPt q;
    if (!floorQuotient(a, q)) return value::textUtf8("?");
    return value::number(q);
}

fmx::Data modFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 2)) return value::empty();
    fmx::FixPt q, product, r;
    if (!floorQuotient(a, q)) return value::textUtf8("?");
    const fmx::FixPt &x = a[0].GetAsNumber(), &y = a[1].GetAsNumber();
    y.Multiply(q, product);
    x.Subtract(value::tidy(product, y, q), r);
    return value::number(value::tidy(r, x, product));
}

fmx::Data extreme(const BuiltinArgs& a, bool wantMax) {
    const fmx::Data* best = nullptr;
    for (const auto& v : a.values) {
        if (value::isEmpty(v)) continue;
        if (!best || (wantMax ? best->GetAsNumber() < v.GetAsNumber() : v.GetAsNumber() < best->GetAsNumber()))
            best = &v;
    }
    if (!best) return value::empty();
    if (value::isDateLike(*best)) return *best;
    return value::number(best->GetAsNumber());
}

fmx::Data minFn(const BuiltinArgs& a) {
    return extreme(a, false);
}
fmx::Data maxFn(const BuiltinArgs& a) {
    return extreme(a, true);
}

constexpr std::int64_t kLastDay = 1460970;  // 12/31/4000, the last date a calculation knows

// A parameter as a date: a date value itself, a number of days, or a date text.
bool dateOf(const fmx::Data& v, fmx::DateTime& out) {
    if (value::isEmpty(v)) return false;
    if (value::isNumeric(v)) {
        if (v.GetNativeType() == fmx::Data::kDTNumber) {
            const std::int64_t days = v.GetAsNumber().AsLong64();
            if (days < 1 || days > kLastDay) return false;
            out.SetDaysSinceEpoch(days);
            return true;
        }
        out = v.GetAsDate();
        return true;
    }
    std::u16string s = value::units(v);
    const auto space = s.find(u' ');  // a timestamp's date
    if (space != std::u16string::npos) s.resize(space);
    return fmx::DateFromText(s, out);
}

fmx::Data dateFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 3)) return value::empty();
    fmx::DateTime d;
    if (d.SetNormalizedDate(a[2].GetAsNumber(), a[0].GetAsNumber(), a[1].GetAsNumber()) != 0)
        return value::textUtf8("?");
    return value::date(d);
}

template <int Part>
fmx::Data datePart(const BuiltinArgs& a) {
    fmx::DateTime d;
    if (!dateOf(a[0], d)) return value::empty();
    const int v = Part == 0 ? d.GetYear() : Part == 1 ? d.GetMonth() : Part == 2 ? d.GetDay() : d.DayOfWeek();
    return value::number(static_cast<std::int64_t>(v));
}

fmx::Data getAsDate(const BuiltinArgs& a) {
    if (value::isEmpty(a[0])) return value::empty();
    fmx::DateTime d;
    if (!dateOf(a[0], d)) return value::textUtf8("?");
    return value::date(d);
}

// IsEmpty is eager; If, Case, Choose, Let, Get and IsValid are evaluated by the evaluator.
fmx::Data isEmptyFn(const BuiltinArgs& a) {
    return value::boolean(value::isEmpty(a[0]));
}

std::vector<Builtin> makeTable() {
    std::vector<Builtin> t;
    addTextBuiltins(t);
    addValueBuiltins(t);
    addNumberDateBuiltins(t);
    addJsonBuiltins(t);
    addWordBuiltins(t);
    addLogicBuiltins(t);
    t.push_back({"If", 2, 3, nullptr, "If ( test ; resultIfTrue ; resultIfFalse )"});
    t.push_back({"Case", 2, -1, nullptr, "Case ( test1 ; result1 ; test2 ; result2 ; … ; defaultResult )"});
    t.push_back({"Choose", 2, -1, nullptr, "Choose ( test ; result0 ; result1 ; … )"});
    t.push_back({"Let", 2, 2, nullptr, "Let ( [ name1 = expression1 ; name2 = expression2 ] ; calculation )", 0});
    t.push_back({"Get", 1, 1, nullptr, "Get ( name )  — see the Get names below"});
    t.push_back({"IsValid", 1, 1, nullptr, "IsValid ( field )"});
    t.push_back({"IsEmpty", 1, 1, isEmptyFn, "IsEmpty ( field )"});
    std::sort(t.begin(), t.end(),
              [](const Builtin& x, const Builtin& y) { return strcasecmp(x.name.c_str(), y.name.c_str()) < 0; });
    return t;
}

}  // namespace

void addNumberDateBuiltins(std::vector<Builtin>& t) {
    t.push_back({"Abs", 1, 1, absFn, "Abs ( number )"});
    t.push_back({"Int", 1, 1, intFn, "Int ( number )"});
    t.push_back({"Floor", 1, 1, floorFn, "Floor ( number )"});
    t.push_back({"Ceiling", 1, 1, ceilingFn, "Ceiling ( number )"});
    t.push_back({"Round", 2, 2, roundFn, "Round ( number ; precision )"});
    t.push_back({"Truncate", 2, 2, truncateFn, "Truncate ( number ; precision )"});
    t.push_back({"Mod", 2, 2, modFn, "Mod ( number ; divisor )"});
    t.push_back({"Div", 2, 2, divFn, "Div ( number ; divisor )"});
    t.push_back({"Min", 1, -1, minFn, "Min ( field1 ; field2 ; … )"});
    t.push_back({"Max", 1, -1, maxFn, "Max ( field1 ; field2 ; … )"});
    t.push_back({"Date", 3, 3, dateFn, "Date ( month ; day ; year )"});
    t.push_back({"Year", 1, 1, datePart<0>, "Year ( date )"});
    t.push_back({"Month", 1, 1, datePart<1>, "Month ( date )"});
    t.push_back({"Day", 1, 1, datePart<2>, "Day ( date )"});
    t.push_back({"DayOfWeek", 1, 1, datePart<3>, "DayOfWeek ( date )"});
    t.push_back({"GetAsDate", 1, 1, getAsDate, "GetAsDate ( text )"});
}

const std::vector<Builtin>& builtins() {
    static const std::vector<Builtin> table = makeTable();
    return table;
}

const Builtin* findBuiltin(const std::string& name) {
    const auto& t = builtins();
    auto it = std::lower_bound(t.begin(), t.end(), name, [](const Builtin& b, const std::string& n) {
        return strcasecmp(b.name.c_str(), n.c_str()) < 0;
    });
    return it != t.end() && strcasecmp(it->name.c_str(), name.c_str()) == 0 ? &*it : nullptr;
}

const std::vector<GetName>& getNames() {
    static const std::vector<GetName> names = {
        {"LastError", "the error of the last script step (0: none; 101: no further record; 100: no such script file)"},
        {"ScriptResult", "what the last Perform Script's script gave to Exit Script"},
        {"ScriptParameter", "the Parameter of the Perform Script that started this script"},
        {"ScriptName", "the running script's file name"},
        {"FoundCount", "the number of records of the loaded table"},
        {"RecordNumber", "the current record's number (0 when there is none)"},
        {"CurrentDate", "today's date"},
        {"CurrentTime", "the time now"},
        {"CurrentTimestamp", "the date and time now"},
        {"CurrentTimeUTCMilliseconds", "milliseconds since 1/1/1970 UTC, for timing"},
    };
    return names;
}

}  // namespace fm_host
