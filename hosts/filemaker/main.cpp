// filemaker-host: a FileMaker Pro stand-in that loads plug-in bundles and
// evaluates calculations with the functions they register.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <iterator>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "Builtins.h"
#include "Help.h"
#include "PluginHost.h"
#include "Progress.h"
#include "Prompt.h"
#include "Records.h"
#include "Script.h"
#include "Session.h"
#include "Value.h"

namespace {

extern "C" void onInterrupt(int) {
    fm_host::Session::requestStop();
}

void handleSignals(void (*handler)(int), std::initializer_list<int> signals) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : signals) sigaction(s, &sa, nullptr);
}

// Ctrl-C stops the running script at its next step instead of ending the host.
void catchInterrupt() {
    handleSignals(onInterrupt, {SIGINT});
}

extern "C" void onStopSignal(int signal) {
    fm_host::Records::stopAtNextRecord(signal);
}

// --finish-record: Ctrl-C and SIGTERM end the found set after the record in hand instead of
// stopping the script at its next step, so that a merge saves or fails that record whole and then
// runs what follows its loop (its summary).
void finishRecordOnStop() {
    handleSignals(onStopSignal, {SIGINT, SIGTERM});
}

int pipeMode(fm_host::Session& session) {
    bool ok = true;
    std::string line;
    // One line, one answer, before the next line is read: programs drive the
    // host through the pipe this way (a calculation over lines: run -).
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
    app.footer(fm_host::helpFooter());
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
    runCmd->add_option("FILE", scriptFile, "The script; - reads it from standard input")->required();
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
    runCmd->add_option("--ragged-rows", loadOptions.raggedField,
                       "Keep a CSV row with more or fewer fields than the header, with why in this extra field "
                       "(default: such a row stops the load)");
    bool finishRecord = false;
    runCmd->add_flag("--finish-record", finishRecord,
                     "Ctrl-C and SIGTERM end the found set after the record in hand; the script goes on after its "
                     "loop and the status is 130 or 143");
    std::vector<std::string> parameters;
    runCmd->add_option("--parameter", parameters,
                       "The script's Get ( ScriptParameter ); given more than once, one value a line");
    auto* functionsCmd = app.add_subcommand("functions", "List the registered functions");
    auto* pluginsCmd = app.add_subcommand("plugins", "List the loaded plug-in bundles");

    // "--help steps" and "--help functions": the long lists.
    if (argc == 3 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        if (auto topic = fm_host::helpTopic(argv[2])) {
            std::cout << *topic;
            return 0;
        }
    }
    // A usage error exits 2, as qpdf and pdftk do.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return e.get_exit_code() == 0 ? rc : 2;
    }

    // A script or records file that cannot be read is a step that cannot
    // run: status 1, with file, line and column as compilers write them.
    std::string scriptText;
    if (*runCmd) {
        struct stat st {};
        std::string why;
        if (scriptFile == "-") {
            scriptText.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        } else if (::stat(scriptFile.c_str(), &st) != 0 || ::access(scriptFile.c_str(), R_OK) != 0) {
            why = std::string("cannot read the script: ") + std::strerror(errno);
        } else if (S_ISDIR(st.st_mode)) {
            why = "this is a folder, not a script";
        }
        if (!why.empty()) {
            std::cerr << scriptFile << ":1:1: error: " << why << "\n";
            return 1;
        }
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
            return 1;
        }
    }

    int status = 0;
    try {
        fm_host::PluginHost host(static_cast<fmx::int16>(interfaceVersion));
        host.loadExtensions(extensions);
        fm_host::Session session(host, json, std::cout, &std::cerr);
        // For timing calls without the pipe that carries them (bench/report).
        const char* timings = std::getenv("QUILLMARK_TIMINGS");
        session.setTimings(json && timings && std::strcmp(timings, "1") == 0);
        session.records() = std::move(records);
        if (*evalCmd) {
            for (const auto& c : calcs)
                if (!session.evaluate(c)) status = 1;
        } else if (*runCmd) {
            if (finishRecord)
                finishRecordOnStop();
            else
                catchInterrupt();
            // A bare calculation line prints its result; --trace also echoes every
            // step and what Set Variable set; --quiet leaves results out.
            session.setQuiet(quiet);
            session.setShowVariables(trace);
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
            const bool ran = scriptFile == "-" ? session.runScriptText(scriptText, "<stdin>", ".", trace)
                                               : session.runScriptFile(scriptFile, trace);
            if (!ran) status = session.stopped() ? 130 : 1;
            // Exit Script's number is the status; a failure never turns into 0.
            if (const auto n = session.exitStatus(); n && *n != 0) status = *n;
            if (const int sig = fm_host::Records::stoppedBy(); sig != 0 && status == 0) status = 128 + sig;
            session.records().onMove(nullptr);
            progress.reset();
        } else if (*functionsCmd) {
            listFunctions(host, json);
        } else if (*pluginsCmd) {
            listPlugins(host, json);
        } else if (::isatty(STDIN_FILENO)) {
            status = fm_host::runPrompt(session, host, app.help());
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
