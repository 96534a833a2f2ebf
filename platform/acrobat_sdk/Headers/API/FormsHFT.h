// FormsHFT: the calls of the "Forms" table (AcroForm) for plug-ins. The
// plug-in defines gAcroFormHFT and imports the table itself (the Forms table
// belongs to a plug-in, not to Acrobat's core). No version check: the table
// is imported at the version every call here needs.
#pragma once

#include "AF_Sel.h"
#include "CorCalls.h"

extern "C" {
extern HFT gAcroFormHFT;
}

#define Init_AcroFormHFT ASExtensionMgrGetHFT(ASAtomFromString(AcroFormHFT_NAME), AcroFormHFT_LATEST_VERSION)

#define AFPDDocLoadPDFields \
    (*((AFPDDocLoadPDFields_SELPROTO)(ASStandInEntry(gAcroFormHFT, 0, 0, AFPDDocLoadPDFields_SEL))))
#define AFPDDocEnumPDFields \
    (*((AFPDDocEnumPDFields_SELPROTO)(ASStandInEntry(gAcroFormHFT, 0, 0, AFPDDocEnumPDFields_SEL))))
#define AFPDDocGetPDFieldFromName \
    (*((AFPDDocGetPDFieldFromName_SELPROTO)(ASStandInEntry(gAcroFormHFT, 0, 0, AFPDDocGetPDFieldFromName_SEL))))
#define AFPDFieldIsValid (*((AFPDFieldIsValid_SELPROTO)(ASStandInEntry(gAcroFormHFT, 0, 0, AFPDFieldIsValid_SEL))))
#define AFPDFieldGetCosObj \
    (*((AFPDFieldGetCosObj_SELPROTO)(ASStandInEntry(gAcroFormHFT, 0, 0, AFPDFieldGetCosObj_SEL))))
#define AFPDFieldGetName (*((AFPDFieldGetName_SELPROTO)(ASStandInEntry(gAcroFormHFT, 0, 0, AFPDFieldGetName_SEL))))
#define AFPDFieldGetValue (*((AFPDFieldGetValue_SELPROTO)(ASStandInEntry(gAcroFormHFT, 0, 0, AFPDFieldGetValue_SEL))))
#define AFPDFieldSetValue (*((AFPDFieldSetValue_SELPROTO)(ASStandInEntry(gAcroFormHFT, 0, 0, AFPDFieldSetValue_SEL))))
#define ResetForm (*((ResetForm_SELPROTO)(ASStandInEntry(gAcroFormHFT, 0, 0, ResetForm_SEL))))
