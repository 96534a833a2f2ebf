// NSWorkspace: the installed-application registry and the launcher.
#include "NSWorkspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
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
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

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
        const auto slash = bundlePath.rfind('/');
        app.name = bundlePath.substr(slash == std::string::npos ? 0 : slash + 1);
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

// Log file names come from bundle identifiers: keep them plain.
std::string logNameFor(const std::string& bundleIdentifier) {
    std::string s;
    for (char c : bundleIdentifier) s.push_back(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_');
    if (s.empty() || s[0] == '.') s.insert(0, "app");
    return s + ".log";
}

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
#ifdef QUILL_BUILD_APPLICATIONS_DIR
    out.push_back(QUILL_BUILD_APPLICATIONS_DIR);
#endif
    if (const char* home = std::getenv("HOME"); home && *home)
        out.push_back(std::string(home) + "/.local/share/quillmark/Applications");
    return out;
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
            if (!additionalEventParamDescriptor || additionalEventParamDescriptor->descriptorType() != typeAppleEvent) return;
            // Addressed to the application that was found or started.
            ProcessSerialNumber psn{e.key.start, static_cast<UInt32>(e.key.pid)};
            AEDesc copy;
            if (AEDuplicateDesc(additionalEventParamDescriptor->aeDesc(), &copy) != noErr) return;
            auto event = NSAppleEventDescriptor::initWithAEDescNoCopy(&copy);
            event->setAttributeDescriptor(
                NSAppleEventDescriptor::descriptorWithDescriptorType(typeProcessSerialNumber, &psn, sizeof psn), keyAddressAttr);
            AESendMessage(event->aeDesc(), nullptr, kAENoReply, 600);
        };
        if (!(options & NSWorkspaceLaunchNewInstance)) {
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
        const std::string dir = reg::runtimeDir();
        const pid_t pid = spawnDetached(*app, dir + "/" + logNameFor(id));
        if (pid < 0) return false;
        if (options & NSWorkspaceLaunchAsync) return true;

        // Up when the new process has registered under that identifier and its socket answers.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            const auto key = reg::keyOf(pid);
            if (!key) {
                syslog(LOG_ERR, "launch: %s ended before it was up", app->executable.c_str());
                return false;
            }
            if (auto e = reg::entryFor(*key); e && e->bundleIdentifier == id && accepts(*e)) {
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
