// FileMaker's help pages against filemaker-host's calculations: the clock,
// timestamps plus times, JSONRaw, SetRecursion, the ranges of dates and
// logarithms. (The script steps' rows are in script_records_test.cpp.)
#include <gtest/gtest.h>

#include "Builtins.h"
#include "CalcTable.h"

namespace {

using calc_table::Row;

TEST(HelpRows, ClockCountsMillisecondsFromYearOne) {
    // The help's example: 10:25:07.528 PM UTC on 6/3/2015.
    const std::chrono::system_clock::time_point t{std::chrono::milliseconds{1433370307528LL}};
    EXPECT_EQ(fm_host::utcMilliseconds(t), 63568967107528LL);
    const Row rows[] = {
        {"GetAsTimestamp ( 63568967107528 / 1000 )", "6/3/2015 10:25:07.528 PM"},
        {"GetAsTime ( GetAsTimestamp ( 63568967107528 / 1000 ) + ( -7 * 3600 ) )", "15:25:07.528"},
        {"Year ( GetAsTimestamp ( Get ( CurrentTimeUTCMilliseconds ) / 1000 ) ) ≥ 2026", "1"},
        {"Abs ( Get ( CurrentTimeUTCMilliseconds ) / 1000 - GetAsNumber ( Get ( CurrentTimestamp ) ) ) < 86400", "1"},
    };
    calc_table::check(rows);
}

TEST(HelpRows, CalculationsAsTheHelpAnswersThem) {
    const Row rows[] = {
        // A timestamp plus or minus a time is a timestamp.
        {"Timestamp ( Date ( 1 ; 1 ; 2020 ) ; Time ( 0 ; 0 ; 0 ) ) + Time ( 1 ; 0 ; 0 )", "1/1/2020 1:00:00 AM"},
        {"Time ( 1 ; 0 ; 0 ) + Timestamp ( Date ( 1 ; 1 ; 2020 ) ; Time ( 0 ; 0 ; 0 ) )", "1/1/2020 1:00:00 AM"},
        {"Timestamp ( Date ( 1 ; 1 ; 2020 ) ; Time ( 0 ; 0 ; 0 ) ) - Time ( 1 ; 0 ; 0 )", "12/31/2019 11:00:00 PM"},
        // JSONRaw takes the first JSON element; text that is none stays text.
        {"JSONSetElement ( \"{}\" ; \"a\" ; \"4,2\" ; JSONRaw )", "{\"a\":4}"},
        {"JSONSetElement ( \"{}\" ; \"a\" ; \"abc\" ; JSONRaw )", "{\"a\":\"abc\"}"},
        {"JSONSetElement ( \"{ \\\"a\\\" : 11 }\" ; \"b\" ; 22.23 ; JSONNumber )", "{\"a\":11,\"b\":22.23}"},
        {"JSONListValues ( \"[true,false,\\\"x\\\"]\" ; \"\" ) = List ( JSONGetElement ( \"[true]\" ; \"[0]\" ) ; 0 ; "
         "\"x\" )",
         "1"},
        // SetRecursion: the help's two examples.
        {"SetRecursion ( While ( [ i = 0 ; out = \"\" ] ; i ≤ 10 ; [ i = i + 1 ; out = out & $variable[ i ] & ¶ ] ; "
         "out ) ; 5 )",
         "?"},
        {"SetRecursion ( While ( i = 0 ; i < 100000 ; i = i + 1 ; i ) ; 200000 )", "100000"},
        {"While ( i = 0 ; i < 100000 ; i = i + 1 ; i )", "?"},
        // Dates from 1/1/0001 to 12/31/4000; logarithms of positive numbers only.
        {"Date ( 48001 ; 1 ; 1 ) & Date ( 1 ; 1 ; 0 )", "??"},
        {"Date ( 6 ; 0 ; 2014 )", "5/31/2014"},
        {"Ln ( 0 ) & Ln ( -1 ) & Log ( 0 ) & Lg ( 0 )", "????"},
        {"Ln ( Exp ( 5 ) )", "5"},
    };
    calc_table::check(rows);
}

}  // namespace
