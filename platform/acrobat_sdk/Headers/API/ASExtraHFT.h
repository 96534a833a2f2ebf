// ASExtraHFT: the "ASExtra" table — text objects (ASText).
// Selectors are append-only.
#pragma once

#include "ASTypes.h"

#define ASExtraHFTName "ASExtra"
#define ASExtraHFT_VERSION_5 ASVersionMake(5, 0)
#define ASExtraHFT_VERSION_6 ASVersionMake(6, 0)
#define ASExtraHFT_VERSION_7 ASVersionMake(7, 0)
#define ASExtraHFT_VERSION_8 ASVersionMake(8, 0)
#define ASExtraHFT_VERSION_9 ASVersionMake(9, 0)
#define ASExtraHFT_LATEST_VERSION ASExtraHFT_VERSION_9

// Unicode formats.
typedef ASEnum16 ASUnicodeFormat;
enum { kUTF16BigEndian = 0, kUTF16HostEndian = 1, kUTF8 = 2, kUTF32BigEndian = 3, kUTF32HostEndian = 4 };

enum {
    ASExtraBAD_SELECTOR = 0,
    ASTextNewSEL,
    ASTextFromEncodedSEL,
    ASTextFromPDTextSEL,
    ASTextCatSEL,
    ASTextCmpSEL,
    ASTextGetUnicodeSEL,
    ASTextGetPDTextCopySEL,
    ASTextDestroySEL,
    ASTextFromUnicodeSEL,
    ASExtraNUMSELECTORSplusOne
};
#define ASExtraNUMSELECTORS (ASExtraNUMSELECTORSplusOne - 1)

typedef ACCBPROTO1 ASText(ACCBPROTO2* ASTextNewSELPROTO)(void);
// str is zero-terminated text in the host encoding (UTF-8 on this host).
typedef ACCBPROTO1 ASText(ACCBPROTO2* ASTextFromEncodedSELPROTO)(const char* str, ASHostEncoding encoding);
// str is PDF text: PDFDocEncoding with one zero, or UTF-16BE after FE FF with two.
typedef ACCBPROTO1 ASText(ACCBPROTO2* ASTextFromPDTextSELPROTO)(const char* str);
typedef ACCBPROTO1 void(ACCBPROTO2* ASTextCatSELPROTO)(ASText to, ASConstText from);
typedef ACCBPROTO1 ASInt32(ACCBPROTO2* ASTextCmpSELPROTO)(ASConstText str1, ASConstText str2);
// Zero-terminated UTF-16 in host order, owned by the text (valid until it changes).
typedef ACCBPROTO1 const ASUTF16Val*(ACCBPROTO2* ASTextGetUnicodeSELPROTO)(ASConstText str);
// A new buffer with the PDF text form (freed with ASfree); *len gets its byte
// count without the terminating zeros. len may be null.
typedef ACCBPROTO1 char*(ACCBPROTO2* ASTextGetPDTextCopySELPROTO)(ASConstText str, ASTArraySize* len);
typedef ACCBPROTO1 void(ACCBPROTO2* ASTextDestroySELPROTO)(ASText str);
// ucs is zero-terminated in the given format; kUTF8 takes the bytes of a
// UTF-8 string (cast to ASUTF16Val*), ending at the first zero byte.
typedef ACCBPROTO1 ASText(ACCBPROTO2* ASTextFromUnicodeSELPROTO)(const ASUTF16Val* ucs, ASUnicodeFormat format);
