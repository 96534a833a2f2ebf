// OtherHFTs: the tables a plug-in imports but calls nothing of; each is
// offered with its name and version only (its BAD selector).
#pragma once

#include "ASTypes.h"

#define PDFEditWriteHFTName "PDFEditWrite"
#define PDFEditReadHFTName "PDFEditRead"
#define PDSysFontHFTName "PDSysFont"
#define PagePDEContentHFTName "PagePDEContent"
#define PDSWriteHFTName "PDSWrite"
#define PDSReadHFTName "PDSRead"
#define MacintoshHFTName "Macintosh"
#define PDMetadataHFTName "PDMetadata"
#define AcroColorHFTName "AcroColorHFT"

#define MacintoshHFT_VERSION_2_2 ASVersionMake(2, 2)
#define PDSysFontHFT_VERSION_4 ASVersionMake(4, 0)
