// The decimal behind fmx::FixPt: the wide and narrow Boost.Multiprecision
// types, the access to a FixPt's stored value, and the rounding every
// operation ends with. Private to this library (Number.cpp, FixPtMath.cpp).
#pragma once

#include <boost/multiprecision/cpp_dec_float.hpp>

#include <algorithm>
#include <array>
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

namespace decimal {

static_assert(sizeof(Full) <= 264 && alignof(Full) <= 8, "FixPt::kValueBytes no longer holds the decimal type");

inline constexpr int32 kGuard = 4;              // places carried beyond the precision
inline constexpr long kMaxOrder = 400;          // 10^400 is the largest magnitude a number reaches
inline constexpr long kSmallDigits = 56;        // work that needs at most this many digits is done in Small
inline constexpr long kExponentLimit = 100000;  // of a written exponent; beyond it the value is 0 or too large

inline Full& val(FixPt& f) {
    return FixPtAccess::value(f);
}
inline const Full& val(const FixPt& f) {
    return FixPtAccess::value(f);
}

inline bool finite(const Full& x) {
    return mp::isfinite(x);
}

// The power of ten of the first digit (0 for 0).
inline long order(const Full& x) {
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
inline Full roundTo(const Full& x, long places, Rounding mode) {
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
inline Full settle(const Full& x, int32 precision) {
    if (!finite(x)) return x;
    if (order(x) > kMaxOrder) return std::numeric_limits<Full>::quiet_NaN();
    return roundTo(x, precision + kGuard, Rounding::HalfAwayFromZero);
}

// The value as it shows: rounded to its precision.
inline Full shown(const FixPt& f) {
    return roundTo(val(f), FixPtAccess::precision(f), Rounding::HalfAwayFromZero);
}

// Digits a result needs from its first digit down to `places` after the point.
inline bool fitsSmall(long resultOrder, long places) {
    return resultOrder + places + 3 <= kSmallDigits && resultOrder > -kSmallDigits;
}

}  // namespace decimal

}  // namespace fmx
