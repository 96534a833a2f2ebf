// PIMain.c: compiled into every plug-in (as C++). The entry Acrobat looks
// up, SDK set-up with the import of every table PIRequir.h names, and the
// restore procedure that turns Acrobat exceptions into C++ exceptions.
#include "PIMain.h"

#include "ASCalls.h"
#include "ASExtraCalls.h"
#include "AVCalls.h"
#include "CorCalls.h"
#include "CosCalls.h"
#include "PDCalls.h"

#include <syslog.h>

#include <iterator>

extern "C" {
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
}

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
    {"Core", PI_CORE_VERSION, &gCoreHFT, &gCoreVersion},
    {"Cos", PI_COS_VERSION, &gCosHFT, &gCosVersion},
    {"PDModel", PI_PDMODEL_VERSION, &gPDModelHFT, &gPDModelVersion},
    {"PDFEditWrite", PI_PDFEDIT_WRITE_VERSION, &gPDFEditWriteHFT, &gPDFEditWriteVersion},
    {"PDFEditRead", PI_PDFEDIT_READ_VERSION, &gPDFEditReadHFT, &gPDFEditReadVersion},
    {"PDSysFont", PI_PDSYSFONT_VERSION, &gPDSysFontHFT, &gPDSysFontVersion},
    {"PagePDEContent", PI_PAGE_PDE_CONTENT_VERSION, &gPagePDEContentHFT, &gPagePDEContentVersion},
    {"AcroView", PI_ACROVIEW_VERSION, &gAcroViewHFT, &gAcroViewVersion},
    {"PDSWrite", PI_PDSEDIT_WRITE_VERSION, &gPDSWriteHFT, &gPDSWriteVersion},
    {"PDSRead", PI_PDSEDIT_READ_VERSION, &gPDSReadHFT, &gPDSReadVersion},
    {"Macintosh", PI_MACINTOSH_VERSION, &gMacintoshHFT, &gMacintoshVersion},
    {"ASExtra", PI_ASEXTRA_VERSION, &gASExtraHFT, &gASExtraVersion},
    {"PDMetadata", PI_PDMETADATA_VERSION, &gPDMetadataHFT, &gPDMetadataVersion},
    {"AcroColorHFT", PI_ACROCOLOR_VERSION, &gAcroColorHFT, &gAcroColorVersion},
};

constexpr ASVersion kAcroSupportMinimum = PI_ACROSUPPORT_VERSION;
constexpr ASVersion kAcroSupportProbe = version(6, 0);

// Versions tried, first to last, when a table does not say its version.
constexpr ASVersion kFallbackVersions[] = {
    version(5, 1), version(5, 0), version(4, 5), version(4, 0), version(2, 3), version(2, 2), version(2, 1),
};

constexpr ASVersion kNoVersion = 0xFFFFFFFFu;

}  // namespace

// ---- exception frame -------------------------------------------------------

// The restore procedure of every DURING frame: back to its HANDLER, which
// asks Acrobat for the code (ERRORCODE).
extern "C" ACCB1 void ACCB2 miThrowExceptionToHandler(void* asEnviron) {
    (void)asEnviron;
    throw _miExceptionInfo();
}

// ---- table import ----------------------------------------------------------

extern "C" ASBool GetRequestedHFT(const char* name, ASVersion minimum, ASVersion* versionFound, HFT* hftFound) {
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

extern "C" ACCB1 ASBool ACCB2 PISetupSDK(ASUns32 handshakeVersion, void* sdkData) {
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

extern "C" __attribute__((visibility("default"))) ACCB1 ASBool ACCB2 AcroPluginMain(ASUns32 appHandshakeVersion,
                                                                                    ASUns32* handshakeVersion,
                                                                                    PISetupSDKProcType* setupProc,
                                                                                    PluginMainData* mainData) {
    try {
        PluginMainData* mac = mainData;
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
extern "C" short GetAcroPluginResourceMap(void) {
    static short refNum = 0;
    static bool opened = false;
    if (!opened) {
        opened = true;
        refNum = 1;
    }
    return refNum;
}
