// A plug-in source that writes an SDK macro itself: the check refuses it.
#include "PIHeaders.h"

#undef ERRORCODE
#define ERRORCODE (ASGetExceptionErrorCode())
