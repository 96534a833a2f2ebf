// InstallFolders: the system's folders, found from the running program and XDG.
#include "InstallFolders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace quill::install {

namespace {

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An XDG variable's value, or empty when unset, empty or not absolute.
std::string absoluteEnv(const char* name) {
    const char* v = std::getenv(name);
    if (!v || v[0] != '/') return {};
    return v;
}

std::string dataHome() {
    if (std::string d = absoluteEnv("XDG_DATA_HOME"); !d.empty()) return d;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return {};
    return std::string(home) + "/.local/share";
}

std::vector<std::string> dataDirs() {
    const char* v = std::getenv("XDG_DATA_DIRS");
    std::string list = (v && *v) ? v : "/usr/local/share:/usr/share";
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t colon = list.find(':', start);
        std::string part = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!part.empty() && part[0] == '/') out.push_back(std::move(part));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return out;
}

std::string withoutTrailingSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

std::string programFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    return exe.parent_path().string();
}

std::vector<std::string> searchFolders(std::string_view name, const std::string& programDir) {
    const std::string n(name);
    std::vector<std::string> out;
    if (!programDir.empty()) {
        const std::filesystem::path dir(withoutTrailingSlash(programDir));
        const std::filesystem::path prefix = dir.parent_path();
        out.push_back((prefix / "lib" / "quillmark" / n).string());
        out.push_back((prefix / n).string());
    }
    if (const std::string home = dataHome(); !home.empty()) out.push_back(home + "/quillmark/" + n);
    for (const std::string& d : dataDirs()) out.push_back(withoutTrailingSlash(d) + "/quillmark/" + n);
    return out;
}

std::vector<std::string> searchFolders(std::string_view name) {
    return searchFolders(name, programFolder());
}

std::string findFolder(std::string_view name) {
    for (const std::string& f : searchFolders(name))
        if (isFolder(f)) return f;
    return {};
}

}  // namespace quill::install
