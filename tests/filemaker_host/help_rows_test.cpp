// FileMaker's help pages against filemaker-host: the clock, timestamps plus
// times, JSONRaw, SetRecursion, ranges; missing fields under error capture,
// the comma-separated export, and script text as FileMaker copies it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Builtins.h"
#include "CalcRows.h"
#include "PluginHost.h"
#include "Records.h"
#include "Session.h"

namespace {

namespace fs = std::filesystem;
using calc_rows::Row;

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
    calc_rows::check(rows);
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
    calc_rows::check(rows);
}

class HelpScripts : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("fm_help_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        session_.records().add(fm_host::parseCsv("items", "Name,City\nBob,Oslo\nAnn,Bergen\nCid,Oslo\n"));
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string run(const std::string& text) {
        out_.str("");
        std::ofstream(dir_ / "s.fmscript") << text;
        ok_ = session_.runScriptFile((dir_ / "s.fmscript").string(), false);
        return out_.str();
    }
    std::string file(const char* name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir_;
    fm_host::PluginHost host_{56};
    std::ostringstream out_;
    fm_host::Session session_{host_, false, out_};
    bool ok_ = false;
};

TEST_F(HelpScripts, MissingFieldsUnderErrorCapture) {
    struct Case {
        const char* step;
        bool capture;
        const char* out;
    } cases[] = {
        {"Set Field [ items::NoSuchField ; 1 ]", true, "102\n"},
        {"Sort Records [ items::NoSuchField ; Descending ]", true, "102\n"},
        {"Set Field [ items::NoSuchField ; 1 ]", false, "error: the table items has no field named NoSuchField\n"},
        {"Sort Records [ items::NoSuchField ]", false, "error: the table items has no field named NoSuchField\n"},
    };
    for (const auto& c : cases) {
        std::string out = run(std::string("Set Error Capture [ ") + (c.capture ? "On" : "Off") + " ]\n" + c.step +
                              "\nGet ( LastError )\n");
        if (!c.capture) out = out.substr(out.find("error: "));
        EXPECT_EQ(out, c.out) << c.step;
        EXPECT_EQ(ok_, c.capture) << c.step;
    }
}

TEST_F(HelpScripts, ExportWritesFileMakersCommaSeparatedValues) {
    run("Set Field [ items::City ; \"Tromsø\" & ¶ & \"\\\"N\\\"\" ]\n"
        "Export Records [ With dialog: Off ; Create folders: Off ; \"" +
        (dir_ / "a.csv").string() + "\" ; Unicode (UTF-8) ]\nExport Records [ Include field names ; \"" +
        (dir_ / "b.csv").string() + "\" ]\n");
    ASSERT_TRUE(ok_) << out_.str();
    const std::string records = "\"Bob\",\"Tromsø\v\"\"N\"\"\"\r\"Ann\",\"Bergen\"\r\"Cid\",\"Oslo\"\r";
    EXPECT_EQ(file("a.csv"), records);
    EXPECT_EQ(file("b.csv"), "\"Name\",\"City\"\r" + records);
    EXPECT_EQ(fm_host::loadCsv((dir_ / "b.csv").string()).rows.size(), 3u);  // a return splits no record
}

TEST_F(HelpScripts, ScriptTextAsFileMakerCopiesIt) {
    const std::string out = run(R"(Go to Record/Request/Page [ With dialog: Off ; 3 ]
items::Name
Go to Record/Request/Page [ First ; Exit after last: Off ]
Sort Records [ Restore ; With dialog: Off ; items::Name ]
Show Custom Dialog [ Title: "T" ; Message: items::Name ; Default Button: "OK", Commit: "Yes" ]
// Beep
Set Variable [ $x ; Value: Let ( [
    a = 1 ;
    b = "two
lines" ] ;
  a & b
) ]
$x
If [ Length ( $x ) >
     3 ]
Exit Script [ Text Result: "done" ]
End If
)");
    EXPECT_TRUE(ok_) << out;
    EXPECT_EQ(out, "Cid\nT: Ann\n$x = 1two\nlines\n1two\nlines\n");
}

}  // namespace
