// fmx's FixPtMath over the same decimal as fmx::FixPt: rounding, roots, powers,
// logarithms and pi, worked out in the narrow type when the answer fits in it.
#include <cmath>

#include "Decimal.h"

namespace fmx {

using namespace decimal;

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
