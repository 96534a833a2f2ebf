// AcroSupportHFT: the "AcroSupport" table — error texts, the file system,
// path names, memory and table versions. Selectors are append-only.
#pragma once

#include "ASTypes.h"

#define AcroSupportHFTName "AcroSupport"
#define ASCallsHFT_VERSION_2 ASVersionMake(2, 0)
#define ASCallsHFT_VERSION_2_2 ASVersionMake(2, 2)
#define ASCallsHFT_VERSION_4 ASVersionMake(4, 0)
#define ASCallsHFT_VERSION_5 ASVersionMake(5, 0)
#define ASCallsHFT_VERSION_6 ASVersionMake(6, 0)
#define ASCallsHFT_VERSION_7 ASVersionMake(7, 0)
#define ASCallsHFT_VERSION_8 ASVersionMake(8, 0)
#define ASCallsHFT_VERSION_9 ASVersionMake(9, 0)
#define ASCallsHFT_LATEST_VERSION ASCallsHFT_VERSION_9

// Path types understood by ASFileSysCreatePathName.
#define kASPathTypePOSIX "POSIXPath"
#define kASPathTypeCFURL "CFURLRef"

enum {
    AcroSupportBAD_SELECTOR = 0,
    ASGetErrorStringSEL,
    ASGetDefaultFileSysSEL,
    ASFileSysCreatePathNameSEL,
    ASFileSysReleasePathSEL,
    ASFileAcquirePathNameSEL,
    ASfreeSEL,
    HFTGetVersionSEL,
    AcroSupportNUMSELECTORSplusOne
};
#define AcroSupportNUMSELECTORS (AcroSupportNUMSELECTORSplusOne - 1)

// Writes the message for errorCode, zero-terminated and cut to lenBuffer
// bytes, into buffer; returns buffer.
typedef ACCBPROTO1 const char*(ACCBPROTO2* ASGetErrorStringSELPROTO)(ASErrorCode errorCode, char* buffer,
                                                                     ASInt32 lenBuffer);
typedef ACCBPROTO1 ASFileSys(ACCBPROTO2* ASGetDefaultFileSysSELPROTO)(void);
// pathSpecType is the atom of "POSIXPath" (pathSpec: UTF-8 text) or "CFURLRef"
// (pathSpec: a URL text); fileSys null means the default file system.
typedef ACCBPROTO1 ASPathName(ACCBPROTO2* ASFileSysCreatePathNameSELPROTO)(ASFileSys fileSys, ASAtom pathSpecType,
                                                                           const void* pathSpec,
                                                                           const void* mustBeZero);
typedef ACCBPROTO1 void(ACCBPROTO2* ASFileSysReleasePathSELPROTO)(ASFileSys fileSys, ASPathName pathName);
typedef ACCBPROTO1 ASPathName(ACCBPROTO2* ASFileAcquirePathNameSELPROTO)(ASFile file);
typedef ACCBPROTO1 void(ACCBPROTO2* ASfreeSELPROTO)(void* ptr);
// The table's version, or HFT_ERROR_NO_VERSION.
typedef ACCBPROTO1 ASVersion(ACCBPROTO2* HFTGetVersionSELPROTO)(HFT hft);
