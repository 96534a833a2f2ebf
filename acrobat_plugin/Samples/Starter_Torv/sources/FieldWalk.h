// FieldWalk: the walk over a document's form fields and its three visitors
// (set a value, get a value, list the names), shared by the field handlers.
//
// Outcome of a walk: fieldFound, the client data and possibly gPdDoc (the
// walk adopts the active window's document as the working document).
#pragma once

#include "FormsHFT.h"
#include "PIHeaders.h"

// Client data of the three field visitors (owned by the handler that starts
// the walk, which creates and destroys the text objects in it).
struct SetFieldClientData {
    ASText name;
    ASText value;
    // Error of the last failed store into a matching field; 0 once a store
    // succeeded. Lets the set handler report a failed store instead of "OK".
    ASErrorCode storeError;
};

struct GetFieldClientData {
    ASText name;
    ASText value;  // out: null on entry; created by the visitor
};

struct FieldNamesClientData {
    ASBool withValues;
    ASText list;  // created empty by the handler; only appended to by the visitor
};

// A field visitor: non-zero to go on with the next field, zero to stop.
using FieldEnumProc = ASBool (*)(PDField field, void* clientData);

// Walks the fields of the front window's document (which then becomes the
// working document) or of the working document. With `name` (a visitor that
// acts only on the field of that full name), the field the Forms layer finds
// under that name is offered first; the full walk follows only when the
// visitor goes on from it, so the outcome is the full walk's.
void doEnumFields(void* clientData, FieldEnumProc proc, ASText name = nullptr);
ASBool setFieldEnumProc(PDField field, void* clientData);
ASBool getFieldEnumProc(PDField field, void* clientData);
ASBool getFieldNamesEnumProc(PDField field, void* clientData);
