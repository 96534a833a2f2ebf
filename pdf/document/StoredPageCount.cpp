// Reading a plain file's page count from its bytes: cross-reference tables and a few dictionaries,
// tokenised in place. Every surprise is an answer of "not known", never a guess: qpdf then reads the
// tree as it always did.
#include "StoredPageCount.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace quill::pdf {

namespace {

constexpr int kMaxDepth = 32;     // nesting of arrays and dictionaries skipped over
constexpr int kMaxSections = 64;  // cross-reference sections followed through /Prev
constexpr std::size_t kEntry = 20;
constexpr std::size_t kTailWindow = 1024;  // "startxref" is looked for this near the end, as qpdf does

bool isSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool isDelimiter(char c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
           c == '%';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

class Scanner {
public:
    Scanner(std::string_view bytes, std::size_t at) : b_(bytes), p_(at) {}

    std::size_t at() const { return p_; }
    bool atEnd() const { return p_ >= b_.size(); }
    char peek(std::size_t ahead = 0) const { return p_ + ahead < b_.size() ? b_[p_ + ahead] : '\0'; }

    void skipSpace() {
        while (p_ < b_.size()) {
            if (isSpace(b_[p_])) {
                ++p_;
            } else if (b_[p_] == '%') {
                while (p_ < b_.size() && b_[p_] != '\n' && b_[p_] != '\r') ++p_;
            } else {
                break;
            }
        }
    }

    bool literal(std::string_view word) {
        if (b_.substr(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }

    // A run of regular characters (a number or keyword); empty at a delimiter or the end.
    std::string_view regular() {
        const std::size_t from = p_;
        while (p_ < b_.size() && !isSpace(b_[p_]) && !isDelimiter(b_[p_])) ++p_;
        return b_.substr(from, p_ - from);
    }

    static std::optional<long long> integer(std::string_view t) {
        if (t.empty() || t.size() > 18) return std::nullopt;
        std::size_t i = t[0] == '+' || t[0] == '-' ? 1 : 0;
        if (i == t.size()) return std::nullopt;
        long long v = 0;
        for (std::size_t k = i; k < t.size(); ++k) {
            if (!isDigit(t[k])) return std::nullopt;
            v = v * 10 + (t[k] - '0');
        }
        return t[0] == '-' ? -v : v;
    }

    std::optional<long long> unsignedNumber() {
        std::string_view t = regular();
        auto v = integer(t);
        if (!v || t[0] == '-' || t[0] == '+') return std::nullopt;
        return v;
    }

    // One name token after its '/'.
    std::string_view name() {
        ++p_;
        return regular();
    }

    // Skips one value. False on anything malformed.
    bool skipValue(int depth) {
        if (depth > kMaxDepth) return false;
        skipSpace();
        if (atEnd()) return false;
        const char c = peek();
        if (c == '/') {
            name();
            return true;
        }
        if (c == '(') return skipString();
        if (c == '<' && peek(1) == '<') return skipDictionary(depth + 1);
        if (c == '<') {
            while (p_ < b_.size() && b_[p_] != '>') ++p_;
            return literal(">");
        }
        if (c == '[') {
            long long ignored = 0;
            return skipArray(depth + 1, ignored);
        }
        std::string_view t = regular();
        if (t.empty()) return false;
        if (integer(t)) {
            // "n g R" is one value.
            Scanner ahead = *this;
            ahead.skipSpace();
            if (integer(ahead.regular())) {
                ahead.skipSpace();
                if (ahead.regular() == "R") *this = ahead;
            }
        }
        return true;
    }

    // Skips an array, counting its values in `items` (a reference "n g R" counts once). With
    // `refs`, an array of at most `keep` values that are all references has them listed there.
    bool skipArray(int depth, long long& items, std::vector<std::pair<long long, long long>>* refs = nullptr,
                   long long keep = 0) {
        if (!literal("[")) return false;
        items = 0;
        long long nums[2] = {0, 0};
        int numbersInRow = 0;  // "n g R" is three tokens and one item
        while (true) {
            skipSpace();
            if (atEnd()) return false;
            if (literal("]")) {
                if (refs && (items > keep || static_cast<long long>(refs->size()) != items)) refs->clear();
                return true;
            }
            if (isDelimiter(peek())) {
                if (!skipValue(depth)) return false;
                ++items;
                numbersInRow = 0;
                continue;
            }
            std::string_view t = regular();
            if (t.empty()) return false;
            if (t == "R") {
                if (numbersInRow < 2) return false;
                items -= 2;
                numbersInRow = 0;
                if (refs && static_cast<long long>(refs->size()) < keep) refs->emplace_back(nums[0], nums[1]);
            } else if (auto v = integer(t)) {
                nums[0] = nums[1];
                nums[1] = *v;
                ++numbersInRow;
            } else {
                numbersInRow = 0;
            }
            ++items;
        }
    }

    // A reference "n g R" (n above 0): its numbers.
    bool reference(long long& id, long long& gen) {
        auto n = unsignedNumber();
        skipSpace();
        auto g = unsignedNumber();
        skipSpace();
        if (!n || !g || *n <= 0 || regular() != "R") return false;
        id = *n;
        gen = *g;
        return true;
    }

    // From "<<" to its ">>"; `onKey` (when given) sees each key with the scanner at its value and
    // either reads the value itself (returning 1), leaves it to be skipped (0) or gives up (-1).
    template <class OnKey>
    bool walkDictionary(int depth, OnKey&& onKey) {
        if (depth > kMaxDepth || !literal("<<")) return false;
        while (true) {
            skipSpace();
            if (atEnd()) return false;
            if (literal(">>")) return true;
            if (peek() != '/') return false;
            std::string_view key = name();
            skipSpace();
            const int r = onKey(key);
            if (r < 0) return false;
            if (r == 0 && !skipValue(depth)) return false;
        }
    }

    bool skipDictionary(int depth) {
        return walkDictionary(depth, [](std::string_view) { return 0; });
    }

private:
    bool skipString() {
        int open = 0;
        while (p_ < b_.size()) {
            const char c = b_[p_++];
            if (c == '\\') {
                ++p_;
            } else if (c == '(') {
                ++open;
            } else if (c == ')' && --open == 0) {
                return true;
            }
        }
        return false;
    }

    std::string_view b_;
    std::size_t p_;
};

// The offset after the file's last "startxref".
std::optional<std::size_t> lastXref(std::string_view b) {
    const std::size_t from = b.size() > kTailWindow ? b.size() - kTailWindow : 0;
    const std::size_t at = b.substr(from).rfind("startxref");
    if (at == std::string_view::npos) return std::nullopt;
    Scanner s(b, from + at + 9);
    if (!isSpace(s.peek())) return std::nullopt;  // qpdf reads "startxref" as a token of its own
    s.skipSpace();
    auto v = s.unsignedNumber();
    if (!v || static_cast<unsigned long long>(*v) >= b.size()) return std::nullopt;
    return static_cast<std::size_t>(*v);
}

bool entryInOrder(std::string_view e) {
    for (std::size_t i = 0; i < 10; ++i)
        if (!isDigit(e[i])) return false;
    for (std::size_t i = 11; i < 16; ++i)
        if (!isDigit(e[i])) return false;
    // Each entry ends its line: " \r", " \n" or "\r\n".
    const bool eol = (e[18] == ' ' && (e[19] == '\r' || e[19] == '\n')) || (e[18] == '\r' && e[19] == '\n');
    return e[10] == ' ' && e[16] == ' ' && (e[17] == 'n' || e[17] == 'f') && eol;
}

struct Subsection {
    long long start = 0, count = 0;
    std::size_t first = 0;  // offset of its first entry
};

// The file's cross-reference tables, newest first, each checked entry by entry. Only tables
// qpdf reads without a second thought are taken: a stream section, a hybrid file, an encrypted one,
// a /Prev loop or any entry out of the fixed format makes the whole file "not plain".
class Tables {
public:
    bool read(std::string_view b) {
        b_ = b;
        auto xref = lastXref(b);
        if (!xref) return false;
        std::size_t section = *xref;
        for (int hops = 0; hops < kMaxSections; ++hops) {
            for (std::size_t seen : visited_)
                if (seen == section) return false;  // a /Prev loop
            visited_.push_back(section);
            std::optional<long long> prev;
            if (!readSection(section, prev)) return false;
            if (!prev) return rootId_ > 0 && hasSize_;
            if (*prev < 0 || static_cast<unsigned long long>(*prev) >= b.size()) return false;
            section = static_cast<std::size_t>(*prev);
        }
        return false;
    }

    // Where object id gen starts; nullopt when the newest entry for it is free or of another generation.
    std::optional<std::size_t> offset(long long id, long long gen) const {
        for (const auto& section : sections_) {
            for (const auto& sub : section) {
                if (id < sub.start || id - sub.start >= sub.count) continue;
                std::string_view e = b_.substr(sub.first + static_cast<std::size_t>(id - sub.start) * kEntry, kEntry);
                if (e[17] != 'n' || Scanner::integer(e.substr(11, 5)) != gen) return std::nullopt;
                const long long at = *Scanner::integer(e.substr(0, 10));
                if (static_cast<unsigned long long>(at) >= b_.size()) return std::nullopt;
                return static_cast<std::size_t>(at);
            }
        }
        return std::nullopt;
    }

    long long rootId() const { return rootId_; }
    long long rootGen() const { return rootGen_; }

private:
    bool readSection(std::size_t at, std::optional<long long>& prev) {
        Scanner s(b_, at);
        if (!s.literal("xref") || !isSpace(s.peek())) return false;
        std::vector<Subsection> subs;
        while (true) {
            s.skipSpace();
            if (s.literal("trailer")) break;
            auto start = s.unsignedNumber();
            s.skipSpace();
            auto count = s.unsignedNumber();
            if (!start || !count) return false;
            s.skipSpace();
            Subsection sub{*start, *count, s.at()};
            if (static_cast<unsigned long long>(sub.count) > (b_.size() - sub.first) / kEntry) return false;
            for (long long i = 0; i < sub.count; ++i)
                if (!entryInOrder(b_.substr(sub.first + static_cast<std::size_t>(i) * kEntry, kEntry))) return false;
            subs.push_back(sub);
            s = Scanner(b_, sub.first + static_cast<std::size_t>(sub.count) * kEntry);
        }
        sections_.push_back(std::move(subs));
        s.skipSpace();
        const bool newest = sections_.size() == 1;
        bool refused = false;
        const bool ok = s.walkDictionary(1, [&](std::string_view key) {
            if (key == "Encrypt" || key == "XRefStm") refused = true;
            if (key == "Prev") {
                prev = Scanner::integer(s.regular());
                return prev ? 1 : -1;
            }
            if (newest && key == "Size") {
                hasSize_ = Scanner::integer(s.regular()).has_value();
                return hasSize_ ? 1 : -1;
            }
            if (newest && key == "Root") return s.reference(rootId_, rootGen_) ? 1 : -1;
            return 0;
        });
        return ok && !refused;
    }

    std::string_view b_;
    std::vector<std::vector<Subsection>> sections_;
    std::vector<std::size_t> visited_;
    long long rootId_ = 0, rootGen_ = 0;
    bool hasSize_ = false;
};

// The dictionary of object id gen, walked with onKey (see Scanner::walkDictionary).
template <class OnKey>
bool walkObject(const Tables& t, std::string_view b, long long id, long long gen, Scanner& s, OnKey&& onKey) {
    auto at = t.offset(id, gen);
    if (!at) return false;
    s = Scanner(b, *at);
    s.skipSpace();
    if (s.unsignedNumber() != id) return false;
    s.skipSpace();
    if (s.unsignedNumber() != gen) return false;
    s.skipSpace();
    if (s.regular() != "obj") return false;
    s.skipSpace();
    return s.walkDictionary(1, onKey);
}

}  // namespace

std::optional<long long> plainPageCount(std::string_view bytes, long long maxCount, long long checkKidsUpTo) {
    // With the header further in, qpdf counts every offset from the header, not from the file's start.
    if (bytes.substr(0, 5) != "%PDF-") return std::nullopt;
    Tables t;
    if (!t.read(bytes)) return std::nullopt;
    Scanner s(bytes, 0);
    long long pagesId = 0, pagesGen = 0;
    bool refused = false;
    // The catalog: usage rights (/Perms) ask the open to look at the file through qpdf.
    if (!walkObject(t, bytes, t.rootId(), t.rootGen(), s,
                    [&](std::string_view key) {
                        if (key == "Perms") refused = true;
                        if (key != "Pages") return 0;
                        return s.reference(pagesId, pagesGen) ? 1 : -1;
                    }) ||
        refused || pagesId <= 0)
        return std::nullopt;
    std::optional<long long> count;
    std::vector<std::pair<long long, long long>> kids;
    long long nKids = -1;
    bool twice = false;
    auto countAndKids = [&](std::string_view key) {
        if (key == "Count") {
            twice = twice || count.has_value();
            count = Scanner::integer(s.regular());
            if (!count) return -1;
            Scanner ahead = s;  // "n g R": an indirect count, left to qpdf
            ahead.skipSpace();
            if (Scanner::integer(ahead.regular())) {
                ahead.skipSpace();
                if (ahead.regular() == "R") return -1;
            }
            return 1;
        }
        if (key == "Kids") {
            twice = twice || nKids >= 0;
            if (s.peek() != '[' || !s.skipArray(2, nKids, &kids, checkKidsUpTo)) return -1;
            return 1;
        }
        return 0;
    };
    if (!walkObject(t, bytes, pagesId, pagesGen, s, countAndKids) || twice || !count || nKids < 0) return std::nullopt;
    const long long c = *count;
    if (c < 0 || c > maxCount || nKids > c || (nKids == 0 && c != 0)) return std::nullopt;
    if (nKids > checkKidsUpTo) return c;
    // A small root: its kids' counts must add up to its own, as numPages checks them.
    if (static_cast<long long>(kids.size()) != nKids) return std::nullopt;
    long long sum = 0;
    for (const auto& [id, gen] : kids) {
        count.reset();
        nKids = -1;
        twice = false;
        std::vector<std::pair<long long, long long>> ignored;
        auto kidCount = [&](std::string_view key) {
            if (key == "Kids") {
                twice = twice || nKids >= 0;
                // Only a direct array is taken; qpdf reads any other form.
                if (s.peek() != '[' || !s.skipArray(2, nKids)) return -1;
                return 1;
            }
            return countAndKids(key);
        };
        if (!walkObject(t, bytes, id, gen, s, kidCount) || twice) return std::nullopt;
        if (nKids < 0) {
            sum += 1;
        } else {
            if (!count || *count < 0) return std::nullopt;
            sum += *count;
        }
    }
    return sum == c ? std::optional<long long>(c) : std::nullopt;
}

}  // namespace quill::pdf
