// PDCalls: the PDModel table's calls (documents, pages, words, information).
#pragma once

#include "PDModelHFT.h"
#include "CorCalls.h"

extern "C" {
extern HFT gPDModelHFT;
extern ASUns32 gPDModelVersion;
}

#define PDDocOpenEx \
    (*((PDDocOpenExSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 2), PDDocOpenExSEL))))
#define PDDocOpen \
    (*((PDDocOpenSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), PDDocOpenSEL))))
#define PDDocCreate \
    (*((PDDocCreateSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), PDDocCreateSEL))))
#define PDDocSave \
    (*((PDDocSaveSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), PDDocSaveSEL))))
#define PDDocClose \
    (*((PDDocCloseSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), PDDocCloseSEL))))
#define PDDocGetFile \
    (*((PDDocGetFileSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), PDDocGetFileSEL))))
#define PDDocGetNumPages                                                                            \
    (*((PDDocGetNumPagesSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), \
                                                 PDDocGetNumPagesSEL))))
#define PDDocInsertPages                                                                            \
    (*((PDDocInsertPagesSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), \
                                                 PDDocInsertPagesSEL))))
#define PDDocDeletePages                                                                            \
    (*((PDDocDeletePagesSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), \
                                                 PDDocDeletePagesSEL))))
#define PDDocClearFlags                                                                            \
    (*((PDDocClearFlagsSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 1), \
                                                PDDocClearFlagsSEL))))
#define PDDocCreateWordFinderUCS                                                                            \
    (*((PDDocCreateWordFinderUCSSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 3), \
                                                         PDDocCreateWordFinderUCSSEL))))
#define PDWordFinderAcquireWordList                                                                            \
    (*((PDWordFinderAcquireWordListSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), \
                                                            PDWordFinderAcquireWordListSEL))))
#define PDWordFinderGetNthWord                                                                            \
    (*((PDWordFinderGetNthWordSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), \
                                                       PDWordFinderGetNthWordSEL))))
#define PDWordGetASText                                                                            \
    (*((PDWordGetASTextSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(6, 0), \
                                                PDWordGetASTextSEL))))
#define PDWordGetAttr \
    (*((PDWordGetAttrSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), PDWordGetAttrSEL))))
#define PDWordFinderReleaseWordList                                                                            \
    (*((PDWordFinderReleaseWordListSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), \
                                                            PDWordFinderReleaseWordListSEL))))
#define PDWordFinderDestroy                                                                            \
    (*((PDWordFinderDestroySELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(2, 0), \
                                                    PDWordFinderDestroySEL))))
#define PDDocGetInfoASText                                                                            \
    (*((PDDocGetInfoASTextSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(8, 0), \
                                                   PDDocGetInfoASTextSEL))))
#define PDDocSetInfoAsASText                                                                            \
    (*((PDDocSetInfoAsASTextSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(8, 0), \
                                                     PDDocSetInfoAsASTextSEL))))
#define PDDocPermRequest                                                                            \
    (*((PDDocPermRequestSELPROTO)(ASStandInEntry(gPDModelHFT, gPDModelVersion, ASVersionMake(5, 0), \
                                                 PDDocPermRequestSEL))))
