// Owners for the C handles the report holds, so that every path out of a
// function lets go of them, and the loops that read and write whole buffers
// through a file descriptor.
#pragma once

#include <cairo.h>
#include <pango/pango.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

namespace merge_report {

struct SurfaceFree {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoFree {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct LayoutFree {
    void operator()(PangoLayout* l) const { g_object_unref(l); }
};
struct FontDescriptionFree {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

using Surface = std::unique_ptr<cairo_surface_t, SurfaceFree>;
using Cairo = std::unique_ptr<cairo_t, CairoFree>;
using Layout = std::unique_ptr<PangoLayout, LayoutFree>;
using FontDescription = std::unique_ptr<PangoFontDescription, FontDescriptionFree>;
using File = std::unique_ptr<std::FILE, FileClose>;

// A file descriptor this process opened, closed when its owner goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

inline bool writeAll(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace merge_report
