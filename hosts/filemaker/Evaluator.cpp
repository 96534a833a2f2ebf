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

namespace {

std::string repetitionKey(const std::string& name, std::int64_t repetition) {
    const std::string key = lowerAscii(name);
    return repetition == 1 ? key : key + "[" + std::to_string(repetition) + "]";
}

}  // namespace

volatile std::sig_atomic_t& stopRequested() {
    static volatile std::sig_atomic_t flag = 0;
    return flag;
}

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

Variables& Evaluator::varsFor(const std::string& key) {
    return key.rfind("$$", 0) == 0 ? globals_ : *locals_;
}

void Evaluator::setVariable(const std::string& name, const fmx::Data& value, std::int64_t repetition) {
    const std::string key = repetitionKey(name, repetition);
    varsFor(key)[key] = value;
}

fmx::Data Evaluator::variable(const std::string& name, std::int64_t repetition) const {
    const std::string key = repetitionKey(name, repetition);
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
    return evaluateChecked(calc);
}

fmx::Data Evaluator::evaluateChecked(const Node& calc) {
    scope_.clear();
    depth_ = 0;
    maxTurns_ = 50000;
    turnsExceeded_ = false;
    return eval(calc);
}

namespace {

// The definitions of Let or While: "name = value" or "[ name = value ; … ]".
const std::vector<Node>& definitions(const Node& defs, std::vector<Node>& single) {
    if (defs.kind == Node::Kind::Bracket) return defs.args;
    single.assign(1, defs);
    return single;
}

}  // namespace

void Evaluator::checkLet(const Node& n, std::vector<std::string>& names) const {
    const bool isWhile = same(n.text, "While");
    checkCount(n, isWhile ? "While" : "Let", isWhile ? 4 : 2, isWhile ? 4 : 2);
    const std::size_t outer = names.size();
    for (std::size_t k = 0; k < n.args.size(); ++k) {
        if (k == 0 || (isWhile && k == 2)) {
            std::vector<Node> single;
            for (const Node& d : definitions(n.args[k], single)) {
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
        std::any_of(names.begin(), names.end(), [&](const std::string& s) { return same(s, n.text); }))
        return;
    if (const Builtin* b = findBuiltin(n.text)) {
        checkCount(n, b->name, b->minArgs, b->maxArgs);
        if (same(b->name, "Let") || same(b->name, "While")) return checkLet(n, names);
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

namespace {

// Counts the frames of eval in use; Evaluate's inner calculations add to the
// outer one's, so the stack stays bounded however they are combined.
struct Frame {
    Frame(int& depth, std::size_t column) : depth_(depth) {
        if (++depth_ > kMaxEvalDepth) {
            --depth_;
            throw CalcError(column, "the calculation, with the ones Evaluate runs, nests deeper than " +
                                        std::to_string(kMaxEvalDepth) + " levels");
        }
        if (stopRequested()) {
            --depth_;
            throw CalcError(column, "stopped by Ctrl-C");
        }
    }
    ~Frame() { --depth_; }
    // As deep as one calculation may nest: Evaluate adds no stack beyond what one calculation may use.
    static constexpr int kMaxEvalDepth = kMaxCalcDepth;
    int& depth_;
};

// Text longer than this (in UTF-16 units) is refused rather than built.
constexpr std::size_t kMaxTextUnits = std::size_t{1} << 28;

}  // namespace

std::int64_t Evaluator::repetitionOf(const Node& var) {
    if (var.args.empty()) return 1;
    const fmx::Data r = eval(var.args[0]);
    const std::int64_t k = value::integer(r);
    if (value::isEmpty(r) || k < 1)
        throw CalcError(var.args[0].column, "the repetition of " + var.text + " is a number from 1 up");
    return k;
}

fmx::Data Evaluator::eval(const Node& n) {
    const Frame frame(depth_, n.column);
    switch (n.kind) {
        case Node::Kind::Text:
            return value::textUtf8(n.text);
        case Node::Kind::Number:
            return value::numberFromDecimal(n.text);
        case Node::Kind::Variable:
            return variable(n.text, repetitionOf(n));
        case Node::Kind::Field:
            return field(n);
        case Node::Kind::Concat: {
            std::u16string all;
            for (const auto& a : n.args) {
                const fmx::Data v = eval(a);
                const auto part = v.GetAsText().View();
                if (all.size() + part.size() > kMaxTextUnits)
                    throw CalcError(a.column,
                                    "the text would be longer than " + std::to_string(kMaxTextUnits) + " characters");
                all += part;
            }
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

namespace {

// One operator of a run, on two values.
fmx::Data apply(const std::string& op, const fmx::Data& a, const fmx::Data& b, std::size_t column) {
    if (op == "xor") return value::boolean(value::truth(a) != value::truth(b));
    if (op == "=") return value::boolean(value::compare(a, b) == 0);
    if (op == kNotEqual) return value::boolean(value::compare(a, b) != 0);
    if (op == "<") return value::boolean(value::compare(a, b) < 0);
    if (op == ">") return value::boolean(value::compare(a, b) > 0);
    if (op == kLessEq) return value::boolean(value::compare(a, b) <= 0);
    if (op == kGreaterEq) return value::boolean(value::compare(a, b) >= 0);

    if (op == "+" || op == "-" || op == "*" || op == "/" || op == "^") return value::arithmetic(op, a, b);
    throw CalcError(column, "unknown operator " + op);
}

}  // namespace

// A run of operators of one level, from the left: "and" and "or" stop as
// soon as the answer is known, as FileMaker's do.
fmx::Data Evaluator::binary(const Node& n) {
    fmx::Data acc = eval(n.args[0]);
    for (std::size_t i = 1; i < n.args.size(); ++i) {
        const std::string& op = n.ops.empty() ? n.op : n.ops[i - 1];
        if (op == "and" || op == "or") {
            const bool left = value::truth(acc);
            if (op == "and" && !left) {
                acc = value::boolean(false);
                continue;
            }
            if (op == "or" && left) {
                acc = value::boolean(true);
                continue;
            }
            acc = value::boolean(value::truth(eval(n.args[i])));
            continue;
        }
        acc = apply(op, acc, eval(n.args[i]), n.column);
    }
    return acc;
}

// Binds Let or While definitions in order. A name bound at or after
// `updateFrom` (a While's own, in its logic) gets the new value instead of a new binding.
void Evaluator::bind(const Node& defs, std::size_t updateFrom) {
    std::vector<Node> single;
    for (const Node& d : definitions(defs, single)) {
        fmx::Data v = eval(d.args[1]);
        if (d.args[0].kind == Node::Kind::Variable) {
            setVariable(d.args[0].text, v, repetitionOf(d.args[0]));  // Let ( $x = … ) sets the script's variable
            continue;
        }
        const auto own = scope_.begin() + static_cast<std::ptrdiff_t>(std::min(updateFrom, scope_.size()));
        const auto it = std::find_if(own, scope_.end(), [&](const auto& b) { return same(b.first, d.args[0].text); });
        if (it != scope_.end()) {
            it->second = std::move(v);
            continue;
        }
        scope_.emplace_back(d.args[0].text, std::move(v));
    }
}

fmx::Data Evaluator::let(const Node& n) {
    const std::size_t outer = scope_.size();
    bind(n.args[0], static_cast<std::size_t>(-1));
    fmx::Data result = eval(n.args[1]);
    scope_.resize(outer);
    return result;
}

// While ( [ initialVariables ] ; condition ; [ logic ] ; result ): at most
// 50,000 turns, as FileMaker allows by default (SetRecursion sets another
// limit); past that the answer is "?".
fmx::Data Evaluator::whileLoop(const Node& n) {
    const std::size_t outer = scope_.size();
    bind(n.args[0], outer);
    const std::size_t initial = scope_.size();
    std::int64_t turns = 0;
    for (; value::truth(eval(n.args[1])); ++turns) {
        if (turns >= maxTurns_) {
            scope_.resize(outer);
            turnsExceeded_ = true;
            return value::textUtf8("?");
        }
        if (stopRequested()) throw CalcError(n.column, "stopped by Ctrl-C");
        bind(n.args[2], outer);
        scope_.resize(initial);  // a name the logic defines without an initial value lasts one turn
    }
    fmx::Data result = eval(n.args[3]);
    scope_.resize(outer);
    return result;
}

// SetRecursion ( expression ; maxIterations ): the expression with that limit
// on every While in it; "?" when one of them runs out of turns.
fmx::Data Evaluator::setRecursion(const Node& n) {
    const fmx::Data limit = eval(n.args[1]);
    const std::int64_t turns = value::isEmpty(limit) ? 0 : std::max<std::int64_t>(0, value::integer(limit));
    const std::int64_t savedTurns = maxTurns_;
    const bool savedExceeded = turnsExceeded_;
    maxTurns_ = turns;
    turnsExceeded_ = false;
    fmx::Data result;
    try {
        result = eval(n.args[0]);
    } catch (...) {
        maxTurns_ = savedTurns;
        turnsExceeded_ = savedExceeded;
        throw;
    }
    const bool exceeded = turnsExceeded_;
    maxTurns_ = savedTurns;
    turnsExceeded_ = savedExceeded || exceeded;
    return exceeded ? value::textUtf8("?") : result;
}

// Evaluate ( expression ): the text parsed and evaluated as a calculation of
// its own (no Let names of the caller); a fault answers "?" and is kept for
// EvaluationError.
fmx::Data Evaluator::evaluateText(const Node& n) {
    const std::string text = value::utf8(eval(n.args[0]));
    for (std::size_t i = 1; i < n.args.size(); ++i)  // the trigger fields: evaluated, not used
        if (n.args[i].kind == Node::Kind::Bracket)
            for (const auto& item : n.args[i].args) eval(item);
        else
            eval(n.args[i]);
    Scope saved;
    saved.swap(scope_);
    try {
        const Node inner = parseCalc(text);
        check(inner);
        fmx::Data v = eval(inner);
        scope_.swap(saved);
        evaluationError_ = 0;
        return v;
    } catch (const CalcError& e) {
        scope_.swap(saved);
        if (e.message().find("Ctrl-C") != std::string::npos || e.message().find("nests deeper") != std::string::npos)
            throw;
        evaluationError_ = errorCodeOf(e);
        return value::textUtf8("?");
    }
}

// GetField ( "Table::Field" ), also a field of the first table by its name alone, or a $variable.
fmx::Data Evaluator::getField(const Node& n) {
    const std::string name = value::utf8(eval(n.args[0]));
    Node ref;
    ref.column = n.column;
    if (!name.empty() && name[0] == '$') return variable(name);
    const auto sep = name.find("::");
    if (sep != std::string::npos) {
        ref.text = name.substr(0, sep);
        ref.field = name.substr(sep + 2);
    } else {
        if (records_ && records_->current()) ref.text = records_->current()->name;
        ref.field = name;
    }
    return field(ref);
}

// Every repetition of a variable, from the first to the highest one set (the
// empty ones between included): what a repeating field hands GetRepetition,
// Last, Sum and their kin.
std::vector<fmx::Data> Evaluator::repetitions(const std::string& name) const {
    const std::string key = lowerAscii(name), prefix = key + "[";
    const Variables& vars = key.rfind("$$", 0) == 0 ? globals_ : *locals_;
    std::int64_t highest = 1;
    for (auto it = vars.lower_bound(prefix); it != vars.end() && it->first.rfind(prefix, 0) == 0; ++it)
        highest = std::max<std::int64_t>(highest, std::strtoll(it->first.c_str() + prefix.size(), nullptr, 10));
    // A repetition number is bounded when it is set; keep the list bounded too.
    highest = std::min<std::int64_t>(highest, 1000000);
    std::vector<fmx::Data> all;
    all.reserve(static_cast<std::size_t>(highest));
    for (std::int64_t k = 1; k <= highest; ++k) all.push_back(variable(name, k));
    return all;
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
    if (auto v = clockGet(what)) return *v;  // dates, times, UUID, account (BuiltinsTime.cpp)
    throw CalcError(n.args[0].column, "Get does not know " + n.args[0].text);
}

fmx::Data Evaluator::callBuiltin(const Node& n) {
    const Builtin* b = findBuiltin(n.text);
    const std::string name = lowerAscii(b->name);
    if (name == "let") return let(n);
    if (name == "get") return get(n);
    if (name == "setprecision") {  // the expression is worked out to the precision asked for
        const std::int64_t digits = value::integer(eval(n.args[1]));
        value::PrecisionScope scope(static_cast<int>(std::clamp<std::int64_t>(digits, 0, 400)));
        return eval(n.args[0]);  // its numbers already show that many places
    }
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
    if (name == "choose") {  // zero-based; an empty test is 0
        const std::int64_t k = value::integer(eval(n.args[0]));
        if (k < 0 || k + 1 >= static_cast<std::int64_t>(n.args.size())) return value::empty();
        return eval(n.args[static_cast<std::size_t>(k + 1)]);
    }
    if (name == "while") return whileLoop(n);
    if (name == "setrecursion") return setRecursion(n);
    if (name == "evaluate") return evaluateText(n);
    if (name == "evaluationerror") {
        evaluationError_ = 0;
        try {
            eval(n.args[0]);
        } catch (const CalcError& e) {
            if (e.message().find("Ctrl-C") != std::string::npos) throw;
            return value::number(static_cast<std::int64_t>(errorCodeOf(e)));
        }
        return value::number(static_cast<std::int64_t>(evaluationError_));
    }
    if (name == "isvalidexpression") {
        try {
            check(parseCalc(value::utf8(eval(n.args[0]))));
            return value::boolean(true);
        } catch (const CalcError&) {
            return value::boolean(false);
        }
    }
    if (name == "getfield") return getField(n);
    if (name == "self") return value::empty();  // a calculation of no layout object
    if (name == "isvalid") {
        try {
            const fmx::Data v = eval(n.args[0]);
            return value::boolean(v.GetAsText() != fmx::Text::FromUTF8("?"));
        } catch (const CalcError&) {
            return value::boolean(false);
        }
    }
    BuiltinArgs args;
    for (std::size_t i = 0; i < n.args.size(); ++i) {
        const Node& a = n.args[i];
        const bool listAllowed = b->bracketFrom >= 0 && static_cast<int>(i) >= b->bracketFrom;
        if (listAllowed && a.kind == Node::Kind::Variable && a.args.empty()) {
            // A variable stands for its repetitions, as a repeating field does.
            std::vector<fmx::Data> items = repetitions(a.text);
            args.values.push_back(items.front());
            args.lists.push_back(std::move(items));
        } else if (a.kind == Node::Kind::Bracket) {
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
