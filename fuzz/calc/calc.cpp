// Fuzz target for the script and calculation parser: any bytes must parse or
// be refused with a column inside the line, never crash; every calculation
// that parses is checked and, when it is shallow, evaluated (no plug-ins; one
// small records table).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <strings.h>

#include "Evaluator.h"
#include "Records.h"
#include "Script.h"

namespace {

// While repeats its logic up to 50,000 times: a text doubled each turn
// would only stop at the evaluator's text limit, too slow for a fuzzer.
bool loops(const fm_host::Node& n) {
    if (n.kind == fm_host::Node::Kind::Call && (n.text.size() == 5 && strncasecmp(n.text.c_str(), "While", 5) == 0))
        return true;
    for (const auto& a : n.args)
        if (loops(a)) return true;
    return false;
}

void evaluate(fm_host::Evaluator& ev, const fm_host::Node& n) {
    // A shallow tree cannot grow a text past a few thousand times the input
    // (Substitute or & doubling per level), so evaluation stays bounded.
    if (n.height > 8 || loops(n)) return;
    try {
        ev.evaluate(n);
    } catch (const fm_host::CalcError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 16384) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    static fm_host::Records records = [] {
        fm_host::Records r;
        r.add(fm_host::parseCsv("members", "Name,City\nAnn,Oslo\n\"Bo, Jr\",\"Lund\nSkåne\"\n"));
        return r;
    }();
    fm_host::Evaluator ev([](const std::string&) { return std::optional<fm_host::FunctionInfo>(); });
    ev.setRecords(&records);
    const fm_host::Script script = fm_host::parseScript(text);
    for (const auto& s : script.steps) {
        if (s.error && (s.error->column() == 0 || s.error->column() > text.size() + 2)) std::abort();
        if (s.calc) evaluate(ev, *s.calc);
        if (s.extra) evaluate(ev, *s.extra);
        if (s.repetition) evaluate(ev, *s.repetition);
    }
    try {
        evaluate(ev, fm_host::parseCalc(text));
    } catch (const fm_host::CalcError& e) {
        if (e.column() == 0 || e.column() > text.size() + 2) std::abort();
    }
    return 0;
}
