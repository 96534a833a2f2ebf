// Round-trip timing of Apple events through AESendMessage against a raw
// Unix-domain socket ping-pong between the same kind of processes, in one
// run: a small event, and a small event answered with a 64 KiB reply.
//   bench_bridge [iterations]
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "NSAppleEventManager.h"
#include "Processes.h"
#include "RunLoop.h"
#include "TempDir.h"

using D = NSAppleEventDescriptor;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kSmall = 64;
constexpr std::size_t kBig = 64 * 1024;
const AEEventClass kBench = FourCC("QBnc");

struct Stats {
    double median, p99;
};

Stats stats(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

bool readExact(int fd, char* p, std::size_t n) {
    while (n) {
        const ssize_t r = ::read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}
bool writeExact(int fd, const char* p, std::size_t n) {
    while (n) {
        const ssize_t r = ::write(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// Raw ping-pong: the child answers each kSmall-byte request with `answer` bytes.
std::vector<double> rawRoundTrips(int iterations, std::size_t answer) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(sv[0]);
        std::vector<char> in(kSmall), out(answer, 'x');
        while (readExact(sv[1], in.data(), kSmall) && writeExact(sv[1], out.data(), out.size())) {
        }
        _exit(0);
    }
    ::close(sv[1]);
    std::vector<char> req(kSmall, 'p'), resp(answer);
    std::vector<double> us;
    for (int i = 0; i < iterations + iterations / 10; ++i) {
        const auto t0 = Clock::now();
        writeExact(sv[0], req.data(), req.size());
        readExact(sv[0], resp.data(), resp.size());
        const auto t1 = Clock::now();
        if (i >= iterations / 10) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    ::close(sv[0]);
    ::waitpid(child, nullptr, 0);
    return us;
}

std::vector<double> eventRoundTrips(const ProcessSerialNumber& psn, AEEventID id, int iterations, std::size_t expect) {
    auto target = D::descriptorWithDescriptorType(typeProcessSerialNumber, &psn, sizeof psn);
    auto e = D::appleEventWithEventClass(kBench, id, target, kAutoGenerateReturnID, 0);
    e->setParamDescriptor(D::descriptorWithString(NSString(std::u16string(kSmall / 2 - 8, u'p'))), keyDirectObject);
    std::vector<double> us;
    for (int i = 0; i < iterations + iterations / 10; ++i) {
        AEDesc reply;
        const auto t0 = Clock::now();
        const OSStatus st = AESendMessage(e->aeDesc(), &reply, kAEWaitReply, 600);
        const auto t1 = Clock::now();
        // Checked outside the timed part; wrapping also releases the reply.
        auto r = D::initWithAEDescNoCopy(&reply);
        auto s = r->descriptorForKeyword(keyErrorString);
        if (st != noErr || !s || s->data().size() != expect) {
            std::fprintf(stderr, "bad reply (status %d)\n", static_cast<int>(st));
            std::exit(1);
        }
        if (i >= iterations / 10) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    return us;
}

void report(const char* what, const Stats& raw, const Stats& ae) {
    std::printf("%-28s raw median %8.1f us  p99 %8.1f us | AESendMessage median %8.1f us  p99 %8.1f us | ratio %.2f\n",
                what, raw.median, raw.p99, ae.median, ae.p99, ae.median / raw.median);
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(10, std::atoi(argv[1])) : 5000;
    const quill::testsupport::TempDir scratch("quill-bench");
    const std::string root = scratch.path.string();
    ::setenv("QUILLMARK_RUNTIME_DIR", (root + "/run").c_str(), 1);

    const pid_t server = ::fork();
    if (server == 0) {
        auto& m = NSAppleEventManager::sharedAppleEventManager();
        auto small = D::descriptorWithString(NSString(std::u16string(kSmall / 2 - 8, u'x')));
        auto big = D::descriptorWithString(NSString(std::u16string(kBig / 2, u'x')));
        m.setEventHandler([small](D*, D* r) { r->setParamDescriptor(small, keyErrorString); }, kBench, FourCC("ping"));
        m.setEventHandler([big](D*, D* r) { r->setParamDescriptor(big, keyErrorString); }, kBench, FourCC("big "));
        quill::process::registerApplication(
            {"Bench Server", FourCC("APPL"), FourCC("QBnc"), "com.quillmark.bench", ""});
        quill::ae::RunLoop::main().run();
        _exit(0);
    }
    // Wait for the server to register.
    ProcessSerialNumber psn{0, 0};
    for (int i = 0; i < 500 && psn.lowLongOfPSN == 0; ++i) {
        psn = quill::process::findApplication(FourCC("QBnc")).value_or(ProcessSerialNumber{0, 0});
        if (psn.lowLongOfPSN == 0) ::usleep(10000);
    }
    if (psn.lowLongOfPSN == 0) {
        std::fprintf(stderr, "bench server did not come up\n");
        ::kill(server, SIGKILL);
        return 1;
    }

    std::printf("%d round trips each (after %d warm-up)\n", iterations, iterations / 10);
    const auto rawSmall = stats(rawRoundTrips(iterations, kSmall));
    const auto aeSmall = stats(eventRoundTrips(psn, FourCC("ping"), iterations, kSmall - 16));
    report("small event, small reply", rawSmall, aeSmall);
    const int bigIterations = std::max(10, iterations / 5);
    const auto rawBig = stats(rawRoundTrips(bigIterations, kBig));
    const auto aeBig = stats(eventRoundTrips(psn, FourCC("big "), bigIterations, kBig));
    report("small event, 64 KiB reply", rawBig, aeBig);

    ::kill(server, SIGTERM);
    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    return 0;
}
