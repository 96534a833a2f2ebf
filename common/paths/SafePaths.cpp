// Safe paths: component-by-component walks under the protected-links rule.
#include "quill/paths/SafePaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <filesystem>
#include <vector>

namespace quill::safepaths {

namespace {

// Links followed in one walk before it gives up, as the kernel counts them.
constexpr int kMaxLinks = 40;

int openFolder(int at, const char* name) {
    return ::openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

void split(const std::string& path, std::deque<std::string>& into, bool atFront) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > start) {
            std::string part = path.substr(start, end - start);
            if (part != ".") parts.push_back(std::move(part));
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    // A trailing "/" (or "/.") means the last component must be a folder.
    if (!path.empty() &&
        (path.back() == '/' || (path.size() >= 2 && path.compare(path.size() - 2, 2, "/.") == 0) || path == "."))
        parts.emplace_back(".");
    if (atFront)
        into.insert(into.begin(), parts.begin(), parts.end());
    else
        into.insert(into.end(), parts.begin(), parts.end());
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string parentOf(const std::string& folder) {
    const std::string parent = std::filesystem::path(folder).parent_path().string();
    return parent.empty() ? "/" : parent;
}

// Another user's link in a sticky folder that everyone may write is not followed.
bool refused(int folder, const struct stat& link) {
    struct stat dir {};
    if (::fstat(folder, &dir) != 0) return true;
    const bool shared = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
    return shared && link.st_uid != ::geteuid() && link.st_uid != dir.st_uid;
}

}  // namespace

Walk::Walk(Walk&& other) noexcept
    : folder(other.folder),
      name(std::move(other.name)),
      folderPath(std::move(other.folderPath)),
      error(other.error),
      refusedLink(std::move(other.refusedLink)) {
    other.folder = -1;
}

Walk& Walk::operator=(Walk&& other) noexcept {
    if (this != &other) {
        if (folder >= 0) ::close(folder);
        folder = other.folder;
        other.folder = -1;
        name = std::move(other.name);
        folderPath = std::move(other.folderPath);
        error = other.error;
        refusedLink = std::move(other.refusedLink);
    }
    return *this;
}

Walk::~Walk() {
    if (folder >= 0) ::close(folder);
}

Walk walk(const std::string& path, LastLink last) {
    Walk w;
    const auto fail = [&](int e) {
        if (w.folder >= 0) ::close(w.folder);
        w.folder = -1;
        w.error = e;
        return std::move(w);
    };
    if (path.empty() || path.find('\0') != std::string::npos) return fail(ENOENT);
    if (path[0] == '/') {
        w.folder = openFolder(AT_FDCWD, "/");
        w.folderPath = "/";
    } else {
        w.folder = openFolder(AT_FDCWD, ".");
        std::error_code ec;
        w.folderPath = std::filesystem::current_path(ec).string();
        if (ec) w.folderPath = ".";
    }
    if (w.folder < 0) return fail(errno);

    std::deque<std::string> todo;
    split(path, todo, false);
    if (todo.empty()) todo.emplace_back(".");  // "/" itself
    int links = 0;
    std::vector<char> target(PATH_MAX + 1);
    while (!todo.empty()) {
        std::string part = std::move(todo.front());
        todo.pop_front();
        const bool isLast = todo.empty();
        if (part == ".") {
            if (isLast) w.name = ".";
            continue;
        }
        struct stat st {};
        if (::fstatat(w.folder, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (isLast && errno == ENOENT) {
                w.name = std::move(part);
                return w;
            }
            return fail(errno);
        }
        if (S_ISLNK(st.st_mode) && !(isLast && last == LastLink::kKeep)) {
            if (refused(w.folder, st)) {
                w.refusedLink = joined(w.folderPath, part);
                return fail(EACCES);
            }
            if (++links > kMaxLinks) return fail(ELOOP);
            const ssize_t n = ::readlinkat(w.folder, part.c_str(), target.data(), target.size());
            if (n < 0) return fail(errno);
            if (static_cast<std::size_t>(n) >= target.size()) return fail(ENAMETOOLONG);
            const std::string to(target.data(), static_cast<std::size_t>(n));
            if (to.empty()) return fail(ENOENT);
            split(to, todo, true);
            if (to[0] == '/') {
                const int root = openFolder(AT_FDCWD, "/");
                if (root < 0) return fail(errno);
                ::close(w.folder);
                w.folder = root;
                w.folderPath = "/";
            }
            if (todo.empty()) todo.emplace_back(".");
            continue;
        }
        if (isLast) {
            w.name = std::move(part);
            return w;
        }
        const int next = openFolder(w.folder, part.c_str());
        // A folder swapped for a link since it was looked at is no folder now: ELOOP reads ENOTDIR.
        if (next < 0) return fail(errno == ELOOP ? ENOTDIR : errno);
        ::close(w.folder);
        w.folder = next;
        w.folderPath = part == ".." ? parentOf(w.folderPath) : joined(w.folderPath, part);
    }
    if (w.name.empty()) w.name = ".";
    return w;
}

int openFile(const std::string& path, int flags, mode_t mode, std::string* refusedLink) {
    Walk w = walk(path, LastLink::kFollow);
    if (!w) {
        if (refusedLink) *refusedLink = w.refusedLink;
        errno = w.error;
        return -1;
    }
    // The last component named a folder ("."): open it as it is, without O_NOFOLLOW's refusal.
    if (w.name == ".") return ::openat(w.folder, ".", flags & ~O_NOFOLLOW, mode);
    return ::openat(w.folder, w.name.c_str(), flags | O_NOFOLLOW, mode);
}

std::string refusedLinkText(const std::string& link) {
    return "\"" + link +
           "\" is a symbolic link that another user made in a shared folder, and such a link is not followed.";
}

}  // namespace quill::safepaths
