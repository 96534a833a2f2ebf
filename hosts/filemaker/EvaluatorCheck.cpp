// Checking a calculation before it runs: names, parameter counts, Let and
// While definitions, the fields named; and FileMaker's error numbers for
// the faults found.
#include <algorithm>

#include "Builtins.h"
#include "CalcNames.h"
#include "Evaluator.h"
#include "Records.h"

namespace fm_host {

namespace {

std::string plural(int n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string rangeText(int minArgs, int maxArgs) {
    if (maxArgs < 0) return "at least " + plural(minArgs, "parameter");
    if (minArgs == maxArgs) return plural(minArgs, "parameter");
    return std::to_string(minArgs) + " to " + plural(maxArgs, "parameter");
}

void checkCount(const Node& n, const std::string& name, int minArgs, int maxArgs) {
    const int count = static_cast<int>(n.args.size());
    if (count < minArgs || (maxArgs >= 0 && count > maxArgs))
        throw CalcError(n.column, name + " takes " + rangeText(minArgs, maxArgs) + ", not " + std::to_string(count));
}

// A Let name: a bare name, or a variable.
bool isLetTarget(const Node& n) {
    return (n.kind == Node::Kind::Call && !n.parenthesized && n.args.empty()) || n.kind == Node::Kind::Variable;
}

}  // namespace

int errorCodeOf(const CalcError& e) {
    const std::string& m = e.message();
    auto has = [&](const char* what) { return m.find(what) != std::string::npos; };
    if (has(" takes ")) {
        // "<name> takes 2 parameters, not 1"
        const auto notAt = m.rfind(", not ");
        const auto takes = m.find(" takes ");
        const std::string range = m.substr(takes + 7);
        if (notAt != std::string::npos) {
            const long given = std::strtol(m.c_str() + notAt + 6, nullptr, 10);
            const long least = std::strtol(range.c_str() + (range.rfind("at least ", 0) == 0 ? 9 : 0), nullptr, 10);
            return given < least ? 1201 : 1202;
        }
    }
    if (has("comment that starts here")) return 1205;
    if (has("has no closing quote")) return 1206;
    if (has("without a matching") || has("expected \")\"") || has("or \")\" in the parameters")) return 1207;
    if (has("there is no function named")) return 1208;
    if (has("there is no field") || has("there is no table") || has("has no field named")) return 102;
    if (has("the calculation is empty") || has("at the end of the calculation")) return 1203;
    if (has("a value is missing")) return 1204;
    if (has("expected an operator")) return 1212;
    if (has("Get does not know")) return 1215;
    if (has("list is not")) return 1211;
    return 1200;
}

void Evaluator::check(const Node& calc) const {
    std::vector<std::string> names;
    check(calc, names);
}

void Evaluator::checkLet(const Node& n, std::vector<std::string>& names) const {
    const bool isWhile = sameName(n.text, "While");
    checkCount(n, isWhile ? "While" : "Let", isWhile ? 4 : 2, isWhile ? 4 : 2);
    const std::size_t outer = names.size();
    for (std::size_t k = 0; k < n.args.size(); ++k) {
        if (k == 0 || (isWhile && k == 2)) {
            std::vector<Node> single;
            for (const Node& d : letDefinitions(n.args[k], single)) {
                if (d.kind != Node::Kind::Binary || d.op != "=" || d.args.size() != 2 || !isLetTarget(d.args[0]))
                    throw CalcError(d.column,
                                    isWhile ? "While needs name = value, as in While ( [ i = 0 ] ; i < 3 ; "
                                              "[ i = i + 1 ] ; i )"
                                            : "Let needs name = value, as in Let ( [ x = 1 ; y = x + 1 ] ; x + y )");
                // A While's logic may use the names it defines before they are defined.
                if (isWhile && d.args[0].kind == Node::Kind::Call) names.push_back(d.args[0].text);
                check(d.args[1], names);
                if (d.args[0].kind == Node::Kind::Call) names.push_back(d.args[0].text);
            }
        } else {
            check(n.args[k], names);
        }
    }
    names.resize(outer);
}

void Evaluator::check(const Node& n, std::vector<std::string>& names) const {
    switch (n.kind) {
        case Node::Kind::Bracket:
            throw CalcError(n.column, "a \"[ … ]\" list is not a parameter this function takes");
        case Node::Kind::Field:
            if (fieldsMayBeMissing_ > 0) return;
            if (!records_ || records_->empty())
                throw CalcError(n.column, "there is no table named " + n.text + " (load one with --records)");
            if (!records_->table(n.text)) {
                std::string loaded;
                for (const auto& t : records_->names()) loaded += (loaded.empty() ? "" : ", ") + t;
                throw CalcError(n.column, "there is no table named " + n.text + "; the tables loaded are " + loaded +
                                              " (--table NAME names a file's table)");
            }
            if (!records_->table(n.text)->column(n.field))
                throw CalcError(n.column, "the table " + n.text + " has no field named " + n.field);
            return;
        case Node::Kind::Call:
            break;
        default:
            for (const auto& a : n.args) check(a, names);
            return;
    }
    // A bare name bound by an enclosing Let.
    if (!n.parenthesized && n.args.empty() &&
        std::any_of(names.begin(), names.end(), [&](const std::string& s) { return sameName(s, n.text); }))
        return;
    if (const Builtin* b = findBuiltin(n.text)) {
        checkCount(n, b->name, b->minArgs, b->maxArgs);
        if (sameName(b->name, "Let") || sameName(b->name, "While")) return checkLet(n, names);
        if (sameName(b->name, "Get")) {
            const Node& what = n.args[0];
            const bool bare = what.kind == Node::Kind::Call && !what.parenthesized && what.args.empty();
            const auto& known = getNames();
            if (!bare ||
                std::none_of(known.begin(), known.end(), [&](const GetName& g) { return sameName(g.name, what.text); }))
                throw CalcError(what.column, "Get does not know " + (bare ? what.text : std::string("this value")) +
                                                 "; it knows LastError, ScriptResult, FoundCount, RecordNumber, …");
            return;
        }
        if (sameName(b->name, "IsValid")) {
            ++fieldsMayBeMissing_;
            try {
                check(n.args[0], names);
            } catch (...) {
                --fieldsMayBeMissing_;
                throw;
            }
            --fieldsMayBeMissing_;
            return;
        }
        for (std::size_t i = 0; i < n.args.size(); ++i) {
            const Node& a = n.args[i];
            if (a.kind == Node::Kind::Bracket) {
                if (b->bracketFrom < 0 || static_cast<int>(i) < b->bracketFrom)
                    throw CalcError(a.column, "a \"[ … ]\" list is not a parameter " + b->name + " takes here");
                for (const auto& item : a.args) check(item, names);
            } else {
                check(a, names);
            }
        }
        return;
    }
    const auto f = lookup_(n.text);
    if (!f) throw CalcError(n.column, "there is no function named " + n.text);
    checkCount(n, f->name, f->minArgs, f->maxArgs);
    for (const auto& a : n.args) check(a, names);
}

}  // namespace fm_host
