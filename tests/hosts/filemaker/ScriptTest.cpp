// Script steps and records in-process: a Session with no plug-ins, scripts
// written to temporary files, the printed output compared whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "PluginHost.h"
#include "Records.h"
#include "Script.h"
#include "Session.h"

namespace {

namespace fs = std::filesystem;

class Scripts : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("fm_scripts_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name) << text;
        return dir_ / name;
    }
    // Runs the script quietly (dialogs and errors only) unless `echo`.
    std::string run(const std::string& text, bool echo = false) {
        out_.str("");
        session_.setQuiet(!echo);
        ok_ = session_.runScriptFile(write("main.fmscript", text).string(), true);
        return out_.str();
    }

    // Where an error in the script run() wrote is reported.
    std::string at(int line, int column) const {
        return (dir_ / "main.fmscript").string() + ":" + std::to_string(line) + ":" + std::to_string(column) +
               ": error: ";
    }

    fs::path dir_;
    fm_host::PluginHost host_{56};
    std::ostringstream out_;
    fm_host::Session session_{host_, false, out_};
    bool ok_ = false;
};

TEST_F(Scripts, IfElseIfElseRunsTheFirstTrueBranchOnly) {
    const std::string script = R"(Set Variable [ $n ; Value: Get ( ScriptParameter ) ]
If [ $n < 0 ]
  Show Custom Dialog [ "sign" ; "negative" ]
Else If [ $n = 0 ]
  Show Custom Dialog [ "sign" ; "zero" ]
Else If [ $n < 10 ]
  Show Custom Dialog [ "sign" ; "small" ]
Else
  Show Custom Dialog [ "sign" ; "large" ]
End If
Show Custom Dialog [ "done" ]
)";
    const std::pair<const char*, const char*> cases[] = {
        {"-3", "negative"}, {"0", "zero"}, {"4", "small"}, {"12", "large"}};
    for (const auto& [n, expected] : cases) {
        session_.evaluator().state().scriptParameter.SetAsText(fmx::Text::FromUTF8(n), fmx::Locale());
        EXPECT_EQ(run(script), std::string("sign: ") + expected + "\ndone\n") << n;
        EXPECT_TRUE(ok_);
    }
}

TEST_F(Scripts, LoopsNestAndExitLoopIfLeavesTheInnermost) {
    const std::string out = run(R"(Set Variable [ $i ; Value: 0 ]
Set Variable [ $all ; Value: "" ]
Loop
  Set Variable [ $i ; Value: $i + 1 ]
  Exit Loop If [ $i > 3 ]
  Set Variable [ $j ; Value: 0 ]
  Loop
    Set Variable [ $j ; Value: $j + 1 ]
    Exit Loop If [ $j > $i ]
    If [ $j = 2 ]
      Set Variable [ $all ; Value: $all & "*" ]
    Else
      Set Variable [ $all ; Value: $all & $j ]
    End If
  End Loop
  Set Variable [ $all ; Value: $all & "|" ]
End Loop
Show Custom Dialog [ $all ]
)");
    EXPECT_EQ(out, "1|1*|1*3|\n");
}

TEST_F(Scripts, PerformScriptPassesParameterAndResultAndKeepsLocalsApart) {
    write("sub.fmscript", R"(# $x here is the sub-script's own
Set Variable [ $x ; Value: "inner" ]
Set Variable [ $$shared ; Value: $$shared + 1 ]
Exit Script [ Text Result: Upper ( Get ( ScriptParameter ) ) & "/" & $x ]
Show Custom Dialog [ "never shown" ]
)");
    const std::string out = run(R"(Set Variable [ $x ; Value: "outer" ]
Set Variable [ $$shared ; Value: 10 ]
Perform Script [ "sub.fmscript" ; Parameter: "tromsø" ]
Show Custom Dialog [ Get ( ScriptResult ) & " " & $x & " " & $$shared ]
Perform Script [ "missing.fmscript" ]
Show Custom Dialog [ Get ( LastError ) ]
Show Custom Dialog [ Get ( LastError ) ]
)");
    EXPECT_EQ(out, "TROMSØ/inner outer 11\n" + at(5, 1) + "Perform Script cannot read the script " +
                       (dir_ / "missing.fmscript").string() + "\n100\n0\n")
        << "LastError tells the step before it";
    EXPECT_FALSE(ok_);
}

TEST_F(Scripts, PerformScriptIntoItselfStopsAtTheDepthLimit) {
    write("again.fmscript", "Perform Script [ \"again.fmscript\" ]\n");
    const std::string out = run("Perform Script [ \"again.fmscript\" ]\nShow Custom Dialog [ \"after\" ]\n");
    EXPECT_NE(out.find("Perform Script nests deeper than 100 scripts"), std::string::npos) << out;
    EXPECT_EQ(out.find("after"), std::string::npos) << "the whole script stops";
}

TEST_F(Scripts, AStepThatCannotBeParsedStopsTheScriptAtItsLineAndColumn) {
    const std::string out = run(R"(Show Custom Dialog [ "one" ]
Set Variable [ $x ; Value: Length ( "a" ; ) ]
Show Custom Dialog [ "three" ]
)");
    EXPECT_EQ(out, "one\n" + at(2, 43) + "a value is missing before \")\"\n");
    EXPECT_FALSE(ok_);
    EXPECT_EQ(run("Show Custom Dialog [ \"one\" ]\nSet Variable [ x ; 1 ]\nShow Custom Dialog [ \"three\" ]\n"),
              "one\n" + at(2, 14) + "write Set Variable as: Set Variable [ $name ; Value: calculation ]\n");
    EXPECT_EQ(run("Show Custom Dialog [ \"one\" ]\nShow Custom Dialog [ Nope ( 1 ) ]\nShow Custom Dialog [ \"3\" ]\n"),
              "one\n" + at(2, 22) + "there is no function named Nope\n");
}

TEST_F(Scripts, ABrokenBlockIsReportedBeforeAnythingRuns) {
    EXPECT_EQ(run("Show Custom Dialog [ \"x\" ]\nIf [ 1 ]\nLoop\nEnd If\n"), at(4, 1) + "End If without an If\n");
    EXPECT_EQ(run("Show Custom Dialog [ \"x\" ]\nLoop\n"), at(2, 1) + "this Loop has no End Loop\n");
    EXPECT_EQ(run("Else\n"), at(1, 1) + "Else without an If\n");
    EXPECT_EQ(run("Show Custom Dialog [ \"x\" ]\nExit Loop If [ 1 ]\n"), at(2, 1) + "Exit Loop If outside a Loop\n")
        << "it has no loop to leave, and must not start the script over";
    EXPECT_EQ(run("If [ 1 ]\nElse\nElse If [ 1 ]\nEnd If\n"), at(3, 1) + "Else If [ 1 ] after Else\n");
}

TEST_F(Scripts, EchoPrintsEachStepWithItsResult) {
    EXPECT_EQ(
        run("# comment\nComment [ also ]\n\nSet Variable [ $a ; Value: 1 + 1 ]\nIf ( $a = 2 ; \"two\" ; \"?\" )\n",
            true),
        "> Set Variable [ $a ; Value: 1 + 1 ]\n$a = 2\n> If ( $a = 2 ; \"two\" ; \"?\" )\ntwo\n")
        << "the If function is a calculation, not the step";
}

TEST_F(Scripts, GoToRecordWalksTheTableAndExitsTheLoopAfterTheLast) {
    session_.records().add(fm_host::parseCsv("members", "Name,City\nAnn,Oslo\nBo,\"Lund\nSkåne\"\nCai,Łódź\n"));
    const std::string out = run(R"(Go to Record/Request/Page [ First ]
Loop
  Show Custom Dialog [ Get ( RecordNumber ) & "/" & Get ( FoundCount ) ; members::Name & " " & members::CITY ]
  Go to Record/Request/Page [ Next ; Exit after last: On ]
End Loop
Go to Record [ Next ]
Show Custom Dialog [ Get ( LastError ) & " " & members::Name ]
Go to Record [ Previous ]
Show Custom Dialog [ Get ( LastError ) & " " & members::Name ]
)");
    EXPECT_EQ(out, "1/3: Ann Oslo\n2/3: Bo Lund\nSkåne\n3/3: Cai Łódź\n101 Cai\n0 Bo\n");
}

TEST_F(Scripts, ExitAfterLastEndsTheLoopOverAnEmptyTableToo) {
    session_.records().add(fm_host::parseCsv("members", "Name\n"));
    EXPECT_EQ(run("Go to Record/Request/Page [ First ]\nShow Custom Dialog [ Get ( LastError ) & \"/\" & "
                  "Get ( FoundCount ) ]\nLoop\nGo to Record/Request/Page [ Next ; Exit after last: On ]\nEnd Loop\n"
                  "Show Custom Dialog [ \"out\" ]\n"),
              "101/0\nout\n");
}

TEST_F(Scripts, SetVariableTakesAHundredKilobyteText) {
    const std::string big(100 * 1024, 'x');
    EXPECT_EQ(run("Set Variable [ $x ; Value: \"" + big + "\" ]\nShow Custom Dialog [ Length ( $x ) ]\n"), "102400\n");
}

TEST(ScriptJson, DialogsResultsAndErrorsAreOneObjectALine) {
    fm_host::PluginHost host(56);
    std::ostringstream out;
    fm_host::Session session(host, true, out);
    const fs::path file = fs::path(testing::TempDir()) / "json.fmscript";
    std::ofstream(file) << "Set Variable [ $d ; Value: Date ( 2 ; 29 ; 2024 ) ]\n"
                           "Show Custom Dialog [ \"Über\" ; \"two¶lines \\\"q\\\"\" ]\nLength ( 1 ; 2 )\n";
    EXPECT_FALSE(session.runScriptFile(file.string(), true));
    std::istringstream lines(out.str());
    std::string l1, l2, l3, rest;
    std::getline(lines, l1);
    std::getline(lines, l2);
    std::getline(lines, l3);
    EXPECT_FALSE(std::getline(lines, rest)) << out.str();
    EXPECT_EQ(
        l1,
        R"j({"calc":"Set Variable [ $d ; Value: Date ( 2 ; 29 ; 2024 ) ]","type":"date","value":"2024-02-29","variable":"$d"})j");
    EXPECT_EQ(l2, "{\"dialog\":\"Über\",\"message\":\"two\\rlines \\\"q\\\"\"}");
    EXPECT_EQ(l3, R"j({"calc":"Length ( 1 ; 2 )","error":"line 3, column 1: Length takes 1 parameter, not 2"})j");
    fs::remove(file);
}

TEST(ScriptSteps, ParseLabelsAndColumns) {
    const auto s = fm_host::parseStep("  set   variable [ $$Total ; value:  1 + ]", 7);
    ASSERT_TRUE(s.error.has_value());
    EXPECT_EQ(s.error->column(), 41u) << "just past the +";
    const auto d = fm_host::parseStep("Show Custom Dialog [ Title: \"T; x\" ; Message: Left ( \"ab\" ; 1 ) ]", 1);
    ASSERT_FALSE(d.error.has_value()) << d.error->what();
    EXPECT_EQ(d.kind, fm_host::Step::Kind::ShowDialog);
    EXPECT_EQ(d.extra->text, "T; x") << "a semicolon inside a text does not split the options";
    const auto g = fm_host::parseStep("Go to Record/Request/Page [ Sideways ]", 1);
    ASSERT_TRUE(g.error.has_value());
    EXPECT_EQ(std::string(g.error->what()), "column 29: go to First, Last, Next or Previous, not Sideways");
    EXPECT_EQ(fm_host::parseStep("Loop now", 1).error->column(), 6u);
}

TEST(RecordsCsv, ReadsQuotedFieldsNewlinesAndUtf8) {
    const auto t = fm_host::parseCsv(
        "t", "\xEF\xBB\xBFName , Note\r\n\"O'Brien, Siobhán\",\"two\r\nlines \"\"quoted\"\"\"\r\n  \r\n東京,\r\n\r\n");
    ASSERT_EQ(t.fields, (std::vector<std::string>{"Name", "Note"})) << "the byte-order mark and spaces go";
    ASSERT_EQ(t.rows.size(), 3u) << "a blank line at the end is no record";
    EXPECT_EQ(t.rows[0][0], "O'Brien, Siobhán");
    EXPECT_EQ(t.rows[0][1], "two\rlines \"quoted\"") << "returns in a field become CR";
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"", ""})) << "a blank line is a record with every field empty";
    EXPECT_EQ(t.rows[2][0], "東京");
}

std::string utf16(const std::u16string& s, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : s) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += littleEndian ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

TEST(RecordsCsv, ReadsTheEncodingsAndDelimitersSpreadsheetsSave) {
    struct Case {
        const char* what;
        std::string bytes;
        fm_host::LoadOptions options;
        std::vector<std::string> fields, first;
    };
    const std::vector<Case> cases = {
        {"semicolons", "Name;City\nÅse;Tromsø, Troms\n", {}, {"Name", "City"}, {"Åse", "Tromsø, Troms"}},
        {"tabs", "Name\tCity\n Åse \tTromsø\n", {}, {"Name", "City"}, {"Åse", "Tromsø"}},
        {"UTF-16 LE", utf16(u"Name,City\r\n東京,Łódź\r\n", true), {}, {"Name", "City"}, {"東京", "Łódź"}},
        {"UTF-16 BE", utf16(u"Name;City\r\n😀,x;y\r\n", false), {}, {"Name", "City"}, {"😀,x", "y"}},
        {"Latin-1", "Name,City\nS\xE9verine,Li\xE8ge\n", {"latin-1", 0, ""}, {"Name", "City"}, {"Séverine", "Liège"}},
        {"Windows-1252", "Name,City\n\x80 Ann,x\n", {"windows-1252", 0, ""}, {"Name", "City"}, {"€ Ann", "x"}},
        {"--delimiter", "a,b;c\n1,2;3\n", {"", ';', ""}, {"a,b", "c"}, {"1,2", "3"}},
    };
    for (const auto& c : cases) {
        const auto t = fm_host::parseCsv("t", c.bytes, c.options);
        EXPECT_EQ(t.fields, c.fields) << c.what;
        ASSERT_EQ(t.rows.size(), 1u) << c.what;
        EXPECT_EQ(t.rows[0], c.first) << c.what;
    }
    EXPECT_EQ(fm_host::parseCsv("contacts", "Name\nAnn\n", {"", 0, "members"}).name, "members");
}

TEST(RecordsCsv, StopsAtTheFirstFaultNamingItsLine) {
    struct Case {
        std::string bytes;
        fm_host::LoadOptions options;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"Name,City\nAnn,Oslo\nS\xE9verine,Li\xE8ge\n",
         {},
         "t, line 3, column 2: the byte 0xE9 is not UTF-8; if the file was saved as Windows or Latin-1 text, load it "
         "with --encoding windows-1252 or --encoding latin-1"},
        {"a,b,c\n1,2,3\n4,5\n", {}, "t, line 3: 2 fields, but the header names 3 (fields separated by \",\")"},
        {"a;b\n\"x\ny\";2\n1;2;3\n", {}, "t, line 4: 3 fields, but the header names 2 (fields separated by \";\")"},
        {"a,b\n1,2\n\"open,3\n", {}, "t, line 3, column 1: the quote opened here is never closed"},
        {"a,b\n\"x\"y,2\n", {}, "t, line 2, column 4: text after a closing quote"},
        {std::string("a,b\n1,\0\n", 8), {}, "t, line 2, column 3: a NUL byte"},
        {"a\n1\n", {"klingon", 0, ""}, "t: the encoding klingon is not known"},
        {std::string("\xFF\xFE"
                     "a\0\n",
                     5),
         {},
         "t, line 1, column 2: the bytes are not UTF-16LE (the file ends inside a character)"},
        {"", {}, "t is empty: it needs a header row of field names"},
        {"a,b\n1,2,3\n", {}, "t, line 2: 3 fields"},
        {"a,A\n1,2\n", {}, "t: the header names the field A twice"},
        {"a,\n1,2\n", {}, "t: field 2 of the header has no name"},
    };
    for (const auto& c : cases) {
        try {
            fm_host::parseCsv("t", c.bytes, c.options);
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const fm_host::RecordsError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
        }
    }
}

TEST(RecordsCsv, KeepsARaggedRowWithWhyWhenAsked) {
    const auto t = fm_host::parseCsv("t", "a,b,c\n1,2,3\n\n4,5\n\"x\ny\",7,8,9\n", {"", 0, "", "_why"});
    ASSERT_EQ(t.fields, (std::vector<std::string>{"a", "b", "c", "_why"}));
    const std::string by = " (fields separated by \",\")";
    const std::vector<std::vector<std::string>> rows = {
        {"1", "2", "3", ""},
        {"", "", "", ""},  // a blank line: an empty record, not a ragged one
        {"4", "5", "", "line 4: 2 fields, but the header names 3" + by},
        {"x\ry", "7", "8", "line 5: 4 fields, but the header names 3" + by},
    };
    EXPECT_EQ(t.rows, rows);
    EXPECT_THROW(fm_host::parseCsv("t", "a,_WHY\n1,2\n", {"", 0, "", "_why"}), fm_host::RecordsError);
}

TEST(RecordsJson, ReadsOneObjectALine) {
    const fs::path p = fs::path(testing::TempDir()) / "people.jsonl";
    std::ofstream(p) << "{\"name\":\"Ann\",\"age\":41}\n\n{\"name\":\"Bo\\nLund\",\"member\":true,\"age\":null}\n";
    const auto t = fm_host::loadTable(p.string());
    EXPECT_EQ(t.name, "people");
    ASSERT_EQ(t.fields, (std::vector<std::string>{"name", "age", "member"}));
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.rows[0], (std::vector<std::string>{"Ann", "41", ""}));
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"Bo\rLund", "", "1"}));
    std::ofstream(p) << "{\"name\":\"Ann\"}\n[1,2]\n";
    EXPECT_THROW(fm_host::loadTable(p.string()), fm_host::RecordsError);
    fs::remove(p);
}

}  // namespace
