// StarterInit: the handshake of QuillmarkAcro and its four life-cycle callbacks.
#include "StarterInit.h"

#include "EventHandler.h"

#include <syslog.h>

#include <exception>

HFT gAcroFormHFT = nullptr;
ASVersion gAcroFormVersion = 0;

namespace {
constexpr char kExtensionName[] = "TORV:Quillmark";
}  // namespace

ACCB1 ASBool ACCB2 PluginExportHFTs(void) {
    return true;
}

ACCB1 ASBool ACCB2 PluginImportReplaceAndRegister(void) {
    try {
        gAcroFormHFT = Init_AcroFormHFT;
        gAcroFormVersion = gAcroFormHFT ? AcroFormHFT_LATEST_VERSION : 0;
        return gAcroFormHFT != nullptr;
    } catch (...) {
        syslog(LOG_ERR, "QuillmarkAcro: the Forms table could not be imported");
        return false;
    }
}

ACCB1 ASBool ACCB2 PluginInit(void) {
    try {
        if (!handler) handler = new MyEventHandler();
        return true;
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "QuillmarkAcro: initialisation failed: %s", e.what());
        return false;
    } catch (...) {
        syslog(LOG_ERR, "QuillmarkAcro: initialisation failed");
        return false;
    }
}

// The handler object and its registrations stay until Acrobat quits.
ACCB1 ASBool ACCB2 PluginUnload(void) {
    return true;
}

// Names the extension and hands over the four callbacks; only handshake 2.0.
ACCB1 ASBool ACCB2 PIHandshake(ASUns32 handshakeVersion, void* handshakeData) {
    try {
        if (handshakeVersion != HANDSHAKE_V0200 || !handshakeData) return false;
        auto* hsData = static_cast<PIHandshakeData_V0200*>(handshakeData);
        hsData->extensionName = ASAtomFromString(kExtensionName);
        hsData->exportHFTsCallback = (void*)ASCallbackCreateProto(PIExportHFTsProcType, &PluginExportHFTs);
        hsData->importReplaceAndRegisterCallback =
            (void*)ASCallbackCreateProto(PIImportReplaceAndRegisterProcType, &PluginImportReplaceAndRegister);
        hsData->initCallback = (void*)ASCallbackCreateProto(PIInitProcType, &PluginInit);
        hsData->unloadCallback = (void*)ASCallbackCreateProto(PIUnloadProcType, &PluginUnload);
        return true;
    } catch (...) {
        syslog(LOG_ERR, "QuillmarkAcro: handshake failed");
        return false;
    }
}
