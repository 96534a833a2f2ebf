// Holders: scoped owners of what the handlers take from Acrobat — a document
// opened for one request, a text object, a path name, a buffer Acrobat
// allocated. Each is released when its holder goes out of scope, also while
// an Acrobat exception unwinds the handler, so a raise between acquiring and
// releasing leaks nothing. Releasing never throws: a failure is logged.
//
// Handler code only; main thread.
#pragma once

#include "PIHeaders.h"

namespace quill::acro {

// The quiet releases behind the holders; each does nothing for null.
void closeDocQuietly(PDDoc doc) noexcept;
void releasePathQuietly(ASPathName path) noexcept;
void destroyText(ASText text) noexcept;
void freeQuietly(void* buffer) noexcept;

template <class T, void (*Release)(T) noexcept>
class Scoped {
public:
    Scoped() noexcept = default;
    explicit Scoped(T value) noexcept : value_(value) {}
    ~Scoped() { Release(value_); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != nullptr; }
    // Hands the value over; the holder is empty afterwards.
    T release() noexcept {
        T value = value_;
        value_ = nullptr;
        return value;
    }
    // Takes `value`, releasing what was held before.
    void reset(T value = nullptr) noexcept {
        T old = value_;
        value_ = value;
        Release(old);
    }

private:
    T value_ = nullptr;
};

using ScopedDoc = Scoped<PDDoc, closeDocQuietly>;
using ScopedPathName = Scoped<ASPathName, releasePathQuietly>;
using ScopedText = Scoped<ASText, destroyText>;
using AcrobatBuffer = Scoped<void*, freeQuietly>;

}  // namespace quill::acro
