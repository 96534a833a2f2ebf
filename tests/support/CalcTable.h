// Table-driven rows for the calculation tests: a calculation and the text its
// result shows (returns written as ¶), evaluated with no plug-ins.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Calc.h"
#include "Evaluator.h"
#include "Value.h"

namespace calc_rows {

struct Row {
    const char* calc;
    const char* expected;
};

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

inline fm_host::Evaluator bare() {
    return fm_host::Evaluator([](const std::string&) { return std::optional<fm_host::FunctionInfo>(); });
}

template <std::size_t N>
void check(const Row (&rows)[N]) {
    auto ev = bare();
    for (const auto& r : rows) EXPECT_EQ(evaluate(ev, r.calc), r.expected) << r.calc;
}

}  // namespace calc_rows
