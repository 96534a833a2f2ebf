// AcroSDK: everything of the plug-in SDK in one include.
#pragma once

#include "ASTypes.h"
#include "AcroErr.h"
#include "PIVersn.h"
#include "CoreHFT.h"
#include "AcroSupportHFT.h"
#include "PDModelHFT.h"
#include "AcroViewHFT.h"
#include "AF_Sel.h"
#include "CosHFT.h"
#include "ASExtraHFT.h"
#include "OtherHFTs.h"
