// Help: the short footer and the long lists, built from the tables the
// evaluator and the script parser use, so a new step or function shows here
// without a second edit.
#include "Help.h"

#include "Builtins.h"
#include "Script.h"

namespace fm_host {

std::string helpFooter() {
    return R"(
run FILE|-: "-" reads the script from standard input. No mode: a prompt on a
terminal, one calculation a line from a pipe. A mode's options: MODE --help.
More: --help steps, --help functions, man filemaker-host, man 7 quillmark.
Exit status: run gives Exit Script's number; 1 when a step or calculation
failed; 2 for a usage error. Errors go to standard error, results to output.)";
}

std::optional<std::string> helpTopic(const std::string& topic) {
    std::string s;
    if (topic == "steps") {
        s = "Script steps (one a line, in run files and at the prompt):\n";
        for (const auto& n : stepNames()) s += "  " + n + "\n";
        s += "Anything else on a line is a calculation, whose result is printed.\n"
             "A step goes on over lines while a text, a comment, a \"(\" or a \"[\" is open.\n"
             "Script text copied from FileMaker runs as it is: options that mean nothing\n"
             "here (With dialog: Off, Create folders, Select, Restore, buttons) are skipped.\n";
        return s;
    }
    if (topic == "functions") {
        s = "Built-in functions:\n";
        for (const auto& b : builtins()) s += "  " + b.usage + "\n";
        s += "\nGet ( name ) knows:\n";
        for (const auto& g : getNames())
            s += "  " + g.name + std::string(g.name.size() < 28 ? 28 - g.name.size() : 1, ' ') + g.meaning + "\n";
        s += "\nThe plug-ins' functions: filemaker-host functions.\n";
        return s;
    }
    return std::nullopt;
}

}  // namespace fm_host
