// AF_Sel: the "Forms" table (AcroForm) — form fields of a document — as
// selectors and prototypes. Selectors are append-only.
#pragma once

#include "ASTypes.h"

#define FormsHFTName "Forms"
#define AcroFormHFT_NAME FormsHFTName
#define AcroFormHFT_VERSION_1_2 ASVersionMake(1, 2)
#define AcroFormHFT_VERSION_5 ASVersionMake(5, 0)
#define AcroFormHFT_VERSION_6 ASVersionMake(6, 0)
#define AcroFormHFT_VERSION_9 ASVersionMake(9, 0)
// What plug-ins ask for, as the SDK has it: 1.2 (later tables serve it too).
#define AcroFormHFT_LATEST_VERSION AcroFormHFT_VERSION_1_2

// Visitor of AFPDDocEnumPDFields: false stops the walk.
typedef ACCBPROTO1 ASBool(ACCBPROTO2* AFPDFieldEnumProc)(PDField field, void* clientData);

enum {
    FormsBAD_SELECTOR = 0,
    AFPDDocLoadPDFields_SEL,
    AFPDDocEnumPDFields_SEL,
    AFPDFieldIsValid_SEL,
    AFPDFieldGetCosObj_SEL,
    AFPDFieldGetName_SEL,
    AFPDFieldGetValue_SEL,
    AFPDFieldSetValue_SEL,
    ResetForm_SEL,
    AFPDDocGetPDFieldFromName_SEL,
    FormsNUMSELECTORSplusOne
};
#define FormsNUMSELECTORS (FormsNUMSELECTORSplusOne - 1)

typedef ACCBPROTO1 void(ACCBPROTO2* AFPDDocLoadPDFields_SELPROTO)(PDDoc doc);
// terminals: only fields without kids; parameterIgnored is ignored.
typedef ACCBPROTO1 void(ACCBPROTO2* AFPDDocEnumPDFields_SELPROTO)(PDDoc doc, ASBool terminals, ASBool parameterIgnored,
                                                                  AFPDFieldEnumProc proc, void* clientData);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* AFPDFieldIsValid_SELPROTO)(PDField field);
typedef ACCBPROTO1 CosObj(ACCBPROTO2* AFPDFieldGetCosObj_SELPROTO)(PDField field);
// The fully qualified name as PDF text, owned by the Forms layer.
typedef ACCBPROTO1 char*(ACCBPROTO2* AFPDFieldGetName_SELPROTO)(PDField field);
typedef ACCBPROTO1 CosObj(ACCBPROTO2* AFPDFieldGetValue_SELPROTO)(PDField field);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* AFPDFieldSetValue_SELPROTO)(PDField field, CosObj value);
// fields: CosNewNull() for every field, or an array of field names.
typedef ACCBPROTO1 void(ACCBPROTO2* ResetForm_SELPROTO)(PDDoc doc, CosObj fields, ASBool include);
// The first field AFPDDocEnumPDFields(doc, false, ...) would offer whose fully qualified name is
// `name` (PDF text: PDFDocEncoding, or UTF-16BE after FE FF); NULL when there is none. Found
// through an index of the field tree, not by visiting the fields.
typedef ACCBPROTO1 PDField(ACCBPROTO2* AFPDDocGetPDFieldFromName_SELPROTO)(PDDoc doc, char* name);
