// FMExternCallProc: the one entry FileMaker calls, with registration and
// tear-down of the function table.
#include <syslog.h>

#include "PluginSDK.h"
#include "FunctionTable.h"
#include "Handlers.h"
#include "PluginError.h"
#include "Strings.h"

FMX_ExternCallPtr gFMX_ExternCallPtr = nullptr;

namespace {

constexpr short kMinHostVersion = 50;
constexpr short kMaxHostVersion = 255;

fmx::QuadCharUniquePtr pluginID() {
    return fmx::QuadCharUniquePtr('T', 'O', 'R', 'V');
}

void unregisterAll() {
    const fmx::QuadCharUniquePtr id = pluginID();
    for (const auto& row : quill::fm::functionTable()) {
        try {
            fmx::ExprEnv::UnRegisterExternalFunction(*id, row.id);
        } catch (...) {
            syslog(LOG_ERR, "QuillmarkFM: unregistering function %d failed", row.id);
        }
    }
}

void Do_Init() {
    m_pe = std::make_unique<torv_PluginError>();
}

void Do_Shutdown() {
    m_pe.reset();
    quill::fm::forgetAcrobat();
}

void initialise(FMX_ExternCallPtr pb) {
    const short version = pb->extnVersion;
    if (version < kMinHostVersion || version > kMaxHostVersion) {
        pb->result = static_cast<FMX_PtrType>(static_cast<fmx::int64>(kBadExtnVersion));
        return;
    }
    const fmx::QuadCharUniquePtr id = pluginID();
    fmx::TextUniquePtr name;
    fmx::TextUniquePtr prototype;
    for (const auto& row : quill::fm::functionTable()) {
        // A row the host refuses, or that fails to load, is simply absent.
        try {
            Do_GetString(static_cast<std::uint32_t>(row.id), *name, true);
            Do_GetString(static_cast<std::uint32_t>(row.id), *prototype, false);
            fmx::ExprEnv::RegisterExternalFunction(*id, row.id, *name, *prototype, row.minParams, row.maxParams,
                                                   row.flags, row.handler);
        } catch (...) {
            syslog(LOG_ERR, "QuillmarkFM: registering function %d failed", row.id);
        }
    }
    try {
        Do_Init();
    } catch (...) {
        // Without the store no handler can report anything: withdraw.
        syslog(LOG_ERR, "QuillmarkFM: initialisation failed");
        unregisterAll();
        pb->result = static_cast<FMX_PtrType>(static_cast<fmx::int64>(kDoNotEnable));
        return;
    }
    pb->result = static_cast<FMX_PtrType>(k150ExtnVersion);
}

}  // namespace

FMX_ENTRYPT void FMExternCallProc(FMX_ExternCallPtr pb) {
    if (!pb) return;
    try {
        gFMX_ExternCallPtr = pb;
        switch (pb->whichCall) {
            case kFMXT_GetString:
                Do_GetString(static_cast<std::uint32_t>(pb->parm1), static_cast<std::uint32_t>(pb->parm2),
                             static_cast<std::uint32_t>(pb->parm3), reinterpret_cast<fmx::unichar16*>(pb->result));
                break;
            case kFMXT_Shutdown:
                unregisterAll();
                Do_Shutdown();
                break;
            case kFMXT_Init:
                initialise(pb);
                break;
            default:
                break;
        }
    } catch (...) {
        syslog(LOG_ERR, "QuillmarkFM: message %d failed", static_cast<int>(pb->whichCall));
    }
}
