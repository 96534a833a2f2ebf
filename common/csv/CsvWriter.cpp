#include "quill/csv/CsvWriter.h"

namespace quill::csv {

std::string field(std::string_view value, const Dialect& dialect) {
    const bool quoted = dialect.quoting == Quoting::Always ||
                        value.find_first_of(",\"\r\n") != std::string_view::npos ||
                        (dialect.quoting == Quoting::NeededOrEmpty && value.empty());
    if (!quoted) return std::string(value);
    std::string out = "\"";
    for (char c : value) {
        if (c == '"')
            out += "\"\"";
        else if ((c == '\r' || c == '\n') && dialect.lineBreakAs != 0)
            out += dialect.lineBreakAs;
        else
            out += c;
    }
    return out + "\"";
}

CsvWriter& CsvWriter::add(std::string_view value) {
    if (!first_) bytes_ += ',';
    bytes_ += field(value, dialect_);
    first_ = false;
    return *this;
}

CsvWriter& CsvWriter::end() {
    bytes_ += dialect_.recordEnd;
    first_ = true;
    return *this;
}

}  // namespace quill::csv
