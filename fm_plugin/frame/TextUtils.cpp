// Path completion and the little string helpers.
#include "TextUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "Files.h"

namespace {

// The working folder, or nothing when it cannot be read (it was removed).
bool workingFolder(std::string& folder) {
    char buffer[kPathBufferSize];
    if (!::getcwd(buffer, sizeof buffer)) return false;
    folder = buffer;
    return true;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

OSStatus completePath(char* path, std::string& full) {
    if (!path) return paramErr;
    if (!std::strchr(path, '/'))
        for (char* p = path; *p; ++p)
            if (*p == ':') *p = '/';

    if (path[0] == '\0' || path[0] == '/') {
        // The empty text is "/" itself, as on the Mac.
        full = path[0] ? path : "/";
    } else if (path[0] == '~') {
        FSRef homeRef;
        OSErr err = FindFolder(kUserDomain, kCurrentUserFolderType, kDontCreateFolder, &homeRef);
        if (err != noErr) return err;
        UInt8 home[kPathBufferSize];
        OSStatus st = FSRefMakePath(&homeRef, home, sizeof home);
        if (st != noErr) return st;
        full = reinterpret_cast<const char*>(home);
        if (path[1] != '/') full += '/';
        full += path + 1;
    } else {
        // A relative path is taken from the working folder (on the Mac that
        // is "/" for an application, so a bare name sits at the root), unless
        // its first part is not there but names a volume: the volume form
        // that colon paths and the browse panels give.
        std::string folder;
        if (!workingFolder(folder)) return dirNFErr;
        if (folder != "/") folder += '/';
        const char* slash = std::strchr(path, '/');
        const std::string first(path, slash ? static_cast<std::size_t>(slash - path) : std::strlen(path));
        if (slash && !exists(folder + first) && quill::volumes::resolveVolumePath("/Volumes/" + first))
            full = std::string("/Volumes/") + path;
        else
            full = folder + path;
    }
    if (full.size() + 1 > kPathBufferSize) return pathTooLongErr;
    return noErr;
}

OSStatus pathToFSRef(char* path, FSRef* ref, char* fullPath) {
    std::string full;
    const OSStatus completed = completePath(path, full);
    if (completed != noErr) return completed;
    FSRef scratch;
    OSStatus status = FSPathMakeRef(reinterpret_cast<const UInt8*>(full.c_str()), ref ? ref : &scratch, nullptr);
    if (fullPath) std::memcpy(fullPath, full.c_str(), full.size() + 1);
    return status;
}

const char* FMstrstr(const char* text, const char* pattern) {
    if (!pattern || !*pattern) return text;
    if (!text || !*text) return nullptr;
    return std::strstr(text, pattern);
}

void FMp2cstr(unsigned char* name) {
    if (!name) return;
    const std::size_t n = name[0];
    std::memmove(name, name + 1, n);
    name[n] = 0;
}

std::size_t FMstrlen(const char* text) {
    return text ? std::strlen(text) : 0;
}

std::int32_t ConvertStringToInt(const char* text) {
    std::int32_t value = 0;
    if (!text) return 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        value = value * 10 + (static_cast<std::int32_t>(*p) - 48);
        if (value < -32768 || value > 32767) break;
    }
    return value;
}
