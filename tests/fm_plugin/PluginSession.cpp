// Test support: a recording host for QuillmarkFM.
#include "PluginSession.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace fmtest {

fmx::errcode RecordingRegistrar::registerFunction(const fmx::QuadChar& pluginId, fmx::int16 functionId,
                                                  const fmx::Text& name, const fmx::Text& prototype, const fmx::Text&,
                                                  fmx::int16 minArgs, fmx::int16 maxArgs, fmx::uint32 flags,
                                                  fmx::ExtPluginType function) {
    if (pluginId.ToString() != "TORV") return 3;
    functions.push_back({functionId, name.ToUTF8(), prototype.ToUTF8(), minArgs, maxArgs, flags, function});
    return 0;
}

fmx::errcode RecordingRegistrar::unregisterFunction(const fmx::QuadChar& pluginId, fmx::int16 functionId) {
    if (pluginId.ToString() != "TORV") return 3;
    for (auto it = functions.begin(); it != functions.end(); ++it)
        if (it->id == functionId) {
            functions.erase(it);
            return 0;
        }
    return 3;
}

const Registration* RecordingRegistrar::find(fmx::int16 id) const {
    for (const auto& f : functions)
        if (f.id == id) return &f;
    return nullptr;
}

PluginSession::PluginSession(const std::string& bundlePath) {
    bundle_ = CFBundleCreate(bundlePath);
    if (!bundle_) throw std::runtime_error("no bundle at " + bundlePath);
    previous_ = fmx::host::setRegistrar(&registrar);
}

PluginSession::~PluginSession() {
    if (!registrar.functions.empty()) shutdown();
    fmx::host::setRegistrar(previous_);
    CFRelease(bundle_);
}

std::string PluginSession::builtBundle() {
    return std::string(QUILL_BUILD_DIR) + "/Extensions/QuillmarkFM.fmplugin";
}

fmx::uint64 PluginSession::send(unsigned char message, short version, unsigned char parm1, fmx::uint64 parm2,
                                fmx::uint64 parm3, fmx::uint64 result) {
    record_ = FMX_ExternCallStruct{};
    record_.extnVersion = version;
    record_.unusedID = -1;
    record_.entryPoint = &FMExternCallProc;
    record_.whichCall = message;
    record_.parm1 = parm1;
    record_.parm2 = parm2;
    record_.parm3 = parm3;
    record_.instanceID = reinterpret_cast<fmx::uint64>(bundle_);
    record_.result = result;
    FMExternCallProc(&record_);
    return record_.result;
}

fmx::Data PluginSession::call(fmx::int16 id, const std::vector<Param>& params) {
    const Registration* f = registrar.find(id);
    if (!f) throw std::runtime_error("function not registered: " + std::to_string(id));
    fmx::DataVect parms;
    for (const auto& p : params) {
        fmx::Data d;
        d.SetAsText(fmx::Text::FromUTF8(p.text), fmx::Locale(), p.number ? fmx::Data::kDTNumber : fmx::Data::kDTText);
        parms.PushBack(d);
    }
    fmx::Data result;
    fmx::ExprEnv env;
    const fmx::errcode err = f->function(id, env, parms, result);
    if (err != 0) throw std::runtime_error("handler returned " + std::to_string(err));
    return result;
}

std::string PluginSession::callText(fmx::int16 id, const std::vector<Param>& params) {
    return call(id, params).GetAsText().ToUTF8();
}

std::string PluginSession::lastError(const std::optional<std::string>& form) {
    if (form) return callText(kLastError, {Param{*form}});
    return callText(kLastError);
}

std::string makeBundle(const std::filesystem::path& dir, const std::string& stringsText) {
    const auto bundle = dir / "Test.fmplugin";
    std::filesystem::create_directories(bundle / "Contents/Resources/en.lproj");
    std::filesystem::create_directories(bundle / "Contents/MacOS");
    std::ofstream(bundle / "Contents/Resources/en.lproj/Quillmark.strings") << stringsText;
    return bundle.string();
}

}  // namespace fmtest
