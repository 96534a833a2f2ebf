// Send: AESendMessage — the client side of the event sockets, with one
// cached connection per target process.
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "AEDescStorage.h"
#include "AppleEvents.h"
#include "NSAppleEventManager.h"
#include "RunLoop.h"
#include "Registry.h"
#include "Wire.h"

namespace quill::ae {
namespace {

using Clock = std::chrono::steady_clock;
using registry::ProcessKey;

struct Connection {
    int fd = -1;
    wire::FrameBuffer in;
};

// Idle connections by target. A sender takes its target's connection out
// while it uses it, so two threads never share one; a second concurrent
// sender to the same target opens its own (and the spare is closed when
// it is handed back).
struct Cache {
    std::mutex mutex;
    std::map<ProcessKey, std::unique_ptr<Connection>> idle;
};
Cache* gCache = nullptr;

// A forked child must not use its parent's connections (both would read the
// same replies), and the lock may have been held by a thread that does not
// exist in the child: the child starts with a cache of its own.
void forgetParentConnections() {
    if (gCache)
        for (auto& [key, c] : gCache->idle)
            if (c) ::close(c->fd);  // the child's copy only; the parent's stays open
    gCache = new Cache;             // the old one is left behind on purpose: its lock may be held
}

Cache& cache() {
    static const bool init = [] {
        gCache = new Cache;
        ::pthread_atfork(nullptr, nullptr, forgetParentConnections);
        return true;
    }();
    (void)init;
    return *gCache;
}

void closeConnection(std::unique_ptr<Connection>& c) {
    if (c && c->fd >= 0) ::close(c->fd);
    c.reset();
}

std::unique_ptr<Connection> takeCached(const ProcessKey& key) {
    Cache& cc = cache();
    std::lock_guard lock(cc.mutex);
    auto& m = cc.idle;
    auto it = m.find(key);
    if (it == m.end()) return nullptr;
    auto c = std::move(it->second);
    m.erase(it);
    return c;
}

void giveBack(const ProcessKey& key, std::unique_ptr<Connection> c) {
    Cache& cc = cache();
    std::lock_guard lock(cc.mutex);
    auto& slot = cc.idle[key];
    if (slot) {
        closeConnection(c);
        return;
    }
    slot = std::move(c);
}

// Milliseconds left before the deadline, for poll; -1 for none.
int msLeft(const std::optional<Clock::time_point>& deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000));
}

// The process the event is addressed to.
std::optional<ProcessKey> targetOf(const Node& event) {
    const Node* addr = event.findAttribute(keyAddressAttr);
    if (!addr || addr->kind() != Kind::Scalar) return std::nullopt;
    if (addr->type == typeProcessSerialNumber && addr->data.size() == 8) {
        std::uint32_t high, low;
        std::memcpy(&high, addr->data.data(), 4);
        std::memcpy(&low, addr->data.data() + 4, 4);
        if (high == 0 && low == 2) return registry::self();  // kCurrentProcess
        if (high == 0 || low == 0 || low > 0x7FFFFFFFu) return std::nullopt;
        return ProcessKey{static_cast<pid_t>(low), high};
    }
    if (addr->type == typeKernelProcessID && addr->data.size() == 4) {
        std::int32_t pid;
        std::memcpy(&pid, addr->data.data(), 4);
        return registry::keyOf(pid);
    }
    if (addr->type == typeApplicationBundleID) {
        const std::string id(addr->data.begin(), addr->data.end());
        for (const auto& e : registry::liveEntries())
            if (e.bundleIdentifier == id) return e.key;
    }
    return std::nullopt;
}

enum class ConnectResult { Ok, Gone, Failed };

ConnectResult connectTo(const ProcessKey& key, const std::optional<Clock::time_point>& deadline,
                        std::unique_ptr<Connection>& out) {
    const auto entry = registry::entryFor(key);
    if (!entry) return ConnectResult::Gone;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (entry->socketPath.size() >= sizeof addr.sun_path) return ConnectResult::Failed;
    std::memcpy(addr.sun_path, entry->socketPath.c_str(), entry->socketPath.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return ConnectResult::Failed;
    for (;;) {
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
        if (errno == EINTR) continue;
        if (errno == EAGAIN) {
            // The server's backlog is full: it is busy; wait a little for room.
            if (msLeft(deadline) == 0) {
                ::close(fd);
                return ConnectResult::Failed;
            }
            ::usleep(2000);
            continue;
        }
        const int e = errno;
        ::close(fd);
        return e == ECONNREFUSED || e == ENOENT ? ConnectResult::Gone : ConnectResult::Failed;
    }
    // Same user only: the folder is private, but a socket could have been put there by hand.
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid()) {
        ::close(fd);
        return ConnectResult::Failed;
    }
    out = std::make_unique<Connection>();
    out->fd = fd;
    return ConnectResult::Ok;
}

// Writes the whole frame before the deadline. 0, or the errno that stopped it.
int sendAll(int fd, const std::vector<std::uint8_t>& frame, const std::optional<Clock::time_point>& deadline) {
    std::size_t done = 0;
    while (done < frame.size()) {
        ssize_t n = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, msLeft(deadline));
            if (r == 0) return ETIMEDOUT;
            if (r < 0 && errno != EINTR) return errno;
            continue;
        }
        return n < 0 ? errno : EPIPE;
    }
    return 0;
}

enum class WaitResult { Reply, Timeout, Closed, Corrupt };

WaitResult waitReply(Connection& c, SInt16 returnID, const std::optional<Clock::time_point>& deadline, Node& reply) {
    static thread_local wire::SpinGauge gauge;
    gauge.begin();
    for (;;) {
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
        switch (c.in.next(data, size)) {
            case wire::FrameBuffer::Next::TooLarge:
                return WaitResult::Corrupt;
            case wire::FrameBuffer::Next::Frame: {
                Node n;
                if (decode(data, size, n) != noErr) return WaitResult::Corrupt;
                SInt16 rtid = 0;
                readInt16(n.findAttribute(keyReturnIDAttr), rtid);
                if (rtid == returnID) {
                    gauge.end();
                    reply = std::move(n);
                    return WaitResult::Reply;
                }
                SInt32 errn = 0;
                if (rtid == 0 && readInt32(n.find(keyErrorNumber), errn) && errn == errAECorruptData)
                    return WaitResult::Corrupt;  // the server could not read our frame
                continue;                        // a reply to an exchange given up on: dropped
            }
            case wire::FrameBuffer::Next::Incomplete:
                break;
        }
        // Wait first: the reply is hardly ever there the moment the event has
        // gone, and a read that finds nothing costs a call for nothing. A quick
        // event's reply comes within tens of microseconds, less than a sleep in
        // poll and the wake-up after it cost: the socket is looked at without
        // sleeping for a short while before poll sleeps.
        pollfd p{c.fd, POLLIN, 0};
        const int r = gauge.worth() && wire::readableSoon(c.fd) ? 1 : ::poll(&p, 1, msLeft(deadline));
        if (r == 0) return WaitResult::Timeout;
        if (r < 0) {
            if (errno == EINTR) continue;
            return WaitResult::Closed;
        }
        const ssize_t got = c.in.fill(c.fd);
        if (got > 0) continue;
        if (got == 0) return WaitResult::Closed;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return WaitResult::Closed;
    }
}

}  // namespace
}  // namespace quill::ae

OSStatus AESendMessage(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode, long timeOutInTicks) {
    using namespace quill::ae;
    if (reply) *reply = AEDesc{typeNull, nullptr};
    if (!event) return paramErr;
    if (event->descriptorType != typeAppleEvent || !event->dataHandle) return errAENotAppleEvent;
    const int mode = sendMode & 3;
    if (mode == 0) return errAEUnknownSendMode;
    const bool wait = mode == kAEWaitReply;
    try {
        std::optional<Clock::time_point> deadline;
        if (timeOutInTicks != kNoTimeOut) {
            const long ticks = timeOutInTicks == kAEDefaultTimeout || timeOutInTicks < 0 ? 3600 : timeOutInTicks;
            deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(ticks) * 1000 / 60);
        }
        const Node& request = event->dataHandle->node;
        const auto target = targetOf(request);
        if (!target) return procNotFound;

        // To this very process, from its run loop's thread (or with no run
        // loop running): nobody would read the socket while we wait, so the
        // event is dispatched here and now, as the Mac does for a self-send.
        if (target->pid == registry::selfPid() && *target == registry::self() &&
            (RunLoop::main().isCurrentThread() || !RunLoop::main().isRunning())) {
            AEDesc copy;
            if (AEDuplicateDesc(event, &copy) != noErr) return memFullErr;
            copy.dataHandle->node.putAttribute(keySenderPIDAttr, int32Node(static_cast<SInt32>(::getpid())));
            auto ev = NSAppleEventDescriptor::initWithAEDescNoCopy(&copy);
            AEDesc replyDesc{typeAppleEvent, new AEDescStorage{replyNodeFor(request)}};
            auto rep = wait ? NSAppleEventDescriptor::initWithAEDescNoCopy(&replyDesc)
                            : NSAppleEventDescriptor::nullDescriptor();
            if (!wait) AEDisposeDesc(&replyDesc);
            OSErr err = NSAppleEventManager::sharedAppleEventManager().dispatchRawAppleEvent(ev.get(), rep.get());
            if (!wait) return noErr;
            if (err == errAEEventNotHandled)
                rep->setParamDescriptor(NSAppleEventDescriptor::descriptorWithInt32(err), keyErrorNumber);
            if (reply) AEDuplicateDesc(rep->aeDesc(), reply);
            return err == errAEEventNotHandled ? errAEEventNotHandled : noErr;
        }

        // The request as it travels: the event plus whether a reply is wanted.
        Node wireEvent = request;
        wireEvent.putAttribute(keyReplyRequestedAttr, boolNode(wait));
        if (timeOutInTicks > 0) wireEvent.putAttribute(keyTimeoutAttr, int32Node(static_cast<SInt32>(timeOutInTicks)));
        if (deadline) {
            const std::int64_t ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline->time_since_epoch()).count();
            wireEvent.putAttribute(keyReplyDeadlineAttr, scalar(typeSInt64, &ms, sizeof ms));
        }
        SInt16 returnID = 0;
        readInt16(request.findAttribute(keyReturnIDAttr), returnID);
        std::vector<std::uint8_t> frame;
        wire::appendFrame(wireEvent, frame);
        if (frame.size() - wire::kHeaderSize > kMaxMessageSize) return errAECorruptData;

        // A cached connection may have been closed by its peer since; then
        // the send fails at once and a fresh connection is tried.
        std::unique_ptr<Connection> conn = takeCached(*target);
        if (conn) {
            const int err = sendAll(conn->fd, frame, deadline);
            if (err == ETIMEDOUT) {
                closeConnection(conn);
                return errAETimeout;
            }
            if (err != 0) closeConnection(conn);
        }
        if (!conn) {
            const auto r = connectTo(*target, deadline, conn);
            if (r == ConnectResult::Gone) return procNotFound;
            if (r == ConnectResult::Failed) return registry::alive(*target) ? connectionInvalid : procNotFound;
            const int err = sendAll(conn->fd, frame, deadline);
            if (err != 0) {
                closeConnection(conn);
                if (err == ETIMEDOUT) return errAETimeout;
                return registry::alive(*target) ? connectionInvalid : procNotFound;
            }
        }
        if (!wait) {
            giveBack(*target, std::move(conn));
            return noErr;
        }
        Node replyNode;
        switch (waitReply(*conn, returnID, deadline, replyNode)) {
            case WaitResult::Timeout:
                // Closing the connection drops the late reply with it.
                closeConnection(conn);
                return errAETimeout;
            case WaitResult::Closed:
                closeConnection(conn);
                return registry::alive(*target) ? connectionInvalid : procNotFound;
            case WaitResult::Corrupt:
                closeConnection(conn);
                return errAECorruptData;
            case WaitResult::Reply:
                break;
        }
        giveBack(*target, std::move(conn));
        SInt32 errn = 0;
        const bool notHandled = readInt32(replyNode.find(keyErrorNumber), errn) && errn == errAEEventNotHandled;
        if (reply) *reply = AEDesc{typeAppleEvent, new AEDescStorage{std::move(replyNode)}};
        return notHandled ? errAEEventNotHandled : noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    } catch (...) {
        return errAECorruptData;
    }
}
