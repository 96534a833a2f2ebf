// FMWrapper: the FileMaker plug-in framework as a plug-in sees it — the call
// record, the message and version constants, and the fmx value classes —
// under the framework's own header names (FMWrapper/FMX*.h). This file only
// gathers them, for the host and the tests.
//
// One library (libFMWrapper) serves both sides: the host links it to build
// call records and values, the plug-in links it to read and write them, just
// as the real framework lives inside the host application.
//
// Value classes are plain C++ values (no shared state); nothing here takes a
// lock. Registration calls are forwarded to whichever host installed itself
// with fmx::host::setRegistrar (FMXCalcEngine.h).
#pragma once

#include "FMWrapper/FMXExtern.h"
#include "FMWrapper/FMXClient.h"
#include "FMWrapper/FMXTypes.h"
#include "FMWrapper/FMXText.h"
#include "FMWrapper/FMXFixPt.h"
#include "FMWrapper/FMXDateTime.h"
#include "FMWrapper/FMXBinaryData.h"
#include "FMWrapper/FMXData.h"
#include "FMWrapper/FMXCalcEngine.h"
