// Number functions against the examples of FileMaker's function reference,
// and the decimal rules behind them (precision, exact sums, range).
#include <string>

#include "CalcTable.h"

namespace {

using calc_table::check;

TEST(Numbers, KeepEveryDigitFileMakerKeeps) {
    check({
        {"1.000000000000001 + 0", "1.000000000000001"},
        {"12345678901234567890 + 1", "12345678901234567891"},
        {"10^308 * 10", "1" + std::string(309, '0')},
        {"10^400", "1" + std::string(400, '0')},
        {"10^401 & \"|\" & 10^400 * 10", "?|?"},  // beyond the range
        {"99999999999999999999 * 99999999999999999999", "9999999999999999999800000000000000000001"},
        {"1/3", "0.3333333333333333"},
        {"1/3 * 3 = 1", "1"},
        {"-7 / 0", "?"},
        {"2 ^ 0.5", "1.414213562373095"},
        {"(-8) ^ (1/3)", "?"},
        {"0 ^ -1", "?"},
        {"GetAsNumber ( \"(22)\" )", "-22"},
        {"GetAsNumber ( \"-22\" )", "-22"},
        {"GetAsNumber ( \"2 - 2\" )", "22"},
        {"GetAsNumber ( \"2(2)\" )", "22"},
        {"GetAsNumber ( \"$1,254.50\" )", "1254.5"},
        {"GetAsNumber ( \"FY20\" )", "20"},
    });
}

TEST(Numbers, SetPrecisionWorksTheExpressionToItsDigits) {
    check({
        {"SetPrecision ( 5/9 ; 30 )", "0.555555555555555555555555555556"},
        {"SetPrecision ( 1.321321321321321321321321321 ; 0 )", "1.3213213213213213"},
        {"SetPrecision ( Exp ( 50 ) ; 25 )", "5184705528587072464087.4533229334853848274691006"},
        {"SetPrecision ( Average ( 5/9 ; 1/7 ; 5/7 ) ; 25 )", "0.4708994708994708994708995"},
        {"SetPrecision ( Pi ; 40 )", "3.1415926535897932384626433832795028841972"},
        {"Length ( SetPrecision ( 1/3 ; 400 ) )", "402"},
        {"SetPrecision ( 1/3 ; 900 ) = SetPrecision ( 1/3 ; 400 )", "1"},
        {"SetPrecision ( 2/3 ; 20 ) & \"|\" & 2/3", "0.66666666666666666667|0.6666666666666667"},
        {"SetPrecision ( \"\" ; 20 ) & SetPrecision ( \"a\" ; 20 ) & SetPrecision ( 1/4 ; 20 )", "a0.25"},
    });
}

TEST(Numbers, FunctionsAnswerAsTheReferenceShows) {
    check({
        {"Sqrt ( 4 )", "2"},
        {"Sqrt ( 36 )", "6"},
        {"Sqrt ( -1 )", "?"},
        {"Exp ( 0 )", "1"},
        {"Exp ( 1 )", "2.7182818284590452"},
        {"Ln ( Exp ( 5 ) )", "5"},
        {"Ln ( 0 ) & \"|\" & Ln ( -1 )", "?|?"},
        {"Log ( 100 ) & \"|\" & Log ( 1 ) & \"|\" & Log ( 1000 )", "2|0|3"},
        {"Lg ( 1 ) & \"|\" & Lg ( 2 ) & \"|\" & Lg ( 32 )", "0|1|5"},
        {"Lg ( 0 ) & \"|\" & Lg ( -2 )", "?|?"},
        {"Sign ( -5.3 ) & \"|\" & Sign ( 0 ) & \"|\" & Sign ( 7.3 )", "-1|0|1"},
        {"Pi", "3.1415926535897932"},
        {"Round ( Pi * 2 ; 9 )", "6.283185307"},
        {"Let ( r = Random ; r >= 0 and r < 1 )", "1"},
        {"Round ( Sin ( Pi / 6 ) ; 12 )", "0.5"},
        {"Round ( Sin ( Radians ( 30 ) ) ; 12 )", "0.5"},
        {"Cos ( 0 )", "1"},
        {"Round ( Tan ( Radians ( 45 ) ) ; 12 )", "1"},
        {"Round ( Atan ( 1 ) ; 9 )", "0.785398163"},
        {"Round ( Asin ( .5 ) ; 9 )", "0.523598776"},
        {"Round ( Acos ( .5 ) ; 9 )", "1.047197551"},
        {"Asin ( 2 )", "?"},
        {"Degrees ( Pi / 4 ) & \"|\" & Degrees ( Pi )", "45|180"},
        {"Radians ( 180 )", "3.1415926535897932"},
        {"Ceiling ( 1.25 ) & \"|\" & Ceiling ( -1.25 ) & \"|\" & Floor ( -1.25 )", "2|-1|-2"},
        {"Int ( 1/3 * 3 ) & \"|\" & Mod ( 1 ; 1/3 ) & \"|\" & Div ( 1 ; 1/3 )", "1|0|3"},
        {"Abs ( GetAsTime ( \"12:15\" ) - Time ( 15 ; 15 ; 0 ) )", "3:00:00"},
    });
}

TEST(Numbers, AggregatesSkipEmptyValues) {
    check({
        {"Sum ( 1 ; 2 ; 3.5 )", "6.5"},
        {"Sum ( [ 1 ; 2 ] ; 4 )", "7"},
        {"Sum ( \"\" )", "0"},
        {"Average ( 16 ; 20 )", "18"},
        {"Average ( 1 ; \"\" ; 2 )", "1.5"},
        {"Average ( \"\" )", ""},
        {"Count ( 1 ; \"\" ; \"a\" ; [ 4 ; \"\" ; 5 ] )", "4"},
        {"Min ( 3 ; -1 ; 2 ) & \"|\" & Max ( [ 3 ; 12 ] ; \"\" )", "-1|12"},
        {"Max ( Date ( 1 ; 1 ; 2020 ) ; Date ( 1 ; 1 ; 2021 ) )", "1/1/2021"},
        {"GetRepetition ( [ \"a\" ; \"b\" ] ; 2 ) & GetRepetition ( \"x\" ; 1 ) & GetRepetition ( \"x\" ; 2 )", "bx"},
        {"Last ( [ 1 ; 2 ; \"\" ] ) & Last ( 7 ) & Extend ( 9 )", "279"},
    });
}

TEST(Numbers, FinancialFunctionsFollowTheirEquations) {
    check({
        {"Truncate ( FV ( 50 ; .11/12 ; 5 * 12 ) ; 8 )", "3975.90398429"},
        {"Truncate ( FV ( 2000 ; .12 ; 30 ) + 5000 * ( .12 + 1 ) ^ 30 ; 8 )", "632464.9792864"},
        {"Truncate ( FV ( 500 ; .11/5 ; 60 ) ; 8 )", "61141.6513079"},
        {"FV ( 50 ; 0 ; 12 )", "600"},
        {"Round ( PMT ( 21000 ; .069/12 ; 48 ) ; 2 )", "501.9"},
        {"PMT ( 1200 ; 0 ; 12 )", "100"},
        {"Round ( PV ( 1000 ; .08 ; 5 ) ; 2 )", "3992.71"},
        {"Truncate ( NPV ( [ -2000 ; 600 ; 300 ; 500 ; 700 ; 400 ] ; .05 ) ; 8 )", "156.91277445"},
        {"Truncate ( NPV ( [ -5000 ; 10000 ; 0 ; 10000 ; 10000 ] ; .10 ) ; 8 )", "16758.3560487"},
        {"NPV ( [ 1 ] ; -1 )", "?"},
    });
}

}  // namespace
