// FMWrapper/FMXExtern.h: the base of the FileMaker plug-in interface — the
// scalar types, the call record FileMaker hands the plug-in's entry, its
// message and version constants, and the two globals the plug-in defines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// GCC and clang: packing by attribute, no calling-convention or export
// decoration. The entry is exported by the plug-in's link (an export list),
// not by this header.
#define FMX_PACK __attribute__((packed))
#define FMX_PACK_ON
#define FMX_PACK_OFF
#define FMX_PROC(retType) retType
#define FMX_PROCPTR(retType, name) typedef retType(*name)
#define FMX_ENTRYPT
#define FMX_API

extern "C++" {
namespace fmx {
class Text;
class Data;
class ExprEnv;

typedef unsigned short uint16;
typedef short int16;
typedef unsigned char uchar;
typedef int int32;
typedef unsigned int uint32;
typedef long int64;  // LP64
typedef unsigned long uint64;
typedef uint64 ptrtype;
typedef int32 unusedid;
typedef short errcode;
typedef unsigned short unichar16;
}  // namespace fmx
}

extern "C" {
typedef fmx::Text FMX_Text;
typedef fmx::Data FMX_Data;
typedef fmx::ExprEnv FMX_ExprEnv;
typedef fmx::uchar FMX_UChar;
typedef fmx::int16 FMX_Int16;
typedef fmx::uint16 FMX_UInt16;
typedef fmx::int32 FMX_Int32;
typedef fmx::uint32 FMX_UInt32;
typedef fmx::unichar16 FMX_Unichar;
typedef fmx::errcode FMX_ErrorCode;
typedef fmx::ptrtype FMX_PtrType;
typedef char FMX_Char;
typedef char FMX_Boolean;

enum FMX_ScriptControl : unsigned char { kFMXT_Halt, kFMXT_Exit, kFMXT_Resume, kFMXT_Pause };

FMX_PROCPTR(FMX_ErrorCode, FMX_StartScriptCall)
(const FMX_Text* fileName, const FMX_Text* scriptName, FMX_ScriptControl control, const FMX_Data* parameter);
FMX_PROCPTR(FMX_ErrorCode, FMX_CurrentEnvCall)(FMX_ExprEnv* env);

enum FMX_ExtnVersions : short {
    kBadExtnVersion = -1,
    kDoNotEnable = -2,
    k40ExtnVersion = 11,
    k41ExtnVersion = 12,
    k50ExtnVersion = 14,
    k60ExtnVersion = 17,
    k70ExtnVersion = 50,
    k80ExtnVersion = 51,
    k110ExtnVersion = 52,
    k120ExtnVersion = 53,
    k130ExtnVersion = 54,
    k140ExtnVersion = 55,
    k150ExtnVersion = 56,
    k160ExtnVersion = 57,
    k170ExtnVersion = 59,
    k180ExtnVersion = 60,
    k190ExtnVersion = 62,
    // This host speaks the version 15 interface.
    kCurrentExtnVersion = 56,
    kMinExtnVersion = 4,
    kMaxExtnVersion = 255
};

enum FMX_ExternCallSwitch : unsigned char {
    kFMXT_Init = 0,
    kFMXT_Idle = 1,
    kFMXT_External = 3,
    kFMXT_Shutdown = 4,
    kFMXT_DoAppPreferences = 5,
    kFMXT_GetString = 7,
    kFMXT_SessionShutdown = 8,
    kFMXT_FileShutdown = 9
};

enum FMX_Strings : unsigned {
    kFMXT_NameStr = 128,
    kFMXT_AppConfigStr = 129,
    kFMXT_OptionsStr = 131,
    kFMXT_HelpURLStr = 132
};

enum FMX_IdleLevel : unsigned char {
    kFMXT_UserIdle = 0,
    kFMXT_UserNotIdle = 1,
    kFMXT_ScriptPaused = 2,
    kFMXT_ScriptRunning = 3,
    kFMXT_Unsafe = 4
};

enum FMX_Application : unsigned char {
    kFMXT_Developer = 0,
    kFMXT_Pro = 1,
    kFMXT_Runtime = 2,
    kFMXT_Server = 3,
    kFMXT_Web = 4,
    kFMXT_Mobile = 5,
    kFMXT_XDBC = 6,
    kFMXT_SASE = 7,
    kFMXT_IWP = 8,
    kFMXT_FMDAPI = 9
};

struct FMX_ExternCallStruct;
typedef struct FMX_ExternCallStruct* FMX_ExternCallPtr;
typedef void (*FMX_ExternCallProc)(FMX_ExternCallPtr);

// Byte-packed: the layout is shared with plug-ins built elsewhere.
struct FMX_ExternCallStruct {
    FMX_Int16 extnVersion;          // the host's interface version
    fmx::unusedid unusedID;         // always -1
    FMX_ExternCallProc entryPoint;  // the plug-in's FMExternCallProc
    FMX_Boolean unusedFlag;         // always 0
    FMX_UChar whichCall;            // an FMX_ExternCallSwitch
    FMX_Boolean unsafeCalls;        // true when not on the main thread
    FMX_UChar parm1;
    FMX_PtrType parm2;
    FMX_PtrType parm3;
    FMX_PtrType instanceID;  // the plug-in bundle's CFBundleRef
    FMX_PtrType result;      // the plug-in's answer
    FMX_PtrType unused;
    FMX_StartScriptCall cStartScript;
    FMX_CurrentEnvCall cCurrentEnv;
} FMX_PACK;

// Defined by the plug-in: its one entry, and the record of the latest call.
extern void FMX_ENTRYPT FMExternCallProc(FMX_ExternCallPtr pb);
extern FMX_ExternCallPtr gFMX_ExternCallPtr;
}

static_assert(offsetof(FMX_ExternCallStruct, whichCall) == 15);
static_assert(offsetof(FMX_ExternCallStruct, parm2) == 18);
static_assert(offsetof(FMX_ExternCallStruct, instanceID) == 34);
static_assert(offsetof(FMX_ExternCallStruct, result) == 42);
static_assert(offsetof(FMX_ExternCallStruct, cStartScript) == 58);
static_assert(sizeof(FMX_ExternCallStruct) == 74);
