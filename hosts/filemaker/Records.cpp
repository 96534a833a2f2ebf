// Records: CSV through libcsv, JSON lines through nlohmann::json.
#include "Records.h"

#include <csv.h>
#include <strings.h>

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
    std::string b = path.substr(path.find_last_of('/') + 1);
    const auto dot = b.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? b : b.substr(0, dot);
}

struct CsvState {
    std::vector<std::string> row;
    std::vector<std::vector<std::string>> rows;
};

void onField(void* s, std::size_t len, void* data) {
    static_cast<CsvState*>(data)->row.push_back(fieldText(std::string_view(static_cast<const char*>(s), len)));
}

void onRow(int, void* data) {
    auto* st = static_cast<CsvState*>(data);
    st->rows.push_back(std::move(st->row));
    st->row.clear();
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

Table parseCsv(const std::string& name, const std::string& withBom) {
    // Spreadsheets often begin UTF-8 files with a byte-order mark.
    const std::string_view text =
        withBom.compare(0, 3, "\xEF\xBB\xBF") == 0 ? std::string_view(withBom).substr(3) : std::string_view(withBom);
    csv_parser p;
    if (csv_init(&p, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) throw RecordsError("out of memory");
    CsvState st;
    const std::size_t done = csv_parse(&p, text.data(), text.size(), onField, onRow, &st);
    const bool ok = done == text.size() && csv_fini(&p, onField, onRow, &st) == 0;
    const int err = csv_error(&p);
    csv_free(&p);
    if (!ok) {
        // The line the parser stopped on.
        std::size_t line = 1;
        for (std::size_t i = 0; i < done && i < text.size(); ++i) line += text[i] == '\n';
        throw RecordsError(name + ", line " + std::to_string(line) + ": " + csv_strerror(err));
    }
    Table t;
    t.name = name;
    if (st.rows.empty()) throw RecordsError(name + " is empty: it needs a header row of field names");
    t.fields = std::move(st.rows.front());
    checkHeader(t, name);
    for (std::size_t r = 1; r < st.rows.size(); ++r) {
        auto& row = st.rows[r];
        if (row.size() > t.fields.size())
            throw RecordsError(name + ", record " + std::to_string(r) + ": " + std::to_string(row.size()) +
                               " fields, but the header names " + std::to_string(t.fields.size()));
        row.resize(t.fields.size());  // a short row leaves its last fields empty
        t.rows.push_back(std::move(row));
    }
    return t;
}

Table loadCsv(const std::string& path) {
    return parseCsv(baseName(path), readFile(path));
}

Table loadJsonLines(const std::string& path) {
    std::string text = readFile(path);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::istringstream in(text);
    Table t;
    t.name = baseName(path);
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

Table loadTable(const std::string& path) {
    if (endsWith(path, ".json") || endsWith(path, ".jsonl") || endsWith(path, ".ndjson")) return loadJsonLines(path);
    return loadCsv(path);
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

std::size_t Records::foundCount() const {
    return tables_.empty() ? 0 : tables_.front().rows.size();
}

std::size_t Records::recordNumber() const {
    return foundCount() == 0 ? 0 : tables_.front().current + 1;
}

bool Records::go(Move move) {
    Table* t = current();
    if (!t || t->rows.empty()) return false;
    switch (move) {
        case Move::First:
            t->current = 0;
            return true;
        case Move::Last:
            t->current = t->rows.size() - 1;
            return true;
        case Move::Next:
            if (t->current + 1 >= t->rows.size()) return false;
            ++t->current;
            return true;
        case Move::Previous:
            if (t->current == 0) return false;
            --t->current;
            return true;
    }
    return false;
}

bool Records::goTo(std::size_t recordNumber) {
    Table* t = current();
    if (!t || recordNumber < 1 || recordNumber > t->rows.size()) return false;
    t->current = recordNumber - 1;
    return true;
}

}  // namespace fm_host
