#include "SmallDisk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace quill::testsupport {

SmallDisk::SmallDisk(const fs::path& at, const std::string& size) : at_(at) {
    fs::create_directories(at);
    mount(size);
}

SmallDisk::SmallDisk(const std::string& size) : folder_(std::in_place, "small-disk"), at_(folder_->path) {
    mount(size);
}

void SmallDisk::mount(const std::string& size) {
    const std::string options = "size=" + size + ",mode=0777";
    mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    error_ = errno;
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
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
