// Record steps on a loaded table.
#include "RecordsEdit.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>
#include <sstream>

#include "Value.h"
#include "quill/csv/CsvWriter.h"

namespace fm_host::records_edit {

namespace {

// Numbers the records in the order they were loaded, the first time a step needs it.
void number(Table& t) {
    if (t.serials.size() == t.rows.size() && t.omittedSerials.size() == t.omitted.size()) return;
    t.serials.resize(t.rows.size());
    std::iota(t.serials.begin(), t.serials.end(), std::size_t{0});
    t.omittedSerials.resize(t.omitted.size());
    std::iota(t.omittedSerials.begin(), t.omittedSerials.end(), t.rows.size());
}

std::size_t nextSerial(const Table& t) {
    std::size_t n = 0;
    for (auto s : t.serials) n = std::max(n, s + 1);
    for (auto s : t.omittedSerials) n = std::max(n, s + 1);
    return n;
}

// Export Records writes what FileMaker writes: every field in quotes, a return inside a field as a
// vertical tab, each record ended by a carriage return.
constexpr quill::csv::Dialect kExport{quill::csv::Quoting::Always, '\v', "\r"};

}  // namespace

bool setField(Table& t, std::size_t column, const std::string& value) {
    if (t.rows.empty() || column >= t.fields.size()) return false;
    t.rows[t.current][column] = value;
    return true;
}

bool deleteRecord(Table& t) {
    if (t.rows.empty()) return false;
    number(t);
    t.rows.erase(t.rows.begin() + static_cast<std::ptrdiff_t>(t.current));
    t.serials.erase(t.serials.begin() + static_cast<std::ptrdiff_t>(t.current));
    if (t.current >= t.rows.size() && t.current > 0) --t.current;
    return true;
}

bool omitRecord(Table& t) {
    if (t.rows.empty()) return false;
    number(t);
    t.omitted.push_back(std::move(t.rows[t.current]));
    t.omittedSerials.push_back(t.serials[t.current]);
    t.rows.erase(t.rows.begin() + static_cast<std::ptrdiff_t>(t.current));
    t.serials.erase(t.serials.begin() + static_cast<std::ptrdiff_t>(t.current));
    if (t.current >= t.rows.size() && t.current > 0) --t.current;
    return true;
}

void newRecord(Table& t) {
    number(t);
    t.serials.push_back(nextSerial(t));
    t.rows.emplace_back(t.fields.size());
    t.current = t.rows.size() - 1;
}

void showAll(Table& t) {
    number(t);
    const std::size_t currentSerial = t.rows.empty() ? 0 : t.serials[t.current];
    for (std::size_t i = 0; i < t.omitted.size(); ++i) {
        t.rows.push_back(std::move(t.omitted[i]));
        t.serials.push_back(t.omittedSerials[i]);
    }
    t.omitted.clear();
    t.omittedSerials.clear();
    // Creation order, unsorted.
    std::vector<std::size_t> order(t.rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return t.serials[a] < t.serials[b]; });
    std::vector<std::vector<std::string>> rows;
    std::vector<std::size_t> serials;
    for (std::size_t i : order) {
        rows.push_back(std::move(t.rows[i]));
        serials.push_back(t.serials[i]);
    }
    t.rows = std::move(rows);
    t.serials = std::move(serials);
    const auto it = std::find(t.serials.begin(), t.serials.end(), currentSerial);
    t.current = it == t.serials.end() ? 0 : static_cast<std::size_t>(it - t.serials.begin());
}

void sortRecords(Table& t, const std::vector<SortKey>& keys) {
    number(t);
    std::vector<std::size_t> order(t.rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        for (const auto& k : keys) {
            const int c = value::compare(value::ofField(t.rows[a][k.column]), value::ofField(t.rows[b][k.column]));
            if (c != 0) return k.descending ? c > 0 : c < 0;
        }
        return false;
    });
    std::vector<std::vector<std::string>> rows;
    std::vector<std::size_t> serials;
    for (std::size_t i : order) {
        rows.push_back(std::move(t.rows[i]));
        serials.push_back(t.serials[i]);
    }
    t.rows = std::move(rows);
    t.serials = std::move(serials);
    t.current = 0;  // FileMaker shows the first record of a sorted set
}

void exportCsv(const Table& t, const std::string& path, bool fieldNames) {
    quill::csv::CsvWriter csv(kExport);
    if (fieldNames) csv.record(t.fields);
    for (const auto& r : t.rows) csv.record(r);
    const std::string& bytes = csv.bytes();

    const std::string tmp = path + ".export-" + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int err = errno;
        throw RecordsError("cannot write " + path + ": " + std::strerror(err));
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool synced = done == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    std::ifstream in(tmp, std::ios::binary);
    std::ostringstream back;
    back << in.rdbuf();
    if (!synced || back.str() != bytes || std::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        std::remove(tmp.c_str());
        throw RecordsError("cannot write " + path + (synced ? ": " + why : ": the file did not read back as written"));
    }
}

}  // namespace fm_host::records_edit
