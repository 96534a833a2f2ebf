// Script text to steps: lines joined while a text, a comment, a "(" or a "["
// is still open, so that a step may span lines as FileMaker writes it.
#include <utility>

#include "Lexer.h"
#include "Script.h"

namespace fm_host {

namespace {

// What is still open in a step read so far, fed a line at a time so that a
// long step (or a text left open by mistake) is read once, not once a line.
struct OpenScan {
    std::string open;  // the "(" and "[" not closed yet, innermost last
    bool quoted = false, comment = false;

    void scan(const std::string& text, std::size_t from) {
        for (std::size_t i = from; i < text.size(); ++i) {
            const char c = text[i];
            if (comment) {
                if (c == '*' && i + 1 < text.size() && text[i + 1] == '/') comment = false, ++i;
            } else if (inQuotedText(text, i, quoted)) {
                continue;
            } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
                comment = true;
                ++i;
            } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
                while (i < text.size() && text[i] != '\n') ++i;  // a comment to the end of the line
            } else if (c == '(' || c == '[') {
                open.push_back(c);
            } else if (c == ')' && !open.empty() && open.back() == '(') {
                open.pop_back();
            } else if (c == ']' && open.find('[') != std::string::npos) {
                // "]" closes its "[" and any "(" left open inside: the step's
                // brackets end a step whose calculation is broken.
                open.erase(open.rfind('['));
            }
        }
    }
    bool isOpen() const { return quoted || comment || !open.empty(); }
};

// Where a step starts in `text`, or npos for a blank line, a comment or a
// disabled step, which never go on.
std::size_t stepStart(const std::string& text) {
    const std::size_t a = text.find_first_not_of(" \t\r\n");
    if (a == std::string::npos || text[a] == '#' || text.compare(a, 2, "//") == 0) return std::string::npos;
    return a;
}

}  // namespace

bool continuesOnNextLine(const std::string& text) {
    const std::size_t a = stepStart(text);
    if (a == std::string::npos) return false;
    OpenScan scan;
    scan.scan(text, a);
    return scan.isOpen();
}

std::vector<std::pair<std::string, std::size_t>> scriptLines(const std::string& text) {
    std::vector<std::pair<std::string, std::size_t>> lines;
    std::string step;
    OpenScan scan;
    std::size_t first = 0, start = 0, n = 1;
    while (start <= text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        if (!(nl == text.size() && start == nl)) {
            std::string line = text.substr(start, nl - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::size_t from = std::string::npos;
            if (step.empty()) {
                first = n;
                scan = OpenScan{};
                from = stepStart(line);
                step = std::move(line);
            } else {
                from = step.size() + 1;
                step += "\n" + line;
            }
            if (from != std::string::npos) scan.scan(step, from);
            if (from == std::string::npos || !scan.isOpen()) {
                lines.emplace_back(std::move(step), first);
                step.clear();
            }
        }
        start = nl + 1;
        ++n;
    }
    if (!step.empty()) lines.emplace_back(std::move(step), first);  // left open: its parse error tells why
    return lines;
}

}  // namespace fm_host
