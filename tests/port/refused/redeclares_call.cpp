// A plug-in source that declares an SDK global again: the check refuses it.
#include "PIHeaders.h"

extern "C" {
extern HFT gCoreHFT;
}
