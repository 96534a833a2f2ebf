// The calculation language of filemaker-host: the part of FileMaker's that
// scripts filling PDF forms use.
//
//   calc     := or
//   or       := and ( ( "or" | "xor" ) and )*
//   and      := compare ( "and" compare )*
//   compare  := concat ( ( "=" | "≠" | "<>" | "<" | ">" | "≤" | "<=" | "≥" | ">=" ) concat )*
//   concat   := sum ( "&" sum )*
//   (a run of operators of one level is one node, evaluated from the left
//   without recursion, so a chain of any length nests only one level)
//   sum      := product ( ( "+" | "-" ) product )*
//   product  := power ( ( "*" | "/" ) power )*
//   power    := unary ( "^" unary )*
//   unary    := ( "-" | "+" | "not" ) unary | primary
//   primary  := text | number | "¶" | var | Table::Field | call | "(" calc ")"
//   var      := ( "$" | "$$" ) name [ "[" calc "]" ]     (a repetition; $x is $x[1])
//   call     := Name | Name "(" [ arg ( ";" arg )* ] ")"
//   arg      := calc | "[" calc ( ";" calc )* "]"
//   text     := '"' ... '"'   with \" for a quote, \\ for a backslash, ¶ (and \¶
//               for a literal pilcrow) as FileMaker writes them
//
// Parsing never calls anything; a parsed calculation is checked against the
// built-in and registered functions (names, parameter counts) before the
// first call is made, so a faulty calculation calls no plug-in function.
//
// Limits: a calculation nests at most kMaxCalcDepth levels (parentheses,
// calls, brackets, repetitions, unary operators and operators of different
// levels nest; a run of one operator does not) and holds at most
// kMaxCalcBytes bytes; past either the parser answers a CalcError naming the
// column, so no input can exhaust the stack. Text literals have no limit of
// their own.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace fm_host {

inline constexpr int kMaxCalcDepth = 1000;
inline constexpr std::size_t kMaxCalcBytes = 64u * 1024u * 1024u;

// A fault in the calculation text or in its calls, at a 1-based column
// counted in characters.
class CalcError : public std::runtime_error {
public:
    CalcError(std::size_t column, const std::string& what)
        : std::runtime_error("column " + std::to_string(column) + ": " + what), column_(column), message_(what) {}
    std::size_t column() const { return column_; }
    // The message without its column.
    const std::string& message() const { return message_; }

private:
    std::size_t column_;
    std::string message_;
};

struct Node {
    enum class Kind {
        Text,      // text: the value (UTF-8, CR for ¶)
        Number,    // text: its digits
        Variable,  // text: "$name" or "$$name"; args: the repetition, when written
        Field,     // text: the table, field: the field name
        Call,      // text: the name; args: parameters
        Concat,    // args: the operands of a run of "&"
        Negate,    // args: the operand
        Not,       // args: the operand
        Binary,    // ops: the operators of one level ("+", "=", "≠", "and", ...) between args, from the left;
                   // op: the first of them
        Bracket    // args: the items of "[ a ; b ]", only as a parameter
    };
    Kind kind = Kind::Text;
    std::string text;
    std::string field;
    std::string op;
    std::vector<std::string> ops;
    std::vector<Node> args;
    bool parenthesized = false;  // Call: written with "( )"
    std::size_t column = 1;
    int height = 1;  // levels of the tree from here down, held to kMaxCalcDepth
};

// Parses one calculation; throws CalcError. `columnOffset` is added to every
// reported column (for a calculation inside a longer line).
Node parseCalc(const std::string& utf8, std::size_t columnOffset = 0);

}  // namespace fm_host
