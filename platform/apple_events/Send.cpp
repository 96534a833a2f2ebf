// Send: AESendMessage (transport to come).
#include "AppleEvents.h"

OSStatus AESendMessage(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode, long timeOutInTicks) {
    if (reply) *reply = AEDesc{typeNull, nullptr};
    return procNotFound;
}
