// fmx::FixPt over Boost.Multiprecision's decimal floating point (cpp_dec_float).
//
// The value is kept in a 440-digit decimal (enough for 400 places after the
// point and the integers of everyday sums), rounded after every operation to
// the precision's places plus kGuard more. Work whose result needs few digits
// (the common case: 16 places, small integers) is done in a 60-digit type and
// copied back, which is an order of magnitude faster than the wide one.
#include <charconv>
#include <cmath>
#include <string>

#include "Decimal.h"

namespace fmx {

using namespace decimal;

namespace {

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

}  // namespace fmx
