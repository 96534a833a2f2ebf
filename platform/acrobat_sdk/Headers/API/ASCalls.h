// ASCalls: the AcroSupport table's calls (errors, files, path names, memory,
// table versions).
#pragma once

#include "AcroSupportHFT.h"
#include "CorCalls.h"

extern "C" {
extern HFT gAcroSupportHFT;
extern ASUns32 gAcroSupportVersion;
}

#define ASGetErrorString                                                                                    \
    (*((ASGetErrorStringSELPROTO)(ASStandInEntry(gAcroSupportHFT, gAcroSupportVersion, ASVersionMake(0, 0), \
                                                 ASGetErrorStringSEL))))
#define ASGetDefaultFileSys                                                                                    \
    (*((ASGetDefaultFileSysSELPROTO)(ASStandInEntry(gAcroSupportHFT, gAcroSupportVersion, ASVersionMake(0, 0), \
                                                    ASGetDefaultFileSysSEL))))
#define ASFileSysCreatePathName                                                                                    \
    (*((ASFileSysCreatePathNameSELPROTO)(ASStandInEntry(gAcroSupportHFT, gAcroSupportVersion, ASVersionMake(2, 2), \
                                                        ASFileSysCreatePathNameSEL))))
#define ASFileSysReleasePath                                                                                    \
    (*((ASFileSysReleasePathSELPROTO)(ASStandInEntry(gAcroSupportHFT, gAcroSupportVersion, ASVersionMake(0, 0), \
                                                     ASFileSysReleasePathSEL))))
#define ASFileAcquirePathName                                                                                    \
    (*((ASFileAcquirePathNameSELPROTO)(ASStandInEntry(gAcroSupportHFT, gAcroSupportVersion, ASVersionMake(0, 0), \
                                                      ASFileAcquirePathNameSEL))))
#define ASfree \
    (*((ASfreeSELPROTO)(ASStandInEntry(gAcroSupportHFT, gAcroSupportVersion, ASVersionMake(0, 0), ASfreeSEL))))
#define HFTGetVersion                                                                                    \
    (*((HFTGetVersionSELPROTO)(ASStandInEntry(gAcroSupportHFT, gAcroSupportVersion, ASVersionMake(0, 0), \
                                              HFTGetVersionSEL))))
