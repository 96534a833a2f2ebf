// Text built-ins. Positions and lengths count UTF-16 units, as fmx::Text does.
#include <algorithm>
#include <cstdint>

#include "Builtins.h"
#include "Value.h"

namespace fm_host {

namespace {

using value::units;
using U16 = std::u16string;

std::int64_t num(const BuiltinArgs& a, std::size_t i) {
    return value::integer(a[i]);
}

// Clamps a FileMaker count to [0, limit].
std::size_t clampCount(std::int64_t n, std::size_t limit) {
    if (n <= 0) return 0;
    return static_cast<std::uint64_t>(n) > limit ? limit : static_cast<std::size_t>(n);
}

fmx::Data length(const BuiltinArgs& a) {
    return value::number(static_cast<std::int64_t>(a[0].GetAsText().GetSize()));
}

fmx::Data left(const BuiltinArgs& a) {
    const U16 s = units(a[0]);
    return value::text(s.substr(0, clampCount(num(a, 1), s.size())));
}

fmx::Data right(const BuiltinArgs& a) {
    const U16 s = units(a[0]);
    const std::size_t n = clampCount(num(a, 1), s.size());
    return value::text(s.substr(s.size() - n));
}

fmx::Data middle(const BuiltinArgs& a) {
    const U16 s = units(a[0]);
    std::int64_t start = num(a, 1), count = num(a, 2);
    if (start < 1) {  // characters before the first one count against the length
        count += start - 1;
        start = 1;
    }
    const auto from = static_cast<std::uint64_t>(start - 1);
    if (from >= s.size() || count <= 0) return value::empty();
    return value::text(s.substr(static_cast<std::size_t>(from), clampCount(count, s.size())));
}

fmx::Data position(const BuiltinArgs& a) {
    const U16 hay = value::lower(units(a[0])), needle = value::lower(units(a[1]));
    std::int64_t start = num(a, 2);
    const std::int64_t occurrence = num(a, 3);
    if (needle.empty() || occurrence == 0 || needle.size() > hay.size()) return value::number(std::int64_t{0});
    const auto last = static_cast<std::int64_t>(hay.size() - needle.size());  // last 0-based start
    std::int64_t i = std::max<std::int64_t>(start, 1) - 1;
    std::int64_t found = 0;
    if (occurrence > 0) {
        for (; i <= last; ++i)
            if (hay.compare(static_cast<std::size_t>(i), needle.size(), needle) == 0 && ++found == occurrence)
                return value::number(i + 1);
    } else {
        for (i = std::min(i, last); i >= 0; --i)
            if (hay.compare(static_cast<std::size_t>(i), needle.size(), needle) == 0 && ++found == -occurrence)
                return value::number(i + 1);
    }
    return value::number(std::int64_t{0});
}

fmx::Data patternCount(const BuiltinArgs& a) {
    const U16 hay = value::lower(units(a[0])), needle = value::lower(units(a[1]));
    if (needle.empty()) return value::number(std::int64_t{0});
    std::int64_t count = 0;
    for (std::size_t at = hay.find(needle); at != U16::npos; at = hay.find(needle, at + needle.size())) ++count;
    return value::number(count);
}

U16 replaceAll(const U16& s, const U16& from, const U16& to) {
    if (from.empty()) return s;
    U16 out;
    std::size_t pos = 0;
    for (std::size_t at = s.find(from); at != U16::npos; at = s.find(from, pos)) {
        out.append(s, pos, at - pos);
        out += to;
        pos = at + from.size();
    }
    out.append(s, pos, U16::npos);
    return out;
}

// Substitute ( text ; search ; replace ) or Substitute ( text ; [ s1 ; r1 ] ; [ s2 ; r2 ] … ), case-sensitive.
fmx::Data substitute(const BuiltinArgs& a) {
    U16 s = units(a[0]);
    if (!a.lists[1].empty()) {
        for (std::size_t i = 1; i < a.size(); ++i) {
            if (a.lists[i].size() != 2)
                throw BuiltinFailure{"each \"[ … ]\" pair holds a search text and its replacement"};
            s = replaceAll(s, units(a.lists[i][0]), units(a.lists[i][1]));
        }
        return value::text(s);
    }
    if (a.size() != 3)
        throw BuiltinFailure{"write Substitute ( text ; search ; replace ) or use [ search ; replace ] pairs"};
    return value::text(replaceAll(s, units(a[1]), units(a[2])));
}

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == 0x3000;
}

fmx::Data trim(const BuiltinArgs& a) {
    const U16 s = units(a[0]);
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == u' ') ++b;
    while (e > b && s[e - 1] == u' ') --e;
    return value::text(s.substr(b, e - b));
}

// Leading and trailing spaces go, runs of spaces inside become one.
fmx::Data trimAll(const BuiltinArgs& a) {
    const U16 s = units(a[0]);
    U16 out;
    for (char16_t c : s) {
        if (isSpace(c)) {
            if (!out.empty() && !isSpace(out.back())) out.push_back(c);
        } else {
            out.push_back(c);
        }
    }
    while (!out.empty() && isSpace(out.back())) out.pop_back();
    return value::text(out);
}

fmx::Data upper(const BuiltinArgs& a) {
    fmx::Text t = a[0].GetAsText();
    t.Uppercase();
    return value::text(t.View());
}

fmx::Data lowerFn(const BuiltinArgs& a) {
    return value::text(value::lower(units(a[0])));
}

// The first letter of each word up, the rest down; words are runs of letters and digits.
fmx::Data proper(const BuiltinArgs& a) {
    U16 s = units(a[0]);
    bool startOfWord = true;
    for (char16_t& c : s) {
        fmx::Text one;
        one.AssignUnicodeWithLength(&c, 1);
        if (startOfWord)
            one.Uppercase();
        else
            one.Lowercase();
        c = one.View()[0];
        const bool wordChar = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                              (c >= 0xC0 && c != 0xD7 && c != 0xF7 && c != 0x3000);
        startOfWord = !wordChar;
    }
    return value::text(s);
}

fmx::Data replace(const BuiltinArgs& a) {
    U16 s = units(a[0]);
    std::int64_t start = num(a, 1);
    if (start < 1) start = 1;
    const auto from = static_cast<std::size_t>(std::min<std::int64_t>(start - 1, static_cast<std::int64_t>(s.size())));
    const std::size_t count = clampCount(num(a, 2), s.size() - from);
    s.replace(from, count, units(a[3]));
    return value::text(s);
}

fmx::Data filter(const BuiltinArgs& a) {
    const U16 s = units(a[0]), keep = units(a[1]);
    U16 out;
    for (char16_t c : s)
        if (keep.find(c) != U16::npos) out.push_back(c);
    return value::text(out);
}

fmx::Data exact(const BuiltinArgs& a) {
    return value::boolean(a[0].GetAsText() == a[1].GetAsText());
}

void appendCodePoint(U16& out, std::uint32_t cp) {
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else if (cp < 0xD800 || (cp > 0xDFFF && cp < 0x10000)) {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// Char ( 72105 ) is "Hi": five digits a character, the first character in the lowest digits.
fmx::Data charFn(const BuiltinArgs& a) {
    std::int64_t n = value::integer(a[0]);
    if (n <= 0) return value::empty();
    U16 out;
    for (; n > 0; n /= 100000) appendCodePoint(out, static_cast<std::uint32_t>(n % 100000));
    return value::text(out);
}

// Code ( "Hi" ) is 105 00072: the inverse of Char. Longer texts than fit a
// number of 18 digits give their first characters only.
fmx::Data code(const BuiltinArgs& a) {
    const U16 s = units(a[0]);
    if (s.empty()) return value::empty();
    std::vector<std::uint32_t> cps;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        cps.push_back(c);
    }
    std::string digits;
    for (std::size_t k = std::min<std::size_t>(cps.size(), 3); k-- > 0;) {
        std::string part = std::to_string(cps[k]);
        if (!digits.empty() || k + 1 < std::min<std::size_t>(cps.size(), 3)) part.insert(0, 5 - part.size(), '0');
        digits += part;
    }
    return value::numberFromDecimal(digits);
}

fmx::Data quote(const BuiltinArgs& a) {
    U16 out = u"\"";
    for (char16_t c : units(a[0])) {
        if (c == u'"' || c == u'\\') out.push_back(u'\\');
        if (c == u'\r') {
            out += u"\\\u00B6";
            continue;
        }
        out.push_back(c);
    }
    out.push_back(u'"');
    return value::text(out);
}

fmx::Data getAsText(const BuiltinArgs& a) {
    return value::text(units(a[0]));
}

// The number in a text: its digits and first point, "" when there are none.
fmx::Data getAsNumber(const BuiltinArgs& a) {
    if (value::isNumeric(a[0])) return value::number(a[0].GetAsNumber());
    const U16 s = units(a[0]);
    if (std::none_of(s.begin(), s.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) return value::empty();
    return value::number(a[0].GetAsNumber());
}

}  // namespace

void addTextBuiltins(std::vector<Builtin>& t) {
    t.push_back({"Length", 1, 1, length, "Length ( text )"});
    t.push_back({"Left", 2, 2, left, "Left ( text ; numberOfCharacters )"});
    t.push_back({"Right", 2, 2, right, "Right ( text ; numberOfCharacters )"});
    t.push_back({"Middle", 3, 3, middle, "Middle ( text ; start ; numberOfCharacters )"});
    t.push_back({"Position", 4, 4, position, "Position ( text ; searchString ; start ; occurrence )"});
    t.push_back({"PatternCount", 2, 2, patternCount, "PatternCount ( text ; searchString )"});
    t.push_back(
        {"Substitute", 2, -1, substitute, "Substitute ( text ; search ; replace )  or  ( text ; [ s1 ; r1 ] ; … )", 1});
    t.push_back({"Trim", 1, 1, trim, "Trim ( text )"});
    t.push_back({"TrimAll", 1, 3, trimAll, "TrimAll ( text ; trimSpaces ; trimType )"});
    t.push_back({"Upper", 1, 1, upper, "Upper ( text )"});
    t.push_back({"Lower", 1, 1, lowerFn, "Lower ( text )"});
    t.push_back({"Proper", 1, 1, proper, "Proper ( text )"});
    t.push_back({"Replace", 4, 4, replace, "Replace ( text ; start ; numberOfCharacters ; replacementText )"});
    t.push_back({"Filter", 2, 2, filter, "Filter ( textToFilter ; filterText )"});
    t.push_back({"Exact", 2, 2, exact, "Exact ( originalText ; comparisonText )"});
    t.push_back({"Char", 1, 1, charFn, "Char ( number )"});
    t.push_back({"Code", 1, 1, code, "Code ( text )"});
    t.push_back({"Quote", 1, 1, quote, "Quote ( text )"});
    t.push_back({"GetAsText", 1, 1, getAsText, "GetAsText ( data )"});
    t.push_back({"GetAsNumber", 1, 1, getAsNumber, "GetAsNumber ( text )"});
}

}  // namespace fm_host
