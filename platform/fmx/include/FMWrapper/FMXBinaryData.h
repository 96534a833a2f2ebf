// FMWrapper/FMXBinaryData.h: container values. This host keeps no container
// fields, so a BinaryData is never handed to a plug-in; the class is only
// named, for declarations that mention it.
#pragma once

#include "FMWrapper/FMXClient.h"
