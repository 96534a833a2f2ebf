// PluginHost: bundle loading, the call record, and the function registry.
#include "PluginHost.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "InstallFolders.h"

namespace fm_host {

namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The application version handed to Init, as a zero-terminated UTF-16 text.
const char16_t kAppVersion[] = u"Pro 15.0v1";

constexpr unsigned kGetStringUnits = 1024;

}  // namespace

std::string defaultExtensionsFolder() {
    if (std::string found = quill::install::findFolder("Extensions"); !found.empty()) return found;
    // None exists: name the first place looked, so that the error says where.
    const auto places = quill::install::searchFolders("Extensions");
    return places.empty() ? "Extensions" : places.front();
}

PluginHost::PluginHost(fmx::int16 interfaceVersion) : version_(interfaceVersion) {
    previous_ = fmx::host::setRegistrar(this);
}

PluginHost::~PluginHost() {
    shutdown();
    fmx::host::setRegistrar(previous_);
    // The libraries stay mapped: registered function pointers and static
    // objects of a plug-in may still be referred to while the process ends.
    for (auto& p : plugins_) CFRelease(p.bundle);
}

int PluginHost::loadExtensions(const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) {
        std::cerr << "filemaker-host: cannot read the Extensions folder " << folder << "\n";
        return 0;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n.size() > 9 && n.compare(n.size() - 9, 9, ".fmplugin") == 0) names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    int loaded = 0;
    for (const auto& n : names) {
        std::string error;
        if (loadBundle(folder + "/" + n, error))
            ++loaded;
        else
            std::cerr << "filemaker-host: " << error << "\n";
    }
    return loaded;
}

bool PluginHost::loadBundle(const std::string& bundlePath, std::string& error) {
    LoadedPlugin p;
    p.bundlePath = bundlePath;
    p.bundle = CFBundleCreate(bundlePath);
    if (!p.bundle) {
        error = "not a bundle folder: " + bundlePath;
        return false;
    }
    const std::string exe = CFBundleGetExecutablePath(p.bundle);
    p.handle = ::dlopen(exe.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!p.handle) {
        error = "cannot load " + exe + ": " + ::dlerror();
        CFRelease(p.bundle);
        return false;
    }
    p.entry = reinterpret_cast<FMX_ExternCallProc>(::dlsym(p.handle, "FMExternCallProc"));
    if (!p.entry) {
        error = exe + " has no FMExternCallProc entry";
        CFRelease(p.bundle);
        return false;
    }
    p.name = std::filesystem::path(bundlePath).stem().string();  // without ".fmplugin"
    plugins_.push_back(p);
    LoadedPlugin& plugin = plugins_.back();

    plugin.initAnswer =
        static_cast<std::int64_t>(send(plugin, kFMXT_Init, kFMXT_Pro, reinterpret_cast<std::uint64_t>(kAppVersion), 0));
    // The answer is the plug-in's interface version; -1 means "this host is
    // unsupported", -2 "do not enable".
    const auto answer = static_cast<fmx::int16>(plugin.initAnswer);
    plugin.enabled = answer > 0;
    if (plugin.enabled) {
        const std::string name = getString(plugin, kFMXT_NameStr);
        if (!name.empty()) plugin.name = name;
    }
    return true;
}

std::uint64_t PluginHost::send(LoadedPlugin& plugin, unsigned char whichCall, unsigned char parm1, std::uint64_t parm2,
                               std::uint64_t parm3, std::uint64_t result) {
    FMX_ExternCallStruct pb{};
    pb.extnVersion = version_;
    pb.unusedID = -1;
    pb.entryPoint = plugin.entry;
    pb.unusedFlag = 0;
    pb.whichCall = whichCall;
    pb.unsafeCalls = 0;
    pb.parm1 = parm1;
    pb.parm2 = parm2;
    pb.parm3 = parm3;
    pb.instanceID = reinterpret_cast<std::uint64_t>(plugin.bundle);
    pb.result = result;
    pb.unused = 0;
    pb.cStartScript = nullptr;
    pb.cCurrentEnv = nullptr;
    try {
        plugin.entry(&pb);
    } catch (...) {
        // The entry must not throw; a plug-in that does is treated as having answered nothing.
        std::cerr << "filemaker-host: " << plugin.name << " threw out of FMExternCallProc\n";
    }
    return pb.result;
}

std::string PluginHost::getString(LoadedPlugin& plugin, unsigned id) {
    std::vector<char16_t> buf(kGetStringUnits + 1, 0);
    send(plugin, kFMXT_GetString, static_cast<unsigned char>(id), 1033 /* English (US) */, kGetStringUnits,
         reinterpret_cast<std::uint64_t>(buf.data()));
    buf.back() = 0;  // never read past the buffer, whatever the plug-in wrote
    fmx::Text t;
    t.AssignUnicode(buf.data());
    return t.ToUTF8();
}

void PluginHost::shutdown() {
    for (auto& p : plugins_) {
        if (!p.enabled || p.shutDown) continue;
        send(p, kFMXT_Shutdown, 0, 0, 0);
        p.shutDown = true;
    }
}

const RegisteredFunction* PluginHost::find(const std::string& name) const {
    for (const auto& f : functions_)
        if (equalsIgnoringCase(f.name, name)) return &f;
    return nullptr;
}

FunctionLookup PluginHost::lookup() {
    return [this](const std::string& name) -> std::optional<FunctionInfo> {
        const RegisteredFunction* f = find(name);
        if (!f) return std::nullopt;
        FunctionInfo info;
        info.name = f->name;
        info.minArgs = f->minArgs;
        info.maxArgs = f->maxArgs;
        const fmx::ExtPluginType fn = f->function;
        const fmx::int16 id = f->id;
        info.call = [this, fn, id, called = f->name](const fmx::DataVect& parms, fmx::Data& result) -> fmx::errcode {
            fmx::ExprEnv env;
            const fmx::errcode err = fn(id, env, parms, result);
            if (observer_) observer_(called, result);
            return err;
        };
        return info;
    };
}

fmx::errcode PluginHost::registerFunction(const fmx::QuadChar& pluginId, fmx::int16 functionId, const fmx::Text& name,
                                          const fmx::Text& prototype, const fmx::Text&, fmx::int16 minArgs,
                                          fmx::int16 maxArgs, fmx::uint32 flags, fmx::ExtPluginType function) {
    if (!function || minArgs < 0 || (maxArgs >= 0 && maxArgs < minArgs)) return 3;  // refused: bad arguments
    RegisteredFunction f;
    f.pluginId = pluginId;
    f.id = functionId;
    f.name = name.ToUTF8();
    f.prototype = prototype.ToUTF8();
    f.minArgs = minArgs;
    f.maxArgs = maxArgs;
    f.flags = flags;
    f.function = function;
    for (auto& existing : functions_)
        if (existing.pluginId == pluginId && existing.id == functionId) {
            existing = f;  // re-registration replaces, keeping its place
            return 0;
        }
    functions_.push_back(f);
    return 0;
}

fmx::errcode PluginHost::unregisterFunction(const fmx::QuadChar& pluginId, fmx::int16 functionId) {
    auto it = std::find_if(functions_.begin(), functions_.end(),
                           [&](const RegisteredFunction& f) { return f.pluginId == pluginId && f.id == functionId; });
    if (it == functions_.end()) return 3;
    functions_.erase(it);
    return 0;
}

}  // namespace fm_host
