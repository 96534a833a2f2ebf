// Files: File Manager calls over POSIX paths, and the volume table.
#include "Files.h"

#include <dirent.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "NSString.h"

namespace {

// FSRef bytes: a marker, then the index of the path in this process's registry.
constexpr UInt32 kRefMarker = FourCC("QFSR");

std::mutex gRefLock;
std::vector<std::string> gRefPaths;       // guarded by gRefLock
std::map<std::string, UInt32> gRefIndex;  // guarded by gRefLock

void makeRef(const std::string& path, FSRef* ref) {
    if (!ref) return;
    UInt32 index;
    {
        std::lock_guard<std::mutex> g(gRefLock);
        auto it = gRefIndex.find(path);
        if (it == gRefIndex.end()) {
            index = static_cast<UInt32>(gRefPaths.size());
            gRefPaths.push_back(path);
            gRefIndex.emplace(path, index);
        } else {
            index = it->second;
        }
    }
    std::memset(ref->hidden, 0, sizeof ref->hidden);
    std::memcpy(ref->hidden, &kRefMarker, 4);
    std::memcpy(ref->hidden + 4, &index, 4);
}

bool refPath(const FSRef* ref, std::string& out) {
    if (!ref) return false;
    UInt32 marker, index;
    std::memcpy(&marker, ref->hidden, 4);
    std::memcpy(&index, ref->hidden + 4, 4);
    if (marker != kRefMarker) return false;
    std::lock_guard<std::mutex> g(gRefLock);
    if (index >= gRefPaths.size()) return false;
    out = gRefPaths[index];
    return true;
}

std::string homeFolder() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

// Decodes the "\040"-style octal escapes of mountinfo fields.
std::string unescapeOctal(const std::string& s) {
    auto oct = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 4 <= s.size() && oct(s[i + 1]) && oct(s[i + 2]) && oct(s[i + 3])) {
            out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// Decodes the "\x20"-style escapes of /dev/disk/by-label names.
std::string unescapeHex(const std::string& s) {
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 4 <= s.size() && s[i + 1] == 'x' && hex(s[i + 2]) && hex(s[i + 3])) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::string realPath(const std::string& p) {
    char buf[PATH_MAX];
    return ::realpath(p.c_str(), buf) ? std::string(buf) : p;
}

// The label whose by-label link points at `device`, or "".
std::string labelOf(const std::string& device, const std::string& byLabelDir) {
    if (device.empty() || device[0] != '/') return {};
    const std::string dev = realPath(device);
    DIR* d = ::opendir(byLabelDir.c_str());
    if (!d) return {};
    std::string found;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (realPath(byLabelDir + "/" + name) == dev) {
            found = unescapeHex(name);
            break;
        }
    }
    ::closedir(d);
    return found;
}

std::string lastComponent(const std::string& mountPoint) {
    return std::filesystem::path(mountPoint).filename().string();
}

bool startsWithPath(const std::string& path, const std::string& dir) {
    if (dir == "/") return !path.empty() && path[0] == '/';
    return path.compare(0, dir.size(), dir) == 0 && (path.size() == dir.size() || path[dir.size()] == '/');
}

}  // namespace

OSErr FindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef) {
    std::string path;
    if (folderType == kCurrentUserFolderType) {
        path = homeFolder();
    } else if (folderType == kDocumentsFolderType) {
        path = homeFolder() + "/Documents";
    } else if (folderType == kTemporaryFolderType) {
        const char* t = std::getenv("TMPDIR");
        path = (t && *t) ? t : "/tmp";
    } else {
        return paramErr;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (!createFolder || ::mkdir(path.c_str(), 0700) != 0) return fnfErr;
    }
    makeRef(path, foundRef);
    return noErr;
}

OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
    std::string p;
    if (!path || !refPath(ref, p)) return paramErr;
    if (p.size() + 1 > maxPathSize) return pathTooLongErr;
    std::memcpy(path, p.c_str(), p.size() + 1);
    return noErr;
}

OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
    if (!path) return paramErr;
    std::string p(reinterpret_cast<const char*>(path));
    if (p.empty()) return fnfErr;
    if (startsWithPath(p, "/Volumes") && p != "/Volumes") {
        const auto resolved = quill::volumes::resolveVolumePath(p);
        if (!resolved) return fnfErr;
        p = *resolved;
    }
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return fnfErr;
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
    makeRef(p, ref);
    return noErr;
}

OSErr PBMakeFSRefUnicodeSync(FSRefParam* pb) {
    if (!pb) return paramErr;
    std::string folder;
    if (!refPath(pb->ref, folder) || (!pb->name && pb->nameLength > 0)) return pb->ioResult = paramErr;
    std::u16string name;
    for (UInt32 i = 0; i < pb->nameLength; ++i) name.push_back(static_cast<char16_t>(pb->name[i]));
    const std::string n = quill::utf::utf16ToUtf8(name);
    if (n.find('/') != std::string::npos) return pb->ioResult = bdNamErr;
    const std::string full = n.empty() ? folder : (folder == "/" ? "/" + n : folder + "/" + n);
    struct stat st {};
    if (::stat(full.c_str(), &st) != 0) return pb->ioResult = fnfErr;
    makeRef(full, pb->newRef);
    return pb->ioResult = noErr;
}

namespace quill::volumes {

std::vector<Volume> parseMountInfo(const std::string& text, const std::string& byLabelDir) {
    std::vector<Volume> out;
    std::set<std::string> taken;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // id parent major:minor root mount-point options [optional...] - fstype source super-options
        std::istringstream f(line);
        std::vector<std::string> fields;
        for (std::string w; f >> w;) fields.push_back(w);
        if (fields.size() < 5) continue;
        const std::string mountPoint = unescapeOctal(fields[4]);
        std::string source;
        for (std::size_t i = 5; i + 2 < fields.size(); ++i)
            if (fields[i] == "-") {
                source = unescapeOctal(fields[i + 2]);
                break;
            }
        std::string name;
        if (mountPoint == "/") {
            name = labelOf(source, byLabelDir);
            if (name.empty()) name = "Macintosh HD";
        } else {
            name = lastComponent(mountPoint);
        }
        if (name.empty()) continue;
        // A mount stacked on an earlier mount point replaces it.
        bool replaced = false;
        for (auto& v : out)
            if (v.mountPoint == mountPoint) {
                replaced = true;
                break;
            }
        if (replaced) continue;
        // Two volumes of one name: the later ones become "name 1", "name 2", as the Finder numbers them.
        std::string unique = name;
        for (int n = 1; taken.count(unique); ++n) unique = name + " " + std::to_string(n);
        taken.insert(unique);
        out.push_back({unique, mountPoint});
    }
    return out;
}

std::vector<Volume> mounted() {
    std::ifstream in("/proc/self/mountinfo");
    std::ostringstream ss;
    ss << in.rdbuf();
    auto v = parseMountInfo(ss.str(), "/dev/disk/by-label");
    bool haveRoot = false;
    for (const auto& e : v) haveRoot = haveRoot || e.mountPoint == "/";
    if (!haveRoot) v.insert(v.begin(), Volume{"Macintosh HD", "/"});
    return v;
}

std::string startupVolumeName() {
    for (const auto& v : mounted())
        if (v.mountPoint == "/") return v.name;
    return "Macintosh HD";
}

std::optional<std::string> resolveVolumePath(const std::string& path) {
    static const std::string prefix = "/Volumes/";
    if (path.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::string rest = path.substr(prefix.size());
    const auto slash = rest.find('/');
    const std::string name = rest.substr(0, slash);
    const std::string tail = slash == std::string::npos ? std::string() : rest.substr(slash);  // "" or "/..."
    for (const auto& v : mounted()) {
        if (v.name != name) continue;
        if (v.mountPoint == "/") return tail.empty() ? std::string("/") : tail;
        // The browse form of an item on another volume repeats the mount point
        // ("Data" + "/Volumes/Data/a.pdf"): such a tail is the full path already.
        if (startsWithPath(tail, v.mountPoint)) return tail;
        return v.mountPoint + tail;
    }
    return std::nullopt;
}

std::optional<std::string> volumeNameForPath(const std::string& absolutePath) {
    if (absolutePath.empty() || absolutePath[0] != '/') return std::nullopt;
    const Volume* best = nullptr;
    const auto all = mounted();
    for (const auto& v : all)
        if (startsWithPath(absolutePath, v.mountPoint) && (!best || v.mountPoint.size() > best->mountPoint.size()))
            best = &v;
    if (!best) return std::nullopt;
    return best->name;
}

}  // namespace quill::volumes
