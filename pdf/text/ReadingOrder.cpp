// Words in reading order, over FriBidi's bidi classes.
#include "ReadingOrder.h"

#include "Unicode.h"

#include <fribidi.h>

#include <algorithm>
#include <cstddef>
#include <string>

namespace quill::pdf {
namespace {

// Right-to-left letters: bidi classes R and AL (Hebrew, Arabic, Syriac, Thaana, N'Ko, ...), as FriBidi
// has them. The extractor lays characters out left to right as they stand on the page; words in
// these scripts are turned back into reading order below. Arabic-Indic digits (class AN) stay left
// to right. (FriBidi's FRIBIDI_IS_RTL_LETTER and _LTR_LETTER macros test the wrong bits: their
// comparison binds before the mask.)
FriBidiCharType bidiType(unsigned int u) {
    return fribidi_get_bidi_type(static_cast<FriBidiChar>(u));
}

bool isRightToLeft(unsigned int u) {
    const FriBidiCharType t = bidiType(u);
    return t == FRIBIDI_TYPE_RTL || t == FRIBIDI_TYPE_AL;
}

// Letters of left-to-right scripts decide a line's direction against right-to-left ones; digits,
// punctuation and spaces are neutral.
bool isLeftToRightLetter(unsigned int u) {
    return bidiType(u) == FRIBIDI_TYPE_LTR;
}

// A word laid out left to right turned into reading order: its right-to-left runs reversed, and the
// runs themselves taken from right to left.
void toReadingOrder(std::vector<unsigned int>& chars) {
    bool any = false;
    for (unsigned int u : chars) any = any || isRightToLeft(u);
    if (!any) return;
    // A combining mark (class NSM: Hebrew points, Arabic vowel signs) goes with the letter before it.
    std::vector<bool> rtlAt(chars.size());
    for (std::size_t i = 0; i < chars.size(); ++i)
        rtlAt[i] = i > 0 && bidiType(chars[i]) == FRIBIDI_TYPE_NSM ? rtlAt[i - 1] : isRightToLeft(chars[i]);
    std::vector<unsigned int> out;
    out.reserve(chars.size());
    std::size_t end = chars.size();
    while (end > 0) {
        std::size_t begin = end - 1;
        const bool rtl = rtlAt[begin];
        while (begin > 0 && rtlAt[begin - 1] == rtl) --begin;
        if (rtl) {
            for (std::size_t i = end; i > begin; --i) out.push_back(chars[i - 1]);
        } else {
            out.insert(out.end(), chars.begin() + static_cast<std::ptrdiff_t>(begin),
                       chars.begin() + static_cast<std::ptrdiff_t>(end));
        }
        end = begin;
    }
    chars.swap(out);
}

// One line's words, left to right on the page, in reading order. A line with more right-to-left
// than left-to-right letters reads from right to left: its words are reversed and each gap keeps
// the space it had.
void lineToReadingOrder(std::vector<RawWord>& line) {
    std::size_t rtl = 0, ltr = 0;
    for (auto& w : line) {
        for (unsigned int u : w.chars) {
            if (isRightToLeft(u))
                ++rtl;
            else if (isLeftToRightLetter(u))
                ++ltr;
        }
        toReadingOrder(w.chars);
    }
    if (rtl <= ltr || line.size() < 2) return;
    const bool lastSpace = line.back().spaceAfter;
    std::vector<bool> gaps;  // gaps[i]: space between visual words i and i+1
    for (std::size_t i = 0; i + 1 < line.size(); ++i) gaps.push_back(line[i].spaceAfter);
    std::reverse(line.begin(), line.end());
    const std::size_t n = line.size();
    for (std::size_t k = 0; k + 1 < n; ++k) line[k].spaceAfter = gaps[n - 2 - k];
    line.back().spaceAfter = lastSpace;
}

void appendUnit(std::u16string& out, unsigned int u) {
    if (u < 0x20 || u == 0x7F) return;    // controls: a CR or LF would break the line structure, a NUL the text
    quill::unicode::appendUtf16(out, u);  // a surrogate or beyond U+10FFFF: U+FFFD
}

bool isSeparator(unsigned int u) {
    return u == 0x20 || (u >= 0x09 && u <= 0x0D);
}

}  // namespace

void emitLine(std::vector<RawWord>& line, std::vector<Word>& words) {
    lineToReadingOrder(line);
    for (std::size_t i = 0; i < line.size(); ++i) {
        // A space, tab or line break inside a word (a glyph mapped to one) splits it like a space would.
        Word word;
        word.attributes = 0;
        for (unsigned int u : line[i].chars) {
            if (!isSeparator(u)) {
                appendUnit(word.text, u);
            } else if (!word.text.empty()) {
                word.attributes = kWordSpaceAfter;
                words.push_back(std::move(word));
                word = Word{};
                word.attributes = 0;
            }
        }
        std::uint16_t layout = line[i].spaceAfter ? kWordSpaceAfter : 0;
        if (i + 1 == line.size()) layout |= kWordLastOnLine;
        if (word.text.empty()) {
            // Nothing printable left: the word before it takes over the layout it carried.
            if (!words.empty()) words.back().attributes |= layout;
            continue;
        }
        word.attributes = layout;
        words.push_back(std::move(word));
    }
    line.clear();
}

}  // namespace quill::pdf
