// Processes: the Process Manager over the application registry, and the
// registration of this process as an application.
#include "Processes.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "Files.h"
#include "Registry.h"
#include "RunLoop.h"

namespace reg = quill::ae::registry;

namespace {

ProcessSerialNumber psnOf(const reg::ProcessKey& k) {
    return ProcessSerialNumber{k.start, static_cast<UInt32>(k.pid)};
}

// The process a PSN names, without asking whether it still runs.
std::optional<reg::ProcessKey> keyOfPsn(const ProcessSerialNumber& psn) {
    if (psn.highLongOfPSN == 0 && psn.lowLongOfPSN == kCurrentProcess) return reg::self();
    if (psn.highLongOfPSN == 0 || psn.lowLongOfPSN == 0 || psn.lowLongOfPSN > 0x7FFFFFFFu) return std::nullopt;
    return reg::ProcessKey{static_cast<pid_t>(psn.lowLongOfPSN), psn.highLongOfPSN};
}

// This process's registration, guarded by gRegMutex.
std::mutex gRegMutex;
struct Registration {
    std::string dir;
    reg::ProcessKey key;
    bool active = false;
};
Registration& registration() {
    static auto* r = new Registration;
    return *r;
}

void unregisterAtExit() {
    quill::process::unregisterApplication();
}

}  // namespace

OSErr GetCurrentProcess(ProcessSerialNumber* psn) {
    if (!psn) return paramErr;
    *psn = psnOf(reg::self());
    return noErr;
}

OSStatus GetProcessForPID(pid_t pid, ProcessSerialNumber* psn) {
    if (!psn) return paramErr;
    try {
        const auto key = pid > 0 ? reg::keyOf(pid) : std::nullopt;
        if (!key) return procNotFound;
        *psn = psnOf(*key);
        return noErr;
    } catch (...) {
        return procNotFound;
    }
}

OSErr GetNextProcess(ProcessSerialNumber* psn) {
    if (!psn) return paramErr;
    try {
        // The walk follows start order, so a process that died since the last
        // step does not lose our place: we continue after where it stood.
        const bool fromStart = psn->highLongOfPSN == 0 && psn->lowLongOfPSN == kNoProcess;
        std::optional<reg::ProcessKey> after;
        if (!fromStart) {
            after = keyOfPsn(*psn);
            if (!after) {
                *psn = ProcessSerialNumber{0, 0};
                return procNotFound;
            }
        }
        for (const auto& e : reg::liveEntries()) {
            if (after && !(*after < e.key)) continue;
            *psn = psnOf(e.key);
            return noErr;
        }
    } catch (...) {
    }
    *psn = ProcessSerialNumber{0, 0};
    return procNotFound;
}

OSErr GetProcessInformation(const ProcessSerialNumber* psn, ProcessInfoRec* info) {
    if (!psn || !info || info->processInfoLength < sizeof(ProcessInfoRec)) return paramErr;
    try {
        const auto key = keyOfPsn(*psn);
        if (!key) return procNotFound;
        // One look at /proc: the process must still be the one the PSN names.
        const auto st = reg::statOf(key->pid);
        if (!st || st->state == 'Z' || st->state == 'X' || st->state == 'x' ||
            reg::startKey(st->startTicks) != key->start)
            return procNotFound;
        const auto entry = reg::entryForLive(*key);

        std::string name = entry ? entry->name : st->command;
        info->processNumber = psnOf(*key);
        info->processType = entry ? entry->type : 0;
        info->processSignature = entry ? entry->creator : FourCC("????");
        info->processMode = 0;
        info->processLocation = nullptr;
        info->processSize = 0;
        info->processFreeMem = 0;
        info->processLauncher = ProcessSerialNumber{0, 0};
        const long hz = ::sysconf(_SC_CLK_TCK);
        info->processLaunchDate =
            static_cast<UInt32>(hz > 0 ? st->startTicks * 60 / static_cast<unsigned long>(hz) : 0);
        info->processActiveTime = 0;
        if (info->processName) {
            // A Pascal string of at most 255 bytes, cut on a UTF-8 character boundary.
            std::size_t n = std::min<std::size_t>(name.size(), 255);
            while (n > 0 && n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
            info->processName[0] = static_cast<unsigned char>(n);
            std::memcpy(info->processName + 1, name.data(), n);
        }
        if (info->processAppRef) {
            std::memset(info->processAppRef, 0, sizeof(FSRef));
            if (entry && !entry->bundlePath.empty())
                FSPathMakeRef(reinterpret_cast<const UInt8*>(entry->bundlePath.c_str()), info->processAppRef, nullptr);
        }
        return noErr;
    } catch (...) {
        return procNotFound;
    }
}

OSErr SameProcess(const ProcessSerialNumber* a, const ProcessSerialNumber* b, Boolean* result) {
    if (!a || !b || !result) return paramErr;
    const auto ka = keyOfPsn(*a), kb = keyOfPsn(*b);
    *result = ka && kb && *ka == *kb;
    return noErr;
}

namespace quill::process {

ProcessSerialNumber registerApplication(const ApplicationIdentity& id) {
    std::lock_guard lock(gRegMutex);
    Registration& r = registration();
    const std::string dir = reg::runtimeDir();
    const reg::ProcessKey key = reg::self();

    reg::Entry e;
    e.key = key;
    e.name = id.name;
    e.type = id.type;
    e.creator = id.creator;
    e.bundleIdentifier = id.bundleIdentifier;
    e.bundlePath = id.bundlePath;
    if (e.bundlePath.empty())
        if (const char* p = std::getenv("QUILLMARK_BUNDLE_PATH")) e.bundlePath = p;
    e.socketPath = reg::socketPathFor(dir, key);

    if (!r.active) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (e.socketPath.size() >= sizeof addr.sun_path)
            throw std::runtime_error("the runtime folder's path is too long for an event socket: " + dir);
        std::memcpy(addr.sun_path, e.socketPath.c_str(), e.socketPath.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) throw std::runtime_error(std::string("cannot create the event socket: ") + std::strerror(errno));
        ::unlink(e.socketPath.c_str());  // only a dead process with our pid and start time could have left it
        const mode_t old = ::umask(077);
        const int b = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::umask(old);
        if (b != 0 || ::listen(fd, 128) != 0) {
            const int err = errno;
            ::close(fd);
            throw std::runtime_error("cannot open the event socket " + e.socketPath + ": " + std::strerror(err));
        }
        quill::ae::RunLoop::main().setListeningSocket(fd);
        static bool atExitInstalled = false;
        if (!atExitInstalled) {
            std::atexit(unregisterAtExit);
            atExitInstalled = true;
        }
    }
    // The entry goes last: once it is visible, the socket accepts connections.
    reg::writeEntry(dir, e);
    r.dir = dir;
    r.key = key;
    r.active = true;
    return psnOf(key);
}

void unregisterApplication() {
    std::lock_guard lock(gRegMutex);
    Registration& r = registration();
    if (!r.active) return;
    // A forked child inherits the registration but must not remove its parent's.
    if (!(reg::self() == r.key)) return;
    reg::removeEntry(r.dir, r.key);
    quill::ae::RunLoop::main().setListeningSocket(-1);
    r.active = false;
}

std::optional<ProcessSerialNumber> findApplication(OSType creator, const std::string& name) {
    try {
        for (const auto& e : reg::liveEntries())
            if (e.creator == creator && (name.empty() || e.name == name)) return psnOf(e.key);
    } catch (...) {
    }
    return std::nullopt;
}

std::string runtimeDir() {
    return reg::runtimeDir();
}

}  // namespace quill::process
