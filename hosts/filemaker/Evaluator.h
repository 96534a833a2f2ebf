// Evaluator: runs a parsed calculation. Built-in functions first, then the
// functions the plug-ins registered; variables ($ for the running script,
// $$ for the session), Let names, record fields and the script's Get values.
//
// Single-threaded, like the host. Not reentrant through plug-ins: a plug-in
// function is called with fully evaluated parameters.
#pragma once

#include <functional>
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
using Variables = std::map<std::string, fmx::Data>;

// What Get ( … ) reads of the running script.
struct ScriptState {
    int lastError = 0;
    fmx::Data scriptResult;
    fmx::Data scriptParameter;
    std::string scriptName;
};

class Evaluator {
public:
    explicit Evaluator(FunctionLookup lookup);

    // Checks every call, then evaluates. Throws CalcError (bad calls, a plug-in
    // function answering an error code or throwing).
    fmx::Data evaluate(const Node& calc);
    // Checks names and parameter counts only (what evaluate does first).
    void check(const Node& calc) const;

    void setVariable(const std::string& name, const fmx::Data& value);
    fmx::Data variable(const std::string& name) const;

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
};

}  // namespace fm_host
