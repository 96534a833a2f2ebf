// AVCalls: the AcroView table's calls (document windows, alerts, printing).
#pragma once

#include "AcroViewHFT.h"
#include "CorCalls.h"

extern "C" {
extern HFT gAcroViewHFT;
extern ASUns32 gAcroViewVersion;
}

#define AVAppGetActiveDoc                                                                              \
    (*((AVAppGetActiveDocSELPROTO)(ASStandInEntry(gAcroViewHFT, gAcroViewVersion, ASVersionMake(2, 0), \
                                                  AVAppGetActiveDocSEL))))
#define AVDocGetPDDoc \
    (*((AVDocGetPDDocSELPROTO)(ASStandInEntry(gAcroViewHFT, gAcroViewVersion, ASVersionMake(2, 0), AVDocGetPDDocSEL))))
#define AVDocClose \
    (*((AVDocCloseSELPROTO)(ASStandInEntry(gAcroViewHFT, gAcroViewVersion, ASVersionMake(2, 0), AVDocCloseSEL))))
#define AVDocClearSelection                                                                              \
    (*((AVDocClearSelectionSELPROTO)(ASStandInEntry(gAcroViewHFT, gAcroViewVersion, ASVersionMake(2, 0), \
                                                    AVDocClearSelectionSEL))))
#define AVDocOpenFromPDDoc                                                                              \
    (*((AVDocOpenFromPDDocSELPROTO)(ASStandInEntry(gAcroViewHFT, gAcroViewVersion, ASVersionMake(6, 0), \
                                                   AVDocOpenFromPDDocSEL))))
#define AVDocPrintPages                                                                              \
    (*((AVDocPrintPagesSELPROTO)(ASStandInEntry(gAcroViewHFT, gAcroViewVersion, ASVersionMake(2, 0), \
                                                AVDocPrintPagesSEL))))
#define AVAlertNote \
    (*((AVAlertNoteSELPROTO)(ASStandInEntry(gAcroViewHFT, gAcroViewVersion, ASVersionMake(2, 0), AVAlertNoteSEL))))
