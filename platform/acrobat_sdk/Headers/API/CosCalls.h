// CosCalls: the Cos table's calls (low-level PDF objects).
#pragma once

#include "CosHFT.h"
#include "CorCalls.h"

extern "C" {
extern HFT gCosHFT;
extern ASUns32 gCosVersion;
}

#define CosNewNull (*((CosNewNullSELPROTO)(ASStandInEntry(gCosHFT, gCosVersion, ASVersionMake(2, 0), CosNewNullSEL))))
#define CosDictGetKeyString                                                                    \
    (*((CosDictGetKeyStringSELPROTO)(ASStandInEntry(gCosHFT, gCosVersion, ASVersionMake(7, 0), \
                                                    CosDictGetKeyStringSEL))))
#define CosObjGetType \
    (*((CosObjGetTypeSELPROTO)(ASStandInEntry(gCosHFT, gCosVersion, ASVersionMake(2, 0), CosObjGetTypeSEL))))
#define CosNameValue \
    (*((CosNameValueSELPROTO)(ASStandInEntry(gCosHFT, gCosVersion, ASVersionMake(2, 0), CosNameValueSEL))))
#define CosObjGetDoc \
    (*((CosObjGetDocSELPROTO)(ASStandInEntry(gCosHFT, gCosVersion, ASVersionMake(2, 0), CosObjGetDocSEL))))
#define CosNewString \
    (*((CosNewStringSELPROTO)(ASStandInEntry(gCosHFT, gCosVersion, ASVersionMake(2, 0), CosNewStringSEL))))
#define CosCopyStringValue \
    (*((CosCopyStringValueSELPROTO)(ASStandInEntry(gCosHFT, gCosVersion, ASVersionMake(5, 0), CosCopyStringValueSEL))))
