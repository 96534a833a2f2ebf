// Fuzz target: two senders' bridge events, interleaved as the input says,
// against the real QuillmarkAcro inside an in-process acrobat-host. Each
// sender opens its own copy of a form and writes values that name it; a
// window of a third copy may be opened as the user would. No reply to one
// sender may carry the other's values, and no file may get the other
// sender's values: anything else aborts.
//
// Input: one byte per call — bit 7 chooses the sender, the rest the call.
#include "Application.h"
#include "BridgeProtocol.h"
#include "NSAppleEventDescriptor.h"
#include "NSAppleEventManager.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace fs = std::filesystem;
using namespace quill::bridge;

namespace {

struct World {
    fs::path dir;
    std::unique_ptr<acro_host::Application> app;
    pid_t senders[2] = {::getpid(), ::getppid()};
    fs::path files[2], copies[2], window;

    World() {
        char tmpl[] = "/tmp/quill-fuzz-sessions-XXXXXX";
        if (!::mkdtemp(tmpl)) std::abort();
        dir = tmpl;
        fs::create_directories(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
        ::setenv("QUILLMARK_RUNTIME_DIR", (dir / "run").c_str(), 1);
        acro_host::Application::Options options;
        options.pluginsDir = std::string(QUILL_BUILD_DIR) + "/Plug-ins";
        app = std::make_unique<acro_host::Application>(options);
        if (!app->loadPlugins()) {
            std::fprintf(stderr, "the plug-ins did not load\n");
            std::abort();
        }
        for (int s = 0; s < 2; ++s) {
            files[s] = dir / ("sender" + std::to_string(s) + ".pdf");
            copies[s] = dir / ("copy" + std::to_string(s) + ".pdf");
        }
        window = dir / "window.pdf";
    }
    ~World() {
        app.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

World& world() {
    static World w;
    return w;
}

std::string send(int sender, AEEventID id, const NSAppleEventDescriptorRef& param = nullptr, AEKeyword key = keyList) {
    auto event = NSAppleEventDescriptor::appleEventWithEventClass(kBridgeEventClass, id, nullptr, kAutoGenerateReturnID,
                                                                  kAnyTransactionID);
    event->setAttributeDescriptor(NSAppleEventDescriptor::descriptorWithInt32(world().senders[sender]),
                                  keySenderPIDAttr);
    if (param) event->setParamDescriptor(param, key);
    auto reply = NSAppleEventDescriptor::appleEventWithEventClass(kCoreEventClass, kAEAnswer, nullptr,
                                                                  kAutoGenerateReturnID, kAnyTransactionID);
    NSAppleEventManager::sharedAppleEventManager().dispatchRawAppleEvent(event.get(), reply.get());
    auto text = reply->paramDescriptorForKeyword(keyReplyText);
    auto s = text ? text->stringValue() : std::nullopt;
    return s ? s->UTF8String() : std::string();
}

NSAppleEventDescriptorRef text(const std::string& s) {
    return NSAppleEventDescriptor::descriptorWithString(NSStr(s));
}
NSAppleEventDescriptorRef list(std::initializer_list<std::string> items) {
    auto l = NSAppleEventDescriptor::listDescriptor();
    for (const auto& i : items) l->insertDescriptor(text(i), 0);
    return l;
}

std::string mark(int sender) {
    return sender == 0 ? "first-sender" : "second-sender";
}

[[noreturn]] void fault(const std::string& what) {
    std::fprintf(stderr, "sessions: %s\n", what.c_str());
    std::abort();
}

// The other sender's values in a reply or in a sender's file.
void checkReply(int sender, const std::string& call, const std::string& reply) {
    if (reply.find(mark(1 - sender)) != std::string::npos)
        fault(call + " of sender " + std::to_string(sender) + " answered the other's value: " + reply);
}
void checkFile(int sender, const fs::path& file) {
    if (!fs::exists(file)) return;
    QPDF q;
    q.processFile(file.c_str());
    std::string seen;
    QPDFObjectHandle info = q.getTrailer().getKey("/Info");
    if (info.isDictionary() && info.getKey("/Title").isString()) seen = info.getKey("/Title").getUTF8Value();
    for (auto& field : QPDFAcroFormDocumentHelper(q).getFormFields()) seen += "|" + field.getValueAsString();
    if (seen.find(mark(1 - sender)) != std::string::npos)
        fault(file.filename().string() + " of sender " + std::to_string(sender) + " holds the other's value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World& w = world();
    const fs::path form = fs::path(QUILL_SOURCE_DIR) / "examples" / "form.pdf";
    for (int s = 0; s < 2; ++s) {
        send(s, kCloseDocEvent);
        fs::copy_file(form, w.files[s], fs::copy_options::overwrite_existing);
        fs::remove(w.copies[s]);
    }
    w.app->closeWindows();
    fs::copy_file(form, w.window, fs::copy_options::overwrite_existing);
    int counter = 0;
    for (std::size_t i = 0; i < size && i < 64; ++i) {
        const int s = data[i] >> 7;
        const std::string value = mark(s) + std::to_string(++counter);
        std::string call, reply;
        switch ((data[i] & 0x7F) % 11) {
            case 0:
                call = "open", reply = send(s, kOpenDocEvent, list({w.files[s].string()}));
                break;
            case 1:
                call = "set field", reply = send(s, kSetFieldEvent, list({"email", value}), keyDirectObject);
                break;
            case 2:
                call = "get field", reply = send(s, kGetFieldEvent, text("email"), keyCString);
                break;
            case 3:
                call = "set info", reply = send(s, kSetDocInfoEvent, list({"Title", value}));
                break;
            case 4:
                call = "get info", reply = send(s, kGetDocInfoEvent, text("Title"), keyCString);
                break;
            case 5:
                call = "save", reply = send(s, kSaveDocEvent);
                break;
            case 6:
                call = "save as", reply = send(s, kSaveAsDocEvent, text(w.copies[s].string()), keyCString);
                break;
            case 7:
                call = "close", reply = send(s, kCloseDocEvent);
                break;
            case 8:
                call = "field names", reply = send(s, kGetFieldNamesEvent, text(kWithValues), keyCString);
                break;
            case 9:
                call = "page count", reply = send(s, kGetNumPagesEvent);
                break;
            case 10:
                // The user opens a window (at most one at a time): a field call adopts it.
                if (w.app->windowTitles().empty()) {
                    try {
                        w.app->openWindow(w.window.string());
                    } catch (const std::exception&) {
                    }
                }
                continue;
        }
        checkReply(s, call, reply);
        for (int f = 0; f < 2; ++f) {
            checkFile(f, w.files[f]);
            checkFile(f, w.copies[f]);
        }
    }
    return 0;
}
