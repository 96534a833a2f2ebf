// AcroErr: error codes. A code holds a severity (bits 28-31), an error system
// (bits 16-23) and a number (bits 0-15); callers compare system and number,
// never the severity.
#pragma once

#include "ASTypes.h"

#define ErrBuildCode(severity, sys, error) \
    ((ASErrorCode)((((ASUns32)(severity)) << 28) | (((ASUns32)(sys)) << 16) | (((ASUns32)(error)) & 0xFFFFu)))
#define ErrGetSeverity(code) ((ASInt32)((((ASUns32)(code)) & 0xF0000000u) >> 28))
#define ErrGetSystem(code) ((ASInt32)((((ASUns32)(code)) & 0x00FF0000u) >> 16))
#define ErrGetCode(code) ((ASInt32)(((ASUns32)(code)) & 0x0000FFFFu))
#define ErrGetSignedCode(code) ((ASInt16)ErrGetCode(code))
// The code without its severity: what tells two errors apart.
#define ErrGetSystemAndCode(code) ((ASErrorCode)(((ASUns32)(code)) & 0x00FFFFFFu))

// Severities.
enum { ErrNoError = 0, ErrWarning = 1, ErrSuppressable = 2, ErrSilent = 3, ErrAlways = 4 };

// Error systems.
enum {
    ErrSysNone = 0,
    ErrSysCos = 1,
    ErrSysCosSyntax = 2,
    ErrSysPDDoc = 3,
    ErrSysPDPage = 4,
    ErrSysPDModel = 5,
    ErrSysAcroView = 6,
    ErrSysPage = 7,
    ErrSysFontSvr = 8,
    ErrSysRaster = 9,
    ErrSysASFile = 10,
    ErrSysXtnMgr = 11,
    ErrSysXtn = 12,
    ErrSysMDSystem = 13,
    ErrSysMDApp = 14,
    ErrSysPDFX = 15,
    ErrSysPDFEdit = 16,
    ErrSysPDSEdit = 17,
    ErrSysPDMetadata = 18
};

// General errors (system ErrSysNone).
enum {
    genErrNoError = 0,
    genErrGeneral = 1,
    genErrNoMemory = 2,
    genErrBadParm = 3,
    genErrListOverflow = 4,
    genErrBadUnlock = 5,
    genErrExceptionStackOverflow = 6,
    genErrResourceLoadFailed = 7,
    genErrNameAlreadyRegistered = 8,
    genErrMethodNotImplemented = 9,
    genErrCanceled = 10
};

// Document errors (system ErrSysPDDoc).
enum {
    pdErrUnableToOpenDoc = 12,
    pdErrIsFileLocked = 13,
    pdErrUnableToWrite = 14,
    pdErrUnableToRead = 17,
    pdErrUnknownFileType = 18,
    pdErrTooManyPagesForInsert = 22,
    pdErrNeedRebuild = 29,
    pdErrNeedPassword = 39,
    pdErrOpNotPermitted = 40,
    pdErrCantUseNewVersion = 47,
    pdErrWhileRecoverInsertPages = 54,
    pdErrNotValidPage = 73,
    pdErrInvalidPageNumber = 75
};

// File errors (system ErrSysASFile). Their numbers stay clear of the general
// and document numbers that the append reply reads by their low 16 bits alone
// (2, 3, 22, 40, 47, 54): a missing file or a full disk must not read as
// "insufficient memory" or "bad parameter".
enum {
    fileErrGeneral = 1,
    fileErrFNF = 7,
    fileErrDiskFull = 9,
    fileErrIO = 4,
    fileErrWrite = 8,
    fileErrPermission = 6,
    fileErrBadName = 19,
    fileErrIsDirectory = 14
};

#define GenError(e) ErrBuildCode(ErrAlways, ErrSysNone, (e))
#define PDDocError(e) ErrBuildCode(ErrSuppressable, ErrSysPDDoc, (e))
#define PDDocErrorAlways(e) ErrBuildCode(ErrAlways, ErrSysPDDoc, (e))
#define ASFileError(e) ErrBuildCode(ErrAlways, ErrSysASFile, (e))

#define ERR_GENERAL GenError(genErrGeneral)
#define ERR_NOMEMORY GenError(genErrNoMemory)
