// CorCalls: the plug-in's seam to Acrobat. Every Acrobat call goes through
// the table imported at set-up, after a check that the table is at least the
// version the call needs (the Forms calls carry no check).
//
// A table older than a call's minimum does not stop Acrobat: the call raises
// an Acrobat exception (method not implemented) through Acrobat's own raise,
// so the caller's exception frame takes it and the request ends with an
// error reply.
#pragma once

#include "PIMain.h"

// Table versions as the calls name them (major << 16 | minor).
#define QUILL_V(major, minor) ((ASVersion)(((ASUns32)(major) << 16) | (ASUns32)(minor)))
#define QUILL_ANY_VERSION ((ASVersion)0)

// Raises "method not implemented" through Acrobat; never returns.
[[noreturn]] void quillRaiseNotImplemented(void);
// Raises `code` through Acrobat; never returns.
[[noreturn]] void quillRaise(ASErrorCode code);

// The entry `sel` of `table`, or a raise when the table is missing, older
// than `minimum`, or lacks the entry.
inline void* quillEntry(HFT table, ASVersion have, ASVersion minimum, Selector sel) {
    if (!table || have < minimum || !table[sel]) quillRaiseNotImplemented();
    return reinterpret_cast<void*>(table[sel]);
}

#define QUILL_CALL(table, have, minimum, name) \
    (reinterpret_cast<name##SELPROTO>(quillEntry(table, have, minimum, name##SEL)))

// ---- Core ----
#define ASAtomFromString QUILL_CALL(gCoreHFT, gCoreVersion, QUILL_V(2, 0), ASAtomFromString)
#define ASAtomGetString QUILL_CALL(gCoreHFT, gCoreVersion, QUILL_V(2, 0), ASAtomGetString)
#define ASCallbackCreate QUILL_CALL(gCoreHFT, gCoreVersion, QUILL_V(2, 0), ASCallbackCreate)
#define ASExtensionMgrGetHFT QUILL_CALL(gCoreHFT, gCoreVersion, QUILL_ANY_VERSION, ASExtensionMgrGetHFT)
#define ASPushExceptionFrame QUILL_CALL(gCoreHFT, gCoreVersion, QUILL_ANY_VERSION, ASPushExceptionFrame)
#define ASPopExceptionFrame QUILL_CALL(gCoreHFT, gCoreVersion, QUILL_ANY_VERSION, ASPopExceptionFrame)
#define ASGetExceptionErrorCode QUILL_CALL(gCoreHFT, gCoreVersion, QUILL_V(2, 0), ASGetExceptionErrorCode)
#define ASRaise(code) quillRaise(code)
#define ASCallbackCreateProto(proto, proc) ((proto)ASCallbackCreate(gExtensionID, (void*)(proc)))

// ---- AcroSupport ----
#define ASGetErrorString QUILL_CALL(gAcroSupportHFT, gAcroSupportVersion, QUILL_ANY_VERSION, ASGetErrorString)
#define ASGetDefaultFileSys QUILL_CALL(gAcroSupportHFT, gAcroSupportVersion, QUILL_ANY_VERSION, ASGetDefaultFileSys)
#define ASFileSysCreatePathName QUILL_CALL(gAcroSupportHFT, gAcroSupportVersion, QUILL_V(2, 2), ASFileSysCreatePathName)
#define ASFileSysReleasePath QUILL_CALL(gAcroSupportHFT, gAcroSupportVersion, QUILL_ANY_VERSION, ASFileSysReleasePath)
#define ASFileAcquirePathName QUILL_CALL(gAcroSupportHFT, gAcroSupportVersion, QUILL_ANY_VERSION, ASFileAcquirePathName)
#define ASfree QUILL_CALL(gAcroSupportHFT, gAcroSupportVersion, QUILL_ANY_VERSION, ASfree)
#define HFTGetVersion QUILL_CALL(gAcroSupportHFT, gAcroSupportVersion, QUILL_ANY_VERSION, HFTGetVersion)

// ---- PDModel ----
#define PDDocOpenEx QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 2), PDDocOpenEx)
#define PDDocOpen QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDDocOpen)
#define PDDocCreate QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDDocCreate)
#define PDDocSave QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDDocSave)
#define PDDocClose QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDDocClose)
#define PDDocGetFile QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDDocGetFile)
#define PDDocGetNumPages QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDDocGetNumPages)
#define PDDocInsertPages QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDDocInsertPages)
#define PDDocDeletePages QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDDocDeletePages)
#define PDDocClearFlags QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 1), PDDocClearFlags)
#define PDDocCreateWordFinderUCS QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 3), PDDocCreateWordFinderUCS)
#define PDWordFinderAcquireWordList QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDWordFinderAcquireWordList)
#define PDWordFinderGetNthWord QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDWordFinderGetNthWord)
#define PDWordGetASText QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(6, 0), PDWordGetASText)
#define PDWordGetAttr QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDWordGetAttr)
#define PDWordFinderReleaseWordList QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDWordFinderReleaseWordList)
#define PDWordFinderDestroy QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(2, 0), PDWordFinderDestroy)
#define PDDocGetInfoASText QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(8, 0), PDDocGetInfoASText)
#define PDDocSetInfoAsASText QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(8, 0), PDDocSetInfoAsASText)
#define PDDocPermRequest QUILL_CALL(gPDModelHFT, gPDModelVersion, QUILL_V(5, 0), PDDocPermRequest)

// ---- AcroView ----
#define AVAppGetActiveDoc QUILL_CALL(gAcroViewHFT, gAcroViewVersion, QUILL_V(2, 0), AVAppGetActiveDoc)
#define AVDocGetPDDoc QUILL_CALL(gAcroViewHFT, gAcroViewVersion, QUILL_V(2, 0), AVDocGetPDDoc)
#define AVDocClose QUILL_CALL(gAcroViewHFT, gAcroViewVersion, QUILL_V(2, 0), AVDocClose)
#define AVDocClearSelection QUILL_CALL(gAcroViewHFT, gAcroViewVersion, QUILL_V(2, 0), AVDocClearSelection)
#define AVDocOpenFromPDDoc QUILL_CALL(gAcroViewHFT, gAcroViewVersion, QUILL_V(6, 0), AVDocOpenFromPDDoc)
#define AVDocPrintPages QUILL_CALL(gAcroViewHFT, gAcroViewVersion, QUILL_V(2, 0), AVDocPrintPages)
#define AVAlertNote QUILL_CALL(gAcroViewHFT, gAcroViewVersion, QUILL_V(2, 0), AVAlertNote)

// ---- Forms (no version check) ----
#define AFPDDocLoadPDFields QUILL_CALL(gAcroFormHFT, gAcroFormVersion, QUILL_ANY_VERSION, AFPDDocLoadPDFields)
#define AFPDDocEnumPDFields QUILL_CALL(gAcroFormHFT, gAcroFormVersion, QUILL_ANY_VERSION, AFPDDocEnumPDFields)
#define AFPDFieldIsValid QUILL_CALL(gAcroFormHFT, gAcroFormVersion, QUILL_ANY_VERSION, AFPDFieldIsValid)
#define AFPDFieldGetCosObj QUILL_CALL(gAcroFormHFT, gAcroFormVersion, QUILL_ANY_VERSION, AFPDFieldGetCosObj)
#define AFPDFieldGetName QUILL_CALL(gAcroFormHFT, gAcroFormVersion, QUILL_ANY_VERSION, AFPDFieldGetName)
#define AFPDFieldGetValue QUILL_CALL(gAcroFormHFT, gAcroFormVersion, QUILL_ANY_VERSION, AFPDFieldGetValue)
#define AFPDFieldSetValue QUILL_CALL(gAcroFormHFT, gAcroFormVersion, QUILL_ANY_VERSION, AFPDFieldSetValue)
#define ResetForm QUILL_CALL(gAcroFormHFT, gAcroFormVersion, QUILL_ANY_VERSION, ResetForm)
#define AFPDDocFindPDField QUILL_CALL(gAcroFormHFT, gAcroFormVersion, QUILL_ANY_VERSION, AFPDDocFindPDField)

// ---- Cos ----
#define CosNewNull QUILL_CALL(gCosHFT, gCosVersion, QUILL_V(2, 0), CosNewNull)
#define CosDictGetKeyString QUILL_CALL(gCosHFT, gCosVersion, QUILL_V(7, 0), CosDictGetKeyString)
#define CosObjGetType QUILL_CALL(gCosHFT, gCosVersion, QUILL_V(2, 0), CosObjGetType)
#define CosNameValue QUILL_CALL(gCosHFT, gCosVersion, QUILL_V(2, 0), CosNameValue)
#define CosObjGetDoc QUILL_CALL(gCosHFT, gCosVersion, QUILL_V(2, 0), CosObjGetDoc)
#define CosNewString QUILL_CALL(gCosHFT, gCosVersion, QUILL_V(2, 0), CosNewString)
#define CosCopyStringValue QUILL_CALL(gCosHFT, gCosVersion, QUILL_V(5, 0), CosCopyStringValue)

// ---- ASExtra ----
#define ASTextNew QUILL_CALL(gASExtraHFT, gASExtraVersion, QUILL_V(5, 0), ASTextNew)
#define ASTextFromEncoded QUILL_CALL(gASExtraHFT, gASExtraVersion, QUILL_V(5, 0), ASTextFromEncoded)
#define ASTextFromPDText QUILL_CALL(gASExtraHFT, gASExtraVersion, QUILL_V(5, 0), ASTextFromPDText)
#define ASTextCat QUILL_CALL(gASExtraHFT, gASExtraVersion, QUILL_V(5, 0), ASTextCat)
#define ASTextCmp QUILL_CALL(gASExtraHFT, gASExtraVersion, QUILL_V(6, 0), ASTextCmp)
#define ASTextGetUnicode QUILL_CALL(gASExtraHFT, gASExtraVersion, QUILL_V(5, 0), ASTextGetUnicode)
#define ASTextGetPDTextCopy QUILL_CALL(gASExtraHFT, gASExtraVersion, QUILL_V(5, 0), ASTextGetPDTextCopy)
#define ASTextDestroy QUILL_CALL(gASExtraHFT, gASExtraVersion, QUILL_V(5, 0), ASTextDestroy)

// A path name of type "CFURLRef" for a percent-escaped URL text (absolute,
// or relative to a volume or "~"). Raises when none can be made.
ASPathName pathNameFromURLText(const std::string& escapedURLText);
