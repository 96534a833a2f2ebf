// Paths: URL texts and user path forms to POSIX paths.
#include "Paths.h"

#include "Files.h"
#include "PercentEscapes.h"
#include "Unicode.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

namespace acro_host::paths {

namespace {

// The longest path the system takes, without its terminating zero.
constexpr std::size_t kMaxPath = PATH_MAX - 1;

bool hasOtherScheme(const std::string& text) {
    // scheme "://" as URLs write it; a volume name never contains "://".
    const auto colon = text.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

std::string throughVolumes(const std::string& path) {
    if (path.rfind("/Volumes/", 0) == 0) {
        if (auto resolved = quill::volumes::resolveVolumePath(path)) return *resolved;
    }
    return path;
}

}  // namespace

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string fromUserPath(std::string path) {
    if (path.find('/') == std::string::npos) {
        for (char& c : path)
            if (c == ':') c = '/';
    }
    if (path.empty()) return path;
    if (path[0] == '/') return throughVolumes(path);
    if (path[0] == '~') {
        std::string full = homeFolder();
        if (path.size() < 2 || path[1] != '/') full += '/';
        full += path.substr(1);
        return full;
    }
    if (path.find('/') == std::string::npos) return "/" + path;
    return throughVolumes("/Volumes/" + path);
}

std::optional<std::string> fromURLText(const std::string& text) {
    if (text.empty() || text.size() > 3 * kMaxPath || text.find('\0') != std::string::npos) return std::nullopt;
    std::string rest = text;
    bool fileURL = false;
    if (rest.rfind("file://", 0) == 0) {
        rest = rest.substr(7);
        if (rest.rfind("localhost/", 0) == 0) rest = rest.substr(9);
        if (rest.empty() || rest[0] != '/') return std::nullopt;
        fileURL = true;
    } else if (hasOtherScheme(rest)) {
        return std::nullopt;
    }
    // An escaped NUL would cut the path short: refused like a malformed escape.
    auto bytes = quill::url::percentDecode(rest);
    if (!bytes || bytes->empty() || bytes->size() > kMaxPath || bytes->find('\0') != std::string::npos)
        return std::nullopt;
    if (!quill::unicode::isUtf8(*bytes)) return std::nullopt;
    if (fileURL) return throughVolumes(*bytes);
    return fromUserPath(*bytes);
}

std::optional<std::string> fromPOSIXText(const std::string& text) {
    if (text.empty() || text.size() > kMaxPath || text.find('\0') != std::string::npos) return std::nullopt;
    // Paths are bytes: a folder named in Latin-1 is as good as any.
    if (text[0] == '/') return throughVolumes(text);
    // "Volume name/abs/path", the form a browse panel answers: the volume
    // names the root it is mounted on, as for the open path.
    if (text.find('/') != std::string::npos)
        if (auto resolved = quill::volumes::resolveVolumePath("/Volumes/" + text)) return *resolved;
    std::error_code ec;
    auto absolute = std::filesystem::absolute(text, ec);
    if (ec) return std::nullopt;
    return absolute.string();
}

}  // namespace acro_host::paths
