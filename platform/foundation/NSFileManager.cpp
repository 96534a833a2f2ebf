// NSFileManager and NSURL: removing items, file URLs and their resource values.
#include "NSFileManager.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <cerrno>
#include <cstring>

#include "Files.h"
#include "NSURL.h"

const NSString NSURLVolumeNameKey{u"NSURLVolumeNameKey"};
const NSString NSURLIsDirectoryKey{u"NSURLIsDirectoryKey"};

namespace quill::foundation {
NSError* autoreleaseError(NSErrorPtr error) {
    thread_local NSErrorPtr kept;
    kept = std::move(error);
    return kept.get();
}
}  // namespace quill::foundation

namespace {

std::string lastComponentOf(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return std::filesystem::path(p).filename().string();
}

// The Cocoa-style sentence for a failed removal: "The file “x” couldn’t be
// removed because <reason>." with the reason in the system's words.
NSErrorPtr removalError(const std::string& path, int err) {
    auto e = std::make_shared<NSError>();
    e->domain = NSCocoaErrorDomain;
    e->posixCode = err;
    const std::string name = "The file \u201C" + lastComponentOf(path) + "\u201D couldn\u2019t be removed";
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            e->code = NSFileNoSuchFileError;
            e->description = name + " because it doesn\u2019t exist.";
            break;
        case EACCES:
        case EPERM:
            e->code = NSFileWriteNoPermissionError;
            e->description = name + " because you don\u2019t have permission to access it.";
            break;
        case EROFS:
            e->code = NSFileWriteVolumeReadOnlyError;
            e->description = name + " because the volume is read only.";
            break;
        default: {
            e->code = NSFileWriteUnknownError;
            std::string reason = std::strerror(err);
            if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
            e->description = name + ": " + reason + ".";
        }
    }
    return e;
}

int removeOne(const char* p, const struct stat*, int type, struct FTW*) {
    const int rc = (type == FTW_DP) ? ::rmdir(p) : ::unlink(p);
    return rc == 0 ? 0 : errno;
}

// 0 or the errno of the first failure.
int removeTree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0 ? 0 : errno;
    return ::nftw(path.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

NSFileManager& NSFileManager::defaultManager() {
    static NSFileManager manager;
    return manager;
}

bool NSFileManager::removeItemAtPath(const NSString& path, NSErrorPtr* error) {
    const std::string p = path.UTF8String();
    const int err = p.empty() ? ENOENT : removeTree(p);
    if (err == 0) return true;
    if (error) *error = removalError(p, err);
    return false;
}

bool NSFileManager::removeItemAtPath(const NSString& path, NSError** error) {
    NSErrorPtr e;
    if (removeItemAtPath(path, &e)) return true;
    if (error) *error = quill::foundation::autoreleaseError(std::move(e));
    return false;
}

NSString NSFileManager::stringWithFileSystemRepresentation(const char* str, NSUInteger len) const {
    if (!str) return NSString();
    return NSString(quill::utf::fileSystemBytesToUtf16(std::string_view(str, len)));
}

bool NSFileManager::fileExistsAtPath(const NSString& path, bool* isDirectory) const {
    struct stat st {};
    if (::stat(path.UTF8String().c_str(), &st) != 0) return false;
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

// ---------------------------------------------------------------------------
// NSURL

namespace {

std::string absolutePath(std::string p) {
    if (p.empty() || p[0] != '/') {
        char buf[4096];
        std::string cwd = ::getcwd(buf, sizeof buf) ? buf : "/";
        p = p.empty() ? cwd : (cwd == "/" ? "/" + p : cwd + "/" + p);
    }
    // Collapse "//" and "/./"; ".." is left to the file system.
    std::string out;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] == '/' && !out.empty() && out.back() == '/') continue;
        if (p[i] == '.' && !out.empty() && out.back() == '/' && (i + 1 == p.size() || p[i + 1] == '/')) {
            ++i;
            continue;
        }
        out.push_back(p[i]);
    }
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out.empty() ? "/" : out;
}

bool allowedInPath(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::strchr("-._~!$&'()*+,;=:@/", c) != nullptr && c != '\0';
}

}  // namespace

NSURL NSURL::fileURLWithPath(const NSString& path) {
    NSURL u;
    const std::string given = path.UTF8String();
    u.path_ = absolutePath(given);
    struct stat st {};
    u.directory_ =
        (::stat(u.path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) || (!given.empty() && given.back() == '/');
    return u;
}

NSURL NSURL::fileURLWithPath(const NSString& path, bool isDirectory) {
    NSURL u;
    u.path_ = absolutePath(path.UTF8String());
    u.directory_ = isDirectory;
    return u;
}

NSString NSURL::absoluteString() const {
    if (path_.empty()) return NSString();
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path_) {
        if (allowedInPath(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    if (directory_ && path_ != "/") out.push_back('/');
    return NSStr(out);
}

NSString NSURL::path() const {
    return NSStr(path_);
}

NSString NSURL::lastPathComponent() const {
    return NSStr(path_ == "/" ? "/" : lastComponentOf(path_));
}

bool NSURL::getResourceValue(NSStringOrNil* value, const NSString& key, NSError** error) const {
    auto fail = [&](NSInteger code, const std::string& text) {
        if (value) value->reset();
        if (error) {
            auto e = std::make_shared<NSError>();
            e->domain = NSCocoaErrorDomain;
            e->code = code;
            e->description = text;
            *error = quill::foundation::autoreleaseError(std::move(e));
        }
        return false;
    };
    if (path_.empty()) return fail(NSFileReadUnknownError, "The URL is not a file URL.");
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0)
        return fail(NSFileNoSuchFileError, "The file \u201C" + lastComponentOf(path_) +
                                               "\u201D couldn\u2019t be opened because there is no such file.");
    if (key == NSURLVolumeNameKey) {
        const auto name = quill::volumes::volumeNameForPath(path_);
        if (!name) return fail(NSFileReadUnknownError, "The volume of \u201C" + path_ + "\u201D is unknown.");
        if (value) *value = NSStr(*name);
        return true;
    }
    if (key == NSURLIsDirectoryKey) {
        if (value) *value = NSStr(S_ISDIR(st.st_mode) ? "1" : "0");
        return true;
    }
    if (value) value->reset();
    return true;
}
