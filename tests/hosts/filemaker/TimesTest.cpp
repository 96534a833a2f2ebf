// Date, time and timestamp functions against the examples of FileMaker's
// function reference, and the three types in arithmetic.
#include <string>

#include "CalcTable.h"

namespace {

using calc_table::check;

TEST(Dates, RollOverAsFileMakersDateDoes) {
    check({
        {"Date ( 10 ; 10 ; 2019 )", "10/10/2019"},
        {"Date ( 13 ; 1 ; 2019 )", "1/1/2020"},
        {"Date ( 6 ; 0 ; 2019 )", "5/31/2019"},
        {"Date ( 6 ; -2 ; 2019 )", "5/29/2019"},
        {"Date ( 7 ; 12 ; 2019 ) - Date ( 7 ; 2 ; 2019 )", "10"},
        {"Date ( 1.9 ; 1.9 ; 2020.9 )", "1/1/2020"},  // decimals are cut off
        {"Date ( 1 ; 1 ; 4001 )", "?"},               // a date is from 1/1/0001 to 12/31/4000
        {"Date ( 48001 ; 1 ; 1 )", "?"},
        {"Date ( 100000 ; 1 ; 2000 )", "?"},
        {"Date ( 1 ; 1000000 ; 2000 )", "?"},
        {"Date ( 12 ; 31 ; 4000 )", "12/31/4000"},
        {"Date ( 1 ; 1 ; 0 ) & \"|\" & Date ( 1 ; 1 ; 40000 ) & \"|\" & Date ( 10^20 ; 1 ; 1 )", "?|?|?"},
        {"Date ( 12 ; 31 ; 4000 ) + 1", "1/1/4001"},
        {"GetAsNumber ( Date ( 10 ; 10 ; 2019 ) )", "737342"},
    });
}

TEST(Dates, NameAndCountDaysAndWeeks) {
    check({
        {"DayName ( Date ( 10 ; 10 ; 2019 ) ) & \"|\" & DayName ( \"1/1/2019\" )", "Thursday|Tuesday"},
        {"MonthName ( Date ( 10 ; 10 ; 2019 ) ) & \"|\" & MonthName ( \"\" )", "October|"},
        {"DayOfYear ( Date ( 1 ; 1 ; 2019 ) ) & \"|\" & DayOfYear ( \"3/1/2020\" )", "1|61"},
        {"WeekOfYear ( Date ( 1 ; 1 ; 2019 ) ) & \"|\" & WeekOfYear ( Date ( 12 ; 31 ; 2019 ) )", "1|53"},
        {"WeekOfYear ( Date ( 1 ; 5 ; 2019 ) ) & \"|\" & WeekOfYear ( Date ( 1 ; 6 ; 2019 ) )", "1|2"},
        {"WeekOfYearFiscal ( Date ( 1 ; 7 ; 2008 ) ; 1 )", "2"},
        {"WeekOfYearFiscal ( Date ( 1 ; 1 ; 2009 ) ; 5 )", "1"},
        {"WeekOfYearFiscal ( Date ( 1 ; 2 ; 2009 ) ; 1 )", "53"},
        {"WeekOfYearFiscal ( Date ( 1 ; 4 ; 2009 ) ; 1 )", "1"},
        {"WeekOfYearFiscal ( Date ( 1 ; 4 ; 2009 ) ; 8 )", "?"},
    });
}

TEST(Times, BuildAndTakeApart) {
    check({
        {"Time ( 4 ; 14 ; 32 )", "4:14:32"},
        {"Time ( 4.5 ; 10 ; 30 )", "4:40:30"},
        {"Time ( 4 ; 15 ; 70 )", "4:16:10"},
        {"Time ( 25 ; 0 ; 0.25 )", "25:00:00.25"},
        {"Time ( 0 ; -90 ; 0 )", "-1:30:00"},
        {"GetAsTime ( \"02:47:35\" )", "2:47:35"},
        {"GetAsTime ( \"12:15 pm\" ) & \"|\" & GetAsTime ( \"12:15 AM\" )", "12:15:00|0:15:00"},
        {"GetAsTime ( 3661 ) & \"|\" & GetAsTime ( \"noon\" )", "1:01:01|?"},
        {"GetAsTime ( \"4/5/2014 4:05:06 PM\" )", "16:05:06"},
        {"Hour ( \"12:15:23\" ) & Minute ( \"12:15:23\" ) & Seconds ( \"12:15:23\" )", "121523"},
        {"Hour ( Time ( 34 ; 5 ; 0 ) ) & \"|\" & Seconds ( Time ( 0 ; 0 ; 7.5 ) )", "34|7.5"},
        {"Hour ( \"\" ) & Hour ( \"x\" )", ""},
        {"GetAsNumber ( Time ( 1 ; 0 ; 0.5 ) )", "3600.5"},
    });
}

TEST(Timestamps, JoinADateAndATime) {
    check({
        {"Timestamp ( Date ( 10 ; 21 ; 2019 ) ; Time ( 9 ; 10 ; 30 ) )", "10/21/2019 9:10:30 AM"},
        {"Timestamp ( Date ( 10 ; 21 ; 2019 ) ; Time ( 13 ; 10 ; 30 ) )", "10/21/2019 1:10:30 PM"},
        {"Timestamp ( Date ( 10 ; 21 ; 2019 ) ; Time ( 10 ; 65 ; 5 ) )", "10/21/2019 11:05:05 AM"},
        {"Timestamp ( Date ( 10 ; 35 ; 2019 ) ; Time ( 4 ; 5 ; 6 ) )", "11/4/2019 4:05:06 AM"},
        {"Timestamp ( Date ( 1 ; 1 ; 2020 ) ; Time ( 24 ; 0 ; 0 ) )", "1/2/2020 12:00:00 AM"},
        {"GetAsTimestamp ( \"4/5/2014 4:05:06\" )", "4/5/2014 4:05:06 AM"},
        {"GetAsTimestamp ( 50000 )", "1/1/0001 1:53:20 PM"},
        {"GetAsTimestamp ( Date ( 2 ; 29 ; 2024 ) )", "2/29/2024 12:00:00 AM"},
        {"GetAsTimestamp ( \"4/5/2014 25:00\" ) & \"|\" & GetAsTimestamp ( -1 )", "?|?"},
        {"GetAsNumber ( Timestamp ( Date ( 1 ; 1 ; 1 ) ; Time ( 0 ; 0 ; 1 ) ) )", "1"},
        {"GetAsDate ( Timestamp ( Date ( 7 ; 4 ; 2021 ) ; Time ( 23 ; 0 ; 0 ) ) )", "7/4/2021"},
    });
}

TEST(Timestamps, KeepTheirTypeInArithmetic) {
    check({
        {"Timestamp ( Date ( 1 ; 2 ; 2024 ) ; Time ( 1 ; 0 ; 0 ) ) - "
         "Timestamp ( Date ( 1 ; 1 ; 2024 ) ; Time ( 23 ; 0 ; 0 ) )",
         "7200"},
        {"Timestamp ( Date ( 12 ; 31 ; 2023 ) ; Time ( 23 ; 0 ; 0 ) ) + 3600", "1/1/2024 12:00:00 AM"},
        {"86400 + Timestamp ( Date ( 2 ; 28 ; 2024 ) ; Time ( 6 ; 0 ; 0 ) )", "2/29/2024 6:00:00 AM"},
        {"Timestamp ( Date ( 1 ; 1 ; 1 ) ; Time ( 0 ; 0 ; 0 ) ) - 1", "?"},
        {"Time ( 10 ; 0 ; 0 ) + 3600 & \"|\" & Time ( 1 ; 0 ; 0 ) - Time ( 2 ; 30 ; 0 )", "11:00:00|-1:30:00"},
        {"Time ( 10 ; 0 ; 0 ) * 2", "72000"},
        {"Date ( 1 ; 31 ; 2024 ) + 1 & \"|\" & 1 + Date ( 1 ; 31 ; 2024 )", "2/1/2024|2/1/2024"},
        {"Date ( 3 ; 1 ; 2024 ) - 1", "2/29/2024"},
        {"Time ( 12 ; 0 ; 0 ) < Time ( 9 ; 0 ; 0 ) + 10800.5", "1"},
    });
}

TEST(Clock, GetNamesReadTheClockAndTheUser) {
    check({
        {"Get ( CurrentDate ) = GetAsDate ( Get ( CurrentTimestamp ) )", "1"},
        {"Abs ( Get ( CurrentHostTimestamp ) - Get ( CurrentTimestamp ) ) < 5", "1"},
        {"Let ( t = Get ( CurrentTime ) ; t >= 0 and t < 86400 and Int ( t ) = t )", "1"},
        {"Let ( u = Get ( UUID ) ; Length ( u ) & Middle ( u ; 9 ; 1 ) & Middle ( u ; 15 ; 1 ) )", "36-4"},
        {"Get ( UUID ) = Get ( UUID )", "0"},
        {"IsEmpty ( Get ( AccountName ) )", "0"},
        {"Get ( LastMessageChoice )", "0"},
    });
}

}  // namespace
