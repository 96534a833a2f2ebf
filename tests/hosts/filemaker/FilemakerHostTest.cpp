// filemaker-host end to end, with the TestExt plug-in bundle; and the
// calculation parser and plug-in loading in-process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Calc.h"
#include "PluginHost.h"

namespace {

const std::string kHost = std::string(QUILL_BUILD_DIR) + "/bin/filemaker-host";
const std::string kExtensions = TEST_EXTENSIONS_DIR;

struct Result {
    int status = -1;
    std::string out;
};

// Runs filemaker-host with the given arguments (no shell) and optional input;
// `out` holds standard output and standard error, in the order written.
Result host(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), {kHost, "--extensions", kExtensions});
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(in[1]);
        close(out[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    close(in[1]);
    Result r;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> v;
    std::size_t start = 0;
    for (std::size_t nl; (nl = s.find('\n', start)) != std::string::npos; start = nl + 1)
        v.push_back(s.substr(start, nl - start));
    if (start < s.size()) v.push_back(s.substr(start));
    return v;
}

TEST(FileMakerHost, ListsFunctionsInRegistrationOrderWithPrototypesAndFlags) {
    const auto r = host({"functions"});
    EXPECT_EQ(r.status, 0);
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 5u) << r.out;
    EXPECT_EQ(l[0], "100\tTest_Echo\tTest_Echo ( text )\t1..1\t0xFF00");
    EXPECT_EQ(l[1], "101\tTest_Concat\tTest_Concat ( a ; b ; c )\t0..3\t0xFF00");
    EXPECT_EQ(l[2].substr(0, 15), "102\tTest_Count\t");
    EXPECT_EQ(l[4].substr(0, 14), "104\tTest_Fail\t");
}

TEST(FileMakerHost, InterfaceVersionsOutsideTheRangeDisableThePlugin) {
    for (const char* v : {"49", "256", "-1"}) {
        const auto p = host({"--interface-version", v, "--json", "plugins"});
        const auto j = nlohmann::json::parse(lines(p.out).at(0));
        EXPECT_EQ(j["init"], -1) << v;
        EXPECT_EQ(j["enabled"], false) << v;
        EXPECT_EQ(host({"--interface-version", v, "functions"}).out, "") << v;
        EXPECT_NE(host({"--interface-version", v, "eval", "Test_Count"}).status, 0) << v;
    }
    for (const char* v : {"50", "56", "255"}) {
        const auto p = host({"--interface-version", v, "--json", "plugins"});
        const auto j = nlohmann::json::parse(lines(p.out).at(0));
        EXPECT_EQ(j["init"], 56) << v;
        EXPECT_EQ(j["name"], "TestExt") << v;
        EXPECT_EQ(lines(host({"--interface-version", v, "functions"}).out).size(), 5u) << v;
    }
}

TEST(FileMakerHost, EvaluatesCallsTextNumbersAndVariablesInOneSession) {
    const auto r =
        host({"eval", "Test_Echo ( \"a \\\"q\\\" \\\\ b\" )", "Test_Concat ( 1 ; \"x\" & 2 ; 3.50 )", "Test_Count",
              "Test_Count ( )", "Test_Date ( 13 ; 1 ; 2023 )", "\"l1¶l2\" & ¶ & \"l3\"", "Test_Concat", "-12.70"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a \"q\" \\ b\n1|x2|3.5\n1\n2\n1/1/2024\nl1\nl2\nl3\n\n-12.7\n");
}

TEST(FileMakerHost, HoldsCallsToTheRegisteredParameterRange) {
    const auto r = host({"eval", "Test_Count ( 1 )", "Test_Echo", "Test_Concat ( 1 ; 2 ; 3 ; 4 )",
                         "Test_Echo ( Test_Count ; Test_Count )", "Test_Count"});
    EXPECT_EQ(r.status, 1);
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 5u) << r.out;
    EXPECT_EQ(l[0], "error: column 1: Test_Count takes 0 parameters, not 1");
    EXPECT_EQ(l[1], "error: column 1: Test_Echo takes 1 parameter, not 0");
    EXPECT_EQ(l[2], "error: column 1: Test_Concat takes 0 to 3 parameters, not 4");
    EXPECT_EQ(l[3], "error: column 1: Test_Echo takes 1 parameter, not 2");
    EXPECT_EQ(l[4], "1") << "a refused calculation must not reach the plug-in, not even its inner calls";
}

TEST(FileMakerHost, BadCalculationTextNamesItsColumn) {
    const auto r = host({"eval", "Test_Echo ( \"abc )", "Test_Echo ( 1 ; ", "Nope ( 1 )", "\"a\" & ", "1 )",
                         "Test_Echo ( 1 ) Test_Count", "Test_Fail", "$", "Test_Echo ( \"é\" ; ) "});
    EXPECT_EQ(r.status, 1);
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 9u) << r.out;
    EXPECT_EQ(l[0], "error: column 13: the text that starts here has no closing quote");
    EXPECT_EQ(l[1], "error: column 17: a value is missing at the end of the calculation");
    EXPECT_EQ(l[2], "error: column 1: there is no function named Nope");
    EXPECT_EQ(l[3], "error: column 7: a value is missing at the end of the calculation");
    EXPECT_EQ(l[4], "error: column 3: \")\" without a matching \"(\"");
    EXPECT_EQ(l[5].substr(0, 17), "error: column 17:");
    EXPECT_EQ(l[6], "error: column 1: Test_Fail answered error 7");
    EXPECT_EQ(l[7], "error: column 1: a variable needs a name after \"$\"");
    EXPECT_EQ(l[8], "error: column 19: a value is missing before \")\"") << "columns count characters, not bytes";
}

TEST(FileMakerHost, JsonGivesTypesAndIsoDates) {
    const auto r = host({"--json", "eval", "Test_Echo ( \"hi¶\" )", "Test_Count", "Test_Date ( 2 ; 30 ; 2024 )",
                         "Test_Echo ( \"\" )", "0.1", "Nope"});
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 6u) << r.out;
    EXPECT_EQ(nlohmann::json::parse(l[0]),
              (nlohmann::json{{"calc", "Test_Echo ( \"hi¶\" )"}, {"type", "text"}, {"value", "hi\r"}}));
    EXPECT_EQ(nlohmann::json::parse(l[1])["value"], 1);
    EXPECT_EQ(nlohmann::json::parse(l[1])["type"], "number");
    EXPECT_EQ(nlohmann::json::parse(l[2])["value"], "2024-03-01");
    EXPECT_EQ(nlohmann::json::parse(l[2])["type"], "date");
    EXPECT_EQ(nlohmann::json::parse(l[3])["type"], "empty");
    EXPECT_EQ(nlohmann::json::parse(l[4])["value"], 0.1);
    EXPECT_EQ(nlohmann::json::parse(l[5])["error"], "column 1: there is no function named Nope");
}

TEST(FileMakerHost, RunsScriptsWithVariablesAndComments) {
    const std::string file = testing::TempDir() + "fm_script.txt";
    std::ofstream(file) << "# a comment\n\nSet Variable [ $name ; Value: Test_Echo ( \"Ann\" ) ]\n"
                           "Test_Concat ( $NAME ; $unset )\r\nset variable [ $n ; Test_Count ]\n$n & \"!\"\n"
                           "Set Variable [ $bad ; Value: Test_Echo ( ]\n";
    const auto r = host({"run", file, "--trace"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "> Set Variable [ $name ; Value: Test_Echo ( \"Ann\" ) ]\n$name = Ann\n"
              "> Test_Concat ( $NAME ; $unset )\nAnn|\n"
              "> set variable [ $n ; Test_Count ]\n$n = 1\n"
              "> $n & \"!\"\n1!\n"
              "> Set Variable [ $bad ; Value: Test_Echo ( ]\n" +
                  file + ":7:41: error: a value is missing at the end of the calculation\n");
    std::remove(file.c_str());
}

TEST(FileMakerHost, PipeModeAnswersEachLineBeforeReadingTheNext) {
    const std::string exe = kHost;
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(in[1]);
        close(out[0]);
        execl(exe.c_str(), exe.c_str(), "--extensions", kExtensions.c_str(), "--json", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    FILE* reply = fdopen(out[0], "r");
    auto ask = [&](const std::string& line) {
        const std::string l = line + "\n";
        EXPECT_EQ(write(in[1], l.data(), l.size()), static_cast<ssize_t>(l.size()));
        char buf[1024] = {};
        EXPECT_NE(fgets(buf, sizeof buf, reply), nullptr) << "no answer to " << line;
        return nlohmann::json::parse(buf);
    };
    EXPECT_EQ(ask("Test_Count")["value"], 1);
    EXPECT_EQ(ask("Set Variable [ $x ; Value: Test_Count ]")["value"], 2);
    EXPECT_EQ(ask("$x & Test_Count")["value"], "23");
    EXPECT_TRUE(ask("Test_Echo (")["error"].is_string());
    close(in[1]);
    fclose(reply);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
}

TEST(FileMakerHost, NestedCallsRunTheirOwnFunctionsAndHugeInputIsAnErrorNotACrash) {
    const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
    const std::string big(100 * 1024, 'y');
    // Through standard input: one argument may not be that long.
    const auto r = host({}, "Test_Concat ( Test_Echo ( \"a\" ) ; \"b\" )\nTest_Echo ( Test_Count )\n" + deep +
                                "\nSet Variable [ $x ; Value: Length ( Test_Echo ( \"" + big + "\" ) ) ]\n");
    EXPECT_EQ(r.status, 1) << "an error status, not a signal";
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 4u) << r.out.substr(0, 400);
    EXPECT_EQ(l[0], "a|b");
    EXPECT_EQ(l[1], "1");
    EXPECT_EQ(l[2], "error: column 1001: the calculation nests deeper than 1000 levels");
    EXPECT_EQ(l[3], "$x = 102400");
}

TEST(FileMakerHost, PipeModeGathersAnIfOrLoopUpToItsEnd) {
    const auto r = host({},
                        "Set Variable [ $i ; Value: 0 ]\nLoop\nSet Variable [ $i ; Value: $i + 1 ]\n"
                        "Exit Loop If [ $i = 3 ]\nEnd Loop\n$i\nIf [ $i = 3 ]\nShow Custom Dialog [ \"T\" ; "
                        "\"three\" ]\nEnd If\nEnd If\n");
    // A step alone shows what it set; the steps of a block print only what they are asked to.
    EXPECT_EQ(r.out, "$i = 0\n3\nT: three\nerror: column 1: End If without an If\n");
    EXPECT_EQ(r.status, 1);
    const auto open = host({}, "Loop\nShow Custom Dialog [ \"never\" ]\n");
    EXPECT_EQ(open.out, "error: column 1: this Loop has no End Loop\n") << "a block left open at the end is reported";
    EXPECT_EQ(open.status, 1);
}

TEST(FileMakerHost, CtrlCStopsAnEndlessLoopAndNamesItsLine) {
    const std::string file = testing::TempDir() + "fm_endless.fmscript";
    std::ofstream(file)
        << "Show Custom Dialog [ \"started\" ]\nLoop\n  Set Variable [ $n ; Value: $n + 1 ]\nEnd Loop\n";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        execl(kHost.c_str(), kHost.c_str(), "--extensions", kExtensions.c_str(), "run", "--quiet", file.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* reply = fdopen(out[0], "r");
    char buf[4096] = {};
    ASSERT_NE(fgets(buf, sizeof buf, reply), nullptr);
    EXPECT_STREQ(buf, "started\n");
    kill(pid, SIGINT);
    std::string rest;
    while (fgets(buf, sizeof buf, reply)) rest += buf;
    fclose(reply);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the host ends by itself, not by the signal";
    EXPECT_EQ(WEXITSTATUS(status), 130);
    // Between steps the stop names the step; inside the Set Variable's calculation, its column.
    EXPECT_TRUE(rest.rfind(file + ":3:1: error: stopped by Ctrl-C on this step: Set Variable", 0) == 0 ||
                rest.rfind(file + ":4:1: error: stopped by Ctrl-C on this step: End Loop", 0) == 0 ||
                rest.rfind(file + ":2:1: error: stopped by Ctrl-C on this step: Loop", 0) == 0 ||
                (rest.rfind(file + ":3:", 0) == 0 && rest.find("error: stopped by Ctrl-C") != std::string::npos))
        << rest;
    std::remove(file.c_str());
}

// In-process: the registry follows the plug-in's registrations and shut-down.
TEST(PluginHost, ShutdownUnregistersAndBundleRefIsTheInstanceId) {
    fm_host::PluginHost h(56);
    std::string error;
    ASSERT_TRUE(h.loadBundle(kExtensions + "/TestExt.fmplugin", error)) << error;
    EXPECT_EQ(h.functions().size(), 5u);
    ASSERT_NE(h.find("test_echo"), nullptr) << "names compare without case";
    EXPECT_EQ(h.plugins().at(0).name, "TestExt") << "the name comes from the strings table through the instance ID";
    h.shutdown();
    EXPECT_TRUE(h.functions().empty());
    h.shutdown();  // a second shut-down sends nothing
    EXPECT_FALSE(h.loadBundle(kExtensions + "/Missing.fmplugin", error));
}

TEST(CalcParser, BuildsTheTreeFileMakerWouldRead) {
    using K = fm_host::Node::Kind;
    const auto n = fm_host::parseCalc("A ( \"x\\¶\" & ¶ ; -$v ; B ) & 2");
    ASSERT_EQ(n.kind, K::Concat);
    ASSERT_EQ(n.args.size(), 2u);
    const auto& call = n.args[0];
    EXPECT_EQ(call.kind, K::Call);
    ASSERT_EQ(call.args.size(), 3u);
    EXPECT_EQ(call.args[0].args[0].text, "x\xC2\xB6") << "\\¶ keeps the pilcrow itself";
    EXPECT_EQ(call.args[0].args[1].text, "\r");
    EXPECT_EQ(call.args[1].kind, K::Negate);
    EXPECT_EQ(call.args[2].kind, K::Call);
    EXPECT_FALSE(call.args[2].parenthesized);
    EXPECT_EQ(n.args[1].column, 29u);
    EXPECT_THROW(fm_host::parseCalc("   "), fm_host::CalcError);
    EXPECT_THROW(fm_host::parseCalc("1.2.3"), fm_host::CalcError);
    EXPECT_THROW(fm_host::parseCalc("/* open"), fm_host::CalcError);
}

}  // namespace
