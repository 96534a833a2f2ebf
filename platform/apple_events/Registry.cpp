// Registry: runtime folder, process identity from /proc, and the application
// registry files.
#include "Registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace quill::ae::registry {

namespace {

std::string readSmallFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        if (out.size() > 64 * 1024) break;  // no registry file is this big
    }
    ::close(fd);
    return out;
}

std::string hex8(std::uint32_t v) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", v);
    return buf;
}

bool parseHex8(const std::string& s, std::uint32_t& out) {
    if (s.size() != 8) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(s.c_str(), &end, 16);
    if (end != s.c_str() + 8) return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

// Keeps one line one field: a name with a line break in it would otherwise
// forge the next key.
std::string oneLine(std::string s) {
    for (auto& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

bool parseKeyFromName(const std::string& name, const char* prefix, ProcessKey& key) {
    const std::size_t plen = std::strlen(prefix);
    if (name.compare(0, plen, prefix) != 0) return false;
    const std::string rest = name.substr(plen);
    const auto dot = rest.find('.');
    if (dot == std::string::npos || dot == 0) return false;
    char* end = nullptr;
    const std::string pidText = rest.substr(0, dot), startText = rest.substr(dot + 1);
    long pid = std::strtol(pidText.c_str(), &end, 10);
    if (*end || pid <= 0) return false;
    unsigned long start = std::strtoul(startText.c_str(), &end, 10);
    if (*end || startText.empty() || start == 0 || start > 0xFFFFFFFFul) return false;
    key.pid = static_cast<pid_t>(pid);
    key.start = static_cast<std::uint32_t>(start);
    return true;
}

std::optional<Entry> readEntry(const std::string& path, const ProcessKey& key) {
    const std::string text = readSmallFile(path);
    if (text.empty()) return std::nullopt;
    Entry e;
    e.key = key;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == "name")
            e.name = v;
        else if (k == "type")
            parseHex8(v, e.type);
        else if (k == "creator")
            parseHex8(v, e.creator);
        else if (k == "bundleIdentifier")
            e.bundleIdentifier = v;
        else if (k == "bundlePath")
            e.bundlePath = v;
        else if (k == "socket")
            e.socketPath = v;
    }
    if (e.socketPath.empty()) return std::nullopt;
    return e;
}

}  // namespace

namespace {

// /proc/<pid>/stat of the processes asked about most recently, kept open: one
// pread per look instead of open, read and close. An open stat file stays
// with the process it was opened for; once that process is gone it answers
// an error, never a later process that got the same number.
//
// With a pidfd beside it, a look at a process that is still running costs a
// poll and no read at all: what the stat says of identity (start time, name)
// cannot change while the process lives, and the pidfd turns readable the
// moment it exits (a zombie included), when the file is read again. The state
// letter kept may be stale between running, sleeping and stopped; callers
// only ask whether the process has exited.
int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

bool stillRunning(int pidfd) {
    if (pidfd < 0) return false;
    pollfd p{pidfd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

// The run loop's note (noteRunningPeers), kept per thread: only the thread
// that woke knows how fresh it is.
struct PeerNote {
    std::chrono::steady_clock::time_point taken{};
    std::vector<RunningPeer> peers;
};
thread_local PeerNote tPeerNote;
constexpr auto kPeerNoteFresh = std::chrono::milliseconds(1);

// Whether the run loop's fresh note says the process `pidfd` names still
// runs. `id` caches that pidfd's identity, asked for only when the note
// names the pid at all (0: not asked yet; ~0: none).
bool notedRunning(pid_t pid, int pidfd, std::uint64_t& id) {
    if (tPeerNote.peers.empty()) return false;
    const auto noted = std::find_if(tPeerNote.peers.begin(), tPeerNote.peers.end(),
                                    [&](const RunningPeer& p) { return p.pid == pid; });
    if (noted == tPeerNote.peers.end()) return false;
    if (id == 0) {
        const std::uint64_t v = pidfdIdentity(pidfd);
        id = v ? v : ~std::uint64_t{0};
    }
    if (id == ~std::uint64_t{0}) return false;
    bool same = false;
    for (const auto& p : tPeerNote.peers)
        if (p.pid == pid && p.id == id) same = true;
    return same && std::chrono::steady_clock::now() - tPeerNote.taken < kPeerNoteFresh;
}

std::string readProcStat(pid_t pid) {
    struct Held {
        pid_t pid;
        int fd;
        int pidfd;         // -1 when the kernel has none to give
        std::string text;  // the last read, good while the pidfd says the process runs
        std::uint64_t id;  // see notedRunning
    };
    static std::mutex lock;
    static std::vector<Held> held;
    std::lock_guard<std::mutex> hold(lock);
    char buf[1024];
    const auto forget = [](Held& h) {
        ::close(h.fd);
        if (h.pidfd >= 0) ::close(h.pidfd);
    };
    for (auto it = held.begin(); it != held.end(); ++it) {
        if (it->pid != pid) continue;
        if (notedRunning(pid, it->pidfd, it->id) || stillRunning(it->pidfd)) return it->text;
        const ssize_t n = ::pread(it->fd, buf, sizeof buf, 0);
        if (n > 0) {
            it->text.assign(buf, static_cast<std::size_t>(n));
            return it->text;
        }
        forget(*it);
        held.erase(it);
        break;
    }
    // The pidfd first: if its process still runs once the stat is read, the
    // stat read was that process's, not a later one's with the same number.
    int pidfd = openPidfd(pid);
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const ssize_t n = fd < 0 ? -1 : ::pread(fd, buf, sizeof buf, 0);
    if (n <= 0) {
        if (fd >= 0) ::close(fd);
        if (pidfd >= 0) ::close(pidfd);
        return {};
    }
    if (pidfd >= 0 && !stillRunning(pidfd)) {
        ::close(pidfd);
        pidfd = -1;
    }
    if (held.size() >= 8) {
        forget(held.front());
        held.erase(held.begin());
    }
    held.push_back({pid, fd, pidfd, std::string(buf, static_cast<std::size_t>(n)), 0});
    return held.back().text;
}

}  // namespace

void noteRunningPeers(const std::vector<RunningPeer>& peers) {
    tPeerNote.peers = peers;
    tPeerNote.taken = std::chrono::steady_clock::now();
}

std::uint64_t pidfdIdentity(int pidfd) {
    // Where pidfds live on their own file system, each process has an inode
    // of its own there, never reused; elsewhere they share one.
    constexpr long kPidfsMagic = 0x50494446;
    struct statfs fs {};
    struct stat st {};
    if (pidfd < 0 || ::fstatfs(pidfd, &fs) != 0 || static_cast<long>(fs.f_type) != kPidfsMagic ||
        ::fstat(pidfd, &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_ino);
}

std::optional<ProcStat> statOf(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    const std::string text = readProcStat(pid);
    // "pid (comm) state ppid ..." — comm may hold spaces and ')' itself. Read
    // by hand: the readiness check asks on every call, and a string stream
    // cost more than the read itself.
    const auto open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    ProcStat st;
    st.command = text.substr(open + 1, close - open - 1);
    // Fields after the command, separated by blanks: state is the first, starttime the 20th.
    const char* p = text.c_str() + close + 1;
    const char* const end = text.c_str() + text.size();
    for (int i = 0; i < 20; ++i) {
        while (p < end && (*p == ' ' || *p == '\n' || *p == '\t')) ++p;
        if (p == end) return std::nullopt;
        const char* const field = p;
        while (p < end && *p != ' ' && *p != '\n' && *p != '\t') ++p;
        if (i == 0) st.state = *field;
        if (i == 19) {
            st.startTicks = std::strtoull(std::string(field, p).c_str(), nullptr, 10);
            return st;
        }
    }
    return std::nullopt;
}

std::uint32_t startKey(std::uint64_t startTicks) {
    const auto low = static_cast<std::uint32_t>(startTicks);
    return low ? low : 0x80000000u;
}

std::optional<ProcessKey> keyOf(pid_t pid) {
    auto st = statOf(pid);
    if (!st || st->state == 'Z' || st->state == 'X' || st->state == 'x') return std::nullopt;
    return ProcessKey{pid, startKey(st->startTicks)};
}

namespace {
std::atomic<pid_t> gSelfPid{0};
void forgetSelfPid() {
    gSelfPid.store(0, std::memory_order_relaxed);
}
}  // namespace

pid_t selfPid() {
    pid_t pid = gSelfPid.load(std::memory_order_relaxed);
    if (pid) return pid;
    static const bool installed = [] {
        ::pthread_atfork(nullptr, nullptr, forgetSelfPid);
        return true;
    }();
    (void)installed;
    pid = ::getpid();
    gSelfPid.store(pid, std::memory_order_relaxed);
    return pid;
}

ProcessKey self() {
    // Cached per pid (a forked child has a new one), packed into one word so
    // that readers never see half an update.
    static std::atomic<std::uint64_t> cached{0};
    const pid_t pid = selfPid();
    const std::uint64_t c = cached.load(std::memory_order_relaxed);
    if (c && static_cast<pid_t>(c >> 32) == pid) return ProcessKey{pid, static_cast<std::uint32_t>(c)};
    auto k = keyOf(pid);
    const ProcessKey key = k ? *k : ProcessKey{pid, 0x80000000u};
    cached.store((std::uint64_t(static_cast<std::uint32_t>(pid)) << 32) | key.start, std::memory_order_relaxed);
    return key;
}

bool alive(const ProcessKey& key) {
    auto k = keyOf(key.pid);
    return k && *k == key;
}

namespace {

// The runtime folder's name, from the environment, without looking at it.
std::string runtimeDirName() {
    std::string dir;
    if (const char* env = std::getenv("QUILLMARK_RUNTIME_DIR"); env && *env) {
        dir = env;
    } else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
        dir = std::string(xdg) + "/quillmark";
    } else {
        dir = "/tmp/quillmark-" + std::to_string(::getuid());
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

uid_t effectiveUid() {
    // Kept: the registry's processes never change who they run as.
    static const uid_t euid = ::geteuid();
    return euid;
}

// The runtime folder as runtimeDir() checks it, with what lstat said of it
// (for the listing below, which would otherwise look again).
std::string runtimeDirStat(struct stat& st);

}  // namespace

std::string runtimeDir() {
    struct stat st {};
    return runtimeDirStat(st);
}

namespace {

std::string runtimeDirStat(struct stat& st) {
    const std::string dir = runtimeDirName();
    // The usual case, on every call: the folder is there, ours and private.
    if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == effectiveUid() && (st.st_mode & 077) == 0)
        return dir;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        // A missing parent (a custom QUILLMARK_RUNTIME_DIR): make the chain.
        for (std::size_t pos = 1; (pos = dir.find('/', pos)) != std::string::npos; ++pos)
            ::mkdir(dir.substr(0, pos).c_str(), 0700);
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::runtime_error("cannot create the runtime folder " + dir + ": " + std::strerror(errno));
    }
    if (::lstat(dir.c_str(), &st) != 0)
        throw std::runtime_error("cannot examine the runtime folder " + dir + ": " + std::strerror(errno));
    // Each refusal names the folder and why it is not safe: processes find each other and trade
    // events through it, so whoever else controls it could read or answer every request.
    const std::string remedy = "; remove it or set QUILLMARK_RUNTIME_DIR to a folder of your own";
    if (!S_ISDIR(st.st_mode))
        throw std::runtime_error("The runtime folder " + dir +
                                 " is not safe to use: it is not a folder (or is a symbolic link)" + remedy + ".");
    if (st.st_uid != effectiveUid())
        throw std::runtime_error("The runtime folder " + dir + " is not safe to use: it belongs to another user (uid " +
                                 std::to_string(st.st_uid) + "), who could read and answer every request" + remedy +
                                 ".");
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0)
        throw std::runtime_error("The runtime folder " + dir +
                                 " is not safe to use: others may enter it and it cannot be restricted to its owner" +
                                 remedy + ".");
    return dir;
}

}  // namespace

std::string socketPathFor(const std::string& dir, const ProcessKey& key) {
    return dir + "/ae." + std::to_string(key.pid) + "." + std::to_string(key.start);
}
std::string entryPathFor(const std::string& dir, const ProcessKey& key) {
    return dir + "/app." + std::to_string(key.pid) + "." + std::to_string(key.start);
}

namespace {

// The processes the folder has entries for, in key order. Listing the folder
// is most of what finding an application costs, so the list is kept while the
// folder's times stay as they were. Those times come from the kernel's coarse
// clock, not from each change: two changes within one tick leave the same
// time, and a list taken between them would stay wrong. So a list is kept
// only when the coarse clock had already moved past the folder's times before
// the listing began: every later change then stamps a later time. Times the
// file system rounds to a millisecond or more say too little for that; the
// list is then kept only when the folder had not changed for two seconds.
// `st` is what lstat said of the folder just before.
std::vector<ProcessKey> namedKeys(const std::string& dir, const struct stat& st) {
    struct Listing {
        std::string dir;
        dev_t dev = 0;
        ino_t ino = 0;
        timespec mtime{}, ctime{};
        std::vector<ProcessKey> keys;
    };
    static std::mutex lock;
    static Listing kept;
    const auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    {
        std::lock_guard<std::mutex> hold(lock);
        if (kept.dir == dir && kept.dev == st.st_dev && kept.ino == st.st_ino && same(kept.mtime, st.st_mtim) &&
            same(kept.ctime, st.st_ctim))
            return kept.keys;
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    std::vector<ProcessKey> keys;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return keys;
    while (struct dirent* ent = ::readdir(d)) {
        ProcessKey key;
        if (parseKeyFromName(ent->d_name, "app.", key)) keys.push_back(key);
    }
    ::closedir(d);
    std::sort(keys.begin(), keys.end());
    const auto settled = [&](const timespec& t) {
        constexpr long long kMs = 1000000;
        const long long ns = (now.tv_sec - t.tv_sec) * 1000000000LL + (now.tv_nsec - t.tv_nsec);
        return t.tv_nsec % kMs != 0 ? ns > kMs : ns >= 2000 * kMs;
    };
    if (settled(st.st_mtim) && settled(st.st_ctim)) {
        std::lock_guard<std::mutex> hold(lock);
        kept = Listing{dir, st.st_dev, st.st_ino, st.st_mtim, st.st_ctim, keys};
    }
    return keys;
}

// entryForLive for a folder already checked.
std::optional<Entry> entryIn(const std::string& dir, const ProcessKey& key);

}  // namespace

std::vector<Entry> liveEntries() {
    std::vector<Entry> out;
    std::string dir;
    struct stat st {};
    try {
        dir = runtimeDirStat(st);
    } catch (...) {
        return out;
    }
    for (const auto& key : namedKeys(dir, st)) {
        if (!alive(key)) {
            removeEntry(dir, key);
            continue;
        }
        // Alive: its entry is the one written when it registered (entryIn keeps it).
        if (auto e = entryIn(dir, key)) out.push_back(std::move(*e));
    }
    return out;
}

std::optional<Entry> entryFor(const ProcessKey& key) {
    if (!alive(key)) return std::nullopt;
    return entryForLive(key);
}

namespace {

// A live process's entries, by folder and process: an entry is written once,
// when its process registers, and names that process for its whole life, so
// it is read from the folder once and then kept.
std::mutex gKnownLock;
std::map<std::pair<std::string, ProcessKey>, Entry>& knownEntries() {
    static auto* known = new std::map<std::pair<std::string, ProcessKey>, Entry>;
    return *known;
}

std::optional<Entry> knownEntry(const std::pair<std::string, ProcessKey>& id) {
    std::lock_guard<std::mutex> hold(gKnownLock);
    const auto& known = knownEntries();
    if (auto it = known.find(id); it != known.end()) return it->second;
    return std::nullopt;
}

std::optional<Entry> readAndKeep(const std::string& dir, const ProcessKey& key) {
    auto entry = readEntry(entryPathFor(dir, key), key);
    if (entry) {
        std::lock_guard<std::mutex> hold(gKnownLock);
        auto& known = knownEntries();
        if (known.size() >= 64) known.clear();
        known.emplace(std::pair<std::string, ProcessKey>{dir, key}, *entry);
    }
    return entry;
}

std::optional<Entry> entryIn(const std::string& dir, const ProcessKey& key) {
    if (auto e = knownEntry({dir, key})) return e;
    return readAndKeep(dir, key);
}

}  // namespace

std::optional<Entry> entryForLive(const ProcessKey& key) {
    if (auto e = knownEntry({runtimeDirName(), key})) return e;
    std::string dir;
    try {
        dir = runtimeDir();
    } catch (...) {
        return std::nullopt;
    }
    return readAndKeep(dir, key);
}

void writeEntry(const std::string& dir, const Entry& e) {
    std::string text;
    text += "name=" + oneLine(e.name) + "\n";
    text += "type=" + hex8(e.type) + "\n";
    text += "creator=" + hex8(e.creator) + "\n";
    text += "bundleIdentifier=" + oneLine(e.bundleIdentifier) + "\n";
    text += "bundlePath=" + oneLine(e.bundlePath) + "\n";
    text += "socket=" + oneLine(e.socketPath) + "\n";
    const std::string path = entryPathFor(dir, e.key), tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) throw std::runtime_error("cannot write " + tmp + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            throw std::runtime_error("cannot write " + tmp);
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    }
}

void removeEntry(const std::string& dir, const ProcessKey& key) {
    ::unlink(entryPathFor(dir, key).c_str());
    ::unlink(socketPathFor(dir, key).c_str());
}

}  // namespace quill::ae::registry
