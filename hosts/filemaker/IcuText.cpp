// ICU behind the calculation language's text rules.
#include "IcuText.h"

#include "Unicode.h"

#include <strings.h>
#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace fm_host::icu_text {

namespace {

icu::UnicodeString us(std::u16string_view s) {
    return icu::UnicodeString(false, s.data(), static_cast<int32_t>(s.size()));  // read-only alias
}

std::u16string back(const icu::UnicodeString& u) {
    return std::u16string(reinterpret_cast<const char16_t*>(u.getBuffer()), static_cast<std::size_t>(u.length()));
}

UChar32 at(std::u16string_view s, std::size_t i) {
    UChar32 c = 0;
    U16_GET(s.data(), 0, static_cast<int32_t>(i), static_cast<int32_t>(s.size()), c);
    return c;
}

UChar32 before(std::u16string_view s, std::size_t i) {
    UChar32 c = 0;
    auto k = static_cast<int32_t>(i);
    U16_PREV(s.data(), 0, k, c);
    return c;
}

bool wordChar(UChar32 c) {
    return u_isalnum(c) || u_hasBinaryProperty(c, UCHAR_IDEOGRAPHIC) || u_charType(c) == U_NON_SPACING_MARK ||
           u_charType(c) == U_COMBINING_SPACING_MARK;
}

class IcuCollation : public Collation {
public:
    explicit IcuCollation(std::unique_ptr<icu::Collator> c) : c_(std::move(c)) {}
    int compare(std::u16string_view a, std::u16string_view b) const override {
        UErrorCode err = U_ZERO_ERROR;
        return c_->compare(us(a), us(b), err);
    }
    std::string key(std::u16string_view s) const override {
        const icu::UnicodeString u = us(s);
        std::string k(64, '\0');
        for (;;) {
            const int32_t n = c_->getSortKey(u, reinterpret_cast<uint8_t*>(k.data()), static_cast<int32_t>(k.size()));
            if (n <= static_cast<int32_t>(k.size())) {
                k.resize(static_cast<std::size_t>(n));
                return k;
            }
            k.resize(static_cast<std::size_t>(n));
        }
    }

private:
    std::unique_ptr<icu::Collator> c_;
};

// Code points in order, case and accents distinct: FileMaker's "Unicode_Raw".
class RawCollation : public Collation {
public:
    int compare(std::u16string_view a, std::u16string_view b) const override {
        return us(a).compareCodePointOrder(us(b));
    }
    std::string key(std::u16string_view s) const override {
        return std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(char16_t));
    }
};

// FileMaker's locale names and the ICU locale each stands for.
struct LocaleName {
    const char* fileMaker;
    const char* icu;
};
const LocaleName kLocales[] = {
    {"Arabic", "ar"},
    {"Bengali", "bn"},
    {"Bulgarian", "bg"},
    {"Catalan", "ca"},
    {"Catalog", "en"},
    {"Croatian", "hr"},
    {"Czech", "cs"},
    {"Danish", "da"},
    {"Dutch", "nl"},
    {"English", "en"},
    {"Estonian", "et"},
    {"Finnish", "fi"},
    {"Finnish_Custom", "fi"},
    {"French", "fr"},
    {"German", "de"},
    {"German_Dictionary", "de@collation=phonebook"},
    {"Greek", "el"},
    {"Hebrew", "he"},
    {"Hindi", "hi"},
    {"Hungarian", "hu"},
    {"Icelandic", "is"},
    {"Italian", "it"},
    {"Japanese", "ja"},
    {"Korean", "ko"},
    {"Latvian", "lv"},
    {"Lithuanian", "lt"},
    {"Marathi", "mr"},
    {"Norwegian", "nb"},
    {"Panjabi", "pa"},
    {"Persian", "fa"},
    {"Polish", "pl"},
    {"Portuguese", "pt"},
    {"Romanian", "ro"},
    {"Russian", "ru"},
    {"Slovak", "sk"},
    {"Slovenian", "sl"},
    {"Spanish", "es"},
    {"Spanish_Traditional", "es@collation=traditional"},
    {"Swedish", "sv"},
    {"Swedish_Custom", "sv"},
    {"Tamil", "ta"},
    {"Telugu", "te"},
    {"Thai", "th"},
    {"Turkish", "tr"},
    {"Ukrainian", "uk"},
    {"Unicode_Standard", "root"},
    {"Urdu", "ur"},
    {"Vietnamese", "vi"},
    {"Chinese_Pinyin", "zh@collation=pinyin"},
    {"Chinese_Stroke", "zh@collation=stroke"},
};

}  // namespace

std::u16string upper(std::u16string_view s) {
    icu::UnicodeString u(s.data(), static_cast<int32_t>(s.size()));
    return back(u.toUpper(icu::Locale::getRoot()));
}

std::u16string lower(std::u16string_view s) {
    icu::UnicodeString u(s.data(), static_cast<int32_t>(s.size()));
    return back(u.toLower(icu::Locale::getRoot()));
}

std::u16string fold(std::u16string_view s) {
    UErrorCode err = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(err);
    icu::UnicodeString u =
        U_SUCCESS(err) ? nfc->normalize(us(s), err) : icu::UnicodeString(s.data(), static_cast<int32_t>(s.size()));
    if (U_FAILURE(err)) u = icu::UnicodeString(s.data(), static_cast<int32_t>(s.size()));
    u.foldCase(U_FOLD_CASE_DEFAULT);
    return back(u);
}

std::u16string foldSimple(std::u16string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        UChar32 c = 0;
        U16_NEXT(s.data(), i, s.size(), c);
        const UChar32 f = u_foldCase(c, U_FOLD_CASE_DEFAULT);
        if (f >= 0x10000) {
            out.push_back(static_cast<char16_t>(U16_LEAD(f)));
            out.push_back(static_cast<char16_t>(U16_TRAIL(f)));
        } else {
            out.push_back(static_cast<char16_t>(f));
        }
    }
    return out;
}

std::vector<std::pair<std::size_t, std::size_t>> words(std::u16string_view s) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    if (s.empty()) return out;
    UErrorCode err = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), err));
    if (U_FAILURE(err) || !it) return out;
    const icu::UnicodeString text = us(s);
    it->setText(text);
    // ICU's segments: keep those holding a letter or digit, and join the
    // ones FileMaker keeps together.
    std::int32_t start = it->first();
    for (std::int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
        const auto a = static_cast<std::size_t>(start), b = static_cast<std::size_t>(end);
        bool any = false;
        for (std::size_t i = a; i < b; i = quill::unicode::isLeadSurrogate(s[i]) ? i + 2 : i + 1)
            any = any || wordChar(at(s, i));
        if (!any) continue;
        if (!out.empty() && out.back().second + 1 == a && a < s.size()) {
            // "3.5", "1,000": the separator between digits; "don't": the apostrophe between letters.
            const char16_t sep = s[a - 1];
            const UChar32 l = before(s, a - 1), r = at(s, a);
            if (((sep == u'.' || sep == u',') && u_isdigit(l) && u_isdigit(r)) ||
                ((sep == u'\'' || sep == u'\u2019') && u_isalpha(l) && u_isalpha(r))) {
                out.back().second = b;
                continue;
            }
        }
        out.emplace_back(a, b);
    }
    return out;
}

std::unique_ptr<Collation> Collation::forLocale(const std::string& name) {
    if (strcasecmp(name.c_str(), "Unicode_Raw") == 0) return std::make_unique<RawCollation>();
    std::string icuName;
    for (const auto& l : kLocales)
        if (strcasecmp(l.fileMaker, name.c_str()) == 0) icuName = l.icu;
    if (icuName.empty()) {
        // An ICU locale name: accepted only when ICU has data for its language.
        const icu::Locale probe(name.c_str());
        if (probe.isBogus() || !*probe.getLanguage()) return nullptr;
        int32_t count = 0;
        const icu::Locale* avail = icu::Collator::getAvailableLocales(count);
        const bool known = std::any_of(avail, avail + count, [&](const icu::Locale& l) {
            return strcasecmp(l.getLanguage(), probe.getLanguage()) == 0;
        });
        if (!known) return nullptr;
        icuName = name;
    }
    UErrorCode err = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(icu::Locale::createCanonical(icuName.c_str()), err));
    if (U_FAILURE(err) || !c) return nullptr;
    c->setStrength(icu::Collator::SECONDARY);  // without regard to case, as FileMaker sorts
    return std::make_unique<IcuCollation>(std::move(c));
}

}  // namespace fm_host::icu_text
