// What a composite field font can show, read lazily from its /ToUnicode map and /W widths.
#include "CompositeFont.h"

#include "Unicode.h"

#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <memory>

namespace quill::pdf::appearance {

namespace {

// A CMap code (a hex string's bytes, at most four) as a number; -1 when it is none.
long codeOf(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > 4) return -1;
    long v = 0;
    for (char b : bytes) v = (v << 8) | static_cast<unsigned char>(b);
    return v;
}

// The one character a destination (UTF-16BE bytes) stands for; 0 for none or several.
char32_t characterOf(const std::string& bytes) {
    auto unit = [&](std::size_t k) {
        return static_cast<char32_t>((static_cast<unsigned char>(bytes[k]) << 8) |
                                     static_cast<unsigned char>(bytes[k + 1]));
    };
    if (bytes.size() == 2) {
        char32_t u = unit(0);
        return quill::unicode::isSurrogate(u) ? 0 : u;
    }
    if (bytes.size() == 4) {
        char32_t hi = unit(0), lo = unit(2);
        if (quill::unicode::isLeadSurrogate(hi) && quill::unicode::isTrailSurrogate(lo))
            return quill::unicode::joinSurrogates(hi, lo);
    }
    return 0;
}

}  // namespace

ToUnicodeCMap::ToUnicodeCMap(const std::string& cmap) {
    auto input = std::make_shared<BufferInputSource>("ToUnicode", cmap);
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    enum { none, chars, ranges } section = none;
    std::vector<QPDFTokenizer::Token> pending;  // operands of the entry being read
    bool inArray = false;
    std::vector<std::string> array;
    auto addSingle = [&](long code, char32_t c) {
        if (code >= 0 && c >= 0x20) singles_.emplace(c, std::make_pair(order_++, code));
    };
    for (;;) {
        auto token = tokenizer.readToken(input, "ToUnicode", true);
        auto type = token.getType();
        if (type == QPDFTokenizer::tt_eof) break;
        if (type == QPDFTokenizer::tt_bad || type == QPDFTokenizer::tt_space || type == QPDFTokenizer::tt_comment)
            continue;
        if (type == QPDFTokenizer::tt_word) {
            const auto& word = token.getValue();
            section = word == "beginbfchar" ? chars : word == "beginbfrange" ? ranges : none;
            pending.clear();
            inArray = false;
            continue;
        }
        if (section == none) continue;
        if (inArray) {
            if (type == QPDFTokenizer::tt_string) {
                array.push_back(token.getValue());
                continue;
            }
            inArray = false;
            if (type != QPDFTokenizer::tt_array_close) {
                section = none;
                continue;
            }
            // lo hi [<d1> <d2> ...]: one destination a code.
            long lo = codeOf(pending[0].getValue()), hi = codeOf(pending[1].getValue());
            for (std::size_t k = 0; lo >= 0 && k < array.size() && lo + static_cast<long>(k) <= hi; ++k)
                addSingle(lo + static_cast<long>(k), characterOf(array[k]));
            pending.clear();
            continue;
        }
        if (section == ranges && type == QPDFTokenizer::tt_array_open && pending.size() == 2) {
            long lo = codeOf(pending[0].getValue()), hi = codeOf(pending[1].getValue());
            if (lo < 0 || hi < lo || hi - lo > 0xFFFF) {
                section = none;
                continue;
            }
            inArray = true;
            array.clear();
            continue;
        }
        if (type != QPDFTokenizer::tt_string) {
            pending.clear();  // not a mapping: read on from the next one
            continue;
        }
        pending.push_back(token);
        if (section == chars && pending.size() == 2) {
            addSingle(codeOf(pending[0].getValue()), characterOf(pending[1].getValue()));
            pending.clear();
        } else if (section == ranges && pending.size() == 3) {
            long lo = codeOf(pending[0].getValue()), hi = codeOf(pending[1].getValue());
            char32_t c = characterOf(pending[2].getValue());
            pending.clear();
            if (lo < 0 || hi < lo || hi - lo > 0xFFFF) {
                section = none;
                continue;
            }
            if (c) ranges_.push_back({lo, hi, c, order_++});
        }
    }
}

std::vector<long> ToUnicodeCMap::codesFor(char32_t c) const {
    std::vector<std::pair<std::size_t, long>> found;
    auto [from, to] = singles_.equal_range(c);
    for (auto it = from; it != to; ++it) found.push_back(it->second);
    if (c >= 0x20)
        for (const auto& r : ranges_)
            if (c >= r.first && static_cast<long>(c - r.first) <= r.hi - r.lo)
                found.emplace_back(r.order, r.lo + static_cast<long>(c - r.first));
    std::sort(found.begin(), found.end());
    std::vector<long> codes;
    for (auto& [order, code] : found) codes.push_back(code);
    return codes;
}

CidWidths::CidWidths(QPDFObjectHandle w) {
    if (!w.isArray()) return;
    int n = w.getArrayNItems();
    for (int k = 0; k + 1 < n;) {
        auto first = w.getArrayItem(k), second = w.getArrayItem(k + 1);
        if (!first.isInteger()) break;
        long c = static_cast<long>(first.getIntValue());
        if (second.isArray()) {
            std::size_t at = values_.size();
            for (auto& v : second.aitems()) values_.push_back(v.isNumber() ? v.getNumericValue() : 0);
            if (values_.size() > at) segments_.push_back({c, c + static_cast<long>(values_.size() - at) - 1, 0, at});
            k += 2;
        } else if (second.isInteger() && k + 2 < n && w.getArrayItem(k + 2).isNumber()) {
            long last = std::min<long>(static_cast<long>(second.getIntValue()), c + 0xFFFF);
            if (last >= c) segments_.push_back({c, last, w.getArrayItem(k + 2).getNumericValue(), std::string::npos});
            k += 3;
        } else {
            break;
        }
    }
}

std::optional<double> CidWidths::width(long cid) const {
    for (auto s = segments_.rbegin(); s != segments_.rend(); ++s)
        if (cid >= s->first && cid <= s->last)
            return s->values == std::string::npos ? s->width
                                                  : values_[s->values + static_cast<std::size_t>(cid - s->first)];
    return std::nullopt;
}

CompositeCodes::CompositeCodes(ToUnicodeCMap map, CidWidths widths, std::string cidToGid, bool identity)
    : map_(std::move(map)), widths_(std::move(widths)), cidToGid_(std::move(cidToGid)), identity_(identity) {}

std::shared_ptr<CompositeCodes> CompositeCodes::read(QPDFObjectHandle font) {
    auto encoding = font.getKey("/Encoding");
    auto descendants = font.getKey("/DescendantFonts");
    auto toUnicode = font.getKey("/ToUnicode");
    if (!encoding.isName() || encoding.getName() != "/Identity-H" || !descendants.isArray() ||
        descendants.getArrayNItems() < 1 || !toUnicode.isStream())
        return nullptr;
    auto cidFont = descendants.getArrayItem(0);
    auto descriptor = cidFont.getKey("/FontDescriptor");
    if (!descriptor.isDictionary() ||
        !(descriptor.hasKey("/FontFile2") || descriptor.hasKey("/FontFile3") || descriptor.hasKey("/FontFile")))
        return nullptr;
    auto map = cidFont.getKey("/CIDToGIDMap");
    std::string gids;
    if (map.isStream()) {
        auto data = map.getStreamData(qpdf_dl_all);
        gids.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    }
    auto data = toUnicode.getStreamData(qpdf_dl_all);
    ToUnicodeCMap cmap(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()));
    return std::shared_ptr<CompositeCodes>(
        new CompositeCodes(std::move(cmap), CidWidths(cidFont.getKey("/W")), std::move(gids), !map.isStream()));
}

bool CompositeCodes::holds(long cid) const {
    auto w = widths_.width(cid);
    if (!w || *w <= 0 || cid <= 0 || cid > 0xFFFF) return false;
    if (identity_) return true;
    auto at = static_cast<std::size_t>(cid) * 2;
    return at + 1 < cidToGid_.size() && (cidToGid_[at] != 0 || cidToGid_[at + 1] != 0);
}

const std::pair<std::string, double>* CompositeCodes::find(char32_t c) const {
    auto [it, fresh] = known_.try_emplace(c);
    if (fresh)
        for (long cid : map_.codesFor(c))
            if (holds(cid)) {
                it->second.emplace(std::string{static_cast<char>(cid >> 8), static_cast<char>(cid & 0xFF)},
                                   *widths_.width(cid));
                break;
            }
    return it->second ? &*it->second : nullptr;
}

}  // namespace quill::pdf::appearance
