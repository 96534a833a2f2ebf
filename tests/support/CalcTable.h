// CalcTable: table-driven tests of the calculation language. A row is a
// calculation and the text its result shows (returns written as ¶, a fault as
// "error: column N: …"), evaluated with no plug-ins unless the test hands
// its own evaluator. Header-only: the tests that use it link filemaker-host's core.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <span>
#include <string>

#include "Calc.h"
#include "Evaluator.h"
#include "Value.h"

namespace calc_table {

struct Row {
    std::string calc;
    std::string expected;
};

// A result's text, returns shown as ¶.
inline std::string shown(const fmx::Data& v) {
    std::string out;
    for (char c : v.GetAsText().ToUTF8()) out += c == '\r' ? std::string("\xC2\xB6") : std::string(1, c);
    return out;
}

inline std::string evaluate(fm_host::Evaluator& ev, const std::string& calc) {
    try {
        return shown(ev.evaluate(fm_host::parseCalc(calc)));
    } catch (const fm_host::CalcError& e) {
        return std::string("error: ") + e.what();
    }
}

// An evaluator that knows the built-in functions only.
inline fm_host::Evaluator bare() {
    return fm_host::Evaluator([](const std::string&) { return std::optional<fm_host::FunctionInfo>(); });
}

// Every row on one evaluator, in order: a variable a row sets, a later row sees.
inline void check(fm_host::Evaluator& ev, std::span<const Row> rows) {
    for (const auto& r : rows) EXPECT_EQ(evaluate(ev, r.calc), r.expected) << r.calc;
}
inline void check(std::span<const Row> rows) {
    auto ev = bare();
    check(ev, rows);
}
inline void check(std::initializer_list<Row> rows) {
    check(std::span<const Row>(rows.begin(), rows.size()));
}

}  // namespace calc_table
