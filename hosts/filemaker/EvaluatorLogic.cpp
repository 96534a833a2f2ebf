// The calculation functions the evaluator runs itself because they bind
// names or evaluate their parameters more than once: Let, While,
// SetRecursion and Evaluate.
#include <algorithm>

#include "CalcNames.h"
#include "Evaluator.h"
#include "Value.h"

namespace fm_host {

// Binds Let or While definitions in order. A name bound at or after
// `updateFrom` (a While's own, in its logic) gets the new value instead of a new binding.
void Evaluator::bind(const Node& defs, std::size_t updateFrom) {
    std::vector<Node> single;
    for (const Node& d : letDefinitions(defs, single)) {
        fmx::Data v = eval(d.args[1]);
        if (d.args[0].kind == Node::Kind::Variable) {
            setVariable(d.args[0].text, v, repetitionOf(d.args[0]));  // Let ( $x = … ) sets the script's variable
            continue;
        }
        const auto own = scope_.begin() + static_cast<std::ptrdiff_t>(std::min(updateFrom, scope_.size()));
        const auto it =
            std::find_if(own, scope_.end(), [&](const auto& b) { return sameName(b.first, d.args[0].text); });
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

}  // namespace fm_host
