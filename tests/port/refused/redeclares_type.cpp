// A plug-in source that declares an SDK type name again: the check refuses it.
#include "FMWrapper/FMXExtern.h"

namespace fmx {
typedef short errcode;
}
