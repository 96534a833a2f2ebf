// Prompt: readline's callback interface, so that a Ctrl-C between keys can
// drop the line being typed instead of only stopping scripts.
#include "Prompt.h"

#include <readline/history.h>
#include <readline/readline.h>
#include <strings.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

#include "Builtins.h"
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
    DocumentWatch watch;
    bool done = false;
    bool warned = false;  // the last key was a Ctrl-D refused for unsaved changes
    bool ok = true;
    int added = 0;  // history lines of this session
};
PromptState* gPrompt = nullptr;

const char* promptText() {
    return gPrompt && gPrompt->session->gathering() ? "..> " : "fm> ";
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
    std::string line(raw);
    std::free(raw);
    if (line == "quit" || line == "exit") {
        p.done = true;
        rl_callback_handler_remove();
        return;
    }
    if (line.find_first_not_of(" \t") != std::string::npos) {
        add_history(line.c_str());
        ++p.added;
        p.ok = p.session->runLine(line, false) && p.ok;
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

int runPrompt(Session& session, PluginHost& host) {
    PromptState state;
    state.session = &session;
    gPrompt = &state;
    gCompletionHost = &host;
    host.setCallObserver(
        [&state](const std::string& name, const fmx::Data& result) { state.watch.called(name, result); });

    const std::string history = historyFile();
    stifle_history(kHistoryLines);
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
                 "Ctrl-D ends.\n";
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
    return session.finish() && state.ok ? 0 : 1;
}

}  // namespace fm_host
