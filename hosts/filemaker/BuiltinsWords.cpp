// Text built-ins over words and encodings: WordCount, LeftWords, MiddleWords,
// RightWords (ICU's word breaks, FileMaker's rules on top), Base64 and hex,
// GetAsBoolean, and the styling functions, which answer their text unchanged
// (filemaker-host's texts carry no styles).
#include <cstdint>
#include <string>

#include "Builtins.h"
#include "Unicode.h"
#include "IcuText.h"
#include "Value.h"

namespace fm_host {

namespace {

using U16 = std::u16string;
using value::units;

std::vector<std::pair<std::size_t, std::size_t>> wordsOf(const U16& s) {
    return icu_text::words(s);
}

fmx::Data wordCount(const BuiltinArgs& a) {
    return value::number(static_cast<std::int64_t>(wordsOf(units(a[0])).size()));
}

// Words first..first+count-1 (1-based), with what lies between them.
fmx::Data wordRange(const U16& s, std::int64_t first, std::int64_t count) {
    const auto w = wordsOf(s);
    if (first < 1) {
        count += first - 1;
        first = 1;
    }
    const auto n = static_cast<std::int64_t>(w.size());
    if (count <= 0 || first > n) return value::empty();
    const std::int64_t last = std::min(n, first + count - 1);
    const std::size_t from = w[static_cast<std::size_t>(first - 1)].first;
    const std::size_t to = w[static_cast<std::size_t>(last - 1)].second;
    return value::text(s.substr(from, to - from));
}

fmx::Data leftWords(const BuiltinArgs& a) {
    return wordRange(units(a[0]), 1, value::integer(a[1]));
}

fmx::Data middleWords(const BuiltinArgs& a) {
    return wordRange(units(a[0]), value::integer(a[1]), value::integer(a[2]));
}

fmx::Data rightWords(const BuiltinArgs& a) {
    const U16 s = units(a[0]);
    const auto n = static_cast<std::int64_t>(wordsOf(s).size());
    const std::int64_t k = std::min(n, value::integer(a[1]));
    if (k <= 0) return value::empty();
    return wordRange(s, n - k + 1, k);
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The text's UTF-8 in Base64, a CR LF after every `lineLength` characters (0: none).
std::string base64(const std::string& in, std::size_t lineLength) {
    std::string out;
    std::size_t column = 0;
    auto put = [&](char c) {
        if (lineLength && column == lineLength) {
            out += "\r\n";
            column = 0;
        }
        out.push_back(c);
        ++column;
    };
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::uint32_t b0 = static_cast<unsigned char>(in[i]);
        const std::uint32_t b1 = i + 1 < in.size() ? static_cast<unsigned char>(in[i + 1]) : 0;
        const std::uint32_t b2 = i + 2 < in.size() ? static_cast<unsigned char>(in[i + 2]) : 0;
        const std::uint32_t v = (b0 << 16) | (b1 << 8) | b2;
        put(kBase64[(v >> 18) & 63]);
        put(kBase64[(v >> 12) & 63]);
        put(i + 1 < in.size() ? kBase64[(v >> 6) & 63] : '=');
        put(i + 2 < in.size() ? kBase64[v & 63] : '=');
    }
    return out;
}

// FileMaker's Base64Encode: a line break after every 76 characters.
fmx::Data base64Encode(const BuiltinArgs& a) {
    return value::textUtf8(base64(value::utf8(a[0]), 76));
}

// Base64EncodeRFC ( RFCNumber ; data ): 1421 lines of 64, 2045 lines of 76,
// 4880 lines of 76 and the OpenPGP CRC-24, anything else (3548, 4648) one line.
fmx::Data base64EncodeRfc(const BuiltinArgs& a) {
    const std::int64_t rfc = value::integer(a[0]);
    const std::string in = value::utf8(a[1]);
    std::string out = base64(in, rfc == 1421 ? 64 : (rfc == 2045 || rfc == 4880) ? 76 : 0);
    if (rfc == 4880) {
        std::uint32_t crc = 0xB704CE;
        for (unsigned char c : in) {
            crc ^= static_cast<std::uint32_t>(c) << 16;
            for (int k = 0; k < 8; ++k) {
                crc <<= 1;
                if (crc & 0x1000000) crc ^= 0x1864CFB;
            }
        }
        const std::string bytes{static_cast<char>((crc >> 16) & 0xFF), static_cast<char>((crc >> 8) & 0xFF),
                                static_cast<char>(crc & 0xFF)};
        out += "\r\n=" + base64(bytes, 0);
    }
    return value::textUtf8(out);
}

// Bytes that are not UTF-8 cannot be text: the answer is "?".
fmx::Data textOfBytes(const std::string& bytes) {
    const auto units = quill::unicode::utf8ToUtf16Strict(bytes);
    return units ? value::text(*units) : value::textUtf8("?");
}

fmx::Data base64Decode(const BuiltinArgs& a) {
    const std::string in = value::utf8(a[0]);
    std::string bytes;
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        const char* p = c ? std::char_traits<char>::find(kBase64, 64, c) : nullptr;
        if (c == '-') p = kBase64 + 62;  // the URL-safe alphabet too
        if (c == '_') p = kBase64 + 63;
        if (!p) {
            if (c == '=' || c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
            return value::textUtf8("?");
        }
        acc = (acc << 6) | static_cast<std::uint32_t>(p - kBase64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return textOfBytes(bytes);
}

fmx::Data hexEncode(const BuiltinArgs& a) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value::utf8(a[0])) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return value::textUtf8(out);
}

fmx::Data hexDecode(const BuiltinArgs& a) {
    std::string hex;
    for (char c : value::utf8(a[0]))
        if (c != ' ' && c != '\r' && c != '\n' && c != '\t') hex.push_back(c);
    if (hex.size() % 2) return value::textUtf8("?");
    auto digit = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int h = digit(hex[i]), l = digit(hex[i + 1]);
        if (h < 0 || l < 0) return value::textUtf8("?");
        bytes.push_back(static_cast<char>(h * 16 + l));
    }
    return textOfBytes(bytes);
}

fmx::Data getAsBoolean(const BuiltinArgs& a) {
    return value::boolean(value::truth(a[0]));
}

fmx::Data sameText(const BuiltinArgs& a) {
    return value::text(units(a[0]));
}

fmx::Data rgb(const BuiltinArgs& a) {
    auto part = [&](std::size_t i) {
        return std::min<std::int64_t>(255, std::max<std::int64_t>(0, value::integer(a[i])));
    };
    return value::number(part(0) * 65536 + part(1) * 256 + part(2));
}

template <int N>
fmx::Data style(const BuiltinArgs&) {
    return value::number(std::int64_t{N});
}

}  // namespace

void addWordBuiltins(std::vector<Builtin>& t) {
    t.push_back({"WordCount", 1, 1, wordCount, "WordCount ( text )"});
    t.push_back({"LeftWords", 2, 2, leftWords, "LeftWords ( text ; numberOfWords )"});
    t.push_back({"MiddleWords", 3, 3, middleWords, "MiddleWords ( text ; startingWord ; numberOfWords )"});
    t.push_back({"RightWords", 2, 2, rightWords, "RightWords ( text ; numberOfWords )"});
    t.push_back({"Base64Encode", 1, 1, base64Encode, "Base64Encode ( data )"});
    t.push_back({"Base64EncodeRFC", 2, 2, base64EncodeRfc, "Base64EncodeRFC ( RFCNumber ; data )"});
    t.push_back({"Base64Decode", 1, 2, base64Decode, "Base64Decode ( text ; fileNameWithExtension )"});
    t.push_back({"HexEncode", 1, 1, hexEncode, "HexEncode ( data )"});
    t.push_back({"HexDecode", 1, 2, hexDecode, "HexDecode ( encodedText ; fileNameWithExtension )"});
    t.push_back({"GetAsBoolean", 1, 1, getAsBoolean, "GetAsBoolean ( data )"});
    t.push_back({"TextSize", 2, 2, sameText, "TextSize ( text ; fontSize )  — the text unchanged"});
    t.push_back({"TextStyleAdd", 2, 2, sameText, "TextStyleAdd ( text ; styles )  — the text unchanged"});
    t.push_back({"TextStyleRemove", 2, 2, sameText, "TextStyleRemove ( text ; styles )  — the text unchanged"});
    t.push_back({"TextColor", 2, 2, sameText, "TextColor ( text ; RGB ( red ; green ; blue ) )  — the text unchanged"});
    t.push_back({"TextFont", 2, 3, sameText, "TextFont ( text ; fontName ; fontScript )  — the text unchanged"});
    t.push_back({"TextFormatRemove", 1, 1, sameText, "TextFormatRemove ( text )  — the text unchanged"});
    t.push_back({"RGB", 3, 3, rgb, "RGB ( red ; green ; blue )"});
    // Style names for TextStyleAdd and TextStyleRemove.
    t.push_back({"Plain", 0, 0, style<0>, "Plain  (a text style)"});
    t.push_back({"Bold", 0, 0, style<1>, "Bold  (a text style)"});
    t.push_back({"Italic", 0, 0, style<2>, "Italic  (a text style)"});
    t.push_back({"Underline", 0, 0, style<4>, "Underline  (a text style)"});
    t.push_back({"Strikethrough", 0, 0, style<8>, "Strikethrough  (a text style)"});
    t.push_back({"SmallCaps", 0, 0, style<16>, "SmallCaps  (a text style)"});
    t.push_back({"Superscript", 0, 0, style<32>, "Superscript  (a text style)"});
    t.push_back({"Subscript", 0, 0, style<64>, "Subscript  (a text style)"});
    t.push_back({"Uppercase", 0, 0, style<128>, "Uppercase  (a text style)"});
    t.push_back({"Lowercase", 0, 0, style<256>, "Lowercase  (a text style)"});
    t.push_back({"Titlecase", 0, 0, style<512>, "Titlecase  (a text style)"});
    t.push_back({"Condense", 0, 0, style<1024>, "Condense  (a text style)"});
    t.push_back({"AllStyles", 0, 0, style<2047>, "AllStyles  (every text style)"});
}

void addLogicBuiltins(std::vector<Builtin>& t) {
    // Evaluated by the evaluator itself (their parameters are not all evaluated first).
    t.push_back({"While", 4, 4, nullptr, "While ( [ initialVariable ] ; condition ; [ logic ] ; result )", 0});
    t.push_back({"SetRecursion", 2, 2, nullptr, "SetRecursion ( expression ; maxIterations )"});
    t.push_back({"Evaluate", 1, 2, nullptr, "Evaluate ( expression ; [ field1 ; field2 ; … ] )", 1});
    t.push_back({"EvaluationError", 1, 1, nullptr, "EvaluationError ( expression )"});
    t.push_back({"IsValidExpression", 1, 1, nullptr, "IsValidExpression ( expression )"});
    t.push_back({"GetField", 1, 1, nullptr, "GetField ( fieldName )"});
    t.push_back({"Self", 0, 0, nullptr, "Self  (empty: a calculation here belongs to no layout object)"});
}

}  // namespace fm_host
