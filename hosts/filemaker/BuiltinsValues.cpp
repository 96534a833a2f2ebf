// Value-list built-ins: lists of values separated by returns. Functions that
// answer a list end every value, the last one too, with a return.
#include <algorithm>
#include <cstdint>

#include <memory>
#include <unordered_set>

#include "Builtins.h"
#include "IcuText.h"
#include "Value.h"

namespace fm_host {

namespace {

using U16 = std::u16string;
using value::splitValues;
using value::units;

std::vector<U16> slice(const std::vector<U16>& v, std::int64_t start, std::int64_t count) {
    if (start < 1) {
        count += start - 1;
        start = 1;
    }
    std::vector<U16> out;
    for (std::int64_t i = start - 1; i < static_cast<std::int64_t>(v.size()) && count > 0; ++i, --count)
        out.push_back(v[static_cast<std::size_t>(i)]);
    return out;
}

fmx::Data getValue(const BuiltinArgs& a) {
    const auto v = splitValues(units(a[0]));
    const std::int64_t n = value::integer(a[1]);
    if (n < 1 || n > static_cast<std::int64_t>(v.size())) return value::empty();
    return value::text(v[static_cast<std::size_t>(n - 1)]);
}

fmx::Data valueCount(const BuiltinArgs& a) {
    return value::number(static_cast<std::int64_t>(splitValues(units(a[0])).size()));
}

fmx::Data leftValues(const BuiltinArgs& a) {
    return value::text(value::joinValues(slice(splitValues(units(a[0])), 1, value::integer(a[1]))));
}

fmx::Data rightValues(const BuiltinArgs& a) {
    const auto v = splitValues(units(a[0]));
    const std::int64_t n = std::min<std::int64_t>(value::integer(a[1]), static_cast<std::int64_t>(v.size()));
    if (n <= 0) return value::empty();
    return value::text(value::joinValues(slice(v, static_cast<std::int64_t>(v.size()) - n + 1, n)));
}

fmx::Data middleValues(const BuiltinArgs& a) {
    return value::text(value::joinValues(slice(splitValues(units(a[0])), value::integer(a[1]), value::integer(a[2]))));
}

// The non-empty parameters, one a line, without a return after the last.
fmx::Data list(const BuiltinArgs& a) {
    U16 out;
    for (const auto& v : a.values) {
        if (value::isEmpty(v)) continue;
        if (!out.empty()) out.push_back(u'\r');
        out += v.GetAsText().View();
    }
    return value::text(out);
}

// The values of the first list that the second holds too, in the first list's order, compared without case.
fmx::Data filterValues(const BuiltinArgs& a) {
    const auto wanted = splitValues(units(a[1]));
    std::vector<U16> keepLower;
    for (const auto& w : wanted) keepLower.push_back(value::lower(w));
    std::vector<U16> out;
    for (const auto& v : splitValues(units(a[0])))
        if (std::find(keepLower.begin(), keepLower.end(), value::lower(v)) != keepLower.end()) out.push_back(v);
    return value::text(value::joinValues(out));
}

// The keys SortValues and UniqueValues compare: 1 text (the default), 2
// number, 3 date, 4 time, 5 timestamp; negative descends. Texts compare by
// the locale given (FileMaker's names: "English", "German", "Unicode_Raw", …).
struct Keys {
    std::vector<U16> values;
    std::vector<fmx::Data> keys;
    bool descending = false, numeric = false;
    std::unique_ptr<icu_text::Collation> collation;
    bool badLocale = false;

    Keys(const BuiltinArgs& a) : values(splitValues(units(a[0]))) {
        const std::int64_t type = a.size() > 1 && !value::isEmpty(a[1]) ? value::integer(a[1]) : 1;
        if (type == 0 || type < -5 || type > 5)
            throw BuiltinFailure{"the data type is 1 to 5, or -1 to -5 to sort descending"};
        descending = type < 0;
        numeric = type != 1 && type != -1;
        const std::string locale = a.size() > 2 && !value::isEmpty(a[2]) ? value::utf8(a[2]) : "English";
        collation = icu_text::Collation::forLocale(locale);
        badLocale = !collation;
        for (const auto& s : values) {
            fmx::Data d = value::text(s);
            if (type == 3 || type == -3)
                d.ConvertData(fmx::Data::kDTDate);
            else if (numeric)
                d.ConvertData(fmx::Data::kDTNumber);
            keys.push_back(d);
        }
    }
    int compare(std::size_t x, std::size_t y) const {
        return numeric ? value::compare(keys[x], keys[y]) : collation->compare(values[x], values[y]);
    }
};

fmx::Data sortValues(const BuiltinArgs& a) {
    const Keys k(a);
    if (k.badLocale) return value::textUtf8("?");
    std::vector<std::size_t> order(k.values.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        const int c = k.compare(x, y);
        return k.descending ? c > 0 : c < 0;
    });
    std::vector<U16> out;
    for (std::size_t i : order) out.push_back(k.values[i]);
    return value::text(value::joinValues(out));
}

// UniqueValues ( values ; type ; locale ): the first of each set of equal values, in their order.
fmx::Data uniqueValues(const BuiltinArgs& a) {
    const Keys k(a);
    if (k.badLocale) return value::textUtf8("?");
    std::vector<std::size_t> kept;
    std::unordered_set<std::string> seen;  // texts: the locale's sort keys
    std::vector<U16> out;
    for (std::size_t i = 0; i < k.values.size(); ++i) {
        if (k.numeric ? std::any_of(kept.begin(), kept.end(), [&](std::size_t j) { return k.compare(i, j) == 0; })
                      : !seen.insert(k.collation->key(k.values[i])).second)
            continue;
        kept.push_back(i);
        out.push_back(k.values[i]);
    }
    return value::text(value::joinValues(out));
}

}  // namespace

void addValueBuiltins(std::vector<Builtin>& t) {
    t.push_back({"GetValue", 2, 2, getValue, "GetValue ( listOfValues ; valueNumber )"});
    t.push_back({"ValueCount", 1, 1, valueCount, "ValueCount ( text )"});
    t.push_back({"LeftValues", 2, 2, leftValues, "LeftValues ( text ; numberOfValues )"});
    t.push_back({"RightValues", 2, 2, rightValues, "RightValues ( text ; numberOfValues )"});
    t.push_back({"MiddleValues", 3, 3, middleValues, "MiddleValues ( text ; startingValue ; numberOfValues )"});
    t.push_back({"List", 1, -1, list, "List ( field1 ; field2 ; … )"});
    t.push_back({"FilterValues", 2, 2, filterValues, "FilterValues ( textToFilter ; filterValues )"});
    t.push_back({"SortValues", 1, 3, sortValues, "SortValues ( values ; datatype ; locale )"});
    t.push_back({"UniqueValues", 1, 3, uniqueValues, "UniqueValues ( values ; datatype ; locale )"});
}

}  // namespace fm_host
