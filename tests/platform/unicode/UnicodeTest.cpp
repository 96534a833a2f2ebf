// The text unit's conversions, well-formed and ill-formed input alike: what every host and
// stand-in now sees at its text boundaries.
#include "Unicode.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace u = quill::unicode;

namespace {

// UTF-8 in; the lenient UTF-16, and whether the strict reading accepts it.
struct Utf8Case {
    const char* name;
    std::string bytes;
    std::u16string lenient;
    bool wellFormed;
};

TEST(Unicode, Utf8ToUtf16ReplacesEachIllFormedSubsequenceOnce) {
    const std::vector<Utf8Case> cases = {
        {"empty", "", u"", true},
        {"ascii", "Lyon", u"Lyon", true},
        {"two, three and four bytes", "\xC3\xA9\xE6\xBC\xA2\xF0\x9F\x98\x80", u"é漢\U0001F600", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
        {"overlong NUL", "\xC0\x80", u"\uFFFD\uFFFD", false},
        {"overlong three bytes", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", false},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
        {"cut short at the end", "a\xF0\x9F\x98", u"a\uFFFD", false},
        {"cut short before ASCII",
         "\xE6\xBC"
         "b",
         u"\uFFFDb", false},
        {"stray continuation", "\x80x", u"\uFFFDx", false},
        {"never a lead", "\xFF\xFE", u"\uFFFD\uFFFD", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(u::utf8ToUtf16(c.bytes), c.lenient);
        EXPECT_EQ(u::isUtf8(c.bytes), c.wellFormed);
        const auto strict = u::utf8ToUtf16Strict(c.bytes);
        EXPECT_EQ(strict.has_value(), c.wellFormed);
        if (strict) {
            EXPECT_EQ(*strict, c.lenient);
        }
        EXPECT_EQ(u::utf16ToUtf32(c.lenient), u::utf8ToUtf32(c.bytes));
    }
}

TEST(Unicode, Utf16OutAndCodePoints) {
    struct Case {
        const char* name;
        std::u16string units;
        std::string utf8;       // lone surrogates written as U+FFFD
        std::u32string points;  // lone surrogates kept
    };
    const std::vector<Case> cases = {
        {"pair", u"a\U0001F600", "a\xF0\x9F\x98\x80", U"a\U0001F600"},
        {"lone lead at the end", u"a\xD83D", "a\xEF\xBF\xBD", std::u32string{U'a', 0xD83D}},
        {"lone trail", u"\xDE00z", "\xEF\xBF\xBDz", std::u32string{0xDE00, U'z'}},
        {"two leads", u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80", std::u32string{0xD83D, 0x1F600}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(u::utf16ToUtf8(c.units), c.utf8);
        EXPECT_EQ(u::utf16ToUtf32(c.units), c.points);
    }
    std::size_t n = 0;
    EXPECT_EQ(u::codePointAt(u"\U0001F600", 0, &n), U'\U0001F600');
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(u::codePointAt(u"\xD83Dx", 0, &n), char32_t{0xD83D});
    EXPECT_EQ(n, 1u);
}

TEST(Unicode, AppendingWritesReplacementForWhatIsNoScalarValue) {
    const std::vector<std::pair<char32_t, std::u16string>> cases = {
        {U'A', u"A"},        {0xFFFF, u"\uFFFF"}, {0x10000, u"\U00010000"}, {0x10FFFF, u"\U0010FFFF"},
        {0xD800, u"\uFFFD"}, {0xDFFF, u"\uFFFD"}, {0x110000, u"\uFFFD"},    {0xFFFFFFFF, u"\uFFFD"},
    };
    for (const auto& [c, units] : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c));
        std::u16string out;
        u::appendUtf16(out, c);
        EXPECT_EQ(out, units);
        std::string utf8;
        u::appendUtf8(utf8, c);
        EXPECT_EQ(utf8, u::utf16ToUtf8(units));
        EXPECT_EQ(u::utf32ToUtf16(std::u32string(1, c)), units);
    }
}

TEST(Unicode, CharacterLengthAtAByteOffset) {
    const std::string s = "a\xC3\xA9\xF0\x9F\x98\x80\xE0\x80\x80";
    const std::vector<std::pair<std::size_t, std::size_t>> cases = {
        {0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 0}, {7, 0}, {s.size(), 0}, {s.size() + 5, 0},
    };
    for (const auto& [at, length] : cases) EXPECT_EQ(u::utf8CharLength(s, at), length) << "at " << at;
}

TEST(Unicode, SurrogateTests) {
    EXPECT_TRUE(u::isLeadSurrogate(0xD800));
    EXPECT_TRUE(u::isLeadSurrogate(0xDBFF));
    EXPECT_FALSE(u::isLeadSurrogate(0xDC00));
    EXPECT_TRUE(u::isTrailSurrogate(0xDFFF));
    EXPECT_FALSE(u::isTrailSurrogate(0xE000));
    EXPECT_TRUE(u::isSurrogate(0xDABC));
    EXPECT_FALSE(u::isSurrogate(0x1D800));
    EXPECT_EQ(u::joinSurrogates(0xD83D, 0xDE00), U'\U0001F600');
}

}  // namespace
