// Session: result formatting, single calculations and the prompt's lines.
#include "Session.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "Builtins.h"
#include "Value.h"

namespace fm_host {

namespace {

const char* typeName(const fmx::Data& v) {
    if (v.GetAsText().GetSize() == 0) return "empty";
    switch (v.GetNativeType()) {
        case fmx::Data::kDTNumber:
        case fmx::Data::kDTBoolean:
            return "number";
        case fmx::Data::kDTDate:
            return "date";
        default:
            return "text";
    }
}

std::string dump(const nlohmann::json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

Session::Session(PluginHost& host, bool json, std::ostream& out, std::ostream* err)
    : host_(host), json_(json), out_(out), err_(err ? *err : out), eval_(host.lookup()) {
    eval_.setRecords(&records_);
    // The built-in functions' table is made now, with the session, rather than by its first
    // calculation that names a function.
    (void)builtins();
}

std::string Session::plainText(const fmx::Data& value) {
    std::string s = value.GetAsText().ToUTF8();
    for (char& c : s)
        if (c == '\r') c = '\n';
    return s;
}

std::string Session::jsonLine(const std::string& calc, const fmx::Data& value, const std::string& variable) {
    nlohmann::json j;
    j["calc"] = calc;
    if (!variable.empty()) j["variable"] = variable;
    const std::string type = typeName(value);
    j["type"] = type;
    if (type == "number") {
        const fmx::FixPt& n = value.GetAsNumber();
        const std::string text = n.AsString();
        if (text.find_first_not_of("-0123456789") == std::string::npos && text.size() < 19)
            j["value"] = n.AsLong64();
        else
            j["value"] = n.AsFloat();
    } else if (type == "date") {
        const fmx::DateTime& d = value.GetAsDate();
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.GetYear(), d.GetMonth(), d.GetDay());
        j["value"] = buf;
    } else {
        j["value"] = value.GetAsText().ToUTF8();
    }
    return dump(j);
}

std::string Session::jsonError(const std::string& calc, const std::string& error) {
    nlohmann::json j;
    j["calc"] = calc;
    j["error"] = error;
    return dump(j);
}

void Session::printValue(const Step& s, const fmx::Data& value, const std::string& variable) {
    if (quiet_ || (!variable.empty() && !showVariables_)) return;
    if (json_) {
        out_ << withTime(jsonLine(s.source, value, variable)) << "\n";
    } else {
        if (echo_) out_ << "> " << s.source << "\n";
        out_ << (variable.empty() ? "" : variable + " = ") << plainText(value) << "\n";
        if (explainErrors_ && variable.empty() && value.GetAsText().ToUTF8() == "!!ERROR!!") explainPluginError();
    }
    out_.flush();
}

// A plug-in function answers "!!ERROR!!" and keeps why: the prompt shows it.
void Session::explainPluginError() {
    const auto why = host_.lookup()("Torv_GetLastErrorText");
    if (!why || why->minArgs > 0) return;
    fmx::DataVect none;
    fmx::Data text;
    try {
        if (why->call(none, text) == 0 && text.GetAsText().GetSize() > 0) out_ << plainText(text) << "\n";
    } catch (...) {
        // the explanation is a courtesy: the error itself is already shown
    }
}

void Session::printError(const std::string& source, std::size_t line, const CalcError& e) {
    if (json_) {
        const std::string where = lineNumbers_ ? "line " + std::to_string(line) + ", " : "";
        out_ << withTime(jsonError(source, where + e.what())) << "\n";
        out_.flush();
        return;
    }
    if (echo_ && !quiet_) {
        out_ << "> " << source << "\n";
        out_.flush();
    }
    // In a script, file:line:column as compilers write it, so that an editor
    // can jump there.
    if (lineNumbers_)
        err_ << scriptName_ << ":" << line << ":" << e.column() << ": error: " << e.message() << "\n";
    else
        err_ << "error: " << e.what() << "\n";
    err_.flush();
}

void Session::printDialog(const std::string& title, const std::string& message) {
    if (json_) {
        nlohmann::json j;
        j["dialog"] = title;
        j["message"] = message;
        out_ << dump(j) << "\n";
    } else {
        std::string m = message;
        for (char& c : m)
            if (c == '\r') c = '\n';
        out_ << (title.empty() ? "" : title + ": ") << m << "\n";
    }
    out_.flush();
}

std::string Session::withTime(std::string line) const {
    if (!timings_ || line.empty() || line.back() != '}') return line;
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - lineStart_;
    char buf[48];
    std::snprintf(buf, sizeof buf, ",\"ms\":%.4f}", took.count());
    line.pop_back();
    return line + buf;
}

bool Session::evaluate(const std::string& calc) {
    lineStart_ = std::chrono::steady_clock::now();
    Step s;
    s.kind = Step::Kind::Calc;
    s.source = calc;
    s.line = 1;
    const bool wasEcho = echo_, wasNumbers = lineNumbers_;
    echo_ = false;
    lineNumbers_ = false;
    failed_ = false;
    try {
        s.calc = parseCalc(calc);
    } catch (const CalcError& e) {
        printError(calc, 1, e);
        echo_ = wasEcho;
        lineNumbers_ = wasNumbers;
        return false;
    }
    fmx::Data v;
    bool halt = false;
    const bool ok = this->calc(s, *s.calc, v, halt);
    if (ok) printValue(s, v, {});
    echo_ = wasEcho;
    lineNumbers_ = wasNumbers;
    return ok;
}

bool Session::runLine(const std::string& rawLine, bool echo) {
    lineStart_ = std::chrono::steady_clock::now();
    // The input may be several lines at once (a pasted script, a calculation
    // spanning lines); an If or a Loop left open waits for its end.
    Script script = parseScript(rawLine);
    const int change = blockDepthChange(script);
    if (!pending_.empty() || change > 0) {
        pending_ += rawLine + "\n";
        pendingDepth_ += change;
        if (pendingDepth_ > 0) return true;
        script = parseScript(pending_);  // the block whole, its steps matched across its lines
    }
    pending_.clear();
    pendingDepth_ = 0;
    echo_ = echo;
    lineNumbers_ = false;
    failed_ = false;
    stopped_ = false;
    clearStopRequest();  // a Ctrl-C at the prompt itself stops nothing
    // A step typed alone shows what it did; the steps of a block print only
    // what they are asked to (dialogs, bare calculations, errors).
    const bool wasShowing = showVariables_;
    std::size_t steps = 0;
    for (const auto& st : script.steps) steps += st.kind != Step::Kind::Nothing;
    if (steps > 1) showVariables_ = false;
    runScript(script, ".", 0);
    showVariables_ = wasShowing;
    return !failed_;
}

bool Session::finish() {
    if (pending_.empty()) return true;
    const std::string text = pending_;
    pending_.clear();
    pendingDepth_ = 0;
    failed_ = false;
    runScript(parseScript(text), ".", 0);
    return !failed_;
}

}  // namespace fm_host
