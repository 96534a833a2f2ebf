// Probe: what the probe plug-in is told to do and what it saw, shared with
// the tests through the exported ProbeGetState().
#pragma once

#include "AcroSDK.h"

struct ProbeRequest {
    char name[32];
    ASVersion minimum;
    ASVersion found;  // out
    bool ok;          // out
};

enum ProbeStep { kStepEntry = 1, kStepSetup, kStepHandshake, kStepExport, kStepImport, kStepInit, kStepUnload };

struct ProbeState {
    // Told: tables to import at set-up (after AcroSupport), and what init does.
    ASVersion acroSupportMinimum;  // 0: 6.0
    int requestCount;
    ProbeRequest requests[8];
    bool importForms;        // the import callback imports "Forms" 1.2
    bool raiseInInit;        // init makes the host raise inside a frame
    bool raiseWithoutFrame;  // init makes the host raise with no frame of its own

    // Seen.
    int steps[16];
    int stepCount;
    ASUns32 offeredHandshake;
    ASUns32 sdkHandshake;
    ASVersion acroSupportVersion;
    bool formsFound;
    int caughtCount;
    ASErrorCode caughtCodes[4];
    char caughtTexts[4][256];
    bool pastRaiseWithoutFrame;  // true would mean the raise came back
};

typedef ProbeState* (*ProbeGetStateProc)(void);
