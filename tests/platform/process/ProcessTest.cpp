// The process list, launch, and Apple events between processes, with the
// small test application started through the launch call.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <pwd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <arpa/inet.h>

#include "TempDir.h"

#include <memory>
#include "AEDescStorage.h"
#include "NSAppleEventDescriptor.h"
#include "NSWorkspace.h"
#include "Processes.h"
#include "Registry.h"

namespace fs = std::filesystem;
using D = NSAppleEventDescriptor;
using Clock = std::chrono::steady_clock;

namespace {

const AEEventClass kTest = FourCC("QTst");
const OSType kCreator = FourCC("QTST");

std::unique_ptr<quill::testsupport::TempDir> gDir;
std::string gRoot;

// Identifiers that are no plain file names.
const std::string kOddId = "../odd/x y";
const std::string kLongId = "com.quillmark.test." + std::string(300, 'l');

void writeBundle(const std::string& apps, const std::string& name, const std::string& id,
                 const std::string& displayName, const std::string& moreInfo = "") {
    const fs::path b = fs::path(apps) / (name + ".app");
    fs::create_directories(b / "Contents" / "MacOS");
    std::ofstream(b / "Contents" / "Info")
        << "# test bundle\nCFBundleIdentifier=" << id << "\nCFBundleExecutable=TestApp\nCFBundleName=" << displayName
        << "\nCFBundleSignature=QTST\n"
        << moreInfo;
    fs::create_symlink(QUILL_TEST_APP, b / "Contents" / "MacOS" / "TestApp");
}

bool launch(const std::string& id) {
    return NSWorkspace::sharedWorkspace().launchAppWithBundleIdentifier(
        NSStr(id), NSWorkspaceLaunchAllowingClassicStartup, nullptr, nullptr);
}

// The search the plug-in makes: creator and type match, no "Reader" in the name.
bool findAProcess(OSType creator, ProcessSerialNumber* psn, bool skipReader = true) {
    *psn = ProcessSerialNumber{0, kNoProcess};
    Str255 name;
    ProcessInfoRec info{};
    while (GetNextProcess(psn) == noErr) {
        info.processInfoLength = sizeof info;
        info.processName = name;
        info.processAppRef = nullptr;
        if (GetProcessInformation(psn, &info) != noErr) continue;
        if (info.processType != FourCC("APPL") || info.processSignature != creator) continue;
        const std::string n(reinterpret_cast<char*>(name + 1), name[0]);
        if (skipReader && n.find("Reader") != std::string::npos) continue;
        return true;
    }
    return false;
}

ProcessSerialNumber psnOfBundle(const std::string& id) {
    for (const auto& e : quill::ae::registry::liveEntries())
        if (e.bundleIdentifier == id) return ProcessSerialNumber{e.key.start, static_cast<UInt32>(e.key.pid)};
    return ProcessSerialNumber{0, 0};
}

NSAppleEventDescriptorRef event(const ProcessSerialNumber& psn, AEEventID id,
                                NSAppleEventDescriptorRef param = nullptr) {
    auto target = D::descriptorWithDescriptorType(typeProcessSerialNumber, &psn, sizeof psn);
    auto e = D::appleEventWithEventClass(kTest, id, target, kAutoGenerateReturnID, kAnyTransactionID);
    if (param) e->setParamDescriptor(param, keyDirectObject);
    return e;
}

struct Reply {
    OSStatus status;
    NSAppleEventDescriptorRef reply;
    std::string errs() const {
        auto d = reply ? reply->descriptorForKeyword(keyErrorString) : nullptr;
        auto s = d ? d->stringValue() : std::nullopt;
        return s ? s->UTF8String() : "<none>";
    }
};

Reply send(const NSAppleEventDescriptorRef& e, long ticks = 1200) {
    AEDesc r;
    const OSStatus st = AESendMessage(e->aeDesc(), &r, kAEWaitReply, ticks);
    return Reply{st, D::initWithAEDescNoCopy(&r)};
}

int instancesOf(const std::string& id) {
    int n = 0;
    for (const auto& e : quill::ae::registry::liveEntries()) n += e.bundleIdentifier == id;
    return n;
}

std::string lockPathOf(const std::string& plainId) {
    return gRoot + "/run/launch." + plainId + ".lock";
}

// Whether nobody holds the lock on that file (taken and let go at once).
bool lockIsFree(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// Starts the test application as a launcher of that identifier; it launches
// once its input (the read end of a pipe) ends. With a `ready` pipe end it
// writes one byte there when it is about to wait for its input.
pid_t startLauncher(const std::string& id, int input, int ready = -1) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, input, 0);
    if (ready >= 0) posix_spawn_file_actions_adddup2(&fa, ready, 1);
    std::string exe = QUILL_TEST_APP, flag = "--launch", arg = id;
    char* argv[] = {exe.data(), flag.data(), arg.data(), nullptr};
    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    return err == 0 ? pid : -1;
}

// The exit status of a launcher: 0 when its launch answered YES.
int exitOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

pid_t pidOf(const ProcessSerialNumber& psn) {
    return static_cast<pid_t>(psn.lowLongOfPSN);
}

// Polls `done` until it holds or the deadline passes; true when it held.
template <class Condition>
bool waitUntil(Condition done, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    const auto end = Clock::now() + deadline;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Live processes started from a bundle whose path begins with `bundlePrefix`,
// registered or still starting (a process whose environment names the bundle).
std::vector<pid_t> bundleProcesses(const std::string& bundlePrefix) {
    const std::string needle = "QUILLMARK_BUNDLE_PATH=" + bundlePrefix;
    std::vector<pid_t> pids;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.empty() || name[0] < '0' || name[0] > '9') continue;
        std::ifstream stat(entry.path() / "stat");
        std::string pid, comm, state;
        stat >> pid >> comm >> state;
        if (state == "Z" || state == "X") continue;
        std::ifstream env(entry.path() / "environ", std::ios::binary);
        std::string var;
        while (std::getline(env, var, '\0'))
            if (var.rfind(needle, 0) == 0) {
                pids.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
                break;
            }
    }
    return pids;
}

int processesOfBundle(const std::string& appName) {
    return static_cast<int>(bundleProcesses(gRoot + "/Applications/" + appName + ".app").size());
}

bool waitGone(const ProcessSerialNumber& psn) {
    return waitUntil([&] {
        ProcessInfoRec info{};
        info.processInfoLength = sizeof info;
        return GetProcessInformation(&psn, &info) != noErr;
    });
}

class Processes : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gDir = std::make_unique<quill::testsupport::TempDir>("quill-proc");
        gRoot = gDir->path.string();
        const std::string apps = gRoot + "/Applications";
        setenv("QUILLMARK_RUNTIME_DIR", (gRoot + "/run").c_str(), 1);
        setenv("QUILLMARK_APPLICATIONS", ("/nonexistent:" + apps).c_str(), 1);
        writeBundle(apps, "Test App", "com.quillmark.test.app", "Test App");
        writeBundle(apps, "Test Reader", "com.quillmark.test.reader", "Quill Reader");
        writeBundle(apps, "Victim", "com.quillmark.test.victim", "Victim");
        writeBundle(apps, "Victim Two", "com.quillmark.test.victim2", "Victim Two");
        // Slow to register, so that launches overlap the start.
        writeBundle(apps, "Racer", "com.quillmark.test.racer", "Racer", "QuillTestStartDelay=300\n");
        writeBundle(apps, "Slow Starter", "com.quillmark.test.slow", "Slow Starter", "QuillTestStartDelay=2000\n");
        writeBundle(apps, "Odd", kOddId, "Odd");
        writeBundle(apps, "Long", kLongId, "Long");
    }
    static void TearDownTestSuite() {
        // Stop every application this suite started, also one still starting
        // (it would hold the test's output open after the suite ends).
        for (const auto& e : quill::ae::registry::liveEntries()) ::kill(e.key.pid, SIGKILL);
        for (pid_t p : bundleProcesses(gRoot + "/Applications/")) ::kill(p, SIGKILL);
        gDir.reset();
    }
};

}  // namespace

TEST_F(Processes, RuntimeFolderIsPrivate) {
    const std::string dir = quill::process::runtimeDir();
    EXPECT_EQ(dir, gRoot + "/run");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    // A symbolic link in its place is refused.
    const std::string link = gRoot + "/link";
    fs::create_symlink(dir, link);
    setenv("QUILLMARK_RUNTIME_DIR", link.c_str(), 1);
    EXPECT_THROW(quill::process::runtimeDir(), std::runtime_error);
    setenv("QUILLMARK_RUNTIME_DIR", dir.c_str(), 1);
}

TEST_F(Processes, LaunchStartsTheApplicationWhichAnswersEvents) {
    EXPECT_FALSE(launch("com.quillmark.test.not-installed"));
    ASSERT_TRUE(launch("com.quillmark.test.app"));
    ProcessSerialNumber psn;
    ASSERT_TRUE(findAProcess(kCreator, &psn));
    // Already running: YES at once, and still one instance.
    const auto t0 = Clock::now();
    EXPECT_TRUE(launch("com.quillmark.test.app"));
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
    ProcessSerialNumber again;
    ASSERT_TRUE(findAProcess(kCreator, &again));
    EXPECT_EQ(again.lowLongOfPSN, psn.lowLongOfPSN);

    ProcessInfoRec info{};
    Str255 name;
    FSRef ref;
    info.processInfoLength = sizeof info;
    info.processName = name;
    info.processAppRef = &ref;
    ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "Test App");
    EXPECT_EQ(info.processType, FourCC("APPL"));
    EXPECT_EQ(info.processNumber.lowLongOfPSN, psn.lowLongOfPSN);

    auto r = send(event(psn, FourCC("echo"), D::descriptorWithString(NSStr("Grüße"))));
    EXPECT_EQ(r.status, noErr);
    EXPECT_EQ(r.errs(), "Grüße");
    // A handler that sets nothing gives an empty reply event.
    r = send(event(psn, FourCC("nada")));
    EXPECT_EQ(r.status, noErr);
    ASSERT_NE(r.reply, nullptr);
    EXPECT_EQ(r.reply->eventClass(), kCoreEventClass);
    EXPECT_EQ(r.reply->eventID(), kAEAnswer);
    EXPECT_EQ(r.reply->numberOfItems(), 0);
    // No handler.
    r = send(event(psn, FourCC("none")));
    EXPECT_EQ(r.status, errAEEventNotHandled);
    EXPECT_EQ(r.errs(), "<none>");
    // No reply wanted: handed over, nothing comes back.
    AEDesc nothing;
    EXPECT_EQ(AESendMessage(event(psn, FourCC("echo"))->aeDesc(), &nothing, kAENoReply, 60), noErr);
    EXPECT_EQ(nothing.descriptorType, typeNull);
    // A 64 KiB reply.
    r = send(event(psn, FourCC("big "), D::descriptorWithInt32(32768)));
    EXPECT_EQ(r.status, noErr);
    EXPECT_EQ(r.errs(), std::string(32768, 'x'));
}

TEST_F(Processes, TwoClientsAtOnceEachGetTheirOwnReplies) {
    ASSERT_TRUE(launch("com.quillmark.test.app"));
    const auto psn = psnOfBundle("com.quillmark.test.app");
    std::atomic<int> wrong{0};
    auto client = [&](const std::string& tag) {
        for (int i = 0; i < 100; ++i) {
            const std::string text = tag + std::to_string(i);
            auto r = send(event(psn, FourCC("echo"), D::descriptorWithString(NSStr(text))));
            if (r.status != noErr || r.errs() != text) ++wrong;
        }
    };
    std::thread a(client, "a"), b(client, "b");
    // A third client in another process.
    const pid_t child = fork();
    if (child == 0) {
        int bad = 0;
        for (int i = 0; i < 50; ++i) {
            auto r = send(event(psn, FourCC("echo"), D::descriptorWithString(NSStr("c" + std::to_string(i)))));
            if (r.status != noErr || r.errs() != "c" + std::to_string(i)) ++bad;
        }
        _exit(bad ? 1 : 0);
    }
    a.join();
    b.join();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(Processes, SlowHandlerTimesOutAndTheApplicationKeepsWorking) {
    ASSERT_TRUE(launch("com.quillmark.test.app"));
    const auto psn = psnOfBundle("com.quillmark.test.app");
    const auto t0 = Clock::now();
    auto r = send(event(psn, FourCC("slow"), D::descriptorWithInt32(1500)), 30);  // half a second
    const auto waited = Clock::now() - t0;
    EXPECT_EQ(r.status, errAETimeout);
    EXPECT_EQ(r.errs(), "<none>");
    EXPECT_GE(waited, std::chrono::milliseconds(490));
    EXPECT_LT(waited, std::chrono::milliseconds(1400));
    // The late reply is dropped; the next exchange gets its own reply.
    r = send(event(psn, FourCC("echo"), D::descriptorWithString(NSStr("after"))));
    EXPECT_EQ(r.status, noErr);
    EXPECT_EQ(r.errs(), "after");
}

TEST_F(Processes, ReaderProcessShowsInTheWalkButIsSkippedBySearch) {
    ASSERT_TRUE(launch("com.quillmark.test.reader"));
    ASSERT_TRUE(launch("com.quillmark.test.app"));
    std::vector<std::string> names;
    ProcessSerialNumber psn{0, kNoProcess};
    Str255 name;
    while (GetNextProcess(&psn) == noErr) {
        ProcessInfoRec info{};
        info.processInfoLength = sizeof info;
        info.processName = name;
        ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
        EXPECT_EQ(info.processSignature, kCreator);
        names.emplace_back(reinterpret_cast<char*>(name + 1), name[0]);
    }
    EXPECT_EQ(psn.highLongOfPSN, 0u);
    EXPECT_EQ(psn.lowLongOfPSN, 0u);
    EXPECT_NE(std::find(names.begin(), names.end(), "Quill Reader"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "Test App"), names.end());

    ProcessSerialNumber found;
    ASSERT_TRUE(findAProcess(kCreator, &found));
    ProcessInfoRec info{};
    info.processInfoLength = sizeof info;
    info.processName = name;
    ASSERT_EQ(GetProcessInformation(&found, &info), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "Test App");
}

TEST_F(Processes, KilledApplicationIsGoneAndSendsFailAtOnce) {
    ASSERT_TRUE(launch("com.quillmark.test.victim"));
    const auto psn = psnOfBundle("com.quillmark.test.victim");
    ASSERT_NE(psn.lowLongOfPSN, 0u);
    ASSERT_EQ(send(event(psn, FourCC("echo"), D::descriptorWithString(NSStr("x")))).status,
              noErr);  // caches a connection
    ASSERT_EQ(::kill(pidOf(psn), SIGKILL), 0);
    ASSERT_TRUE(waitGone(psn));
    const auto t0 = Clock::now();
    auto r = send(event(psn, FourCC("echo")));
    EXPECT_EQ(r.status, procNotFound);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
    // Its registry entry is cleaned away by the next walk.
    ProcessSerialNumber walk{0, kNoProcess};
    while (GetNextProcess(&walk) == noErr) EXPECT_NE(walk.lowLongOfPSN, psn.lowLongOfPSN);
    EXPECT_FALSE(fs::exists(quill::ae::registry::entryPathFor(gRoot + "/run", {pidOf(psn), psn.highLongOfPSN})));
    // A PSN with the right pid but another start time names no process.
    ProcessSerialNumber self;
    GetCurrentProcess(&self);
    ProcessSerialNumber forged{self.highLongOfPSN + 1, self.lowLongOfPSN};
    ProcessInfoRec info{};
    info.processInfoLength = sizeof info;
    EXPECT_EQ(GetProcessInformation(&forged, &info), procNotFound);
    EXPECT_EQ(GetProcessInformation(&self, &info), noErr);
}

TEST_F(Processes, ApplicationKilledDuringAnExchangeFailsTheSendAtOnce) {
    ASSERT_TRUE(launch("com.quillmark.test.victim2"));
    const auto psn = psnOfBundle("com.quillmark.test.victim2");
    // Killed once the application has begun on the event.
    const std::string begun = gRoot + "/victim2-begun";
    std::thread killer([&] {
        waitUntil([&] { return fs::exists(begun); });
        ::kill(pidOf(psn), SIGKILL);
    });
    const auto t0 = Clock::now();
    auto slow = event(psn, FourCC("slow"), D::descriptorWithInt32(10000));
    slow->setParamDescriptor(D::descriptorWithString(NSStr(begun.c_str())), FourCC("flag"));
    auto r = send(slow, 1200);
    killer.join();
    EXPECT_TRUE(fs::exists(begun)) << "the application never began on the event";
    EXPECT_TRUE(r.status == procNotFound || r.status == connectionInvalid) << r.status;
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
}

TEST_F(Processes, PeerOfAnotherUserIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    ASSERT_TRUE(launch("com.quillmark.test.app"));
    const auto psn = psnOfBundle("com.quillmark.test.app");
    const auto entry = quill::ae::registry::entryFor({pidOf(psn), psn.highLongOfPSN});
    ASSERT_TRUE(entry);
    const struct passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const pid_t child = fork();
    if (child == 0) {
        // Act as nobody (the identity the server sees) while keeping the file
        // access of the real user, so the socket itself can be reached.
        if (seteuid(nobody->pw_uid) != 0) _exit(10);
        setfsuid(0);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, entry->socketPath.c_str(), sizeof addr.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(11);
        // A well-formed event: the server must close without answering.
        auto e = event(psn, FourCC("echo"), D::descriptorWithString(NSStr("intruder")));
        std::vector<std::uint8_t> frame;
        const auto bytes = quill::ae::encode(e->aeDesc()->dataHandle->node);
        const std::uint32_t len = htonl(static_cast<std::uint32_t>(bytes.size()));
        frame.insert(frame.end(), reinterpret_cast<const std::uint8_t*>(&len),
                     reinterpret_cast<const std::uint8_t*>(&len) + 4);
        frame.insert(frame.end(), bytes.begin(), bytes.end());
        (void)!send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[16];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        _exit(n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The application still serves its own user.
    EXPECT_EQ(send(event(psn, FourCC("echo"), D::descriptorWithString(NSStr("still")))).errs(), "still");
}

TEST_F(Processes, SimultaneousLaunchesStartOneInstance) {
    const std::string id = "com.quillmark.test.racer";
    ASSERT_EQ(instancesOf(id), 0);
    // Four launcher processes and two threads here, let go at the same moment.
    int go[2];
    int ready[2];
    ASSERT_EQ(::pipe2(go, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    std::vector<pid_t> launchers;
    for (int i = 0; i < 4; ++i) {
        launchers.push_back(startLauncher(id, go[0], ready[1]));
        ASSERT_GT(launchers.back(), 0);
    }
    ::close(go[0]);
    ::close(ready[1]);
    std::atomic<bool> start{false};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&] {
            while (!start) std::this_thread::yield();
            if (!launch(id)) ++refused;
        });
    // Every launcher is waiting on its input once it has said so.
    char byte;
    for (int i = 0; i < 4; ++i) ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "launcher " << i << " never got ready";
    ::close(ready[0]);
    const auto t0 = Clock::now();
    ::close(go[1]);
    start = true;
    for (auto& t : threads) t.join();
    for (pid_t p : launchers) EXPECT_EQ(exitOf(p), 0) << "launcher " << p << " was answered NO";
    const auto took = Clock::now() - t0;
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(instancesOf(id), 1);
    // Every launch waited for the one start, not for a start each.
    EXPECT_LT(took, std::chrono::seconds(5));

    // The lock file is private, and nobody holds it now: not the launchers,
    // and not the application they started, which runs on.
    const std::string lockPath = lockPathOf(id);
    struct stat st {};
    ASSERT_EQ(::lstat(lockPath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(lockIsFree(lockPath));
    const auto psn = psnOfBundle(id);
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pidOf(psn)) + "/fd")) {
        std::error_code ec;
        EXPECT_NE(fs::read_symlink(fd.path(), ec), fs::path(lockPath));
    }
    ::kill(pidOf(psn), SIGKILL);
    ASSERT_TRUE(waitGone(psn));
}

TEST_F(Processes, LaunchAfterTheLauncherWasKilledTakesOverItsStart) {
    const std::string id = "com.quillmark.test.slow";
    ASSERT_EQ(instancesOf(id), 0);
    const std::string lockPath = lockPathOf(id);
    int go[2];
    ASSERT_EQ(::pipe2(go, O_CLOEXEC), 0);
    const pid_t launcher = startLauncher(id, go[0]);
    ASSERT_GT(launcher, 0);
    ::close(go[0]);
    ::close(go[1]);
    // Killed while it holds the lock, once it has started the application
    // (which takes two seconds to register) and noted so in the lock file.
    ASSERT_TRUE(waitUntil([&] {
        struct stat st {};
        return ::stat(lockPath.c_str(), &st) == 0 && st.st_size > 0;
    }));
    EXPECT_FALSE(lockIsFree(lockPath));
    ASSERT_EQ(::kill(launcher, SIGKILL), 0);
    EXPECT_EQ(exitOf(launcher), 128 + SIGKILL);
    ASSERT_EQ(instancesOf(id), 0);  // still starting

    // Nothing stale: the lock went with the launcher (the starting
    // application never had it).
    EXPECT_TRUE(lockIsFree(lockPath));
    // The next launch waits for the instance already starting rather than
    // starting a second one, and no longer than it takes to come up.
    const auto t0 = Clock::now();
    EXPECT_TRUE(launch(id));
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2500));
    EXPECT_EQ(instancesOf(id), 1);
    // No second instance is on its way either: one process of the bundle runs.
    EXPECT_EQ(processesOfBundle("Slow Starter"), 1);
    EXPECT_EQ(instancesOf(id), 1);
    const auto psn = psnOfBundle(id);
    ::kill(pidOf(psn), SIGKILL);
    ASSERT_TRUE(waitGone(psn));
}

TEST_F(Processes, IdentifiersThatAreNoPlainFileNamesStillLaunch) {
    // Its lock and log files stay single names in the runtime folder.
    ASSERT_TRUE(launch(kOddId));
    EXPECT_EQ(instancesOf(kOddId), 1);
    EXPECT_FALSE(fs::exists(gRoot + "/odd"));
    EXPECT_TRUE(fs::is_regular_file(lockPathOf("app.._odd_x_y")));
    EXPECT_TRUE(fs::is_regular_file(gRoot + "/run/app.._odd_x_y.log"));
    // Longer than a file name may be.
    ASSERT_TRUE(launch(kLongId));
    EXPECT_EQ(instancesOf(kLongId), 1);
    for (const auto& f : fs::directory_iterator(gRoot + "/run"))
        EXPECT_LE(f.path().filename().string().size(), 180u) << f.path();
}
