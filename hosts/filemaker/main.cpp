// filemaker-host: a FileMaker Pro stand-in that loads plug-in bundles and
// evaluates calculations with the functions they register.
#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>

#include "PluginHost.h"
#include "Session.h"

namespace {

const char* kFooter = R"(
What it does:
  Loads every plug-in bundle (NAME.fmplugin) of the Extensions folder: the
  shared library NAME.fmplugin/Contents/MacOS/NAME is loaded and its
  FMExternCallProc is sent the initialise message (interface version 56 unless
  --interface-version says otherwise), as FileMaker Pro does. The functions the
  plug-ins register can then be called in calculations. At the end every plug-in
  gets the shut-down message.

Calculations (a FileMaker subset):
  Name ( a ; b )        call a registered function; one without parameters may
                        be written without the parentheses: Torv_Version
  "text"                text; \" is a quote, \\ a backslash, a pilcrow inside
                        quotes is a carriage return (\ before it keeps it)
  ¶                     a carriage return on its own
  12  3.5  -2           numbers
  a & b                 concatenation, as text
  $name  $$name         variables (set in scripts with Set Variable)
  Calls are held to the parameter range the plug-in registered: too few or too
  many parameters is an error and the plug-in is not called. Errors name the
  column where the calculation went wrong.

Modes:
  filemaker-host eval 'Torv_Version' 'Torv_Version ( "long" )'
        evaluates each calculation in one session, one result per line
  filemaker-host run script.txt
        runs a script: one calculation a line, '#' comments, and lines
        Set Variable [ $path ; Value: "/tmp/a.pdf" ]
        each calculation is printed ("> calc") with its result below it
  filemaker-host functions
        lists the registered functions: ID, name, prototype, parameters, flags
  filemaker-host plugins
        lists the loaded bundles and how each answered the initialise message
  filemaker-host
        on a terminal: a prompt with history and Tab completion of function
        names; with standard input from a pipe: one calculation (or Set Variable
        line) a line, each answered and flushed before the next is read

Output:
  Results print as FileMaker shows them: dates as M/D/YYYY, carriage returns as
  line breaks. An error prints as "error: column N: what went wrong".
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
)";

// Tab completion of function names for the prompt.
fm_host::PluginHost* gCompletionHost = nullptr;

char* completeName(const char* text, int state) {
    static std::size_t index;
    if (state == 0) index = 0;
    if (!gCompletionHost) return nullptr;
    const auto& fns = gCompletionHost->functions();
    const std::size_t len = std::strlen(text);
    while (index < fns.size()) {
        const std::string& n = fns[index++].name;
        if (strncasecmp(n.c_str(), text, len) == 0) return strdup(n.c_str());
    }
    return nullptr;
}

char** completion(const char* text, int, int) {
    rl_attempted_completion_over = 1;
    return rl_completion_matches(text, completeName);
}

int repl(fm_host::PluginHost& host, bool json) {
    fm_host::Session session(host, json, std::cout);
    gCompletionHost = &host;
    rl_attempted_completion_function = completion;
    rl_basic_word_break_characters = const_cast<char*>(" \t\n\"&;()");
    std::cout << "filemaker-host: " << host.functions().size()
              << " functions registered. Type a calculation; Tab completes function names; Ctrl-D ends.\n";
    while (char* raw = readline("fm> ")) {
        std::string line(raw);
        std::free(raw);
        if (line == "quit" || line == "exit") break;
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        add_history(line.c_str());
        session.runLine(line, false);
    }
    gCompletionHost = nullptr;
    return 0;
}

int pipeMode(fm_host::PluginHost& host, bool json) {
    fm_host::Session session(host, json, std::cout);
    bool ok = true;
    std::string line;
    while (std::getline(std::cin, line)) ok = session.runLine(line, false) && ok;
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
    CLI::App app{"filemaker-host: loads FileMaker plug-in bundles and evaluates calculations with their functions.",
                 "filemaker-host"};
    app.footer(kFooter);
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
    auto* runCmd = app.add_subcommand("run", "Run a script of calculations and Set Variable lines");
    runCmd->add_option("FILE", scriptFile, "The script")->required();
    auto* functionsCmd = app.add_subcommand("functions", "List the registered functions");
    auto* pluginsCmd = app.add_subcommand("plugins", "List the loaded plug-in bundles");

    CLI11_PARSE(app, argc, argv);

    std::ifstream script;
    if (*runCmd) {
        script.open(scriptFile);
        if (!script) {
            std::cerr << "filemaker-host: cannot read the script " << scriptFile << "\n";
            return 2;
        }
    }

    int status = 0;
    try {
        fm_host::PluginHost host(static_cast<fmx::int16>(interfaceVersion));
        host.loadExtensions(extensions);
        if (*evalCmd) {
            fm_host::Session session(host, json, std::cout);
            for (const auto& c : calcs)
                if (!session.evaluate(c)) status = 1;
        } else if (*runCmd) {
            fm_host::Session session(host, json, std::cout);
            std::string line;
            while (std::getline(script, line))
                if (!session.runLine(line, true)) status = 1;
        } else if (*functionsCmd) {
            listFunctions(host, json);
        } else if (*pluginsCmd) {
            listPlugins(host, json);
        } else if (::isatty(STDIN_FILENO)) {
            status = repl(host, json);
        } else {
            status = pipeMode(host, json);
        }
        host.shutdown();
    } catch (const std::exception& e) {
        std::cerr << "filemaker-host: " << e.what() << "\n";
        return 2;
    }
    std::cout.flush();
    return status;
}
