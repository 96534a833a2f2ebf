// Session: running script steps — control flow, records, Perform Script and
// the stop request.
#include <csignal>
#include <fstream>
#include <sstream>

#include "Builtins.h"
#include "Session.h"
#include "Value.h"

namespace fm_host {

namespace {

volatile std::sig_atomic_t gStopRequested = 0;

// Error codes Get ( LastError ) gives, FileMaker's own numbers.
constexpr int kFileMissing = 100;
constexpr int kRecordMissing = 101;
constexpr int kCalculationError = 1200;

std::string readScript(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::ostringstream s;
    if (ok) s << in.rdbuf();
    return s.str();
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

void Session::requestStop() {
    gStopRequested = 1;
}

void Session::clearStopRequest() {
    gStopRequested = 0;
}

bool Session::runScriptFile(const std::string& path, bool echo) {
    bool ok = false;
    const std::string text = readScript(path, ok);
    if (!ok) {
        printError(path, 0, CalcError(1, "cannot read the script " + path));
        return false;
    }
    echo_ = echo;
    lineNumbers_ = true;
    failed_ = false;
    stopped_ = false;
    gStopRequested = 0;
    eval_.state().scriptName = path.substr(path.find_last_of('/') + 1);
    runScript(parseScript(text), folderOf(path), 0);
    return !failed_;
}

Session::Flow Session::runScript(const Script& script, const std::string& folder, int depth) {
    if (script.structureError) {
        printError(script.structureError->source, script.structureError->line, *script.structureError->error);
        failed_ = true;
        return Flow::Halt;
    }
    return runSteps(script.steps, folder, depth);
}

bool Session::calc(const Step& s, const Node& n, fmx::Data& result, bool& halt) {
    try {
        eval_.check(n);
    } catch (const CalcError& e) {
        printError(s.source, s.line, e);
        failed_ = true;
        halt = true;
        return false;
    }
    try {
        result = eval_.evaluate(n);
        return true;
    } catch (const CalcError& e) {
        printError(s.source, s.line, e);
        failed_ = true;
        eval_.state().lastError = kCalculationError;
        result = value::empty();
        return false;
    }
}

Session::Flow Session::runSteps(const std::vector<Step>& steps, const std::string& folder, int depth) {
    using K = Step::Kind;
    ScriptState& state = eval_.state();
    std::size_t pc = 0;
    while (pc < steps.size()) {
        const Step& s = steps[pc];
        if (gStopRequested) {
            gStopRequested = 0;
            stopped_ = true;
            failed_ = true;
            printError(s.source, s.line, CalcError(1, "stopped by Ctrl-C on this step: " + s.source));
            return Flow::Halt;
        }
        if (s.error) {
            printError(s.source, s.line, *s.error);
            failed_ = true;
            return Flow::Halt;
        }
        int error = 0;  // what Get ( LastError ) answers after this step
        bool halt = false;
        fmx::Data v;
        std::size_t next = pc + 1;
        switch (s.kind) {
            case K::Nothing:
            case K::EndIf:
            case K::Loop:
                break;
            case K::Calc:
                if (calc(s, *s.calc, v, halt))
                    printValue(s, v, {});
                else
                    error = state.lastError;
                break;
            case K::SetVariable:
                if (calc(s, *s.calc, v, halt)) {
                    eval_.setVariable(s.variable, v);
                    printValue(s, v, s.variable);
                } else {
                    error = state.lastError;
                }
                break;
            case K::If: {
                // Try each branch in turn; a false one passes to the next.
                std::size_t at = pc;
                for (;;) {
                    const Step& branch = steps[at];
                    if (branch.kind == K::EndIf || branch.kind == K::Else) {
                        next = at + 1;
                        break;
                    }
                    if (branch.error) {
                        printError(branch.source, branch.line, *branch.error);
                        failed_ = true;
                        return Flow::Halt;
                    }
                    if (!calc(branch, *branch.calc, v, halt) && halt) return Flow::Halt;
                    if (value::truth(v)) {
                        next = at + 1;
                        break;
                    }
                    at = branch.jump;
                }
                break;
            }
            case K::ElseIf:
            case K::Else:
                next = s.ifEnd + 1;  // reached after the branch above ran
                break;
            case K::EndLoop:
                next = s.jump + 1;
                break;
            case K::ExitLoopIf:
                if (!calc(s, *s.calc, v, halt)) break;
                if (value::truth(v)) next = s.loopEnd + 1;
                break;
            case K::ExitScript:
                exitResult_ = value::empty();
                if (s.calc && !calc(s, *s.calc, exitResult_, halt)) break;
                state.lastError = 0;
                return Flow::Exit;
            case K::ShowDialog: {
                fmx::Data title = value::empty();
                if (s.extra && !calc(s, *s.extra, title, halt)) break;
                if (!calc(s, *s.calc, v, halt)) break;
                printDialog(value::utf8(title), value::utf8(v));
                noteMessageChoice(1);  // the dialog is printed, as if its first button were pressed
                break;
            }
            case K::PerformScript: {
                const Flow f = performScript(s, folder, depth);
                if (f == Flow::Halt) return f;
                error = state.lastError;
                break;
            }
            case K::GoToRecord:
                if (!records_.go(s.move)) {
                    // With no records at all there is no next one either: the loop ends.
                    if (s.move == Records::Move::Next && s.exitAfterLast && s.loopEnd != Step::kNone)
                        next = s.loopEnd + 1;
                    else
                        error = kRecordMissing;
                }
                break;
        }
        if (halt) return Flow::Halt;
        state.lastError = error;
        pc = next;
    }
    return Flow::Next;
}

Session::Flow Session::performScript(const Step& s, const std::string& folder, int depth) {
    ScriptState& state = eval_.state();
    bool halt = false;
    fmx::Data file, parameter = value::empty();
    if (!calc(s, *s.extra, file, halt)) return halt ? Flow::Halt : Flow::Next;
    if (s.calc && !calc(s, *s.calc, parameter, halt)) return halt ? Flow::Halt : Flow::Next;
    if (depth + 1 >= kMaxScriptDepth) {
        printError(s.source, s.line,
                   CalcError(1, "Perform Script nests deeper than " + std::to_string(kMaxScriptDepth) + " scripts"));
        failed_ = true;
        return Flow::Halt;
    }
    std::string path = value::utf8(file);
    if (!path.empty() && path[0] != '/') path = folder + "/" + path;
    bool ok = false;
    const std::string text = readScript(path, ok);
    if (!ok || path.empty()) {
        printError(s.source, s.line, CalcError(1, "Perform Script cannot read the script " + path));
        failed_ = true;
        state.lastError = kFileMissing;
        return Flow::Next;
    }
    // The script gets variables of its own; $$variables and records are shared.
    Variables locals;
    Variables* callerLocals = eval_.locals();
    const ScriptState saved = state;
    eval_.setLocals(&locals);
    state.scriptParameter = parameter;
    state.scriptName = path.substr(path.find_last_of('/') + 1);
    state.scriptResult = value::empty();
    exitResult_ = value::empty();
    const Flow f = runScript(parseScript(text), folderOf(path), depth + 1);
    eval_.setLocals(callerLocals);
    const fmx::Data result = f == Flow::Exit ? exitResult_ : value::empty();
    state = saved;
    state.scriptResult = result;
    state.lastError = 0;
    return f == Flow::Halt ? Flow::Halt : Flow::Next;
}

}  // namespace fm_host
