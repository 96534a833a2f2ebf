// ASExtraCalls: the ASExtra table's calls (text objects).
#pragma once

#include "ASExtraHFT.h"
#include "CorCalls.h"

extern "C" {
extern HFT gASExtraHFT;
extern ASUns32 gASExtraVersion;
}

#define ASTextNew \
    (*((ASTextNewSELPROTO)(ASStandInEntry(gASExtraHFT, gASExtraVersion, ASVersionMake(5, 0), ASTextNewSEL))))
#define ASTextFromEncoded                                                                            \
    (*((ASTextFromEncodedSELPROTO)(ASStandInEntry(gASExtraHFT, gASExtraVersion, ASVersionMake(5, 0), \
                                                  ASTextFromEncodedSEL))))
#define ASTextFromPDText                                                                            \
    (*((ASTextFromPDTextSELPROTO)(ASStandInEntry(gASExtraHFT, gASExtraVersion, ASVersionMake(5, 0), \
                                                 ASTextFromPDTextSEL))))
#define ASTextCat \
    (*((ASTextCatSELPROTO)(ASStandInEntry(gASExtraHFT, gASExtraVersion, ASVersionMake(5, 0), ASTextCatSEL))))
#define ASTextCmp \
    (*((ASTextCmpSELPROTO)(ASStandInEntry(gASExtraHFT, gASExtraVersion, ASVersionMake(6, 0), ASTextCmpSEL))))
#define ASTextGetUnicode                                                                            \
    (*((ASTextGetUnicodeSELPROTO)(ASStandInEntry(gASExtraHFT, gASExtraVersion, ASVersionMake(5, 0), \
                                                 ASTextGetUnicodeSEL))))
#define ASTextGetPDTextCopy                                                                            \
    (*((ASTextGetPDTextCopySELPROTO)(ASStandInEntry(gASExtraHFT, gASExtraVersion, ASVersionMake(5, 0), \
                                                    ASTextGetPDTextCopySEL))))
#define ASTextDestroy \
    (*((ASTextDestroySELPROTO)(ASStandInEntry(gASExtraHFT, gASExtraVersion, ASVersionMake(5, 0), ASTextDestroySEL))))
#define ASTextFromUnicode                                                                            \
    (*((ASTextFromUnicodeSELPROTO)(ASStandInEntry(gASExtraHFT, gASExtraVersion, ASVersionMake(5, 0), \
                                                  ASTextFromUnicodeSEL))))
