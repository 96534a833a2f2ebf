// fmx::FixPt over Boost.Multiprecision's decimal floating point (cpp_dec_float).
//
// The value is kept in a 440-digit decimal (enough for 400 places after the
// point and the integers of everyday sums), rounded after every operation to
// the precision's places plus kGuard more. Work whose result needs few digits
// (the common case: 16 places, small integers) is done in a 60-digit type and
// copied back, which is an order of magnitude faster than the wide one.
#include <boost/multiprecision/cpp_dec_float.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <string>

#include "FMWrapper.h"
#include "FixPtMath.h"

namespace fmx {

namespace mp = boost::multiprecision;
using Full = mp::number<mp::cpp_dec_float<440>, mp::et_off>;
using Small = mp::number<mp::cpp_dec_float<60>, mp::et_off>;

struct FixPtAccess {
    static Full& value(FixPt& f) { return *std::launder(reinterpret_cast<Full*>(f.value_)); }
    static const Full& value(const FixPt& f) { return *std::launder(reinterpret_cast<const Full*>(f.value_)); }
    static int32 precision(const FixPt& f) { return f.precision_; }
};

namespace {

static_assert(sizeof(Full) <= 264 && alignof(Full) <= 8, "FixPt::kValueBytes no longer holds the decimal type");

constexpr int32 kGuard = 4;              // places carried beyond the precision
constexpr long kMaxOrder = 400;          // 10^400 is the largest magnitude a number reaches
constexpr long kSmallDigits = 56;        // work that needs at most this many digits is done in Small
constexpr long kExponentLimit = 100000;  // of a written exponent; beyond it the value is 0 or too large

Full& val(FixPt& f) {
    return FixPtAccess::value(f);
}
const Full& val(const FixPt& f) {
    return FixPtAccess::value(f);
}

bool finite(const Full& x) {
    return mp::isfinite(x);
}

// The power of ten of the first digit (0 for 0).
long order(const Full& x) {
    return x.is_zero() ? 0 : static_cast<long>(x.backend().order());
}
template <class N>
long orderOf(const N& x) {
    return x.is_zero() ? 0 : static_cast<long>(x.backend().order());
}

template <class N>
const N& pow10(long k) {
    // 10^k for |k| up to the widest rounding; built once, then shared.
    constexpr long kRange = 460;
    static const std::array<N, 2 * kRange + 1> table = [] {
        std::array<N, 2 * kRange + 1> t;
        for (long i = -kRange; i <= kRange; ++i) t[static_cast<std::size_t>(i + kRange)] = N("1e" + std::to_string(i));
        return t;
    }();
    return table[static_cast<std::size_t>(std::clamp(k, -kRange, kRange) + kRange)];
}

template <class N>
N roundIn(const N& x, long places, Rounding mode) {
    if (places > 450) return x;
    const N scaled = x * pow10<N>(places);
    if (mp::trunc(scaled) == scaled) return x;  // no digit beyond the place
    N whole;
    switch (mode) {
        case Rounding::HalfAwayFromZero: {
            const N half("0.5");
            whole = scaled < 0 ? N(-mp::floor(-scaled + half)) : N(mp::floor(scaled + half));
            break;
        }
        case Rounding::TowardZero:
            whole = mp::trunc(scaled);
            break;
        case Rounding::Floor:
            whole = mp::floor(scaled);
            break;
        case Rounding::Ceiling:
            whole = mp::ceil(scaled);
            break;
    }
    return whole * pow10<N>(-places);
}

// x rounded to `places` digits after the point, in the narrow type when the
// digits down to that place fit in it.
Full roundTo(const Full& x, long places, Rounding mode) {
    if (!finite(x) || x.is_zero()) return x;
    const long o = order(x);
    if (o + 1 < -places) {
        // Every digit lies beyond the place: 0, or one unit of it for a floor or ceiling.
        if (mode == Rounding::Floor && x < 0) return -pow10<Full>(-places);
        if (mode == Rounding::Ceiling && x > 0) return pow10<Full>(-places);
        return Full(0);
    }
    const bool exactTail = mode == Rounding::Floor || mode == Rounding::Ceiling;  // every digit counts
    if (!exactTail && o + places + 2 <= kSmallDigits && o < kSmallDigits) return Full(roundIn(Small(x), places, mode));
    return roundIn(x, places, mode);
}

// A result as the number keeps it: beyond the range it is not a number; else
// rounded to the precision plus the guard places.
Full settle(const Full& x, int32 precision) {
    if (!finite(x)) return x;
    if (order(x) > kMaxOrder) return std::numeric_limits<Full>::quiet_NaN();
    return roundTo(x, precision + kGuard, Rounding::HalfAwayFromZero);
}

// The value as it shows: rounded to its precision.
Full shown(const FixPt& f) {
    return roundTo(val(f), FixPtAccess::precision(f), Rounding::HalfAwayFromZero);
}

// Digits a result needs from its first digit down to `places` after the point.
bool fitsSmall(long resultOrder, long places) {
    return resultOrder + places + 3 <= kSmallDigits && resultOrder > -kSmallDigits;
}

std::string shortestDouble(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

// Plain decimal text of x (already rounded to `places`).
std::string plain(const Full& x, long places) {
    if (!finite(x)) return "?";
    if (x.is_zero()) return "0";
    if (order(x) + places + 1 <= 18 && places <= 18) {
        // Up to 18 digits: the scaled value is a whole int64, written out by hand (the common case).
        const Small scaled = Small(x) * pow10<Small>(places);
        const long long whole = scaled.convert_to<long long>();
        const bool neg = whole < 0;
        std::string digits = std::to_string(neg ? -whole : whole);
        if (places > 0) {
            if (static_cast<long>(digits.size()) <= places)
                digits.insert(0, static_cast<std::size_t>(places - static_cast<long>(digits.size()) + 1), '0');
            digits.insert(digits.size() - static_cast<std::size_t>(places), ".");
            while (digits.back() == '0') digits.pop_back();
            if (digits.back() == '.') digits.pop_back();
        }
        return neg ? "-" + digits : digits;
    }
    // Scientific form gives every digit and the exponent: d.ddddde±N; the
    // narrow type writes it much faster when the digits fit.
    const auto digits10 = static_cast<std::streamsize>(std::max(1L, order(x) + places + 1));
    std::string s = digits10 + 2 <= kSmallDigits && order(x) > -kSmallDigits
                        ? Small(x).str(digits10, std::ios_base::scientific)
                        : x.str(digits10, std::ios_base::scientific);
    const bool neg = s[0] == '-';
    if (neg) s.erase(0, 1);
    const auto e = s.find('e');
    const long exponent = std::stol(s.substr(e + 1));
    std::string digits = s.substr(0, e);
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    std::string out;
    if (exponent >= 0) {
        const auto intLen = static_cast<std::size_t>(exponent + 1);
        if (digits.size() < intLen) digits.append(intLen - digits.size(), '0');
        out = digits.substr(0, intLen);
        std::string frac = digits.substr(intLen);
        if (static_cast<long>(frac.size()) > places) frac.resize(static_cast<std::size_t>(std::max(0L, places)));
        while (!frac.empty() && frac.back() == '0') frac.pop_back();
        if (!frac.empty()) out += "." + frac;
    } else {
        std::string frac = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
        if (static_cast<long>(frac.size()) > places) frac.resize(static_cast<std::size_t>(std::max(0L, places)));
        while (!frac.empty() && frac.back() == '0') frac.pop_back();
        if (frac.empty()) return "0";
        out = "0." + frac;
    }
    return neg ? "-" + out : out;
}

}  // namespace

// ---------------------------------------------------------------------------
// FixPt

FixPt::FixPt(int32 v, int32 precision) : precision_(std::clamp<int32>(precision, 0, kMaxFixedPrecision)) {
    new (value_) Full(v);
}

FixPt::FixPt(const FixPt& other, int32 precision) : FixPt(0, precision) {
    val(*this) = val(other);
}

FixPt::FixPt(const FixPt& other) : precision_(other.precision_) {
    new (value_) Full(val(other));
}

FixPt& FixPt::operator=(const FixPt& other) {
    if (this != &other) {
        val(*this) = val(other);
        precision_ = other.precision_;
    }
    return *this;
}

FixPt::~FixPt() {
    val(*this).~Full();
}

void FixPt::AssignFixPt(const FixPt& other) {
    val(*this) = val(other);
}

void FixPt::AssignInt(int32 v) {
    val(*this) = v;
}

void FixPt::AssignInt64(int64 v) {
    val(*this) = v;
}

void FixPt::AssignDouble(double v) {
    if (!std::isfinite(v)) {
        SetNotANumber(*this);
        return;
    }
    // The shortest text that reads back as `v` is the decimal the caller meant.
    if (!AssignText(shortestDouble(v))) AssignInt(0);
}

bool FixPt::AssignText(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    std::string digits;
    long scale = 0;
    bool seenDigit = false, seenPoint = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            seenDigit = true;
            if (seenPoint) ++scale;
            if (!digits.empty() || c != '0') digits.push_back(c);  // leading zeros carry no digits
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit) return false;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        bool eneg = false;
        if (j < s.size() && (s[j] == '-' || s[j] == '+')) eneg = s[j++] == '-';
        if (j >= s.size() || s[j] < '0' || s[j] > '9') return false;
        for (; j < s.size() && s[j] >= '0' && s[j] <= '9'; ++j)
            exponent = std::min(exponent * 10 + (s[j] - '0'), kExponentLimit);
        if (eneg) exponent = -exponent;
        i = j;
    }
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i != s.size()) return false;
    if (digits.empty()) {
        val(*this) = 0;
        return true;
    }
    // More digits than the type holds would be cut by its parser anyway; the
    // magnitude is the count before the point.
    const long magnitude = static_cast<long>(digits.size()) - scale + exponent - 1;
    if (magnitude > kMaxOrder) {
        SetNotANumber(*this);
        return true;
    }
    if (magnitude < -kExponentLimit / 2) {
        val(*this) = 0;
        return true;
    }
    Full x((neg ? "-" : "") + digits + "e" + std::to_string(exponent - scale));
    val(*this) = x;
    return true;
}

void FixPt::SetPrecision(int32 precision) {
    precision_ = std::clamp<int32>(precision, 0, kMaxFixedPrecision);
}

int64 FixPt::AsLong64() const {
    const Full& x = val(*this);
    if (!finite(x)) return 0;
    const Full t = mp::trunc(shown(*this));
    if (t >= Full(std::numeric_limits<int64>::max())) return std::numeric_limits<int64>::max();
    if (t <= Full(std::numeric_limits<int64>::min())) return std::numeric_limits<int64>::min();
    return t.convert_to<int64>();
}

int32 FixPt::AsLong() const {
    return static_cast<int32>(
        std::clamp<int64>(AsLong64(), std::numeric_limits<int32>::min(), std::numeric_limits<int32>::max()));
}

double FixPt::AsFloat() const {
    return val(*this).convert_to<double>();
}

bool FixPt::AsBool() const {
    const Full& x = val(*this);
    return finite(x) && !shown(*this).is_zero();
}

bool FixPt::IsNumber() const {
    return finite(val(*this));
}

std::string FixPt::AsString() const {
    return plain(shown(*this), precision_);
}

void FixPt::Increment(int32 n) {
    Increment64(n);
}
void FixPt::Increment64(int64 n) {
    val(*this) = settle(val(*this) + Full(n), precision_);
}
void FixPt::Decrement(int32 n) {
    Increment64(-static_cast<int64>(n));
}
void FixPt::Decrement64(int64 n) {
    val(*this) = settle(val(*this) - Full(n), precision_);
}

void FixPt::Negate() {
    Full& x = val(*this);
    if (!x.is_zero()) x = -x;
}

void FixPt::Add(const FixPt& arg, FixPt& result) const {
    const Full &a = val(*this), &b = val(arg);
    if (finite(a) && finite(b) && fitsSmall(std::max(order(a), order(b)) + 1, result.precision_ + kGuard))
        val(result) = settle(Full(Small(a) + Small(b)), result.precision_);
    else
        val(result) = settle(a + b, result.precision_);
}

void FixPt::Subtract(const FixPt& arg, FixPt& result) const {
    FixPt negated(arg);
    negated.Negate();
    Add(negated, result);
}

void FixPt::Multiply(const FixPt& arg, FixPt& result) const {
    const Full &a = val(*this), &b = val(arg);
    if (finite(a) && finite(b) && fitsSmall(order(a) + order(b) + 1, result.precision_ + kGuard))
        val(result) = settle(Full(Small(a) * Small(b)), result.precision_);
    else
        val(result) = settle(a * b, result.precision_);
}

errcode FixPt::Divide(const FixPt& arg, FixPt& result) const {
    const Full &a = val(*this), &b = val(arg);
    if (finite(b) && b.is_zero()) return 1;
    if (finite(a) && finite(b) && fitsSmall(order(a) - order(b) + 1, result.precision_ + kGuard))
        val(result) = settle(Full(Small(a) / Small(b)), result.precision_);
    else
        val(result) = settle(a / b, result.precision_);
    return 0;
}

bool FixPt::operator==(const FixPt& other) const {
    if (!IsNumber() || !other.IsNumber()) return false;
    const int32 p = std::max(precision_, other.precision_);
    return roundTo(val(*this), p, Rounding::HalfAwayFromZero) == roundTo(val(other), p, Rounding::HalfAwayFromZero);
}

bool FixPt::operator<(const FixPt& other) const {
    if (!IsNumber() || !other.IsNumber()) return false;
    const int32 p = std::max(precision_, other.precision_);
    return roundTo(val(*this), p, Rounding::HalfAwayFromZero) < roundTo(val(other), p, Rounding::HalfAwayFromZero);
}

// ---------------------------------------------------------------------------
// FixPtMath

FixPt RoundFixPt(const FixPt& n, int32 places, Rounding mode) {
    FixPt r(n);
    if (!n.IsNumber()) return r;
    const long p = std::clamp<long>(places, -kMaxOrder - 1, FixPt::kMaxFixedPrecision);
    // What is rounded is the number as it shows (1/3*3 is 1, so Int gives 1).
    val(r) = roundTo(shown(n), p, mode);
    return r;
}

void SetNotANumber(FixPt& out) {
    val(out) = std::numeric_limits<Full>::quiet_NaN();
}

int SignFixPt(const FixPt& n) {
    if (!n.IsNumber()) return 0;
    const Full s = shown(n);
    return s.is_zero() ? 0 : (s < 0 ? -1 : 1);
}

namespace {

// f(x) worked out in the narrow type when the answer's digits fit in it.
template <class F>
bool compute(const FixPt& n, FixPt& out, long resultOrder, F f) {
    const Full& x = val(n);
    const int32 p = FixPtAccess::precision(out);
    if (!finite(x)) {
        SetNotANumber(out);
        return false;
    }
    Full r;
    if (fitsSmall(resultOrder + 1, p + kGuard + 2))
        r = Full(f(Small(x)));
    else
        r = f(x);
    val(out) = settle(r, p);
    return out.IsNumber();
}

}  // namespace

bool SqrtFixPt(const FixPt& n, FixPt& out) {
    if (n.IsNumber() && val(n) < 0) {
        SetNotANumber(out);
        return false;
    }
    return compute(n, out, order(val(n)) / 2 + 1, [](const auto& x) { return mp::sqrt(x); });
}

bool ExpFixPt(const FixPt& n, FixPt& out) {
    const Full& x = val(n);
    if (finite(x) && x > Full(kMaxOrder * 2.302585093 + 1)) {
        SetNotANumber(out);
        return false;
    }
    if (finite(x) && x < Full(-(FixPt::kMaxFixedPrecision + 20) * 2.302585093)) {
        val(out) = 0;
        return true;
    }
    const long resultOrder = finite(x) ? static_cast<long>(std::max(0.0, x.convert_to<double>() / 2.302585093)) : 0;
    return compute(n, out, resultOrder, [](const auto& v) { return mp::exp(v); });
}

bool LnFixPt(const FixPt& n, FixPt& out) {
    if (!n.IsNumber() || val(n) <= 0) {
        SetNotANumber(out);
        return false;
    }
    return compute(n, out, 4, [](const auto& x) { return mp::log(x); });
}

bool Log10FixPt(const FixPt& n, FixPt& out) {
    if (!n.IsNumber() || val(n) <= 0) {
        SetNotANumber(out);
        return false;
    }
    return compute(n, out, 4, [](const auto& x) { return mp::log10(x); });
}

void PiFixPt(FixPt& out) {
    const int32 p = FixPtAccess::precision(out);
    if (p + kGuard + 2 <= kSmallDigits)
        val(out) = settle(Full(boost::math::constants::pi<Small>()), p);
    else
        val(out) = settle(boost::math::constants::pi<Full>(), p);
}

bool PowerFixPt(const FixPt& base, const FixPt& exponent, FixPt& out) {
    const Full &x = val(base), &y = val(exponent);
    const int32 p = FixPtAccess::precision(out);
    if (!finite(x) || !finite(y)) {
        SetNotANumber(out);
        return false;
    }
    if (y.is_zero()) {
        val(out) = 1;
        return true;
    }
    if (x.is_zero()) {
        if (y < 0) {
            SetNotANumber(out);
            return false;
        }
        val(out) = 0;
        return true;
    }
    const bool whole = mp::trunc(y) == y;
    if (x < 0 && !whole) {  // no real root of a negative number
        SetNotANumber(out);
        return false;
    }
    // log10 of the answer decides whether it is beyond the range, or below the last place.
    const double magnitude = y.convert_to<double>() * std::log10(std::fabs(x.convert_to<double>()));
    if (magnitude > kMaxOrder + 1) {
        SetNotANumber(out);
        return false;
    }
    if (magnitude < -(p + kGuard + 2)) {
        val(out) = 0;
        return true;
    }
    Full r;
    if (whole && mp::abs(y) <= Full(100000)) {
        // Repeated squaring keeps whole powers exact (10^20, 0.5^30).
        const long k = y.convert_to<long>();
        r = mp::pow(x, static_cast<int>(std::labs(k)));
        if (k < 0) r = Full(1) / r;
    } else if (fitsSmall(static_cast<long>(std::max(0.0, magnitude)) + 1, p + kGuard + 2)) {
        r = Full(mp::pow(Small(x), Small(y)));
    } else {
        r = mp::pow(x, y);
    }
    val(out) = settle(r, p);
    return out.IsNumber();
}

}  // namespace fmx
