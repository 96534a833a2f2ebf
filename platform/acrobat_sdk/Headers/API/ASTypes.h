// ASTypes: the SDK's base scalar types, calling-convention macros, the API
// table (HFT) mechanism and the opaque handle types every table speaks in.
//
// The handle types are pointers to structures that only the host defines; a
// plug-in never looks inside them.
#pragma once

#include <cstddef>
#include <cstdint>

// Calling-convention decorations of the SDK; empty on this platform.
#define ACCB1
#define ACCB2
#define ACCBPROTO1
#define ACCBPROTO2
#define ACEX1
#define ACEX2

typedef std::int8_t ASInt8;
typedef std::uint8_t ASUns8;
typedef std::int16_t ASInt16;
typedef std::uint16_t ASUns16;
typedef std::int32_t ASInt32;
typedef std::uint32_t ASUns32;
typedef std::int64_t ASInt64;
typedef std::uint64_t ASUns64;

// A boolean as the tables pass it: 16 bits, non-zero is true.
typedef ASUns16 ASBool;
typedef ASUns16 ASEnum16;
typedef ASInt32 ASErrorCode;
typedef ASInt32 ASTArraySize;
typedef ASInt32 ASTCount;
typedef ASInt32 ASFixed;
typedef ASUns16 ASUTF16Val;
typedef ASInt32 ASHostEncoding;
typedef char ASUTF8Val;

// An atom: a small number standing for an interned text. 16 bits, as plug-ins
// see it (so a process holds at most 65,536 atoms).
typedef ASUns16 ASAtom;
#define ASAtomNull ((ASAtom)0)

// A table version: major << 16 | minor. Bit 0x80000000 marks a beta table.
typedef ASUns32 ASVersion;
#define ASVersionMake(major, minor) ((ASVersion)((((ASUns32)(major)) << 16) | ((ASUns32)(minor))))
#define ASVersionMajor(v) ((ASUns32)(v) >> 16)
#define ASVersionMinor(v) ((ASUns32)(v)&0xFFFFu)
// What HFTGetVersion answers for a table that does not know its version.
#define HFT_ERROR_NO_VERSION ((ASVersion)0xFFFFFFFFu)

// An API table: an array of function pointers indexed by selector. Entry 0
// is never used (the BAD selector); tables only ever grow at the end.
typedef void* HFTEntry;
typedef HFTEntry* HFT;
typedef ASUns32 Selector;
#define BAD_SELECTOR ((Selector)0)

// A callback made with ASCallbackCreate: the procedure itself on this host.
typedef void* ASCallback;

// The extension (plug-in) handed over at set-up.
typedef struct _t_ASExtension* ASExtension;
typedef ASExtension ExtensionID;

// Handles owned by the host.
typedef struct _t_PDDoc* PDDoc;
typedef struct _t_AVDoc* AVDoc;
typedef struct _t_ASTextRec* ASText;
typedef const struct _t_ASTextRec* ASConstText;
typedef struct _t_ASPathNameRec* ASPathName;
typedef struct _t_ASFileRec* ASFile;
typedef struct _t_ASFileSysRec* ASFileSys;
typedef struct _t_PDWordFinder* PDWordFinder;
typedef struct _t_PDWord* PDWord;
typedef struct _t_CosDoc* CosDoc;
class CPDField;
typedef CPDField* PDField;

// A Cos object is a value: two words whose meaning is the host's.
typedef struct _t_CosObj {
    ASUns32 a, b;
} CosObj;

// Progress and cancel hooks some PDModel calls accept (always null here).
typedef struct _t_ProgressMonitor* ProgressMonitor;
typedef ACCBPROTO1 ASBool(ACCBPROTO2* CancelProc)(void* clientData);

// Restore procedure of an exception frame: called by ASRaise, never returns
// normally (it jumps or throws back to the frame's handler).
typedef ACCBPROTO1 void(ACCBPROTO2* ACRestoreEnvironProc)(void* asEnviron);
