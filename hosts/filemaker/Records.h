// Records: the tables a script works through — loaded from a CSV file (UTF-8,
// a header row of field names, quoted fields with embedded returns) or a
// JSON-lines file (one object a line) — and the current record of each.
//
// A table is named after its file ("members.csv" → members); its fields are
// read in calculations as members::Name. Values hold returns as CR, the way
// FileMaker keeps them in fields.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fm_host {

struct Table {
    std::string name;
    std::vector<std::string> fields;
    std::vector<std::vector<std::string>> rows;  // each as long as `fields`
    std::size_t current = 0;                     // 0-based; meaningful when rows is not empty
    // Kept by the record steps (RecordsEdit): the records left out of the
    // found set, and each record's creation number, rows' and omitted's alike.
    std::vector<std::vector<std::string>> omitted;
    std::vector<std::size_t> serials, omittedSerials;

    // The column of a field (ignoring case), or none.
    std::optional<std::size_t> column(const std::string& field) const;
};

class RecordsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throw RecordsError naming the file and, for a bad row, its line.
Table loadCsv(const std::string& path);
Table loadJsonLines(const std::string& path);
// By extension: .json, .jsonl and .ndjson are JSON lines, anything else CSV.
Table loadTable(const std::string& path);
// CSV from memory (for tests): `name` becomes the table's name.
Table parseCsv(const std::string& name, const std::string& text);

class Records {
public:
    // The first table added is the one Go to Record and Get ( FoundCount ) work on.
    void add(Table table);
    bool empty() const { return tables_.empty(); }
    const Table* table(const std::string& name) const;
    Table* table(const std::string& name) { return const_cast<Table*>(static_cast<const Records&>(*this).table(name)); }
    Table* current() { return tables_.empty() ? nullptr : &tables_.front(); }
    const Table* current() const { return tables_.empty() ? nullptr : &tables_.front(); }
    std::size_t foundCount() const;
    std::size_t recordNumber() const;  // 1-based; 0 when there is no record

    enum class Move { First, Last, Next, Previous };
    // false when the move leaves the found set (the record stays where it was).
    bool go(Move move);
    bool goTo(std::size_t recordNumber);

private:
    std::vector<Table> tables_;
};

}  // namespace fm_host
