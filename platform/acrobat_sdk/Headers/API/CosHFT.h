// CosHFT: the "Cos" table — the low-level objects of a PDF file.
// Selectors are append-only.
#pragma once

#include "ASTypes.h"

#define CosHFTName "Cos"
#define CosHFT_VERSION_2 ASVersionMake(2, 0)
#define CosHFT_VERSION_4 ASVersionMake(4, 0)
#define CosHFT_VERSION_5 ASVersionMake(5, 0)
#define CosHFT_VERSION_6 ASVersionMake(6, 0)
#define CosHFT_VERSION_7 ASVersionMake(7, 0)
#define CosHFT_VERSION_8 ASVersionMake(8, 0)
#define CosHFT_VERSION_9 ASVersionMake(9, 0)
#define CosHFT_LATEST_VERSION CosHFT_VERSION_9

typedef ASInt32 CosType;
enum {
    CosNull = 0,
    CosInteger = 1,
    CosFixed = 2,
    CosReal = 2,
    CosBoolean = 3,
    CosName = 4,
    CosString = 5,
    CosDict = 6,
    CosArray = 7,
    CosStream = 8
};

enum {
    CosBAD_SELECTOR = 0,
    CosNewNullSEL,
    CosDictGetKeyStringSEL,
    CosObjGetTypeSEL,
    CosNameValueSEL,
    CosObjGetDocSEL,
    CosNewStringSEL,
    CosCopyStringValueSEL,
    CosNUMSELECTORSplusOne
};
#define CosNUMSELECTORS (CosNUMSELECTORSplusOne - 1)

typedef ACCBPROTO1 CosObj(ACCBPROTO2* CosNewNullSELPROTO)(void);
// The entry's value, a null object when absent.
typedef ACCBPROTO1 CosObj(ACCBPROTO2* CosDictGetKeyStringSELPROTO)(CosObj dict, const char* key);
typedef ACCBPROTO1 CosType(ACCBPROTO2* CosObjGetTypeSELPROTO)(CosObj obj);
typedef ACCBPROTO1 ASAtom(ACCBPROTO2* CosNameValueSELPROTO)(CosObj obj);
typedef ACCBPROTO1 CosDoc(ACCBPROTO2* CosObjGetDocSELPROTO)(CosObj obj);
typedef ACCBPROTO1 CosObj(ACCBPROTO2* CosNewStringSELPROTO)(CosDoc dP, ASBool indirect, const char* str,
                                                            ASTArraySize nBytes);
// A zero-terminated copy of the string's bytes, freed with ASfree; nBytes may be null.
typedef ACCBPROTO1 char*(ACCBPROTO2* CosCopyStringValueSELPROTO)(CosObj obj, ASTCount* nBytes);
