// Application: table offering, plug-in loading and the standard events.
#include "Application.h"

#include "CFBundle.h"
#include "HostServices.h"
#include "InstallFolders.h"
#include "Log.h"
#include "NSAppleEventDescriptor.h"
#include "NSAppleEventManager.h"
#include "PDDocHandle.h"
#include "Paths.h"
#include "RunLoop.h"
#include "Tables.h"
#include "Windows.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>

struct _t_ASExtension {
    std::string bundlePath;
};

namespace acro_host {

namespace {

constexpr const char* kEntryName = "AcroPluginMain";
constexpr const char* kAppName = "Acrobat";

std::string versionText(ASUns32 v) {
    return std::to_string(ASVersionMajor(v)) + "." + std::to_string(ASVersionMinor(v));
}

template <class Proto>
Proto tableProc(const char* table, Selector sel) {
    auto p = reinterpret_cast<Proto>(registeredProc(table, sel));
    if (!p) throw std::runtime_error(std::string("the ") + table + " table lacks an entry the host needs");
    return p;
}

std::string errorText(ASErrorCode code) {
    char buffer[256];
    tableProc<ASGetErrorStringSELPROTO>(AcroSupportHFTName, ASGetErrorStringSEL)(code, buffer, sizeof buffer);
    return buffer;
}

// Runs one call into a plug-in. False when it answered false or ended by an
// exception (which never goes further than here).
template <class F>
bool callPlugin(const char* what, std::string& detail, F&& call) {
    const std::size_t depth = exceptionFrameDepth();
    try {
        if (call()) return true;
        detail = std::string(what) + " answered false";
    } catch (const RequestAborted& e) {
        detail = std::string(what) + " raised an Acrobat exception: " + errorText(e.code);
    } catch (const std::exception& e) {
        detail = std::string(what) + " threw: " + e.what();
    } catch (...) {
        detail = std::string(what) + " threw an exception";
    }
    resetExceptionFrames(depth);
    return false;
}

// Extensions live as long as the process: plug-ins keep their IDs.
ExtensionID newExtension(const std::string& bundlePath) {
    static auto* all = new std::vector<std::unique_ptr<_t_ASExtension>>;
    all->push_back(std::make_unique<_t_ASExtension>());
    all->back()->bundlePath = bundlePath;
    return all->back().get();
}

// A system folder found beside the program or in the XDG folders; when none
// exists, the first place looked, so that a message names it.
std::string systemFolder(std::string_view name) {
    if (std::string found = quill::install::findFolder(name); !found.empty()) return found;
    const auto places = quill::install::searchFolders(name);
    return places.empty() ? std::string(name) : places.front();
}

std::string defaultPluginsFolder() {
    return systemFolder("Plug-ins");
}

// The launch call names the bundle it started; started by hand, the host is
// the Acrobat.app of its Applications folder.
std::string defaultAppBundle() {
    if (const char* b = std::getenv("QUILLMARK_BUNDLE_PATH"); b && *b) return b;
    return systemFolder("Applications") + "/Acrobat.app";
}

}  // namespace

struct Application::Loaded {
    std::string bundlePath;
    void* library = nullptr;
    CFBundleRef bundle = nullptr;
    PIUnloadProcType unload = nullptr;
    std::size_t report = 0;
};

Application::Application(Options options) : options_(std::move(options)) {
    if (options_.pluginsDir.empty()) options_.pluginsDir = defaultPluginsFolder();
    if (options_.appBundlePath.empty()) options_.appBundlePath = defaultAppBundle();
    offerTables();
    if (options_.installEventHandlers) {
        auto& manager = NSAppleEventManager::sharedAppleEventManager();
        manager.setEventHandler(this, &Application::handleOpenDocuments, FourCC("aevt"), FourCC("odoc"));
        manager.setEventHandler(this, &Application::handleQuit, FourCC("aevt"), FourCC("quit"));
        // Launching sends "open application"; there is nothing to do for it.
        manager.setEventHandler([](NSAppleEventDescriptor*, NSAppleEventDescriptor*) {}, FourCC("aevt"),
                                FourCC("oapp"));
    }
}

Application::~Application() {
    try {
        quit();
    } catch (...) {
    }
    if (options_.installEventHandlers) {
        auto& manager = NSAppleEventManager::sharedAppleEventManager();
        manager.removeEventHandler(FourCC("aevt"), FourCC("odoc"));
        manager.removeEventHandler(FourCC("aevt"), FourCC("quit"));
        manager.removeEventHandler(FourCC("aevt"), FourCC("oapp"));
    }
}

std::string Application::identityName() const {
    return options_.asReader ? "Adobe Reader" : "Adobe Acrobat Pro";
}

std::string Application::bundleIdentifier() const {
    return options_.asReader ? "com.adobe.Reader" : "com.adobe.Acrobat.Pro";
}

void Application::offerTables() {
    TableSet& set = tables();
    for (const TableDefault& t : defaultTables()) {
        const std::string name = t.name;
        if (options_.omitted.count(name) || (options_.noForms && name == FormsHFTName)) {
            set.withdraw(name);
            continue;
        }
        auto lower = options_.lowerVersions.find(name);
        set.offer(name, lower != options_.lowerVersions.end() ? lower->second : t.version);
    }
}

bool Application::loadPlugins() {
    std::vector<std::string> bundles;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(options_.pluginsDir, ec)) {
        if (entry.path().extension() == ".acroplugin" && entry.is_directory(ec))
            bundles.push_back(entry.path().string());
    }
    if (ec) applog::warning("the Plug-ins folder " + options_.pluginsDir + " cannot be read: " + ec.message());
    std::sort(bundles.begin(), bundles.end());
    bool all = true;
    for (const std::string& b : bundles) {
        loadOne(b);
        if (plugins_.back().stage != Stage::Loaded) all = false;
    }
    return all;
}

void Application::loadOne(const std::string& bundlePath) {
    plugins_.push_back({});
    PluginReport& report = plugins_.back();
    report.bundlePath = bundlePath;
    const std::string name = std::filesystem::path(bundlePath).filename().string();
    auto loaded = std::make_unique<Loaded>();
    // The host's reference to the plug-in's bundle goes with a failed load
    // (a plug-in keeps what it retained itself).
    auto fail = [&](Stage stage, const std::string& detail) {
        report.stage = stage;
        report.detail = detail;
        if (loaded->bundle) CFRelease(loaded->bundle);
        loaded->bundle = nullptr;
        applog::warning("plug-in " + name + " not loaded: " + detail);
    };

    loaded->bundlePath = bundlePath;
    loaded->bundle = CFBundleCreate(bundlePath);
    const std::string executable = CFBundleGetExecutablePath(loaded->bundle);
    // Plug-ins are never unloaded from memory: they may have left procedures
    // with the event manager even when they fail to load.
    loaded->library = dlopen(executable.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!loaded->library) {
        const char* why = dlerror();
        return fail(Stage::NotLoadable, std::string("cannot be loaded: ") + (why ? why : "unknown reason"));
    }
    auto entry = reinterpret_cast<PIMainProcType>(dlsym(loaded->library, kEntryName));
    if (!entry) {
        return fail(Stage::NotLoadable, std::string("has no entry ") + kEntryName);
    }

    CFBundleRef appBundle = CFBundleCreate(options_.appBundlePath);
    PIMacPlatformData platform{sizeof(PIMacPlatformData), loaded->bundle, appBundle};
    ASUns32 answered = 0;
    PISetupSDKProcType setup = nullptr;
    std::string detail;
    const bool entered = callPlugin(
        "the entry", detail, [&] { return entry(options_.handshakeVersion, &answered, &setup, &platform) != 0; });
    if (appBundle) CFRelease(appBundle);  // the plug-in retained what it keeps
    report.answeredHandshakeVersion = answered;
    if (!entered) return fail(Stage::Entry, detail);
    if (!setup) return fail(Stage::Entry, "the entry named no set-up procedure");
    if (answered == 0 || answered > options_.handshakeVersion)
        return fail(Stage::Entry, "the entry answered handshake version " + versionText(answered) +
                                      ", which this application cannot use");

    PISDKData_V0200 sdk{};
    sdk.handshakeVersion = answered;
    sdk.extensionID = newExtension(bundlePath);
    sdk.coreHFT = tables().find(CoreHFTName, 0);
    if (!callPlugin("set-up", detail, [&] { return setup(answered, &sdk) != 0; })) return fail(Stage::Setup, detail);
    auto handshake = reinterpret_cast<PIHandshakeProcType>(sdk.handshakeCallback);
    if (!handshake) return fail(Stage::Setup, "set-up named no handshake procedure");

    PIHandshakeData_V0200 hs{};
    hs.handshakeVersion = answered;
    hs.appName = tableProc<ASAtomFromStringSELPROTO>(CoreHFTName, ASAtomFromStringSEL)(kAppName);
    if (!callPlugin("the handshake", detail, [&] { return handshake(answered, &hs) != 0; }))
        return fail(Stage::Handshake, detail);
    if (hs.extensionName != ASAtomNull)
        report.extensionName = tableProc<ASAtomGetStringSELPROTO>(CoreHFTName, ASAtomGetStringSEL)(hs.extensionName);

    auto exportHFTs = reinterpret_cast<PIExportHFTsProcType>(hs.exportHFTsCallback);
    auto importEtc = reinterpret_cast<PIImportReplaceAndRegisterProcType>(hs.importReplaceAndRegisterCallback);
    auto init = reinterpret_cast<PIInitProcType>(hs.initCallback);
    loaded->unload = reinterpret_cast<PIUnloadProcType>(hs.unloadCallback);
    if (exportHFTs && !callPlugin("exporting tables", detail, [&] { return exportHFTs() != 0; }))
        return fail(Stage::Export, detail);
    if (importEtc && !callPlugin("importing tables", detail, [&] { return importEtc() != 0; }))
        return fail(Stage::ImportReplaceAndRegister, detail);
    if (init && !callPlugin("initialisation", detail, [&] { return init() != 0; })) return fail(Stage::Init, detail);

    report.stage = Stage::Loaded;
    loaded->report = plugins_.size() - 1;
    applog::event("plug-in " + name + " loaded" +
                  (report.extensionName.empty() ? std::string() : " as " + report.extensionName) + " (handshake " +
                  versionText(answered) + ")");
    loaded_.push_back(std::move(loaded));
}

void Application::quit() {
    if (unloaded_) return;
    unloaded_ = true;
    for (auto it = loaded_.rbegin(); it != loaded_.rend(); ++it) {
        Loaded& l = **it;
        std::string detail;
        if (l.unload && !callPlugin("unloading", detail, [&] { return l.unload() != 0; })) {
            applog::alert("The plug-in " + std::filesystem::path(l.bundlePath).filename().string() +
                          " could not be unloaded cleanly.");
            applog::warning(detail);
        }
        plugins_[l.report].unloaded = true;
        CFRelease(l.bundle);
        l.bundle = nullptr;
    }
    closeWindows();
    applog::event("quit");
}

void Application::openWindow(const std::string& path) {
    const std::size_t depth = exceptionFrameDepth();
    std::string message;
    try {
        HostExceptionFrame frame;
        std::optional<std::string> posix;
        if (path.rfind("file:", 0) == 0)
            posix = paths::fromURLText(path);
        else if (!path.empty() && path[0] == '/')
            posix = paths::fromPOSIXText(path);
        else if (!path.empty() && path.find('\0') == std::string::npos)
            posix = paths::fromUserPath(path);
        if (!posix) throw std::runtime_error("The path is not a valid file name.");
        ASPathName pathName = newPathName(*posix);
        PDDoc doc = nullptr;
        try {
            doc = tableProc<PDDocOpenExSELPROTO>(PDModelHFTName, PDDocOpenExSEL)(pathName, defaultFileSys(), nullptr,
                                                                                 nullptr, true);
        } catch (...) {
            tableProc<ASFileSysReleasePathSELPROTO>(AcroSupportHFTName, ASFileSysReleasePathSEL)(nullptr, pathName);
            throw;
        }
        tableProc<ASFileSysReleasePathSELPROTO>(AcroSupportHFTName, ASFileSysReleasePathSEL)(nullptr, pathName);
        try {
            windows::open(doc, std::filesystem::path(documentOf(doc).path()).filename().string(), true);
        } catch (...) {
            releasePDDoc(doc);
            throw;
        }
        return;
    } catch (const RequestAborted& e) {
        message = errorText(e.code);
    } catch (const std::exception& e) {
        message = e.what();
    }
    resetExceptionFrames(depth);
    message = "There was an error opening " + std::filesystem::path(path).filename().string() + ". " + message;
    applog::alert(message);
    throw std::runtime_error(message);
}

void Application::closeWindows() {
    for (AVDoc w : windows::all()) {
        const std::size_t depth = exceptionFrameDepth();
        try {
            HostExceptionFrame frame;
            windows::close(w);
        } catch (...) {
            resetExceptionFrames(depth);
        }
    }
}

std::vector<std::string> Application::windowTitles() const {
    std::vector<std::string> out;
    for (AVDoc w : windows::all()) out.push_back(w->title);
    return out;
}

std::vector<std::string> Application::alertLog() const {
    return applog::alerts();
}

// 'aevt'/'odoc': the direct object is a list of paths (texts or file URLs)
// or one of them. Each opens in a window; failures are answered with the
// first failure's number and text.
void Application::handleOpenDocuments(NSAppleEventDescriptor* event, NSAppleEventDescriptor* reply) {
    auto direct = event->paramDescriptorForKeyword(keyDirectObject);
    std::vector<std::string> paths;
    // A path text, or a file URL ('furl': the URL's UTF-8 bytes).
    auto take = [&](const NSAppleEventDescriptorRef& item) {
        if (!item) return;
        if (item->descriptorType() == FourCC("furl")) {
            const auto bytes = item->data();
            paths.emplace_back(bytes.begin(), bytes.end());
        } else if (auto s = item->stringValue()) {
            paths.push_back(s->UTF8String());
        }
    };
    if (direct && direct->descriptorType() == typeAEList) {
        for (long i = 1; i <= direct->numberOfItems(); ++i) take(direct->descriptorAtIndex(i));
    } else {
        take(direct);
    }
    if (paths.empty()) {
        reply->setParamDescriptor(NSAppleEventDescriptor::descriptorWithInt32(errAEDescNotFound), keyErrorNumber);
        reply->setParamDescriptor(NSAppleEventDescriptor::descriptorWithString(NSStr("No document was named to open.")),
                                  keyErrorString);
        return;
    }
    std::string firstError;
    for (const std::string& p : paths) {
        try {
            openWindow(p);
        } catch (const std::exception& e) {
            if (firstError.empty()) firstError = e.what();
        }
    }
    if (!firstError.empty()) {
        reply->setParamDescriptor(NSAppleEventDescriptor::descriptorWithInt32(-1), keyErrorNumber);
        reply->setParamDescriptor(NSAppleEventDescriptor::descriptorWithString(NSStr(firstError)), keyErrorString);
    }
}

void Application::handleQuit(NSAppleEventDescriptor*, NSAppleEventDescriptor*) {
    quitRequested_ = true;
    applog::event("quit requested");
    quill::ae::RunLoop::main().stop();
}

}  // namespace acro_host
