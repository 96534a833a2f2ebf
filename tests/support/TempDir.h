// A test's temporary folder, removed with everything in it at the end (read-only parts too).
#pragma once

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace quill::testsupport {

struct TempDir {
    std::filesystem::path path;
    bool keep = false;  // leave the folder for a look afterwards (a bench's --keep)

    // A new folder "<prefix>.XXXXXX" in the system's temporary folder.
    explicit TempDir(const std::string& prefix = "quill-test") {
        std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
        if (::mkdtemp(tmpl.data()) == nullptr)
            throw std::system_error(errno, std::generic_category(), "cannot make a temporary folder");
        path = tmpl;
    }
    ~TempDir() {
        if (keep) return;
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto& e : fs::recursive_directory_iterator(path, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

}  // namespace quill::testsupport
