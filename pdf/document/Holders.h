// Scoped holders for what the engine takes from C libraries (HarfBuzz, fontconfig, the C library's
// folders, streams and file descriptors): each released once, on every way out, exceptions included.
#pragma once

#include <dirent.h>
#include <fontconfig/fontconfig.h>
#include <hb-subset.h>
#include <hb.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

namespace quill::pdf {

template <auto Release>
struct Releaser {
    template <class T>
    void operator()(T* p) const {
        if (p) Release(p);
    }
};
template <class T, auto Release>
using Holder = std::unique_ptr<T, Releaser<Release>>;

using HbBlob = Holder<hb_blob_t, hb_blob_destroy>;
using HbFace = Holder<hb_face_t, hb_face_destroy>;
using HbFont = Holder<hb_font_t, hb_font_destroy>;
using HbBuffer = Holder<hb_buffer_t, hb_buffer_destroy>;
using HbSubsetInput = Holder<hb_subset_input_t, hb_subset_input_destroy>;
using HbSubsetPlan = Holder<hb_subset_plan_t, hb_subset_plan_destroy>;
using FcPatternHolder = Holder<FcPattern, FcPatternDestroy>;
using FcFontSetHolder = Holder<FcFontSet, FcFontSetDestroy>;
using FcCharSetHolder = Holder<FcCharSet, FcCharSetDestroy>;
using DirHolder = Holder<DIR, closedir>;
using FileHolder = Holder<std::FILE, ::fclose>;

// An open file descriptor, closed with its holder unless released.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Hands the descriptor over (to fdopen, say): the holder no longer closes it.
    int release() { return std::exchange(fd_, -1); }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

}  // namespace quill::pdf
