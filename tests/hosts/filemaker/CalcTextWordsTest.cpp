// Text functions: words, encodings, GetAsBoolean, sorting by locale, the
// styling functions, and the rules on case, value separators and Quote.
#include "CalcTable.h"

namespace {

using calc_table::Row;

TEST(CalcWords, DocumentedExamples) {
    const Row rows[] = {
        {"WordCount ( \"The quick brown fox jumps over the lazy dog\" )", "9"},
        {"WordCount ( \"Plaid Canvas Suitcase\" )", "3"},
        {"WordCount ( \"  \" ) & WordCount ( \"\" )", "00"},
        {"WordCount ( \"3.5 times, don't — 東京 ok!\" )", "5"},
        {"LeftWords ( \"Plaid Canvas Suitcase\" ; 2 )", "Plaid Canvas"},
        {"LeftWords ( \"  Plaid, Canvas\" ; 5 )", "Plaid, Canvas"},
        {"MiddleWords ( \"Plaid Canvas Suitcase\" ; 2 ; 1 )", "Canvas"},
        {"MiddleWords ( \"Plaid Canvas Suitcase\" ; 2 ; 2 )", "Canvas Suitcase"},
        {"RightWords ( \"Plaid Canvas Suitcase\" ; 2 )", "Canvas Suitcase"},
        {"RightWords ( \"Plaid Canvas Suitcase\" ; 0 )", ""},
    };
    calc_table::check(rows);
}

TEST(CalcEncodings, RoundTripsAndFaults) {
    const Row rows[] = {
        {"HexEncode ( \"FileMaker\" )", "46696C654D616B6572"},
        {"HexDecode ( \"46696C654D616B6572\" )", "FileMaker"},
        {"HexDecode ( \"4G\" ) & HexDecode ( \"ABC\" ) & HexDecode ( \"FF\" )", "???"},
        {"Base64Encode ( \"FileMaker\" )", "RmlsZU1ha2Vy"},
        {"Base64Decode ( \"RmlsZU1ha2Vy\" ) & Base64Decode ( Base64Encode ( \"Łódź 東京 😀\" ) )",
         "FileMakerŁódź 東京 😀"},
        {"Length ( Base64Encode ( Substitute ( \"xxxxxxxxxx\" ; \"x\" ; \"abcdefg\" ) ) )", "98"},  // 96 + CR LF
        {"Base64Decode ( \"!!\" )", "?"},
        {"Base64EncodeRFC ( 4648 ; \"Black\" ) & Base64EncodeRFC ( 9999 ; \"Black\" )", "QmxhY2s=QmxhY2s="},
        {"Length ( Base64EncodeRFC ( 1421 ; Substitute ( \"xxxxxxxxx\" ; \"x\" ; \"abcdef\" ) ) )", "74"},
        {"Base64EncodeRFC ( 4880 ; \"\" )", "¶\n=twTO"},  // the CRC-24 of nothing is its start value
        {"GetAsBoolean ( 0 ) & GetAsBoolean ( 1.5 ) & GetAsBoolean ( \"\" ) & GetAsBoolean ( \"abc\" ) & "
         "GetAsBoolean ( \"ab1\" )",
         "01001"},
        {"TextSize ( \"x\" ; 12 ) & TextStyleAdd ( \"y\" ; Bold + Italic ) & TextColor ( \"z\" ; RGB ( 255 ; 0 ; 0 ) )",
         "xyz"},
    };
    calc_table::check(rows);
}

TEST(CalcValues, SortAndUniqueByLocale) {
    const Row rows[] = {
        {"SortValues ( \"b¶A¶c\" )", "A¶b¶c¶"},
        {"SortValues ( \"ö¶z¶o\" ; 1 ; \"German\" )", "o¶ö¶z¶"},
        {"SortValues ( \"ö¶z¶o\" ; 1 ; \"Swedish\" )", "o¶z¶ö¶"},
        {"SortValues ( \"10¶9¶100\" ; 2 )", "9¶10¶100¶"},
        {"SortValues ( \"10¶9¶100\" ; -2 )", "100¶10¶9¶"},
        {"SortValues ( \"a¶b\" ; 1 ; \"Klingon\" ) & UniqueValues ( \"a\" ; 1 ; \"Elvish\" )", "??"},
        {"UniqueValues ( \"Apple¶apple¶Banana¶APPLE\" )", "Apple¶Banana¶"},
        {"UniqueValues ( \"34¶600¶18¶600¶18.0\" ; 2 )", "34¶600¶18¶"},
        {"UniqueValues ( \"RED¶green¶red¶yellow¶\" )", "RED¶green¶yellow¶"},
        {"UniqueValues ( \"a¶A¶á¶a\" ; 1 ; \"Unicode_Raw\" )", "a¶A¶á¶"},
        {"SortValues ( \"b¶B¶a\" ; 1 ; \"Unicode_Raw\" )", "B¶a¶b¶"},
        {"UniqueValues ( \"1¶01¶2\" ; 2 )", "1¶2¶"},
    };
    calc_table::check(rows);
}

// Behaviour FileMaker's reference gives that an earlier version got wrong.
TEST(CalcText, CaseValuesMiddleAndQuote) {
    const Row rows[] = {
        {"\"Ա\" = \"ա\"", "1"},                 // Armenian
        {"\"ＡＢＣ\" = \"ａｂｃ\"", "1"},       // full-width
        {"\"Straße\" = \"STRASSE\"", "1"},      // full folding
        {"\"e\xCC\x81\" = \"\xC3\xA9\"", "1"},  // é decomposed and composed
        {"\"a\" = \"b\"", "0"},
        {"Upper ( \"straße ǆ\" ) & Lower ( \"ΣΑΣ\" )", "STRASSE Ǆσας"},
        {"Proper ( \"élan vital\" )", "Élan Vital"},
        {"ValueCount ( \"a\" & Char ( 8232 ) & \"b\" & Char ( 8233 ) & \"c\" )", "3"},
        {"GetValue ( \"a\" & Char ( 8232 ) & \"b\" ; 2 )", "b"},
        {"Middle ( \"abcdef\" ; 0 ; 3 ) & \"/\" & Middle ( \"abcdef\" ; -5 ; 2 )", "abc/ab"},
        {"Quote ( \"a¶b\" )",
         "\"a\xC2\xB6"
         "b\""},
        {"Length ( Quote ( \"\\¶\" ) )", "4"},
        {"PatternCount ( \"Ａａ\" ; \"ａ\" ) & Position ( \"xSTRASSE\" ; \"straße\" ; 1 ; 1 )", "20"},
    };
    calc_table::check(rows);
}

}  // namespace
