// PIMain: the plug-in entry, SDK set-up with the API-table import, and the
// exception frame that turns Acrobat exceptions into C++ exceptions.
#include "PIMain.h"

#include "CorCalls.h"
#include "StarterInit.h"

#include <syslog.h>

#include <iterator>

CFBundleRef gPluginBundle = nullptr;
CFBundleRef gAppBundle = nullptr;
ExtensionID gExtensionID = nullptr;

HFT gCoreHFT = nullptr;
ASVersion gCoreVersion = 0;
HFT gAcroSupportHFT = nullptr;
ASVersion gAcroSupportVersion = 0;
HFT gCosHFT = nullptr;
ASVersion gCosVersion = 0;
HFT gPDModelHFT = nullptr;
ASVersion gPDModelVersion = 0;
HFT gPDFEditWriteHFT = nullptr;
ASVersion gPDFEditWriteVersion = 0;
HFT gPDFEditReadHFT = nullptr;
ASVersion gPDFEditReadVersion = 0;
HFT gPDSysFontHFT = nullptr;
ASVersion gPDSysFontVersion = 0;
HFT gPagePDEContentHFT = nullptr;
ASVersion gPagePDEContentVersion = 0;
HFT gAcroViewHFT = nullptr;
ASVersion gAcroViewVersion = 0;
HFT gPDSWriteHFT = nullptr;
ASVersion gPDSWriteVersion = 0;
HFT gPDSReadHFT = nullptr;
ASVersion gPDSReadVersion = 0;
HFT gMacintoshHFT = nullptr;
ASVersion gMacintoshVersion = 0;
HFT gASExtraHFT = nullptr;
ASVersion gASExtraVersion = 0;
HFT gPDMetadataHFT = nullptr;
ASVersion gPDMetadataVersion = 0;
HFT gAcroColorHFT = nullptr;
ASVersion gAcroColorVersion = 0;

namespace {

constexpr ASVersion version(ASUns32 major, ASUns32 minor) {
    return (major << 16) | minor;
}

// Tables imported at set-up, in this order; every row is required.
struct ImportRow {
    const char* name;
    ASVersion minimum;
    HFT* hft;
    ASVersion* found;
};

const ImportRow kImportTable[] = {
    {"Core", version(5, 0), &gCoreHFT, &gCoreVersion},
    {"Cos", version(6, 0), &gCosHFT, &gCosVersion},
    {"PDModel", version(6, 0), &gPDModelHFT, &gPDModelVersion},
    {"PDFEditWrite", version(6, 0), &gPDFEditWriteHFT, &gPDFEditWriteVersion},
    {"PDFEditRead", version(6, 0), &gPDFEditReadHFT, &gPDFEditReadVersion},
    {"PDSysFont", version(4, 0), &gPDSysFontHFT, &gPDSysFontVersion},
    {"PagePDEContent", version(6, 0), &gPagePDEContentHFT, &gPagePDEContentVersion},
    {"AcroView", version(6, 0), &gAcroViewHFT, &gAcroViewVersion},
    {"PDSWrite", version(6, 0), &gPDSWriteHFT, &gPDSWriteVersion},
    {"PDSRead", version(6, 0), &gPDSReadHFT, &gPDSReadVersion},
    {"Macintosh", version(2, 2), &gMacintoshHFT, &gMacintoshVersion},
    {"ASExtra", version(6, 0), &gASExtraHFT, &gASExtraVersion},
    {"PDMetadata", version(6, 0), &gPDMetadataHFT, &gPDMetadataVersion},
    {"AcroColorHFT", version(6, 0), &gAcroColorHFT, &gAcroColorVersion},
};

constexpr ASVersion kAcroSupportMinimum = version(8, 0);
constexpr ASVersion kAcroSupportProbe = version(6, 0);

// Versions tried, first to last, when a table does not say its version.
constexpr ASVersion kFallbackVersions[] = {
    version(5, 1), version(5, 0), version(4, 5), version(4, 0), version(2, 3), version(2, 2), version(2, 1),
};

constexpr ASVersion kNoVersion = 0xFFFFFFFFu;

}  // namespace

// ---- exception frame -------------------------------------------------------

ACCB1 void ACCB2 miThrowExceptionToHandler(void* asEnviron) {
    (void)asEnviron;
    // Read the code straight from the table: a guarded call could raise again
    // from inside this restore procedure.
    _miExceptionInfo info;
    if (gCoreHFT && gCoreHFT[ASGetExceptionErrorCodeSEL]) {
        info.error = reinterpret_cast<ASGetExceptionErrorCodeSELPROTO>(gCoreHFT[ASGetExceptionErrorCodeSEL])();
    }
    throw info;
}

_miExceptionPushPop::_miExceptionPushPop() {
    ASPushExceptionFrame(nullptr, reinterpret_cast<ACRestoreEnvironProc>(&miThrowExceptionToHandler));
}

// Never raises: it runs while an exception unwinds.
_miExceptionPushPop::~_miExceptionPushPop() {
    if (gCoreHFT && gCoreHFT[ASPopExceptionFrameSEL]) {
        reinterpret_cast<ASPopExceptionFrameSELPROTO>(gCoreHFT[ASPopExceptionFrameSEL])();
    }
}

// ---- table import ----------------------------------------------------------

ASBool GetRequestedHFT(const char* name, ASVersion minimum, ASVersion* versionFound, HFT* hftFound) {
    const ASAtom atom = ASAtomFromString(name);
    HFT hft = nullptr;
    ASVersion found = kNoVersion;
    if (gAcroSupportVersion >= version(6, 0)) {
        hft = ASExtensionMgrGetHFT(atom, minimum);
        if (hft) found = HFTGetVersion(hft);
    }
    if (hft && found != kNoVersion) {
        *hftFound = hft;
        *versionFound = found;
        return found != 0;
    }
    hft = nullptr;
    found = 0;
    for (ASVersion candidate : kFallbackVersions) {
        if (candidate < minimum) break;
        hft = ASExtensionMgrGetHFT(atom, candidate);
        if (hft) {
            found = candidate;
            break;
        }
    }
    *hftFound = hft;
    *versionFound = hft ? found : 0;
    return hft != nullptr;
}

ACCB1 ASBool ACCB2 PISetupSDK(ASUns32 handshakeVersion, void* sdkData) {
    try {
        auto* data = static_cast<PISDKData_V0200*>(sdkData);
        if (handshakeVersion != HANDSHAKE_V0200 || !data || data->handshakeVersion != HANDSHAKE_V0200) return false;
        gExtensionID = data->extensionID;
        gCoreHFT = data->coreHFT;
        gCoreVersion = version(2, 0);
        if (!gCoreHFT) return false;

        HFT probe = ASExtensionMgrGetHFT(ASAtomFromString("AcroSupport"), kAcroSupportProbe);
        if (probe) {
            gAcroSupportHFT = probe;
            gAcroSupportVersion = HFTGetVersion(probe);
            if (gAcroSupportVersion == kNoVersion) gAcroSupportVersion = 0;
        }
        if (!GetRequestedHFT("AcroSupport", kAcroSupportMinimum, &gAcroSupportVersion, &gAcroSupportHFT)) return false;

        for (const ImportRow& row : kImportTable) {
            if (!GetRequestedHFT(row.name, row.minimum, row.found, row.hft)) {
                syslog(LOG_ERR, "QuillmarkAcro: Acrobat offers no usable \"%s\" table", row.name);
                return false;
            }
        }
        data->handshakeCallback = reinterpret_cast<void*>(&PIHandshake);
        return true;
    } catch (...) {
        syslog(LOG_ERR, "QuillmarkAcro: set-up failed");
        return false;
    }
}

extern "C" QUILL_EXPORT ACCB1 ASBool ACCB2 VoveZudoruMain(ASUns32 appHandshakeVersion, ASUns32* handshakeVersion,
                                                          PISetupSDKProcType* setupProc, void* platformData) {
    try {
        auto* mac = static_cast<PIMacPlatformData*>(platformData);
        if (mac) {
            if (mac->bundle && !gPluginBundle) gPluginBundle = CFBundleRetain(mac->bundle);
            if (mac->appBundle && !gAppBundle) gAppBundle = CFBundleRetain(mac->appBundle);
        }
        if (handshakeVersion)
            *handshakeVersion = appHandshakeVersion < HANDSHAKE_V0200 ? appHandshakeVersion : HANDSHAKE_V0200;
        if (setupProc) *setupProc = &PISetupSDK;
        return true;
    } catch (...) {
        return false;
    }
}

// The resource map is opened on first use; later calls answer the same number.
extern "C" QUILL_EXPORT short GetVoveZudoruResourceMap(void) {
    static short refNum = 0;
    static bool opened = false;
    if (!opened) {
        opened = true;
        refNum = 1;
    }
    return refNum;
}
