// Session: one host session — calculations and script steps in, results,
// dialogs and errors out, as plain text or one JSON object a line. Holds the
// session's $$variables, the loaded records and the Get ( … ) state.
//
// Single-threaded. requestStop() may be called from a signal handler: the
// running script stops before its next step and says on which line it was.
#pragma once

#include <chrono>
#include <csignal>
#include <optional>
#include <ostream>
#include <string>

#include "Evaluator.h"
#include "PluginHost.h"
#include "Records.h"
#include "Script.h"

namespace fm_host {

inline constexpr int kMaxScriptDepth = 100;  // Perform Script inside Perform Script …

class Session {
public:
    // Results go to `out`; errors in plain text to `err` (the same stream
    // when not given). With json, errors are objects in `out`, one a line,
    // as every answer of the pipe protocol is.
    Session(PluginHost& host, bool json, std::ostream& out, std::ostream* err = nullptr);

    // Results of calculations and Set Variable are not printed (dialogs and errors still are).
    void setQuiet(bool quiet) { quiet_ = quiet; }
    // Whether Set Variable prints "$x = value" (bare calculations print their results either way).
    void setShowVariables(bool show) { showVariables_ = show; }
    // Under a plug-in function's "!!ERROR!!", also print its Torv_GetLastErrorText (the prompt).
    void setExplainErrors(bool explain) { explainErrors_ = explain; }
    // With json: every answer also says, as "ms", how long its line took here, plug-in calls
    // included (what a caller would time, without the pipe to this program).
    void setTimings(bool timings) { timings_ = timings; }
    Records& records() { return records_; }
    Evaluator& evaluator() { return eval_; }

    // One calculation; prints its result (or its error) and flushes.
    // Returns false when it could not be evaluated.
    bool evaluate(const std::string& calc);
    // One line of the prompt or of standard input: a step or a calculation.
    // An If or a Loop gathers the lines up to its End If / End Loop and then
    // runs them as one script. Returns false when something failed.
    bool runLine(const std::string& line, bool echo);
    // True while the prompt is gathering the lines of an If or a Loop.
    bool gathering() const { return !pending_.empty(); }
    // Drops the lines gathered so far (Ctrl-C at the prompt).
    void discardPending() {
        pending_.clear();
        pendingDepth_ = 0;
    }
    // At the end of the input: runs what was being gathered, which reports
    // the block left open. False when that failed.
    bool finish();
    // Runs a script file: each step echoed ("> step") with its result unless
    // quiet. Returns false when a step failed or the script was stopped.
    bool runScriptFile(const std::string& path, bool echo);
    // The same for a script already read; `name` is what errors call it and
    // `folder` where Perform Script finds the scripts it names.
    bool runScriptText(const std::string& text, const std::string& name, const std::string& folder, bool echo);
    bool stopped() const { return stopped_; }
    // The number the top-level script gave in Exit Script, if it gave one:
    // the program's exit status (0..255; any other number is 1).
    std::optional<int> exitStatus() const { return exitStatus_; }

    static void requestStop();
    static void clearStopRequest();

    // The text form of a value: dates as M/D/YYYY, carriage returns as line breaks.
    static std::string plainText(const fmx::Data& value);
    // {"calc":…, "type":"text"|"number"|"date"|"empty", "value":…}
    static std::string jsonLine(const std::string& calc, const fmx::Data& value, const std::string& variable = {});
    static std::string jsonError(const std::string& calc, const std::string& error);

private:
    enum class Flow { Next, Exit, Halt };
    Flow runScript(const Script& script, const std::string& folder, int depth);
    Flow runSteps(const std::vector<Step>& steps, const std::string& folder, int depth);
    Flow performScript(const Step& s, const std::string& folder, int depth);
    // Evaluates a step's calculation; false (error printed) when it failed.
    // A calculation that cannot be checked (unknown name, parameter count)
    // sets `halt`: the script stops.
    bool calc(const Step& s, const Node& n, fmx::Data& result, bool& halt);
    int recordStep(const Step& s, bool& halt);
    int missingField(const Step& s, const std::string& table, const std::string& field, bool& halt);
    // A JSON answer with "ms" added when timings are asked for.
    std::string withTime(std::string line) const;
    void printValue(const Step& s, const fmx::Data& value, const std::string& variable);
    void printError(const std::string& source, std::size_t line, const CalcError& e);
    void printDialog(const std::string& title, const std::string& message);
    void explainPluginError();

    PluginHost& host_;
    bool json_;
    std::ostream& out_;
    std::ostream& err_;
    std::string scriptName_;  // the running script's file, for error lines
    std::optional<int> exitStatus_;
    Evaluator eval_;
    Records records_;
    bool quiet_ = false;
    bool showVariables_ = true;
    bool explainErrors_ = false;
    bool timings_ = false;
    std::chrono::steady_clock::time_point lineStart_{};
    bool echo_ = false;
    bool lineNumbers_ = false;
    bool failed_ = false;
    bool stopped_ = false;
    fmx::Data exitResult_;
    std::string pending_;
    int pendingDepth_ = 0;
};

}  // namespace fm_host
