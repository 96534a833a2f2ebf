// fmx::FixPt: decimal numbers kept exactly as digits and a scale, with a
// double fallback for values beyond 18 significant digits.
#include "FMWrapper.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace fmx {

namespace {

constexpr std::uint64_t kExactLimit = 1'000'000'000'000'000'000ULL;  // 10^18
constexpr int32 kMaxPrecision = 400;

std::uint64_t pow10(int n) {
    std::uint64_t r = 1;
    while (n-- > 0) r *= 10;
    return r;
}

std::string shortestDouble(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

}  // namespace

FixPt::FixPt(int32 val, int32 precision) : precision_(std::clamp(precision, 0, kMaxPrecision)) {
    AssignInt(val);
}

FixPt::FixPt(const FixPt& other, int32 precision) : FixPt(0, precision) {
    AssignFixPt(other);
    SetPrecision(precision);
}

void FixPt::AssignFixPt(const FixPt& other) {
    neg_ = other.neg_;
    inexact_ = other.inexact_;
    mantissa_ = other.mantissa_;
    scale_ = other.scale_;
    value_ = other.value_;
}

void FixPt::AssignInt(int32 val) {
    AssignInt64(val);
}

void FixPt::AssignInt64(int64 val) {
    inexact_ = false;
    neg_ = val < 0;
    mantissa_ = neg_ ? static_cast<std::uint64_t>(-(val + 1)) + 1 : static_cast<std::uint64_t>(val);
    scale_ = 0;
    value_ = 0;
    if (mantissa_ >= kExactLimit) {
        inexact_ = true;
        value_ = static_cast<double>(val);
    }
    normalize();
}

void FixPt::AssignDouble(double val) {
    if (!std::isfinite(val)) {
        AssignInt(0);
        return;
    }
    // The shortest text that reads back as `val` is the decimal the caller meant.
    if (!AssignText(shortestDouble(val))) AssignInt(0);
}

bool FixPt::AssignText(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    std::string digits;
    int32 scale = 0;
    bool seenDigit = false, seenPoint = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            seenDigit = true;
            if (digits.empty() && c == '0') {
                if (seenPoint) ++scale;
                continue;  // leading zeros carry no digits
            }
            digits.push_back(c);
            if (seenPoint) ++scale;
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
            exponent = std::min(exponent * 10 + (s[j] - '0'), 100000L);
        if (eneg) exponent = -exponent;
        i = j;
    }
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i != s.size()) return false;

    // Drop trailing zeros of the fraction, then round to the precision.
    long sc = static_cast<long>(scale) - exponent;
    while (!digits.empty() && sc > 0 && digits.back() == '0') {
        digits.pop_back();
        --sc;
    }
    if (sc > precision_) {
        const long drop = sc - precision_;
        if (drop > static_cast<long>(digits.size())) {
            digits.clear();
        } else {
            const bool up = digits[digits.size() - drop] >= '5';
            digits.resize(digits.size() - drop);
            // Ripple the rounding carry through the kept digits.
            if (up) {
                long k = static_cast<long>(digits.size()) - 1;
                while (k >= 0 && digits[k] == '9') digits[k--] = '0';
                if (k >= 0)
                    ++digits[k];
                else
                    digits.insert(digits.begin(), '1');
            }
        }
        sc = precision_;
    }
    neg_ = neg;
    value_ = 0;
    inexact_ = false;
    if (digits.empty()) {
        mantissa_ = 0;
        scale_ = 0;
        normalize();
        return true;
    }
    // Exact when the digits (scaled up for a negative scale) fit below 10^18.
    if (digits.size() + static_cast<std::size_t>(std::max(0L, -sc)) <= 18) {
        std::uint64_t m = 0;
        for (char c : digits) m = m * 10 + static_cast<std::uint64_t>(c - '0');
        if (sc < 0) {
            m *= pow10(static_cast<int>(-sc));
            sc = 0;
        }
        mantissa_ = m;
        scale_ = static_cast<int32>(sc);
    } else {
        inexact_ = true;
        value_ = std::strtod((digits + "e" + std::to_string(-sc)).c_str(), nullptr);
        if (neg) value_ = -value_;
    }
    normalize();
    return true;
}

void FixPt::SetPrecision(int32 precision) {
    precision_ = std::clamp(precision, 0, kMaxPrecision);
    if (!inexact_ && scale_ > precision_) {
        const std::string text = AsString();
        AssignText(text);
    }
}

void FixPt::normalize() {
    if (inexact_) {
        if (std::fabs(value_) < 9e17 && std::fabs(value_) >= 1e-6) {
            // Back to exact digits when the value is ordinary again.
            const double v = value_;
            inexact_ = false;
            if (!AssignText(shortestDouble(v))) AssignInt(0);
        }
        return;
    }
    while (scale_ > 0 && mantissa_ % 10 == 0) {
        mantissa_ /= 10;
        --scale_;
    }
    if (mantissa_ == 0) {
        neg_ = false;
        scale_ = 0;
    }
}

int64 FixPt::AsLong64() const {
    if (inexact_) {
        const double t = std::trunc(value_);
        if (t >= 9.2e18) return std::numeric_limits<int64>::max();
        if (t <= -9.2e18) return std::numeric_limits<int64>::min();
        return static_cast<int64>(t);
    }
    const std::uint64_t whole = scale_ > 18 ? 0 : mantissa_ / pow10(scale_);
    return neg_ ? -static_cast<int64>(whole) : static_cast<int64>(whole);
}

int32 FixPt::AsLong() const {
    const int64 v = AsLong64();
    return static_cast<int32>(
        std::clamp<int64>(v, std::numeric_limits<int32>::min(), std::numeric_limits<int32>::max()));
}

double FixPt::AsFloat() const {
    if (inexact_) return value_;
    return std::strtod(AsString().c_str(), nullptr);
}

bool FixPt::AsBool() const {
    return inexact_ ? value_ != 0 : mantissa_ != 0;
}

std::string FixPt::AsString() const {
    if (inexact_) return shortestDouble(value_);
    std::string digits = std::to_string(mantissa_);
    if (scale_ > 0) {
        if (static_cast<int32>(digits.size()) <= scale_)
            digits.insert(0, static_cast<std::size_t>(scale_ - digits.size() + 1), '0');
        digits.insert(digits.size() - static_cast<std::size_t>(scale_), ".");
    }
    return neg_ ? "-" + digits : digits;
}

void FixPt::Increment(int32 n) {
    FixPt r;
    Add(FixPt(n), r);
    AssignFixPt(r);
}

void FixPt::Decrement(int32 n) {
    FixPt r;
    Subtract(FixPt(n), r);
    AssignFixPt(r);
}

void FixPt::Negate() {
    if (inexact_)
        value_ = -value_;
    else if (mantissa_ != 0)
        neg_ = !neg_;
}

void FixPt::Add(const FixPt& arg, FixPt& result) const {
    if (!inexact_ && !arg.inexact_) {
        const int32 sc = std::max(scale_, arg.scale_);
        if (sc <= 18) {
            const std::uint64_t fa = pow10(sc - scale_), fb = pow10(sc - arg.scale_);
            if (mantissa_ < kExactLimit / fa && arg.mantissa_ < kExactLimit / fb) {
                const int64 a = static_cast<int64>(mantissa_ * fa) * (neg_ ? -1 : 1);
                const int64 b = static_cast<int64>(arg.mantissa_ * fb) * (arg.neg_ ? -1 : 1);
                const int64 sum = a + b;  // |a|,|b| < 10^18: no overflow
                FixPt r(0, result.precision_);
                r.AssignInt64(sum);
                if (!r.inexact_) {
                    r.scale_ = sc;
                    r.normalize();
                    result.AssignFixPt(r);
                    return;
                }
            }
        }
    }
    result.AssignDouble(AsFloat() + arg.AsFloat());
}

void FixPt::Subtract(const FixPt& arg, FixPt& result) const {
    FixPt neg(arg, arg.precision_);
    neg.Negate();
    Add(neg, result);
}

void FixPt::Multiply(const FixPt& arg, FixPt& result) const {
    if (!inexact_ && !arg.inexact_) {
        std::uint64_t m;
        if (!__builtin_mul_overflow(mantissa_, arg.mantissa_, &m) && m < kExactLimit) {
            FixPt r(0, result.precision_);
            r.mantissa_ = m;
            r.neg_ = neg_ != arg.neg_;
            r.scale_ = scale_ + arg.scale_;
            r.normalize();
            if (r.scale_ > r.precision_) r.AssignText(r.AsString());
            result.AssignFixPt(r);
            return;
        }
    }
    result.AssignDouble(AsFloat() * arg.AsFloat());
}

errcode FixPt::Divide(const FixPt& arg, FixPt& result) const {
    if (!arg.AsBool()) return 1;
    result.AssignDouble(AsFloat() / arg.AsFloat());
    return 0;
}

bool FixPt::operator==(const FixPt& other) const {
    if (!inexact_ && !other.inexact_)
        return neg_ == other.neg_ && mantissa_ == other.mantissa_ && scale_ == other.scale_;
    return AsFloat() == other.AsFloat();
}

bool FixPt::operator<(const FixPt& other) const {
    FixPt diff;
    Subtract(other, diff);
    return diff.inexact_ ? diff.value_ < 0 : diff.neg_;
}

}  // namespace fmx
