// Atomic, checked file writes: an unnamed (or locked, named) temporary file beside the target,
// every write and fsync checked, then a rename over the target.
#include "AtomicFile.h"

#include "Error.h"
#include "Warnings.h"
#include "Holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

namespace quill::pdf {

namespace {

std::function<void(const std::string&)>& beforeRenameHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

bool& forceNamed() {
    static bool named = false;
    return named;
}

constexpr const char* kSavingMark = ".saving-";
constexpr const char* kShortPrefix = ".quill-saving-";
// A temporary file whose saver may still run is left alone unless it is this old.
constexpr time_t kAbandonedAfterSeconds = 600;

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PlacementDeadline& placementDeadline() {
    static PlacementDeadline source;
    return source;
}

// Refuses to put the new file in place once the requester's time is up: it was answered with
// an error already, and that answer stays true only while the target is untouched.
void checkDeadline(const std::string& path) {
    const auto& source = placementDeadline();
    if (!source) return;
    const auto deadline = source();
    if (!deadline) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < *deadline) return;
    const auto late = std::chrono::duration_cast<std::chrono::milliseconds>(now - *deadline).count();
    warn(Severity::kWarning, "save of " + path + " not put in place: the request's time ran out " +
                                 std::to_string(late) + " ms before; the file is unchanged");
    throw Error(err::kUnableToWrite, "The file \"" + baseOf(path) + "\"" +
                                         " was not saved because the request took longer than its caller waited; "
                                         "the file is unchanged.");
}

[[noreturn]] void failWrite(int e, const std::string& path) {
    const std::string name = "\"" + baseOf(path) + "\"";
    switch (e) {
        case ENOENT:
        case ENOTDIR:
            throw Error(err::kUnableToWrite,
                        "The file " + name + " could not be saved because its folder does not exist.");
        case EACCES:
        case EPERM:
            throw Error(err::kFileAccess, "You do not have permission to save the file " + name + " in that folder.");
        case EROFS:
            throw Error(err::kFileAccess, "The file " + name + " could not be saved because the disk is read-only.");
        case ENOSPC:
        case EDQUOT:
            throw Error(err::kDiskFull, "The file " + name + " could not be saved because the disk is full.");
        case EISDIR:
            throw Error(err::kFileIsFolder, "The file " + name + " could not be saved because a folder has that name.");
        case ENAMETOOLONG:
            throw Error(err::kUnableToWrite, "The file " + name + " could not be saved because its name is too long.");
        case EIO:
            throw Error(err::kFileIO, "The file " + name + " could not be saved because the disk reported an error.");
        default:
            throw Error(err::kUnableToWrite, "The file " + name + " could not be saved (" + std::strerror(e) + ").");
    }
}

mode_t newFileMode() {
    // umask cannot be read without setting it; the host saves from one thread.
    mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

// The file a save really replaces, and what it must keep of the old one.
struct Target {
    std::string path;  // symbolic links resolved
    std::string folder;
    bool exists = false;
    struct stat st {};
};

// The kernel's protected_symlinks rule, applied whatever the system's setting: in a folder that
// everyone may write and only owners may delete from (/tmp), a link is followed only when it
// belongs to the user or to the folder's owner. Another user's link there is a trap: following it
// would overwrite whatever file of ours it names.
void refuseUnsafeLink(const std::string& given, const struct stat& link) {
    struct stat folder {};
    if (::stat(folderOf(given).c_str(), &folder) != 0) return;  // the save fails on the folder later
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    if (!shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid) return;
    throw Error(err::kFileAccess, "The file \"" + baseOf(given) +
                                      "\" was not saved: it is a symbolic link that another user made in a shared "
                                      "folder, and such a link is not followed.");
}

Target checkTarget(const std::string& given) {
    if (given.empty()) throw Error(err::kBadParm, "No file name was given for the save.");
    Target t;
    t.path = given;
    struct stat lst {};
    if (::lstat(given.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        refuseUnsafeLink(given, lst);
        // Saving through a link writes the file it names and keeps the link.
        std::vector<char> resolved(PATH_MAX + 1, '\0');
        if (::realpath(given.c_str(), resolved.data())) t.path = resolved.data();
    }
    t.folder = folderOf(t.path);
    if (::stat(t.path.c_str(), &t.st) == 0) {
        t.exists = true;
        if (S_ISDIR(t.st.st_mode)) failWrite(EISDIR, given);
        if (!S_ISREG(t.st.st_mode))
            throw Error(err::kFileIsFolder,
                        "The file \"" + baseOf(given) + "\" could not be saved because it is not a plain file.");
        if (::faccessat(AT_FDCWD, t.path.c_str(), W_OK, AT_EACCESS) != 0) failWrite(errno, given);
    } else if (errno != ENOENT) {
        failWrite(errno, given);
    }
    // The new file is made in the folder and renamed there: both need write access.
    if (::faccessat(AT_FDCWD, t.folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) failWrite(errno, given);
    return t;
}

bool isTemporaryName(const std::string& name) {
    if (name.rfind(kShortPrefix, 0) == 0) return true;
    return name.size() > 1 && name[0] == '.' && name.find(kSavingMark) != std::string::npos;
}

// The saver's pid in "...saving-<pid>-XXXXXX", or 0 when the name carries none.
pid_t saverOf(const std::string& name) {
    const auto mark = name.rfind("saving-");
    if (mark == std::string::npos) return 0;
    const std::string rest = name.substr(mark + 7);
    const auto dash = rest.find('-');
    if (dash == std::string::npos || dash == 0) return 0;
    pid_t pid = 0;
    for (std::size_t i = 0; i < dash; ++i) {
        if (rest[i] < '0' || rest[i] > '9' || pid > 100000000) return 0;
        pid = pid * 10 + (rest[i] - '0');
    }
    return pid;
}

std::string randomSuffix() {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        const auto t = static_cast<unsigned long>(std::time(nullptr)) ^ static_cast<unsigned long>(::getpid());
        for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(t >> (i * 5));
    }
    std::string s;
    for (unsigned char b : bytes) s += kChars[b % (sizeof kChars - 1)];
    return s;
}

std::string temporaryName(const Target& t) {
    const std::string base = baseOf(t.path);
    const std::string tail = kSavingMark + std::to_string(::getpid()) + "-" + randomSuffix();
    std::string name = "." + base + tail;
    if (name.size() > NAME_MAX) name = kShortPrefix + std::to_string(::getpid()) + "-" + randomSuffix();
    return t.folder + "/" + name;
}

// The temporary file of one save; removed (when named) unless it was put in place.
struct TempFile {
    FileDescriptor fd;
    std::string name;  // empty while the file has no name
    bool placed = false;
    // The name goes before the descriptor closes (the member is destroyed after this body).
    ~TempFile() {
        if (!placed && !name.empty()) ::unlink(name.c_str());
    }
};

void createTemp(const Target& t, mode_t mode, TempFile& temp, const std::string& given) {
    if (!forceNamed()) {
        temp.fd = FileDescriptor(::open(t.folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
        if (temp.fd) return;
        // Only a file system without unnamed files falls back; anything else is the save's error.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) failWrite(errno, given);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporaryName(t);
        temp.fd = FileDescriptor(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (temp.fd) {
            temp.name = std::move(name);
            return;
        }
        if (errno != EEXIST) failWrite(errno, given);
    }
    failWrite(EEXIST, given);
}

// Gives the unnamed file a name in its folder (the rename needs one).
void nameTemp(const Target& t, TempFile& temp, const std::string& given) {
    const std::string self = "/proc/self/fd/" + std::to_string(temp.fd.get());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporaryName(t);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp.name = std::move(name);
            return;
        }
        if (errno != EEXIST) failWrite(errno, given);
    }
    failWrite(EEXIST, given);
}

// Buffered writes to a file descriptor, every one checked.
class FdSink : public FileSink {
public:
    // The buffer grows with what is written: a small form's save never asks the heap for the
    // whole capacity (a request that size makes glibc consolidate its free lists first).
    FdSink(int fd, std::string target) : fd_(fd), target_(std::move(target)) {}
    using FileSink::write;
    void write(const void* data, std::size_t size) override {
        const char* p = static_cast<const char*>(data);
        if (buffer_.size() + size > kCapacity) flush();
        if (size >= kCapacity) {
            writeAll(p, size);
            return;
        }
        buffer_.insert(buffer_.end(), p, p + size);
    }
    void flush() {
        if (!buffer_.empty()) writeAll(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

private:
    static constexpr std::size_t kCapacity = 256 * 1024;
    void writeAll(const char* p, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd_, p, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                failWrite(errno, target_);
            }
            if (n == 0) failWrite(ENOSPC, target_);  // a write that makes no progress: no room
            p += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    int fd_;
    std::string target_;
    std::vector<char> buffer_;
};

void copyInto(FileSink& sink, const std::string& from) {
    const FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in)
        throw Error(err::kUnableToRead,
                    "The file \"" + baseOf(from) + "\" could not be read (" + std::strerror(errno) + ").");
    std::vector<char> chunk(256 * 1024);
    for (;;) {
        const ssize_t n = ::read(in.get(), chunk.data(), chunk.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            throw Error(err::kFileIO,
                        "The file \"" + baseOf(from) + "\" could not be read (" + std::strerror(e) + ").");
        }
        sink.write(chunk.data(), static_cast<std::size_t>(n));
    }
}

}  // namespace

void setBeforeRenameHookForTesting(std::function<void(const std::string&)> hook) {
    beforeRenameHook() = std::move(hook);
}

void setPlacementDeadline(PlacementDeadline source) {
    placementDeadline() = std::move(source);
}

void setNamedTemporaryFilesForTesting(bool named) {
    forceNamed() = named;
}

int removeStaleTemporaryFiles(const std::string& folder) {
    const DirHolder dir(::opendir(folder.c_str()));
    if (!dir) return 0;
    int removed = 0;
    const time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (!isTemporaryName(name)) continue;
        const FileDescriptor fd(
            ::openat(::dirfd(dir.get()), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd) continue;
        struct stat st {};
        bool stale = false;
        if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            // Nobody holds the file's lock: its saver is dead if the pid in its name is, else it was
            // abandoned once it is old (a pid used again, or a name without one).
            const pid_t saver = saverOf(name);
            const bool saverGone = saver > 0 && ::kill(saver, 0) != 0 && errno == ESRCH;
            stale = saverGone || now - st.st_mtime > kAbandonedAfterSeconds;
        }
        if (stale && ::unlinkat(::dirfd(dir.get()), name.c_str(), 0) == 0) ++removed;
    }
    return removed;
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

void sweepFolderNowAndThen(const std::string& folder) {
    const std::lock_guard lock(sweepMutex());
    auto& swept = sweeps();
    const auto now = std::chrono::steady_clock::now();
    struct stat st {};
    const bool known = ::stat(folder.c_str(), &st) == 0;
    const auto it = swept.find(folder);
    if (known && it != swept.end() && now - it->second.at < std::chrono::seconds(kAbandonedAfterSeconds) &&
        sameTime(it->second.mtime, st.st_mtim))
        return;
    if (swept.size() >= 4096) swept.clear();  // a bound for a long session saving everywhere
    removeStaleTemporaryFiles(folder);
    FolderSweep entry{now, {}};
    if (::stat(folder.c_str(), &st) == 0) entry.mtime = st.st_mtim;
    swept[folder] = entry;
}

// After our own save changed the folder: its new time is ours, not a stranger's.
void noteOwnChange(const std::string& folder) {
    const std::lock_guard lock(sweepMutex());
    const auto it = sweeps().find(folder);
    struct stat st {};
    if (it != sweeps().end() && ::stat(folder.c_str(), &st) == 0) it->second.mtime = st.st_mtim;
}

// Local file systems that take a write's room when it is written: a full disk or quota fails
// the write itself. Elsewhere (network and user-space file systems) such errors may show only
// at fsync, so the save waits for it there.
bool errorsShowAtWrite(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:  // ext2, ext3 and ext4
        case XFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
            return true;
        default:
            return false;
    }
}

void syncFile(int fd, const std::string& path) {
    while (::fsync(fd) != 0)
        if (errno != EINTR) failWrite(errno, path);
}

// Gives the unnamed file `fd` the name `path`; false with errno set when it cannot (EEXIST: the
// name is taken).
bool linkUnnamed(int fd, const std::string& path) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace

void writeFileAtomically(const std::string& path, const std::function<void(FileSink&)>& produce,
                         const std::string& copyFrom, const std::function<void(int fd)>& check) {
    const Target target = checkTarget(path);
    sweepFolderNowAndThen(target.folder);

    const mode_t mode = target.exists ? (target.st.st_mode & 07777) : newFileMode();
    TempFile temp;
    createTemp(target, mode, temp, path);
    // Held until the file is in place: a save running beside this one leaves it alone.
    if (::flock(temp.fd.get(), LOCK_EX | LOCK_NB) != 0) failWrite(errno, path);
    if (::fchmod(temp.fd.get(), mode) != 0) failWrite(errno, path);
    if (target.exists && (target.st.st_uid != ::geteuid() || target.st.st_gid != ::getegid())) {
        if (::geteuid() == 0) {
            if (::fchown(temp.fd.get(), target.st.st_uid, target.st.st_gid) != 0) failWrite(errno, path);
        } else {
            // A user may give the file a group of their own; the owner stays
            // theirs. A group they are not in is refused, and the file keeps theirs.
            if (::fchown(temp.fd.get(), static_cast<uid_t>(-1), target.st.st_gid) != 0) {
            }
        }
        // chown clears set-id bits; put the mode back.
        if (::fchmod(temp.fd.get(), mode) != 0) failWrite(errno, path);
    }

    FdSink sink(temp.fd.get(), path);
    if (!copyFrom.empty()) copyInto(sink, copyFrom);
    produce(sink);
    sink.flush();
    // A file that replaces one the user has is on disk before it takes the old one's place, so
    // that a crash leaves the old file or the whole new one. A new file replaces nothing: a crash
    // before the kernel wrote it back can lose it (or leave it short), never anything that was
    // there before, and the caller's own bytes are still at hand to save again; waiting for the
    // disk (milliseconds a save, most of a merge's time per record) buys nothing more. Its
    // write-back is started at once all the same, so the window is the disk's, not the kernel's
    // half a minute.
    if (target.exists || !errorsShowAtWrite(temp.fd.get())) {
        syncFile(temp.fd.get(), path);
    } else {
        (void)::sync_file_range(temp.fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    // The new bytes are read back before they replace anything; a check that throws keeps the target.
    if (check) check(temp.fd.get());

    if (auto& hook = beforeRenameHook()) hook(temp.name);
    checkDeadline(path);
    if (!target.exists && temp.name.empty()) {
        // The unnamed file takes the target's name itself: a link never replaces a file, so one
        // that appeared since the target was checked is kept and the save goes the way of a
        // replacement below.
        if (linkUnnamed(temp.fd.get(), target.path)) {
            temp.placed = true;
            noteOwnChange(target.folder);
            return;
        }
        if (errno != EEXIST) failWrite(errno, path);
        syncFile(temp.fd.get(), path);
    } else if (!target.exists && ::access(target.path.c_str(), F_OK) == 0) {
        syncFile(temp.fd.get(), path);  // a file appeared since the check: it is replaced as any
    }
    if (temp.name.empty()) nameTemp(target, temp, path);
    if (::rename(temp.name.c_str(), target.path.c_str()) != 0) failWrite(errno, path);
    temp.placed = true;
    // The rename is durable only once the folder's entry is on disk. The new file is in place
    // whatever this answers, so a failure here is no failed save.
    const FileDescriptor dfd(::open(target.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd) (void)::fsync(dfd.get());
    noteOwnChange(target.folder);
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
    writeFileAtomically(path, [&](FileSink& sink) { sink.write(bytes); });
}

}  // namespace quill::pdf
