// Atomic full saves: temporary file beside the target, fsync, rename, fsync of the folder.
#include "Save.h"

#include "Document.h"
#include "DocumentImpl.h"
#include "Error.h"
#include "Forms.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFSystemError.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill::pdf {

namespace {

std::function<void(const std::string&)>& beforeRenameHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

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
        default:
            throw Error(err::kUnableToWrite, "The file " + name + " could not be saved (" + std::strerror(e) + ").");
    }
}

mode_t newFileMode() {
    // umask cannot be read without setting it; the host is single-threaded where it saves.
    mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

// Removes the temporary file unless released.
struct TempFile {
    std::string path;
    bool keep = false;
    ~TempFile() {
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
};

void configure(QPDFWriter& w) {
    // Stream data is copied as it stands: nothing is decoded, so nothing is recompressed, and
    // streams stored uncompressed stay so. Object streams are kept as the file had them.
    w.setDecodeLevel(qpdf_dl_none);
    w.setCompressStreams(false);
    w.setObjectStreamMode(qpdf_o_preserve);
}

}  // namespace

void setBeforeRenameHookForTesting(std::function<void(const std::string&)> hook) {
    beforeRenameHook() = std::move(hook);
}

void writeAtomically(Document& doc, const std::string& path) {
    if (path.empty()) throw Error(err::kBadParm, "No file name was given for the save.");
    flushAppearances(doc);  // field values set since the last write get their appearances
    struct stat st {};
    mode_t mode = newFileMode();
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) failWrite(EISDIR, path);
        mode = st.st_mode & 07777;
    }
    const std::string folder = folderOf(path);
    std::string pattern = folder + "/." + baseOf(path) + ".saving-XXXXXX";
    if (baseOf(path).size() > 200) pattern = folder + "/.quill-saving-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) failWrite(errno, path);
    TempFile temp{name.data()};
    ::fchmod(fd, mode);
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        int e = errno;
        ::close(fd);
        failWrite(e, path);
    }
    try {
        QPDFWriter w(doc.qpdf(), temp.path.c_str(), f, false);
        configure(w);
        w.write();
    } catch (const QPDFSystemError& e) {
        std::fclose(f);
        failWrite(e.getErrno(), path);
    } catch (const std::exception& e) {
        int saved = errno;
        std::fclose(f);
        if (saved == ENOSPC || saved == EDQUOT || saved == EIO) failWrite(saved, path);
        throw Error(err::kUnableToWrite, "The file \"" + baseOf(path) + "\" could not be saved: " + e.what() + ".");
    }
    if (std::fflush(f) != 0 || ::fsync(::fileno(f)) != 0) {
        int e = errno;
        std::fclose(f);
        failWrite(e, path);
    }
    if (std::fclose(f) != 0) failWrite(errno, path);
    if (auto& hook = beforeRenameHook()) hook(temp.path);
    if (::rename(temp.path.c_str(), path.c_str()) != 0) failWrite(errno, path);
    temp.keep = true;
    // The rename is durable only once the folder's entry is on disk.
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

void save(Document& doc, int flags, const std::string& path) {
    // The old file stays readable through qpdf's open descriptor after the rename (same inode),
    // so a document saved over its own file keeps reading its lazily loaded objects.
    writeAtomically(doc, path);
    if (!(flags & kSaveCopy)) doc.rebindToFile(path);
}

}  // namespace quill::pdf
