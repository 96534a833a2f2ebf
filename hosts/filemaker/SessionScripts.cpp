// Session: running script steps — control flow, records, Perform Script and
// the stop request.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <strings.h>

#include "Builtins.h"
#include "RecordsEdit.h"
#include "Session.h"
#include "Value.h"

namespace fm_host {

namespace {

// The flag the evaluator also watches, so Ctrl-C stops a long calculation too.
volatile std::sig_atomic_t& gStopRequested = stopRequested();

// Error codes Get ( LastError ) gives, FileMaker's own numbers.
constexpr int kUserCancelled = 1;
constexpr int kFileMissing = 100;
constexpr int kRecordMissing = 101;
constexpr int kCalculationError = 1200;
constexpr int kFieldMissing = 102;
constexpr int kCannotCreateFile = 800;

// FileMaker's name of a script: the file's name without its folder and ".fmscript".
std::string scriptNameOf(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    const std::string ext = ".fmscript";
    if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
        name.erase(name.size() - ext.size());
    return name;
}

// A folder opens as a stream too, and reads as nothing: it is refused.
std::string readScript(const std::string& path, bool& ok) {
    std::error_code ec;
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in) && !std::filesystem::is_directory(path, ec);
    std::ostringstream s;
    if (ok) s << in.rdbuf();
    return s.str();
}

// Exit Script's result as an exit status: a number (or a text that is one)
// 0..255 as it is, any other number 1, so that no failure count reads as
// success; anything else sets none.
std::optional<int> exitStatusOf(const fmx::Data& result) {
    const std::string text = value::utf8(result);
    const bool number = result.GetNativeType() == fmx::Data::kDTNumber ||
                        (!text.empty() && text.find_first_not_of("-0123456789.") == std::string::npos &&
                         text.find_first_of("0123456789") != std::string::npos);
    if (!number || text.empty()) return std::nullopt;
    const fmx::FixPt& n = result.GetAsNumber();
    const auto whole = n.AsLong64();
    if (n.AsString() == std::to_string(whole) && whole >= 0 && whole <= 255) return static_cast<int>(whole);
    return 1;
}

std::string folderOf(const std::string& path) {
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
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
        scriptName_ = path;
        lineNumbers_ = true;
        printError(path, 1, CalcError(1, "cannot read the script " + path));
        failed_ = true;
        return false;
    }
    return runScriptText(text, path, folderOf(path), echo);
}

bool Session::runScriptText(const std::string& text, const std::string& name, const std::string& folder, bool echo) {
    echo_ = echo;
    lineNumbers_ = true;
    failed_ = false;
    stopped_ = false;
    exitStatus_.reset();
    gStopRequested = 0;
    scriptName_ = name;
    eval_.state().scriptName = scriptNameOf(name);
    runScript(parseScript(text), folder, 0);
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
        result = eval_.evaluateChecked(n);
        return true;
    } catch (const CalcError& e) {
        printError(s.source, s.line, e);
        failed_ = true;
        eval_.state().lastError = errorCodeOf(e);
        result = value::empty();
        if (gStopRequested) {  // Ctrl-C stopped the calculation: the script stops here
            eval_.state().lastError = kUserCancelled;
            gStopRequested = 0;
            stopped_ = true;
            halt = true;
        }
        return false;
    }
}

// A step naming a field its table does not have: with error capture on,
// Get ( LastError ) is 102 and the script goes on, as in FileMaker; off, the
// error is printed and the script stops.
int Session::missingField(const Step& s, const std::string& table, const std::string& field, bool& halt) {
    if (eval_.state().errorCapture) return kFieldMissing;
    printError(s.source, s.line, CalcError(1, "the table " + table + " has no field named " + field));
    failed_ = true;
    halt = true;
    return kFieldMissing;
}

// The record steps; answers the error Get ( LastError ) gives after the step.
int Session::recordStep(const Step& s, bool& halt) {
    using K = Step::Kind;
    Table* t = s.kind == K::SetField && !s.table.empty() ? records_.table(s.table) : records_.current();
    if (!t) {
        printError(s.source, s.line,
                   CalcError(1, s.kind == K::SetField && !s.table.empty()
                                    ? "there is no table named " + s.table + " (load one with --records)"
                                    : "there are no records (load a table with --records)"));
        failed_ = true;
        halt = true;
        return kFieldMissing;
    }
    fmx::Data v;
    switch (s.kind) {
        case K::SetField: {
            const auto col = t->column(s.field);
            if (!col) return missingField(s, t->name, s.field, halt);
            if (!calc(s, *s.calc, v, halt)) return eval_.state().lastError;
            std::string text = plainText(v);
            for (char& c : text)
                if (c == '\n') c = '\r';  // fields keep returns as CR
            return records_edit::setField(*t, *col, text) ? 0 : kRecordMissing;
        }
        case K::NewRecord:
            records_edit::newRecord(*t);
            return 0;
        case K::DeleteRecord:
            return records_edit::deleteRecord(*t) ? 0 : kRecordMissing;
        case K::OmitRecord:
            return records_edit::omitRecord(*t) ? 0 : kRecordMissing;
        case K::ShowAll:
            records_edit::showAll(*t);
            return 0;
        case K::SortRecords: {
            std::vector<records_edit::SortKey> keys;
            for (const auto& [name, descending] : s.sortFields) {
                const auto sep = name.find("::");
                const std::string table = sep == std::string::npos ? t->name : name.substr(0, sep);
                const std::string field = sep == std::string::npos ? name : name.substr(sep + 2);
                const auto col = t->column(field);
                if (strcasecmp(table.c_str(), t->name.c_str()) != 0) {
                    if (eval_.state().errorCapture) return kFieldMissing;
                    printError(s.source, s.line,
                               CalcError(1, "the table " + t->name + " is the one loaded, not " + table +
                                                " (--table NAME names a file's table)"));
                    failed_ = true;
                    halt = true;
                    return kFieldMissing;
                }
                if (!col) return missingField(s, t->name, field, halt);
                keys.push_back({*col, descending});
            }
            records_edit::sortRecords(*t, keys);
            return 0;
        }
        case K::ExportRecords: {
            if (!calc(s, *s.calc, v, halt)) return eval_.state().lastError;
            try {
                records_edit::exportCsv(*t, value::utf8(v), s.fieldNames);
                return 0;
            } catch (const RecordsError& e) {
                if (!eval_.state().errorCapture) printError(s.source, s.line, CalcError(1, e.what()));
                return kCannotCreateFile;
            }
        }
        default:
            return 0;
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
            state.lastError = kUserCancelled;
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
                error = state.lastError;  // control steps leave Get ( LastError ) as it was
                break;
            case K::SetField:
            case K::NewRecord:
            case K::DeleteRecord:
            case K::OmitRecord:
            case K::ShowAll:
            case K::SortRecords:
            case K::ExportRecords:
                error = recordStep(s, halt);
                break;
            case K::SetErrorCapture:
                state.errorCapture = s.on;
                break;
            case K::AllowUserAbort:
                state.allowAbort = s.on;  // Ctrl-C still stops filemaker-host: a script never locks the user out
                break;
            case K::Calc:
                if (calc(s, *s.calc, v, halt))
                    printValue(s, v, {});
                else
                    error = state.lastError;
                break;
            case K::SetVariable: {
                fmx::Data rep = value::number(std::int64_t{1});
                if (s.repetition && !calc(s, *s.repetition, rep, halt)) {
                    error = state.lastError;
                    break;
                }
                const std::int64_t n = value::integer(rep);
                if (n < 1) {
                    printError(s.source, s.line,
                               CalcError(1, "the repetition of " + s.variable + " is a number from 1 up"));
                    failed_ = true;
                    error = kCalculationError;
                    break;
                }
                if (calc(s, *s.calc, v, halt)) {
                    eval_.setVariable(s.variable, v, n);
                    printValue(s, v, n == 1 ? s.variable : s.variable + "[" + std::to_string(n) + "]");
                } else {
                    error = state.lastError;
                }
                break;
            }
            case K::If: {
                // Try each branch in turn; a false one passes to the next.
                std::size_t at = pc;
                for (;;) {
                    const Step& branch = steps[at];
                    if (branch.kind == K::EndIf || branch.kind == K::Else) {
                        next = at + 1;
                        if (error == 0) error = state.lastError;
                        break;
                    }
                    if (branch.error) {
                        printError(branch.source, branch.line, *branch.error);
                        failed_ = true;
                        return Flow::Halt;
                    }
                    if (!calc(branch, *branch.calc, v, halt)) {
                        if (halt) return Flow::Halt;
                        error = state.lastError;
                    }
                    if (value::truth(v)) {
                        next = at + 1;
                        if (error == 0) error = state.lastError;
                        break;
                    }
                    at = branch.jump;
                }
                break;
            }
            case K::ElseIf:
            case K::Else:
                next = s.ifEnd + 1;  // reached after the branch above ran
                error = state.lastError;
                break;
            case K::EndLoop:
                next = s.jump + 1;
                error = state.lastError;
                break;
            case K::ExitLoopIf:
                if (!calc(s, *s.calc, v, halt)) {
                    error = state.lastError;
                    break;
                }
                error = state.lastError;  // a control step: Get ( LastError ) stays
                if (value::truth(v)) next = s.loopEnd + 1;
                break;
            case K::ExitScript:
                exitResult_ = value::empty();
                if (s.calc && !calc(s, *s.calc, exitResult_, halt)) break;
                state.lastError = 0;
                if (depth == 0 && lineNumbers_) exitStatus_ = exitStatusOf(exitResult_);
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
                if (s.byCalculation) {
                    if (!calc(s, *s.calc, v, halt)) {
                        error = state.lastError;
                        break;
                    }
                    const std::int64_t n = value::integer(v);
                    if (n < 1 || !records_.goTo(static_cast<std::size_t>(n))) error = kRecordMissing;
                    break;
                }
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
    std::string text = readScript(path, ok);
    if (!ok && !path.empty() && scriptNameOf(path) == std::filesystem::path(path).filename().string()) {
        // FileMaker names a script without a file extension: "merge" is merge.fmscript
        text = readScript(path + ".fmscript", ok);
        if (ok) path += ".fmscript";
    }
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
    state.scriptName = scriptNameOf(path);
    state.scriptResult = value::empty();
    exitResult_ = value::empty();
    const std::string callerName = scriptName_;
    scriptName_ = path;
    const Flow f = runScript(parseScript(text), folderOf(path), depth + 1);
    scriptName_ = callerName;
    eval_.setLocals(callerLocals);
    const fmx::Data result = f == Flow::Exit ? exitResult_ : value::empty();
    state = saved;
    state.scriptResult = result;
    state.lastError = 0;
    return f == Flow::Halt ? Flow::Halt : Flow::Next;
}

}  // namespace fm_host
