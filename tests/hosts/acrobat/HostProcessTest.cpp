// acrobat-host as processes: the client starts the application through the
// launch call and drives its windows, the application registers its
// identity, and quits on the quit event and on SIGTERM.
#include "AppleEvents.h"
#include "BridgeProtocol.h"
#include "NSAppleEventDescriptor.h"
#include "Processes.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace quill::bridge;

namespace {

class HostProcess : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("acrohost-process-" + std::to_string(getpid()));
        fs::create_directories(dir_ / "runtime");
        log_ = dir_ / "acrobat.log";
        setenv("QUILLMARK_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);
        setenv("QUILLMARK_APPLICATIONS", (fs::path(QUILL_BUILD_DIR) / "Applications").c_str(), 1);
        setenv("QUILLMARK_ACROBAT_LOG", log_.c_str(), 1);
    }
    void TearDown() override {
        for (pid_t pid : started_) {
            if (kill(pid, 0) == 0) kill(pid, SIGKILL);
            waitpid(pid, nullptr, WNOHANG);
        }
        if (auto psn = find("Adobe Acrobat Pro")) kill(static_cast<pid_t>(psn->lowLongOfPSN), SIGKILL);
        fs::remove_all(dir_);
    }

    pid_t spawn(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        std::string exe = ACROBAT_HOST_EXE;
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), environ), 0);
        started_.push_back(pid);
        return pid;
    }
    // Runs to the end; the exit status.
    int run(const std::vector<std::string>& args) {
        const pid_t pid = spawn(args);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string logText() const {
        std::ifstream in(log_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool waitForLog(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(15)) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (logText().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    static std::optional<ProcessSerialNumber> find(const std::string& name, OSType* type = nullptr) {
        const auto psn = quill::process::findApplication(FourCC("CARO"), name);
        ProcessInfoRec info{};
        info.processInfoLength = sizeof info;
        if (psn && type && GetProcessInformation(&*psn, &info) == noErr) *type = info.processType;
        return psn;
    }
    static bool gone(const ProcessSerialNumber& psn, std::chrono::seconds limit = std::chrono::seconds(10)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            ProcessInfoRec info{};
            info.processInfoLength = sizeof info;
            if (GetProcessInformation(&psn, &info) != noErr) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    fs::path dir_;
    fs::path log_;
    std::vector<pid_t> started_;
};

TEST_F(HostProcess, TheClientLaunchesTheApplicationAndDrivesItsWindows) {
    const fs::path pdf = dir_ / "two words é.pdf";
    fs::copy_file(fs::path(QUILL_FIXTURES_DIR) / "pdfs" / "test Orient.pdf", pdf);
    ASSERT_FALSE(find("Adobe Acrobat Pro"));

    EXPECT_EQ(run({"--open", pdf.string()}), 0);
    OSType type = 0;
    auto psn = find("Adobe Acrobat Pro", &type);
    ASSERT_TRUE(psn);
    EXPECT_EQ(type, FourCC("APPL"));
    EXPECT_TRUE(waitForLog("window opened: two words é.pdf")) << logText();

    // A second open goes to the same application; a missing file is an error.
    EXPECT_EQ(run({"--open", pdf.string()}), 0);
    EXPECT_EQ(run({"--open", (dir_ / "missing.pdf").string()}), 1);
    EXPECT_TRUE(waitForLog("alert: There was an error opening missing.pdf.")) << logText();

    EXPECT_EQ(run({"--close-windows"}), 0);
    EXPECT_TRUE(waitForLog("window closed: two words é.pdf")) << logText();

    EXPECT_EQ(run({"--quit"}), 0);
    EXPECT_TRUE(gone(*psn));
    EXPECT_TRUE(waitForLog("event: quit\n")) << logText();
    // With nothing running, closing and quitting have nothing to do.
    EXPECT_EQ(run({"--close-windows", "--quit"}), 0);
}

TEST_F(HostProcess, SIGTERMUnloadsAndExitsCleanlyAndReaderIsItsOwnIdentity) {
    const pid_t pid = spawn({"--as-reader", "--plugins", PROBE_PLUGINS_DIR, "--log", log_.string()});
    ASSERT_TRUE(waitForLog("Adobe Reader running")) << logText();
    EXPECT_NE(logText().find("plug-in Probe.acroplugin loaded as TEST:Probe"), std::string::npos) << logText();
    EXPECT_TRUE(find("Adobe Reader"));
    EXPECT_FALSE(find("Adobe Acrobat Pro"));

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(logText().find("event: quit\n"), std::string::npos) << logText();
    EXPECT_FALSE(find("Adobe Reader"));
}

// Sends a bridge event and returns its errs text ("<none>" without one).
std::string bridge(const ProcessSerialNumber& psn, OSType id, const NSAppleEventDescriptorRef& list = nullptr) {
    auto target = NSAppleEventDescriptor::descriptorWithDescriptorType(typeProcessSerialNumber, &psn, sizeof psn);
    auto event = NSAppleEventDescriptor::appleEventWithEventClass(kBridgeEventClass, id, target, -1, 0);
    if (list) event->setParamDescriptor(list, keyList);
    AppleEvent reply;
    AEInitializeDesc(&reply);
    const OSStatus status = AESendMessage(event->aeDesc(), &reply, kAEWaitReply, kReplyTimeoutTicks);
    auto r = NSAppleEventDescriptor::initWithAEDescNoCopy(&reply);
    if (status != noErr) return "<error " + std::to_string(status) + ">";
    auto errs = r->paramDescriptorForKeyword(keyReplyText);
    auto text = errs ? errs->stringValue() : std::nullopt;
    return text ? text->UTF8String() : "<none>";
}

TEST_F(HostProcess, TheLaunchedApplicationAnswersThePluginsBridgeEvents) {
    if (!fs::exists(fs::path(QUILL_BUILD_DIR) / "Plug-ins" / "QuillmarkAcro.acroplugin"))
        GTEST_SKIP() << "QuillmarkAcro is not built in this tree";
    const fs::path pdf = dir_ / "count me.pdf";
    fs::copy_file(fs::path(QUILL_FIXTURES_DIR) / "pdfs" / "test Orient.pdf", pdf);
    const fs::path other = dir_ / "shown.pdf";
    fs::copy_file(fs::path(QUILL_FIXTURES_DIR) / "pdfs" / "test Orient.pdf", other);

    ASSERT_EQ(run({"--open", other.string()}), 0);  // launches it, with a window active
    auto psn = find("Adobe Acrobat Pro");
    ASSERT_TRUE(psn);
    EXPECT_TRUE(waitForLog("loaded as TORV:Quillmark")) << logText();

    auto list = NSAppleEventDescriptor::listDescriptor();
    list->insertDescriptor(NSAppleEventDescriptor::descriptorWithString(NSStr(pdf.string())), 0);
    EXPECT_EQ(bridge(*psn, kOpenDocEvent, list), kReplyOK);
    EXPECT_EQ(bridge(*psn, kGetNumPagesEvent), "1");
    // Close shuts the active window unsaved, then the working document.
    EXPECT_EQ(bridge(*psn, kCloseDocEvent), kReplyOK);
    EXPECT_TRUE(waitForLog("window closed: shown.pdf")) << logText();
    EXPECT_EQ(bridge(*psn, kCloseDocEvent), kReplyOK);

    EXPECT_EQ(run({"--quit"}), 0);
    EXPECT_TRUE(gone(*psn));
}

TEST_F(HostProcess, HelpAndBadArguments) {
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(run({"--hft-version", "PDModel"}), 2);
    EXPECT_EQ(run({"--hft-version", "PDModel=eight"}), 2);
    EXPECT_EQ(run({"--handshake-version", "2"}), 2);
    EXPECT_EQ(run({"--no-such-option"}), 2);
}

}  // namespace
