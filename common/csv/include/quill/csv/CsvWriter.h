// Writes CSV text in memory; the caller decides where the bytes go and how
// they are saved. Readers differ in what they expect, so the quoting, what a
// line break inside a field becomes and how a record ends are a Dialect:
// kRfc4180 is the common one (quotes only where needed, CRLF between
// records); the others are named by the files that use them.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quill::csv {

enum class Quoting {
    Needed,         // a field with a comma, a quote, CR or LF
    NeededOrEmpty,  // and an empty one, so that a reader can tell "" from a missing field
    Always,
};

struct Dialect {
    Quoting quoting = Quoting::Needed;
    char lineBreakAs = 0;  // what each CR and LF inside a field becomes; 0 keeps them
    std::string_view recordEnd = "\r\n";
};

inline constexpr Dialect kRfc4180{};

// One field as the dialect writes it.
std::string field(std::string_view value, const Dialect& dialect = kRfc4180);

class CsvWriter {
public:
    explicit CsvWriter(const Dialect& dialect = kRfc4180) : dialect_(dialect) {}

    // The next field of the current record.
    CsvWriter& add(std::string_view value);
    // The current record's end.
    CsvWriter& end();
    // A whole record: its fields, then its end.
    template <class Values>
    CsvWriter& record(const Values& values) {
        for (const auto& v : values) add(v);
        return end();
    }
    CsvWriter& record(std::initializer_list<std::string_view> values) { return record<>(values); }

    const std::string& bytes() const { return bytes_; }

private:
    Dialect dialect_;
    std::string bytes_;
    bool first_ = true;  // no field yet in the current record
};

}  // namespace quill::csv
