// The calculation language of filemaker-host: a small subset of FileMaker's.
//
//   calc    := concat
//   concat  := unary ( "&" unary )*
//   unary   := "-" unary | primary
//   primary := text | number | "¶" | $variable | $$variable | call | "(" concat ")"
//   call    := Name | Name "(" [ concat ( ";" concat )* ] ")"
//   text    := '"' ... '"'   with \" for a quote, \\ for a backslash, ¶ (and \¶
//              for a literal pilcrow) as FileMaker writes them
//
// Parsing never calls anything; a parsed calculation is checked against the
// registered functions (names, parameter counts) before the first call is
// made, so a faulty calculation calls no plug-in function at all.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FMWrapper.h"

namespace fm_host {

// A fault in the calculation text or in its calls, at a 1-based column
// counted in characters.
class CalcError : public std::runtime_error {
public:
    CalcError(std::size_t column, const std::string& what)
        : std::runtime_error("column " + std::to_string(column) + ": " + what), column_(column) {}
    std::size_t column() const { return column_; }

private:
    std::size_t column_;
};

struct Node {
    enum class Kind { Text, Number, Variable, Call, Concat, Negate };
    Kind kind = Kind::Text;
    std::string text;            // Text: the value (UTF-8); Number: its digits; Variable/Call: the name
    std::vector<Node> args;      // Call: parameters; Concat: operands; Negate: the operand
    bool parenthesized = false;  // Call: written with "( )"
    std::size_t column = 1;
};

// Parses one calculation; throws CalcError. `columnOffset` is added to every
// reported column (for a calculation inside a longer line).
Node parseCalc(const std::string& utf8, std::size_t columnOffset = 0);

// What the evaluator needs of the host's function table.
struct FunctionInfo {
    std::string name;
    fmx::int16 minArgs = 0, maxArgs = 0;  // maxArgs -1: no upper limit
    std::function<fmx::errcode(const fmx::DataVect&, fmx::Data&)> call;
};
using FunctionLookup = std::function<const FunctionInfo*(const std::string& name)>;

// Variables live as long as the session; names compare without case, as
// FileMaker's do ($Total and $total are one variable).
class Evaluator {
public:
    explicit Evaluator(FunctionLookup lookup) : lookup_(std::move(lookup)) {}

    // Checks every call, then evaluates. Throws CalcError (bad calls, a plug-in
    // function answering an error code or throwing).
    fmx::Data evaluate(const Node& calc);
    void setVariable(const std::string& name, const fmx::Data& value);

private:
    void check(const Node& n) const;
    fmx::Data eval(const Node& n);
    FunctionLookup lookup_;
    std::map<std::string, fmx::Data> variables_;
};

}  // namespace fm_host
