// Record steps, repetitions in Set Variable, Get ( LastError ) across control
// steps, Get ( ScriptName ), Export Records read back, missing fields under
// error capture, script text as FileMaker copies it, and Ctrl-C inside one
// long calculation.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Evaluator.h"
#include "PluginHost.h"
#include "Records.h"
#include "Session.h"

namespace {

namespace fs = std::filesystem;

class RecordScripts : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("fm_records_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        session_.records().add(
            fm_host::parseCsv("members", "Name,City,Score\nBob,Oslo,3\nAnn,Bergen,10\nCid,Oslo,7\n"));
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the script; its calculation lines print their results, one a line.
    std::string run(const std::string& text, const std::string& name = "main.fmscript") {
        out_.str("");
        session_.setQuiet(false);
        std::ofstream(dir_ / name) << text;
        ok_ = session_.runScriptFile((dir_ / name).string(), false);
        return out_.str();
    }

    fs::path dir_;
    fm_host::PluginHost host_{56};
    std::ostringstream out_;
    fm_host::Session session_{host_, false, out_};
    bool ok_ = false;
};

TEST_F(RecordScripts, FoundSetStepsEditSortAndRestore) {
    const std::string out = run(R"(Sort Records [ members::Score ; Descending ]
List ( members::Name ; Get ( RecordNumber ) )
Go to Record/Request/Page [ By Calculation: 3 ]
Set Field [ members::City ; Upper ( members::City ) & "¶!" ]
Omit Record
Get ( FoundCount ) & members::Name
New Record/Request
Set Field [ Name ; "Dag" ]
Get ( FoundCount ) & members::Name & Get ( RecordNumber )
Show All Records
Go to Record/Request/Page [ First ]
Delete Record/Request [ With dialog: Off ]
Get ( FoundCount ) & members::Name
Go to Record/Request/Page [ By Calculation: 9 ]
Get ( LastError )
Sort Records [ City ; Name ; Descending ]
Go to Record/Request/Page [ Last ]
members::Name
)");
    EXPECT_TRUE(ok_) << out;
    EXPECT_EQ(out,
              "Ann\n1\n"
              "2Cid\n"   // Bob (score 3, third) was omitted; the last one left is current
              "3Dag3\n"  // new record at the end of the found set
              "3Ann\n"   // all back in creation order; Bob deleted
              "101\n"
              "Cid\n");  // Dag (no city), Ann (Bergen), Cid (Oslo)
}

TEST_F(RecordScripts, ExportWritesTheFoundSetInOrder) {
    const fs::path csv = dir_ / "out.csv";
    run("Sort Records [ members::Name ]\nOmit Record\nSet Field [ members::City ; \"Tromsø\" & ¶ & \"\\\"N\\\"\" ]\n"
        "Export Records [ With dialog: Off ; Include field names ; \"" +
        csv.string() + "\" ; Unicode (UTF-8) ]\nExport Records [ \"/nonexistent/dir/x.csv\" ]\nGet ( LastError )\n" +
        "Export Records [ Create folders: Off ; \"" + (dir_ / "plain.csv").string() + "\" ]\n");
    std::ifstream in(csv, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(),
              "\"Name\",\"City\",\"Score\"\r\"Bob\",\"Tromsø\v\"\"N\"\"\",\"3\"\r\"Cid\",\"Oslo\",\"7\"\r");
    EXPECT_NE(out_.str().find("800\n"), std::string::npos) << out_.str();
    std::ifstream plain(dir_ / "plain.csv", std::ios::binary);
    std::ostringstream plainBytes;
    plainBytes << plain.rdbuf();
    EXPECT_EQ("\"Name\",\"City\",\"Score\"\r" + plainBytes.str(), bytes.str()) << "field names only when asked";
    const fm_host::Table back = fm_host::loadCsv(csv.string());  // what a merge reads back
    ASSERT_EQ(back.rows.size(), 2u);
    EXPECT_EQ(back.rows[0][1], "Tromsø\v\"N\"");  // the return as FileMaker exports it
}

TEST_F(RecordScripts, LastErrorSurvivesControlStepsAndRepetitionsAreSet) {
    const std::string out = run(R"(Go to Record/Request/Page [ Last ]
Go to Record/Request/Page [ Next ]
If [ 1 ]
Else
End If
Loop
Exit Loop If [ 1 ]
End Loop
Get ( LastError )
Get ( LastError )
Set Variable [ $r[ 1 + 1 ] ; Value: "two" ]
Set Variable [ $r ; Value: "one" ]
$r & $r[2] & Last ( $r ) & Get ( ScriptName )
)",
                                "rep.fmscript");
    EXPECT_EQ(out, "101\n0\n$r[2] = two\n$r = one\nonetwotworep\n");
}

TEST_F(RecordScripts, StepsWithoutRecordsOrWithBadOptionsStopTheScript) {
    for (const char* bad : {"Set Field [ members::Nope ; 1 ]", "Sort Records [ Nope ]", "Set Field [ $x ; 1 ]",
                            "Set Error Capture [ Maybe ]", "Sort Records [ Descending ]"}) {
        run(std::string(bad) + "\n\"after\"\n");
        EXPECT_FALSE(ok_) << bad;
        EXPECT_EQ(out_.str().find("after"), std::string::npos) << bad;
    }
    run("Set Error Capture [ On ]\nAllow User Abort [ Off ]\nBeep\nRefresh Window\nPause/Resume Script [ Indefinitely "
        "]\n"
        "\"after\"\n");
    EXPECT_TRUE(ok_);
    EXPECT_EQ(out_.str(), "after\n");
}

TEST_F(RecordScripts, MissingFieldsUnderErrorCapture) {
    struct Case {
        const char* step;
        bool capture;
        const char* out;
    } cases[] = {
        {"Set Field [ members::NoSuchField ; 1 ]", true, "102\n"},
        {"Sort Records [ members::NoSuchField ; Descending ]", true, "102\n"},
        {"Set Field [ members::NoSuchField ; 1 ]", false, "error: the table members has no field named NoSuchField\n"},
        {"Sort Records [ members::NoSuchField ]", false, "error: the table members has no field named NoSuchField\n"},
    };
    for (const auto& c : cases) {
        std::string out = run(std::string("Set Error Capture [ ") + (c.capture ? "On" : "Off") + " ]\n" + c.step +
                              "\nGet ( LastError )\n");
        if (!c.capture) out = out.substr(out.find("error: "));
        EXPECT_EQ(out, c.out) << c.step;
        EXPECT_EQ(ok_, c.capture) << c.step;
    }
}

TEST_F(RecordScripts, ScriptTextAsFileMakerCopiesIt) {
    const std::string out = run(R"(Go to Record/Request/Page [ With dialog: Off ; 3 ]
members::Name
Go to Record/Request/Page [ First ; Exit after last: Off ]
Sort Records [ Restore ; With dialog: Off ; members::Name ]
Show Custom Dialog [ Title: "T" ; Message: members::Name ; Default Button: "OK", Commit: "Yes" ]
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

TEST_F(RecordScripts, CtrlCStopsOneLongCalculation) {
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        fm_host::Session::requestStop();
    });
    const std::string out = run(
        "Set Variable [ $r ; Value: While ( [ i = 0 ] ; i < 49000 ; [ i = i + 1 ; j = While ( [ j = 0 ] ; j < 49000 ; "
        "[ j = j + 1 ] ; j ) ] ; i ) ]\n\"after\"\n");
    stopper.join();
    EXPECT_FALSE(ok_);
    EXPECT_TRUE(session_.stopped());
    EXPECT_NE(out.find("stopped by Ctrl-C"), std::string::npos) << out;
    EXPECT_EQ(out.find("after"), std::string::npos);
}

}  // namespace
