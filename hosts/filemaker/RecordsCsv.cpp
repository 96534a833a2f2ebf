// Records: reading the bytes of a records file as UTF-8 (byte-order marks,
// UTF-16, other encodings through iconv) and CSV rows with the line each
// begins on.
//
// The CSV reader is our own rather than libcsv's: every error has to name the
// line (and column) a user looks for in an editor, a row must be known by its
// line even when quoted fields span several, and a blank line has to stay a
// record of its own so that the merge accounts for it; libcsv reports none of
// these.
#include <errno.h>
#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <cctype>

#include "Records.h"
#include "Unicode.h"

namespace fm_host {

namespace {

// The length of the UTF-8 sequence at s[i], or 0 when it is not one.
std::size_t utf8Length(const std::string& s, std::size_t i) {
    return quill::unicode::utf8CharLength(s, i);
}

// "line L, column C" of byte offset `at` (columns count characters).
std::string position(const std::string& s, std::size_t at) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < at && i < s.size();) {
        if (s[i] == '\n' || (s[i] == '\r' && (i + 1 >= s.size() || s[i + 1] != '\n'))) {
            ++line;
            column = 1;
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(s, i);
        i += n == 0 ? 1 : n;
        ++column;
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string canonicalEncoding(const std::string& name) {
    std::string n;
    for (char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (n == "latin-1" || n == "latin1" || n == "iso-8859-1" || n == "iso8859-1") return "ISO-8859-1";
    if (n == "windows-1252" || n == "cp1252" || n == "win-1252") return "WINDOWS-1252";
    if (n == "utf-8" || n == "utf8") return "UTF-8";
    return name;
}

// An open conversion, closed with its holder on every way out.
class Converter {
public:
    explicit Converter(iconv_t cd) : cd_(cd) {}
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    explicit operator bool() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

std::string convert(const std::string& bytes, std::size_t skip, const std::string& from, const std::string& where) {
    const Converter cd(iconv_open("UTF-8", from.c_str()));
    if (!cd) throw RecordsError(where + ": the encoding " + from + " is not known (iconv --list names those that are)");
    std::string out(bytes.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data()) + skip;
    std::size_t inLeft = bytes.size() - skip;
    std::size_t done = 0;
    while (inLeft > 0) {
        char* o = out.data() + done;
        std::size_t outLeft = out.size() - done;
        const std::size_t r = iconv(cd.get(), &in, &inLeft, &o, &outLeft);
        const int error = errno;  // before anything else can change it
        done = out.size() - outLeft;
        if (r != static_cast<std::size_t>(-1)) break;
        if (error == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        out.resize(done);
        throw RecordsError(where + ", " + position(out, done) + ": the bytes are not " + from +
                           (error == EINVAL ? " (the file ends inside a character)" : ""));
    }
    out.resize(done);
    return out;
}

}  // namespace

std::string decodeText(const std::string& bytes, const std::string& where, const std::string& encoding) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return decodeText(bytes.substr(3), where, "UTF-8");
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) return convert(bytes, 2, "UTF-16LE", where);
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) return convert(bytes, 2, "UTF-16BE", where);
    const std::string from = canonicalEncoding(encoding);
    if (!from.empty() && from != "UTF-8") return convert(bytes, 0, from, where);
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = utf8Length(bytes, i);
        if (n == 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(bytes[i]));
            throw RecordsError(where + ", " + position(bytes, i) + ": the byte " + hex +
                               " is not UTF-8; if the file was saved as Windows or Latin-1 text, load it with "
                               "--encoding windows-1252 or --encoding latin-1");
        }
        if (bytes[i] == '\0')
            throw RecordsError(where + ", " + position(bytes, i) +
                               ": a NUL byte; if the file is UTF-16 without a byte-order mark, load it with "
                               "--encoding UTF-16LE");
        i += n;
    }
    return bytes;
}

char sniffDelimiter(const std::string& text) {
    std::size_t counts[3] = {0, 0, 0};  // , ; tab
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' || c == '\r') break;
        if (c == ',') ++counts[0];
        if (c == ';') ++counts[1];
        if (c == '\t') ++counts[2];
    }
    const std::size_t best = static_cast<std::size_t>(std::max_element(counts, counts + 3) - counts);
    return counts[best] == 0 ? ',' : ",;\t"[best];
}

Table parseCsv(const std::string& name, const std::string& bytes, const LoadOptions& options) {
    const std::string text = decodeText(bytes, name, options.encoding);
    const char delim = options.delimiter ? options.delimiter : sniffDelimiter(text);
    const bool trimTab = delim != '\t';
    const auto blank = [&](char c) { return c == ' ' || (trimTab && c == '\t'); };

    struct Row {
        std::size_t line;
        std::vector<std::string> fields;
    };
    std::vector<Row> rows;
    std::size_t line = 1, i = 0;
    const std::size_t n = text.size();
    const auto lineEnd = [&](std::size_t at) { return at >= n || text[at] == '\n' || text[at] == '\r'; };
    const auto skipLineEnd = [&] {
        if (i < n && text[i] == '\r') ++i;
        if (i < n && text[i] == '\n') ++i;
        ++line;
    };
    while (i < n) {
        Row row{line, {}};
        std::size_t first = i;
        while (first < n && blank(text[first])) ++first;
        if (lineEnd(first)) {  // a blank line: a record with every field empty
            i = first;
            skipLineEnd();
            rows.push_back(std::move(row));
            continue;
        }
        for (;;) {
            std::size_t k = i;
            while (k < n && blank(text[k])) ++k;
            std::string field;
            if (k < n && text[k] == '"') {
                // Only the offset is kept: turning it into a line and column means reading the
                // text from its start, which is done for the error alone, so that reading stays
                // linear in the size of the file.
                const std::size_t opened = k;
                i = k + 1;
                for (;;) {
                    if (i >= n)
                        throw RecordsError(name + ", " + position(text, opened) +
                                           ": the quote opened here is never closed");
                    const char c = text[i];
                    if (c == '"') {
                        if (i + 1 < n && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (c == '\r' || c == '\n') {  // a return inside a value is kept as CR
                        if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
                        field += '\r';
                        ++line;
                        ++i;
                        continue;
                    }
                    field += c;
                    ++i;
                }
                while (i < n && blank(text[i])) ++i;
                if (i < n && text[i] != delim && !lineEnd(i))
                    throw RecordsError(name + ", " + position(text, i) +
                                       ": text after a closing quote (a quote inside a quoted value is written \"\")");
            } else {
                while (i < n && text[i] != delim && !lineEnd(i)) ++i;
                std::size_t end = i;
                while (end > k && blank(text[end - 1])) --end;
                field = text.substr(k, end - k);
            }
            row.fields.push_back(std::move(field));
            if (i < n && text[i] == delim) {
                ++i;
                continue;
            }
            break;
        }
        if (i < n) skipLineEnd();
        rows.push_back(std::move(row));
    }
    // Blank lines at the end of the file are no records.
    while (!rows.empty() && rows.back().fields.empty()) rows.pop_back();

    Table t;
    t.name = options.table.empty() ? name : options.table;
    if (rows.empty() || rows.front().fields.empty())
        throw RecordsError(name + " is empty: it needs a header row of field names");
    t.fields = std::move(rows.front().fields);
    for (std::size_t f = 0; f < t.fields.size(); ++f) {
        if (t.fields[f].empty())
            throw RecordsError(name + ": field " + std::to_string(f + 1) + " of the header has no name");
        for (std::size_t g = 0; g < f; ++g)
            if (strcasecmp(t.fields[g].c_str(), t.fields[f].c_str()) == 0)
                throw RecordsError(name + ": the header names the field " + t.fields[f] + " twice");
    }
    const std::string delimName = delim == '\t' ? "tab" : std::string("\"") + delim + "\"";
    const bool keepRagged = !options.raggedField.empty();
    const std::size_t width = t.fields.size();
    if (keepRagged) {
        if (t.column(options.raggedField))
            throw RecordsError(name + ": the header already names the field " + options.raggedField);
        t.fields.push_back(options.raggedField);
    }
    t.rows.reserve(rows.size() - 1);
    for (std::size_t r = 1; r < rows.size(); ++r) {
        auto& row = rows[r];
        std::string why;
        if (row.fields.empty()) {
            row.fields.resize(width);
        } else if (row.fields.size() != width) {
            why = "line " + std::to_string(row.line) + ": " + std::to_string(row.fields.size()) +
                  (row.fields.size() == 1 ? " field" : " fields") + ", but the header names " + std::to_string(width) +
                  " (fields separated by " + delimName + ")";
            if (!keepRagged) throw RecordsError(name + ", " + why);
            row.fields.resize(width);
        }
        if (keepRagged) row.fields.push_back(std::move(why));
        t.rows.push_back(std::move(row.fields));
    }
    return t;
}

}  // namespace fm_host
