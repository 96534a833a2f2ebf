// Atomic, checked file writes: an unnamed (or locked, named) temporary file beside the target,
// every write and fsync checked, then a rename over the target.
#include "quill/pdf/AtomicFile.h"

#include "quill/pdf/Error.h"
#include "quill/pdf/Warnings.h"
#include "Holders.h"
#include "TemporaryFiles.h"

#include "quill/paths/SafePaths.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <filesystem>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
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

std::string baseOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
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

// The file a save really replaces, and what it must keep of the old one. Everything after the
// check works relative to the folder's descriptor: the folder checked is the folder written.
struct Target {
    quill::safepaths::Walk at;  // the folder (links on the way resolved) and the file's name there
    std::string path;           // folder and name, for messages
    std::string folder;
    bool exists = false;
    struct stat st {};
    int dir() const { return at.folder; }
    const char* name() const { return at.name.c_str(); }
};

// A link is followed only under the kernel's protected_symlinks rule, for every component of the
// path and whatever the system's setting (SafePaths.h): another user's link in /tmp is a trap.
Target checkTarget(const std::string& given) {
    if (given.empty()) throw Error(err::kBadParm, "No file name was given for the save.");
    Target t;
    t.at = quill::safepaths::walk(given, quill::safepaths::LastLink::kFollow);
    if (!t.at) {
        if (!t.at.refusedLink.empty())
            throw Error(err::kFileAccess, "The file \"" + baseOf(given) + "\" was not saved: " +
                                              quill::safepaths::refusedLinkText(t.at.refusedLink));
        failWrite(t.at.error, given);
    }
    if (t.at.name == "." || t.at.name == "..") failWrite(EISDIR, given);
    t.folder = t.at.folderPath;
    t.path = t.folder == "/" ? "/" + t.at.name : t.folder + "/" + t.at.name;
    if (::fstatat(t.dir(), t.name(), &t.st, AT_SYMLINK_NOFOLLOW) == 0) {
        t.exists = true;
        if (S_ISDIR(t.st.st_mode)) failWrite(EISDIR, given);
        if (!S_ISREG(t.st.st_mode))
            throw Error(err::kFileIsFolder,
                        "The file \"" + baseOf(given) + "\" could not be saved because it is not a plain file.");
        if (::faccessat(t.dir(), t.name(), W_OK, AT_EACCESS) != 0) failWrite(errno, given);
    } else if (errno != ENOENT) {
        failWrite(errno, given);
    }
    // The new file is made in the folder and renamed there: both need write access.
    if (::faccessat(t.dir(), ".", W_OK | X_OK, AT_EACCESS) != 0) failWrite(errno, given);
    return t;
}

// The temporary file of one save; removed (when named) unless it was put in place.
struct TempFile {
    int dir = -1;  // the target's folder (not owned)
    FileDescriptor fd;
    std::string name;  // in `dir`; empty while the file has no name
    bool placed = false;
    // The name goes before the descriptor closes (the member is destroyed after this body).
    ~TempFile() {
        if (!placed && !name.empty()) ::unlinkat(dir, name.c_str(), 0);
    }
};

void createTemp(const Target& t, mode_t mode, TempFile& temp, const std::string& given) {
    temp.dir = t.dir();
    if (!forceNamed()) {
        temp.fd = FileDescriptor(::openat(t.dir(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
        if (temp.fd) return;
        // Only a file system without unnamed files falls back; anything else is the save's error.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) failWrite(errno, given);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporaryName();
        if (name.empty()) failWrite(errno ? errno : EIO, given);
        temp.fd =
            FileDescriptor(::openat(t.dir(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (temp.fd) {
            temp.name = std::move(name);
            return;
        }
        if (errno != EEXIST) failWrite(errno, given);
    }
    failWrite(EEXIST, given);
}

// Gives the unnamed file `fd` the name `name` in the folder `dir`; false with errno set when it
// cannot (EEXIST: the name is taken).
bool linkUnnamed(int fd, int dir, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Gives the unnamed file a name in its folder (the rename needs one).
void nameTemp(const Target& t, TempFile& temp, const std::string& given) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporaryName();
        if (name.empty()) failWrite(errno ? errno : EIO, given);
        if (linkUnnamed(temp.fd.get(), t.dir(), name)) {
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
    std::string link;
    const FileDescriptor in(quill::safepaths::openFile(from, O_RDONLY | O_CLOEXEC, 0, &link));
    if (!in && !link.empty())
        throw Error(err::kFileAccess,
                    "The file \"" + baseOf(from) + "\" could not be read: " + quill::safepaths::refusedLinkText(link));
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

namespace {

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

}  // namespace

void writeFileAtomically(const std::string& path, const std::function<void(FileSink&)>& produce,
                         const std::string& copyFrom, const std::function<void(int fd)>& check) {
    const Target target = checkTarget(path);
    sweepFolderNowAndThen(target.dir(), target.folder);

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
        if (linkUnnamed(temp.fd.get(), target.dir(), target.at.name)) {
            temp.placed = true;
            noteOwnChange(target.dir(), target.folder);
            return;
        }
        if (errno != EEXIST) failWrite(errno, path);
        syncFile(temp.fd.get(), path);
    } else if (struct stat now{};
               !target.exists && ::fstatat(target.dir(), target.name(), &now, AT_SYMLINK_NOFOLLOW) == 0) {
        syncFile(temp.fd.get(), path);  // a file appeared since the check: it is replaced as any
    }
    if (temp.name.empty()) nameTemp(target, temp, path);
    if (::renameat(target.dir(), temp.name.c_str(), target.dir(), target.name()) != 0) failWrite(errno, path);
    temp.placed = true;
    // The rename is durable only once the folder's entry is on disk. The new file is in place
    // whatever this answers, so a failure here is no failed save.
    const FileDescriptor dfd(::openat(target.dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd) (void)::fsync(dfd.get());
    noteOwnChange(target.dir(), target.folder);
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
    writeFileAtomically(path, [&](FileSink& sink) { sink.write(bytes); });
}

}  // namespace quill::pdf
