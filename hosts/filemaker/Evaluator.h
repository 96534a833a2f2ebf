// Evaluator: runs a parsed calculation. Built-in functions first, then the
// functions the plug-ins registered; variables ($ for the running script,
// $$ for the session), Let names, record fields and the script's Get values.
//
// Single-threaded, like the host. Not reentrant through plug-ins: a plug-in
// function is called with fully evaluated parameters.
#pragma once

#include <csignal>
#include <functional>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Calc.h"
#include "FMWrapper.h"

namespace fm_host {

class Records;

// What the evaluator needs of one registered function. A lookup answers a
// copy the caller owns, so an inner lookup made while an outer call is being
// evaluated can never change the outer call's function.
struct FunctionInfo {
    std::string name;
    fmx::int16 minArgs = 0, maxArgs = 0;  // maxArgs -1: no upper limit
    std::function<fmx::errcode(const fmx::DataVect&, fmx::Data&)> call;
};
using FunctionLookup = std::function<std::optional<FunctionInfo>(const std::string& name)>;

// Variables compare their names without case, as FileMaker's do ($Total and $total are one variable).
// Repetition 1 is kept under the name itself, repetition n under "name[n]".
using Variables = std::map<std::string, fmx::Data>;

// Set from a signal handler (Ctrl-C): a calculation stops at its next call or
// While iteration, a script before its next step. Whoever reports the stop clears it.
volatile std::sig_atomic_t& stopRequested();

// FileMaker's error number for a calculation that could not be parsed or
// evaluated (1201 too few parameters, 1206 an unclosed text, 102 a missing
// field, …; 1200 when nothing more exact applies).
int errorCodeOf(const CalcError& e);

// What Get ( … ) reads of the running script.
struct ScriptState {
    int lastError = 0;
    fmx::Data scriptResult;
    fmx::Data scriptParameter;
    std::string scriptName;
    bool errorCapture = false;  // Set Error Capture [ On ]
    bool allowAbort = true;     // Allow User Abort [ Off ] keeps Ctrl-C from stopping the script
};

class Evaluator {
public:
    explicit Evaluator(FunctionLookup lookup);

    // Checks every call, then evaluates. Throws CalcError (bad calls, a plug-in
    // function answering an error code or throwing).
    fmx::Data evaluate(const Node& calc);
    // Evaluates a calculation the caller has just checked (a script step checks
    // first, to tell a bad step from a failed one), so that a calculation run
    // many times is not checked again each time.
    fmx::Data evaluateChecked(const Node& calc);
    // Checks names and parameter counts only (what evaluate does first).
    void check(const Node& calc) const;

    // Repetition 1 is the variable itself ($x is $x[1]).
    void setVariable(const std::string& name, const fmx::Data& value, std::int64_t repetition = 1);
    fmx::Data variable(const std::string& name, std::int64_t repetition = 1) const;

    // The $ variables of the running script; the evaluator's own set when none is given.
    void setLocals(Variables* locals) { locals_ = locals ? locals : &ownLocals_; }
    Variables* locals() const { return locals_; }
    void setRecords(Records* records) { records_ = records; }
    Records* records() const { return records_; }
    ScriptState& state() { return state_; }

    bool isBuiltin(const std::string& name) const;

private:
    using Scope = std::vector<std::pair<std::string, fmx::Data>>;  // Let names, innermost last

    void check(const Node& n, std::vector<std::string>& names) const;
    void checkLet(const Node& n, std::vector<std::string>& names) const;
    fmx::Data eval(const Node& n);
    fmx::Data callBuiltin(const Node& n);
    fmx::Data callPlugin(const Node& n);
    fmx::Data let(const Node& n);
    void bind(const Node& defs, std::size_t updateFrom);
    fmx::Data whileLoop(const Node& n);
    fmx::Data setRecursion(const Node& n);
    fmx::Data evaluateText(const Node& n);
    fmx::Data getField(const Node& n);
    std::vector<fmx::Data> repetitions(const std::string& name) const;
    std::int64_t repetitionOf(const Node& var);
    Variables& varsFor(const std::string& key);
    fmx::Data get(const Node& n);
    fmx::Data binary(const Node& n);
    fmx::Data field(const Node& n) const;

    FunctionLookup lookup_;
    Variables globals_;
    Variables ownLocals_;
    Variables* locals_ = &ownLocals_;
    Records* records_ = nullptr;
    ScriptState state_;
    Scope scope_;
    mutable int fieldsMayBeMissing_ = 0;  // inside IsValid, whose answer a missing field is
    int depth_ = 0;                       // eval frames, across Evaluate's inner calculations
    int evaluationError_ = 0;             // the error of the last Evaluate, for EvaluationError
    std::int64_t maxTurns_ = 50000;       // a While's turns, as SetRecursion sets them
    bool turnsExceeded_ = false;          // a While ran out of turns, for SetRecursion
};

}  // namespace fm_host
