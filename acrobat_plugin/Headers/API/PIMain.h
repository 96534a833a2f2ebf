// PIMain: the plug-in entry, SDK set-up, the imported API tables and the
// exception frame through which every handler calls Acrobat.
//
// All globals here are written during loading, on Acrobat's main thread,
// before the first bridge event can arrive, and only read afterwards.
#pragma once

#include "AcroSDK.h"
#include "CFBundle.h"

#define QUILL_EXPORT __attribute__((visibility("default")))

extern CFBundleRef gPluginBundle;  // retained
extern CFBundleRef gAppBundle;     // retained
extern ExtensionID gExtensionID;

// One table and one version word per imported table.
extern HFT gCoreHFT;
extern ASVersion gCoreVersion;
extern HFT gAcroSupportHFT;
extern ASVersion gAcroSupportVersion;
extern HFT gCosHFT;
extern ASVersion gCosVersion;
extern HFT gPDModelHFT;
extern ASVersion gPDModelVersion;
extern HFT gPDFEditWriteHFT;
extern ASVersion gPDFEditWriteVersion;
extern HFT gPDFEditReadHFT;
extern ASVersion gPDFEditReadVersion;
extern HFT gPDSysFontHFT;
extern ASVersion gPDSysFontVersion;
extern HFT gPagePDEContentHFT;
extern ASVersion gPagePDEContentVersion;
extern HFT gAcroViewHFT;
extern ASVersion gAcroViewVersion;
extern HFT gPDSWriteHFT;
extern ASVersion gPDSWriteVersion;
extern HFT gPDSReadHFT;
extern ASVersion gPDSReadVersion;
extern HFT gMacintoshHFT;
extern ASVersion gMacintoshVersion;
extern HFT gASExtraHFT;
extern ASVersion gASExtraVersion;
extern HFT gPDMetadataHFT;
extern ASVersion gPDMetadataVersion;
extern HFT gAcroColorHFT;
extern ASVersion gAcroColorVersion;
extern HFT gAcroFormHFT;  // imported by the import callback
extern ASVersion gAcroFormVersion;

// Imports the table `name` at `minimum` or, when Acrobat does not say its
// tables' versions, at the first fallback version not below it. Stores the
// table and its version (0 when none); true when one was found.
ASBool GetRequestedHFT(const char* name, ASVersion minimum, ASVersion* versionFound, HFT* hftFound);

ACCB1 ASBool ACCB2 PISetupSDK(ASUns32 handshakeVersion, void* sdkData);

extern "C" {
QUILL_EXPORT ACCB1 ASBool ACCB2 VoveZudoruMain(ASUns32 appHandshakeVersion, ASUns32* handshakeVersion,
                                               PISetupSDKProcType* setupProc, void* platformData);
QUILL_EXPORT short GetVoveZudoruResourceMap(void);
}

// ---- exception frame -------------------------------------------------------
// An Acrobat raise calls the restore procedure of the innermost frame;
// ours throws _miExceptionInfo, which unwinds the handler's own code like any
// C++ exception. The frame object pops its frame when it goes out of scope,
// on the normal path and while unwinding.

struct _miExceptionInfo {
    ASInt32 error = 0;
};

ACCB1 void ACCB2 miThrowExceptionToHandler(void* asEnviron);

class _miExceptionPushPop {
public:
    _miExceptionPushPop();
    ~_miExceptionPushPop();
    _miExceptionPushPop(const _miExceptionPushPop&) = delete;
    _miExceptionPushPop& operator=(const _miExceptionPushPop&) = delete;
};

// DURING ... HANDLER ... END_HANDLER. Inside HANDLER, ERRORCODE is the code
// of the Acrobat exception being handled.
#define DURING \
    try {      \
        _miExceptionPushPop _miFrameHere;
#define HANDLER                                          \
    }                                                    \
    catch (const _miExceptionInfo& _miExceptionCaught) { \
        (void)_miExceptionCaught;
#define END_HANDLER }
#define ERRORCODE (_miExceptionCaught.error)
