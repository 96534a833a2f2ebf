// The appearance units alone, without a form: the default appearance, the composite font's
// maps, bidirectional layout and the text operators (golden).
#include "CompositeFont.h"
#include "DefaultAppearance.h"
#include "EmbeddedFonts.h"
#include "TextLayout.h"
#include "TextOperators.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QUtil.hh>

#include <chrono>
#include <cmath>

using namespace quill::pdf::appearance;

namespace {

TEST(AppearanceUnits, DefaultAppearanceFindsTheLastFontAndSize) {
    struct Case {
        const char* da;
        const char* font;
        double size;
        const char* withSize9;
        const char* withoutFont;
    } cases[] = {
        {"/Helv 0 Tf 0 g", "/Helv", 0, "/Helv 9 Tf 0 g", "0 g"},
        {"0 0 1 rg /F1 12.5 Tf", "/F1", 12.5, "0 0 1 rg /F1 9 Tf", "0 0 1 rg"},
        {"/A 8 Tf /B 10 Tf 1 g", "/B", 10, "/A 8 Tf /B 9 Tf 1 g", "1 g"},
        {"0 g", "", 0, "0 g", "0 g"},
        {"/Cour 10 Tf (unclosed", "/Cour", 10, "/Cour 9 Tf", ""},
    };
    for (const auto& c : cases) {
        DefaultAppearance da(c.da);
        EXPECT_EQ(da.font, c.font) << c.da;
        EXPECT_EQ(da.size, c.size) << c.da;
        EXPECT_EQ(da.withSize(9), c.withSize9) << c.da;
        EXPECT_EQ(da.withoutFont(), c.withoutFont) << c.da;
    }
}

// Drawn numbers are written as qpdf's double_to_string writes them (the forms tests compare
// appearances byte for byte): rounding halves, trimming, negatives, the no-negative-zero rule.
TEST(AppearanceUnits, NumbersAreWrittenAsQpdfWritesThem) {
    for (double v : {0.0,   -0.0,  0.004,  -0.004, 0.005, -0.005,  0.015,        0.125, 0.135,     1.0,    10.0,
                     100.5, -2.25, 12.345, 2.675,  1e-9,  595.276, -1234567.891, 1e15,  0.1 + 0.2, 99.995, -99.995}) {
        const double shown = std::fabs(v) < 0.005 ? 0.0 : v;
        EXPECT_EQ(number(v), QUtil::double_to_string(shown, 2)) << v;
    }
}

TEST(AppearanceUnits, ToUnicodeMapsReadTokensNotWhiteSpace) {
    ToUnicodeCMap map(
        "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
        "2 beginbfchar\n<0003><0041><0004><0042>\n<0005> <D83DDE00> endbfchar\n"
        "2 beginbfrange <0010><0012><0061>\n<0020> <0021> [<0430><0431>] endbfrange\n"
        "1 beginbfchar <0030> <00660069> endbfchar\n"  // a ligature: no one character
        "1 beginbfchar <0006> <0041> endbfchar\n"
        "endcmap");
    EXPECT_EQ(map.codesFor(U'A'), (std::vector<long>{3, 6}));
    EXPECT_EQ(map.codesFor(U'B'), std::vector<long>{4});
    EXPECT_EQ(map.codesFor(U'\U0001F600'), std::vector<long>{5});
    EXPECT_EQ(map.codesFor(U'c'), std::vector<long>{0x12});
    EXPECT_EQ(map.codesFor(U'd'), std::vector<long>{});
    EXPECT_EQ(map.codesFor(U'\u0431'), std::vector<long>{0x21});
    EXPECT_EQ(map.codesFor(U'f'), std::vector<long>{});
}

// A hostile font's maps: thousands of full-width ranges cost their size, not their span.
TEST(AppearanceUnits, WideRangesAreReadLazily) {
    std::string cmap = "begincmap 2000 beginbfrange\n";
    for (int k = 0; k < 2000; ++k) cmap += "<0000> <FFFF> <4E00>\n";
    cmap += "endbfrange endcmap";
    auto w = QPDFObjectHandle::newArray();
    for (int k = 0; k < 200; ++k) {
        w.appendItem(QPDFObjectHandle::newInteger(0));
        w.appendItem(QPDFObjectHandle::newInteger(0xFFFF));
        w.appendItem(QPDFObjectHandle::newInteger(500 + k));
    }
    auto started = std::chrono::steady_clock::now();
    ToUnicodeCMap map(cmap);
    CidWidths widths(w);
    EXPECT_EQ(map.codesFor(U'\u4E01').size(), 2000u);
    EXPECT_EQ(widths.width(0x1234), 699);  // the last entry wins
    EXPECT_FALSE(widths.width(0x10000));
    // Read eagerly these took 55 s; the bound leaves room for a sanitizer build on a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

Glyph glyph(FontRef font, std::string code, double advance, double nominal, double dx = 0, double dy = 0) {
    Glyph g;
    g.font = font;
    g.code = std::move(code);
    g.advance = advance;
    g.nominal = nominal;
    g.dx = dx;
    g.dy = dy;
    return g;
}

TEST(AppearanceUnits, TextOperatorsAreGolden) {
    auto field = FontRef::field(), face = FontRef::fallback(7);
    struct Case {
        Line line;
        std::optional<FontRef> current;
        const char* expected;
    } cases[] = {
        {{glyph(field, "a", 556, 556), glyph(field, "(", 333, 333)}, field, "1 0 0 1 2 3 Tm\n(a\\() Tj\n"},
        {{glyph(field, "a", 556, 556), glyph(face, std::string("\0\1", 2), 600, 500)},
         std::nullopt,
         "1 0 0 1 2 3 Tm\n/Helv 10 Tf\n(a) Tj\n/QmFb7 10 Tf\n[<0001> -100 ] TJ\n"},
        {{glyph(face, std::string("\0\2", 2), 0, 0, -250, 120)},
         face,
         "1 0 0 1 2 3 Tm\n1.2 Ts\n[ 250 <0002> -250 ] TJ\n0 Ts\n"},
    };
    for (auto& c : cases) {
        auto current = c.current;
        EXPECT_EQ(showLine(c.line, 2, 3, 10, "/Helv", current), c.expected);
        EXPECT_TRUE(current && *current == c.line.back().font);
    }
}

// Mixed directions come out in visual order: the right-to-left words reversed as a whole, the
// left-to-right ones (digits too) kept, each in the font that has it.
TEST(AppearanceUnits, LayoutOrdersRunsByTheBidiAlgorithm) {
    QPDF pdf;
    pdf.emptyPDF();
    quill::pdf::fonts::EmbeddedFonts embedded(pdf);
    FieldEncoding latin;
    for (char32_t c : std::u32string(U" abcd12")) latin.codes[c] = static_cast<unsigned char>(c);
    Metrics metrics(QPDFObjectHandle::newNull());
    struct Case {
        std::u32string text;
        std::string fieldCodes;  // the field font's codes in visual order
        std::string fonts;       // f: field font, e: embedded, per glyph in visual order
    } cases[] = {
        {U"ab \u05D0\u05D1 cd", "ab  cd", "fffeefff"},
        {U"\u05D0\u05D1 12", "12 ", "fffee"},
        {U"\u05D0 ab \u05D1", " ab ", "effffe"},
    };
    for (auto& c : cases) {
        auto line = layoutParagraph(c.text, latin, metrics, embedded);
        std::string codes, fonts;
        for (auto& g : line) {
            fonts += g.font.isField() ? 'f' : 'e';
            if (g.font.isField()) codes += g.code;
        }
        EXPECT_EQ(codes, c.fieldCodes);
        EXPECT_EQ(fonts, c.fonts);
    }
}

}  // namespace
