// The calculation language: lexer, parser and evaluator.
#include "Calc.h"

#include <algorithm>
#include <cctype>

namespace fm_host {

namespace {

const std::string kPilcrow = "\xC2\xB6";  // ¶ in UTF-8

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

class Parser {
public:
    Parser(const std::string& s, std::size_t offset) : s_(s), offset_(offset) {}

    Node parse() {
        skipSpace();
        if (i_ >= s_.size()) throw CalcError(column(), "the calculation is empty");
        Node n = concat();
        skipSpace();
        if (i_ < s_.size()) {
            if (s_[i_] == ')') throw CalcError(column(), "\")\" without a matching \"(\"");
            if (s_[i_] == ';') throw CalcError(column(), "\";\" outside a function's parameter list");
            throw CalcError(column(), "expected \"&\" or the end of the calculation, found " + describeHere());
        }
        return n;
    }

private:
    // 1-based column of byte i_ in characters.
    std::size_t column() const { return columnAt(i_); }
    std::size_t columnAt(std::size_t byte) const {
        std::size_t col = 1;
        for (std::size_t k = 0; k < byte && k < s_.size(); ++k)
            if ((static_cast<unsigned char>(s_[k]) & 0xC0) != 0x80) ++col;
        return col + offset_;
    }

    bool atPilcrow() const { return s_.compare(i_, kPilcrow.size(), kPilcrow) == 0; }

    void skipSpace() {
        for (;;) {
            if (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) {
                ++i_;
            } else if (s_.compare(i_, 2, "//") == 0) {  // FileMaker's line comment
                while (i_ < s_.size() && s_[i_] != '\n') ++i_;
            } else if (s_.compare(i_, 2, "/*") == 0) {
                const auto end = s_.find("*/", i_ + 2);
                if (end == std::string::npos) throw CalcError(column(), "the comment that starts here is not closed");
                i_ = end + 2;
            } else {
                return;
            }
        }
    }

    std::string describeHere() const {
        if (i_ >= s_.size()) return "the end of the calculation";
        std::size_t len = 1;
        const auto b = static_cast<unsigned char>(s_[i_]);
        if (b >= 0xF0)
            len = 4;
        else if (b >= 0xE0)
            len = 3;
        else if (b >= 0xC0)
            len = 2;
        return "\"" + s_.substr(i_, len) + "\"";
    }

    static bool isNameStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
    bool isNameChar() const {
        if (i_ >= s_.size() || atPilcrow()) return false;
        const auto c = static_cast<unsigned char>(s_[i_]);
        return std::isalnum(c) || c == '_' || c == '.' || c >= 0x80;
    }

    Node concat() {
        Node first = unary();
        skipSpace();
        if (i_ >= s_.size() || s_[i_] != '&') return first;
        Node n;
        n.kind = Node::Kind::Concat;
        n.column = first.column;
        n.args.push_back(std::move(first));
        while (i_ < s_.size() && s_[i_] == '&') {
            ++i_;
            skipSpace();
            n.args.push_back(unary());
            skipSpace();
        }
        return n;
    }

    Node unary() {
        skipSpace();
        if (i_ < s_.size() && s_[i_] == '-') {
            Node n;
            n.kind = Node::Kind::Negate;
            n.column = column();
            ++i_;
            n.args.push_back(unary());
            return n;
        }
        return primary();
    }

    Node primary() {
        skipSpace();
        Node n;
        n.column = column();
        if (i_ >= s_.size()) throw CalcError(column(), "a value is missing at the end of the calculation");
        const auto c = static_cast<unsigned char>(s_[i_]);
        if (c == '"') return text();
        if (atPilcrow()) {
            i_ += kPilcrow.size();
            n.kind = Node::Kind::Text;
            n.text = "\r";
            return n;
        }
        if (std::isdigit(c) ||
            (c == '.' && i_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_ + 1])))) {
            n.kind = Node::Kind::Number;
            bool point = false;
            while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || (s_[i_] == '.' && !point))) {
                point = point || s_[i_] == '.';
                n.text.push_back(s_[i_++]);
            }
            if (isNameChar()) throw CalcError(column(), "a number cannot run into " + describeHere());
            return n;
        }
        if (c == '$') {
            n.kind = Node::Kind::Variable;
            n.text.push_back(s_[i_++]);
            if (i_ < s_.size() && s_[i_] == '$') n.text.push_back(s_[i_++]);
            const std::size_t start = i_;
            while (isNameChar()) ++i_;
            if (i_ == start) throw CalcError(n.column, "a variable needs a name after \"$\"");
            n.text += s_.substr(start, i_ - start);
            return n;
        }
        if (c == '(') {
            ++i_;
            Node inner = concat();
            skipSpace();
            if (i_ >= s_.size() || s_[i_] != ')')
                throw CalcError(column(), "expected \")\" to close the \"(\" at column " + std::to_string(n.column) +
                                              ", found " + describeHere());
            ++i_;
            return inner;
        }
        if (isNameStart(c)) return call();
        if (c == ')') throw CalcError(column(), "a value is missing before \")\"");
        if (c == ';') throw CalcError(column(), "a value is missing before \";\"");
        if (c == '&') throw CalcError(column(), "a value is missing before \"&\"");
        throw CalcError(column(), "unexpected " + describeHere());
    }

    Node text() {
        Node n;
        n.kind = Node::Kind::Text;
        n.column = column();
        ++i_;  // opening quote
        for (;;) {
            if (i_ >= s_.size()) throw CalcError(n.column, "the text that starts here has no closing quote");
            const char c = s_[i_];
            if (c == '"') {
                ++i_;
                return n;
            }
            if (c == '\\' && i_ + 1 < s_.size()) {
                if (s_[i_ + 1] == '"' || s_[i_ + 1] == '\\') {
                    n.text.push_back(s_[i_ + 1]);
                    i_ += 2;
                    continue;
                }
                if (s_.compare(i_ + 1, kPilcrow.size(), kPilcrow) == 0) {  // \¶: the pilcrow itself
                    n.text += kPilcrow;
                    i_ += 1 + kPilcrow.size();
                    continue;
                }
            }
            if (atPilcrow()) {
                n.text.push_back('\r');
                i_ += kPilcrow.size();
                continue;
            }
            n.text.push_back(c);
            ++i_;
        }
    }

    Node call() {
        Node n;
        n.kind = Node::Kind::Call;
        n.column = column();
        const std::size_t start = i_;
        while (isNameChar()) ++i_;
        n.text = s_.substr(start, i_ - start);
        const std::size_t afterName = i_;
        skipSpace();
        if (i_ >= s_.size() || s_[i_] != '(') {
            i_ = afterName;
            return n;  // a function without parameters, written without "( )"
        }
        n.parenthesized = true;
        const std::size_t open = column();
        ++i_;
        skipSpace();
        if (i_ < s_.size() && s_[i_] == ')') {
            ++i_;
            return n;
        }
        for (;;) {
            n.args.push_back(concat());
            skipSpace();
            if (i_ < s_.size() && s_[i_] == ';') {
                ++i_;
                continue;
            }
            if (i_ < s_.size() && s_[i_] == ')') {
                ++i_;
                return n;
            }
            throw CalcError(column(), "expected \";\" or \")\" in the parameters of " + n.text + " (opened at column " +
                                          std::to_string(open) + "), found " + describeHere());
        }
    }

    const std::string& s_;
    std::size_t offset_;
    std::size_t i_ = 0;
};

std::string plural(int n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

Node parseCalc(const std::string& utf8, std::size_t columnOffset) {
    return Parser(utf8, columnOffset).parse();
}

void Evaluator::setVariable(const std::string& name, const fmx::Data& value) {
    variables_[lower(name)] = value;
}

void Evaluator::check(const Node& n) const {
    if (n.kind == Node::Kind::Call) {
        const FunctionInfo* f = lookup_(n.text);
        if (!f) throw CalcError(n.column, "there is no function named " + n.text);
        const int count = static_cast<int>(n.args.size());
        if (count < f->minArgs || (f->maxArgs >= 0 && count > f->maxArgs)) {
            std::string range;
            if (f->maxArgs < 0)
                range = "at least " + plural(f->minArgs, "parameter");
            else if (f->minArgs == f->maxArgs)
                range = plural(f->minArgs, "parameter");
            else
                range = std::to_string(f->minArgs) + " to " + plural(f->maxArgs, "parameter");
            throw CalcError(n.column, f->name + " takes " + range + ", not " + std::to_string(count));
        }
    }
    for (const auto& a : n.args) check(a);
}

fmx::Data Evaluator::evaluate(const Node& calc) {
    check(calc);
    return eval(calc);
}

fmx::Data Evaluator::eval(const Node& n) {
    fmx::Data d;
    switch (n.kind) {
        case Node::Kind::Text:
            d.SetAsText(fmx::Text::FromUTF8(n.text), fmx::Locale());
            return d;
        case Node::Kind::Number: {
            fmx::FixPt f;
            f.AssignText(n.text);
            d.SetAsNumber(f);
            return d;
        }
        case Node::Kind::Variable: {
            auto it = variables_.find(lower(n.text));
            if (it != variables_.end()) return it->second;
            d.SetAsText(fmx::Text(), fmx::Locale());  // an unset variable is empty
            return d;
        }
        case Node::Kind::Concat: {
            fmx::Text all;
            for (const auto& a : n.args) all.AppendText(eval(a).GetAsText());
            d.SetAsText(all, fmx::Locale());
            return d;
        }
        case Node::Kind::Negate: {
            fmx::FixPt f(eval(n.args.front()).GetAsNumber(), fmx::FixPt::kDefltFixedPrecision);
            f.Negate();
            d.SetAsNumber(f);
            return d;
        }
        case Node::Kind::Call: {
            const FunctionInfo* f = lookup_(n.text);
            if (!f) throw CalcError(n.column, "there is no function named " + n.text);
            fmx::DataVect parms;
            for (const auto& a : n.args) parms.PushBack(eval(a));
            fmx::errcode rc = 0;
            try {
                rc = f->call(parms, d);
            } catch (const std::exception& e) {
                throw CalcError(n.column, f->name + " failed: " + e.what());
            } catch (...) {
                throw CalcError(n.column, f->name + " failed with an unknown exception");
            }
            if (rc != 0) throw CalcError(n.column, f->name + " answered error " + std::to_string(rc));
            return d;
        }
    }
    return d;
}

}  // namespace fm_host
