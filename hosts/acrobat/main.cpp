// acrobat-host: the headless Acrobat application, and its client commands.
#include "Application.h"
#include "Log.h"
#include "RequestDeadline.h"
#include "quill/pdf/Forms.h"

#include "AppleEvents.h"
#include "NSAppleEventDescriptor.h"
#include "NSAppleEventManager.h"
#include "NSWorkspace.h"
#include "Processes.h"
#include "RunLoop.h"

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kDescription =
    R"(acrobat-host - a headless stand-in for Adobe Acrobat that loads Acrobat plug-ins.

Started without client options it is the application: it registers as the
application process "Adobe Acrobat Pro" (type APPL, creator CARO, bundle
identifier com.adobe.Acrobat.Pro; with --as-reader "Adobe Reader",
com.adobe.Reader), loads every *.acroplugin bundle of its Plug-ins folder
(entry, set-up, handshake, export, import/replace/register, init), offers
them the API tables, and serves Apple events on its main thread until it
gets the quit event ('aevt'/'quit'), SIGTERM or SIGINT; then the plug-ins
are unloaded and it exits. The launch call finds it as Acrobat.app in the
Applications folder (build/Applications in the build tree,
lib/quillmark/Applications of an installed tree).

Tables offered (all at version 9.0 unless changed): Core, AcroSupport, Cos,
PDModel, PDFEditWrite, PDFEditRead, PDSysFont, PagePDEContent, AcroView,
PDSWrite, PDSRead, Macintosh, ASExtra, PDMetadata, AcroColorHFT, Forms.

With --open, --close-windows or --quit it is a client instead: it sends the
standard event to the running application (with the same --as-reader
choice), starting it through the launch call first when --open needs it.
--open shows each FILE in a document window, which becomes the active window.

Headless alerts (AVAlertNote) and notable events go to syslog and to the log
file given by --log or $QUILLMARK_ACROBAT_LOG. Processes find each other in
$QUILLMARK_RUNTIME_DIR (default $XDG_RUNTIME_DIR/quillmark).

One application of each identity runs per user: an application started
while another runs (the lock file instance.<bundle identifier>.lock in the
runtime folder is held) exits at once with status 3 and a message naming the
running one and its pid.

Exit status: 0 on success; 1 when a client request failed; 2 for bad
arguments; 3 when the application could not start (also when one is
already running).)";

// Reads "NAME=MAJOR.MINOR" or "MAJOR.MINOR".
std::optional<ASVersion> parseVersion(const std::string& text) {
    const auto dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size()) return std::nullopt;
    try {
        std::size_t used = 0;
        const unsigned long major = std::stoul(text.substr(0, dot), &used);
        if (used != dot) return std::nullopt;
        const unsigned long minor = std::stoul(text.substr(dot + 1), &used);
        if (used != text.size() - dot - 1) return std::nullopt;
        if (major > 0x7FFF || minor > 0xFFFF) return std::nullopt;
        return ASVersionMake(major, minor);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void onSignal(int) {
    quill::ae::RunLoop::main().stop();
}

// The identity of a bundle this process was launched from, when it says Reader.
bool launchedAsReader() {
    const char* bundle = std::getenv("QUILLMARK_BUNDLE_PATH");
    if (!bundle || !*bundle) return false;
    std::ifstream info(std::filesystem::path(bundle) / "Contents" / "Info");
    std::string line;
    while (std::getline(info, line)) {
        if (line.find("CFBundleIdentifier") != std::string::npos && line.find("com.adobe.Reader") != std::string::npos)
            return true;
    }
    return false;
}

// Sends one event and waits for its reply; returns the error text (empty on success).
std::string sendEvent(const ProcessSerialNumber& psn, AEEventClass cls, AEEventID id,
                      const NSAppleEventDescriptorRef& direct) {
    auto target = NSAppleEventDescriptor::descriptorWithDescriptorType(typeProcessSerialNumber, &psn, sizeof psn);
    auto event =
        NSAppleEventDescriptor::appleEventWithEventClass(cls, id, target, kAutoGenerateReturnID, kAnyTransactionID);
    if (direct) event->setParamDescriptor(direct, keyDirectObject);
    AppleEvent reply;
    AEInitializeDesc(&reply);
    const OSStatus status = AESendMessage(event->aeDesc(), &reply, kAEWaitReply, 60 * 60);
    auto r = NSAppleEventDescriptor::initWithAEDescNoCopy(&reply);
    if (status != noErr) return "the application did not answer (error " + std::to_string(status) + ")";
    if (auto errs = r->paramDescriptorForKeyword(keyErrorString)) {
        if (auto s = errs->stringValue()) return s->UTF8String();
    }
    if (auto errn = r->paramDescriptorForKeyword(keyErrorNumber); errn && errn->int32Value() != 0)
        return "the application answered error " + std::to_string(errn->int32Value());
    return {};
}

int runClient(const acro_host::Application::Options& options, const std::vector<std::string>& open, bool closeWindows,
              bool quit) {
    const std::string name = options.asReader ? "Adobe Reader" : "Adobe Acrobat Pro";
    const std::string bundleId = options.asReader ? "com.adobe.Reader" : "com.adobe.Acrobat.Pro";
    auto psn = quill::process::findApplication(FourCC("CARO"), name);
    if (!psn && !open.empty()) {
        if (!NSWorkspace::sharedWorkspace().launchAppWithBundleIdentifier(NSStr(bundleId), 0, nullptr, nullptr)) {
            std::cerr << "acrobat-host: " << name << " (" << bundleId << ") could not be started\n";
            return 1;
        }
        psn = quill::process::findApplication(FourCC("CARO"), name);
    }
    if (!psn) {
        if (!open.empty()) {
            std::cerr << "acrobat-host: " << name << " is not running\n";
            return 1;
        }
        return 0;  // nothing to close or quit
    }
    int status = 0;
    if (closeWindows) {
        const std::string err = sendEvent(*psn, FourCC("core"), FourCC("clos"), nullptr);
        if (!err.empty()) {
            std::cerr << "acrobat-host: closing the windows failed: " << err << "\n";
            status = 1;
        }
    }
    if (!open.empty()) {
        auto list = NSAppleEventDescriptor::listDescriptor();
        for (const std::string& f : open) {
            std::error_code ec;
            const std::string full = std::filesystem::absolute(f, ec).string();
            list->insertDescriptor(NSAppleEventDescriptor::descriptorWithString(NSStr(ec ? f : full)), 0);
        }
        const std::string err = sendEvent(*psn, FourCC("aevt"), FourCC("odoc"), list);
        if (!err.empty()) {
            std::cerr << "acrobat-host: " << err << "\n";
            status = 1;
        }
    }
    if (quit) {
        const std::string err = sendEvent(*psn, FourCC("aevt"), FourCC("quit"), nullptr);
        if (!err.empty()) {
            std::cerr << "acrobat-host: quitting failed: " << err << "\n";
            status = 1;
        }
    }
    return status;
}

// One application of each identity per user: the first to take the lock on
// "instance.<bundle id>.lock" in the runtime folder runs; it holds the lock
// until it exits (the system releases it however the process ends). Returns
// the locked descriptor, kept open for the process's life, or -1 with
// `message` saying why this one may not run: the running instance and its
// pid, as the lock's holder, when there is one.
int takeInstanceLock(const std::string& name, const std::string& bundleId, std::string& message) {
    std::string dir;
    try {
        dir = quill::process::runtimeDir();
    } catch (const std::exception& e) {
        message = e.what();
        return -1;
    }
    const std::string path = dir + "/instance." + bundleId + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        message = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return -1;
    }
    // A record lock, not flock: a refused request can ask the system who holds it.
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    for (;;) {
        if (::fcntl(fd, F_SETLK, &whole) == 0) return fd;
        if (errno == EINTR) continue;
        if (errno != EACCES && errno != EAGAIN) {
            message = "cannot lock " + path + ": " + std::strerror(errno);
            ::close(fd);
            return -1;
        }
        struct flock holder = whole;
        if (::fcntl(fd, F_GETLK, &holder) != 0) {
            message = "cannot lock " + path + ": " + std::strerror(errno);
            ::close(fd);
            return -1;
        }
        if (holder.l_type == F_UNLCK) continue;  // released meanwhile: try again
        message = name + " is already running (pid " + std::to_string(holder.l_pid) + ")";
        ::close(fd);
        return -1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{kDescription, "acrobat-host"};
    cli.set_version_flag("--version", std::string("acrobat-host (Quillmark) ") + QUILL_VERSION);
    acro_host::Application::Options options;
    std::vector<std::string> hftVersions, noHft, open;
    std::string handshake, logFile;
    bool closeWindows = false, quit = false;
    cli.add_option("--plugins", options.pluginsDir,
                   "Folder of *.acroplugin bundles to load (default: ../lib/quillmark/Plug-ins or "
                   "../Plug-ins beside this program's folder, else ~/.local/share/quillmark/Plug-ins)");
    cli.add_flag("--as-reader", options.asReader,
                 "Be (or, as a client, talk to) \"Adobe Reader\", bundle identifier com.adobe.Reader");
    cli.add_option("--hft-version", hftVersions,
                   "NAME=MAJOR.MINOR: offer the named table at that version instead of 9.0 (repeatable)");
    cli.add_option("--no-hft", noHft, "NAME: do not offer the named table at all (repeatable), e.g. Forms");
    cli.add_option("--handshake-version", handshake,
                   "MAJOR.MINOR: the handshake version offered to each plug-in's entry (default 2.0)");
    cli.add_option("--log", logFile, "Append alerts and notable events to FILE (default: $QUILLMARK_ACROBAT_LOG)");
    cli.add_option("--open", open, "Client: open FILE(s) in document windows of the running application");
    cli.add_flag("--close-windows", closeWindows, "Client: close every document window without saving");
    cli.add_flag("--quit", quit, "Client: send the quit event to the running application");
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = cli.exit(e);
        return e.get_exit_code() == 0 ? rc : 2;
    }

    for (const std::string& hv : hftVersions) {
        const auto eq = hv.find('=');
        auto v = eq == std::string::npos ? std::nullopt : parseVersion(hv.substr(eq + 1));
        if (!v || eq == 0) {
            std::cerr << "acrobat-host: --hft-version wants NAME=MAJOR.MINOR, not \"" << hv << "\"\n";
            return 2;
        }
        options.lowerVersions[hv.substr(0, eq)] = *v;
    }
    for (const std::string& n : noHft) options.omitted.insert(n);
    if (!handshake.empty()) {
        auto v = parseVersion(handshake);
        if (!v) {
            std::cerr << "acrobat-host: --handshake-version wants MAJOR.MINOR, not \"" << handshake << "\"\n";
            return 2;
        }
        options.handshakeVersion = *v;
    }
    if (!options.asReader && launchedAsReader()) options.asReader = true;

    if (!open.empty() || closeWindows || quit) return runClient(options, open, closeWindows, quit);

    if (logFile.empty()) {
        if (const char* env = std::getenv("QUILLMARK_ACROBAT_LOG")) logFile = env;
    }
    // An application started by the system runs in "/": a relative path in a
    // request then names the same file the FileMaker side checked, never one
    // in whatever folder the first session happened to start us from. The
    // folders given on the command line are fixed first.
    std::error_code ec;
    if (!options.pluginsDir.empty()) options.pluginsDir = std::filesystem::absolute(options.pluginsDir, ec).string();
    if (!logFile.empty()) logFile = std::filesystem::absolute(logFile, ec).string();
    if (::chdir("/") != 0) std::cerr << "acrobat-host: cannot change to the folder /\n";
    acro_host::applog::setFile(logFile);
    acro_host::installRequestDeadline();
    std::signal(SIGPIPE, SIG_IGN);
    // Under a file size limit (ulimit -f) a write past it would kill the whole application, and
    // every open document with it; ignored, the write fails with EFBIG and only that save fails.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    std::string refused;
    const int instanceLock = takeInstanceLock(options.asReader ? "Adobe Reader" : "Adobe Acrobat Pro",
                                              options.asReader ? "com.adobe.Reader" : "com.adobe.Acrobat.Pro", refused);
    if (instanceLock < 0) {
        acro_host::applog::warning("not started: " + refused);
        std::cerr << "acrobat-host: " << refused << "\n";
        return 3;
    }

    try {
        acro_host::Application app(options);
        NSAppleEventManager::sharedAppleEventManager().setEventHandler(
            [&app](NSAppleEventDescriptor*, NSAppleEventDescriptor*) { app.closeWindows(); }, FourCC("core"),
            FourCC("clos"));
        app.loadPlugins();
        quill::process::ApplicationIdentity id;
        id.name = app.identityName();
        id.type = FourCC("APPL");
        id.creator = FourCC("CARO");
        id.bundleIdentifier = app.bundleIdentifier();
        quill::process::registerApplication(id);
        acro_host::applog::event(id.name + " running (pid " + std::to_string(getpid()) + ")");
        quill::ae::RunLoop::main().setAfterEachEvent(acro_host::applog::engineWarnings);
        // The fonts' lists are read as soon as the loop runs, rather than by the first field set.
        quill::ae::RunLoop::main().performOnMainThread([] { quill::pdf::prepareFieldFonts(); });
        quill::ae::RunLoop::main().run();
        acro_host::applog::engineWarnings();
        NSAppleEventManager::sharedAppleEventManager().removeEventHandler(FourCC("core"), FourCC("clos"));
        app.quit();
        quill::process::unregisterApplication();
    } catch (const std::exception& e) {
        acro_host::applog::warning(std::string("cannot run: ") + e.what());
        std::cerr << "acrobat-host: " << e.what() << "\n";
        return 3;
    }
    return 0;
}
