// A field's default appearance (/DA), read with qpdf's content tokenizer.
#include "DefaultAppearance.h"

#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <qpdf/QUtil.hh>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace quill::pdf::appearance {

std::string number(double v) {
    if (std::fabs(v) < 0.005) v = 0;
    // What QUtil::double_to_string(v, 2) gives (fixed, two decimals, trailing zeros and point
    // dropped) without the string stream it builds for every number: a drawing writes dozens.
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    if (ec != std::errc()) return QUtil::double_to_string(v, 2);
    std::string_view out(buf, static_cast<std::size_t>(end - buf));
    while (out.size() > 1 && out.back() == '0') out.remove_suffix(1);
    if (out.size() > 1 && out.back() == '.') out.remove_suffix(1);
    return std::string(out);
}

DefaultAppearance::DefaultAppearance(const std::string& da) {
    auto input = std::make_shared<BufferInputSource>("default appearance", da);
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    int lastNumber = -1;
    std::string lastName;
    for (;;) {
        auto token = tokenizer.readToken(input, "default appearance", true);
        auto type = token.getType();
        if (type == QPDFTokenizer::tt_eof || type == QPDFTokenizer::tt_bad) break;
        tokens.push_back(token.getRawValue());
        if (type == QPDFTokenizer::tt_integer || type == QPDFTokenizer::tt_real) {
            lastNumber = static_cast<int>(tokens.size()) - 1;
        } else if (type == QPDFTokenizer::tt_name) {
            lastName = token.getValue();
        } else if (token.isWord("Tf")) {
            tfAt.push_back(static_cast<int>(tokens.size()) - 1);
            font = lastName;
            sizeAt = lastNumber;
            size = lastNumber >= 0 ? std::strtod(tokens[static_cast<std::size_t>(lastNumber)].c_str(), nullptr) : 0;
        }
    }
}

std::string DefaultAppearance::withSize(double chosen) const {
    std::string out;
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        if (!out.empty()) out += ' ';
        out += static_cast<int>(k) == sizeAt ? number(chosen) : tokens[k];
    }
    return out;
}

std::string DefaultAppearance::withoutFont() const {
    std::string out;
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        bool skip = false;
        for (int at : tfAt)
            if (static_cast<int>(k) <= at && static_cast<int>(k) >= at - 2) skip = true;
        if (skip) continue;
        if (!out.empty()) out += ' ';
        out += tokens[k];
    }
    return out;
}

}  // namespace quill::pdf::appearance
