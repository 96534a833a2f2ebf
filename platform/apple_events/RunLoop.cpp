// RunLoop: the main thread's loop — the event socket's server, queued work
// and timers, woken through an eventfd.
#include "RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "AEDescStorage.h"
#include "NSAppleEventManager.h"
#include "Registry.h"
#include "Wire.h"

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77  // Linux 6.5; older kernels refuse it and the peer goes unwatched
#endif

namespace quill::ae {

namespace {

struct Client {
    int fd = -1;
    pid_t pid = 0;  // the peer, as the kernel saw it connect
    // A pidfd of that very process, polled beside the connection: readable once
    // it has exited. -1 when the kernel gave none, or once it has exited.
    int peerPidfd = -1;
    std::uint64_t peerId = 0;  // registry::pidfdIdentity(peerPidfd)
    wire::FrameBuffer in;
    std::vector<std::uint8_t> out;
    std::size_t outPos = 0;
    bool closing = false;  // refused a frame: no more reading, close once the answer is out

    ~Client() {
        if (fd >= 0) ::close(fd);
        forgetPeer();
    }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        forgetPeer();
    }
    void forgetPeer() {
        if (peerPidfd >= 0) ::close(peerPidfd);
        peerPidfd = -1;
        peerId = 0;
    }
    // Writes what can be written now; false when the connection is broken.
    bool flush() {
        while (fd >= 0 && outPos < out.size()) {
            ssize_t n = ::send(fd, out.data() + outPos, out.size() - outPos, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
            if (n <= 0) return false;
            outPos += static_cast<std::size_t>(n);
        }
        if (outPos == out.size()) {
            out.clear();
            outPos = 0;
        }
        return true;
    }
};

struct Pending {
    std::shared_ptr<Client> client;
    Node event;
};

constexpr std::size_t kMaxClients = 1024;

Node errorReply(OSErr code, const char* text) {
    Node reply = eventNode(kCoreEventClass, kAEAnswer, 0, 0);
    reply.put(keyErrorNumber, int32Node(code));
    reply.put(keyErrorString, textNode(quill::utf::utf8ToUtf16Lenient(text)));
    return reply;
}

NSAppleEventDescriptorRef adopt(Node n) {
    AEDesc d{n.type, new AEDescStorage{std::move(n)}};
    return NSAppleEventDescriptor::initWithAEDescNoCopy(&d);
}

}  // namespace

struct RunLoop::Impl {
    int wakeFd = -1;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> running{false};
    std::atomic<std::thread::id> thread{};

    std::mutex mutex;  // guards work, timers and newListen
    std::deque<std::function<void()>> work;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> timers;
    int newListen = -2;                    // -2: no change
    std::function<void()> afterEachEvent;  // set before run(), called on the run() thread

    // Owned by the run() thread.
    int listenFd = -1;
    std::vector<std::shared_ptr<Client>> clients;
    std::deque<Pending> pending;

    void wake() {
        const std::uint64_t one = 1;
        const int saved = errno;
        [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
        errno = saved;
    }

    bool runQueued();  // true when stop was asked for meanwhile
    void accept();
    void read(const std::shared_ptr<Client>& c);
    void dispatch(Pending& p);
    int pollTimeout();
};

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {
    impl_->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (impl_->wakeFd < 0) syslog(LOG_ERR, "run loop: cannot create its wake-up descriptor");
}

RunLoop::~RunLoop() {
    if (impl_->wakeFd >= 0) ::close(impl_->wakeFd);
    if (impl_->listenFd >= 0) ::close(impl_->listenFd);
}

RunLoop& RunLoop::main() {
    static RunLoop* loop = new RunLoop;  // never destroyed: stop() may come from a signal at exit
    return *loop;
}

void RunLoop::stop() {
    impl_->stopRequested.store(true);
    impl_->wake();
}

bool RunLoop::isRunning() const {
    return impl_->running.load();
}

bool RunLoop::isCurrentThread() const {
    return impl_->running.load() && impl_->thread.load() == std::this_thread::get_id();
}

void RunLoop::performOnMainThread(std::function<void()> fn) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->work.push_back(std::move(fn));
    }
    impl_->wake();
}

void RunLoop::performAfter(std::chrono::milliseconds delay, std::function<void()> fn) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->timers.emplace(std::chrono::steady_clock::now() + delay, std::move(fn));
    }
    impl_->wake();
}

void RunLoop::setAfterEachEvent(std::function<void()> fn) {
    impl_->afterEachEvent = std::move(fn);
}

void RunLoop::setListeningSocket(int fd) {
    int old;
    {
        std::lock_guard lock(impl_->mutex);
        old = impl_->newListen;
        impl_->newListen = fd < 0 ? -1 : fd;
    }
    if (old >= 0) ::close(old);  // replaced before the loop took it
    impl_->wake();
}

bool RunLoop::Impl::runQueued() {
    std::deque<std::function<void()>> now;
    std::vector<std::function<void()>> due;
    {
        std::lock_guard lock(mutex);
        now.swap(work);
        const auto t = std::chrono::steady_clock::now();
        while (!timers.empty() && timers.begin()->first <= t) {
            due.push_back(std::move(timers.begin()->second));
            timers.erase(timers.begin());
        }
        if (newListen != -2) {
            if (listenFd >= 0) ::close(listenFd);
            listenFd = newListen;
            newListen = -2;
        }
    }
    auto call = [](std::function<void()>& fn) {
        try {
            if (fn) fn();
        } catch (const std::exception& e) {
            syslog(LOG_ERR, "run loop: queued work failed: %s", e.what());
        } catch (...) {
            syslog(LOG_ERR, "run loop: queued work failed");
        }
    };
    for (auto& fn : now) call(fn);
    for (auto& fn : due) call(fn);
    return stopRequested.load();
}

int RunLoop::Impl::pollTimeout() {
    if (!pending.empty()) return 0;
    std::lock_guard lock(mutex);
    if (!work.empty() || newListen != -2) return 0;
    if (timers.empty()) return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(timers.begin()->first - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 24 * 3600 * 1000));
}

void RunLoop::Impl::accept() {
    for (;;) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // EAGAIN, or out of descriptors: try again on the next round
        }
        struct ucred cred {};
        socklen_t len = sizeof cred;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid()) {
            syslog(LOG_WARNING, "event socket: refused a connection from uid %u", static_cast<unsigned>(cred.uid));
            ::close(fd);
            continue;
        }
        if (clients.size() >= kMaxClients) {
            syslog(LOG_WARNING, "event socket: too many connections, refused one");
            ::close(fd);
            continue;
        }
        auto c = std::make_shared<Client>();
        c->fd = fd;
        c->pid = cred.pid;
        int pidfd = -1;
        socklen_t plen = sizeof pidfd;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &plen) == 0 && pidfd >= 0) {
            c->peerPidfd = pidfd;
            c->peerId = registry::pidfdIdentity(pidfd);
            if (c->peerId == 0) c->forgetPeer();  // no identity to match a look by: not worth polling
        }
        clients.push_back(std::move(c));
    }
}

void RunLoop::Impl::read(const std::shared_ptr<Client>& c) {
    // A bounded number of reads per round, so one busy client cannot starve the others.
    for (int round = 0; round < 16 && c->fd >= 0 && !c->closing; ++round) {
        const ssize_t n = c->in.fill(c->fd);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            c->close();
            return;
        }
        for (;;) {
            const std::uint8_t* data = nullptr;
            std::size_t size = 0;
            const auto next = c->in.next(data, size);
            if (next == wire::FrameBuffer::Next::Incomplete) break;
            if (next == wire::FrameBuffer::Next::TooLarge) {
                syslog(LOG_WARNING, "event socket: refused a frame over the size limit");
                wire::appendFrame(errorReply(errAECorruptData, "The event is larger than the 64 MB limit."), c->out);
                c->closing = true;
                c->in.clear();
                if (!c->flush()) c->close();
                return;
            }
            Node event;
            std::string why;
            if (decode(data, size, event, &why) != noErr || event.type != typeAppleEvent) {
                syslog(LOG_WARNING, "event socket: refused a malformed event (%s)",
                       why.empty() ? "not an event" : why.c_str());
                wire::appendFrame(errorReply(errAECorruptData, "The event could not be read."), c->out);
                if (!c->flush()) c->close();
                continue;
            }
            // The sender is who the kernel says connected, whatever the event claims.
            event.putAttribute(keySenderPIDAttr, int32Node(static_cast<SInt32>(c->pid)));
            pending.push_back(Pending{c, std::move(event)});
        }
        // Drained; a short read says so without another call (poll reports
        // whatever arrives later).
        if (n < 0 || c->in.lastFillShort()) return;
    }
}

void RunLoop::Impl::dispatch(Pending& p) {
    const Node* repq = p.event.findAttribute(keyReplyRequestedAttr);
    const bool wantReply = !repq || repq->data.empty() || repq->data[0] != 0;
    Node replyNode = replyNodeFor(p.event);
    auto event = adopt(std::move(p.event));
    auto reply = wantReply ? adopt(std::move(replyNode)) : NSAppleEventDescriptor::nullDescriptor();
    const OSErr err = NSAppleEventManager::sharedAppleEventManager().dispatchRawAppleEvent(event.get(), reply.get());
    if (afterEachEvent) afterEachEvent();
    if (!wantReply) return;
    if (err == errAEEventNotHandled || err == errAENotAppleEvent)
        reply->setParamDescriptor(NSAppleEventDescriptor::descriptorWithInt32(err), keyErrorNumber);
    Client& c = *p.client;
    if (c.fd < 0) return;  // the sender has gone; the reply goes nowhere
    const AEDesc* d = reply->aeDesc();
    if (!d->dataHandle) return;
    try {
        wire::appendFrame(d->dataHandle->node, c.out);
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "event socket: cannot encode a reply: %s", e.what());
        return;
    }
    if (!c.flush()) c.close();
}

void RunLoop::run() {
    Impl& m = *impl_;
    if (m.running.exchange(true)) return;  // already running (a handler calling run again)
    m.thread.store(std::this_thread::get_id());
    std::vector<pollfd> fds;
    std::vector<registry::RunningPeer> peers;
    bool dispatched = false;
    wire::SpinGauge gap;  // from an event's end to whatever woke the loop next
    for (;;) {
        if (m.stopRequested.exchange(false)) break;
        if (m.runQueued()) continue;
        // One event at a time, in arrival order; stop() takes effect between events.
        bool stopped = false;
        while (!m.pending.empty()) {
            Pending p = std::move(m.pending.front());
            m.pending.pop_front();
            try {
                m.dispatch(p);
            } catch (const std::exception& e) {
                syslog(LOG_ERR, "run loop: event dispatch failed: %s", e.what());
            }
            dispatched = true;
            gap.begin();
            if (m.stopRequested.load()) {
                stopped = true;
                break;
            }
        }
        if (stopped) continue;

        // Forget connections that are gone (pending events hold their own reference).
        std::erase_if(m.clients,
                      [](const std::shared_ptr<Client>& c) { return c->fd < 0 || (c->closing && c->out.empty()); });
        fds.clear();
        fds.push_back(pollfd{m.wakeFd, POLLIN, 0});
        if (m.listenFd >= 0) fds.push_back(pollfd{m.listenFd, POLLIN, 0});
        const std::size_t firstClient = fds.size();
        for (const auto& c : m.clients) {
            short events = c->closing ? 0 : POLLIN;
            if (!c->out.empty()) events |= POLLOUT;
            fds.push_back(pollfd{c->fd, events, 0});
        }
        // The peers' pidfds after the connections, one a client (-1: poll skips it).
        const std::size_t firstPeer = fds.size();
        for (const auto& c : m.clients) fds.push_back(pollfd{c->peerPidfd, POLLIN, 0});
        // Right after an event, the next one of a script is looked for without sleeping first,
        // while the script's events have been coming that quickly.
        const int timeout = m.pollTimeout();
        int n = 0;
        if (dispatched && timeout != 0 && gap.worth() && wire::readySoon(fds.data(), fds.size()))
            n = 1;
        else
            n = ::poll(fds.data(), fds.size(), timeout);
        if (dispatched && timeout != 0) gap.end();
        dispatched = false;
        if (n < 0) {
            if (errno == EINTR) continue;
            syslog(LOG_ERR, "run loop: poll failed");
            break;
        }
        // Who was still running at this wake-up, for the events about to be
        // dispatched (registry::noteRunningPeers).
        peers.clear();
        for (std::size_t i = 0; i < m.clients.size(); ++i) {
            const auto& c = m.clients[i];
            if (c->peerPidfd < 0) continue;
            if (fds[firstPeer + i].revents)
                c->forgetPeer();  // exited: looks at it go to the system from now on
            else
                peers.push_back(registry::RunningPeer{c->pid, c->peerId});
        }
        registry::noteRunningPeers(peers);
        if (fds[0].revents) {
            std::uint64_t v;
            while (::read(m.wakeFd, &v, sizeof v) > 0) {
            }
        }
        if (m.listenFd >= 0 && fds[1].revents & POLLIN) m.accept();
        // Clients accepted just now are not in fds yet; they are polled next round.
        for (std::size_t i = firstClient; i < firstPeer; ++i) {
            const auto& c = m.clients[i - firstClient];
            const short re = fds[i].revents;
            if (!re || c->fd < 0) continue;
            if (re & POLLOUT && !c->flush()) {
                c->close();
                continue;
            }
            if (re & (POLLIN | POLLHUP | POLLERR)) {
                if (c->closing) {
                    if (re & (POLLHUP | POLLERR)) c->close();
                } else {
                    m.read(c);
                }
            }
        }
    }
    m.thread.store(std::thread::id{});
    m.running.store(false);
}

}  // namespace quill::ae
