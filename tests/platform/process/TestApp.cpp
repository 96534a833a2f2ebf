// A small application for the process tests: registers itself from its
// bundle's Info file and answers test events until told to quit.
//   class 'QTst': 'echo' replies errs = the direct parameter as text;
//   'slow' sleeps for the direct parameter's milliseconds, then replies
//   "done" (with a 'flag' parameter it first creates the file that names, so
//   a test can tell that the exchange is under way); 'pid ' replies errn = its pid; 'nada' sets nothing; 'big '
//   replies a text of the direct parameter's count of 'x'; 'quit' stops.
// Run as "TestApp --launch <bundle id>" it is a launcher instead: it writes
// one byte to its output once it is ready, waits for end of input, launches
// that application (synchronously) and exits 0 when the launch answered YES,
// 1 when it answered NO.
//
// An Info line "QuillTestStartDelay=<ms>" makes it wait that long before it
// registers (an application slow to start).
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "NSAppleEventManager.h"
#include "NSWorkspace.h"
#include "Processes.h"
#include "RunLoop.h"

namespace {

using D = NSAppleEventDescriptor;

std::map<std::string, std::string> readInfo() {
    std::map<std::string, std::string> keys;
    const char* bundle = std::getenv("QUILLMARK_BUNDLE_PATH");
    if (!bundle) return keys;
    std::ifstream in(std::string(bundle) + "/Contents/Info");
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

OSType code(const std::string& s) {
    if (s.size() != 4) return FourCC("????");
    return (OSType(static_cast<unsigned char>(s[0])) << 24) | (OSType(static_cast<unsigned char>(s[1])) << 16) |
           (OSType(static_cast<unsigned char>(s[2])) << 8) | OSType(static_cast<unsigned char>(s[3]));
}

void onSignal(int) {
    quill::ae::RunLoop::main().stop();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--launch") {
        char c = 'r';
        if (::write(1, &c, 1) != 1) return 3;
        while (::read(0, &c, 1) > 0) {
        }
        return NSWorkspace::sharedWorkspace().launchAppWithBundleIdentifier(
                   NSStr(argv[2]), NSWorkspaceLaunchAllowingClassicStartup, nullptr, nullptr)
                   ? 0
                   : 1;
    }
    auto info = readInfo();
    quill::process::ApplicationIdentity id;
    id.name = info.count("CFBundleName") ? info["CFBundleName"] : "Test App";
    id.bundleIdentifier = info.count("CFBundleIdentifier") ? info["CFBundleIdentifier"] : "com.quillmark.test.app";
    id.creator = code(info.count("CFBundleSignature") ? info["CFBundleSignature"] : "QTST");

    auto& loop = quill::ae::RunLoop::main();
    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);

    auto& m = NSAppleEventManager::sharedAppleEventManager();
    const AEEventClass cls = FourCC("QTst");
    m.setEventHandler(
        [](D* e, D* r) {
            auto p = e->paramDescriptorForKeyword(keyDirectObject);
            auto s = p ? p->stringValue() : std::nullopt;
            r->setParamDescriptor(D::descriptorWithString(s ? *s : NSStr("none")), keyErrorString);
        },
        cls, FourCC("echo"));
    m.setEventHandler(
        [](D* e, D* r) {
            auto p = e->paramDescriptorForKeyword(keyDirectObject);
            auto flag = e->paramDescriptorForKeyword(FourCC("flag"));
            auto flagPath = flag ? flag->stringValue() : std::nullopt;
            if (flagPath) std::ofstream(flagPath->UTF8String()) << getpid();
            std::this_thread::sleep_for(std::chrono::milliseconds(p ? p->int32Value() : 0));
            r->setParamDescriptor(D::descriptorWithString(NSStr("done")), keyErrorString);
        },
        cls, FourCC("slow"));
    m.setEventHandler(
        [](D*, D* r) { r->setParamDescriptor(D::descriptorWithInt32(static_cast<SInt32>(getpid())), keyErrorNumber); },
        cls, FourCC("pid "));
    m.setEventHandler([](D*, D*) {}, cls, FourCC("nada"));
    m.setEventHandler(
        [](D* e, D* r) {
            auto p = e->paramDescriptorForKeyword(keyDirectObject);
            const long n = p ? p->int32Value() : 0;
            r->setParamDescriptor(
                D::descriptorWithString(NSString(std::u16string(static_cast<std::size_t>(n > 0 ? n : 0), u'x'))),
                keyErrorString);
        },
        cls, FourCC("big "));
    m.setEventHandler([&loop](D*, D*) { loop.stop(); }, cls, FourCC("quit"));

    if (info.count("QuillTestStartDelay"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(info["QuillTestStartDelay"].c_str())));
    try {
        quill::process::registerApplication(id);
    } catch (const std::exception& e) {
        return 2;
    }
    loop.run();
    return 0;
}
