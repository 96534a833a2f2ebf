// Text built-ins. Positions and lengths count characters (code points), as
// FileMaker does: an emoji is one character, though fmx::Text holds it as two units.
#include <algorithm>
#include <cstdint>

#include <unicode/uchar.h>

#include "Builtins.h"
#include "Unicode.h"
#include "IcuText.h"
#include "Value.h"

namespace fm_host {

namespace {

using value::units;
using U16 = std::u16string;
using U32 = std::u32string;

U32 chars(const fmx::Data& v) {
    return value::codePoints(v.GetAsText().View());
}

fmx::Data textOf(const U32& s) {
    return value::text(value::fromCodePoints(s));
}

std::int64_t num(const BuiltinArgs& a, std::size_t i) {
    return value::integer(a[i]);
}

// Clamps a FileMaker count to [0, limit].
std::size_t clampCount(std::int64_t n, std::size_t limit) {
    if (n <= 0) return 0;
    return static_cast<std::uint64_t>(n) > limit ? limit : static_cast<std::size_t>(n);
}

fmx::Data length(const BuiltinArgs& a) {
    return value::number(static_cast<std::int64_t>(chars(a[0]).size()));
}

fmx::Data left(const BuiltinArgs& a) {
    const U32 s = chars(a[0]);
    return textOf(s.substr(0, clampCount(num(a, 1), s.size())));
}

fmx::Data right(const BuiltinArgs& a) {
    const U32 s = chars(a[0]);
    const std::size_t n = clampCount(num(a, 1), s.size());
    return textOf(s.substr(s.size() - n));
}

fmx::Data middle(const BuiltinArgs& a) {
    const U32 s = chars(a[0]);
    std::int64_t start = num(a, 1);
    const std::int64_t count = num(a, 2);
    if (start < 1) start = 1;  // FileMaker starts at the first character
    const auto from = static_cast<std::uint64_t>(start - 1);
    if (from >= s.size() || count <= 0) return value::empty();
    return textOf(s.substr(static_cast<std::size_t>(from), clampCount(count, s.size())));
}

// Searching without regard to case, from start (1 or less: the first
// character); a negative occurrence scans from start toward the beginning.
fmx::Data position(const BuiltinArgs& a) {
    const U32 hay = value::codePoints(value::lower(units(a[0]))), needle = value::codePoints(value::lower(units(a[1])));
    const std::int64_t start = num(a, 2);
    const std::int64_t occurrence = num(a, 3);
    if (needle.empty() || occurrence == 0 || needle.size() > hay.size()) return value::number(std::int64_t{0});
    const auto last = static_cast<std::int64_t>(hay.size() - needle.size());  // last 0-based start
    std::int64_t found = 0;
    if (occurrence > 0) {
        for (std::int64_t i = std::max<std::int64_t>(start, 1) - 1; i <= last; ++i)
            if (hay.compare(static_cast<std::size_t>(i), needle.size(), needle) == 0 && ++found == occurrence)
                return value::number(i + 1);
    } else {
        for (std::int64_t i = std::min(std::max<std::int64_t>(start, 1) - 1, last); i >= 0; --i)
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

fmx::Data trim(const BuiltinArgs& a) {
    const U16 s = units(a[0]);
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == u' ') ++b;
    while (e > b && s[e - 1] == u' ') --e;
    return value::text(s.substr(b, e - b));
}

// TrimAll ( text ; trimSpaces ; trimType ): leading and trailing spaces go;
// between two characters the run of spaces becomes what trimType asks for,
// depending on whether each side is roman (below U+2F00) or not:
//   type  non-roman/non-roman  non-roman/roman     roman/roman
//   0     none                 none                one if there was any
//   1     none                 one, always         one if there was any
//   2     none                 one if there was any  one if there was any
//   3     none                 none                none
// Full-width spaces (U+3000) count as spaces only when trimSpaces is true;
// otherwise they stay as non-roman characters.
fmx::Data trimAll(const BuiltinArgs& a) {
    const U32 s = chars(a[0]);
    const bool fullWidth = a.size() > 1 && value::truth(a[1]);
    const std::int64_t type = a.size() > 2 ? num(a, 2) : 0;
    if (type < 0 || type > 3) throw BuiltinFailure{"trimType is 0, 1, 2 or 3"};
    const auto space = [&](char32_t c) { return c == U' ' || (fullWidth && c == 0x3000); };
    const auto roman = [](char32_t c) { return c < 0x2F00; };
    U32 out;
    std::size_t gap = 0;  // spaces since the last character kept
    for (char32_t c : s) {
        if (space(c)) {
            ++gap;
            continue;
        }
        if (!out.empty()) {
            const char32_t prev = out.back();
            bool one = false;
            if (roman(prev) && roman(c))
                one = type != 3 && gap > 0;
            else if (roman(prev) != roman(c))
                one = type == 1 || (type == 2 && gap > 0);
            if (one) out.push_back(U' ');
        }
        out.push_back(c);
        gap = 0;
    }
    return textOf(out);
}

fmx::Data upper(const BuiltinArgs& a) {
    return value::text(icu_text::upper(units(a[0])));
}

fmx::Data lowerFn(const BuiltinArgs& a) {
    return value::text(icu_text::lower(units(a[0])));
}

// The first letter of each word up, the rest down; words are runs of letters and digits.
fmx::Data proper(const BuiltinArgs& a) {
    U32 s = chars(a[0]);
    bool startOfWord = true;
    for (char32_t& c : s) {
        c = static_cast<char32_t>(startOfWord ? u_totitle(static_cast<UChar32>(c))
                                              : u_tolower(static_cast<UChar32>(c)));
        // Letters and digits make words; punctuation, symbols, emoji and
        // the ideographic space end them.
        const bool symbol = c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) ||
                            quill::unicode::isSurrogate(c) || (c >= 0x1F000 && c <= 0x1FAFF);
        const bool wordChar =
            (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') || (c >= 0xC0 && !symbol);
        startOfWord = !wordChar;
    }
    return textOf(s);
}

fmx::Data replace(const BuiltinArgs& a) {
    U32 s = chars(a[0]);
    std::int64_t start = num(a, 1);
    if (start < 1) start = 1;
    const auto from = static_cast<std::size_t>(std::min<std::int64_t>(start - 1, static_cast<std::int64_t>(s.size())));
    const std::size_t count = clampCount(num(a, 2), s.size() - from);
    s.replace(from, count, chars(a[3]));
    return textOf(s);
}

fmx::Data filter(const BuiltinArgs& a) {
    const U32 s = chars(a[0]), keep = chars(a[1]);
    U32 out;
    for (char32_t c : s)
        if (keep.find(c) != U32::npos) out.push_back(c);
    return textOf(out);
}

fmx::Data exact(const BuiltinArgs& a) {
    return value::boolean(a[0].GetAsText() == a[1].GetAsText());
}

// Char ( 9800097 ) is "ab": five digits a character, the first character in
// the lowest digits. A character beyond the first 65,536 comes either as its
// own code point (Char ( 128512 ), what Code gives for that one character) or,
// among others, as two groups holding its UTF-16 pair.
fmx::Data charFn(const BuiltinArgs& a) {
    const std::int64_t n = value::integer(a[0]);
    if (n <= 0) return value::empty();
    const std::int64_t high = n / 100000;
    if (n >= 100000 && n <= 0x10FFFF && high != 9 && high != 10) return textOf(U32(1, static_cast<char32_t>(n)));
    std::vector<std::uint32_t> groups;
    for (std::int64_t rest = n; rest > 0; rest /= 100000) groups.push_back(static_cast<std::uint32_t>(rest % 100000));
    U32 out;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const std::uint32_t c = groups[i];
        if (quill::unicode::isLeadSurrogate(c) && i + 1 < groups.size() &&
            quill::unicode::isTrailSurrogate(groups[i + 1])) {
            out.push_back(quill::unicode::joinSurrogates(c, groups[++i]));
        } else if (c != 0 && !quill::unicode::isSurrogate(c)) {
            out.push_back(c);
        }
    }
    return textOf(out);
}

// Code ( "ab" ) is 9800097: the inverse of Char. One character answers its
// code point; among others a character beyond the first 65,536 takes two
// groups (its UTF-16 pair), since its code point does not fit five digits.
// A text too long for the number's 18 digits answers "?".
fmx::Data code(const BuiltinArgs& a) {
    const U16 s = units(a[0]);
    if (s.empty()) return value::empty();
    const U32 cps = value::codePoints(s);
    if (cps.size() == 1) return value::number(static_cast<std::int64_t>(cps[0]));
    if (s.size() > 3) return value::textUtf8("?");
    std::string digits;
    for (std::size_t k = s.size(); k-- > 0;) {
        std::string part = std::to_string(static_cast<std::uint32_t>(s[k]));
        if (!digits.empty()) part.insert(0, 5 - part.size(), '0');
        digits += part;
    }
    return value::numberFromDecimal(digits);
}

// Quote ( text ): a text literal that Evaluate turns back into the text: a
// return is written as ¶, a pilcrow of the text as \¶.
fmx::Data quote(const BuiltinArgs& a) {
    U16 out = u"\"";
    for (char16_t c : units(a[0])) {
        if (c == u'"' || c == u'\\' || c == u'\u00B6') out.push_back(u'\\');
        out.push_back(c == u'\r' ? u'\u00B6' : c);
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
