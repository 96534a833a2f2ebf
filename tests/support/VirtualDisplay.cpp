#include "VirtualDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

using namespace std::chrono_literals;

namespace quill::testing {

namespace {

pid_t spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

int run(const std::vector<std::string>& argv) {
    const pid_t pid = spawn(argv);
    if (pid < 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The server picks a free display number itself (-displayfd) and goes with
// the test: a test killed by its time-out leaves no display behind.
pid_t startServer(int numberFd) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (numberFd == 3)
        fcntl(3, F_SETFD, 0);
    else
        dup2(numberFd, 3);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0), dup2(null, 1), dup2(null, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
}

}  // namespace

VirtualDisplay::VirtualDisplay() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = startServer(fds[1]);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    // The number comes once the server listens; Xvfb that cannot start closes the pipe.
    while (pid_ > 0 && poll(&p, 1, 10000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (pid_ <= 0 || number.empty()) {
        if (pid_ > 0) kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return;
    }
    name_ = ":" + number;
    setenv("DISPLAY", name_.c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);  // no session bus in tests
    setenv("NO_AT_BRIDGE", "1", 1);
}

VirtualDisplay::~VirtualDisplay() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    unsetenv("DISPLAY");
}

Keystroke key(const std::string& keys) {
    return {"xdotool", "key", "--clearmodifiers", keys};
}

std::future<bool> pressKeysIn(const std::string& title, std::vector<Keystroke> keys, int patience) {
    return std::async(std::launch::async, [title, keys = std::move(keys), patience] {
        auto shown = [&] { return run({"xdotool", "search", "--onlyvisible", "--name", title}) == 0; };
        bool found = false;
        for (int i = 0; i < patience * 10 && !(found = shown()); ++i) std::this_thread::sleep_for(100ms);
        if (!found) return false;
        // The chooser fills its list after it is shown; on a busy machine the
        // first keys may come before the rows. The window closes once the keys
        // have done their work; until then they are pressed again, a little
        // later each time.
        // A window that closes slowly is gone by the time a later attempt looks: that attempt
        // counts as done, and so does a key that fails because the window has just gone.
        for (int attempt = 1; attempt <= 4; ++attempt) {
            if (attempt > 1 && !shown()) return true;
            run({"xdotool", "search", "--onlyvisible", "--name", title, "windowfocus", "--sync"});
            std::this_thread::sleep_for(attempt * 700ms);
            if (!shown()) return true;
            for (const auto& k : keys) {
                if (run(k) != 0) return !shown();
                std::this_thread::sleep_for(300ms);
            }
            for (int i = 0; i < 30; ++i) {
                if (!shown()) return true;
                std::this_thread::sleep_for(100ms);
            }
        }
        return !shown();
    });
}

}  // namespace quill::testing
