// Script: one step's text to a step (its name and options), and the step names.
#include "Script.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "Lexer.h"

namespace fm_host {

namespace {

struct StepName {
    const char* name;
    Step::Kind kind;
    bool needsOptions;  // written with "[ … ]" (which tells "If [" from the If function)
};

// Longest first, so "Else If" is tried before "Else".
const StepName kSteps[] = {
    {"Go to Record/Request/Page", Step::Kind::GoToRecord, true},
    {"Delete Record/Request", Step::Kind::DeleteRecord, false},
    {"New Record/Request", Step::Kind::NewRecord, false},
    {"Pause/Resume Script", Step::Kind::Nothing, false},
    {"Show All Records", Step::Kind::ShowAll, false},
    {"Set Error Capture", Step::Kind::SetErrorCapture, true},
    {"Allow User Abort", Step::Kind::AllowUserAbort, true},
    {"Export Records", Step::Kind::ExportRecords, true},
    {"Refresh Window", Step::Kind::Nothing, false},
    {"Delete Record", Step::Kind::DeleteRecord, false},
    {"Sort Records", Step::Kind::SortRecords, true},
    {"Omit Record", Step::Kind::OmitRecord, false},
    {"New Record", Step::Kind::NewRecord, false},
    {"Set Field", Step::Kind::SetField, true},
    {"Beep", Step::Kind::Nothing, false},
    {"Show Custom Dialog", Step::Kind::ShowDialog, true},
    {"Perform Script", Step::Kind::PerformScript, true},
    {"Exit Loop If", Step::Kind::ExitLoopIf, true},
    {"Go to Record", Step::Kind::GoToRecord, true},
    {"Set Variable", Step::Kind::SetVariable, true},
    {"Exit Script", Step::Kind::ExitScript, false},
    {"End Loop", Step::Kind::EndLoop, false},
    {"Else If", Step::Kind::ElseIf, true},
    {"End If", Step::Kind::EndIf, false},
    {"Comment", Step::Kind::Nothing, false},
    {"Loop", Step::Kind::Loop, false},
    {"Else", Step::Kind::Else, false},
    {"If", Step::Kind::If, true},
};

std::size_t columnOf(const std::string& s, std::size_t byte) {
    std::size_t col = 1;
    for (std::size_t k = 0; k < byte && k < s.size(); ++k)
        if ((static_cast<unsigned char>(s[k]) & 0xC0) != 0x80) ++col;
    return col;
}

// A step may span lines, so line breaks between its words are spaces too.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Matches a step name at `at`, a space in the name standing for any run of
// spaces; answers the byte just past the name, or npos. A step name must end
// at a space or "[", a label may run into its ":".
std::size_t matchName(const std::string& s, std::size_t at, const char* name, bool label = false) {
    std::size_t i = at;
    for (const char* p = name; *p; ++p) {
        if (*p == ' ') {
            if (i >= s.size() || !isSpace(s[i])) return std::string::npos;
            while (i < s.size() && isSpace(s[i])) ++i;
        } else {
            if (i >= s.size() ||
                std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(*p)))
                return std::string::npos;
            ++i;
        }
    }
    if (i < s.size() && !isSpace(s[i]) && s[i] != (label ? ':' : '[')) return std::string::npos;
    return i;
}

struct Part {
    std::string text;  // trimmed
    std::size_t byte;  // where it starts in the line
};

// Splits "a ; b ; c" at the semicolons outside texts, parentheses and brackets.
std::vector<Part> splitOptions(const std::string& line, std::size_t from, std::size_t to) {
    std::vector<Part> parts;
    auto push = [&](std::size_t a, std::size_t b) {
        while (a < b && isSpace(line[a])) ++a;
        while (b > a && isSpace(line[b - 1])) --b;
        parts.push_back({line.substr(a, b - a), a});
    };
    int depth = 0;
    bool quoted = false;
    std::size_t start = from;
    for (std::size_t i = from; i < to; ++i) {
        const char c = line[i];
        if (inQuotedText(line, i, quoted)) {
            continue;
        } else if (c == '(' || c == '[') {
            ++depth;
        } else if (c == ')' || c == ']') {
            --depth;
        } else if (c == ';' && depth == 0) {
            push(start, i);
            start = i + 1;
        }
    }
    push(start, to);
    return parts;
}

// Removes a leading "Label:" (any of `labels`, without case) from a part.
void dropLabel(Part& p, std::initializer_list<const char*> labels) {
    for (const char* label : labels) {
        const std::size_t end = matchName(p.text, 0, label, true);
        if (end == std::string::npos) continue;
        std::size_t i = end;
        while (i < p.text.size() && isSpace(p.text[i])) ++i;
        if (i < p.text.size() && p.text[i] == ':') {
            ++i;
            while (i < p.text.size() && isSpace(p.text[i])) ++i;
            p.text.erase(0, i);
            p.byte += i;
            return;
        }
    }
}

Node calcOf(const std::string& line, const Part& p) {
    return parseCalc(p.text, columnOf(line, p.byte) - 1);
}

// Options FileMaker writes in a step's text that mean nothing here (there are
// no dialogs, layouts or fields to select): dropped before the step reads
// its options, so that script text copied from FileMaker runs as it is.
bool meaninglessOption(const std::string& t) {
    for (const char* label :
         {"With dialog", "Create folders", "Default Button", "Button 2", "Button 3", "Commit", "Specified"})
        if (std::size_t i = matchName(t, 0, label, true); i != std::string::npos) {
            while (i < t.size() && isSpace(t[i])) ++i;
            if (i < t.size() && t[i] == ':') return true;
        }
    for (const char* word : {"No dialog", "Perform without dialog", "Select", "Select/perform", "Restore",
                             "Specified: From list", "From list", "By name"})
        if (strcasecmp(t.c_str(), word) == 0) return true;
    return false;
}

void parseOptions(Step& s, const std::string& line, std::vector<Part> parts, std::size_t bracketCol) {
    if (s.kind != Step::Kind::SetErrorCapture && s.kind != Step::Kind::AllowUserAbort)
        std::erase_if(parts, [](const Part& p) { return meaninglessOption(p.text); });
    auto need = [&](std::size_t n, const char* how) {
        if (parts.size() < n || (n > 0 && parts[0].text.empty()))
            throw CalcError(bracketCol, std::string("write ") + how);
    };
    switch (s.kind) {
        case Step::Kind::SetVariable: {
            const char* how = "Set Variable as: Set Variable [ $name ; Value: calculation ]";
            need(2, how);
            std::string v = parts[0].text;
            const auto open = v.find('[');
            if (open != std::string::npos && v.back() == ']') {  // $x[n]: a repetition
                Part rep{v.substr(open + 1, v.size() - open - 2), parts[0].byte + open + 1};
                s.repetition = calcOf(line, rep);
                v.erase(open);
                while (!v.empty() && isSpace(v.back())) v.pop_back();
            }
            if (parts.size() != 2 || v.size() < 2 || v[0] != '$' || v.find_first_of(" \t") != std::string::npos)
                throw CalcError(bracketCol, std::string("write ") + how);
            s.variable = v;
            Part value = parts[1];
            dropLabel(value, {"Value"});
            s.calc = calcOf(line, value);
            return;
        }
        case Step::Kind::If:
        case Step::Kind::ElseIf:
        case Step::Kind::ExitLoopIf:
            need(1, "the condition in the brackets: If [ calculation ]");
            if (parts.size() != 1) throw CalcError(columnOf(line, parts[1].byte), "the step takes one calculation");
            s.calc = calcOf(line, parts[0]);
            return;
        case Step::Kind::ExitScript: {
            if (parts.empty() || parts[0].text.empty()) return;
            Part r = parts[0];
            dropLabel(r, {"Text Result", "Result"});
            s.calc = calcOf(line, r);
            return;
        }
        case Step::Kind::ShowDialog: {
            need(1, "Show Custom Dialog [ \"Title\" ; message ]");
            Part title = parts[0];
            dropLabel(title, {"Title"});
            if (parts.size() == 1) {
                s.calc = calcOf(line, title);  // the message alone
                return;
            }
            Part message = parts[1];
            dropLabel(message, {"Message"});
            s.extra = calcOf(line, title);
            s.calc = calcOf(line, message);
            return;
        }
        case Step::Kind::PerformScript: {
            need(1, "Perform Script [ \"file.fmscript\" ; Parameter: calculation ]");
            Part file = parts[0];
            dropLabel(file, {"File", "Specified", "From list"});
            s.extra = calcOf(line, file);
            if (parts.size() > 1) {
                Part parm = parts[1];
                dropLabel(parm, {"Parameter"});
                if (!parm.text.empty()) s.calc = calcOf(line, parm);
            }
            return;
        }
        case Step::Kind::GoToRecord: {
            need(1, "Go to Record/Request/Page [ First | Last | Next | Previous ; Exit after last: On ]");
            const std::string& where = parts[0].text;
            Part by = parts[0];
            dropLabel(by, {"By Calculation"});
            if (by.byte != parts[0].byte || strcasecmp(where.c_str(), "By Calculation") == 0) {
                if (by.byte == parts[0].byte) {  // By Calculation ; calc
                    if (parts.size() < 2)
                        throw CalcError(bracketCol, "write Go to Record/Request/Page [ By Calculation: calculation ]");
                    by = parts[1];
                }
                s.byCalculation = true;
                s.calc = calcOf(line, by);
                return;
            }
            if (strcasecmp(where.c_str(), "First") == 0)
                s.move = Records::Move::First;
            else if (strcasecmp(where.c_str(), "Last") == 0)
                s.move = Records::Move::Last;
            else if (strcasecmp(where.c_str(), "Next") == 0)
                s.move = Records::Move::Next;
            else if (strcasecmp(where.c_str(), "Previous") == 0)
                s.move = Records::Move::Previous;
            else {
                // FileMaker writes By Calculation as the calculation alone: [ With dialog: Off ; $n ]
                // (a lone word is a misspelt direction, not a calculation).
                const bool word = std::all_of(where.begin(), where.end(),
                                              [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
                if (parts.size() != 1 || word)
                    throw CalcError(columnOf(line, parts[0].byte), "go to First, Last, Next or Previous, not " + where);
                s.byCalculation = true;
                s.calc = calcOf(line, parts[0]);
                return;
            }
            for (std::size_t i = 1; i < parts.size(); ++i) {
                Part opt = parts[i];
                dropLabel(opt, {"Exit after last"});
                if (strcasecmp(opt.text.c_str(), "On") == 0)
                    s.exitAfterLast = true;
                else if (strcasecmp(opt.text.c_str(), "Off") != 0)
                    throw CalcError(columnOf(line, parts[i].byte), "write Exit after last: On (or Off)");
            }
            return;
        }
        case Step::Kind::SetField: {
            const char* how = "write Set Field [ Table::Field ; calculation ]";
            if (parts.size() != 2 || parts[0].text.empty()) throw CalcError(bracketCol, how);
            const std::string& target = parts[0].text;
            const auto sep = target.find("::");
            if (target.find_first_of("\"$") != std::string::npos) throw CalcError(bracketCol, how);
            if (sep != std::string::npos) {
                s.table = target.substr(0, sep);
                s.field = target.substr(sep + 2);
            } else {
                s.field = target;
            }
            Part value = parts[1];
            dropLabel(value, {"Value"});
            s.calc = calcOf(line, value);
            return;
        }
        case Step::Kind::SortRecords:
            for (const auto& p : parts) {
                if (p.text.empty() || strcasecmp(p.text.c_str(), "Restore") == 0 ||
                    matchName(p.text, 0, "With dialog", true) != std::string::npos)
                    continue;
                if (strcasecmp(p.text.c_str(), "Ascending") == 0 || strcasecmp(p.text.c_str(), "Descending") == 0) {
                    if (s.sortFields.empty())
                        throw CalcError(columnOf(line, p.byte), "name the field before " + p.text);
                    s.sortFields.back().second = strcasecmp(p.text.c_str(), "Descending") == 0;
                    continue;
                }
                s.sortFields.emplace_back(p.text, false);
            }
            if (s.sortFields.empty())
                throw CalcError(bracketCol, "write Sort Records [ Table::Field ; Ascending | Descending ; … ]");
            return;
        case Step::Kind::ExportRecords:
            for (const auto& p : parts) {
                if (p.text.empty() || strcasecmp(p.text.c_str(), "UTF-8") == 0 ||
                    strcasecmp(p.text.c_str(), "Unicode (UTF-8)") == 0 ||
                    strcasecmp(p.text.c_str(), "Comma-Separated Values") == 0)
                    continue;
                if (matchName(p.text, 0, "Include field names", true) != std::string::npos) {
                    Part on = p;
                    dropLabel(on, {"Include field names"});
                    s.fieldNames = on.byte == p.byte || strcasecmp(on.text.c_str(), "On") == 0;
                    continue;
                }
                if (s.calc) throw CalcError(columnOf(line, p.byte), "Export Records takes one file");
                Part file = p;
                dropLabel(file, {"File", "Output File"});
                s.calc = calcOf(line, file);
            }
            if (!s.calc) throw CalcError(bracketCol, "write Export Records [ \"file.csv\" ]");
            return;
        case Step::Kind::SetErrorCapture:
        case Step::Kind::AllowUserAbort:
            if (parts.size() != 1 ||
                (strcasecmp(parts[0].text.c_str(), "On") != 0 && strcasecmp(parts[0].text.c_str(), "Off") != 0))
                throw CalcError(bracketCol, "write [ On ] or [ Off ]");
            s.on = strcasecmp(parts[0].text.c_str(), "On") == 0;
            return;
        default:
            return;  // options of steps that take none here ([ With dialog: Off ])
    }
}

}  // namespace

Step parseStep(const std::string& rawLine, std::size_t lineNumber) {
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    Step s;
    s.line = lineNumber;
    const std::size_t a = line.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return s;
    const std::size_t b = line.find_last_not_of(" \t\r\n");
    s.source = line.substr(a, b - a + 1);
    // A comment, or a step FileMaker copies as disabled ("// Beep").
    if (line[a] == '#' || line.compare(a, 2, "//") == 0) return s;
    try {
        for (const auto& name : kSteps) {
            const std::size_t end = matchName(line, a, name.name);
            if (end == std::string::npos) continue;
            std::size_t i = end;
            while (i < line.size() && isSpace(line[i])) ++i;
            const bool bracket = i < line.size() && line[i] == '[';
            if (name.needsOptions && !bracket) {
                if (name.kind == Step::Kind::If) break;  // the If function, not the step
                throw CalcError(columnOf(line, i), std::string("write ") + name.name + " [ … ]");
            }
            s.kind = name.kind;
            if (name.kind == Step::Kind::Nothing) return s;  // Comment [ … ]
            if (!bracket) {
                if (i <= b) throw CalcError(columnOf(line, i), std::string("nothing may follow ") + name.name);
                return s;
            }
            if (line[b] != ']')
                throw CalcError(columnOf(line, b + 1),
                                "the step's \"[\" is not closed by a \"]\" at the end of the line");
            parseOptions(s, line, splitOptions(line, i + 1, b), columnOf(line, i));
            return s;
        }
        s.kind = Step::Kind::Calc;
        try {
            s.calc = parseCalc(s.source, columnOf(line, a) - 1);
        } catch (const CalcError&) {
            // "Go to Layout [ … ]": a FileMaker step this host does not have, named as one.
            std::size_t k = a;
            while (k < line.size() && (std::isalpha(static_cast<unsigned char>(line[k])) || line[k] == '/' ||
                                       isSpace(line[k]) || line[k] == '-'))
                ++k;
            if (k > a && k < line.size() && line[k] == '[' && line[b] == ']' && line.find(' ', a) < k) {
                std::string name = line.substr(a, k - a);
                while (!name.empty() && isSpace(name.back())) name.pop_back();
                throw CalcError(columnOf(line, a), "filemaker-host has no script step " + name +
                                                       " (it needs a layout, a window or a database; "
                                                       "filemaker-host --help steps lists the steps)");
            }
            throw;
        }
    } catch (const CalcError& e) {
        s.error = e;
    }
    return s;
}

const std::vector<std::string>& stepNames() {
    static const std::vector<std::string> names = {
        "Set Variable [ $name ; Value: calculation ]",
        "If [ calculation ]",
        "Else If [ calculation ]",
        "Else",
        "End If",
        "Loop",
        "Exit Loop If [ calculation ]",
        "End Loop",
        "Exit Script [ Text Result: calculation ]",
        "Show Custom Dialog [ \"Title\" ; message ]",
        "Perform Script [ \"file.fmscript\" ; Parameter: calculation ]",
        "Go to Record/Request/Page [ First | Last | Next | Previous ; Exit after last: On ]",
        "Go to Record/Request/Page [ By Calculation: calculation ]",
        "Set Field [ Table::Field ; calculation ]",
        "New Record/Request",
        "Delete Record/Request",
        "Omit Record",
        "Show All Records",
        "Sort Records [ Table::Field ; Ascending | Descending ; … ]",
        "Export Records [ \"file.csv\" ; Include field names ]",
        "Set Error Capture [ On | Off ]",
        "Allow User Abort [ On | Off ]",
        "Beep  /  Pause/Resume Script  /  Refresh Window  (nothing to do here)",
        "Comment [ … ]  or  # text",
    };
    return names;
}

}  // namespace fm_host
