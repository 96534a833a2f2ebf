// The JSON functions against FileMaker's documented examples, paths, types and faults.
#include "CalcTable.h"

namespace {

using calc_table::Row;

TEST(CalcJson, DocumentedExamples) {
    const Row rows[] = {
        {R"(JSONGetElement ( "{ \"a\" : 11, \"b\" : 22, \"c\" : 33 }" ; "b" ))", "22"},
        {R"(JSONGetElement ( "{ \"a\" : 11, \"b\" : 22, \"c\" : 33 }" ; "b" ) + 1)", "23"},
        {R"(JSONGetElement ( "[ true, false, true ]" ; 1 ))", "0"},
        {R"(JSONGetElement ( "[ 1, 2, 3, 5 ]" ; "[:]" ))", "5"},
        {R"(JSONGetElement ( "[ 10, 20, 30]" ; 1 ))", "20"},
        {R"(JSONFormatElements ( "{ \"a\" : { \"lnk\" : false, \"id\" : 12 } }" ))",
         "{¶\t\"a\" :¶\t{¶\t\t\"id\" : 12,¶\t\t\"lnk\" : false¶\t}¶}"},
        {R"(JSONSetElement ( "{ \"a\" : 11 }" ; "b" ; 22 ; JSONNumber ))", R"({"a":11,"b":22})"},
        {R"(JSONDeleteElement ( "{ \"a\" : 11, \"b\" : 22 }" ; "a" ))", R"({"b":22})"},
        {R"(JSONListKeys ( "{ \"b\" : 1, \"a\" : [ 5, 6 ] }" ; "" ))", "a¶b"},
        {R"(JSONListKeys ( "{ \"a\" : [ 5, 6 ] }" ; "a" ))", "0¶1"},
        {R"(JSONListValues ( "{ \"b\" : \"x\", \"a\" : [ 5, 6 ] }" ; "" ))", "[5,6]¶x"},
    };
    calc_table::check(rows);
}

TEST(CalcJson, PathsWalkAndBuild) {
    const Row rows[] = {
        // "[+]" appends, "[n]" pads with nulls, keys with dots in brackets.
        {R"(JSONSetElement ( "" ; "list[+]" ; "x" ; JSONString ))", R"({"list":["x"]})"},
        {R"(JSONSetElement ( "{\"l\":[1]}" ; "l[+]" ; 2 ; JSONNumber ))", R"({"l":[1,2]})"},
        {R"(JSONSetElement ( "[]" ; "[2]" ; 1 ; JSONNumber ))", "[null,null,1]"},
        {R"(JSONSetElement ( "{}" ; "['a.b'].c" ; 1 ; JSONBoolean ))", R"({"a.b":{"c":true}})"},
        {R"(JSONGetElement ( "{\"bakery\":{\"product\":[{\"name\":\"Donut\"},{\"name\":\"Cake\"}]}}" ; "bakery.product[1]name" ))",
         "Cake"},
        {R"(JSONGetElement ( "{\"p.id\":\"FB1\"}" ; "['p.id']" ))", "FB1"},
        {R"(JSONGetElement ( "{\"a\":1}" ; "missing.deeper" ))", ""},
        {R"(JSONSetElement ( "{}" ; [ "a" ; 1 ; JSONNumber ] ; [ "b" ; "[1,2]" ; JSONArray ] ; [ "c" ; "" ; JSONNull ] ))",
         R"({"a":1,"b":[1,2],"c":null})"},
        {R"(JSONSetElement ( "{}" ; "r" ; "{\"x\":1}" ; JSONRaw ) & JSONSetElement ( "{}" ; "r" ; "not json" ; JSONRaw ))",
         R"({"r":{"x":1}}{"r":"not json"})"},
        {R"(JSONSetElement ( "{}" ; "n" ; 1.50 ; JSONNumber ))", R"({"n":1.5})"},
        {R"(JSONGetElement ( JSONSetElement ( "{}" ; "t" ; "a¶b \"q\"" ; JSONString ) ; "t" ))", "a¶b \"q\""},
        {R"(JSONString & JSONNumber & JSONObject & JSONArray & JSONBoolean & JSONNull & JSONRaw)", "1234560"},
    };
    calc_table::check(rows);
}

TEST(CalcJson, FaultsAnswerAQuestionMarkAndNeverCrash) {
    auto ev = calc_table::bare();
    for (const char* calc :
         {R"(JSONGetElement ( "{" ; "a" ))", R"(JSONFormatElements ( "[1,]" ))",
          R"(JSONSetElement ( "{}" ; "a" ; "[1" ; JSONArray ))", R"(JSONSetElement ( "{}" ; "a" ; 1 ; 9 ))",
          R"(JSONListKeys ( "nope" ; "" ))", R"(JSONGetElement ( "[1]" ; "[x]" ))"})
        EXPECT_EQ(calc_table::evaluate(ev, calc).substr(0, 2), "? ") << calc;
    EXPECT_EQ(calc_table::evaluate(ev, R"(JSONGetElement ( "{" ; "a" ))").substr(0, 20), "? * Line 1, Column 2");
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    ev.setVariable("$deep", fm_host::value::textUtf8(deep));
    EXPECT_EQ(calc_table::evaluate(ev, "Left ( JSONFormatElements ( $deep ) ; 1 )"), "?");
    EXPECT_EQ(calc_table::evaluate(ev, "Left ( JSONSetElement ( $deep ; \"[0]\" ; 1 ; JSONNumber ) ; 1 )"), "?");
}

}  // namespace
