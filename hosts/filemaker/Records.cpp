// Records: the tables and their current records; JSON lines through
// nlohmann::json (CSV in RecordsCsv.cpp).
#include "Records.h"

#include <strings.h>

#include <csignal>
#include <filesystem>

#include <fstream>
#include <nlohmann/json.hpp>
#include <cctype>
#include <sstream>
#include <unordered_set>

namespace fm_host {

namespace {

// Returns inside a value become CR, as in a FileMaker field.
std::string fieldText(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        out.push_back(raw[i] == '\n' ? '\r' : raw[i]);
    }
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw RecordsError("cannot read the records file " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string baseName(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

bool endsWith(const std::string& s, const char* suffix) {
    const std::size_t n = std::char_traits<char>::length(suffix);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

void checkHeader(Table& t, const std::string& where) {
    if (t.fields.empty()) throw RecordsError(where + " has no header row of field names");
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < t.fields.size(); ++i) {
        std::string& f = t.fields[i];
        const auto a = f.find_first_not_of(" \t"), b = f.find_last_not_of(" \t");
        f = a == std::string::npos ? std::string() : f.substr(a, b - a + 1);
        if (f.empty()) throw RecordsError(where + ": field " + std::to_string(i + 1) + " of the header has no name");
        std::string key = f;  // names compare without case; a set keeps a wide header linear
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!seen.insert(std::move(key)).second)
            throw RecordsError(where + ": the header names the field " + f + " twice");
    }
}

}  // namespace

std::optional<std::size_t> Table::column(const std::string& field) const {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (strcasecmp(fields[i].c_str(), field.c_str()) == 0) return i;
    return std::nullopt;
}

Table loadCsv(const std::string& path, const LoadOptions& options) {
    return parseCsv(baseName(path), readFile(path), options);
}

Table loadJsonLines(const std::string& path, const LoadOptions& options) {
    std::istringstream in(decodeText(readFile(path), baseName(path), options.encoding));
    Table t;
    t.name = options.table.empty() ? baseName(path) : options.table;
    std::vector<nlohmann::ordered_json> objects;  // ordered: fields keep the order they first appear in
    std::string line;
    for (std::size_t n = 1; std::getline(in, line); ++n) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        nlohmann::ordered_json j = nlohmann::ordered_json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object())
            throw RecordsError(t.name + ", line " + std::to_string(n) + ": not a JSON object");
        for (const auto& [key, v] : j.items())
            if (!t.column(key)) t.fields.push_back(key);
        objects.push_back(std::move(j));
    }
    checkHeader(t, t.name);
    for (const auto& j : objects) {
        std::vector<std::string> row(t.fields.size());
        for (const auto& [key, v] : j.items()) {
            std::string& cell = row[*t.column(key)];
            if (v.is_string())
                cell = fieldText(v.get<std::string>());
            else if (v.is_boolean())
                cell = v.get<bool>() ? "1" : "0";
            else if (!v.is_null())
                cell = v.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        }
        t.rows.push_back(std::move(row));
    }
    return t;
}

Table loadTable(const std::string& path, const LoadOptions& options) {
    if (endsWith(path, ".json") || endsWith(path, ".jsonl") || endsWith(path, ".ndjson"))
        return loadJsonLines(path, options);
    return loadCsv(path, options);
}

void Records::add(Table table) {
    for (auto& t : tables_)
        if (strcasecmp(t.name.c_str(), table.name.c_str()) == 0) {
            t = std::move(table);
            return;
        }
    tables_.push_back(std::move(table));
}

const Table* Records::table(const std::string& name) const {
    for (const auto& t : tables_)
        if (strcasecmp(t.name.c_str(), name.c_str()) == 0) return &t;
    return nullptr;
}

std::vector<std::string> Records::names() const {
    std::vector<std::string> out;
    for (const auto& t : tables_) out.push_back(t.name);
    return out;
}

void Records::moved() const {
    if (onMove_) onMove_(recordNumber(), foundCount());
}

std::size_t Records::foundCount() const {
    return tables_.empty() ? 0 : tables_.front().rows.size();
}

std::size_t Records::recordNumber() const {
    return foundCount() == 0 ? 0 : tables_.front().current + 1;
}

namespace {
volatile std::sig_atomic_t gStopSignal = 0;
}

void Records::stopAtNextRecord(int signal) {
    gStopSignal = signal;
}

int Records::stoppedBy() {
    return gStopSignal;
}

bool Records::go(Move move) {
    Table* t = current();
    if (!t || t->rows.empty()) return false;
    if (move == Move::Next && gStopSignal != 0) return false;
    switch (move) {
        case Move::First:
            t->current = 0;
            break;
        case Move::Last:
            t->current = t->rows.size() - 1;
            break;
        case Move::Next:
            if (t->current + 1 >= t->rows.size()) {
                // Past the last record: all of them done, as far as progress goes.
                if (onMove_) onMove_(t->rows.size() + 1, t->rows.size());
                return false;
            }
            ++t->current;
            break;
        case Move::Previous:
            if (t->current == 0) return false;
            --t->current;
            break;
    }
    moved();
    return true;
}

bool Records::goTo(std::size_t recordNumber) {
    Table* t = current();
    if (!t || recordNumber < 1 || recordNumber > t->rows.size()) return false;
    t->current = recordNumber - 1;
    moved();
    return true;
}

}  // namespace fm_host
