// quill-merge-plan: what merge.sh merges, worked out before the merge starts. Reads the form's
// fields (with qpdf) and the CSV (with filemaker-host's own records reader), matches columns to
// fields, and writes the table merge.fmscript runs over: one row a record with its number, file
// name, name as shown, document title, load error, and each field's value as the form takes it.
//
//   quill-merge-plan --form FORM.pdf --records FILE.csv --table OUT.csv [--map MAP.csv] [--jobs N]
//                    [--title PREFIX] [--encoding ENC] [--delimiter D] [--strict] [--resume DIR]
//
// A column whose header is a field's full name fills that field (the same name in another case
// too, when only one field has it); MAP.csv (header `column,field`) maps the others. Check boxes
// and radio groups take a state name or its export value, compared without case as FileMaker
// compares text; a check box with one "on" state also takes yes/no, true/false, 1/0, x, on/off.
// A row with more or fewer fields than the header is a record that fails with its line, unless
// --strict, when it stops the load. With --jobs N the records go to N tables (OUT-1.csv …), in
// runs of consecutive records. --resume DIR leaves out the records an earlier merge into DIR
// finished: written with a file that reads back as a PDF, skipped or failed (its .merge-log).
//
// Standard output: the script's parameters, one a line ("count\tN", "width\tW", "field\tNAME" a
// field in the order of the table's v1, v2, … columns); standard error: the warnings (columns that
// fill no field, fields no column fills). OUT.files: every file name the merge may write, one a
// line. Exit status: 0, or 2 when the form, CSV or map cannot be used (one line says why).
#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "IcuText.h"
#include "Records.h"
#include "quill/csv/CsvWriter.h"

namespace {

constexpr int kNameLength = 48;  // characters of the name in a file name
constexpr const char* kRaggedField = "_row_error";

struct Field {
    std::string name;
    enum Kind { Text, Check, Radio, Choice, Other } kind = Text;
    std::vector<std::pair<std::string, std::string>> states;  // name, export value
};

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The text as filemaker-host's "=" compares it: composed, then case folded.
std::string folded(const std::string& s) {
    const auto u = icu::UnicodeString::fromUTF8(s);
    const std::u16string f = fm_host::icu_text::fold(
        std::u16string_view(reinterpret_cast<const char16_t*>(u.getBuffer()), static_cast<std::size_t>(u.length())));
    std::string out;
    icu::UnicodeString(f.data(), static_cast<int32_t>(f.size())).toUTF8String(out);
    return out;
}

std::vector<Field> readForm(const std::string& path) {
    QPDF q;
    try {
        q.processFile(path.c_str());
    } catch (const std::exception& e) {
        throw Failure("cannot read the form " + path + ": " + e.what());
    }
    QPDFAcroFormDocumentHelper forms(q);
    std::vector<Field> fields;
    std::map<std::string, std::size_t> seen;
    // qpdf answers a radio group's widgets one by one, each under the group's name: their states
    // are gathered into one field.
    for (auto& f : forms.getFormFields()) {
        const std::string name = f.getFullyQualifiedName();
        if (!seen.count(name)) {
            seen[name] = fields.size();
            fields.push_back(Field{name, Field::Text, {}});
        }
        Field& field = fields[seen[name]];
        if (f.isCheckbox() || f.isRadioButton()) {
            field.kind = f.isCheckbox() ? Field::Check : Field::Radio;
            auto opt = f.getInheritableFieldValue("/Opt");
            std::size_t i = 0;
            // The widgets: the field's kids, or the field itself when it is its own widget.
            std::vector<QPDFObjectHandle> widgets;
            auto kids = f.getObjectHandle().getKey("/Kids");
            if (kids.isArray())
                for (int k = 0; k < kids.getArrayNItems(); ++k) widgets.push_back(kids.getArrayItem(k));
            else
                widgets.push_back(f.getObjectHandle());
            for (auto& w : widgets) {
                auto ap = w.getKey("/AP");
                auto normal = ap.isDictionary() ? ap.getKey("/N") : QPDFObjectHandle::newNull();
                std::string state;
                if (normal.isDictionary())
                    for (const auto& key : normal.getKeys())
                        if (key != "/Off") state = key.substr(1);
                std::string exportValue = state;
                if (opt.isArray() && static_cast<int>(i) < opt.getArrayNItems() &&
                    opt.getArrayItem(static_cast<int>(i)).isString())
                    exportValue = opt.getArrayItem(static_cast<int>(i)).getUTF8Value();
                ++i;
                if (state.empty()) continue;
                if (std::none_of(field.states.begin(), field.states.end(), [&](auto& s) { return s.first == state; }))
                    field.states.emplace_back(state, exportValue);
            }
        } else if (f.isText()) {
            field.kind = Field::Text;
        } else if (f.isChoice()) {
            field.kind = Field::Choice;
        } else {
            field.kind = Field::Other;  // push buttons and signatures take no value
        }
    }
    if (fields.empty()) throw Failure("the form " + path + " has no fields to fill");
    return fields;
}

// The value a button field takes for `v`: a state, Off, or `v` itself (the host's call then
// fails and names the field's states).
std::string buttonValue(const Field& f, const std::string& v) {
    const std::string key = folded(v);
    if (v.empty() || key == "off") return "Off";
    for (const auto& [state, exportValue] : f.states)
        if (folded(state) == key || folded(exportValue) == key) return state;
    if (f.kind == Field::Check && f.states.size() == 1) {
        for (const char* yes : {"yes", "true", "1", "x", "on", "checked"})
            if (key == yes) return f.states.front().first;
        for (const char* no : {"no", "false", "0", "unchecked"})
            if (key == no) return "Off";
    }
    return v;
}

// Control characters (a line break too) show as spaces; the ends trimmed.
std::string shown(const std::string& s) {
    std::string out;
    for (char c : s) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
    const auto a = out.find_first_not_of(' '), b = out.find_last_not_of(' ');
    return a == std::string::npos ? std::string() : out.substr(a, b - a + 1);
}

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
        s.replace(at, from.size(), to);
}

// At most `limit` characters, cut where one user-perceived character ends (ICU's grapheme
// clusters): a family emoji or a letter with its accents is kept whole or left out whole.
std::string cutAtCluster(const std::string& s, int limit) {
    const auto u = icu::UnicodeString::fromUTF8(s);
    if (u.countChar32() <= limit) return s;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    int32_t end = 0;
    if (U_SUCCESS(status)) {
        it->setText(u);
        for (int32_t b = it->first(); b != icu::BreakIterator::DONE; b = it->next()) {
            if (u.countChar32(0, b) > limit) break;
            end = b;
        }
    }
    std::string out;
    u.tempSubString(0, end).toUTF8String(out);
    return out;
}

std::string safeName(const std::string& name) {
    std::string s = name;
    for (const char* c : {" ", "/", "\\", ":", "|"}) replaceAll(s, c, "-");
    for (const char* c : {"\"", "*", "?", "<", ">", ",", "'"}) replaceAll(s, c, "");
    while (s.find("--") != std::string::npos) replaceAll(s, "--", "-");
    s = cutAtCluster(s, kNameLength);
    while (!s.empty() && (s[0] == '.' || s[0] == '-')) s.erase(0, 1);
    return s;
}

// The table's fields: an empty one in quotes, so that no row can read as a blank line (a record
// with no fields), and a return inside one as LF, the line end the table uses.
constexpr quill::csv::Dialect kTable{quill::csv::Quoting::NeededOrEmpty, '\n', "\n"};

std::string csvField(const std::string& s) {
    return quill::csv::field(s, kTable);
}

// The file names an earlier merge into `dir` finished, from its log: written ones whose file reads
// back as a PDF with a page, skipped and failed ones.
std::set<long> finishedIn(const std::string& dir) {
    std::set<long> done;
    std::ifstream log(dir + "/.merge-log");
    std::string line;
    while (std::getline(log, line)) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_object() || !j.contains("n")) continue;
        const long n = j.value("n", 0L);
        const std::string status = j.value("status", "");
        if (status == "written") {
            try {
                QPDF q;
                q.processFile((dir + "/" + j.value("file", "")).c_str());
                if (QPDFPageDocumentHelper(q).getAllPages().empty()) continue;
            } catch (const std::exception&) {
                continue;
            }
        } else if (status != "skipped" && status != "failed") {
            continue;
        }
        done.insert(n);
    }
    return done;
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

int plan(int argc, char** argv) {
    std::string form, records, table, map, title, encoding, delimiter, resume;
    bool strict = false;
    long jobs = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw Failure(a + " needs a value");
            return argv[++i];
        };
        const std::map<std::string, std::string*> valued = {
            {"--form", &form},   {"--records", &records},   {"--table", &table},         {"--map", &map},
            {"--title", &title}, {"--encoding", &encoding}, {"--delimiter", &delimiter}, {"--resume", &resume}};
        if (const auto it = valued.find(a); it != valued.end())
            *it->second = next();
        else if (a == "--jobs")
            jobs = std::max(1L, std::strtol(next().c_str(), nullptr, 10));
        else if (a == "--strict")
            strict = true;
        else
            throw Failure("unknown argument " + a);
    }
    if (form.empty() || records.empty() || table.empty()) throw Failure("--form, --records and --table are needed");

    const std::vector<Field> fields = readForm(form);
    fm_host::LoadOptions options;
    options.encoding = encoding;
    if (delimiter == "tab" || delimiter == "\\t") delimiter = "\t";
    options.delimiter = delimiter.empty() ? 0 : delimiter[0];
    options.table = "members";
    if (!strict) options.raggedField = kRaggedField;
    fm_host::Table t;
    try {
        t = fm_host::loadTable(records, options);
    } catch (const fm_host::RecordsError& e) {
        throw Failure(e.what());
    }
    const std::size_t columns = t.fields.size() - (strict ? 0 : 1);

    auto fieldNamed = [&](const std::string& name, bool anyCase) -> const Field* {
        for (const auto& f : fields)
            if (f.name == name) return &f;
        if (!anyCase) return nullptr;
        const Field* found = nullptr;
        for (const auto& f : fields)
            if (folded(f.name) == folded(name)) {
                if (found) return nullptr;  // two fields differ only in case: the column names neither
                found = &f;
            }
        return found;
    };
    // column index → field, from the map first, then by name.
    std::map<std::size_t, const Field*> fills;
    if (!map.empty()) {
        fm_host::Table m;
        try {
            m = fm_host::loadCsv(map);
        } catch (const fm_host::RecordsError& e) {
            throw Failure(e.what());
        }
        const auto col = m.column("column"), fld = m.column("field");
        if (!col || !fld) throw Failure(map + ": the header must be column,field");
        for (const auto& row : m.rows) {
            const std::string& c = row[*col];
            const std::string& f = row[*fld];
            if (c.empty() && f.empty()) continue;
            const auto column = t.column(c);
            if (!column || *column >= columns)
                throw Failure(map + ": the map names the column " + c + ", which " + records + " does not have");
            const Field* field = fieldNamed(f, false);
            if (!field) throw Failure(map + ": the map names the field " + f + ", which the form does not have");
            fills[*column] = field;
        }
    }
    std::vector<std::string> unused;
    for (std::size_t c = 0; c < columns; ++c) {
        if (fills.count(c)) continue;
        if (const Field* f = fieldNamed(t.fields[c], true))
            fills[c] = f;
        else
            unused.push_back(t.fields[c]);
    }
    std::set<std::string> filled;
    for (const auto& [c, f] : fills) {
        if (f->kind == Field::Other)
            throw Failure("the column " + t.fields[c] + " names " + f->name + ", a field that takes no value");
        filled.insert(f->name);
    }
    std::vector<std::string> unfilled;
    for (const auto& f : fields)
        if (f.kind != Field::Other && !filled.count(f.name)) unfilled.push_back(f.name);
    if (!unused.empty()) std::cerr << "columns that fill no field: " << joined(unused) << "\n";
    if (!unfilled.empty()) std::cerr << "fields no column fills: " << joined(unfilled) << "\n";

    // The name: the column Name, else every column with "name" in its header, in their order.
    std::vector<std::size_t> nameColumns;
    if (const auto c = t.column("Name"); c && *c < columns)
        nameColumns.push_back(*c);
    else
        for (std::size_t c = 0; c < columns; ++c)
            if (folded(t.fields[c]).find("name") != std::string::npos) nameColumns.push_back(c);

    const std::size_t count = t.rows.size();
    const int width = static_cast<int>(std::to_string(count).size());
    const std::set<long> done = resume.empty() ? std::set<long>{} : finishedIn(resume);
    std::vector<std::string> header = {"_n", "_file", "_shown", "_title", "_error", "_skip"};
    for (std::size_t k = 1; k <= fills.size(); ++k) header.push_back("v" + std::to_string(k));

    std::ofstream files(table + ".files", std::ios::trunc);
    std::vector<std::unique_ptr<std::ofstream>> outs;
    const std::size_t per = (count + static_cast<std::size_t>(jobs) - 1) / static_cast<std::size_t>(jobs);
    for (long j = 0; j < jobs; ++j) {
        const std::string path =
            jobs == 1 ? table : table.substr(0, table.rfind('.')) + "-" + std::to_string(j + 1) + ".csv";
        outs.push_back(std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc));
        std::string line;
        for (const auto& h : header) line += (line.empty() ? "" : ",") + h;
        *outs.back() << line << "\n";
    }
    for (std::size_t r = 0; r < count; ++r) {
        const auto& row = t.rows[r];
        const long n = static_cast<long>(r + 1);
        std::string name;
        for (auto c : nameColumns) name += (name.empty() ? "" : " ") + row[c];
        const std::string who = shown(name);
        const std::string safe = safeName(who);
        char number[32];
        std::snprintf(number, sizeof number, "%0*ld", width, n);
        const std::string file = std::string(number) + (safe.empty() ? "" : "-" + safe) + ".pdf";
        files << file << "\n";
        if (done.count(n)) continue;
        std::string line = std::to_string(n) + "," + csvField(file) + "," + csvField(who) + "," +
                           csvField(title + who) + "," + csvField(strict ? std::string() : row.back()) + "," +
                           (std::all_of(row.begin(), row.end(), [](auto& v) { return v.empty(); }) ? "1" : "");
        for (const auto& [c, f] : fills)
            line +=
                "," + csvField(f->kind == Field::Check || f->kind == Field::Radio ? buttonValue(*f, row[c]) : row[c]);
        *outs[per == 0 ? 0 : r / per] << line << "\n";
    }
    for (auto& o : outs)
        if (!o->flush()) throw Failure("cannot write the table " + table);
    std::cout << "count\t" << count << "\nwidth\t" << width << "\n";
    for (const auto& [c, f] : fills) std::cout << "field\t" << f->name << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return plan(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 2;
    }
}
