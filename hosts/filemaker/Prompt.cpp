// Prompt: readline's callback interface, so that a Ctrl-C between keys can
// drop the line being typed instead of only stopping scripts.
#include "Prompt.h"

#include <readline/history.h>
#include <readline/readline.h>
#include <strings.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

#include "Builtins.h"
#include "Help.h"
#include "Script.h"

namespace fm_host {

namespace {

constexpr int kHistoryLines = 1000;

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void onPromptInterrupt(int) {
    gInterrupted = 1;
    Session::requestStop();  // a running script stops before its next step
}

// Whether the open document holds changes not saved, followed through the
// calls the plug-in answers: the prompt cannot ask the PDF application.
class DocumentWatch {
public:
    void called(const std::string& name, const fmx::Data& result) {
        const bool ok = result.GetAsText().ToUTF8() != "!!ERROR!!";
        if (same(name, "Torv_OpenPDF")) {
            if (ok) open_ = true, changed_ = false;
        } else if (same(name, "Torv_ClosePDF")) {
            open_ = changed_ = false;
        } else if (same(name, "Torv_SavePDF") || same(name, "Torv_SaveAsPDF")) {
            if (ok) changed_ = false;
        } else if (ok && open_) {
            for (const char* edit :
                 {"Torv_SetPDFFieldValue", "Torv_SetPDFInfo", "Torv_InsertPages", "Torv_DeletePages", "Torv_AppendPDF"})
                if (same(name, edit)) changed_ = true;
        }
    }
    bool unsaved() const { return open_ && changed_; }

private:
    static bool same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }
    bool open_ = false;
    bool changed_ = false;
};

// Tab completion: registered functions, built-ins and steps.
PluginHost* gCompletionHost = nullptr;

char* completeName(const char* text, int state) {
    static std::size_t index;
    static std::vector<std::string> words;
    if (state == 0) {
        index = 0;
        words.clear();
        if (gCompletionHost)
            for (const auto& f : gCompletionHost->functions()) words.push_back(f.name);
        for (const auto& b : builtins()) words.push_back(b.name);
        for (const auto& n : stepNames()) words.push_back(n.substr(0, n.find(" [")));
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

// The state the line handler works on; readline's callback takes no argument.
struct PromptState {
    Session* session = nullptr;
    const std::string* help = nullptr;
    DocumentWatch watch;
    bool done = false;
    bool warned = false;  // the last key was a Ctrl-D refused for unsaved changes
    bool ok = true;       // whether the last input succeeded: the exit status, as bash's
    int added = 0;        // history entries of this session
    std::string input;    // the lines of a calculation or step still open
};
PromptState* gPrompt = nullptr;

const char* promptText() {
    return gPrompt && (gPrompt->session->gathering() || !gPrompt->input.empty()) ? "..> " : "fm> ";
}

// "help", "help steps", "help functions": what --help and its topics print.
bool showHelp(const std::string& line, const std::string& help) {
    std::string words;
    for (char c : line)
        if (c != ' ' && c != '\t') words += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (words == "help" || words == "?") {
        std::cout << help;
        return true;
    }
    if (words.rfind("help", 0) != 0) return false;
    const auto topic = helpTopic(words.substr(4));
    if (!topic) return false;
    std::cout << *topic;
    return true;
}

void onLine(char* raw) {
    PromptState& p = *gPrompt;
    if (!raw) {  // Ctrl-D on an empty line
        if (p.watch.unsaved() && !p.warned) {
            std::cout << "\nThe open document has changes that are not saved (Torv_SavePDF or Torv_SaveAsPDF keeps "
                         "them).\nPress Ctrl-D again to quit without saving them.\n";
            p.warned = true;
            return;
        }
        std::cout << "\n";
        p.done = true;
        rl_callback_handler_remove();
        return;
    }
    p.warned = false;
    std::string line;
    for (const char* c = raw; *c; ++c)  // a pasted block may end its lines with CR or CR LF
        if (*c != '\r')
            line += *c;
        else if (c[1] != '\n')
            line += '\n';
    std::free(raw);
    if (p.input.empty() && (line == "quit" || line == "exit")) {
        p.done = true;
        rl_callback_handler_remove();
        return;
    }
    // A calculation or step goes on over lines while a text, a comment, a "("
    // or a "[" is open; a pasted block arrives as one line holding them all.
    p.input += p.input.empty() ? line : "\n" + line;
    if (continuesOnNextLine(p.input)) {
        rl_set_prompt(promptText());
        return;
    }
    const std::string input = std::move(p.input);
    p.input.clear();
    if (input.find_first_not_of(" \t\r\n") != std::string::npos) {
        add_history(input.c_str());  // one entry, however many lines: Up brings the whole of it back
        ++p.added;
        if (!p.session->gathering() && showHelp(input, *p.help)) {
            p.ok = true;
        } else {
            p.ok = p.session->runLine(input, false);
        }
        std::cout.flush();
    }
    rl_set_prompt(promptText());
}

void saveHistory(const std::string& file, int added) {
    if (file.empty() || added == 0) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
    // Appending keeps what other sessions wrote meanwhile.
    const int err =
        ::access(file.c_str(), F_OK) == 0 ? append_history(added, file.c_str()) : write_history(file.c_str());
    if (err == 0) history_truncate_file(file.c_str(), kHistoryLines);
}

}  // namespace

std::string historyFile() {
    std::string state;
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x == '/')
        state = x;
    else if (const char* home = std::getenv("HOME"); home && *home)
        state = std::string(home) + "/.local/state";
    else
        return {};
    return state + "/quillmark/filemaker-host_history";
}

int runPrompt(Session& session, PluginHost& host, const std::string& help) {
    PromptState state;
    state.session = &session;
    state.help = &help;
    session.setExplainErrors(true);
    gPrompt = &state;
    gCompletionHost = &host;
    host.setCallObserver(
        [&state](const std::string& name, const fmx::Data& result) { state.watch.called(name, result); });

    const std::string history = historyFile();
    stifle_history(kHistoryLines);
    // Timestamps mark where each entry starts, so an entry of several lines
    // (a pasted calculation) comes back as one in the next session.
    history_write_timestamps = 1;
    history_multiline_entries = 1;
    if (!history.empty()) read_history(history.c_str());

    // Our own SIGINT handler: select() below returns EINTR, and the loop
    // drops the line. Readline must not install its own.
    rl_catch_signals = 0;
    struct sigaction sa {};
    sa.sa_handler = onPromptInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);

    rl_attempted_completion_function = completion;
    rl_basic_word_break_characters = const_cast<char*>(" \t\n\"&;()");
    std::cout << "filemaker-host: " << host.functions().size() << " functions registered, " << builtins().size()
              << " built in. Type a calculation or a script step; Tab completes names; Ctrl-C drops the line; "
                 "Ctrl-D ends; help tells more.\n";
    std::cout.flush();
    rl_callback_handler_install(promptText(), onLine);
    while (!state.done) {
        fd_set in;
        FD_ZERO(&in);
        FD_SET(STDIN_FILENO, &in);
        const int n = ::select(STDIN_FILENO + 1, &in, nullptr, nullptr, nullptr);
        if (gInterrupted) {
            gInterrupted = 0;
            Session::clearStopRequest();
            rl_free_line_state();
            rl_callback_sigcleanup();
            rl_replace_line("", 0);
            session.discardPending();
            state.input.clear();
            state.warned = false;
            std::cout << "^C\n";
            std::cout.flush();
            rl_set_prompt(promptText());
            rl_on_new_line();
            rl_redisplay();
            continue;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n > 0) rl_callback_read_char();
    }
    if (!state.done) rl_callback_handler_remove();
    saveHistory(history, state.added);
    host.setCallObserver(nullptr);
    gCompletionHost = nullptr;
    gPrompt = nullptr;
    session.setExplainErrors(false);
    return session.finish() && state.ok ? 0 : 1;
}

}  // namespace fm_host
