// Saving a document as an update appended to its file's bytes.
#include "Document.h"
#include "Error.h"
#include "IncrementalWriter.h"
#include "Save.h"
#include "Signatures.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quill::pdf {

namespace {

std::string baseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void failed(int e, const std::string& path) {
    const std::string name = "\"" + baseName(path) + "\"";
    if (e == ENOSPC || e == EDQUOT)
        throw Error(err::kDiskFull, "The file " + name + " could not be saved because the disk is full.");
    if (e == EACCES || e == EPERM || e == EROFS)
        throw Error(err::kFileAccess, "You do not have permission to save the file " + name + " in that folder.");
    if (e == EISDIR)
        throw Error(err::kFileIsFolder, "The file " + name + " could not be saved because a folder has that name.");
    throw Error(err::kUnableToWrite, "The file " + name + " could not be saved (" + std::strerror(e) + ").");
}

// Writes the parts to `path` through a temporary file beside it, synced before the rename.
// (The same steps as the full save's writer; one atomic writer can serve both.)
void writePartsAtomically(const std::string& path, Document& doc, const std::string& tail) {
    struct stat st {};
    // A new file gets the mode the user's umask gives (read without a thread-safe call; the host
    // saves from its main thread).
    mode_t mask = ::umask(022);
    ::umask(mask);
    mode_t mode = 0666 & ~mask;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) failed(EISDIR, path);
        mode = st.st_mode & 07777;
    }
    auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string pattern = folder + "/.quill-saving-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) failed(errno, path);
    const std::string temp = name.data();
    auto fail = [&](int e) {
        ::close(fd);
        ::unlink(temp.c_str());
        failed(e, path);
    };
    ::fchmod(fd, mode);
    auto put = [&](const char* p, std::size_t n) {
        while (n > 0) {
            ssize_t w = ::write(fd, p, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) fail(w < 0 ? errno : EIO);
            p += w;
            n -= static_cast<std::size_t>(w);
        }
    };
    try {
        writeBaseBytes(doc, put);
    } catch (const Error&) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    put(tail.data(), tail.size());
    if (::fsync(fd) != 0) fail(errno);
    if (::close(fd) != 0) {
        ::unlink(temp.c_str());
        failed(errno, path);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int e = errno;
        ::unlink(temp.c_str());
        failed(e, path);
    }
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

}  // namespace

void saveIncrementally(Document& doc, int flags, const std::string& path) {
    if (path.empty()) throw Error(err::kBadParm, "No file name was given for the save.");
    IncrementalUpdate update = makeIncrementalUpdate(doc);
    if (update.objects > 0) checkDocumentChange(doc.qpdf());
    writePartsAtomically(path, doc, update.bytes);
    if (!(flags & kSaveCopy)) {
        commitIncrementalUpdate(doc, update);
        doc.rebindToFile(path);
    }
}

}  // namespace quill::pdf
