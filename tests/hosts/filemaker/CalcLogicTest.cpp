// Logic functions: While, Evaluate and its errors, GetField, Self, Choose,
// and variables with repetitions; long chains and the depth limit.
#include <pthread.h>

#include "CalcTable.h"
#include "Records.h"

namespace {

using calc_table::Row;

TEST(CalcLogic, DocumentedExamples) {
    const Row rows[] = {
        {"While ( [ i = 0 ; total = 0 ] ; i < 5 ; [ i = i + 1 ; total = total + i ] ; total )", "15"},
        {"While ( [ i = 0 ; out = \"\" ] ; i < 3 ; [ i = i + 1 ; out = out & i ] ; out )", "123"},
        {"While ( [ i = 0 ; t = 0 ] ; i < 2 ; [ i = i + 1 ; once = i * 10 ; t = t + once ] ; t )", "30"},
        {"While ( [ i = 0 ] ; i < 2 ; [ i = i + 1 ; once = i ] ; once )",
         "error: column 56: there is no function named once"},  // not kept from turn to turn
        {"Let ( [ v = 5 ; p = 3 ] ; While ( [ r = v ; i = 1 ] ; i < p ; [ i = i + 1 ; r = r * v ] ; r ) )", "125"},
        {"While ( [ c = 0 ; t = 0 ; $a[1] = 25 ; $a[2] = 50 ; $a[3] = 75 ] ; c < 3 ; [ c = c + 1 ; t = t + $a[c] ] ; "
         "t )",
         "150"},
        {"Let ( City = \"Paris\" ; While ( [ City = \"San Francisco\" ; i = 0 ] ; i < 5 ; [ i = i + 1 ; City = City & "
         "\".\" ] ; City ) & City )",
         "San Francisco.....Paris"},
        {"Let ( i = 7 ; While ( [ i = 0 ] ; i < 2 ; [ i = i + 1 ] ; i ) & i )", "27"},
        {"While ( [ i = 0 ] ; 1 ; [ i = i + 1 ] ; i )", "?"},  // past 50,000 turns
        {"Evaluate ( \"2 + 3\" )", "5"},
        {"Let ( x = 5 ; Evaluate ( \"x\" ) )", "?"},  // Let names stay outside
        {"Evaluate ( Quote ( \"a¶b\\¶c \\\"q\\\"\" ) ) = \"a¶b\\¶c \\\"q\\\"\"", "1"},
        {"Evaluate ( \"1 +\" )", "?"},
        {"EvaluationError ( Evaluate ( \"1 +\" ) )", "1203"},
        {"EvaluationError ( Evaluate ( \"Length ( 1 ; 2 )\" ) )", "1202"},
        {"EvaluationError ( Evaluate ( \"Length ( )\" ) )", "1201"},
        {"EvaluationError ( Evaluate ( \"\\\"open\" ) )", "1206"},
        {"EvaluationError ( Evaluate ( \"Nope ( 1 )\" ) )", "1208"},
        {"EvaluationError ( Evaluate ( \"Length ( 3 )\" ) )", "0"},
        {"EvaluationError ( Evaluate ( \"abs(-1\" ) )", "1207"},
        {"EvaluationError ( GetField ( \"total\" ) + 1 )", "102"},
        {"IsValidExpression ( \"Length ( 3 )\" ) & IsValidExpression ( \"Length ( \" )", "10"},
        {"Choose ( \"\" ; \"zero\" ; \"one\" ) & Choose ( 1 ; \"zero\" ; \"one\" ) & Choose ( 5 ; \"a\" )", "zeroone"},
        {"Self", ""},
        {"Extend ( 4 ) + 1", "5"},
    };
    calc_table::check(rows);
}

TEST(CalcLogic, RepetitionsOfVariables) {
    auto ev = calc_table::bare();
    ev.setVariable("$x", fm_host::value::textUtf8("one"));
    ev.setVariable("$x", fm_host::value::textUtf8("three"), 3);
    const Row rows[] = {
        {"$x & \"/\" & $x[1] & \"/\" & $x[2] & \"/\" & $x[1 + 2]", "one/one//three"},
        {"GetRepetition ( $x ; 3 ) & Last ( $x ) & GetRepetition ( $nothing ; 2 )", "threethree"},
        {"Let ( $y[2] = \"b\" ; $y[2] & Last ( $y ) )", "bb"},
        {"$x[0]", "error: column 4: the repetition of $x is a number from 1 up"},
    };
    calc_table::check(ev, rows);
}

TEST(CalcLogic, GetFieldReadsTheNamedField) {
    fm_host::Records records;
    records.add(fm_host::parseCsv("members", "Name,City\nAnn,Oslo\n"));
    auto ev = calc_table::bare();
    ev.setRecords(&records);
    ev.setVariable("$f", fm_host::value::textUtf8("members::City"));
    EXPECT_EQ(calc_table::evaluate(ev, "GetField ( $f ) & GetField ( \"Name\" )"), "OsloAnn");
    EXPECT_EQ(calc_table::evaluate(ev, "GetField ( \"members::Nope\" )"),
              "error: column 1: there is no field members::Nope");
}

// Chains of one operator are flat: linear time and no nesting; real nesting keeps its limit.
void longChains();

// Runs `f` on a thread with a large stack: nesting 1000 levels deep needs more
// than 8 MB in an unoptimised sanitizer build, whose frames are far larger.
template <class F>
void onLargeStack(F f) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::size_t{256} << 20);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      (*static_cast<F*>(p))();
                      return nullptr;
                  },
                  &f),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(CalcLogic, LongChainsAreLinearAndNotNesting) {
    onLargeStack([] { longChains(); });
}

void longChains() {
    auto ev = calc_table::bare();
    std::string sum = "0", text = "\"\"";
    for (int i = 0; i < 1001; ++i) sum += " + 1";
    for (int i = 0; i < 20000; ++i) text += " & \"x\"";
    EXPECT_EQ(calc_table::evaluate(ev, sum), "1001");
    EXPECT_EQ(calc_table::evaluate(ev, "1 - 2 + 3 * 2 / 3 = 1 and 1 < 2 < 3 or 0"), "1");
    EXPECT_EQ(calc_table::evaluate(ev, "Length ( " + text + " )"), "20000");  // its speed: bench_calc
    // Evaluate inside Evaluate cannot exhaust the stack: the depths add up.
    std::string calls = "1";
    for (int i = 0; i < 900; ++i) calls = "Abs ( " + calls + " )";
    ev.setVariable("$calls", fm_host::value::textUtf8(calls));
    EXPECT_EQ(calc_table::evaluate(ev, "Evaluate ( $calls )"), "1");
    std::string twice = "Evaluate ( $calls )";
    for (int i = 0; i < 900; ++i) twice = "Abs ( " + twice + " )";
    ev.setVariable("$twice", fm_host::value::textUtf8(twice));
    EXPECT_NE(
        calc_table::evaluate(ev, "Evaluate ( $twice )").find("the calculation, with the ones Evaluate runs, nests"),
        std::string::npos);
}

}  // namespace
