// CoreHFT: the "Core" table — atoms, callbacks, the extension manager and
// exception frames. Selectors are append-only.
#pragma once

#include "ASTypes.h"

#define CoreHFTName "Core"
#define CoreHFT_VERSION_2 ASVersionMake(2, 0)
#define CoreHFT_VERSION_4 ASVersionMake(4, 0)
#define CoreHFT_VERSION_5 ASVersionMake(5, 0)
#define CoreHFT_VERSION_6 ASVersionMake(6, 0)
#define CoreHFT_VERSION_7 ASVersionMake(7, 0)
#define CoreHFT_VERSION_8 ASVersionMake(8, 0)
#define CoreHFT_VERSION_9 ASVersionMake(9, 0)
#define CoreHFT_LATEST_VERSION CoreHFT_VERSION_9

enum {
    CoreBAD_SELECTOR = 0,
    ASAtomFromStringSEL,
    ASAtomGetStringSEL,
    ASCallbackCreateSEL,
    ASExtensionMgrGetHFTSEL,
    ASPushExceptionFrameSEL,
    ASPopExceptionFrameSEL,
    ASGetExceptionErrorCodeSEL,
    ASRaiseSEL,
    ASCallbackDestroySEL,
    CoreNUMSELECTORSplusOne
};
#define CoreNUMSELECTORS (CoreNUMSELECTORSplusOne - 1)

typedef ACCBPROTO1 ASAtom(ACCBPROTO2* ASAtomFromStringSELPROTO)(const char* nameStr);
typedef ACCBPROTO1 const char*(ACCBPROTO2* ASAtomGetStringSELPROTO)(ASAtom atm);
typedef ACCBPROTO1 ASCallback(ACCBPROTO2* ASCallbackCreateSELPROTO)(ExtensionID extensionID, void* proc);
typedef ACCBPROTO1 HFT(ACCBPROTO2* ASExtensionMgrGetHFTSELPROTO)(ASAtom name, ASVersion version);
typedef ACCBPROTO1 void(ACCBPROTO2* ASPushExceptionFrameSELPROTO)(void* asEnviron, ACRestoreEnvironProc restoreFunc);
typedef ACCBPROTO1 void(ACCBPROTO2* ASPopExceptionFrameSELPROTO)(void);
typedef ACCBPROTO1 ASErrorCode(ACCBPROTO2* ASGetExceptionErrorCodeSELPROTO)(void);
// Records the code and hands control to the innermost frame's restore procedure.
typedef ACCBPROTO1 void(ACCBPROTO2* ASRaiseSELPROTO)(ASErrorCode error);
typedef ACCBPROTO1 void(ACCBPROTO2* ASCallbackDestroySELPROTO)(ASCallback callback);
