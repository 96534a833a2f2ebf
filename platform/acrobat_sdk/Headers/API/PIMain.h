// PIMain: the plug-in side of loading, as PIMain.c (compiled into every
// plug-in) provides it — the entry Acrobat looks up, SDK set-up with the
// table import, and the globals it fills.
//
// All globals here are written during loading, on Acrobat's main thread,
// before the plug-in's own code runs, and only read afterwards.
#pragma once

#include "CFBundle.h"
#include "CorCalls.h"
#include "PIRequir.h"
#include "PIVersn.h"

extern "C" {
extern CFBundleRef gPluginBundle;  // retained
extern CFBundleRef gAppBundle;     // retained

// Imports the table `name` at `minimum` or, when Acrobat does not say its
// tables' versions, at the first fallback version not below it. Stores the
// table and its version (0 when none); true when one was found.
ASBool GetRequestedHFT(const char* name, ASVersion minimum, ASVersion* versionFound, HFT* hftFound);

ACCB1 ASBool ACCB2 PISetupSDK(ASUns32 handshakeVersion, void* sdkData);

// The entry Acrobat looks up by name.
ACCB1 ASBool ACCB2 AcroPluginMain(ASUns32 appHandshakeVersion, ASUns32* handshakeVersion, PISetupSDKProcType* setupProc,
                                  PluginMainData* mainData);
short GetAcroPluginResourceMap(void);
}
