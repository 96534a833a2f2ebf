// Lexer: a calculation's text as tokens, each with its 1-based column in
// characters. Comments and white space are dropped here.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace fm_host {

struct Token {
    enum class Kind {
        Text,      // value: the text (CR for ¶)
        Number,    // value: the digits as written
        Name,      // value: a function name, a Let name or a keyword (and, or, xor, not)
        Variable,  // value: "$name" or "$$name"
        Field,     // value: the table, field: the field ("Table::Field")
        Pilcrow,   // ¶ outside quotes
        Op,        // value: + - * / ^ & = ≠ <> < > ≤ <= ≥ >=
        LParen,
        RParen,
        Semicolon,
        LBracket,
        RBracket,
        End
    };
    Kind kind = Kind::End;
    std::string value;
    std::string field;
    std::size_t column = 1;
};

// Throws CalcError for an unclosed text or comment, a malformed number or
// a character the language does not know.
std::vector<Token> tokenize(const std::string& utf8, std::size_t columnOffset);

// A short quote of what a token is, for messages: "\")\"", "the end of the calculation".
std::string describe(const Token& t);

// For a scan that looks for brackets outside texts (a step's options, a step
// left open, a JSON document's nesting): steps `i` through a text in double
// quotes (\" and \\ inside it) and answers true while `i` is at or inside one.
bool inQuotedText(const std::string& s, std::size_t& i, bool& quoted);

}  // namespace fm_host
