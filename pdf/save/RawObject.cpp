// Reading objects from a file's bytes without qpdf (see RawObject.h).
#include "RawObject.h"

#include "quill/pdf/Document.h"
#include "DocumentImpl.h"
#include "IncrementalState.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFXRefEntry.hh>

#include <cctype>
#include <cstdint>
#include <map>

namespace quill::pdf {

namespace {

constexpr int kMaxDepth = 100;

bool isWhite(unsigned char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
bool isDelimiter(unsigned char c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
           c == '%';
}
bool isRegular(unsigned char c) {
    return !isWhite(c) && !isDelimiter(c);
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::size_t RawObject::scan(std::size_t at, QPDFObjGen og, const std::function<long long(QPDFObjGen)>& lengthOf) {
    p_ = at;
    dictionary_ = false;
    stream_ = false;
    entries_.clear();
    skip();
    long long n = 0, g = 0;
    if (!unsignedInt(n) || n != og.getObj()) return 0;
    skip();
    if (!unsignedInt(g) || g != og.getGen()) return 0;
    skip();
    if (!keyword("obj")) return 0;
    body_ = p_;
    if (!value(0, true, nullptr)) return 0;
    skip();
    if (keyword("endobj")) return p_;
    if (!dictionary_ || !keyword("stream")) return 0;
    stream_ = true;
    if (p_ + 1 < b_.size() && b_[p_] == '\r' && b_[p_ + 1] == '\n')
        p_ += 2;
    else if (p_ < b_.size() && b_[p_] == '\n')
        ++p_;
    else
        return 0;
    long long length = -1;
    int lengths = 0;
    for (const Entry& e : entries_) {
        if (e.key != "/Length") continue;
        ++lengths;
        if (e.value.kind == Value::kInteger) length = e.value.integer;
        if (e.value.kind == Value::kRef) length = lengthOf(e.value.ref);
    }
    if (lengths != 1 || length < 0 || static_cast<unsigned long long>(length) > b_.size() - p_) return 0;
    p_ += static_cast<std::size_t>(length);
    while (p_ < b_.size() && isWhite(static_cast<unsigned char>(b_[p_]))) ++p_;
    if (!keyword("endstream")) return 0;
    skip();
    return keyword("endobj") ? p_ : 0;
}

void RawObject::skip() {
    while (p_ < b_.size()) {
        const auto c = static_cast<unsigned char>(b_[p_]);
        if (isWhite(c)) {
            ++p_;
        } else if (c == '%') {
            while (p_ < b_.size() && b_[p_] != '\n' && b_[p_] != '\r') ++p_;
        } else {
            break;
        }
    }
}

bool RawObject::keyword(std::string_view word) {
    if (b_.substr(p_, word.size()) != word) return false;
    const std::size_t end = p_ + word.size();
    if (end < b_.size() && isRegular(static_cast<unsigned char>(b_[end]))) return false;
    p_ = end;
    return true;
}

// Digits alone, ending where a token ends; the position is left as it was otherwise.
bool RawObject::unsignedInt(long long& v) {
    const std::size_t start = p_;
    v = 0;
    while (p_ < b_.size() && isDigit(static_cast<unsigned char>(b_[p_])) && p_ - start < 18)
        v = v * 10 + (b_[p_++] - '0');
    if (p_ == start || (p_ < b_.size() && isRegular(static_cast<unsigned char>(b_[p_])))) {
        p_ = start;
        return false;
    }
    return true;
}

std::string_view RawObject::name() {
    const std::size_t start = p_++;
    while (p_ < b_.size() && isRegular(static_cast<unsigned char>(b_[p_]))) ++p_;
    return b_.substr(start, p_ - start);
}

bool RawObject::literalString() {
    int nesting = 0;
    while (p_ < b_.size()) {
        const char c = b_[p_++];
        if (c == '\\') {
            ++p_;
        } else if (c == '(') {
            ++nesting;
        } else if (c == ')') {
            if (--nesting == 0) return true;
        }
    }
    return false;
}

// One value at the position. The top one, when a dictionary, has its own entries kept.
bool RawObject::value(int depth, bool top, Value* out) {
    if (depth > kMaxDepth) return false;
    skip();
    const std::size_t begin = p_;
    const bool ok = valueHere(depth, top, out);
    if (ok && out) {
        out->begin = begin;
        out->end = p_;
    }
    return ok;
}

bool RawObject::valueHere(int depth, bool top, Value* out) {
    if (p_ >= b_.size()) return false;
    const auto c = static_cast<unsigned char>(b_[p_]);
    if (c == '/') {
        const std::string_view n = name();
        if (out) *out = Value{Value::kName, 0, {}, n};
        return true;
    }
    if (c == '(') return literalString();
    if (c == '<') {
        if (p_ + 1 < b_.size() && b_[p_ + 1] == '<') {
            p_ += 2;
            for (;;) {
                skip();
                if (p_ + 1 < b_.size() && b_[p_] == '>' && b_[p_ + 1] == '>') {
                    p_ += 2;
                    if (top) dictionary_ = true;
                    return true;
                }
                if (p_ >= b_.size() || b_[p_] != '/') return false;
                const std::string_view key = name();
                Value v;
                if (!value(depth + 1, false, &v)) return false;
                if (top) entries_.push_back(Entry{key, v});
            }
        }
        ++p_;
        while (p_ < b_.size() && b_[p_] != '>') {
            const auto h = static_cast<unsigned char>(b_[p_]);
            if (!std::isxdigit(h) && !isWhite(h)) return false;
            ++p_;
        }
        if (p_ >= b_.size()) return false;
        ++p_;
        return true;
    }
    if (c == '[') {
        ++p_;
        for (;;) {
            skip();
            if (p_ < b_.size() && b_[p_] == ']') {
                ++p_;
                return true;
            }
            if (!value(depth + 1, false, nullptr)) return false;
        }
    }
    long long n = 0;
    const std::size_t start = p_;
    if (isDigit(c) && unsignedInt(n)) {
        const std::size_t after = p_;
        skip();
        long long g = 0;
        if (unsignedInt(g)) {
            skip();
            if (p_ < b_.size() && b_[p_] == 'R' &&
                (p_ + 1 == b_.size() || !isRegular(static_cast<unsigned char>(b_[p_ + 1]))) && n <= INT32_MAX &&
                g <= 65535) {
                ++p_;
                const QPDFObjGen og(static_cast<int>(n), static_cast<int>(g));
                refs_.push_back(og);
                if (spans_) spans_->push_back(RefSpan{start, p_, og});
                if (out) *out = Value{Value::kRef, 0, og, {}};
                return true;
            }
        }
        p_ = after;
        if (out) *out = Value{Value::kInteger, n, {}, {}};
        return true;
    }
    if (isDigit(c) || c == '+' || c == '-' || c == '.') {
        const std::size_t start = p_++;
        while (p_ < b_.size() && (isDigit(static_cast<unsigned char>(b_[p_])) || b_[p_] == '.')) ++p_;
        bool digits = false;
        for (std::size_t i = start; i < p_; ++i) digits = digits || isDigit(static_cast<unsigned char>(b_[i]));
        return digits && (p_ == b_.size() || !isRegular(static_cast<unsigned char>(b_[p_])));
    }
    return keyword("true") || keyword("false") || keyword("null");
}

bool isWholeObject(std::string_view bytes, std::size_t at, QPDFObjGen og) {
    std::vector<QPDFObjGen> refs;
    RawObject raw(bytes, refs);
    return at < bytes.size() && raw.scan(at, og, [](QPDFObjGen) { return -1LL; }) != 0;
}

struct UnreadObjects::Impl {
    std::shared_ptr<IncrementalState> state;
    std::map<QPDFObjGen, QPDFXRefEntry> xref;
    std::vector<QPDFObjGen> refs;
};

UnreadObjects::UnreadObjects(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UnreadObjects::~UnreadObjects() = default;

std::unique_ptr<UnreadObjects> UnreadObjects::of(Document& doc) {
    auto& state = DocumentAccess::impl(doc).incremental;
    if (!state || !state->bytes || doc.wasRepaired()) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->state = state;
    impl->xref = doc.qpdf().getXRefTable();
    return std::unique_ptr<UnreadObjects>(new UnreadObjects(std::move(impl)));
}

std::optional<std::vector<RawObject::Entry>> UnreadObjects::dictionary(QPDFObjGen og) {
    auto it = impl_->xref.find(og);
    if (it == impl_->xref.end() || it->second.getType() != 1) return std::nullopt;
    const qpdf_offset_t at = it->second.getOffset();
    IncrementalState& st = *impl_->state;
    if (at < 0 || static_cast<std::uint64_t>(at) >= st.size || st.reads->contains(at)) return std::nullopt;
    impl_->refs.clear();
    RawObject raw(std::string_view(st.bytes, st.size), impl_->refs);
    if (raw.scan(static_cast<std::size_t>(at), og, [](QPDFObjGen) { return -1LL; }) == 0 || !raw.isDictionary() ||
        raw.isStream())
        return std::nullopt;
    return raw.entries();
}

}  // namespace quill::pdf
