// FormsHFT: the "Forms" table (AcroForm) — form fields of a document.
// Selectors are append-only.
#pragma once

#include "ASTypes.h"

#define FormsHFTName "Forms"
#define AcroFormHFT_VERSION_1_2 ASVersionMake(1, 2)
#define AcroFormHFT_VERSION_5 ASVersionMake(5, 0)
#define AcroFormHFT_VERSION_6 ASVersionMake(6, 0)
#define AcroFormHFT_VERSION_9 ASVersionMake(9, 0)
#define AcroFormHFT_LATEST_VERSION AcroFormHFT_VERSION_9

// Visitor of AFPDDocEnumPDFields: false stops the walk.
typedef ACCBPROTO1 ASBool(ACCBPROTO2* AFPDFieldEnumProc)(PDField field, void* clientData);

enum {
    FormsBAD_SELECTOR = 0,
    AFPDDocLoadPDFieldsSEL,
    AFPDDocEnumPDFieldsSEL,
    AFPDFieldIsValidSEL,
    AFPDFieldGetCosObjSEL,
    AFPDFieldGetNameSEL,
    AFPDFieldGetValueSEL,
    AFPDFieldSetValueSEL,
    ResetFormSEL,
    AFPDDocFindPDFieldSEL,
    FormsNUMSELECTORSplusOne
};
#define FormsNUMSELECTORS (FormsNUMSELECTORSplusOne - 1)

typedef ACCBPROTO1 void(ACCBPROTO2* AFPDDocLoadPDFieldsSELPROTO)(PDDoc doc);
// terminals: only fields without kids; parameterIgnored is ignored.
typedef ACCBPROTO1 void(ACCBPROTO2* AFPDDocEnumPDFieldsSELPROTO)(PDDoc doc, ASBool terminals, ASBool parameterIgnored,
                                                                 AFPDFieldEnumProc proc, void* clientData);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* AFPDFieldIsValidSELPROTO)(PDField field);
typedef ACCBPROTO1 CosObj(ACCBPROTO2* AFPDFieldGetCosObjSELPROTO)(PDField field);
// The fully qualified name as PDF text, owned by the Forms layer.
typedef ACCBPROTO1 char*(ACCBPROTO2* AFPDFieldGetNameSELPROTO)(PDField field);
typedef ACCBPROTO1 CosObj(ACCBPROTO2* AFPDFieldGetValueSELPROTO)(PDField field);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* AFPDFieldSetValueSELPROTO)(PDField field, CosObj value);
// fields: CosNewNull() for every field, or an array of field names.
typedef ACCBPROTO1 void(ACCBPROTO2* ResetFormSELPROTO)(PDDoc doc, CosObj fields, ASBool include);
// The first field AFPDDocEnumPDFields(doc, false, ...) would offer whose fully qualified name is
// `name` (zero-terminated UTF-16 units, compared unit by unit); NULL when there is none. Found
// through an index of the field tree, not by visiting the fields.
typedef ACCBPROTO1 PDField(ACCBPROTO2* AFPDDocFindPDFieldSELPROTO)(PDDoc doc, const ASUTF16Val* name);
