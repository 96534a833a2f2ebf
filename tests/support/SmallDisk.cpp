#include "SmallDisk.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/mount.h>

namespace quill::testsupport {

SmallDisk::SmallDisk(const fs::path& at, const std::string& size) : at_(at) {
    fs::create_directories(at);
    mount(size);
}

SmallDisk::SmallDisk(const std::string& size) {
    std::string tmpl = (fs::temp_directory_path() / "small-disk-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        error_ = errno;
        return;
    }
    at_ = tmpl;
    ownsFolder_ = true;
    mount(size);
}

void SmallDisk::mount(const std::string& size) {
    const std::string options = "size=" + size + ",mode=0777";
    mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    error_ = errno;
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    if (ownsFolder_) {
        std::error_code ec;
        fs::permissions(at_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(at_, ec);
    }
}

std::string SmallDisk::why() const {
    return std::string("cannot mount a tmpfs (needs root): ") + std::strerror(error_);
}

bool SmallDisk::makeReadOnly() {
    return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace quill::testsupport
