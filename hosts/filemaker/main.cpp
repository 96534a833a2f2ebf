// filemaker-host: a FileMaker Pro stand-in that loads plug-in bundles and
// evaluates calculations with the functions they register.
#include <readline/history.h>
#include <readline/readline.h>
#include <strings.h>
#include <unistd.h>

#include <csignal>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "Builtins.h"
#include "PluginHost.h"
#include "Progress.h"
#include "Records.h"
#include "Script.h"
#include "Session.h"
#include "Value.h"

namespace {

const char* kFooter = R"(
What it does:
  Loads every plug-in bundle (NAME.fmplugin) of the Extensions folder: the
  shared library NAME.fmplugin/Contents/MacOS/NAME is loaded and its
  FMExternCallProc is sent the initialise message (interface version 56 unless
  --interface-version says otherwise), as FileMaker Pro does. The functions the
  plug-ins register can then be called in calculations. At the end every plug-in
  gets the shut-down message.

Calculations (FileMaker's language, the part scripts filling forms use):
  Name ( a ; b )        call a built-in or registered function; one without
                        parameters may be written without the parentheses
  "text"                text; \" is a quote, \\ a backslash, a pilcrow inside
                        quotes is a carriage return (\ before it keeps it)
  ¶                     a carriage return on its own
  12  3.5  -2           numbers
  ^  * /  + -  &  = ≠ <> < > ≤ <= ≥ >=  not  and  or xor
                        operators, tightest first; "not" binds tighter than ^;
                        = compares text without regard to case
  $name  $$name         variables: $ for the running script, $$ for the session
  Table::Field          a field of the current record (run --records FILE)
  Calls are held to their parameter range: too few or too many parameters is
  an error and nothing is called. Errors name the column where the calculation
  went wrong. A calculation nests at most 1000 levels.

Modes:
  filemaker-host eval 'Torv_Version' 'Torv_Version ( "long" )'
        evaluates each calculation in one session, one result per line
  filemaker-host run script.fmscript [--records members.csv] [--parameter P] [--trace|--quiet]
        runs a script, one step a line (the steps are listed below). Dialogs
        and errors are printed; with --trace also each calculation and Set
        Variable ("> step") with its result. Over records, one progress line
        on standard error (records done, rate, time left: redrawn in place on
        a terminal, else a line every 5 s); --quiet leaves it out.
        --records loads a table named after the file (--table NAME names it
        otherwise): CSV with a header row, its delimiter (, ; tab) that of
        the header line unless --delimiter says, or JSON lines
        (.json/.jsonl/.ndjson). Text is UTF-8, or UTF-16 after a byte-order
        mark; --encoding windows-1252 (latin-1, …) converts other files. A row
        with more or fewer fields than the header stops the load with its
        line; a blank line is a record with every field empty. A step that
        cannot be parsed stops the script with its line and column; Ctrl-C
        stops it before its next step and names that step's line.
  filemaker-host functions
        lists the registered functions: ID, name, prototype, parameters, flags
  filemaker-host plugins
        lists the loaded bundles and how each answered the initialise message
  filemaker-host
        on a terminal: a prompt with history and Tab completion of function
        and step names; with standard input from a pipe: one calculation or
        step a line, each answered and flushed before the next is read. An If
        or Loop gathers its lines up to End If / End Loop, then runs them.

Output:
  Results print as FileMaker shows them: dates as M/D/YYYY, carriage returns as
  line breaks, numbers in decimal to 16 places without binary artefacts
  (1/3*3 is 1, 0.1+0.2 is 0.3, 10^20 is written out). Text functions count
  characters: an emoji is one. An error prints as "error: column N: what went wrong" (in a
  script "error: line L, column N: …"). Show Custom Dialog prints
  "Title: message" ({"dialog":…,"message":…} with --json).
  With --json every result is one line {"calc":…,"type":"text"|"number"|"date"|
  "empty","value":…} (dates as YYYY-MM-DD), every error {"calc":…,"error":…}.
  The exit status is 1 when any calculation failed.

Folders and environment:
  --extensions DIR        the Extensions folder (default: the first that exists
                          of ../lib/quillmark/Extensions and ../Extensions
                          beside this program's folder, then
                          ~/.local/share/quillmark/Extensions and the
                          quillmark/Extensions folder of each $XDG_DATA_DIRS)
  HOME                    what "~" means in paths given to plug-ins
  QUILLMARK_RUNTIME_DIR   where processes register and open their event sockets
                          (default $XDG_RUNTIME_DIR/quillmark, else
                          /tmp/quillmark-<uid>); plug-ins that talk to other
                          applications use it
  QUILLMARK_APPLICATIONS  colon-separated folders where applications (NAME.app)
                          are looked for when a plug-in launches one (default:
                          the Applications folder found as Extensions is)
  QUILLMARK_LANG          the language of the plug-ins' strings tables (default en)
  DISPLAY                 the X display for file panels; without one, panels
                          answer cancel

Examples:
  filemaker-host functions
  filemaker-host eval 'Torv_Version' 'Torv_GetLastErrorText ( "number" )'
  filemaker-host --json eval 'Torv_OpenPDF ( "~/Documents/form.pdf" )'
  echo 'Torv_Version' | filemaker-host --json
  filemaker-host run examples/merge.fmscript --records examples/members.csv
)";

// The footer with the built-ins, the Get names and the steps listed.
std::string helpFooter() {
    std::string s = kFooter;
    s += "\nBuilt-in functions:\n";
    for (const auto& b : fm_host::builtins()) s += "  " + b.usage + "\n";
    s += "\nGet ( name ) knows:\n";
    for (const auto& g : fm_host::getNames())
        s += "  " + g.name + std::string(28 - g.name.size(), ' ') + g.meaning + "\n";
    s += "\nScript steps:\n";
    for (const auto& n : fm_host::stepNames()) s += "  " + n + "\n";
    return s;
}

extern "C" void onInterrupt(int) {
    fm_host::Session::requestStop();
}

// Ctrl-C stops the running script at its next step instead of ending the host.
void catchInterrupt() {
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
}

// Tab completion for the prompt: registered functions, built-ins and steps.
fm_host::PluginHost* gCompletionHost = nullptr;

std::vector<std::string> completionWords() {
    std::vector<std::string> words;
    if (gCompletionHost)
        for (const auto& f : gCompletionHost->functions()) words.push_back(f.name);
    for (const auto& b : fm_host::builtins()) words.push_back(b.name);
    for (const auto& n : fm_host::stepNames()) words.push_back(n.substr(0, n.find(" [")));
    return words;
}

char* completeName(const char* text, int state) {
    static std::size_t index;
    static std::vector<std::string> words;
    if (state == 0) {
        index = 0;
        words = completionWords();
    }
    const std::size_t len = std::strlen(text);
    while (index < words.size()) {
        const std::string& n = words[index++];
        if (strncasecmp(n.c_str(), text, len) == 0) return strdup(n.c_str());
    }
    return nullptr;
}

char** completion(const char* text, int, int) {
    rl_attempted_completion_over = 1;
    return rl_completion_matches(text, completeName);
}

int repl(fm_host::Session& session, fm_host::PluginHost& host) {
    gCompletionHost = &host;
    rl_attempted_completion_function = completion;
    rl_basic_word_break_characters = const_cast<char*>(" \t\n\"&;()");
    std::cout << "filemaker-host: " << host.functions().size() << " functions registered, "
              << fm_host::builtins().size()
              << " built in. Type a calculation or a script step; Tab completes names; Ctrl-D ends.\n";
    while (char* raw = readline(session.gathering() ? "..> " : "fm> ")) {
        std::string line(raw);
        std::free(raw);
        if (line == "quit" || line == "exit") break;
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        add_history(line.c_str());
        session.runLine(line, false);
    }
    gCompletionHost = nullptr;
    return session.finish() ? 0 : 1;
}

int pipeMode(fm_host::Session& session) {
    bool ok = true;
    std::string line;
    while (std::getline(std::cin, line)) ok = session.runLine(line, false) && ok;
    ok = session.finish() && ok;
    return ok ? 0 : 1;
}

void listFunctions(const fm_host::PluginHost& host, bool json) {
    for (const auto& f : host.functions()) {
        const std::string range =
            std::to_string(f.minArgs) + ".." + (f.maxArgs < 0 ? std::string("n") : std::to_string(f.maxArgs));
        if (json) {
            nlohmann::json j{
                {"id", f.id},           {"name", f.name},   {"prototype", f.prototype},       {"minArgs", f.minArgs},
                {"maxArgs", f.maxArgs}, {"flags", f.flags}, {"plugin", f.pluginId.ToString()}};
            std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        } else {
            char flags[16];
            std::snprintf(flags, sizeof flags, "0x%04X", f.flags);
            std::cout << f.id << "\t" << f.name << "\t" << f.prototype << "\t" << range << "\t" << flags << "\n";
        }
    }
}

void listPlugins(const fm_host::PluginHost& host, bool json) {
    for (const auto& p : host.plugins()) {
        const auto answer = static_cast<short>(p.initAnswer);
        if (json) {
            nlohmann::json j{{"name", p.name}, {"bundle", p.bundlePath}, {"init", answer}, {"enabled", p.enabled}};
            std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        } else {
            std::cout << p.name << "\t" << p.bundlePath << "\tinit " << answer << "\t"
                      << (p.enabled ? "enabled" : "disabled") << "\n";
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "filemaker-host: loads FileMaker plug-in bundles and runs calculations and scripts with their functions.",
        "filemaker-host"};
    app.footer(helpFooter());
    app.set_version_flag("--version", std::string("filemaker-host (Quillmark) ") + QUILL_VERSION);
    std::string extensions = fm_host::defaultExtensionsFolder();
    int interfaceVersion = 56;
    bool json = false;
    app.add_option("--extensions", extensions, "Folder of *.fmplugin bundles to load")->capture_default_str();
    app.add_option("--interface-version", interfaceVersion, "Interface version sent with the initialise message")
        ->check(CLI::Range(-32768, 32767))
        ->capture_default_str();
    app.add_flag("--json", json, "One JSON object a line for results and errors");
    app.require_subcommand(0, 1);
    app.fallthrough();

    std::vector<std::string> calcs;
    auto* evalCmd = app.add_subcommand("eval", "Evaluate calculations in one session, one result per line");
    evalCmd->add_option("CALC", calcs, "Calculations, evaluated in order")->required();
    std::string scriptFile;
    std::vector<std::string> recordFiles;
    bool quiet = false;
    auto* runCmd = app.add_subcommand("run", "Run a script, one step or calculation a line");
    runCmd->add_option("FILE", scriptFile, "The script")->required();
    runCmd->add_option("--records", recordFiles, "A CSV or JSON-lines file loaded as a table named after it");
    runCmd->add_flag("--quiet", quiet, "Print only dialogs and errors: no progress line");
    bool trace = false;
    runCmd->add_flag("--trace", trace, "Print each step (\"> step\") with its result");
    fm_host::LoadOptions loadOptions;
    std::vector<std::string> tableNames;
    std::string delimiter;
    runCmd->add_option("--encoding", loadOptions.encoding,
                       "Encoding of records files without a byte-order mark (windows-1252, latin-1, …; default UTF-8)");
    runCmd->add_option("--delimiter", delimiter,
                       "Between a CSV file's fields: , ; tab or one character (default: "
                       "the one its header line uses)");
    runCmd->add_option("--table", tableNames,
                       "The table name of the --records file of the same place (default: "
                       "the file's name)");
    std::vector<std::string> parameters;
    runCmd->add_option("--parameter", parameters,
                       "The script's Get ( ScriptParameter ); given more than once, one value a line");
    auto* functionsCmd = app.add_subcommand("functions", "List the registered functions");
    auto* pluginsCmd = app.add_subcommand("plugins", "List the loaded plug-in bundles");

    CLI11_PARSE(app, argc, argv);

    if (*runCmd && ::access(scriptFile.c_str(), R_OK) != 0) {
        std::cerr << "filemaker-host: cannot read the script " << scriptFile << "\n";
        return 2;
    }
    if (delimiter == "tab" || delimiter == "\\t") delimiter = "\t";
    if (delimiter.size() > 1 || delimiter == "\"" || delimiter == "\n" || delimiter == "\r") {
        std::cerr << "filemaker-host: --delimiter takes one character (, ; tab …), not " << delimiter << "\n";
        return 2;
    }
    loadOptions.delimiter = delimiter.empty() ? 0 : delimiter[0];
    if (tableNames.size() > recordFiles.size()) {
        std::cerr << "filemaker-host: --table names the table of a --records file, and there are fewer files\n";
        return 2;
    }
    fm_host::Records records;
    for (std::size_t i = 0; i < recordFiles.size(); ++i) {
        const std::string& f = recordFiles[i];
        try {
            loadOptions.table = i < tableNames.size() ? tableNames[i] : std::string();
            records.add(fm_host::loadTable(f, loadOptions));
        } catch (const fm_host::RecordsError& e) {
            std::cerr << "filemaker-host: " << e.what() << "\n";
            return 2;
        }
    }

    int status = 0;
    try {
        fm_host::PluginHost host(static_cast<fmx::int16>(interfaceVersion));
        host.loadExtensions(extensions);
        fm_host::Session session(host, json, std::cout);
        session.records() = std::move(records);
        if (*evalCmd) {
            for (const auto& c : calcs)
                if (!session.evaluate(c)) status = 1;
        } else if (*runCmd) {
            catchInterrupt();
            session.setQuiet(quiet || !trace);
            std::unique_ptr<fm_host::Progress> progress;
            if (!quiet && !session.records().empty()) {
                progress = std::make_unique<fm_host::Progress>(stderr, ::isatty(STDERR_FILENO));
                if (::isatty(STDOUT_FILENO)) progress->guard(std::cout);
                session.records().onMove(
                    [p = progress.get()](std::size_t n, std::size_t found) { p->update(n, found); });
            }
            std::string parameter;
            for (const auto& p : parameters) parameter += (parameter.empty() ? "" : "\r") + p;
            session.evaluator().state().scriptParameter = fm_host::value::textUtf8(parameter);
            if (!session.runScriptFile(scriptFile, true)) status = session.stopped() ? 130 : 1;
            session.records().onMove(nullptr);
            progress.reset();
        } else if (*functionsCmd) {
            listFunctions(host, json);
        } else if (*pluginsCmd) {
            listPlugins(host, json);
        } else if (::isatty(STDIN_FILENO)) {
            catchInterrupt();
            status = repl(session, host);
        } else {
            status = pipeMode(session);
        }
        host.shutdown();
    } catch (const std::exception& e) {
        std::cerr << "filemaker-host: " << e.what() << "\n";
        return 2;
    }
    std::cout.flush();
    return status;
}
