// Values of the calculation language.
#include "Value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "IcuText.h"

namespace fm_host::value {

fmx::Data text(std::u16string_view units) {
    fmx::Text t;
    t.AssignUnicodeWithLength(units.data(), static_cast<fmx::uint32>(units.size()));
    fmx::Data d;
    d.SetAsText(t, fmx::Locale());
    return d;
}

fmx::Data textUtf8(std::string_view utf8) {
    fmx::Data d;
    d.SetAsText(fmx::Text::FromUTF8(utf8), fmx::Locale());
    return d;
}

namespace {

// "1.25e+20" written out as "125000000000000000000"; other text unchanged.
std::string withoutExponent(const std::string& s) {
    const auto e = s.find_first_of("eE");
    if (e == std::string::npos) return s;
    const bool neg = !s.empty() && s[0] == '-';
    std::string mantissa = s.substr(neg ? 1 : 0, e - (neg ? 1 : 0));
    long exponent = std::strtol(s.c_str() + e + 1, nullptr, 10);
    const auto point = mantissa.find('.');
    if (point != std::string::npos) {
        exponent -= static_cast<long>(mantissa.size() - point - 1);
        mantissa.erase(point, 1);
    }
    exponent = std::clamp(exponent, -450L, 450L);
    std::string out;
    if (exponent >= 0) {
        out = mantissa + std::string(static_cast<std::size_t>(exponent), '0');
    } else {
        const auto fraction = static_cast<std::size_t>(-exponent);
        if (mantissa.size() <= fraction) mantissa.insert(0, fraction - mantissa.size() + 1, '0');
        out = mantissa.substr(0, mantissa.size() - fraction) + "." + mantissa.substr(mantissa.size() - fraction);
    }
    return neg ? "-" + out : out;
}

// FixPt keeps 18 digits exactly; a text with an exponent or more digits is a double's.
bool heldAsDouble(const std::string& s) {
    if (s.find_first_of("eE") != std::string::npos) return true;
    const auto first = s.find_first_of("123456789");
    return first != std::string::npos && std::count_if(s.begin() + static_cast<long>(first), s.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; }) > 18;
}

}  // namespace

fmx::Data number(const fmx::FixPt& n) {
    fmx::Data d;
    std::string s = n.AsString();
    if (!heldAsDouble(s)) {
        d.SetAsNumber(n);
        return d;
    }
    // The double's shortest digits, not the binary tail a fixed form spells out.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, n.AsFloat(), std::chars_format::scientific);
    s.assign(buf, res.ptr);
    // A value beyond the exact digits is held as a double; show it written
    // out, as FileMaker does, never as "1e+20", and a tiny one cut at the 16th
    // decimal place like any other number.
    const std::string plain = withoutExponent(s);
    fmx::FixPt cut;
    if (cut.AssignText(plain) && !heldAsDouble(cut.AsString())) {
        d.SetAsNumber(cut);
        return d;
    }
    d.SetAsText(fmx::Text::FromUTF8(plain), fmx::Locale(), fmx::Data::kDTNumber);
    return d;
}

fmx::Data number(std::int64_t n) {
    fmx::FixPt f;
    f.AssignInt64(n);
    return number(f);
}

fmx::Data boolean(bool b) {
    return number(static_cast<std::int64_t>(b ? 1 : 0));
}

fmx::Data date(const fmx::DateTime& d) {
    fmx::Data v;
    v.SetAsDate(d);
    return v;
}

fmx::Data timestamp(const fmx::DateTime& d) {
    fmx::Data v;
    v.SetAsTimeStamp(d);
    return v;
}

fmx::Data empty() {
    return text(u"");
}

fmx::Data numberFromDecimal(const std::string& decimal) {
    fmx::FixPt f;
    if (!f.AssignText(decimal)) return empty();
    return number(f);
}

std::u16string units(const fmx::Data& v) {
    return std::u16string(v.GetAsText().View());
}

std::string utf8(const fmx::Data& v) {
    return v.GetAsText().ToUTF8();
}

bool isEmpty(const fmx::Data& v) {
    return v.GetAsText().GetSize() == 0;
}

bool isNumeric(const fmx::Data& v) {
    switch (v.GetNativeType()) {
        case fmx::Data::kDTNumber:
        case fmx::Data::kDTDate:
        case fmx::Data::kDTTime:
        case fmx::Data::kDTTimeStamp:
        case fmx::Data::kDTBoolean:
            return true;
        default:
            return false;
    }
}

bool isDateLike(const fmx::Data& v) {
    return v.GetNativeType() == fmx::Data::kDTDate;
}

bool truth(const fmx::Data& v) {
    return !isEmpty(v) && v.GetAsNumber() != fmx::FixPt(0);
}

std::int64_t integer(const fmx::Data& v) {
    return v.GetAsNumber().AsLong64();
}

std::u16string lower(std::u16string_view s) {
    return icu_text::foldSimple(s);
}

bool equalsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && lower(a) == lower(b);
}

int compare(const fmx::Data& a, const fmx::Data& b) {
    // A number against a text that holds only a number compares as numbers,
    // so a record's "42" equals 42; anything else compares as text.
    auto numericText = [](const fmx::Data& v) {
        fmx::FixPt f;
        const std::string s = utf8(v);
        return !s.empty() && s.find_first_of(" \t\r\n") == std::string::npos && f.AssignText(s);
    };
    const bool an = isNumeric(a), bn = isNumeric(b);
    if ((an && bn) || (an && numericText(b)) || (bn && numericText(a))) {
        if (isEmpty(a) || isEmpty(b)) return isEmpty(a) == isEmpty(b) ? 0 : (isEmpty(a) ? -1 : 1);
        const fmx::FixPt &x = a.GetAsNumber(), &y = b.GetAsNumber();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    const std::u16string x = icu_text::fold(a.GetAsText().View()), y = icu_text::fold(b.GetAsText().View());
    return x < y ? -1 : (y < x ? 1 : 0);
}

std::vector<std::u16string> splitValues(std::u16string_view list) {
    std::vector<std::u16string> out;
    std::u16string current;
    bool open = false;  // a value has begun since the last return
    for (std::size_t i = 0; i < list.size(); ++i) {
        const char16_t c = list[i];
        if (c == u'\r' || c == u'\n' || c == u'\u2028' ||
            c == u'\u2029') {  // also Unicode's line and paragraph separators
            if (c == u'\r' && i + 1 < list.size() && list[i + 1] == u'\n') ++i;
            out.push_back(std::move(current));
            current.clear();
            open = false;
        } else {
            current.push_back(c);
            open = true;
        }
    }
    if (open) out.push_back(std::move(current));
    return out;
}

std::u16string joinValues(const std::vector<std::u16string>& values) {
    std::u16string out;
    for (const auto& v : values) {
        out += v;
        out.push_back(u'\r');
    }
    return out;
}

fmx::FixPt roundDecimal(const fmx::FixPt& n, int places, Rounding mode) {
    // A value held as a double is rounded on its digits written out, never by
    // scaling the double (which adds binary noise: Round ( 10^300 ; 5 )).
    const std::string s = withoutExponent(n.AsString());
    const bool neg = !s.empty() && s[0] == '-';
    const std::string body = neg ? s.substr(1) : s;
    const auto point = body.find('.');
    std::string intPart = body.substr(0, point), frac = point == std::string::npos ? "" : body.substr(point + 1);
    if (places >= static_cast<int>(frac.size())) return n;
    long k = static_cast<long>(intPart.size());
    if (k + places < 1) {
        intPart.insert(0, static_cast<std::size_t>(1 - (k + places)), '0');
        k = static_cast<long>(intPart.size());
    }
    const std::string digits = intPart + frac;
    const auto cut = static_cast<std::size_t>(k + places);
    std::string keep = digits.substr(0, cut);
    const std::string rest = digits.substr(cut);
    bool up = false;
    if (mode == Rounding::HalfAwayFromZero)
        up = !rest.empty() && rest[0] >= '5';
    else if (mode == Rounding::Floor)
        up = neg && rest.find_first_not_of('0') != std::string::npos;
    if (up) {
        std::size_t i = keep.size();
        while (i > 0 && keep[i - 1] == '9') keep[--i] = '0';
        if (i == 0)
            keep.insert(keep.begin(), '1');
        else
            ++keep[i - 1];
    }
    std::string out;
    if (places > 0) {
        const std::size_t intLen = keep.size() - static_cast<std::size_t>(places);
        out = keep.substr(0, intLen) + "." + keep.substr(intLen);
    } else {
        out = keep + std::string(static_cast<std::size_t>(-places), '0');
    }
    fmx::FixPt r;
    r.AssignText((neg ? "-" : "") + out);
    return r;
}

namespace {

// A number's exact decimal form: its digits (the point taken out) and how
// many of them follow the point. `exact` is false for a value kept as a double.
struct Decimal {
    bool exact = false;
    bool neg = false;
    std::string digits;
    int scale = 0;
};

Decimal decimalOf(const fmx::FixPt& n) {
    Decimal d;
    std::string s = n.AsString();
    if (s.find_first_not_of("-.0123456789") != std::string::npos) return d;
    d.neg = !s.empty() && s[0] == '-';
    if (d.neg) s.erase(0, 1);
    const auto point = s.find('.');
    if (point != std::string::npos) {
        d.scale = static_cast<int>(s.size() - point - 1);
        s.erase(point, 1);
    }
    d.digits = s;
    d.exact = !s.empty();
    return d;
}

// The digits from the first non-zero one on, trailing zeros dropped.
std::size_t significantDigits(const std::string& digits) {
    const auto first = digits.find_first_not_of('0');
    if (first == std::string::npos) return 0;
    return digits.find_last_not_of('0') - first + 1;
}

}  // namespace

fmx::FixPt divide(const fmx::FixPt& x, const fmx::FixPt& y) {
    const Decimal a = decimalOf(x), b = decimalOf(y);
    fmx::FixPt r;
    const auto a0 = a.digits.find_first_not_of('0'), b0 = b.digits.find_first_not_of('0');
    if (!a.exact || !b.exact || b0 == std::string::npos || a.digits.size() - std::min(a0, a.digits.size()) > 18 ||
        b.digits.size() - b0 > 18) {
        x.Divide(y, r);
        return r;
    }
    if (a0 == std::string::npos) return r;  // zero
    const std::uint64_t mx = std::stoull(a.digits.substr(a0)), my = std::stoull(b.digits.substr(b0));
    // Long division: the remainder stays below my < 10^18, so ten times it fits.
    std::string q = std::to_string(mx / my) + ".";
    std::uint64_t rem = mx % my;
    for (int i = 0; i < 40 && rem != 0; ++i) {
        rem *= 10;
        q.push_back(static_cast<char>('0' + rem / my));
        rem %= my;
    }
    const std::string text = (a.neg != b.neg ? "-" : "") + q + "e" + std::to_string(b.scale - a.scale);
    if (!r.AssignText(text)) x.Divide(y, r);
    return r;
}

fmx::FixPt tidy(const fmx::FixPt& n, const fmx::FixPt& x, const fmx::FixPt& y) {
    const Decimal dx = decimalOf(x), dy = decimalOf(y), d = decimalOf(n);
    // Only an operand that was itself cut at the 16th digit leaves carry noise behind.
    if (!d.exact || std::max(significantDigits(dx.digits), significantDigits(dy.digits)) < 16) return n;
    const auto first = d.digits.find_first_not_of('0');
    if (first == std::string::npos || significantDigits(d.digits) <= 15) return n;
    const int magnitude = static_cast<int>(d.digits.size() - first) - d.scale;  // digits before the point
    const fmx::FixPt shortForm = roundDecimal(n, 15 - magnitude, Rounding::HalfAwayFromZero);
    return significantDigits(decimalOf(shortForm).digits) <= 13 ? shortForm : n;
}

std::u32string codePoints(std::u16string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        out.push_back(c);
    }
    return out;
}

std::u16string fromCodePoints(std::u32string_view cps) {
    std::u16string out;
    out.reserve(cps.size());
    for (char32_t c : cps) {
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));  // a lone surrogate passes through as it came
        }
    }
    return out;
}

}  // namespace fm_host::value
