// Number, aggregate, trigonometric and financial built-ins. Decimal work goes
// through fmx::FixPt at the calculation's precision (value::precision());
// the trigonometric functions work in binary doubles, as FileMaker's do
// (they are the functions SetPrecision does not extend).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>

#include "Builtins.h"
#include "Value.h"

namespace fm_host {

namespace {

using value::Rounding;

// FileMaker answers an empty value when a number function's parameters are empty.
bool anyEmpty(const BuiltinArgs& a, std::size_t count) {
    for (std::size_t i = 0; i < count && i < a.size(); ++i)
        if (value::isEmpty(a[i])) return true;
    return false;
}

const fmx::FixPt& num(const BuiltinArgs& a, std::size_t i) {
    return a[i].GetAsNumber();
}

int places(const BuiltinArgs& a, std::size_t i) {
    return static_cast<int>(std::clamp<std::int64_t>(value::integer(a[i]), -401, 400));
}

fmx::Data absFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    fmx::FixPt n(num(a, 0), value::precision());
    if (fmx::SignFixPt(n) < 0) n.Negate();
    if (value::isTime(a[0])) return value::timeOfSeconds(n);  // Abs of a time is a time
    return value::number(n);
}

template <Rounding Mode>
fmx::Data roundWhole(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    return value::number(value::roundDecimal(num(a, 0), 0, Mode));
}

template <Rounding Mode>
fmx::Data roundPlaces(const BuiltinArgs& a) {
    if (anyEmpty(a, 2)) return value::empty();
    return value::number(value::roundDecimal(num(a, 0), places(a, 1), Mode));
}

// Div and Mod round the quotient down, so Mod ( -15 ; 4 ) is 1 and Mod ( 15 ; -4 ) is -1.
bool floorQuotient(const BuiltinArgs& a, fmx::FixPt& q) {
    const fmx::FixPt &x = num(a, 0), &y = num(a, 1);
    if (fmx::SignFixPt(y) == 0) return false;
    fmx::FixPt exact = value::zero();
    if (x.Divide(y, exact) != 0) return false;
    q = value::roundDecimal(exact, 0, Rounding::Floor);
    return true;
}

fmx::Data divFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 2)) return value::empty();
    fmx::FixPt q;
    if (!floorQuotient(a, q)) return value::questionMark();
    return value::number(q);
}

fmx::Data modFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 2)) return value::empty();
    fmx::FixPt q, product = value::zero(), r = value::zero();
    if (!floorQuotient(a, q)) return value::questionMark();
    num(a, 1).Multiply(q, product);
    num(a, 0).Subtract(product, r);
    return value::number(r);
}

fmx::Data signFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    return value::number(static_cast<std::int64_t>(fmx::SignFixPt(num(a, 0))));
}

template <bool (*F)(const fmx::FixPt&, fmx::FixPt&)>
fmx::Data decimalFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    fmx::FixPt r = value::zero();
    if (!F(num(a, 0), r)) return value::questionMark();
    return value::number(r);
}

// A logarithm: of 0 or a negative number "?", an error as FileMaker's help says.
template <bool (*F)(const fmx::FixPt&, fmx::FixPt&)>
fmx::Data logFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    if (fmx::SignFixPt(num(a, 0)) <= 0) return value::questionMark();
    return decimalFn<F>(a);
}

// Logarithm to base 2: ln x / ln 2.
bool log2FixPt(const fmx::FixPt& x, fmx::FixPt& out) {
    fmx::FixPt lnx(out), ln2(out);
    if (!fmx::LnFixPt(x, lnx) || !fmx::LnFixPt(fmx::FixPt(2), ln2)) return false;
    return lnx.Divide(ln2, out) == 0;
}

fmx::Data piFn(const BuiltinArgs&) {
    fmx::FixPt r = value::zero();
    fmx::PiFixPt(r);
    return value::number(r);
}

// The engine's whole state is seeded from the system's entropy, not from one 32-bit draw, so that
// no two runs are likely to share a sequence.
std::mt19937_64 seededEngine() {
    std::random_device device;
    std::array<std::uint32_t, std::mt19937_64::state_size * 2> seed;
    std::generate(seed.begin(), seed.end(), std::ref(device));
    std::seed_seq seq(seed.begin(), seed.end());
    return std::mt19937_64(seq);
}

fmx::Data randomFn(const BuiltinArgs&) {
    static std::mt19937_64 engine = seededEngine();
    fmx::FixPt r = value::zero();
    r.AssignDouble(std::uniform_real_distribution<double>(0.0, 1.0)(engine));
    return value::number(r);
}

// A function of binary doubles; a result that is not finite is "?".
template <double (*F)(double)>
fmx::Data doubleFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    const double r = F(num(a, 0).AsFloat());
    if (!std::isfinite(r)) return value::questionMark();
    fmx::FixPt f = value::zero();
    f.AssignDouble(r);
    return value::number(f);
}

double sinD(double x) {
    return std::sin(x);
}
double cosD(double x) {
    return std::cos(x);
}
double tanD(double x) {
    return std::tan(x);
}
double atanD(double x) {
    return std::atan(x);
}
double asinD(double x) {
    return std::asin(x);
}
double acosD(double x) {
    return std::acos(x);
}

// Degrees and Radians scale by 180/π in decimal, so Degrees ( Pi ) is 180.
template <bool ToDegrees>
fmx::Data angleFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 1)) return value::empty();
    fmx::FixPt pi(0, value::precision() + 8), r = value::zero(), t(0, value::precision() + 8);
    fmx::PiFixPt(pi);
    if (ToDegrees) {
        num(a, 0).Multiply(fmx::FixPt(180), t);
        t.Divide(pi, r);
    } else {
        num(a, 0).Multiply(pi, t);
        t.Divide(fmx::FixPt(180), r);
    }
    return value::number(r);
}

// The values an aggregate works on: every parameter, a "[ … ]" list item by
// item; empty values are left out.
std::vector<const fmx::Data*> aggregateValues(const BuiltinArgs& a) {
    std::vector<const fmx::Data*> out;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!a.lists[i].empty()) {
            for (const auto& v : a.lists[i])
                if (!value::isEmpty(v)) out.push_back(&v);
        } else if (!value::isEmpty(a[i])) {
            out.push_back(&a[i]);
        }
    }
    return out;
}

fmx::FixPt sumOf(const std::vector<const fmx::Data*>& values) {
    fmx::FixPt sum = value::zero();
    for (const fmx::Data* v : values) sum.Add(v->GetAsNumber(), sum);
    return sum;
}

fmx::Data sumFn(const BuiltinArgs& a) {
    return value::number(sumOf(aggregateValues(a)));
}

fmx::Data averageFn(const BuiltinArgs& a) {
    const auto values = aggregateValues(a);
    if (values.empty()) return value::empty();
    fmx::FixPt r = value::zero(), count = value::zero();
    count.AssignInt64(static_cast<fmx::int64>(values.size()));
    sumOf(values).Divide(count, r);
    return value::number(r);
}

fmx::Data countFn(const BuiltinArgs& a) {
    return value::number(static_cast<std::int64_t>(aggregateValues(a).size()));
}

fmx::Data extreme(const BuiltinArgs& a, bool wantMax) {
    const fmx::Data* best = nullptr;
    for (const fmx::Data* v : aggregateValues(a))
        if (!best || (wantMax ? best->GetAsNumber() < v->GetAsNumber() : v->GetAsNumber() < best->GetAsNumber()))
            best = v;
    if (!best) return value::empty();
    if (value::isNumeric(*best) && best->GetNativeType() != fmx::Data::kDTNumber) return *best;  // a date stays a date
    return value::number(best->GetAsNumber());
}

fmx::Data minFn(const BuiltinArgs& a) {
    return extreme(a, false);
}
fmx::Data maxFn(const BuiltinArgs& a) {
    return extreme(a, true);
}

// GetRepetition, Extend and Last on what this host has of repetitions: a
// "[ … ]" list stands for a repeating field; a single value is its own
// first (and last) repetition.
fmx::Data getRepetitionFn(const BuiltinArgs& a) {
    const std::int64_t n = value::integer(a[1]);
    const auto& list = a.lists[0];
    if (!list.empty()) return n >= 1 && n <= static_cast<std::int64_t>(list.size()) ? list[n - 1] : value::empty();
    return n == 1 ? a[0] : value::empty();
}

fmx::Data extendFn(const BuiltinArgs& a) {
    return a[0];
}

fmx::Data lastFn(const BuiltinArgs& a) {
    const auto& list = a.lists[0];
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (!value::isEmpty(*it)) return *it;
    return list.empty() ? a[0] : value::empty();
}

// (1 + rate) ^ periods, at the calculation's precision.
bool growth(const fmx::FixPt& rate, const fmx::FixPt& periods, fmx::FixPt& out) {
    fmx::FixPt base = value::zero();
    rate.Add(fmx::FixPt(1), base);
    return fmx::PowerFixPt(base, periods, out);
}

// FV ( payment ; interestRate ; periods ): payment × ((1 + r)^n − 1) / r.
fmx::Data fvFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 3)) return value::empty();
    const fmx::FixPt &pay = num(a, 0), &rate = num(a, 1), &n = num(a, 2);
    fmx::FixPt r = value::zero(), g = value::zero(), t = value::zero();
    if (fmx::SignFixPt(rate) == 0) {
        pay.Multiply(n, r);
        return value::number(r);
    }
    if (!growth(rate, n, g)) return value::questionMark();
    g.Decrement(1);
    pay.Multiply(g, t);
    if (t.Divide(rate, r) != 0) return value::questionMark();
    return value::number(r);
}

// PV ( payment ; interestRate ; periods ): payment × (1 − (1 + r)^−n) / r.
fmx::Data pvFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 3)) return value::empty();
    const fmx::FixPt &pay = num(a, 0), &rate = num(a, 1);
    fmx::FixPt n(num(a, 2)), r = value::zero(), g = value::zero(), t = value::zero(), one(1, value::precision());
    if (fmx::SignFixPt(rate) == 0) {
        pay.Multiply(n, r);
        return value::number(r);
    }
    n.Negate();
    if (!growth(rate, n, g)) return value::questionMark();
    one.Subtract(g, g);
    pay.Multiply(g, t);
    if (t.Divide(rate, r) != 0) return value::questionMark();
    return value::number(r);
}

// PMT ( principal ; interestRate ; term ): principal × r / (1 − (1 + r)^−n).
fmx::Data pmtFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 3)) return value::empty();
    const fmx::FixPt &principal = num(a, 0), &rate = num(a, 1);
    fmx::FixPt n(num(a, 2)), r = value::zero(), g = value::zero(), t = value::zero(), one(1, value::precision());
    if (fmx::SignFixPt(rate) == 0) {
        if (principal.Divide(n, r) != 0) return value::questionMark();
        return value::number(r);
    }
    n.Negate();
    if (!growth(rate, n, g)) return value::questionMark();
    one.Subtract(g, g);
    principal.Multiply(rate, t);
    if (fmx::SignFixPt(g) == 0 || t.Divide(g, r) != 0) return value::questionMark();
    return value::number(r);
}

// NPV ( payment ; interestRate ): the payments (a "[ … ]" list, or one
// value) discounted one period each: Σ payment_i / (1 + r)^i, i from 1.
fmx::Data npvFn(const BuiltinArgs& a) {
    if (anyEmpty(a, 2)) return value::empty();
    const fmx::FixPt& rate = num(a, 1);
    const std::vector<fmx::Data> single{a[0]};
    const auto& payments = a.lists[0].empty() ? single : a.lists[0];
    fmx::FixPt base = value::zero(), factor = value::zero(), sum = value::zero(), term = value::zero();
    rate.Add(fmx::FixPt(1), base);
    if (fmx::SignFixPt(base) == 0) return value::questionMark();
    factor.AssignFixPt(base);
    for (const auto& p : payments) {
        if (p.GetAsNumber().Divide(factor, term) != 0) return value::questionMark();
        sum.Add(term, sum);
        factor.Multiply(base, factor);
    }
    return value::number(sum);
}

}  // namespace

void addNumberBuiltins(std::vector<Builtin>& t) {
    t.push_back({"Abs", 1, 1, absFn, "Abs ( number )"});
    t.push_back({"Int", 1, 1, roundWhole<Rounding::TowardZero>, "Int ( number )"});
    t.push_back({"Floor", 1, 1, roundWhole<Rounding::Floor>, "Floor ( number )"});
    t.push_back({"Ceiling", 1, 1, roundWhole<Rounding::Ceiling>, "Ceiling ( number )"});
    t.push_back({"Round", 2, 2, roundPlaces<Rounding::HalfAwayFromZero>, "Round ( number ; precision )"});
    t.push_back({"Truncate", 2, 2, roundPlaces<Rounding::TowardZero>, "Truncate ( number ; precision )"});
    t.push_back({"Mod", 2, 2, modFn, "Mod ( number ; divisor )"});
    t.push_back({"Div", 2, 2, divFn, "Div ( number ; divisor )"});
    t.push_back({"Sign", 1, 1, signFn, "Sign ( number )"});
    t.push_back({"Sqrt", 1, 1, decimalFn<fmx::SqrtFixPt>, "Sqrt ( number )"});
    t.push_back({"Exp", 1, 1, decimalFn<fmx::ExpFixPt>, "Exp ( number )"});
    t.push_back({"Ln", 1, 1, logFn<fmx::LnFixPt>, "Ln ( number )"});
    t.push_back({"Log", 1, 1, logFn<fmx::Log10FixPt>, "Log ( number )"});
    t.push_back({"Lg", 1, 1, logFn<log2FixPt>, "Lg ( number )"});
    t.push_back({"SetPrecision", 2, 2, nullptr, "SetPrecision ( expression ; precision )"});
    t.push_back({"Pi", 0, 0, piFn, "Pi"});
    t.push_back({"Random", 0, 0, randomFn, "Random"});
    t.push_back({"Sin", 1, 1, doubleFn<sinD>, "Sin ( angleInRadians )"});
    t.push_back({"Cos", 1, 1, doubleFn<cosD>, "Cos ( angleInRadians )"});
    t.push_back({"Tan", 1, 1, doubleFn<tanD>, "Tan ( angleInRadians )"});
    t.push_back({"Atan", 1, 1, doubleFn<atanD>, "Atan ( number )"});
    t.push_back({"Asin", 1, 1, doubleFn<asinD>, "Asin ( number )"});
    t.push_back({"Acos", 1, 1, doubleFn<acosD>, "Acos ( number )"});
    t.push_back({"Degrees", 1, 1, angleFn<true>, "Degrees ( angleInRadians )"});
    t.push_back({"Radians", 1, 1, angleFn<false>, "Radians ( angleInDegrees )"});
    t.push_back({"Sum", 1, -1, sumFn, "Sum ( field1 ; field2 ; … )", 0});
    t.push_back({"Average", 1, -1, averageFn, "Average ( field1 ; field2 ; … )", 0});
    t.push_back({"Count", 1, -1, countFn, "Count ( field1 ; field2 ; … )", 0});
    t.push_back({"Min", 1, -1, minFn, "Min ( field1 ; field2 ; … )", 0});
    t.push_back({"Max", 1, -1, maxFn, "Max ( field1 ; field2 ; … )", 0});
    t.push_back({"GetRepetition", 2, 2, getRepetitionFn, "GetRepetition ( repeatingField ; number )", 0});
    t.push_back({"Extend", 1, 1, extendFn, "Extend ( nonRepeatingField )"});
    t.push_back({"Last", 1, 1, lastFn, "Last ( field )", 0});
    t.push_back({"FV", 3, 3, fvFn, "FV ( payment ; interestRate ; periods )"});
    t.push_back({"PV", 3, 3, pvFn, "PV ( payment ; interestRate ; periods )"});
    t.push_back({"PMT", 3, 3, pmtFn, "PMT ( principal ; interestRate ; term )"});
    t.push_back({"NPV", 2, 2, npvFn, "NPV ( payment ; interestRate )", 0});
}

}  // namespace fm_host
