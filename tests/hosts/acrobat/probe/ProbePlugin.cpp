// ProbePlugin: a minimal Acrobat plug-in that walks the load sequence the
// way the SDK's sample frame does, imports the tables it is told to, and
// records what the host did, for the load-sequence tests.
#include "Probe.h"

#include <cstring>

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

ProbeState gState;
HFT gCore = nullptr;
HFT gSupport = nullptr;
ASVersion gSupportVersion = 0;
ExtensionID gExtension = nullptr;

constexpr ASVersion kFallbacks[] = {ASVersionMake(5, 1), ASVersionMake(5, 0), ASVersionMake(4, 5), ASVersionMake(4, 0),
                                    ASVersionMake(2, 3), ASVersionMake(2, 2), ASVersionMake(2, 1)};

template <class Proto>
Proto core(Selector sel) {
    return reinterpret_cast<Proto>(gCore[sel]);
}
template <class Proto>
Proto support(Selector sel) {
    return reinterpret_cast<Proto>(gSupport[sel]);
}

void step(int s) {
    if (gState.stepCount < 16) gState.steps[gState.stepCount++] = s;
}

ASAtom atom(const char* s) {
    return core<ASAtomFromStringSELPROTO>(ASAtomFromStringSEL)(s);
}
HFT getHFT(const char* name, ASVersion v) {
    return core<ASExtensionMgrGetHFTSELPROTO>(ASExtensionMgrGetHFTSEL)(atom(name), v);
}

// The sample frame's import: ask for the minimum and read the actual
// version; without version reporting, try the fallback list downwards.
bool requestHFT(const char* name, ASVersion minimum, ASVersion* found) {
    if (gSupportVersion >= ASVersionMake(6, 0)) {
        if (HFT h = getHFT(name, minimum)) {
            const ASVersion v = support<HFTGetVersionSELPROTO>(HFTGetVersionSEL)(h);
            if (v != HFT_ERROR_NO_VERSION) {
                *found = v;
                return v != 0;
            }
        }
    }
    for (ASVersion candidate : kFallbacks) {
        if (candidate < minimum) break;
        if (getHFT(name, candidate)) {
            *found = candidate;
            return true;
        }
    }
    *found = 0;
    return false;
}

struct Thrown {
    ASErrorCode code;
};

ACCB1 void ACCB2 restore(void*) {
    throw Thrown{core<ASGetExceptionErrorCodeSELPROTO>(ASGetExceptionErrorCodeSEL)()};
}

// Runs body in a frame; records the code and message of a raise.
template <class F>
void protectedCall(F body) {
    core<ASPushExceptionFrameSELPROTO>(ASPushExceptionFrameSEL)(nullptr, &restore);
    try {
        body();
        core<ASPopExceptionFrameSELPROTO>(ASPopExceptionFrameSEL)();
    } catch (const Thrown& t) {
        core<ASPopExceptionFrameSELPROTO>(ASPopExceptionFrameSEL)();
        if (gState.caughtCount < 4) {
            const int i = gState.caughtCount++;
            gState.caughtCodes[i] = core<ASGetExceptionErrorCodeSELPROTO>(ASGetExceptionErrorCodeSEL)();
            support<ASGetErrorStringSELPROTO>(ASGetErrorStringSEL)(t.code, gState.caughtTexts[i], 256);
        }
    }
}

ACCB1 ASBool ACCB2 exportHFTs(void) {
    step(kStepExport);
    return true;
}

ACCB1 ASBool ACCB2 importReplaceAndRegister(void) {
    step(kStepImport);
    if (!gState.importForms) return true;
    ASVersion found = 0;
    gState.formsFound = requestHFT("Forms", ASVersionMake(1, 2), &found);
    return gState.formsFound;
}

ACCB1 ASBool ACCB2 init(void) {
    step(kStepInit);
    if (gState.raiseInInit) {
        // A path type the host does not know: the host raises from deep inside.
        protectedCall([] {
            support<ASFileSysCreatePathNameSELPROTO>(ASFileSysCreatePathNameSEL)(nullptr, atom("NoSuchPathType"), "x",
                                                                                 nullptr);
        });
        // A raise of the plug-in's own, passed through the host.
        protectedCall(
            [] { core<ASRaiseSELPROTO>(ASRaiseSEL)(ErrBuildCode(ErrAlways, ErrSysPDDoc, pdErrOpNotPermitted)); });
    }
    if (gState.raiseWithoutFrame) {
        core<ASRaiseSELPROTO>(ASRaiseSEL)(ErrBuildCode(ErrAlways, ErrSysNone, genErrBadParm));
        gState.pastRaiseWithoutFrame = true;
    }
    return true;
}

ACCB1 ASBool ACCB2 unload(void) {
    step(kStepUnload);
    return true;
}

ACCB1 ASBool ACCB2 handshake(ASUns32 version, void* data) {
    step(kStepHandshake);
    if (version != HANDSHAKE_V0200) return false;
    auto* hs = static_cast<PIHandshakeData_V0200*>(data);
    auto cb = core<ASCallbackCreateSELPROTO>(ASCallbackCreateSEL);
    hs->extensionName = atom("TEST:Probe");
    hs->exportHFTsCallback = cb(gExtension, reinterpret_cast<void*>(&exportHFTs));
    hs->importReplaceAndRegisterCallback = cb(gExtension, reinterpret_cast<void*>(&importReplaceAndRegister));
    hs->initCallback = cb(gExtension, reinterpret_cast<void*>(&init));
    hs->unloadCallback = cb(gExtension, reinterpret_cast<void*>(&unload));
    return true;
}

ACCB1 ASBool ACCB2 setup(ASUns32 version, void* data) {
    step(kStepSetup);
    auto* sdk = static_cast<PISDKData_V0200*>(data);
    gState.sdkHandshake = sdk->handshakeVersion;
    if (version != HANDSHAKE_V0200 || sdk->handshakeVersion != HANDSHAKE_V0200) return false;
    gExtension = sdk->extensionID;
    gCore = sdk->coreHFT;
    if (!gCore) return false;
    HFT probe = getHFT("AcroSupport", ASVersionMake(6, 0));
    if (probe) {
        gSupport = probe;
        gSupportVersion = support<HFTGetVersionSELPROTO>(HFTGetVersionSEL)(probe);
    }
    ASVersion v = 0;
    const ASVersion supportMinimum = gState.acroSupportMinimum ? gState.acroSupportMinimum : ASVersionMake(6, 0);
    if (!requestHFT("AcroSupport", supportMinimum, &v)) return false;
    gSupport = getHFT("AcroSupport", v);
    gState.acroSupportVersion = v;
    for (int i = 0; i < gState.requestCount; ++i) {
        ProbeRequest& r = gState.requests[i];
        r.ok = requestHFT(r.name, r.minimum, &r.found);
        if (!r.ok) return false;
    }
    sdk->handshakeCallback = reinterpret_cast<void*>(&handshake);
    return true;
}

}  // namespace

PROBE_EXPORT ProbeState* ProbeGetState(void) {
    return &gState;
}

PROBE_EXPORT ACCB1 ASBool ACCB2 AcroPluginMain(ASUns32 appHandshakeVersion, ASUns32* handshakeVersion,
                                               PISetupSDKProcType* setupProc, void* platformData) {
    step(kStepEntry);
    gCore = gSupport = nullptr;
    gSupportVersion = 0;
    gState.offeredHandshake = appHandshakeVersion;
    *handshakeVersion = appHandshakeVersion < HANDSHAKE_V0200 ? appHandshakeVersion : HANDSHAKE_V0200;
    *setupProc = &setup;
    return true;
}
