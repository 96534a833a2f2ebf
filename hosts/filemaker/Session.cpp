// Session: script lines, Set Variable, and result formatting.
#include "Session.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <cctype>
#include <regex>

namespace fm_host {

namespace {

std::string trim(const std::string& s) {
    const auto a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    const auto b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::size_t columnsIn(const std::string& utf8, std::size_t bytes) {
    std::size_t n = 0;
    for (std::size_t k = 0; k < bytes && k < utf8.size(); ++k)
        if ((static_cast<unsigned char>(utf8[k]) & 0xC0) != 0x80) ++n;
    return n;
}

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

bool Session::evaluateAt(const std::string& calc, std::size_t columnOffset, const std::string& variable, bool echo,
                         const std::string& echoText) {
    bool ok = true;
    std::string answer;
    try {
        const Node tree = parseCalc(calc, columnOffset);
        const fmx::Data value = eval_.evaluate(tree);
        if (!variable.empty()) eval_.setVariable(variable, value);
        if (json_)
            answer = jsonLine(calc, value, variable);
        else
            answer = (variable.empty() ? "" : variable + " = ") + plainText(value);
    } catch (const CalcError& e) {
        ok = false;
        answer = json_ ? jsonError(calc, e.what()) : std::string("error: ") + e.what();
    } catch (const std::exception& e) {
        ok = false;
        answer = json_ ? jsonError(calc, e.what()) : std::string("error: ") + e.what();
    }
    if (echo && !json_) out_ << "> " << echoText << "\n";
    out_ << answer << "\n";
    out_.flush();
    return ok;
}

bool Session::evaluate(const std::string& calc) {
    return evaluateAt(calc, 0, {}, false, calc);
}

bool Session::runLine(const std::string& rawLine, bool echo) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string t = trim(line);
    if (t.empty() || t[0] == '#') return true;
    // Only a line that begins with "set" can be a Set Variable step; the
    // patterns below cost more than a whole bridge round trip.
    const bool maybeStep = t.size() >= 3 && std::tolower(static_cast<unsigned char>(t[0])) == 's' &&
                           std::tolower(static_cast<unsigned char>(t[1])) == 'e' &&
                           std::tolower(static_cast<unsigned char>(t[2])) == 't';
    if (!maybeStep) return evaluateAt(t, columnsIn(line, line.find_first_not_of(" \t")), {}, echo, t);
    static const std::regex setVariable(R"(^\s*set\s+variable\s*\[\s*(\$\$?[^\s;\]]+)\s*;\s*(value\s*:)?\s*(.*)\]\s*$)",
                                        std::regex::icase);
    std::smatch m;
    if (std::regex_match(line, m, setVariable)) {
        const std::string calc = m[3].str();
        const std::size_t offset = columnsIn(line, static_cast<std::size_t>(m.position(3)));
        std::string trimmed = calc;
        while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.pop_back();
        return evaluateAt(trimmed, offset, m[1].str(), echo, t);
    }
    static const std::regex setVariableWord(R"(^\s*set\s+variable\b)", std::regex::icase);
    if (std::regex_search(line, setVariableWord)) {
        const std::string msg = "column 1: write Set Variable as: Set Variable [ $name ; Value: calculation ]";
        if (echo && !json_) out_ << "> " << t << "\n";
        out_ << (json_ ? jsonError(t, msg) : "error: " + msg) << "\n";
        out_.flush();
        return false;
    }
    const std::size_t lead = line.find_first_not_of(" \t");
    return evaluateAt(t, columnsIn(line, lead), {}, echo, t);
}

}  // namespace fm_host
