// Records: the tables a script works through — loaded from a CSV file (a
// header row of field names, quoted fields with embedded returns, `,` `;` or
// tab between fields) or a JSON-lines file (one object a line) — and the
// current record of each.
//
// Text is UTF-8 unless a byte-order mark says UTF-16 (LE or BE) or the
// caller names another encoding (converted with iconv); bytes that are not
// UTF-8 stop the load with their line and column. A table is named after its
// file ("members.csv" → members) unless named otherwise; its fields are read
// in calculations as members::Name. Values hold returns as CR, the way
// FileMaker keeps them in fields.
#pragma once

#include <cstddef>
#include <functional>
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

struct LoadOptions {
    std::string encoding;  // of a file without a byte-order mark; empty: UTF-8 (any iconv name, latin-1, …)
    char delimiter = 0;    // of a CSV file; 0: the one of `,` `;` tab the header line uses most
    std::string table;     // the table's name; empty: the file's name without its extension
    // Empty: a CSV row with more or fewer fields than the header stops the load. Otherwise the
    // row is kept, cut or padded to the header, and the table gains a last field of this name
    // holding why ("line 37: 5 fields, but the header names 6 …"), empty for every sound row.
    std::string raggedField;
};

// Throw RecordsError naming the file and, for a bad row, its line.
Table loadCsv(const std::string& path, const LoadOptions& options = {});
Table loadJsonLines(const std::string& path, const LoadOptions& options = {});
// By extension: .json, .jsonl and .ndjson are JSON lines, anything else CSV.
Table loadTable(const std::string& path, const LoadOptions& options = {});
// CSV from memory (for tests): `name` becomes the table's name (unless options name one).
Table parseCsv(const std::string& name, const std::string& bytes, const LoadOptions& options = {});
// The bytes of a records file as UTF-8: a byte-order mark decides, else
// `encoding`, else they must be UTF-8 already. `where` names the file in errors.
std::string decodeText(const std::string& bytes, const std::string& where, const std::string& encoding);
// The delimiter a CSV header line uses most, outside quotes (`,` when none).
char sniffDelimiter(const std::string& utf8);

class Records {
public:
    // The first table added is the one Go to Record and Get ( FoundCount ) work on.
    void add(Table table);
    bool empty() const { return tables_.empty(); }
    const Table* table(const std::string& name) const;
    Table* table(const std::string& name) { return const_cast<Table*>(static_cast<const Records&>(*this).table(name)); }
    std::vector<std::string> names() const;
    // Called after every move of the current record (for progress); arguments: record number, found count.
    void onMove(std::function<void(std::size_t, std::size_t)> observer) { onMove_ = std::move(observer); }
    Table* current() { return tables_.empty() ? nullptr : &tables_.front(); }
    const Table* current() const { return tables_.empty() ? nullptr : &tables_.front(); }
    std::size_t foundCount() const;
    std::size_t recordNumber() const;  // 1-based; 0 when there is no record

    enum class Move { First, Last, Next, Previous };
    // false when the move leaves the found set (the record stays where it was).
    bool go(Move move);
    bool goTo(std::size_t recordNumber);

    // From a signal handler: the next "Go to Record [ Next ]" answers as past the last record, so
    // that a script looping over the records finishes the one in hand and goes on after its loop.
    static void stopAtNextRecord(int signal);
    // The signal that ended the found set early, or 0.
    static int stoppedBy();

private:
    void moved() const;
    std::vector<Table> tables_;
    std::function<void(std::size_t, std::size_t)> onMove_;
};

}  // namespace fm_host
