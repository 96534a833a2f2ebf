// PICommon: what every plug-in shares with the SDK's PIMain — its extension
// id and the handshake it writes itself.
#pragma once

#include "ASTypes.h"

extern "C" {
// Handed over at set-up; the plug-in's own identity in calls that need one.
extern ExtensionID gExtensionID;

// Written by the plug-in: fills the PIHandshakeData_V0200 it is given.
ACCB1 ASBool ACCB2 PIHandshake(ASUns32 handshakeVersion, void* handshakeData);
}
