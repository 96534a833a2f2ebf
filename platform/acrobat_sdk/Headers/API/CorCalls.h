// CorCalls: the Core table's calls, and the exception frame every plug-in
// call into Acrobat runs in (DURING / HANDLER / END_HANDLER).
//
// Each call goes through the table imported at set-up. The real SDK only
// asserts (in debug builds) that the table is at least the version a call
// needs; this stand-in checks it always: a table that is missing, older than
// the call's version, or lacks the entry makes the call raise "method not
// implemented" through Acrobat, so the caller's frame takes it as any other
// Acrobat exception.
#pragma once

#include "CoreHFT.h"
#include "AcroErr.h"
#include "PICommon.h"

extern "C" {
extern HFT gCoreHFT;
extern ASUns32 gCoreVersion;
}

// ---- exception frame ---------------------------------------------------------
// ASRaise calls the restore procedure of the innermost frame, which throws
// _miExceptionInfo; the handler's own code unwinds like any C++ exception.
// The frame object pops its frame when it goes out of scope, on the normal
// path and while unwinding. The code being handled is asked of Acrobat
// (ERRORCODE), not carried by the exception.

struct _miExceptionInfo {
    _miExceptionInfo() {}
    int dummy;
};

// Defined by PIMain.c.
extern "C" ACCB1 void ACCB2 miThrowExceptionToHandler(void* asEnviron);

// The stand-in's version check of a call (see above): the table entry, or a
// raise of genErrMethodNotImplemented. Never returns null.
[[noreturn]] inline void ASStandInRaiseNotImplemented() {
    const ASErrorCode code = ErrBuildCode(ErrAlways, ErrSysNone, genErrMethodNotImplemented);
    if (gCoreHFT && gCoreHFT[ASRaiseSEL]) (*((ASRaiseSELPROTO)(gCoreHFT[ASRaiseSEL])))(code);
    throw _miExceptionInfo();  // no frame took it
}

inline HFTEntry ASStandInEntry(HFT table, ASVersion have, ASVersion need, Selector sel) {
    if (!table || have < need || !table[sel]) ASStandInRaiseNotImplemented();
    return table[sel];
}

// ---- calls -------------------------------------------------------------------
#define ASAtomFromString \
    (*((ASAtomFromStringSELPROTO)(ASStandInEntry(gCoreHFT, gCoreVersion, ASVersionMake(2, 0), ASAtomFromStringSEL))))
#define ASAtomGetString \
    (*((ASAtomGetStringSELPROTO)(ASStandInEntry(gCoreHFT, gCoreVersion, ASVersionMake(2, 0), ASAtomGetStringSEL))))
#define ASCallbackCreate(proc)                                                                                         \
    (*((ASCallbackCreateSELPROTO)(ASStandInEntry(gCoreHFT, gCoreVersion, ASVersionMake(2, 0), ASCallbackCreateSEL))))( \
        gExtensionID, (void*)(proc))
#define ASExtensionMgrGetHFT                                                                      \
    (*((ASExtensionMgrGetHFTSELPROTO)(ASStandInEntry(gCoreHFT, gCoreVersion, ASVersionMake(2, 0), \
                                                     ASExtensionMgrGetHFTSEL))))
#define ASPushExceptionFrame                                                                      \
    (*((ASPushExceptionFrameSELPROTO)(ASStandInEntry(gCoreHFT, gCoreVersion, ASVersionMake(2, 0), \
                                                     ASPushExceptionFrameSEL))))
#define ASPopExceptionFrame                                                                      \
    (*((ASPopExceptionFrameSELPROTO)(ASStandInEntry(gCoreHFT, gCoreVersion, ASVersionMake(2, 0), \
                                                    ASPopExceptionFrameSEL))))
#define ASGetExceptionErrorCode                                                                      \
    (*((ASGetExceptionErrorCodeSELPROTO)(ASStandInEntry(gCoreHFT, gCoreVersion, ASVersionMake(2, 0), \
                                                        ASGetExceptionErrorCodeSEL))))

// Raises `err` through Acrobat; when no frame takes it, throws.
#define ASRaiseImpl (*((ASRaiseSELPROTO)(ASStandInEntry(gCoreHFT, gCoreVersion, ASVersionMake(2, 0), ASRaiseSEL))))
#define ASRaise(err) (ASRaiseImpl(err), throw 0)

#define ASCallbackCreateProto(funcType, proc) ((funcType)ASCallbackCreate((void*)(proc)))

struct _miExceptionPushPop {
    _miExceptionPushPop() { ASPushExceptionFrame(NULL, (ACRestoreEnvironProc)&miThrowExceptionToHandler); }
    ~_miExceptionPushPop() { ASPopExceptionFrame(); }
};

#define DURING \
    {          \
        try {  \
            _miExceptionPushPop __exceptionPushPop;
#define HANDLER \
    }           \
    catch (_miExceptionInfo) {
#define END_HANDLER \
    }               \
    }
#define ERRORCODE (ASGetExceptionErrorCode())
#define E_RETURN(x) \
    { return (x); }
#define E_RTRN_VOID \
    { return; }
