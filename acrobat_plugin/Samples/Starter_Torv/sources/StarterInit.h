// StarterInit: the handshake of QuillmarkAcro and its four life-cycle
// callbacks (export, import and register, init, unload).
#pragma once

#include "FormsHFT.h"
#include "PIHeaders.h"

// The version of the Forms table imported into gAcroFormHFT (0: none).
extern ASVersion gAcroFormVersion;

ACCB1 ASBool ACCB2 PluginExportHFTs(void);
// Imports the Forms table at 1.2 into gAcroFormHFT; false when Acrobat has none.
ACCB1 ASBool ACCB2 PluginImportReplaceAndRegister(void);
// Creates the one MyEventHandler, which registers the bridge events.
ACCB1 ASBool ACCB2 PluginInit(void);
ACCB1 ASBool ACCB2 PluginUnload(void);
