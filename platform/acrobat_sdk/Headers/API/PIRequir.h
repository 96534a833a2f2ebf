// PIRequir: the lowest version of each table the plug-in needs; PIMain.c
// imports every table at its version and refuses to load without it. A
// plug-in may define any of these before the SDK headers to ask for more.
#pragma once

#include "ASTypes.h"

#ifndef PI_CORE_VERSION
#define PI_CORE_VERSION ASVersionMake(5, 0)
#endif
#ifndef PI_ACROSUPPORT_VERSION
#define PI_ACROSUPPORT_VERSION ASVersionMake(8, 0)
#endif
#ifndef PI_COS_VERSION
#define PI_COS_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_PDMODEL_VERSION
#define PI_PDMODEL_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_PDFEDIT_WRITE_VERSION
#define PI_PDFEDIT_WRITE_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_PDFEDIT_READ_VERSION
#define PI_PDFEDIT_READ_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_PDSYSFONT_VERSION
#define PI_PDSYSFONT_VERSION ASVersionMake(4, 0)
#endif
#ifndef PI_PAGE_PDE_CONTENT_VERSION
#define PI_PAGE_PDE_CONTENT_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_ACROVIEW_VERSION
#define PI_ACROVIEW_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_PDSEDIT_WRITE_VERSION
#define PI_PDSEDIT_WRITE_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_PDSEDIT_READ_VERSION
#define PI_PDSEDIT_READ_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_MACINTOSH_VERSION
#define PI_MACINTOSH_VERSION ASVersionMake(2, 2)
#endif
#ifndef PI_ASEXTRA_VERSION
#define PI_ASEXTRA_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_PDMETADATA_VERSION
#define PI_PDMETADATA_VERSION ASVersionMake(6, 0)
#endif
#ifndef PI_ACROCOLOR_VERSION
#define PI_ACROCOLOR_VERSION ASVersionMake(6, 0)
#endif
