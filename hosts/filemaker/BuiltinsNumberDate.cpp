// The table of every built-in, and the names Get knows.
#include <strings.h>

#include <algorithm>

#include "Builtins.h"
#include "Value.h"

namespace fm_host {

namespace {

// IsEmpty is eager; If, Case, Choose, Let, Get and IsValid are evaluated by the evaluator.
fmx::Data isEmptyFn(const BuiltinArgs& a) {
    return value::boolean(value::isEmpty(a[0]));
}

std::vector<Builtin> makeTable() {
    std::vector<Builtin> t;
    addTextBuiltins(t);
    addValueBuiltins(t);
    addNumberDateBuiltins(t);
    addJsonBuiltins(t);
    addWordBuiltins(t);
    addLogicBuiltins(t);
    t.push_back({"If", 2, 3, nullptr, "If ( test ; resultIfTrue ; resultIfFalse )"});
    t.push_back({"Case", 2, -1, nullptr, "Case ( test1 ; result1 ; test2 ; result2 ; … ; defaultResult )"});
    t.push_back({"Choose", 2, -1, nullptr, "Choose ( test ; result0 ; result1 ; … )"});
    t.push_back({"Let", 2, 2, nullptr, "Let ( [ name1 = expression1 ; name2 = expression2 ] ; calculation )", 0});
    t.push_back({"Get", 1, 1, nullptr, "Get ( name )  — see the Get names below"});
    t.push_back({"IsValid", 1, 1, nullptr, "IsValid ( field )"});
    t.push_back({"IsEmpty", 1, 1, isEmptyFn, "IsEmpty ( field )"});
    std::sort(t.begin(), t.end(),
              [](const Builtin& x, const Builtin& y) { return strcasecmp(x.name.c_str(), y.name.c_str()) < 0; });
    return t;
}

}  // namespace

// The number functions are in BuiltinsNumber.cpp, the date and time ones in BuiltinsTime.cpp.
void addNumberDateBuiltins(std::vector<Builtin>& t) {
    addNumberBuiltins(t);
    addTimeBuiltins(t);
}

const std::vector<Builtin>& builtins() {
    static const std::vector<Builtin> table = makeTable();
    return table;
}

const Builtin* findBuiltin(const std::string& name) {
    const auto& t = builtins();
    auto it = std::lower_bound(t.begin(), t.end(), name, [](const Builtin& b, const std::string& n) {
        return strcasecmp(b.name.c_str(), n.c_str()) < 0;
    });
    return it != t.end() && strcasecmp(it->name.c_str(), name.c_str()) == 0 ? &*it : nullptr;
}

const std::vector<GetName>& getNames() {
    static const std::vector<GetName> names = {
        {"LastError", "the error of the last script step (0: none; 101: no further record; 100: no such script file)"},
        {"ScriptResult", "what the last Perform Script's script gave to Exit Script"},
        {"ScriptParameter", "the Parameter of the Perform Script that started this script"},
        {"ScriptName", "the running script's file name"},
        {"FoundCount", "the number of records of the loaded table"},
        {"RecordNumber", "the current record's number (0 when there is none)"},
        {"CurrentDate", "today's date"},
        {"CurrentTime", "the time now"},
        {"CurrentTimestamp", "the date and time now"},
        {"CurrentTimeUTCMilliseconds", "milliseconds since 1/1/0001 UTC (GetAsTimestamp ( it / 1000 ) is now in UTC)"},
        {"CurrentHostTimestamp", "the date and time now on the host (this machine)"},
        {"UUID", "a new random universally unique identifier"},
        {"AccountName", "the name of the account running the host"},
        {"LastMessageChoice", "the button of the last Show Custom Dialog (1: the first; 0: none yet)"},
    };
    return names;
}

}  // namespace fm_host
