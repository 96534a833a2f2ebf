// Path completion and the little string helpers.
#include "TextUtils.h"

#include <cstring>
#include <string>

#include "Files.h"

OSStatus pathToFSRef(char* path, FSRef* ref, char* fullPath) {
    if (!path) return paramErr;
    if (!std::strchr(path, '/'))
        for (char* p = path; *p; ++p)
            if (*p == ':') *p = '/';

    std::string full;
    if (path[0] == '/') {
        full = path;
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
    } else if (!std::strchr(path, '/')) {
        full = std::string("/") + path;
    } else {
        full = std::string("/Volumes/") + path;
    }
    if (full.size() + 1 > kPathBufferSize) return pathTooLongErr;

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
