// AcroSupport: error messages, the file system, path names, memory handed to
// plug-ins, and table versions.
//
// Path names and files are host objects: a path name lives from its creation
// until ASFileSysReleasePath; a file object lives as long as the host (one
// per path). Both are checked against their registries before use, so a
// stale or foreign handle is refused instead of followed.
#include "HostAPI.h"
#include "Program.h"

#include "CFURL.h"
#include "NSString.h"

#include "ErrorTexts.h"
#include "Tables.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

struct _t_ASPathNameRec {
    std::string posix;
};

struct _t_ASFileRec {
    std::string posix;
};

struct _t_ASFileSysRec {
    const char* name;
};

namespace acro_host {

namespace {

struct Handles {
    std::mutex mutex;
    std::unordered_set<ASPathName> paths;
    std::map<std::string, std::unique_ptr<_t_ASFileRec>> files;
    std::unordered_set<ASFile> fileSet;
};

Handles& handles() {
    static Handles* h = new Handles;  // never destroyed: plug-ins may hold handles until exit
    return *h;
}

_t_ASFileSysRec gDefaultFileSys{"POSIX"};

// The six messages the FileMaker side repeats word for word win over any
// recorded wording.
bool isFixedText(ASInt32 system, ASInt32 number) {
    if (system == ErrSysNone) return number == genErrNoMemory || number == genErrBadParm;
    if (system == ErrSysPDDoc)
        return number == pdErrTooManyPagesForInsert || number == pdErrOpNotPermitted ||
               number == pdErrCantUseNewVersion || number == pdErrWhileRecoverInsertPages;
    return false;
}

const char* tableText(ASInt32 system, ASInt32 number) {
    for (const ErrorText& e : errorTexts())
        if (e.system == system && e.number == number) return e.text;
    return nullptr;
}

// Copies text into buffer, cut to fit lenBuffer with its zero, never in the
// middle of a UTF-8 sequence.
void copyCut(const std::string& text, char* buffer, ASInt32 lenBuffer) {
    std::size_t n = text.size();
    const auto room = static_cast<std::size_t>(lenBuffer) - 1;
    if (n > room) {
        n = room;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

ACCB1 char* ACCB2 impl_ASGetErrorString(ASErrorCode errorCode, char* buffer, ASInt32 lenBuffer) {
    if (!buffer || lenBuffer <= 0) return buffer;
    const ASInt32 system = ErrGetSystem(errorCode);
    const ASInt32 number = ErrGetCode(errorCode);
    std::string text;
    const char* fixed = tableText(system, number);
    if (fixed && isFixedText(system, number)) {
        text = fixed;
    } else if (!recordedMessage(errorCode, text)) {
        text = fixed ? fixed : kUnknownErrorText;
    }
    copyCut(text, buffer, lenBuffer);
    return buffer;
}

ACCB1 ASFileSys ACCB2 impl_ASGetDefaultFileSys(void) {
    return &gDefaultFileSys;
}

ACCB1 ASPathName ACCB2 impl_ASFileSysCreatePathName(ASFileSys fileSys, ASAtom pathSpecType, const void* pathSpec,
                                                    const void* mustBeZero) {
    return guarded([&]() -> ASPathName {
        if (fileSys && fileSys != &gDefaultFileSys) raise(GenError(genErrBadParm), "That file system is not known.");
        if (!pathSpec) raise(GenError(genErrBadParm), "A path name needs a path.");
        auto getString = reinterpret_cast<ASAtomGetStringSELPROTO>(registeredProc(CoreHFTName, ASAtomGetStringSEL));
        const std::string type = getString(pathSpecType);
        std::string text;
        std::optional<std::string> posix;
        if (type == kASPathTypeCFURL) {
            // A CFURLRef made from a file-system path: its path, read as the
            // same path escaped into a URL text.
            std::string buffer(4 * 4096, '\0');
            const auto url = static_cast<CFURLRef>(pathSpec);
            if (!CFURLGetFileSystemRepresentation(url, false, reinterpret_cast<UInt8*>(buffer.data()),
                                                  static_cast<CFIndex>(buffer.size())))
                raise(ASFileError(fileErrBadName), "The URL names no usable path.");
            text = buffer.c_str();
            // A full path is the file system's bytes, taken as they are (they need not be UTF-8);
            // any other text may be a URL or one of the user's path forms.
            if (!text.empty() && text[0] == '/')
                posix = program().pathFromPOSIXText(text);
            else if (auto escaped = NSStr(text).stringByAddingPercentEscapesUsingEncoding(NSUTF8StringEncoding))
                posix = program().pathFromURLText(escaped->UTF8String());
        } else if (type == kASPathTypePOSIX) {
            text = static_cast<const char*>(pathSpec);
            posix = program().pathFromPOSIXText(text);
        } else {
            raise(GenError(genErrBadParm), "The path type \"" + type + "\" is not supported.");
        }
        if (!posix) raise(ASFileError(fileErrBadName), "The path \"" + text + "\" is not a valid file name.");
        return newPathName(*posix);
    });
}

ACCB1 void ACCB2 impl_ASFileSysReleasePath(ASFileSys fileSys, ASPathName pathName) {
    if (!pathName) return;
    Handles& h = handles();
    std::unique_ptr<_t_ASPathNameRec> owned;
    {
        std::lock_guard lock(h.mutex);
        if (h.paths.erase(pathName) == 0) {
            program().logWarning("a path name that is not live was released; ignored");
            return;
        }
        owned.reset(pathName);
    }
}

ACCB1 ASPathName ACCB2 impl_ASFileAcquirePathName(ASFile file) {
    return guarded([&] { return newPathName(filePath(file)); });
}

ACCB1 void ACCB2 impl_ASfree(void* ptr) {
    std::free(ptr);
}

ACCB1 ASVersion ACCB2 impl_HFTGetVersion(HFT hft) {
    return tables().versionOf(hft);
}

const ProcRegistration reg{AcroSupportHFTName,
                           {
                               {ASGetErrorStringSEL, reinterpret_cast<void*>(&impl_ASGetErrorString)},
                               {ASGetDefaultFileSysSEL, reinterpret_cast<void*>(&impl_ASGetDefaultFileSys)},
                               {ASFileSysCreatePathNameSEL, reinterpret_cast<void*>(&impl_ASFileSysCreatePathName)},
                               {ASFileSysReleasePathSEL, reinterpret_cast<void*>(&impl_ASFileSysReleasePath)},
                               {ASFileAcquirePathNameSEL, reinterpret_cast<void*>(&impl_ASFileAcquirePathName)},
                               {ASfreeSEL, reinterpret_cast<void*>(&impl_ASfree)},
                               {HFTGetVersionSEL, reinterpret_cast<void*>(&impl_HFTGetVersion)},
                           }};

}  // namespace

std::string pathNameToPosix(ASPathName path) {
    Handles& h = handles();
    {
        std::lock_guard lock(h.mutex);
        if (path && h.paths.count(path)) return path->posix;
    }
    raise(GenError(genErrBadParm), "That path name is not valid.");
}

ASPathName newPathName(const std::string& posixPath) {
    auto rec = std::make_unique<_t_ASPathNameRec>();
    rec->posix = posixPath;
    Handles& h = handles();
    std::lock_guard lock(h.mutex);
    h.paths.insert(rec.get());
    return rec.release();
}

ASFile fileForPath(const std::string& posixPath) {
    Handles& h = handles();
    std::lock_guard lock(h.mutex);
    auto& slot = h.files[posixPath];
    if (!slot) {
        slot = std::make_unique<_t_ASFileRec>();
        slot->posix = posixPath;
        h.fileSet.insert(slot.get());
    }
    return slot.get();
}

std::string filePath(ASFile file) {
    Handles& h = handles();
    {
        std::lock_guard lock(h.mutex);
        if (file && h.fileSet.count(file)) return file->posix;
    }
    raise(GenError(genErrBadParm), "That file is not valid.");
}

ASFileSys defaultFileSys() {
    return &gDefaultFileSys;
}

char* mallocCopy(const std::string& bytes) {
    auto* p = static_cast<char*>(std::malloc(bytes.size() + 2));
    if (!p) raise(GenError(genErrNoMemory));
    std::memcpy(p, bytes.data(), bytes.size());
    p[bytes.size()] = '\0';
    p[bytes.size() + 1] = '\0';
    return p;
}

}  // namespace acro_host
