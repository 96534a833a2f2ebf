// A small tmpfs of a test's own (mounting needs root), unmounted at the end.
#pragma once

#include "TempDir.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quill::testsupport {

namespace fs = std::filesystem;

class SmallDisk {
public:
    // Mounts a tmpfs of `size` (as mount writes it: "1m", "256k") at `at`, made if missing.
    SmallDisk(const fs::path& at, const std::string& size);
    // The same on a new temporary folder, removed again at the end.
    explicit SmallDisk(const std::string& size);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    // Why the mount failed, for the skip message.
    std::string why() const;
    bool makeReadOnly();
    const fs::path& path() const { return at_; }
    fs::path operator/(const std::string& name) const { return at_ / name; }

private:
    void mount(const std::string& size);
    std::optional<TempDir> folder_;  // the folder made for the disk, if any
    fs::path at_;
    bool mounted_ = false;
    int error_ = 0;
};

// The names in `dir`, sorted.
std::vector<std::string> namesIn(const fs::path& dir);

}  // namespace quill::testsupport
