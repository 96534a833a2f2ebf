// The temporary files of saves: names that say which process made them, and the sweep that
// removes those of savers that are gone.
#include "TemporaryFiles.h"

#include "quill/pdf/AtomicFile.h"
#include "Holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>

namespace quill::pdf {

namespace {

// Every named temporary file is ".quill-saving-<pid>-<start>-<32 hex digits>": the saver's pid
// and its start time (clock ticks after boot, as /proc gives it: a pid used again has another),
// then 128 random bits. No user's file has such a name by chance, and the name says which
// process to ask about.
constexpr std::string_view kTemporaryPrefix = ".quill-saving-";
// A folder is swept again at the latest after this long, for savers that died without touching
// it again.
constexpr time_t kSweepAgainAfterSeconds = 600;

// A process's start time as /proc counts it (field 22 of stat), or 0 when unknown.
unsigned long long startTimeOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return 0;
    // The command name (field 2) may hold spaces and parentheses: count from its last ")".
    const auto close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::size_t at = close + 1;
    for (int field = 3; field < 22; ++field) {
        at = line.find(' ', at + 1);
        if (at == std::string::npos) return 0;
    }
    return std::strtoull(line.c_str() + at + 1, nullptr, 10);
}

struct Saver {
    pid_t pid = 0;
    unsigned long long start = 0;
};

// The saver a temporary file's name records, or nothing when the name is not exactly one of ours.
std::optional<Saver> saverOf(std::string_view name) {
    if (name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix) return std::nullopt;
    name.remove_prefix(kTemporaryPrefix.size());
    const auto number = [&](unsigned long long& value) {
        std::size_t n = 0;
        value = 0;
        while (n < name.size() && n < 20 && name[n] >= '0' && name[n] <= '9') value = value * 10 + (name[n++] - '0');
        if (n == 0 || n >= name.size() || name[n] != '-' || (n > 1 && name[0] == '0')) return false;
        name.remove_prefix(n + 1);
        return true;
    };
    unsigned long long pid = 0, start = 0;
    if (!number(pid) || !number(start) || pid == 0 || pid > 0x3fffffff || name.size() != 32) return std::nullopt;
    for (char c : name)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    return Saver{static_cast<pid_t>(pid), start};
}

// Whether the process that made a file of that name no longer runs: no process has its pid, or
// the one that has it started at another time.
bool saverGone(const Saver& saver) {
    const unsigned long long start = startTimeOf(saver.pid);
    if (start != 0) return start != saver.start;
    return ::kill(saver.pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

std::string temporaryName() {
    unsigned char bytes[16] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return {};
        }
        got += static_cast<std::size_t>(n);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string name(kTemporaryPrefix);
    // This process's start time does not change; a child forked since reads its own.
    static std::mutex ownLock;
    static pid_t ownPid = 0;
    static unsigned long long ownStart = 0;
    const pid_t pid = ::getpid();
    unsigned long long start = 0;
    {
        const std::lock_guard held(ownLock);
        if (ownPid != pid || ownStart == 0) {
            ownStart = startTimeOf(pid);
            ownPid = pid;
        }
        start = ownStart;
    }
    name += std::to_string(pid) + "-" + std::to_string(start) + "-";
    for (unsigned char b : bytes) {
        name += kHex[b >> 4];
        name += kHex[b & 15];
    }
    return name;
}

// Removes the temporary files of savers that are gone from the folder `dir`. Only names exactly
// of our form count, only plain files of this user, only when nobody holds the file's lock and
// the process the name records no longer runs. Anything else stays, whatever its name or age:
// a user's ".budget.saving-2023.xlsx" is theirs, and so are the temporary files of older
// versions, whose names carry nothing that proves their saver gone.
int removeStale(int dir) {
    const int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    const DirHolder listing(::fdopendir(fd));
    if (!listing) {
        ::close(fd);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        const auto saver = saverOf(name);
        if (!saver) continue;
        const FileDescriptor file(::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!file) continue;
        struct stat st {};
        if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0 || !saverGone(*saver)) continue;
        if (::unlinkat(fd, name.c_str(), 0) == 0) ++removed;
    }
    return removed;
}

int removeStaleTemporaryFiles(const std::string& folder) {
    const FileDescriptor dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return dir ? removeStale(dir.get()) : 0;
}

namespace {

// Sweeps a save's folder for stale temporary files when somebody else may have left one there:
// a scan reads every entry of the folder, and a merge saving thousands of files into one folder
// would read it once a file. The folder's modification time, noted after our own saves, says
// whether anyone else has created a file there since; a saver that died without touching the
// folder again is caught by the age rule, so the sweep also runs once its age has passed.
struct FolderSweep {
    std::chrono::steady_clock::time_point at;
    struct timespec mtime {};
};

std::mutex& sweepMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, FolderSweep>& sweeps() {
    static std::map<std::string, FolderSweep> s;
    return s;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

void sweepFolderNowAndThen(int dir, const std::string& folder) {
    const std::lock_guard lock(sweepMutex());
    auto& swept = sweeps();
    const auto now = std::chrono::steady_clock::now();
    struct stat st {};
    const bool known = ::fstat(dir, &st) == 0;
    const auto it = swept.find(folder);
    if (known && it != swept.end() && now - it->second.at < std::chrono::seconds(kSweepAgainAfterSeconds) &&
        sameTime(it->second.mtime, st.st_mtim))
        return;
    if (swept.size() >= 4096) swept.clear();  // a bound for a long session saving everywhere
    removeStale(dir);
    FolderSweep entry{now, {}};
    if (::fstat(dir, &st) == 0) entry.mtime = st.st_mtim;
    swept[folder] = entry;
}

void noteOwnChange(int dir, const std::string& folder) {
    const std::lock_guard lock(sweepMutex());
    const auto it = sweeps().find(folder);
    struct stat st {};
    if (it != sweeps().end() && ::fstat(dir, &st) == 0) it->second.mtime = st.st_mtim;
}

}  // namespace quill::pdf
