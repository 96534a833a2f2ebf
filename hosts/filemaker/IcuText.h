// Text rules of the calculation language through ICU: case mapping, the case
// folding and normalisation "=" compares with, word breaks and collation by
// FileMaker's locale names.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fm_host::icu_text {

std::u16string upper(std::u16string_view s);
std::u16string lower(std::u16string_view s);
// Canonical composition, then full case folding: "ß" = "SS", "Ａ" = "ａ", "Ա" = "ա".
std::u16string fold(std::u16string_view s);
// Simple case folding, character by character: as many characters as `s`
// (for searches that answer positions).
std::u16string foldSimple(std::u16string_view s);

// The words of a text as [begin, end) offsets in UTF-16 units, by ICU's word
// breaks; FileMaker's rules on top: a word holds letters or digits, and "."
// or "," between two digits, or an apostrophe between two letters, stays inside it.
std::vector<std::pair<std::size_t, std::size_t>> words(std::u16string_view s);

// Orders texts for a FileMaker locale name ("English", "German", "Swedish",
// "Unicode_Raw", "Unicode_Standard", …, or an ICU locale such as "de_DE").
class Collation {
public:
    // False (and no collation) when the name is not a locale FileMaker or ICU knows.
    static std::unique_ptr<Collation> forLocale(const std::string& name);
    virtual ~Collation() = default;
    // Negative, zero or positive; zero for texts equal at the locale's primary/secondary strength.
    virtual int compare(std::u16string_view a, std::u16string_view b) const = 0;
    // Bytes equal exactly when compare answers zero (for finding duplicates in linear time).
    virtual std::string key(std::u16string_view s) const = 0;
};

}  // namespace fm_host::icu_text
