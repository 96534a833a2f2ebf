// The built-in functions of the calculation language: one table, walked by
// the evaluator (names, parameter counts), --help and the prompt's completion.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FMWrapper.h"

namespace fm_host {

class CalcError;

struct BuiltinArgs {
    std::vector<fmx::Data> values;              // every parameter, evaluated
    std::vector<std::vector<fmx::Data>> lists;  // the items of a parameter written as "[ a ; b ]", else empty
    std::size_t size() const { return values.size(); }
    const fmx::Data& operator[](std::size_t i) const { return values[i]; }
};

using BuiltinFn = fmx::Data (*)(const BuiltinArgs&);

struct Builtin {
    std::string name;
    int minArgs = 0, maxArgs = 0;  // maxArgs -1: no upper limit
    BuiltinFn fn = nullptr;        // null: evaluated by the evaluator itself (If, Case, Choose, Let, Get, IsValid)
    std::string usage;             // "Left ( text ; numberOfCharacters )"
    int bracketFrom = -1;          // the first parameter that may be a "[ … ]" list, -1 for none
};

// Sorted by name; lookups ignore case.
const std::vector<Builtin>& builtins();
const Builtin* findBuiltin(const std::string& name);

// The names Get ( … ) knows, and their meaning for --help.
struct GetName {
    std::string name;
    std::string meaning;
};
const std::vector<GetName>& getNames();

// Adders, one per source file.
void addTextBuiltins(std::vector<Builtin>& table);
void addValueBuiltins(std::vector<Builtin>& table);
void addNumberDateBuiltins(std::vector<Builtin>& table);  // calls the two below
void addNumberBuiltins(std::vector<Builtin>& table);
void addTimeBuiltins(std::vector<Builtin>& table);

// Get ( name ) for the clock and the session's user: CurrentDate, CurrentTime,
// CurrentTimestamp, CurrentHostTimestamp, CurrentTimeUTCMilliseconds, UUID,
// AccountName, LastMessageChoice. `name` is lower case; nothing for other names.
std::optional<fmx::Data> clockGet(const std::string& name);
// Get ( CurrentTimeUTCMilliseconds ) at `t`: milliseconds since 1/1/0001 UTC,
// the count Get ( CurrentTimestamp ) keeps in seconds.
std::int64_t utcMilliseconds(std::chrono::system_clock::time_point t);
// What Get ( LastMessageChoice ) answers from now on: the button of the last dialog (1 is the first).
void noteMessageChoice(int button);
void addJsonBuiltins(std::vector<Builtin>& table);
void addWordBuiltins(std::vector<Builtin>& table);
void addLogicBuiltins(std::vector<Builtin>& table);

// A built-in's failure that FileMaker reports as an error (a bad parameter);
// the evaluator adds the column.
struct BuiltinFailure {
    std::string message;
};

}  // namespace fm_host
