// PluginHost: loads FileMaker plug-in bundles, talks to them through their
// call record, and keeps the functions they register.
//
// One PluginHost per process (it installs itself as the fmx registrar); all
// calls on one thread, as FileMaker delivers its messages one at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "CFBundle.h"
#include "Evaluator.h"
#include "FMWrapper.h"

namespace fm_host {

struct RegisteredFunction {
    fmx::QuadChar pluginId;
    fmx::int16 id = 0;
    std::string name;       // UTF-8
    std::string prototype;  // UTF-8
    fmx::int16 minArgs = 0, maxArgs = 0;
    fmx::uint32 flags = 0;
    fmx::ExtPluginType function = nullptr;
};

struct LoadedPlugin {
    std::string bundlePath;
    std::string name;  // GetString 128, else the bundle's name
    CFBundleRef bundle = nullptr;
    void* handle = nullptr;  // dlopen handle
    FMX_ExternCallProc entry = nullptr;
    std::int64_t initAnswer = 0;
    bool enabled = false;  // Init answered a version (not -1/-2)
    bool shutDown = false;
};

class PluginHost : public fmx::host::Registrar {
public:
    explicit PluginHost(fmx::int16 interfaceVersion = 56);
    ~PluginHost() override;  // shuts down what is still up
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Loads and initialises every "*.fmplugin" bundle of `folder`, in name
    // order. Problems (no executable, no entry) are reported on stderr and the
    // bundle is skipped. Returns the number of bundles loaded.
    int loadExtensions(const std::string& folder);
    // Loads and initialises one bundle; false (and a message in `error`) when it cannot be loaded.
    bool loadBundle(const std::string& bundlePath, std::string& error);
    // Sends the shut-down message to every enabled plug-in (once).
    void shutdown();

    const std::vector<LoadedPlugin>& plugins() const { return plugins_; }
    const std::vector<RegisteredFunction>& functions() const { return functions_; }
    // By name, ignoring ASCII case; null when absent.
    const RegisteredFunction* find(const std::string& name) const;
    // Each answer is a copy the caller owns: it stays valid whatever is
    // looked up, registered or unregistered after it.
    FunctionLookup lookup();
    // Told of every plug-in function call with its name and result, after
    // it returned (the prompt follows whether a document was changed).
    using CallObserver = std::function<void(const std::string& name, const fmx::Data& result)>;
    void setCallObserver(CallObserver observer) { observer_ = std::move(observer); }

    // Sends one message with the given parameters; returns the result field.
    std::uint64_t send(LoadedPlugin& plugin, unsigned char whichCall, unsigned char parm1, std::uint64_t parm2,
                       std::uint64_t parm3, std::uint64_t result = 0);
    // GetString: the plug-in's text for `id` (empty when none).
    std::string getString(LoadedPlugin& plugin, unsigned id);

    // fmx::host::Registrar
    fmx::errcode registerFunction(const fmx::QuadChar& pluginId, fmx::int16 functionId, const fmx::Text& name,
                                  const fmx::Text& prototype, const fmx::Text& description, fmx::int16 minArgs,
                                  fmx::int16 maxArgs, fmx::uint32 flags, fmx::ExtPluginType function) override;
    fmx::errcode unregisterFunction(const fmx::QuadChar& pluginId, fmx::int16 functionId) override;

private:
    fmx::int16 version_;
    fmx::host::Registrar* previous_ = nullptr;
    std::vector<LoadedPlugin> plugins_;
    std::vector<RegisteredFunction> functions_;
    CallObserver observer_;
};

// The default Extensions folder: <folder of this executable>/../Extensions.
std::string defaultExtensionsFolder();

}  // namespace fm_host
