// The calculation language in-process: operators, built-ins (against the
// values FileMaker's function reference gives), Let scopes, lazy branches,
// nested plug-in calls and the limits that keep bad input from crashing.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "Calc.h"
#include "CalcTable.h"
#include "Evaluator.h"
#include "PluginHost.h"
#include "Records.h"
#include "Value.h"

namespace {

using fm_host::CalcError;

// An evaluator whose only plug-in functions are Fake_Count (counts its calls)
// and Fake_Fail (answers error 7).
struct Fixture {
    int calls = 0;
    fm_host::Evaluator ev{[this](const std::string& name) -> std::optional<fm_host::FunctionInfo> {
        fm_host::FunctionInfo f;
        if (name == "Fake_Count") {
            f.name = name;
            f.call = [this](const fmx::DataVect&, fmx::Data& r) -> fmx::errcode {
                r.SetAsNumber(fmx::FixPt(++calls));
                return 0;
            };
            return f;
        }
        if (name == "Fake_Fail") {
            f.name = name;
            f.call = [](const fmx::DataVect&, fmx::Data&) -> fmx::errcode { return 7; };
            return f;
        }
        return std::nullopt;
    }};

    // The result's text, returns shown as ¶.
    std::string operator()(const std::string& calc) { return calc_table::shown(ev.evaluate(fm_host::parseCalc(calc))); }
    std::string error(const std::string& calc) {
        try {
            (*this)(calc);
        } catch (const CalcError& e) {
            return e.what();
        }
        return "no error";
    }
};

TEST(CalcOperators, FollowFileMakersPrecedence) {
    Fixture c;
    EXPECT_EQ(c("1 + 2 * 3"), "7");
    EXPECT_EQ(c("( 1 + 2 ) * 3"), "9");
    EXPECT_EQ(c("2 ^ 3 ^ 2"), "64") << "^ groups from the left";
    EXPECT_EQ(c("-2 ^ 2"), "4") << "the sign binds tighter than ^";
    EXPECT_EQ(c("10 - 4 - 3"), "3");
    EXPECT_EQ(c("\"a\" & 1 + 2"), "a3") << "& is looser than +";
    EXPECT_EQ(c("1 + 1 = 2"), "1") << "comparison is looser than &";
    EXPECT_EQ(c("not 0 and 1"), "1");
    EXPECT_EQ(c("0 and 1 or 1"), "1") << "and binds tighter than or";
    EXPECT_EQ(c("1 xor 1"), "0");
    EXPECT_EQ(c("1 xor 0"), "1");
    EXPECT_EQ(c("7 / 2"), "3.5");
    EXPECT_EQ(c("0.1 + 0.2 = 0.3"), "1") << "decimal numbers are exact";
    EXPECT_EQ(c("1 / 0"), "?") << "FileMaker's answer to division by zero";
    EXPECT_EQ(c("\"\" + 5"), "5") << "an empty value counts as 0";
}

TEST(CalcOperators, CompareTextWithoutCaseAndNumbersByValue) {
    Fixture c;
    EXPECT_EQ(c("\"Tromsø\" = \"TROMSØ\""), "1");
    EXPECT_EQ(c("\"abc\" \xE2\x89\xA0 \"abd\""), "1");  // ≠
    EXPECT_EQ(c("\"abc\" <> \"ABC\""), "0");
    EXPECT_EQ(c("10 < 9"), "0");
    EXPECT_EQ(c("\"10\" < \"9\""), "1") << "two texts compare as text";
    EXPECT_EQ(c("2 \xE2\x89\xA4 2"), "1");  // ≤
    EXPECT_EQ(c("3 >= 4"), "0");
    EXPECT_EQ(c("Date ( 1 ; 31 ; 2024 ) + 1"), "2/1/2024") << "a date plus days is a date";
    EXPECT_EQ(c("Date ( 3 ; 1 ; 2024 ) - Date ( 2 ; 1 ; 2024 )"), "29");
    EXPECT_EQ(c("\"!!ERROR!!\" = \"!!error!!\""), "1");
}

TEST(CalcTextFunctions, AnswerAsTheFunctionReferenceShows) {
    Fixture c;
    EXPECT_EQ(c("Length ( \"Tromsø\" )"), "6");
    EXPECT_EQ(c("Length ( \"\" )"), "0");
    EXPECT_EQ(c("Left ( \"Manufacturing\" ; 3 )"), "Man");
    EXPECT_EQ(c("Left ( \"abc\" ; -1 )"), "");
    EXPECT_EQ(c("Right ( \"Manufacturing\" ; 4 )"), "ring");
    EXPECT_EQ(c("Right ( \"ab\" ; 9 )"), "ab");
    EXPECT_EQ(c("Middle ( \"Sample Text\" ; 8 ; 4 )"), "Text");
    EXPECT_EQ(c("Middle ( \"Sample Text\" ; 8 ; 100 )"), "Text") << "past the end: what there is";
    EXPECT_EQ(c("Middle ( \"abc\" ; 9 ; 2 )"), "");
    EXPECT_EQ(c("Position ( \"Mississippi\" ; \"iss\" ; 1 ; 1 )"), "2");
    EXPECT_EQ(c("Position ( \"Mississippi\" ; \"iss\" ; 1 ; 2 )"), "5");
    EXPECT_EQ(c("Position ( \"Mississippi\" ; \"iss\" ; 3 ; 1 )"), "5");
    EXPECT_EQ(c("Position ( \"Mississippi\" ; \"ISS\" ; 11 ; -1 )"), "5") << "backwards, without case";
    EXPECT_EQ(c("Position ( \"Mississippi\" ; \"iss\" ; 1 ; 0 )"), "0");
    EXPECT_EQ(c("Position ( \"Mississippi\" ; \"iss\" ; 99 ; -2 )"), "2") << "the second one back from the end";
    EXPECT_EQ(c("Position ( \"Mississippi\" ; \"m\" ; -5 ; -1 )"), "1") << "a start below 1 is the first character";
    EXPECT_EQ(c("Position ( \"Mississippi\" ; \"iss\" ; -5 ; 1 )"), "2");
    EXPECT_EQ(c("Let ( Name = \"William Smith\" ; Right ( Name ; Length ( Name ) - Position ( Name ; \" \" ; "
                "Length ( Name ) ; -1 ) ) )"),
              "Smith");
    EXPECT_EQ(c("Position ( \"Mississippi\" ; \"x\" ; 1 ; 1 )"), "0");
    EXPECT_EQ(c("PatternCount ( \"Mississippi\" ; \"is\" )"), "2");
    EXPECT_EQ(c("PatternCount ( \"Mississippi\" ; \"issi\" )"), "1") << "occurrences do not overlap";
    EXPECT_EQ(c("Substitute ( \"a-b-c\" ; \"-\" ; \"+\" )"), "a+b+c");
    EXPECT_EQ(c("Substitute ( \"Abc\" ; \"a\" ; \"x\" )"), "Abc") << "Substitute keeps case";
    EXPECT_EQ(c("Substitute ( \"ab\" ; [ \"a\" ; \"b\" ] ; [ \"b\" ; \"c\" ] )"), "cc") << "pairs apply in turn";
    EXPECT_EQ(c("Trim ( \"  Ann  \" )"), "Ann");
    EXPECT_EQ(c("TrimAll ( \"  a   b  \" ; 1 ; 0 )"), "a b");
    EXPECT_EQ(c("Upper ( \"łódź\" )"), "ŁÓDŹ");
    EXPECT_EQ(c("Lower ( \"ÅSE\" )"), "åse");
    EXPECT_EQ(c("Proper ( \"ELEANOR rOOSEVELT\" )"), "Eleanor Roosevelt");
    EXPECT_EQ(c("Replace ( \"abcdef\" ; 2 ; 3 ; \"X\" )"), "aXef");
    EXPECT_EQ(c("Filter ( \"(408)555-1212\" ; \"0123456789\" )"), "4085551212");
    EXPECT_EQ(c("Exact ( \"Smith\" ; \"smith\" )"), "0");
    EXPECT_EQ(c("Char ( 9800097 )"), "ab") << "five digits a character, the first lowest";
    EXPECT_EQ(c("Char ( 0 )"), "");
    EXPECT_EQ(c("Code ( \"ab\" )"), "9800097");
    EXPECT_EQ(c("Code ( \"\" )"), "");
    EXPECT_EQ(c("Char ( Code ( \"ø\" ) )"), "ø");
    EXPECT_EQ(c("Quote ( \"say \\\"hi\\\"\" )"), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(c("GetAsNumber ( \"abc123.5de\" )"), "123.5");
    EXPECT_EQ(c("GetAsNumber ( \"abc\" )"), "");
    EXPECT_EQ(c("GetAsText ( 12.50 )"), "12.5");
}

TEST(CalcValueFunctions, TreatTheFinalReturnAsTheEndOfTheLastValue) {
    Fixture c;
    EXPECT_EQ(c("ValueCount ( \"Plaid¶Canvas¶Suede¶\" )"), "3");
    EXPECT_EQ(c("ValueCount ( \"a¶¶b\" )"), "3") << "an empty value between two returns counts";
    EXPECT_EQ(c("ValueCount ( \"\" )"), "0");
    EXPECT_EQ(c("GetValue ( \"a¶b¶c\" ; 2 )"), "b");
    EXPECT_EQ(c("GetValue ( \"a¶b¶c\" ; 4 )"), "");
    EXPECT_EQ(c("LeftValues ( \"a¶b¶c\" ; 2 )"), "a¶b¶") << "every value ends with a return";
    EXPECT_EQ(c("RightValues ( \"a¶b¶c¶\" ; 2 )"), "b¶c¶");
    EXPECT_EQ(c("MiddleValues ( \"a¶b¶c¶d\" ; 2 ; 2 )"), "b¶c¶");
    EXPECT_EQ(c("MiddleValues ( \"a¶b\" ; 2 ; 9 )"), "b¶");
    EXPECT_EQ(c("List ( \"a\" ; \"\" ; 3 )"), "a¶3") << "empty values are left out, no final return";
    EXPECT_EQ(c("FilterValues ( \"Blue¶Red¶Green\" ; \"red¶green\" )"), "Red¶Green¶");
    EXPECT_EQ(c("SortValues ( \"b¶A¶c\" )"), "A¶b¶c¶");
    EXPECT_EQ(c("SortValues ( \"10¶9¶100\" ; 2 )"), "9¶10¶100¶");
    EXPECT_EQ(c("SortValues ( \"10¶9¶100\" ; -2 )"), "100¶10¶9¶");
}

TEST(CalcLogic, BranchesEvaluateOnlyWhatTheyAnswer) {
    Fixture c;
    EXPECT_EQ(c("If ( 1 ; \"yes\" ; Fake_Count )"), "yes");
    EXPECT_EQ(c("If ( 0 ; Fake_Count ; \"no\" )"), "no");
    EXPECT_EQ(c("Case ( 0 ; Fake_Count ; 1 ; \"second\" ; Fake_Count )"), "second");
    EXPECT_EQ(c("Case ( 0 ; \"a\" ; 0 ; \"b\" )"), "") << "Case without a default answers empty";
    EXPECT_EQ(c("Case ( 0 ; \"a\" ; \"default\" )"), "default");
    EXPECT_EQ(c("Choose ( 1 ; \"zero\" ; \"one\" ; Fake_Count )"), "one") << "Choose counts from zero";
    EXPECT_EQ(c("Choose ( 5 ; \"zero\" )"), "");
    EXPECT_EQ(c("0 and Fake_Count"), "0");
    EXPECT_EQ(c.calls, 0) << "no branch that was not taken ran";
    EXPECT_EQ(c("IsEmpty ( \"\" ) & IsEmpty ( 0 )"), "10");
    EXPECT_EQ(c("IsValid ( Fake_Fail )"), "0");
    EXPECT_EQ(c("IsValid ( 1 )"), "1");
    fm_host::Records records;
    records.add(fm_host::parseCsv("members", "Name\nAnn\n"));
    c.ev.setRecords(&records);
    EXPECT_EQ(c("IsValid ( members::Name ) & IsValid ( members::Nope ) & IsValid ( other::Name )"), "100")
        << "a missing field is IsValid's answer, not an error";
    EXPECT_EQ(c.error("contacts::Name"),
              "column 1: there is no table named contacts; the tables loaded are members "
              "(--table NAME names a file's table)");
    EXPECT_EQ(c.error("IsValid ( Nope ( 1 ) )"), "column 11: there is no function named Nope");
}

TEST(CalcLogic, LetNamesShadowAndEndWithTheirScope) {
    Fixture c;
    EXPECT_EQ(c("Let ( [ x = 5 ; x = x * 2 ] ; x )"), "10") << "a later name sees and shadows an earlier one";
    EXPECT_EQ(c("Let ( x = 1 ; Let ( x = 2 ; x ) + x )"), "3");
    EXPECT_EQ(c("Let ( [ a = 2 ; b = a + 1 ; ] ; a * b )"), "6");
    EXPECT_EQ(c("Let ( $v = 7 ; $v + 1 )"), "8");
    EXPECT_EQ(c("$v"), "7") << "Let sets a $variable for the rest of the script";
    EXPECT_EQ(c.error("Let ( x = 1 ; x ) + x"), "column 21: there is no function named x") << "x ends with its Let";
    EXPECT_EQ(c.error("Let ( [ 1 = 1 ] ; 2 )"),
              "column 11: Let needs name = value, as in Let ( [ x = 1 ; y = x + 1 ] ; x + y )");
}

TEST(CalcNumberFunctions, RoundAndDivideAsDocumented) {
    Fixture c;
    EXPECT_EQ(c("Round ( 123.456 ; 2 )"), "123.46");
    EXPECT_EQ(c("Round ( 14.5 ; 0 )"), "15");
    EXPECT_EQ(c("Round ( 14.5 ; 2 )"), "14.5");
    EXPECT_EQ(c("Round ( 29343.98 ; -3 )"), "29000");
    EXPECT_EQ(c("Round ( 123.456 ; -1 )"), "120");
    EXPECT_EQ(c("Round ( -2.5 ; 0 )"), "-3") << "halves round away from zero";
    EXPECT_EQ(c("Round ( 0.995 ; 2 )"), "1");
    EXPECT_EQ(c("Round ( 999.5 ; 0 )"), "1000");
    EXPECT_EQ(c("Truncate ( 123.456 ; 1 )"), "123.4");
    EXPECT_EQ(c("Truncate ( -1.99 ; 0 )"), "-1");
    EXPECT_EQ(c("Int ( -2.5 )"), "-2");
    EXPECT_EQ(c("Abs ( -3.25 )"), "3.25");
    EXPECT_EQ(c("Mod ( 15 ; 4 )"), "3");
    EXPECT_EQ(c("Mod ( -15 ; 4 )"), "1") << "the sign of the divisor";
    EXPECT_EQ(c("Mod ( 15 ; -4 )"), "-1");
    EXPECT_EQ(c("Mod ( 1 ; 0 )"), "?");
    EXPECT_EQ(c("Div ( 2.5 ; 2 )"), "1");
    EXPECT_EQ(c("Div ( -2.5 ; 2 )"), "-2");
    EXPECT_EQ(c("Min ( 3 ; -1 ; 2 )"), "-1");
    EXPECT_EQ(c("Max ( 3 ; \"\" ; 12 )"), "12");
    EXPECT_EQ(c("Abs ( \"\" )"), "") << "an empty number stays empty";
}

TEST(CalcNumbers, CarryDecimalsWithoutBinaryArtefacts) {
    Fixture c;
    EXPECT_EQ(c("1/3*3"), "1") << "the carry of the 16th digit is noise, not value";
    EXPECT_EQ(c("1/3 + 1/3 + 1/3"), "1");
    EXPECT_EQ(c("1/7*7"), "1");
    EXPECT_EQ(c("10/3*3"), "10");
    EXPECT_EQ(c("1000000/3*3"), "1000000");
    EXPECT_EQ(c("2/3*3 - 2"), "0");
    EXPECT_EQ(c("0.1 + 0.2"), "0.3");
    EXPECT_EQ(c("0.1 + 0.2 = 0.3"), "1");
    EXPECT_EQ(c("1.1 * 1.1"), "1.21");
    EXPECT_EQ(c("3 - 2.9"), "0.1");
    EXPECT_EQ(c("1/3"), "0.3333333333333333") << "sixteen places, the last one rounded";
    EXPECT_EQ(c("2/3"), "0.6666666666666667");
    EXPECT_EQ(c("10/3"), "3.3333333333333333") << "worked out in decimal, so no binary 5 at the end";
    EXPECT_EQ(c("-1/8"), "-0.125");
    EXPECT_EQ(c("1/0"), "?");
    EXPECT_EQ(c("0/7"), "0");
    EXPECT_EQ(c("123456789012 / 1000000"), "123456.789012");
    EXPECT_EQ(c("0.000001 / 4"), "0.00000025");
    // Exact sums of numbers that were never cut keep every digit.
    EXPECT_EQ(c("1000000000000000 + 0.01"), "1000000000000000.01");
    EXPECT_EQ(c("0.1234567890123456 * 1"), "0.1234567890123456");
    EXPECT_EQ(c("Int ( 1/3*3 ) & Truncate ( 2/3 ; 2 ) & \"|\" & Round ( 2/3 ; 3 )"), "10.66|0.667");
    EXPECT_EQ(c("Mod ( 1 ; 1/3 )"), "0") << "three thirds are one";
    EXPECT_EQ(c("Div ( 1 ; 1/3 )"), "3");
    EXPECT_EQ(c("Mod ( 7.5 ; 2 ) & \"|\" & Mod ( -7.5 ; 2 )"), "1.5|0.5");
    EXPECT_EQ(c("Mod ( -15 ; 1.5 )"), "0");
    EXPECT_EQ(c("Div ( -7 ; 2 ) & \"|\" & Div ( 7 ; -2 )"), "-4|-4") << "the quotient rounds down";
    EXPECT_EQ(c("Round ( 0.5 ; 0 ) & \"|\" & Round ( -0.5 ; 0 ) & \"|\" & Round ( 2.675 ; 2 )"), "1|-1|2.68")
        << "halves on exact decimals, not on their binary neighbours";
    EXPECT_EQ(c("Round ( 1234.5678 ; -2 ) & \"|\" & Round ( 50 ; -2 ) & \"|\" & Round ( 49 ; -2 )"), "1200|100|0");
    EXPECT_EQ(c("Truncate ( 29343.98 ; -3 ) & \"|\" & Truncate ( -0.999 ; 2 )"), "29000|-0.99");
    EXPECT_EQ(c("Truncate ( -14.6 ; 0 ) & \"|\" & Truncate ( 123.456 ; 4 ) & \"|\" & Truncate ( 29343.98 ; 5 )"),
              "-14|123.456|29343.98");
}

TEST(CalcNumbers, BeyondEighteenDigitsShowNeitherExponentNorBinaryTail) {
    Fixture c;
    EXPECT_EQ(c("10^20"), "100000000000000000000");
    EXPECT_EQ(c("0 - 10^20"), "-100000000000000000000");
    EXPECT_EQ(c("12345678901234567890 + 1"), "12345678901234567891") << "whole numbers are exact";
    EXPECT_EQ(c("10^20 / 3 * 3"), "100000000000000000000");
    EXPECT_EQ(c("Round ( 10^20 / 7 ; -5 )"), "14285714285714300000");
    EXPECT_EQ(c("Round ( 10^20 ; 2 ) & \"|\" & Int ( 10^30 )"), "100000000000000000000|1" + std::string(30, '0'))
        << "no fraction to round, so no noise added";
    EXPECT_EQ(c("GetAsNumber ( 10^20 ) = 10^20"), "1") << "the text shown reads back as the same number";
    EXPECT_EQ(c("0.5^30"), "0.0000000009313226") << "sixteen decimal places, no exponent";
    EXPECT_EQ(c("10^-20"), "0");
    EXPECT_EQ(c("123456789012345678"), "123456789012345678") << "eighteen digits stay exact";
}

TEST(CalcTextFunctions, CountCharactersNotUtf16Units) {
    Fixture c;
    // 😀 (U+1F600) is one character; fmx::Text holds it as a surrogate pair.
    EXPECT_EQ(c("Length ( \"a😀b\" )"), "3");
    EXPECT_EQ(c("Left ( \"😀😀x\" ; 1 )"), "😀") << "a pair is never cut in half";
    EXPECT_EQ(c("Right ( \"x😀\" ; 1 )"), "😀");
    EXPECT_EQ(c("Middle ( \"a😀b😀c\" ; 3 ; 2 )"), "b😀");
    EXPECT_EQ(c("Position ( \"😀a😀a\" ; \"a\" ; 1 ; 2 )"), "4");
    EXPECT_EQ(c("Position ( \"😀a😀a\" ; \"😀\" ; 4 ; -1 )"), "3");
    EXPECT_EQ(c("Replace ( \"😀😀😀\" ; 2 ; 1 ; \"-\" )"), "😀-😀");
    EXPECT_EQ(c("Filter ( \"a😀b😃\" ; \"😀b\" )"), "😀b") << "a pair filters as one character";
    EXPECT_EQ(c("Length ( \"東京\" ) & Left ( \"Łódź\" ; 2 )"), "2Łó");
    EXPECT_EQ(c("Code ( \"😀\" )"), "128512") << "one character: its code point";
    EXPECT_EQ(c("Char ( 128512 )"), "😀");
    EXPECT_EQ(c("Char ( Code ( \"a😀\" ) )"), "a😀") << "among others the pair takes two groups and comes back";
    EXPECT_EQ(c("Code ( \"a\" ) & \"|\" & Code ( \"ä\" )"), "97|228");
    EXPECT_EQ(c("Char ( 77600097 )"), "a\xCC\x88") << "a and the combining dieresis";
    EXPECT_EQ(c("Char ( 900097 )"), "a\t") << "a tab after a character is not read as one code point";
    EXPECT_EQ(c("Code ( \"abcd\" )"), "?") << "too many characters for the number: no silent truncation";
    EXPECT_EQ(c("Proper ( \"😀hello wORLD – łódź\" )"), "😀Hello World – Łódź") << "an emoji or a dash ends a word";
}

TEST(CalcTextFunctions, TrimAllFollowsTrimSpacesAndTrimType) {
    Fixture c;
    EXPECT_EQ(c("TrimAll ( \" Julian       Scott Dunn \" ; 0 ; 0 )"), "Julian Scott Dunn");
    // Roman words with Japanese text on either side; 東京 and 大阪 are non-roman.
    const std::string text = "\"東京  Tokyo   to大阪 \u3000 end\"";
    EXPECT_EQ(c("TrimAll ( " + text + " ; 0 ; 0 )"), "東京Tokyo to大阪\u3000end")
        << "type 0: no spaces between roman and non-roman; the full-width space is kept";
    EXPECT_EQ(c("TrimAll ( " + text + " ; 1 ; 0 )"), "東京Tokyo to大阪end");
    EXPECT_EQ(c("TrimAll ( " + text + " ; 1 ; 1 )"), "東京 Tokyo to 大阪 end") << "type 1 inserts one space";
    EXPECT_EQ(c("TrimAll ( " + text + " ; 1 ; 2 )"), "東京 Tokyo to大阪 end") << "type 2 only reduces runs";
    EXPECT_EQ(c("TrimAll ( " + text + " ; 1 ; 3 )"), "東京Tokyoto大阪end");
    EXPECT_EQ(c("TrimAll ( \"東 京\" ; 0 ; 2 )"), "東京") << "never a space between non-roman characters";
    EXPECT_EQ(c("TrimAll ( \"\u3000a\u3000\" ; 0 ; 0 ) & \"|\" & TrimAll ( \"\u3000a\u3000\" ; 1 ; 0 )"),
              "\u3000a\u3000|a");
    EXPECT_EQ(c("TrimAll ( \"   \" ; 1 ; 1 )"), "");
    EXPECT_EQ(c.error("TrimAll ( \"a\" ; 0 ; 7 )"), "column 1: TrimAll: trimType is 0, 1, 2 or 3");
}

TEST(CalcDateFunctions, NormaliseAndTakeApart) {
    Fixture c;
    EXPECT_EQ(c("Date ( 2 ; 30 ; 2024 )"), "3/1/2024") << "days past the month roll over";
    EXPECT_EQ(c("Date ( 13 ; 1 ; 2023 )"), "1/1/2024");
    EXPECT_EQ(c("Year ( Date ( 7 ; 4 ; 1976 ) ) & Month ( Date ( 7 ; 4 ; 1976 ) ) & Day ( Date ( 7 ; 4 ; 1976 ) )"),
              "197674");
    EXPECT_EQ(c("DayOfWeek ( Date ( 1 ; 1 ; 2024 ) )"), "2") << "a Monday; Sunday is 1";
    EXPECT_EQ(c("Year ( GetAsDate ( \"1/30/2024\" ) )"), "2024");
    EXPECT_EQ(c("GetAsDate ( \"2024-02-29\" )"), "2/29/2024");
    EXPECT_EQ(c("GetAsDate ( \"tomorrow\" )"), "?");
    EXPECT_EQ(c("GetAsDate ( \"03/03/2019\" )"), "3/3/2019");
    EXPECT_EQ(c("GetAsDate ( 737342 )"), "10/10/2019") << "a number is days since 1/1/0001";
    EXPECT_EQ(c("GetAsDate ( 1 ) & \"|\" & GetAsDate ( 1460970 )"), "1/1/0001|12/31/4000");
    EXPECT_EQ(c("GetAsDate ( 1460971 ) & \"|\" & GetAsDate ( 0 )"), "?|?") << "outside 1/1/0001 to 12/31/4000";
    EXPECT_EQ(c("GetAsDate ( \"4/1/2019 1:00 AM\" ) - GetAsDate ( \"1/1/2019 11:15 PM\" )"), "90");
    EXPECT_EQ(c("GetAsDate ( \"2/30/2024\" )"), "?") << "no 30th of February";
    EXPECT_EQ(c("DayOfWeek ( \"12/25/2022\" ) & DayOfWeek ( Date ( 12 ; 31 ; 2022 ) )"), "17")
        << "a Sunday and a Saturday";
    EXPECT_EQ(c("DayOfWeek ( \"\" )"), "");
    EXPECT_EQ(c("Year ( Get ( CurrentDate ) ) > 2000"), "1");
    EXPECT_EQ(c("Get ( CurrentDate ) = GetAsDate ( Get ( CurrentTimestamp ) )"), "1");
}

TEST(CalcChecks, NameTheFunctionAndColumnBeforeAnythingRuns) {
    Fixture c;
    EXPECT_EQ(c.error("Length ( Nope ( 1 ) )"), "column 10: there is no function named Nope");
    EXPECT_EQ(c.error("Fake_Count & Left ( \"a\" )"), "column 14: Left takes 2 parameters, not 1");
    EXPECT_EQ(c.calls, 0) << "a refused calculation calls nothing";
    EXPECT_EQ(c.error("Get ( Weather )"),
              "column 7: Get does not know Weather; it knows LastError, ScriptResult, "
              "FoundCount, RecordNumber, …");
    EXPECT_EQ(c.error("Length ( [ 1 ; 2 ] )"), "column 10: a \"[ … ]\" list is not a parameter Length takes here");
    EXPECT_EQ(c.error("Fake_Fail"), "column 1: Fake_Fail answered error 7");
    EXPECT_EQ(c.error("members::Name"), "column 1: there is no table named members (load one with --records)");
    EXPECT_EQ(c.error("1 +"), "column 4: a value is missing at the end of the calculation");
    EXPECT_EQ(c.error("1 2"), "column 3: expected an operator or the end of the calculation, found \"2\"");
}

TEST(CalcLimits, DeepOrLongCalculationsAreRefusedNotCrashed) {
    Fixture c;
    const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
    EXPECT_EQ(c.error(deep), "column 1001: the calculation nests deeper than 1000 levels");
    const std::string deepCalls = [] {
        std::string s;
        for (int i = 0; i < 100000; ++i) s += "Abs(";
        s += "1";
        return s + std::string(100000, ')');
    }();
    EXPECT_NE(c.error(deepCalls).find("nests deeper than 1000 levels"), std::string::npos);
    std::string chain = "1";
    for (int i = 0; i < 50000; ++i) chain += "+1";
    EXPECT_EQ(c(chain), "50001") << "a chain of one operator nests one level, however long";
    EXPECT_EQ(c.error(std::string(100000, '-') + "1").substr(0, 12), "column 1001:");
    EXPECT_EQ(c(std::string(500, '(') + "2" + std::string(500, ')')), "2") << "nesting within the limit works";

    const std::string big(100 * 1024, 'x');
    EXPECT_EQ(c("Length ( \"" + big + "\" )"), "102400") << "a text literal has no limit of its own";
    const std::string huge = "\"" + std::string(fm_host::kMaxCalcBytes, 'x') + "\"";
    EXPECT_EQ(c.error(huge), "column " + std::to_string(fm_host::kMaxCalcBytes + 1) +
                                 ": the calculation is longer than " + std::to_string(fm_host::kMaxCalcBytes) +
                                 " bytes");
}

// A nested call must run its own function, whatever the inner lookups do.
TEST(CalcPluginCalls, NestedCallsEachKeepTheirFunction) {
    fm_host::PluginHost host(56);
    std::string error;
    ASSERT_TRUE(host.loadBundle(std::string(TEST_EXTENSIONS_DIR) + "/TestExt.fmplugin", error)) << error;
    fm_host::Evaluator ev(host.lookup());
    auto text = [&](const std::string& calc) { return ev.evaluate(fm_host::parseCalc(calc)).GetAsText().ToUTF8(); };
    EXPECT_EQ(text("Test_Concat ( Test_Echo ( \"a\" ) ; \"b\" )"), "a|b");
    EXPECT_EQ(text("Test_Echo ( Test_Concat ( \"x\" ; Test_Echo ( \"y\" ) ; \"z\" ) )"), "x|y|z");
    EXPECT_EQ(text("Test_Concat ( Length ( Test_Echo ( \"abc\" ) ) ; Upper ( Test_Echo ( \"q\" ) ) )"), "3|Q");
    std::string deep = "\"v\"";
    for (int i = 0; i < 200; ++i) deep = (i % 2 ? "Test_Echo ( " : "Test_Concat ( ") + deep + " )";
    EXPECT_EQ(text(deep), "v");
    host.shutdown();
}

}  // namespace
