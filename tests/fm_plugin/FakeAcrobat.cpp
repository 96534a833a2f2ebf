// A stand-in Acrobat for the plug-in's link tests: registers as an
// application with creator CARO (bundle identifier $QUILL_FAKE_ACROBAT_ID,
// default com.adobe.Acrobat.Pro; process name $QUILL_FAKE_ACROBAT_NAME,
// default Acrobat), writes its pid to $QUILL_FAKE_ACROBAT_DIR/pid-<identifier>,
// logs every bridge event it receives to $QUILL_FAKE_ACROBAT_DIR/log (or
// log-reader when its name holds "Reader"; one line: event ID, then
// keyword=value for each parameter) and answers with the scripted replies of
// $QUILL_FAKE_ACROBAT_DIR/reply-<event ID>: each event takes the first line
// of that file away (the last line stays for every later event); "<none>"
// sends no errs at all,
// "<empty>" an empty text; "\r" in a line stands for a carriage return;
// "<die>" ends the process at once, as a kill mid-call would; a line that
// begins with "<sleep N>" keeps the handler busy for N seconds, then answers
// with the rest of the line. No reply file: no errs.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "BridgeProtocol.h"
#include "NSAppleEventManager.h"
#include "Processes.h"
#include "RunLoop.h"

namespace {

std::string dir;
std::string logName = "log";

std::string fourcc(OSType t) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((t >> (24 - 8 * i)) & 0xFF);
    return s;
}

std::string describe(const NSAppleEventDescriptorRef& d) {
    if (!d) return "nil";
    switch (d->descriptorType()) {
        case typeAEList: {
            std::string s = "[";
            for (long i = 1; i <= d->numberOfItems(); ++i) {
                if (i > 1) s += ",";
                s += describe(d->descriptorAtIndex(i));
            }
            return s + "]";
        }
        case typeUnicodeText:
            return "\"" + d->stringValue().value_or(NSString()).UTF8String() + "\"";
        case typeSInt32:
            return "long:" + std::to_string(d->int32Value());
        case typeBoolean:
            return d->booleanValue() ? "bool:true" : "bool:false";
        default:
            return fourcc(d->descriptorType()) + "?";
    }
}

// The next scripted reply of an event ID, or nothing when none is scripted.
std::optional<std::string> nextReply(AEEventID id) {
    const std::string file = dir + "/reply-" + fourcc(id);
    std::vector<std::string> lines;
    {
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    if (lines.empty()) return std::nullopt;
    if (lines.size() > 1) {
        std::ofstream out(file + ".tmp");
        for (std::size_t i = 1; i < lines.size(); ++i) out << lines[i] << "\n";
        out.close();
        std::rename((file + ".tmp").c_str(), file.c_str());
    }
    return lines.front();
}

void handle(NSAppleEventDescriptor* event, NSAppleEventDescriptor* reply) {
    const AEEventID id = event->eventID();
    std::string line = fourcc(id);
    for (long i = 1; i <= event->numberOfItems(); ++i)
        line += " " + fourcc(event->keywordForDescriptorAtIndex(i)) + "=" + describe(event->descriptorAtIndex(i));
    line += "\n";
    const int fd = ::open((dir + "/" + logName).c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (fd >= 0) {
        (void)!::write(fd, line.data(), line.size());
        ::close(fd);
    }

    std::optional<std::string> scripted = nextReply(id);
    if (scripted && *scripted == "<die>") ::_exit(9);
    if (scripted && scripted->rfind("<sleep ", 0) == 0) {
        const auto close = scripted->find('>');
        ::sleep(static_cast<unsigned>(std::atoi(scripted->substr(7, close - 7).c_str())));
        scripted = scripted->substr(close + 1);
    }
    if (!scripted || *scripted == "<none>") return;
    std::string text = *scripted;
    if (text == "<empty>") text.clear();
    for (std::size_t p; (p = text.find("\\r")) != std::string::npos;) text.replace(p, 2, "\r");
    reply->setParamDescriptor(NSAppleEventDescriptor::descriptorWithString(NSStr(text)), quill::bridge::keyReplyText);
}

}  // namespace

int main() {
    const char* d = std::getenv("QUILL_FAKE_ACROBAT_DIR");
    if (!d) return 2;
    dir = d;
    for (AEEventID eventID : quill::bridge::kAllEvents)
        NSAppleEventManager::sharedAppleEventManager().setEventHandler(&handle, quill::bridge::kBridgeEventClass,
                                                                       eventID);
    quill::process::ApplicationIdentity identity;
    const char* name = std::getenv("QUILL_FAKE_ACROBAT_NAME");
    identity.name = name ? name : "Acrobat";
    if (identity.name.find("Reader") != std::string::npos) logName = "log-reader";
    identity.type = FourCC("APPL");
    identity.creator = FourCC("CARO");
    const char* id = std::getenv("QUILL_FAKE_ACROBAT_ID");
    identity.bundleIdentifier = id ? id : "com.adobe.Acrobat.Pro";
    // The pid file comes first: a test that finds the fake registered can then always stop it.
    {
        const std::string pidFile = dir + "/pid-" + identity.bundleIdentifier;
        std::ofstream(pidFile + ".tmp") << getpid() << "\n";
        std::rename((pidFile + ".tmp").c_str(), pidFile.c_str());
    }
    quill::process::registerApplication(identity);
    quill::ae::RunLoop::main().run();
    return 0;
}
