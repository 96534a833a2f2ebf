// Wire: framing of descriptor messages on an event socket, shared by the
// sender (Send.cpp) and the run loop's server (RunLoop.cpp).
//
// A frame is a 4-byte big-endian length, then that many bytes: one message
// of AEDescStorage.h's encoding. A frame longer than kMaxMessageSize is
// refused: the server answers it with an error reply and closes the
// connection (there is no way to find the next frame). Requests are Apple
// events carrying a 'repq' attribute (false: the sender wants no reply);
// replies are 'aevt'/'ansr' events with the request's return ID. A frame the
// server cannot decode is answered with a reply whose return ID is 0 and
// whose keyErrorNumber is errAECorruptData.
#pragma once

#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <cstdint>
#include <optional>
#include <vector>

#include "AEDescStorage.h"

namespace quill::ae::wire {

inline constexpr std::size_t kHeaderSize = 4;

// How long a side that expects a message soon (a sender its reply, the server the next event of a
// script) looks for it without sleeping: a sleep in poll and the wake-up after it cost more than a
// quick event takes, several times more in a virtual machine. Between looks the processor is given
// to anyone else who wants it.
inline constexpr std::chrono::microseconds kSpin{60};

// Whether looking without sleeping is worth it: only while the last wait of this kind ended within
// kSpin (a script's quick calls one after another). After a long one (a save, a record's own
// script steps between its calls) the side sleeps at once and takes no processor from others:
// spinning through a merge's saves slowed it, taking the processor from the file system's own work.
class SpinGauge {
public:
    bool worth() const { return last_ < kSpin; }
    void begin() { start_ = std::chrono::steady_clock::now(); }
    void end() { last_ = std::chrono::steady_clock::now() - start_; }

private:
    std::chrono::steady_clock::time_point start_{};
    std::chrono::steady_clock::duration last_{};
};

// True when any of `fds` (poll's list) became ready within kSpin; their revents are then set.
inline bool readySoon(pollfd* fds, nfds_t count) {
    const auto until = std::chrono::steady_clock::now() + kSpin;
    do {
        if (::poll(fds, count, 0) > 0) return true;
        ::sched_yield();
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

inline bool readableSoon(int fd) {
    pollfd p{fd, POLLIN, 0};
    return readySoon(&p, 1);
}

inline void appendFrame(const Node& message, std::vector<std::uint8_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + kHeaderSize);
    encodeAppend(message, out);
    const auto len = static_cast<std::uint32_t>(out.size() - at - kHeaderSize);
    out[at] = static_cast<std::uint8_t>(len >> 24);
    out[at + 1] = static_cast<std::uint8_t>(len >> 16);
    out[at + 2] = static_cast<std::uint8_t>(len >> 8);
    out[at + 3] = static_cast<std::uint8_t>(len);
}

inline std::uint32_t frameLength(const std::uint8_t* header) {
    return (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) | (std::uint32_t{header[2]} << 8) |
           header[3];
}

// A buffered byte stream of incoming frames. Bytes are consumed from the
// front; the buffer is compacted lazily. Raw storage, so that growing it
// does not clear memory that recv is about to overwrite.
class FrameBuffer {
public:
    enum class Next { Incomplete, Frame, TooLarge };
    // Looks for the next complete frame; on Frame, [data, data+size) is its
    // message, valid until the next fill().
    Next next(const std::uint8_t*& data, std::size_t& size) {
        const std::size_t avail = len_ - pos_;
        if (avail < kHeaderSize) return Next::Incomplete;
        const std::uint32_t len = frameLength(buf_.get() + pos_);
        if (len > kMaxMessageSize) return Next::TooLarge;
        if (avail - kHeaderSize < len) return Next::Incomplete;
        data = buf_.get() + pos_ + kHeaderSize;
        size = len;
        pos_ += kHeaderSize + len;
        return Next::Frame;
    }
    // Reads what the socket has (non-blocking); the count read, 0 at end of
    // stream, -1 with errno on error (EAGAIN: nothing now).
    ssize_t fill(int fd) {
        if (pos_ == len_) {
            pos_ = len_ = 0;
        } else if (pos_ > 0) {
            std::memmove(buf_.get(), buf_.get() + pos_, len_ - pos_);
            len_ -= pos_;
            pos_ = 0;
        }
        std::size_t want = 64 * 1024;
        // Read a large frame in one go once its size is known.
        if (len_ >= kHeaderSize) {
            const std::size_t frame = kHeaderSize + frameLength(buf_.get());
            if (frame <= kHeaderSize + kMaxMessageSize && frame > len_ + want) want = frame - len_;
        }
        reserve(len_ + want);
        ssize_t n;
        do {
            n = ::recv(fd, buf_.get() + len_, want, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        short_ = n >= 0 && static_cast<std::size_t>(n) < want;
        if (n > 0) len_ += static_cast<std::size_t>(n);
        return n;
    }
    // The last fill read less than it asked for: the socket had no more then.
    bool lastFillShort() const { return short_; }
    void clear() { pos_ = len_ = 0; }

private:
    void reserve(std::size_t cap) {
        if (cap <= cap_) return;
        const std::size_t newCap = std::max(cap, cap_ * 2);
        std::unique_ptr<std::uint8_t[]> b(new std::uint8_t[newCap]);
        if (len_) std::memcpy(b.get(), buf_.get(), len_);
        buf_ = std::move(b);
        cap_ = newCap;
    }

    std::unique_ptr<std::uint8_t[]> buf_;
    std::size_t cap_ = 0, len_ = 0, pos_ = 0;
    bool short_ = false;
};

}  // namespace quill::ae::wire
