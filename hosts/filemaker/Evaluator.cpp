// Evaluator: variables, fields, operators and the calls (the checks before a
// run are in EvaluatorCheck.cpp, Let, While and Evaluate in EvaluatorLogic.cpp).
#include "Evaluator.h"

#include <algorithm>
#include <cmath>

#include "Builtins.h"
#include "CalcNames.h"
#include "Records.h"
#include "Value.h"

namespace fm_host {

namespace {

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

fmx::Data Evaluator::field(const Node& n) const {
    const Table* t = records_ ? records_->table(n.text) : nullptr;
    const auto col = t ? t->column(n.field) : std::nullopt;
    if (!t || !col) throw CalcError(n.column, "there is no field " + n.text + "::" + n.field);
    if (t->rows.empty()) return value::empty();
    return value::ofField(t->rows[t->current][*col]);
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
            if (sameName(it->first, n.text)) return it->second;
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
