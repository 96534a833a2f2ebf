// The event socket within one process: the run loop serves on its own
// thread while the test sends, both through AESendMessage and as a raw
// client that misbehaves.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "TempDir.h"

#include <memory>
#include "AEDescStorage.h"
#include "NSAppleEventManager.h"
#include "Processes.h"
#include "Registry.h"
#include "RunLoop.h"
#include "Wire.h"

using D = NSAppleEventDescriptor;
using quill::ae::RunLoop;

namespace {

const AEEventClass kTest = FourCC("QTtr");
std::unique_ptr<quill::testsupport::TempDir> gDir;
std::string gRoot;
ProcessSerialNumber gSelf;
std::thread::id gLoopThread;

NSAppleEventDescriptorRef event(AEEventID id, NSAppleEventDescriptorRef param = nullptr) {
    auto target = D::descriptorWithDescriptorType(typeProcessSerialNumber, &gSelf, sizeof gSelf);
    auto e = D::appleEventWithEventClass(kTest, id, target, kAutoGenerateReturnID, 0);
    if (param) e->setParamDescriptor(param, keyDirectObject);
    return e;
}

int connectRaw() {
    const auto entry = quill::ae::registry::entryFor({static_cast<pid_t>(gSelf.lowLongOfPSN), gSelf.highLongOfPSN});
    if (!entry) return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, entry->socketPath.c_str(), sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

void sendFrame(int fd, std::uint32_t declared, const std::vector<std::uint8_t>& body) {
    const std::uint32_t len = htonl(declared);
    ASSERT_EQ(send(fd, &len, 4, MSG_NOSIGNAL), 4);
    if (!body.empty()) {
        ASSERT_EQ(send(fd, body.data(), body.size(), MSG_NOSIGNAL), static_cast<ssize_t>(body.size()));
    }
}

bool readExact(int fd, void* buf, std::size_t n) {
    auto* p = static_cast<char*>(buf);
    while (n) {
        const ssize_t r = recv(fd, p, n, 0);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// The next reply frame, decoded; nullopt at end of stream.
std::optional<quill::ae::Node> readReply(int fd) {
    std::uint32_t len;
    if (!readExact(fd, &len, 4)) return std::nullopt;
    std::vector<std::uint8_t> body(ntohl(len));
    if (!readExact(fd, body.data(), body.size())) return std::nullopt;
    quill::ae::Node n;
    if (quill::ae::decode(body.data(), body.size(), n) != noErr) return std::nullopt;
    return n;
}

class Transport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gDir = std::make_unique<quill::testsupport::TempDir>("quill-ae");
        gRoot = gDir->path.string();
        setenv("QUILLMARK_RUNTIME_DIR", (gRoot + "/run").c_str(), 1);
        auto& m = NSAppleEventManager::sharedAppleEventManager();
        m.setEventHandler(
            [](D* e, D* r) {
                auto p = e->paramDescriptorForKeyword(keyDirectObject);
                auto s = p ? p->stringValue() : std::nullopt;
                r->setParamDescriptor(D::descriptorWithString(s ? *s : NSStr("none")), keyErrorString);
                r->setParamDescriptor(D::descriptorWithInt32(std::this_thread::get_id() == gLoopThread),
                                      FourCC("main"));
            },
            kTest, FourCC("echo"));
        // Answers the sender's pid as delivered.
        m.setEventHandler(
            [](D* e, D* r) {
                auto pid = e->attributeDescriptorForKeyword(keySenderPIDAttr);
                r->setParamDescriptor(D::descriptorWithInt32(pid ? pid->int32Value() : -1), keySenderPIDAttr);
            },
            kTest, FourCC("spid"));
        // Answers whether the process with the pid given runs, as the run loop's thread sees it.
        m.setEventHandler(
            [](D* e, D* r) {
                auto pid = e->paramDescriptorForKeyword(keyDirectObject);
                ProcessSerialNumber psn{};
                const bool runs = pid && GetProcessForPID(static_cast<pid_t>(pid->int32Value()), &psn) == noErr;
                r->setParamDescriptor(D::descriptorWithInt32(runs), keyDirectObject);
            },
            kTest, FourCC("live"));
        gSelf = quill::process::registerApplication(
            {"Transport Test", FourCC("APPL"), FourCC("QTtr"), "com.quillmark.test.transport", ""});
    }
    static void TearDownTestSuite() {
        quill::process::unregisterApplication();
        gDir.reset();
    }
    void SetUp() override {
        loop_ = std::thread([] {
            gLoopThread = std::this_thread::get_id();
            RunLoop::main().run();
        });
        while (!RunLoop::main().isRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void TearDown() override {
        RunLoop::main().stop();
        loop_.join();
    }
    std::thread loop_;
};

}  // namespace

TEST_F(Transport, EventsAreHandledOnTheRunLoopThread) {
    AEDesc r;
    ASSERT_EQ(
        AESendMessage(event(FourCC("echo"), D::descriptorWithString(NSStr("hi")))->aeDesc(), &r, kAEWaitReply, 600),
        noErr);
    auto reply = D::initWithAEDescNoCopy(&r);
    EXPECT_EQ(reply->descriptorForKeyword(keyErrorString)->stringValue()->UTF8String(), "hi");
    EXPECT_EQ(reply->descriptorForKeyword(FourCC("main"))->int32Value(), 1);
    // No address, or an address of no process: at once.
    auto lost = D::appleEventWithEventClass(kTest, FourCC("echo"), nullptr, 1, 0);
    EXPECT_EQ(AESendMessage(lost->aeDesc(), &r, kAEWaitReply, 600), procNotFound);
    const ProcessSerialNumber none{0, 0};
    lost = D::appleEventWithEventClass(
        kTest, FourCC("echo"), D::descriptorWithDescriptorType(typeProcessSerialNumber, &none, sizeof none), 1, 0);
    EXPECT_EQ(AESendMessage(lost->aeDesc(), &r, kAEWaitReply, 600), procNotFound);
    EXPECT_EQ(AESendMessage(D::descriptorWithInt32(1)->aeDesc(), &r, kAEWaitReply, 600), errAENotAppleEvent);
}

TEST_F(Transport, EventToItselfFromTheLoopThreadIsDispatchedDirectly) {
    // Through the socket this would wait for a loop that is busy waiting.
    std::atomic<int> status{1};
    std::string text;
    RunLoop::main().performOnMainThread([&] {
        AEDesc r;
        const OSStatus st =
            AESendMessage(event(FourCC("echo"), D::descriptorWithString(NSStr("me")))->aeDesc(), &r, kAEWaitReply, 60);
        text = D::initWithAEDescNoCopy(&r)->descriptorForKeyword(keyErrorString)->stringValue()->UTF8String();
        status = st;
    });
    for (int i = 0; i < 1000 && status == 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(status.load(), noErr);
    EXPECT_EQ(text, "me");
}

TEST_F(Transport, MalformedFrameGetsAnErrorReplyAndTheConnectionGoesOn) {
    const int fd = connectRaw();
    ASSERT_GE(fd, 0);
    sendFrame(fd, 5, {'Q', 'M', 'A', 'E', 9});
    auto err = readReply(fd);
    ASSERT_TRUE(err);
    SInt32 code = 0;
    EXPECT_TRUE(quill::ae::readInt32(err->find(keyErrorNumber), code));
    EXPECT_EQ(code, errAECorruptData);
    // The same connection still carries a good event.
    auto e = event(FourCC("echo"), D::descriptorWithString(NSStr("ok")));
    const auto bytes = quill::ae::encode(e->aeDesc()->dataHandle->node);
    sendFrame(fd, static_cast<std::uint32_t>(bytes.size()), bytes);
    auto good = readReply(fd);
    ASSERT_TRUE(good);
    EXPECT_EQ(*good->find(keyErrorString), quill::ae::textNode(u"ok"));
    close(fd);
}

TEST_F(Transport, OversizedFrameIsRefusedAndOthersAreStillServed) {
    const int fd = connectRaw();
    ASSERT_GE(fd, 0);
    sendFrame(fd, 64u * 1024u * 1024u + 1u, {});
    auto err = readReply(fd);
    ASSERT_TRUE(err);
    SInt32 code = 0;
    EXPECT_TRUE(quill::ae::readInt32(err->find(keyErrorNumber), code));
    EXPECT_EQ(code, errAECorruptData);
    EXPECT_FALSE(readReply(fd));  // then closed
    close(fd);
    // A client that sends half a frame and stalls does not hold up anyone else.
    const int stall = connectRaw();
    sendFrame(stall, 1000, {'Q', 'M'});
    AEDesc r;
    EXPECT_EQ(AESendMessage(event(FourCC("echo"))->aeDesc(), &r, kAEWaitReply, 600), noErr);
    AEDisposeDesc(&r);
    close(stall);
}

TEST_F(Transport, WorkAndTimersRunOnTheLoopInOrder) {
    std::vector<int> order;
    std::atomic<int> done{0};
    std::atomic<bool> onLoop{true};
    auto& loop = RunLoop::main();
    loop.performAfter(std::chrono::milliseconds(60), [&] {
        order.push_back(3);
        ++done;
    });
    loop.performAfter(std::chrono::milliseconds(20), [&] {
        order.push_back(2);
        ++done;
    });
    std::thread([&] {
        loop.performOnMainThread([&] {
            if (std::this_thread::get_id() != gLoopThread) onLoop = false;
            order.push_back(1);
            ++done;
        });
    }).join();
    loop.performOnMainThread([] { throw std::runtime_error("ignored"); });  // logged, the loop goes on
    for (int i = 0; i < 500 && done < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(done.load(), 3);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(onLoop);
}

TEST_F(Transport, StopFromASignalHandlerEndsRun) {
    // The fixture's loop is stopped by a signal instead of by TearDown.
    struct sigaction sa {};
    sa.sa_handler = [](int) { RunLoop::main().stop(); };
    sigaction(SIGUSR1, &sa, nullptr);
    pthread_kill(loop_.native_handle(), SIGUSR1);
    for (int i = 0; i < 1000 && RunLoop::main().isRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(RunLoop::main().isRunning());
    signal(SIGUSR1, SIG_DFL);
    // A fresh run for TearDown to stop.
    loop_.join();
    loop_ = std::thread([] { RunLoop::main().run(); });
}

// The liveness look the readiness check makes on every call answers from what
// it kept while the process runs: it must still see the exit at once, a
// zombie not yet reaped included, and never take a later process for it.
TEST(Registry, AliveFollowsAProcessThroughExitAndReaping) {
    namespace reg = quill::ae::registry;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    const auto key = reg::keyOf(child);
    ASSERT_TRUE(key.has_value());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(reg::alive(*key)) << "look " << i;
    EXPECT_FALSE(reg::alive(reg::ProcessKey{child, key->start + 1})) << "another start time is another process";
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    // Killed, not reaped: a zombie, gone as far as anyone sending to it is concerned.
    for (int i = 0; i < 200 && reg::alive(*key); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(reg::alive(*key));
    EXPECT_FALSE(reg::keyOf(child).has_value());
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_FALSE(reg::alive(*key));
    EXPECT_FALSE(reg::statOf(child).has_value());
}

// Finding an application lists the runtime folder from a list it keeps: every
// entry written or removed must show in the next listing, whether the folder
// changed twice within one clock tick or after a long quiet spell.
TEST(Registry, ListingsShowEveryEntryWrittenOrRemoved) {
    namespace reg = quill::ae::registry;
    const char* before = std::getenv("QUILLMARK_RUNTIME_DIR");
    const std::string saved = before ? before : "";
    quill::testsupport::TempDir tmp("quill-ae-list");
    setenv("QUILLMARK_RUNTIME_DIR", (tmp.path / "run").c_str(), 1);
    const std::string dir = reg::runtimeDir();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    const auto entry = [&](const reg::ProcessKey& key, const char* id) {
        reg::Entry e;
        e.key = key;
        e.name = id;
        e.bundleIdentifier = id;
        e.socketPath = reg::socketPathFor(dir, key);
        return e;
    };
    const auto ids = [] {
        std::vector<std::string> out;
        for (const auto& e : reg::liveEntries()) out.push_back(e.bundleIdentifier);
        std::sort(out.begin(), out.end());
        return out;
    };
    const auto other = *reg::keyOf(child);
    reg::writeEntry(dir, entry(reg::self(), "a"));
    EXPECT_EQ(ids(), std::vector<std::string>{"a"});
    reg::writeEntry(dir, entry(other, "b"));  // right after a listing, the folder a moment old
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // long enough for a listing to be kept
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b"}));
    reg::removeEntry(dir, other);
    EXPECT_EQ(ids(), std::vector<std::string>{"a"});
    reg::writeEntry(dir, entry(other, "b"));
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b"}));
    // Changes on the heels of listings, many within one clock tick.
    for (int i = 0; i < 200; ++i) {
        reg::removeEntry(dir, other);
        ASSERT_EQ(ids(), std::vector<std::string>{"a"}) << i;
        reg::writeEntry(dir, entry(other, "b"));
        ASSERT_EQ(ids(), (std::vector<std::string>{"a", "b"})) << i;
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(ids(), std::vector<std::string>{"a"}) << "a dead process's entry goes";
    reg::removeEntry(dir, reg::self());
    if (before)
        setenv("QUILLMARK_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("QUILLMARK_RUNTIME_DIR");
}

// The sender's pid comes from the connection, never from what the event
// claims; a process finds a sender's PSN from that pid while it lives.
TEST_F(Transport, DeliveredEventsCarryTheSendersPid) {
    auto sentPid = [](pid_t claimed) {
        auto e = event(FourCC("spid"));
        e->setAttributeDescriptor(D::descriptorWithInt32(claimed), keySenderPIDAttr);
        AEDesc r;
        if (AESendMessage(e->aeDesc(), &r, kAEWaitReply, 600) != noErr) return -2;
        auto pid = D::initWithAEDescNoCopy(&r)->descriptorForKeyword(keySenderPIDAttr);
        return pid ? pid->int32Value() : -3;
    };
    EXPECT_EQ(sentPid(1), getpid());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(sentPid(1) == getpid() ? 0 : 1);
    ProcessSerialNumber psn{}, self{};
    ASSERT_EQ(GetProcessForPID(getpid(), &psn), noErr);
    ASSERT_EQ(GetCurrentProcess(&self), noErr);
    Boolean same = false;
    EXPECT_EQ(SameProcess(&psn, &self, &same), noErr);
    EXPECT_TRUE(same);
    ASSERT_EQ(GetProcessForPID(child, &psn), noErr);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ProcessInfoRec info{};
    info.processInfoLength = sizeof info;
    EXPECT_EQ(GetProcessInformation(&psn, &info), procNotFound);
    EXPECT_EQ(GetProcessForPID(child, &psn), procNotFound);
}

// The run loop watches each connected sender's process, and a look at a
// sender from its thread may be answered from what the last wake-up saw.
// A sender that has exited is gone for the next event, even while its
// connection lives on in a process it left behind.
TEST_F(Transport, ASenderThatHasExitedIsGoneForTheNextEventThoughItsConnectionLivesOn) {
    auto runs = [](pid_t pid, int fd) -> int {
        auto e = event(FourCC("live"), D::descriptorWithInt32(pid));
        if (fd < 0) {
            AEDesc r;
            if (AESendMessage(e->aeDesc(), &r, kAEWaitReply, 600) != noErr) return -1;
            return D::initWithAEDescNoCopy(&r)->descriptorForKeyword(keyDirectObject)->int32Value();
        }
        std::vector<std::uint8_t> frame;
        quill::ae::wire::appendFrame(e->aeDesc()->dataHandle->node, frame);
        if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) return -1;
        const auto reply = readReply(fd);
        const auto* v = reply ? reply->find(keyDirectObject) : nullptr;
        SInt32 out = -1;
        return v && quill::ae::readInt32(v, out) ? out : -1;
    };
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[1]);
            // Asks about itself over its own connection, leaves the connection to a
            // child that outlives it, and exits.
            const int fd = connectRaw();
            if (fd < 0 || runs(getpid(), fd) != 1) _exit(1);
            const pid_t keeper = fork();
            if (keeper == 0) {
                char c;
                while (read(ready[0], &c, 1) < 0 && errno == EINTR) {
                }
                _exit(0);
            }
            _exit(keeper > 0 ? 0 : 1);
        }
        close(ready[0]);
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(runs(child, -1), 0) << "an exited sender still counted as running";
        EXPECT_EQ(runs(getpid(), -1), 1);
        close(ready[1]);  // lets the keeper go
    }
}
