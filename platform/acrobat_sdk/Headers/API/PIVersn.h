// PIVersn: the structures of the plug-in load sequence.
//
// Order of a load: the host calls the plug-in's entry with its handshake
// version and the Mac platform data; the entry answers its own version and
// the set-up procedure. The host then calls set-up with PISDKData_V0200,
// whose handshakeCallback the plug-in fills; then that handshake with
// PIHandshakeData_V0200, whose four callbacks the plug-in fills; then the
// callbacks: export, import/replace/register, init; unload at quit.
#pragma once

#include "ASTypes.h"
#include "CFBundle.h"

#define HANDSHAKE_V0200 ((ASUns32)((2u << 16) + 0u))
#define HANDSHAKE_VERSION HANDSHAKE_V0200

typedef ACCBPROTO1 ASBool(ACCBPROTO2* PISetupSDKProcType)(ASUns32 handshakeVersion, void* sdkData);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* PIHandshakeProcType)(ASUns32 handshakeVersion, void* handshakeData);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* PIExportHFTsProcType)(void);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* PIImportReplaceAndRegisterProcType)(void);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* PIInitProcType)(void);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* PIUnloadProcType)(void);

// The plug-in's entry, exported under the name the host looks up.
typedef ACCBPROTO1 ASBool(ACCBPROTO2* PIMainProcType)(ASUns32 appHandshakeVersion, ASUns32* handshakeVersion,
                                                      PISetupSDKProcType* setupProc, void* platformData);

// Platform data passed to the entry on the Mac: the plug-in's own bundle and
// the application's bundle. Both are the host's; a plug-in retains them to keep them.
typedef struct {
    std::size_t size;  // sizeof(PIMacPlatformData)
    CFBundleRef bundle;
    CFBundleRef appBundle;
} PIMacPlatformData;
typedef PIMacPlatformData PluginMainData;

typedef struct {
    ASUns32 handshakeVersion;  // in
    ExtensionID extensionID;   // in
    HFT coreHFT;               // in
    void* handshakeCallback;   // out: a PIHandshakeProcType
} PISDKData_V0200;

typedef struct {
    ASUns32 handshakeVersion;                // in
    ASAtom appName;                          // in
    ASAtom extensionName;                    // out
    void* exportHFTsCallback;                // out: PIExportHFTsProcType (made with ASCallbackCreate)
    void* importReplaceAndRegisterCallback;  // out: PIImportReplaceAndRegisterProcType
    void* initCallback;                      // out: PIInitProcType
    void* unloadCallback;                    // out: PIUnloadProcType
} PIHandshakeData_V0200;
