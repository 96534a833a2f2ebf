// NSWorkspace: the installed-application registry and the launcher.
#include "NSWorkspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <utility>

#include "InstallFolders.h"
#include "Processes.h"
#include "Registry.h"

extern char** environ;

namespace reg = quill::ae::registry;

namespace quill::process {

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool isDir(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<InstalledApplication> readBundle(const std::string& bundlePath) {
    std::ifstream in(bundlePath + "/Contents/Info");
    if (!in) return std::nullopt;
    std::map<std::string, std::string> keys;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        keys[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    InstalledApplication app;
    app.bundlePath = bundlePath;
    app.bundleIdentifier = keys["CFBundleIdentifier"];
    const std::string exe = keys["CFBundleExecutable"];
    // A plain file name only: the executable must lie inside the bundle.
    if (app.bundleIdentifier.empty() || exe.empty() || exe.find('/') != std::string::npos || exe == "." || exe == "..")
        return std::nullopt;
    app.executable = bundlePath + "/Contents/MacOS/" + exe;
    app.name = keys.count("CFBundleName") ? keys["CFBundleName"] : std::string();
    if (app.name.empty()) {
        app.name = std::filesystem::path(bundlePath).filename().string();
        if (app.name.size() > 4) app.name.resize(app.name.size() - 4);  // ".app"
    }
    return app;
}

std::optional<reg::Entry> runningWith(const std::string& bundleIdentifier) {
    for (auto& e : reg::liveEntries())
        if (e.bundleIdentifier == bundleIdentifier) return e;
    return std::nullopt;
}

bool accepts(const reg::Entry& e) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (e.socketPath.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, e.socketPath.c_str(), e.socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// File names in the runtime folder come from bundle identifiers: keep them
// one plain path component. Letters, digits, '.' and '-' stay, anything else
// becomes '_', a leading dot gets a prefix, and a long identifier is cut
// short with a hash of the whole appended (a file name has at most 255 bytes).
std::string plainNameFor(const std::string& bundleIdentifier) {
    std::string s;
    for (char c : bundleIdentifier)
        s.push_back(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_');
    if (s.empty() || s[0] == '.') s.insert(0, "app");
    constexpr std::size_t kLongest = 160;
    if (s.size() > kLongest) {
        std::uint64_t h = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : bundleIdentifier) h = (h ^ c) * 1099511628211ull;
        char hex[20];
        std::snprintf(hex, sizeof hex, "-%016llx", static_cast<unsigned long long>(h));
        s.resize(kLongest - 17);
        s += hex;
    }
    return s;
}

std::string logNameFor(const std::string& bundleIdentifier) {
    return plainNameFor(bundleIdentifier) + ".log";
}

using Clock = std::chrono::steady_clock;

// How long a launch waits, for its turn and for the application, in all.
constexpr auto kLaunchWait = std::chrono::seconds(15);

// Milliseconds since boot: one clock for every process on the machine.
std::int64_t bootMillis() {
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Launches of one application take turns, across all processes of the user:
// whoever holds "<runtime folder>/launch.<identifier>.lock" (flock) looks for
// a running instance and, finding none, starts one and waits for it to come
// up before letting go. A launch at the same moment therefore finds that
// instance instead of starting a second.
//
// The lock belongs to the open file, so it goes when its holder ends, however
// it ends; the descriptor is close-on-exec so that the started application
// never holds it. The files stay (removing one would let two holders lock two
// different files of the same name).
//
// While it holds the lock a launcher also writes into the file which process
// it has started ("<pid> <start> <ms since boot>"): a later launch that finds
// it alive, recent and not yet registered waits for it rather than starting
// another (after an asynchronous launch, or a launcher that was killed).
class LaunchLock {
public:
    // Waits for the lock until the deadline; nullopt when it did not come.
    static std::optional<LaunchLock> acquire(const std::string& path, Clock::time_point deadline) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            syslog(LOG_ERR, "launch: cannot open %s: %s", path.c_str(), std::strerror(errno));
            return std::nullopt;
        }
        LaunchLock lock(fd);
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            syslog(LOG_ERR, "launch: %s is not a lock file of ours", path.c_str());
            return std::nullopt;
        }
        // Polled, so that the wait has a bound (a blocking flock has none).
        auto pause = std::chrono::milliseconds(1);
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                syslog(LOG_ERR, "launch: cannot lock %s: %s", path.c_str(), std::strerror(errno));
                return std::nullopt;
            }
            if (Clock::now() >= deadline) {
                syslog(LOG_ERR, "launch: another launch held %s for 15 seconds", path.c_str());
                return std::nullopt;
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(10));
        }
        return lock;
    }

    LaunchLock(LaunchLock&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    LaunchLock(const LaunchLock&) = delete;
    LaunchLock& operator=(const LaunchLock&) = delete;
    LaunchLock& operator=(LaunchLock&&) = delete;
    ~LaunchLock() {
        if (fd_ >= 0) ::close(fd_);  // and with it the lock
    }

    // The instance the last holder started, if it is still alive and was
    // started recently enough that it may yet come up.
    std::optional<reg::ProcessKey> starting() const {
        char buf[96] = {};
        const ssize_t n = ::pread(fd_, buf, sizeof buf - 1, 0);
        if (n <= 0) return std::nullopt;
        long long pid = 0, ms = 0;
        unsigned long long start = 0;
        if (std::sscanf(buf, "%lld %llu %lld", &pid, &start, &ms) != 3 || pid <= 0 || start == 0 ||
            start > 0xFFFFFFFFull)
            return std::nullopt;
        const std::int64_t age = bootMillis() - ms;
        if (age < 0 || age >= std::chrono::milliseconds(kLaunchWait).count()) return std::nullopt;
        const reg::ProcessKey key{static_cast<pid_t>(pid), static_cast<std::uint32_t>(start)};
        if (!reg::alive(key)) return std::nullopt;
        return key;
    }

    void noteStarting(const reg::ProcessKey& key) const {
        char buf[96];
        const int len = std::snprintf(buf, sizeof buf, "%lld %llu %lld\n", static_cast<long long>(key.pid),
                                      static_cast<unsigned long long>(key.start), static_cast<long long>(bootMillis()));
        if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, buf, static_cast<std::size_t>(len), 0) != len)
            syslog(LOG_WARNING, "launch: cannot note the starting instance: %s", std::strerror(errno));
    }

private:
    explicit LaunchLock(int fd) : fd_(fd) {}
    int fd_;
};

// Starts the executable detached; its pid, or -1.
pid_t spawnDetached(const InstalledApplication& app, const std::string& logPath) {
    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);

    // The environment passed through, plus where the bundle is.
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "QUILLMARK_BUNDLE_PATH=", 22) != 0) env.emplace_back(*e);
    env.push_back("QUILLMARK_BUNDLE_PATH=" + app.bundlePath);
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = app.executable;
    char* argv[] = {exe.data(), nullptr};

    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, exe.c_str(), &fa, &attr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        syslog(LOG_ERR, "launch: cannot start %s: %s", exe.c_str(), std::strerror(err));
        return -1;
    }
    // Reap it whenever it ends, so that it never lingers as a zombie of ours.
    std::thread([pid] {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return pid;
}

}  // namespace

std::vector<std::string> applicationFolders() {
    std::vector<std::string> out;
    const char* env = std::getenv("QUILLMARK_APPLICATIONS");
    if (env && *env) {
        std::string s = env;
        std::size_t start = 0;
        while (start <= s.size()) {
            const auto colon = s.find(':', start);
            const std::string part = s.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!part.empty()) out.push_back(part);
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
        return out;
    }
    // Beside the running program (an installed tree or the build tree), then
    // the XDG data folders.
    return quill::install::searchFolders("Applications");
}

std::optional<InstalledApplication> findInstalledApplication(const std::string& bundleIdentifier) {
    if (bundleIdentifier.empty()) return std::nullopt;
    for (const auto& folder : applicationFolders()) {
        DIR* d = ::opendir(folder.c_str());
        if (!d) continue;
        std::vector<std::string> bundles;
        while (struct dirent* ent = ::readdir(d)) {
            const std::string name = ent->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0) bundles.push_back(name);
        }
        ::closedir(d);
        std::sort(bundles.begin(), bundles.end());  // a stable choice when two bundles share an identifier
        for (const auto& b : bundles) {
            const std::string path = folder + "/" + b;
            if (!isDir(path)) continue;
            auto app = readBundle(path);
            if (app && app->bundleIdentifier == bundleIdentifier) return app;
        }
    }
    return std::nullopt;
}

}  // namespace quill::process

NSWorkspace& NSWorkspace::sharedWorkspace() {
    static NSWorkspace* ws = new NSWorkspace;
    return *ws;
}

bool NSWorkspace::launchAppWithBundleIdentifier(const NSString& bundleIdentifier, NSWorkspaceLaunchOptions options,
                                                const NSAppleEventDescriptorRef& additionalEventParamDescriptor,
                                                void* /*launchIdentifier*/) {
    using namespace quill::process;
    try {
        const std::string id = bundleIdentifier.UTF8String();
        auto deliver = [&](const reg::Entry& e) {
            if (!additionalEventParamDescriptor || additionalEventParamDescriptor->descriptorType() != typeAppleEvent)
                return;
            // Addressed to the application that was found or started.
            ProcessSerialNumber psn{e.key.start, static_cast<UInt32>(e.key.pid)};
            AEDesc copy;
            if (AEDuplicateDesc(additionalEventParamDescriptor->aeDesc(), &copy) != noErr) return;
            auto event = NSAppleEventDescriptor::initWithAEDescNoCopy(&copy);
            event->setAttributeDescriptor(
                NSAppleEventDescriptor::descriptorWithDescriptorType(typeProcessSerialNumber, &psn, sizeof psn),
                keyAddressAttr);
            AESendMessage(event->aeDesc(), nullptr, kAENoReply, 600);
        };
        const bool newInstance = (options & NSWorkspaceLaunchNewInstance) != 0;
        if (!newInstance) {
            if (auto running = runningWith(id)) {
                deliver(*running);
                return true;
            }
        }
        const auto app = findInstalledApplication(id);
        if (!app) {
            syslog(LOG_NOTICE, "launch: no installed application has the identifier %s", id.c_str());
            return false;
        }
        if (::access(app->executable.c_str(), X_OK) != 0) {
            syslog(LOG_ERR, "launch: %s is not an executable", app->executable.c_str());
            return false;
        }
        const auto deadline = Clock::now() + kLaunchWait;
        const std::string dir = reg::runtimeDir();
        // Held until the application is up or given up on (see LaunchLock).
        const auto lock = LaunchLock::acquire(dir + "/launch." + plainNameFor(id) + ".lock", deadline);
        if (!lock) return false;

        // Another launch may have started it while we waited for our turn.
        std::optional<reg::ProcessKey> key;
        if (!newInstance) {
            if (auto running = runningWith(id)) {
                deliver(*running);
                return true;
            }
            key = lock->starting();
        }
        if (!key) {
            const pid_t pid = spawnDetached(*app, dir + "/" + logNameFor(id));
            if (pid < 0) return false;
            key = reg::keyOf(pid);
            if (!key) {
                syslog(LOG_ERR, "launch: %s ended before it was up", app->executable.c_str());
                return false;
            }
            lock->noteStarting(*key);
        }
        if (options & NSWorkspaceLaunchAsync) return true;

        // Up when the new process has registered under that identifier and its socket answers.
        while (Clock::now() < deadline) {
            if (!reg::alive(*key)) {
                syslog(LOG_ERR, "launch: %s ended before it was up", app->executable.c_str());
                return false;
            }
            if (auto e = reg::entryForLive(*key); e && e->bundleIdentifier == id && accepts(*e)) {
                deliver(*e);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        syslog(LOG_ERR, "launch: %s did not come up within 15 seconds", app->executable.c_str());
        return false;
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "launch failed: %s", e.what());
        return false;
    } catch (...) {
        return false;
    }
}
