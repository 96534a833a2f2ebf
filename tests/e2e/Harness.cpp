// End-to-end harness: sandboxes, filemaker-host sessions, process clean-up.
#include "Harness.h"

#include "Files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace e2e {

std::string buildDir() {
    return QUILL_BUILD_DIR;
}
std::string fixture(const std::string& name) {
    return std::string(QUILL_FIXTURES_DIR) + "/pdfs/" + name;
}
std::string example(const std::string& name) {
    return std::string(QUILL_SOURCE_DIR) + "/examples/" + name;
}

namespace {

std::vector<char*> cstrings(std::vector<std::string>& v) {
    std::vector<char*> out;
    for (auto& s : v) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& env) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (auto const& [k, v] : env) all[k] = v;
    std::vector<std::string> out;
    for (auto const& [k, v] : all) out.push_back(k + "=" + v);
    return out;
}

pid_t spawn(std::vector<std::string> argv, const std::map<std::string, std::string>& env, int stdinFd, int stdoutFd,
            int closeFd1 = -1, int closeFd2 = -1) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&fa, stdinFd, 0);
    else
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&fa, stdoutFd, 1);
    if (closeFd1 >= 0) posix_spawn_file_actions_addclose(&fa, closeFd1);
    if (closeFd2 >= 0) posix_spawn_file_actions_addclose(&fa, closeFd2);
    auto envStrings = mergedEnvironment(env);
    auto cargv = cstrings(argv);
    auto cenv = cstrings(envStrings);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    return pid;
}

}  // namespace

Run run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const pid_t pid = spawn(argv, env, -1, fds[1]);
    close(fds[1]);
    Run r;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0)
            r.out.append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

std::string lit(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '\r')
            out += "\xC2\xB6";  // ¶
        else
            out.push_back(c);
    }
    return out + "\"";
}

std::string colonForm(const fs::path& absolute) {
    const std::string p = absolute.string();
    const auto volume = quill::volumes::volumeNameForPath(p).value_or("");
    std::string mount;
    for (auto const& v : quill::volumes::mounted())
        if (v.name == volume) mount = v.mountPoint;
    std::string rest = p.substr(mount == "/" ? 1 : mount.size() + 1);
    for (auto& c : rest)
        if (c == '/') c = ':';
    return volume + ":" + rest;
}

std::string browseForm(const fs::path& absolute) {
    return quill::volumes::volumeNameForPath(absolute.string()).value_or("") + absolute.string();
}

int pagesOf(const fs::path& pdf) {
    auto r = run({"/usr/bin/qpdf", "--show-npages", pdf.string()});
    if (r.status != 0 && r.status != 3) return -1;
    return std::atoi(r.out.c_str());
}

Sandbox::Sandbox() {
    fs::create_directories(home());
    fs::create_directories(runtime());
    fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    applications_ = fs::path(buildDir()) / "Applications";
}

Sandbox::~Sandbox() {
    try {
        stopApplications();  // the folder goes with dir_, after them
    } catch (...) {
    }
}

std::map<std::string, std::string> Sandbox::environment() const {
    return {{"QUILLMARK_RUNTIME_DIR", runtime().string()},
            {"QUILLMARK_APPLICATIONS", applications_.string()},
            {"HOME", home().string()},
            {"LC_ALL", "C.UTF-8"}};
}

fs::path Sandbox::copy(const fs::path& from, const std::string& as) {
    const fs::path to = root_ / (as.empty() ? from.filename().string() : as);
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    return to;
}

std::vector<pid_t> Sandbox::applicationPids() const {
    // Every process whose environment names this sandbox's runtime folder.
    std::vector<pid_t> pids;
    const std::string needle = "QUILLMARK_RUNTIME_DIR=" + runtime().string();
    for (auto const& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
        const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str()));
        if (pid == getpid()) continue;
        std::ifstream env(entry.path() / "environ", std::ios::binary);
        if (!env) continue;
        std::string var;
        bool mine = false;
        while (std::getline(env, var, '\0'))
            if (var == needle) {
                mine = true;
                break;
            }
        if (!mine) continue;
        std::ifstream comm(entry.path() / "comm");
        std::string c;
        std::getline(comm, c);
        if (c.rfind("acrobat-host", 0) == 0 || c.rfind("filemaker-host", 0) == 0 ||
            c.find("Acrobat") != std::string::npos)
            pids.push_back(pid);
    }
    return pids;
}

std::vector<pid_t> Sandbox::acrobatPids() const {
    std::vector<pid_t> out;
    for (pid_t p : applicationPids()) {
        std::ifstream comm("/proc/" + std::to_string(p) + "/comm");
        std::string c;
        std::getline(comm, c);
        if (c.rfind("filemaker-host", 0) != 0) out.push_back(p);
    }
    return out;
}

bool Sandbox::waitForExit(const std::vector<pid_t>& pids, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    auto running = [](pid_t p) {
        std::ifstream stat("/proc/" + std::to_string(p) + "/stat");
        std::string pid, comm, state;
        if (!(stat >> pid >> comm >> state)) return false;
        return state != "Z" && state != "X";
    };
    for (pid_t p : pids) {
        while (running(p)) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    return true;
}

void Sandbox::stopApplications() {
    auto pids = applicationPids();
    for (pid_t p : pids) {
        kill(p, SIGCONT);
        kill(p, SIGTERM);
    }
    for (int i = 0; i < 50 && !pids.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pids = applicationPids();
        // Zombies of our own children are reaped here; others' by init.
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }
    for (pid_t p : pids) kill(p, SIGKILL);
}

FmSession::FmSession(const Sandbox& box, std::vector<std::string> extraArgs) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> argv = {buildDir() + "/bin/filemaker-host", "--json"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    pid_ = spawn(argv, box.environment(), toChild[0], fromChild[1]);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
}

FmSession::~FmSession() {
    close();
}

void FmSession::close() {
    if (in_ >= 0) {
        ::close(in_);
        in_ = -1;
    }
    if (pid_ > 0) {
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }
    if (out_ >= 0) {
        ::close(out_);
        out_ = -1;
    }
}

Result FmSession::eval(const std::string& calc, std::chrono::seconds timeout) {
    const std::string line = calc + "\n";
    if (write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        throw std::runtime_error("filemaker-host is gone");
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto nl = pending_.find('\n');
        if (nl != std::string::npos) {
            const std::string json = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            auto j = nlohmann::json::parse(json);
            Result r;
            if (j.contains("error")) {
                r.error = j["error"].get<std::string>();
                return r;
            }
            r.type = j.value("type", "");
            if (j.contains("value")) {
                auto const& v = j["value"];
                r.value = v.is_string() ? v.get<std::string>() : v.dump();
            }
            return r;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("no answer to: " + calc);
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[65536];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) throw std::runtime_error("filemaker-host ended while answering: " + calc);
        pending_.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace e2e
