// Log: syslog plus an optional log file, and the alerts kept in memory.
#include "Log.h"

#include "PDDocHandle.h"
#include "quill/pdf/Warnings.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <mutex>

namespace acro_host::applog {

namespace {

struct State {
    std::mutex mutex;
    std::string file;
    std::vector<std::string> alerts;
};

State& state() {
    static State* s = new State;  // never destroyed: logging may happen at exit
    return *s;
}

// One line, written with a single write() so that lines never interleave.
void writeLine(const std::string& path, const std::string& kind, const std::string& text) {
    if (path.empty()) return;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::string line = kind + ": ";
    for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

void emit(int priority, const char* kind, const std::string& text) {
    syslog(priority, "acrobat-host %s: %s", kind, text.c_str());
    std::string file;
    {
        std::lock_guard lock(state().mutex);
        file = state().file;
    }
    writeLine(file, kind, text);
}

}  // namespace

void setFile(const std::string& path) {
    std::lock_guard lock(state().mutex);
    state().file = path;
}

void event(const std::string& text) {
    emit(LOG_NOTICE, "event", text);
}

void warning(const std::string& text) {
    emit(LOG_WARNING, "warning", text);
}

void engineWarnings() {
    // The open documents' warnings, then those raised with no document at hand (a closed
    // document's among them).
    // Called after every event: the documents are looked through only when a warning was added
    // since (an append keeps thousands of sources open).
    static std::uint64_t seen = 0;
    const std::uint64_t added = quill::pdf::warningsAdded();
    if (added == seen) return;
    seen = added;
    std::vector<quill::pdf::Warning> all;
    forEachLiveDocument([&all](quill::pdf::Document& doc) {
        for (auto& w : doc.takeWarnings()) all.push_back(std::move(w));
    });
    for (auto& w : quill::pdf::takeWarnings()) all.push_back(std::move(w));
    for (const auto& w : all) {
        // The text extractor's notes on damaged files are many and for debugging: syslog only.
        if (w.severity == quill::pdf::Severity::kDebug)
            syslog(LOG_DEBUG, "acrobat-host engine: %s", w.text.c_str());
        else
            emit(static_cast<int>(w.severity), "engine", w.text);
    }
}

void alert(const std::string& text) {
    {
        std::lock_guard lock(state().mutex);
        state().alerts.push_back(text);
    }
    emit(LOG_NOTICE, "alert", text);
}

std::vector<std::string> alerts() {
    std::lock_guard lock(state().mutex);
    return state().alerts;
}

}  // namespace acro_host::applog
