// Lexer: calculation text to tokens, columns counted as it goes so a long
// calculation costs linear time.
#include "Lexer.h"

#include <cctype>

#include "Calc.h"

namespace fm_host {

namespace {

const std::string kPilcrow = "\xC2\xB6";        // ¶
const std::string kNotEqual = "\xE2\x89\xA0";   // ≠
const std::string kLessEq = "\xE2\x89\xA4";     // ≤
const std::string kGreaterEq = "\xE2\x89\xA5";  // ≥

class Lexer {
public:
    Lexer(const std::string& s, std::size_t offset) : s_(s), col_(1 + offset) {}

    std::vector<Token> run() {
        std::vector<Token> out;
        for (;;) {
            skipSpace();
            Token t;
            t.column = col_;
            if (i_ >= s_.size()) {
                out.push_back(t);
                return out;
            }
            lexOne(t);
            out.push_back(std::move(t));
        }
    }

private:
    bool at(const std::string& what) const { return s_.compare(i_, what.size(), what) == 0; }

    // Moves over `n` bytes, counting the characters they start.
    void advance(std::size_t n) {
        for (std::size_t k = 0; k < n && i_ < s_.size(); ++k, ++i_)
            if ((static_cast<unsigned char>(s_[i_]) & 0xC0) != 0x80) ++col_;
    }

    std::size_t charLen() const {
        const auto b = static_cast<unsigned char>(s_[i_]);
        return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    }

    std::string here() const {
        if (i_ >= s_.size()) return "the end of the calculation";
        return "\"" + s_.substr(i_, charLen()) + "\"";
    }

    void skipSpace() {
        for (;;) {
            if (i_ >= s_.size()) return;
            const char c = s_[i_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                advance(1);
            } else if (at("//")) {  // FileMaker's line comment
                while (i_ < s_.size() && s_[i_] != '\n' && s_[i_] != '\r') advance(1);
            } else if (at("/*")) {
                const std::size_t startCol = col_;
                const auto end = s_.find("*/", i_ + 2);
                if (end == std::string::npos) throw CalcError(startCol, "the comment that starts here is not closed");
                advance(end + 2 - i_);
            } else {
                return;
            }
        }
    }

    bool isNameChar() const {
        if (i_ >= s_.size() || at(kPilcrow) || at(kNotEqual) || at(kLessEq) || at(kGreaterEq)) return false;
        const auto c = static_cast<unsigned char>(s_[i_]);
        return std::isalnum(c) || c == '_' || c == '.' || c >= 0x80;
    }

    std::string name() {
        const std::size_t start = i_;
        while (isNameChar()) advance(charLen());
        return s_.substr(start, i_ - start);
    }

    void lexOne(Token& t) {
        const auto c = static_cast<unsigned char>(s_[i_]);
        if (c == '"') return text(t);
        if (at(kPilcrow)) {
            t.kind = Token::Kind::Pilcrow;
            advance(kPilcrow.size());
            return;
        }
        if (std::isdigit(c) || (c == '.' && i_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_ + 1]))))
            return number(t);
        if (c == '$') {
            t.kind = Token::Kind::Variable;
            t.value = "$";
            advance(1);
            if (i_ < s_.size() && s_[i_] == '$') {
                t.value += "$";
                advance(1);
            }
            const std::string n = name();
            if (n.empty()) throw CalcError(t.column, "a variable needs a name after \"$\"");
            t.value += n;
            return;
        }
        for (const std::string* op : {&kNotEqual, &kLessEq, &kGreaterEq}) {
            if (at(*op)) {
                t.kind = Token::Kind::Op;
                t.value = *op;
                advance(op->size());
                return;
            }
        }
        if (at("<>") || at("<=") || at(">=")) {
            t.kind = Token::Kind::Op;
            t.value = s_.substr(i_, 2);
            advance(2);
            return;
        }
        switch (c) {
            case '+':
            case '-':
            case '*':
            case '/':
            case '^':
            case '&':
            case '=':
            case '<':
            case '>':
                t.kind = Token::Kind::Op;
                t.value = std::string(1, static_cast<char>(c));
                advance(1);
                return;
            case '(':
                t.kind = Token::Kind::LParen;
                advance(1);
                return;
            case ')':
                t.kind = Token::Kind::RParen;
                advance(1);
                return;
            case ';':
                t.kind = Token::Kind::Semicolon;
                advance(1);
                return;
            case '[':
                t.kind = Token::Kind::LBracket;
                advance(1);
                return;
            case ']':
                t.kind = Token::Kind::RBracket;
                advance(1);
                return;
            default:
                break;
        }
        if (isNameChar()) {
            t.kind = Token::Kind::Name;
            t.value = name();
            if (at("::")) {
                advance(2);
                t.kind = Token::Kind::Field;
                t.field = name();
                if (t.field.empty()) throw CalcError(col_, "a field name is missing after \"" + t.value + "::\"");
            }
            return;
        }
        throw CalcError(col_, "unexpected " + here());
    }

    void number(Token& t) {
        t.kind = Token::Kind::Number;
        const std::size_t start = i_;
        bool point = false;
        while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || (s_[i_] == '.' && !point))) {
            point = point || s_[i_] == '.';
            advance(1);
        }
        t.value = s_.substr(start, i_ - start);
        if (isNameChar()) throw CalcError(col_, "a number cannot run into " + here());
    }

    void text(Token& t) {
        t.kind = Token::Kind::Text;
        advance(1);  // opening quote
        for (;;) {
            // Copy a run of plain bytes in one go: literals may be long.
            const std::size_t runEnd = s_.find_first_of("\"\\\xC2", i_);
            if (runEnd == std::string::npos)
                throw CalcError(t.column, "the text that starts here has no closing quote");
            if (runEnd > i_) {
                t.value.append(s_, i_, runEnd - i_);
                advance(runEnd - i_);
            }
            const char c = s_[i_];
            if (c == '"') {
                advance(1);
                return;
            }
            if (c == '\\' && i_ + 1 < s_.size() && (s_[i_ + 1] == '"' || s_[i_ + 1] == '\\')) {
                t.value.push_back(s_[i_ + 1]);
                advance(2);
            } else if (c == '\\' && s_.compare(i_ + 1, kPilcrow.size(), kPilcrow) == 0) {
                t.value += kPilcrow;  // \¶: the pilcrow itself
                advance(1 + kPilcrow.size());
            } else if (at(kPilcrow)) {
                t.value.push_back('\r');
                advance(kPilcrow.size());
            } else {
                t.value.push_back(c);
                advance(1);
            }
        }
    }

    const std::string& s_;
    std::size_t i_ = 0;
    std::size_t col_;
};

}  // namespace

std::vector<Token> tokenize(const std::string& utf8, std::size_t columnOffset) {
    return Lexer(utf8, columnOffset).run();
}

std::string describe(const Token& t) {
    switch (t.kind) {
        case Token::Kind::End:
            return "the end of the calculation";
        case Token::Kind::Text:
            return "a text";
        case Token::Kind::Number:
            return "\"" + t.value + "\"";
        case Token::Kind::Name:
        case Token::Kind::Variable:
        case Token::Kind::Op:
            return "\"" + t.value + "\"";
        case Token::Kind::Field:
            return "\"" + t.value + "::" + t.field + "\"";
        case Token::Kind::Pilcrow:
            return "\"\xC2\xB6\"";
        case Token::Kind::LParen:
            return "\"(\"";
        case Token::Kind::RParen:
            return "\")\"";
        case Token::Kind::Semicolon:
            return "\";\"";
        case Token::Kind::LBracket:
            return "\"[\"";
        case Token::Kind::RBracket:
            return "\"]\"";
    }
    return "?";
}

bool inQuotedText(const std::string& s, std::size_t& i, bool& quoted) {
    if (quoted) {
        if (s[i] == '\\')
            ++i;
        else if (s[i] == '"')
            quoted = false;
        return true;
    }
    quoted = s[i] == '"';
    return quoted;
}

}  // namespace fm_host
