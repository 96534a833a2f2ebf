// PIHeaders: everything a plug-in source needs of the SDK in one include —
// types, errors, the load structures and the calls of the core tables. The
// Forms table's calls come with FormsHFT.h (a plug-in's table, not Acrobat's).
#pragma once

#include "ASTypes.h"
#include "AcroErr.h"
#include "PIVersn.h"
#include "PIRequir.h"
#include "CorCalls.h"
#include "ASCalls.h"
#include "PDCalls.h"
#include "AVCalls.h"
#include "CosCalls.h"
#include "ASExtraCalls.h"
#include "OtherHFTs.h"
