// The calculation parser: tokens to a tree, with FileMaker's precedence.
#include "Calc.h"

#include <strings.h>

#include "Lexer.h"

namespace fm_host {

namespace {

bool isKeyword(const Token& t, const char* word) {
    return t.kind == Token::Kind::Name && strcasecmp(t.value.c_str(), word) == 0;
}

bool isOp(const Token& t, const char* op) {
    return t.kind == Token::Kind::Op && t.value == op;
}

class Parser {
public:
    Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

    Node parse() {
        if (peek().kind == Token::Kind::End) throw CalcError(peek().column, "the calculation is empty");
        Node n = expr();
        const Token& rest = peek();
        if (rest.kind != Token::Kind::End) {
            if (rest.kind == Token::Kind::RParen) throw CalcError(rest.column, "\")\" without a matching \"(\"");
            if (rest.kind == Token::Kind::Semicolon)
                throw CalcError(rest.column, "\";\" outside a function's parameter list");
            throw CalcError(rest.column, "expected an operator or the end of the calculation, found " + describe(rest));
        }
        return n;
    }

private:
    // Every nesting level passes through here, so the depth limit holds for
    // parentheses, calls, brackets and chains of unary operators alike.
    struct Depth {
        Depth(Parser& p, std::size_t column) : p_(p) {
            if (++p_.depth_ > kMaxCalcDepth)
                throw CalcError(column,
                                "the calculation nests deeper than " + std::to_string(kMaxCalcDepth) + " levels");
        }
        ~Depth() { --p_.depth_; }
        Parser& p_;
    };

    const Token& peek() const { return t_[pos_]; }
    const Token& next() { return t_[pos_ < t_.size() - 1 ? pos_++ : pos_]; }

    // Takes a child's height into its parent's; a tree taller than the limit
    // is refused like deep nesting. Constant time, so a long chain stays linear.
    static void grow(Node& n, const Node& child) {
        if (child.height + 1 > n.height) n.height = child.height + 1;
        if (n.height > kMaxCalcDepth)
            throw CalcError(n.column, "the calculation nests deeper than " + std::to_string(kMaxCalcDepth) + " levels");
    }

    static void measure(Node& n) {
        n.height = 1;
        for (const auto& a : n.args) grow(n, a);
    }

    // The binding level of a binary operator (higher binds tighter), or -1.
    static int levelOf(const Token& t) {
        if (isKeyword(t, "or") || isKeyword(t, "xor")) return 0;
        if (isKeyword(t, "and")) return 1;
        if (t.kind != Token::Kind::Op) return -1;
        const std::string& v = t.value;
        if (v == "=" || v == "<" || v == ">" || v == "<>" || v == "<=" || v == ">=" || v == "\xE2\x89\xA0" ||
            v == "\xE2\x89\xA4" || v == "\xE2\x89\xA5")
            return 2;
        if (v == "&") return 3;
        if (v == "+" || v == "-") return 4;
        if (v == "*" || v == "/") return 5;
        if (v == "^") return 6;
        return -1;
    }

    static std::string canonical(const Token& t) {
        if (t.kind == Token::Kind::Name)
            return strcasecmp(t.value.c_str(), "or") == 0    ? "or"
                   : strcasecmp(t.value.c_str(), "xor") == 0 ? "xor"
                                                             : "and";
        if (t.value == "<>") return "\xE2\x89\xA0";
        if (t.value == "<=") return "\xE2\x89\xA4";
        if (t.value == ">=") return "\xE2\x89\xA5";
        return t.value;
    }

    // Precedence climbing: one frame per level of parentheses or calls, not
    // one per operator level, so deep nesting costs little stack. Every
    // operator groups from the left; a run of operators of one level becomes
    // one node (a run of "&" one Concat), so its length costs no depth.
    Node expr(int minLevel = 0) {
        Node left = unary();
        int ownLevel = -1;  // the level of the run `left` holds, when this loop built it
        for (;;) {
            const int level = levelOf(peek());
            if (level < minLevel) return left;
            const Token& op = next();
            const std::string name = canonical(op);
            const std::size_t col = op.column;
            Node right = expr(level + 1);
            if (level != ownLevel) {
                Node n;
                n.kind = name == "&" ? Node::Kind::Concat : Node::Kind::Binary;
                n.column = name == "&" ? left.column : col;
                if (name != "&") n.op = name;
                grow(n, left);
                n.args.push_back(std::move(left));
                left = std::move(n);
                ownLevel = level;
            }
            if (name != "&") left.ops.push_back(name);
            grow(left, right);
            left.args.push_back(std::move(right));
        }
    }

    Node unary() {
        const Token& t = peek();
        const bool minus = isOp(t, "-"), plus = isOp(t, "+"), negation = isKeyword(t, "not");
        if (!minus && !plus && !negation) return primary();
        Depth d(*this, t.column);
        const std::size_t col = next().column;
        if (plus) return unary();
        Node n;
        n.kind = minus ? Node::Kind::Negate : Node::Kind::Not;
        n.column = col;
        n.args.push_back(unary());
        measure(n);
        return n;
    }

    Node primary() {
        const Token& t = peek();
        Node n;
        n.column = t.column;
        switch (t.kind) {
            case Token::Kind::Text:
                n.kind = Node::Kind::Text;
                n.text = next().value;
                return n;
            case Token::Kind::Pilcrow:
                next();
                n.kind = Node::Kind::Text;
                n.text = "\r";
                return n;
            case Token::Kind::Number:
                n.kind = Node::Kind::Number;
                n.text = next().value;
                return n;
            case Token::Kind::Variable: {
                n.kind = Node::Kind::Variable;
                n.text = next().value;
                if (peek().kind != Token::Kind::LBracket) return n;
                Depth d(*this, peek().column);  // $x[ n ]: a repetition
                next();
                n.args.push_back(expr());
                const Token& close = peek();
                if (close.kind != Token::Kind::RBracket)
                    throw CalcError(close.column,
                                    "expected \"]\" after the repetition of " + n.text + ", found " + describe(close));
                next();
                measure(n);
                return n;
            }
            case Token::Kind::Field:
                n.kind = Node::Kind::Field;
                n.text = t.value;
                n.field = next().field;
                return n;
            case Token::Kind::LParen: {
                Depth d(*this, t.column);
                next();
                Node inner = expr();
                const Token& close = peek();
                if (close.kind != Token::Kind::RParen)
                    throw CalcError(close.column, "expected \")\" to close the \"(\" at column " +
                                                      std::to_string(n.column) + ", found " + describe(close));
                next();
                return inner;
            }
            case Token::Kind::Name:
                if (isKeyword(t, "and") || isKeyword(t, "or") || isKeyword(t, "xor"))
                    throw CalcError(t.column, "a value is missing before \"" + t.value + "\"");
                return call();
            case Token::Kind::End:
                throw CalcError(t.column, "a value is missing at the end of the calculation");
            case Token::Kind::LBracket:
                throw CalcError(t.column, "\"[\" may only begin a parameter of a function such as Let or Substitute");
            default:
                throw CalcError(t.column, "a value is missing before " + describe(t));
        }
    }

    Node argument() {
        if (peek().kind != Token::Kind::LBracket) return expr();
        Depth d(*this, peek().column);
        Node n;
        n.kind = Node::Kind::Bracket;
        n.column = next().column;
        for (;;) {
            n.args.push_back(expr());
            const Token& t = peek();
            if (t.kind == Token::Kind::Semicolon) {
                next();
                if (peek().kind == Token::Kind::RBracket) {  // FileMaker allows "[ a ; b ; ]"
                    next();
                    measure(n);
                    return n;
                }
                continue;
            }
            if (t.kind == Token::Kind::RBracket) {
                next();
                measure(n);
                return n;
            }
            throw CalcError(t.column, "expected \";\" or \"]\" in the list opened at column " +
                                          std::to_string(n.column) + ", found " + describe(t));
        }
    }

    Node call() {
        Node n;
        n.kind = Node::Kind::Call;
        n.column = peek().column;
        n.text = next().value;
        if (peek().kind != Token::Kind::LParen) return n;  // a function without parameters, written without "( )"
        Depth d(*this, peek().column);
        n.parenthesized = true;
        const std::size_t open = next().column;
        if (peek().kind == Token::Kind::RParen) {
            next();
            return n;
        }
        for (;;) {
            n.args.push_back(argument());
            const Token& t = peek();
            if (t.kind == Token::Kind::Semicolon) {
                next();
                continue;
            }
            if (t.kind == Token::Kind::RParen) {
                next();
                measure(n);
                return n;
            }
            throw CalcError(t.column, "expected \";\" or \")\" in the parameters of " + n.text + " (opened at column " +
                                          std::to_string(open) + "), found " + describe(t));
        }
    }

    std::vector<Token> t_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

}  // namespace

Node parseCalc(const std::string& utf8, std::size_t columnOffset) {
    if (utf8.size() > kMaxCalcBytes) {
        // The column of the first character past the limit.
        std::size_t col = columnOffset + 1;
        for (std::size_t k = 0; k < kMaxCalcBytes; ++k)
            if ((static_cast<unsigned char>(utf8[k]) & 0xC0) != 0x80) ++col;
        throw CalcError(col, "the calculation is longer than " + std::to_string(kMaxCalcBytes) + " bytes");
    }
    return Parser(tokenize(utf8, columnOffset)).parse();
}

}  // namespace fm_host
