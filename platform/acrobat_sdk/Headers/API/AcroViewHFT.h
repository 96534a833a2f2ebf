// AcroViewHFT: the "AcroView" table — document windows and alerts.
// Selectors are append-only.
#pragma once

#include "ASTypes.h"

#define AcroViewHFTName "AcroView"
#define AcroViewHFT_VERSION_2 ASVersionMake(2, 0)
#define AcroViewHFT_VERSION_4 ASVersionMake(4, 0)
#define AcroViewHFT_VERSION_5 ASVersionMake(5, 0)
#define AcroViewHFT_VERSION_6 ASVersionMake(6, 0)
#define AcroViewHFT_VERSION_7 ASVersionMake(7, 0)
#define AcroViewHFT_VERSION_8 ASVersionMake(8, 0)
#define AcroViewHFT_VERSION_9 ASVersionMake(9, 0)
#define AcroViewHFT_LATEST_VERSION AcroViewHFT_VERSION_9

typedef ASInt32 AVPageIndex;

enum {
    AcroViewBAD_SELECTOR = 0,
    AVAppGetActiveDocSEL,
    AVDocGetPDDocSEL,
    AVDocCloseSEL,
    AVDocClearSelectionSEL,
    AVDocOpenFromPDDocSEL,
    AVDocPrintPagesSEL,
    AVAlertNoteSEL,
    AcroViewNUMSELECTORSplusOne
};
#define AcroViewNUMSELECTORS (AcroViewNUMSELECTORSplusOne - 1)

// The document of the active window, or null.
typedef ACCBPROTO1 AVDoc(ACCBPROTO2* AVAppGetActiveDocSELPROTO)(void);
typedef ACCBPROTO1 PDDoc(ACCBPROTO2* AVDocGetPDDocSELPROTO)(AVDoc avDoc);
// Closes the window; with noSave, discards changes without asking.
typedef ACCBPROTO1 ASBool(ACCBPROTO2* AVDocCloseSELPROTO)(AVDoc doc, ASBool noSave);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* AVDocClearSelectionSELPROTO)(AVDoc doc, ASBool highlight);
// A window on an open document; tempTitle may be null. The window does not
// own the document: closing the window leaves the document open.
typedef ACCBPROTO1 AVDoc(ACCBPROTO2* AVDocOpenFromPDDocSELPROTO)(PDDoc doc, const ASText tempTitle);
typedef ACCBPROTO1 void(ACCBPROTO2* AVDocPrintPagesSELPROTO)(AVDoc doc, AVPageIndex firstPage, AVPageIndex lastPage,
                                                             ASInt32 psLevel, ASBool binaryOK, ASBool shrinkToFit);
typedef ACCBPROTO1 void(ACCBPROTO2* AVAlertNoteSELPROTO)(const char* msg);
