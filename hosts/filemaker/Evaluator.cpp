// Evaluator: names, parameter counts, operators, Let scopes and the calls.
#include "Evaluator.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cmath>

#include "Builtins.h"
#include "Records.h"
#include "Value.h"

namespace fm_host {

namespace {

std::string lowerAscii(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool same(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

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

const char* const kNotEqual = "\xE2\x89\xA0";
const char* const kLessEq = "\xE2\x89\xA4";
const char* const kGreaterEq = "\xE2\x89\xA5";

}  // namespace

Evaluator::Evaluator(FunctionLookup lookup) : lookup_(std::move(lookup)) {}

bool Evaluator::isBuiltin(const std::string& name) const {
    return findBuiltin(name) != nullptr;
}

void Evaluator::setVariable(const std::string& name, const fmx::Data& value) {
    const std::string key = lowerAscii(name);
    if (key.rfind("$$", 0) == 0)
        globals_[key] = value;
    else
        (*locals_)[key] = value;
}

fmx::Data Evaluator::variable(const std::string& name) const {
    const std::string key = lowerAscii(name);
    const Variables& vars = key.rfind("$$", 0) == 0 ? globals_ : *locals_;
    auto it = vars.find(key);
    return it != vars.end() ? it->second : value::empty();  // an unset variable is empty
}

void Evaluator::check(const Node& calc) const {
    std::vector<std::string> names;
    check(calc, names);
}

fmx::Data Evaluator::evaluate(const Node& calc) {
    check(calc);
    scope_.clear();
    return eval(calc);
}

void Evaluator::checkLet(const Node& n, std::vector<std::string>& names) const {
    checkCount(n, "Let", 2, 2);
    const std::size_t outer = names.size();
    const Node& defs = n.args[0];
    const std::vector<Node> single{defs};
    const std::vector<Node>& items = defs.kind == Node::Kind::Bracket ? defs.args : single;
    for (const Node& d : items) {
        if (d.kind != Node::Kind::Binary || d.op != "=" || !isLetTarget(d.args[0]))
            throw CalcError(d.column, "Let needs name = value, as in Let ( [ x = 1 ; y = x + 1 ] ; x + y )");
        check(d.args[1], names);
        if (d.args[0].kind == Node::Kind::Call) names.push_back(d.args[0].text);
    }
    check(n.args[1], names);
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
        std::any_of(names.begin(), names.end(), [&](const std::string& s) { return same(s, n.text); }))
        return;
    if (const Builtin* b = findBuiltin(n.text)) {
        checkCount(n, b->name, b->minArgs, b->maxArgs);
        if (same(b->name, "Let")) return checkLet(n, names);
        if (same(b->name, "Get")) {
            const Node& what = n.args[0];
            const bool bare = what.kind == Node::Kind::Call && !what.parenthesized && what.args.empty();
            const auto& known = getNames();
            if (!bare ||
                std::none_of(known.begin(), known.end(), [&](const GetName& g) { return same(g.name, what.text); }))
                throw CalcError(what.column, "Get does not know " + (bare ? what.text : std::string("this value")) +
                                                 "; it knows LastError, ScriptResult, FoundCount, RecordNumber, …");
            return;
        }
        if (same(b->name, "IsValid")) {
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

fmx::Data Evaluator::field(const Node& n) const {
    const Table* t = records_ ? records_->table(n.text) : nullptr;
    const auto col = t ? t->column(n.field) : std::nullopt;
    if (!t || !col) throw CalcError(n.column, "there is no field " + n.text + "::" + n.field);
    if (t->rows.empty()) return value::empty();
    const std::string& v = t->rows[t->current][*col];
    // A value that is a plain number reads as one, keeping its own text ("007").
    fmx::FixPt f;
    fmx::Data d;
    if (!v.empty() && v.find_first_of(" \t\r\n") == std::string::npos && f.AssignText(v))
        d.SetAsText(fmx::Text::FromUTF8(v), fmx::Locale(), fmx::Data::kDTNumber);
    else
        d.SetAsText(fmx::Text::FromUTF8(v), fmx::Locale());
    return d;
}

fmx::Data Evaluator::eval(const Node& n) {
    switch (n.kind) {
        case Node::Kind::Text:
            return value::textUtf8(n.text);
        case Node::Kind::Number:
            return value::numberFromDecimal(n.text);
        case Node::Kind::Variable:
            return variable(n.text);
        case Node::Kind::Field:
            return field(n);
        case Node::Kind::Concat: {
            std::u16string all;
            for (const auto& a : n.args) all += eval(a).GetAsText().View();
            return value::text(all);
        }
        case Node::Kind::Negate: {
            const fmx::Data v = eval(n.args.front());
            if (value::isEmpty(v)) return value::empty();
            fmx::FixPt f(v.GetAsNumber(), fmx::FixPt::kDefltFixedPrecision);
            f.Negate();
            return value::number(f);
        }
        case Node::Kind::Not:
            return value::boolean(!value::truth(eval(n.args.front())));
        case Node::Kind::Binary:
            return binary(n);
        case Node::Kind::Bracket:
            throw CalcError(n.column, "a \"[ … ]\" list is not a value");
        case Node::Kind::Call:
            break;
    }
    if (!n.parenthesized && n.args.empty())
        for (auto it = scope_.rbegin(); it != scope_.rend(); ++it)
            if (same(it->first, n.text)) return it->second;
    if (findBuiltin(n.text)) return callBuiltin(n);
    return callPlugin(n);
}

fmx::Data Evaluator::binary(const Node& n) {
    const std::string& op = n.op;
    if (op == "and" || op == "or") {  // FileMaker stops as soon as the answer is known
        const bool left = value::truth(eval(n.args[0]));
        if (op == "and" && !left) return value::boolean(false);
        if (op == "or" && left) return value::boolean(true);
        return value::boolean(value::truth(eval(n.args[1])));
    }
    const fmx::Data a = eval(n.args[0]);
    const fmx::Data b = eval(n.args[1]);
    if (op == "xor") return value::boolean(value::truth(a) != value::truth(b));
    if (op == "=") return value::boolean(value::compare(a, b) == 0);
    if (op == kNotEqual) return value::boolean(value::compare(a, b) != 0);
    if (op == "<") return value::boolean(value::compare(a, b) < 0);
    if (op == ">") return value::boolean(value::compare(a, b) > 0);
    if (op == kLessEq) return value::boolean(value::compare(a, b) <= 0);
    if (op == kGreaterEq) return value::boolean(value::compare(a, b) >= 0);

    const fmx::FixPt &x = a.GetAsNumber(), &y = b.GetAsNumber();
    fmx::FixPt r;
    if (op == "+" || op == "-") {
        if (op == "+")
            x.Add(y, r);
        else
            x.Subtract(y, r);
        // A date plus or minus days stays a date; a date minus a date is days.
        if (value::isDateLike(a) && !value::isDateLike(b)) {
            fmx::DateTime d;
            d.SetDaysSinceEpoch(r.AsLong64());
            if (d.GetDaysSinceEpoch() >= 1) return value::date(d);
        }
        return value::number(value::tidy(r, x, y));
    }
    if (op == "*") {
        x.Multiply(y, r);
        return value::number(value::tidy(r, x, y));
    }
    if (op == "/") {
        if (y == fmx::FixPt(0)) return value::textUtf8("?");  // FileMaker's answer to a division by zero
        return value::number(value::tidy(value::divide(x, y), x, y));
    }
    if (op == "^") {
        const double p = std::pow(x.AsFloat(), y.AsFloat());
        if (!std::isfinite(p)) return value::textUtf8("?");
        // Whole powers of whole numbers stay exact while they fit.
        if (p == std::floor(p) && std::fabs(p) < 9e15) {
            r.AssignInt64(static_cast<std::int64_t>(p));
        } else {
            r.AssignDouble(p);
        }
        return value::number(r);
    }
    throw CalcError(n.column, "unknown operator " + op);
}

fmx::Data Evaluator::let(const Node& n) {
    const std::size_t outer = scope_.size();
    const Node& defs = n.args[0];
    const std::vector<Node> single{defs};
    const std::vector<Node>& items = defs.kind == Node::Kind::Bracket ? defs.args : single;
    for (const Node& d : items) {
        fmx::Data v = eval(d.args[1]);
        if (d.args[0].kind == Node::Kind::Variable)
            setVariable(d.args[0].text, v);  // Let ( $x = … ) sets the script's variable
        else
            scope_.emplace_back(d.args[0].text, std::move(v));
    }
    fmx::Data result = eval(n.args[1]);
    scope_.resize(outer);
    return result;
}

fmx::Data Evaluator::get(const Node& n) {
    const std::string what = lowerAscii(n.args[0].text);
    if (what == "lasterror") return value::number(static_cast<std::int64_t>(state_.lastError));
    if (what == "scriptresult") return state_.scriptResult;
    if (what == "scriptparameter") return state_.scriptParameter;
    if (what == "scriptname") return value::textUtf8(state_.scriptName);
    if (what == "foundcount") return value::number(static_cast<std::int64_t>(records_ ? records_->foundCount() : 0));
    if (what == "recordnumber")
        return value::number(static_cast<std::int64_t>(records_ ? records_->recordNumber() : 0));
    fmx::DateTime now;
    now.Now();
    if (what == "currentdate") {
        fmx::DateTime d;
        d.SetDaysSinceEpoch(now.GetDaysSinceEpoch());
        return value::date(d);
    }
    if (what == "currenttime") {
        fmx::Data t;
        t.SetAsTime(now);
        return t;
    }
    if (what == "currenttimestamp") return value::timestamp(now);
    if (what == "currenttimeutcmilliseconds") {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        return value::number(static_cast<std::int64_t>(ms));
    }
    throw CalcError(n.args[0].column, "Get does not know " + n.args[0].text);
}

fmx::Data Evaluator::callBuiltin(const Node& n) {
    const Builtin* b = findBuiltin(n.text);
    const std::string name = lowerAscii(b->name);
    if (name == "let") return let(n);
    if (name == "get") return get(n);
    if (name == "if") {
        if (value::truth(eval(n.args[0]))) return eval(n.args[1]);
        return n.args.size() > 2 ? eval(n.args[2]) : value::empty();
    }
    if (name == "case") {  // test1 ; result1 ; test2 ; result2 ; … [ ; default ]
        std::size_t i = 0;
        for (; i + 1 < n.args.size(); i += 2)
            if (value::truth(eval(n.args[i]))) return eval(n.args[i + 1]);
        return i < n.args.size() ? eval(n.args[i]) : value::empty();
    }
    if (name == "choose") {  // zero-based
        const fmx::Data which = eval(n.args[0]);
        const std::int64_t k = value::integer(which);
        if (value::isEmpty(which) || k < 0 || k + 1 >= static_cast<std::int64_t>(n.args.size())) return value::empty();
        return eval(n.args[static_cast<std::size_t>(k + 1)]);
    }
    if (name == "isvalid") {
        try {
            const fmx::Data v = eval(n.args[0]);
            return value::boolean(v.GetAsText() != fmx::Text::FromUTF8("?"));
        } catch (const CalcError&) {
            return value::boolean(false);
        }
    }
    BuiltinArgs args;
    for (const auto& a : n.args) {
        if (a.kind == Node::Kind::Bracket) {
            std::vector<fmx::Data> items;
            for (const auto& item : a.args) items.push_back(eval(item));
            args.values.push_back(items.empty() ? value::empty() : items.front());
            args.lists.push_back(std::move(items));
        } else {
            args.values.push_back(eval(a));
            args.lists.emplace_back();
        }
    }
    try {
        return b->fn(args);
    } catch (const BuiltinFailure& f) {
        throw CalcError(n.column, b->name + ": " + f.message);
    }
}

fmx::Data Evaluator::callPlugin(const Node& n) {
    const auto f = lookup_(n.text);
    if (!f) throw CalcError(n.column, "there is no function named " + n.text);
    fmx::DataVect parms;
    for (const auto& a : n.args) parms.PushBack(eval(a));
    fmx::Data d;
    fmx::errcode rc = 0;
    try {
        rc = f->call(parms, d);
    } catch (const std::exception& e) {
        throw CalcError(n.column, f->name + " failed: " + e.what());
    } catch (...) {
        throw CalcError(n.column, f->name + " failed with an unknown exception");
    }
    if (rc != 0) throw CalcError(n.column, f->name + " answered error " + std::to_string(rc));
    return d;
}

}  // namespace fm_host
