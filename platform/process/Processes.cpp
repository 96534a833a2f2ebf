// Processes: the Process Manager over the application registry.
#include "Processes.h"

#include <unistd.h>

#include "Registry.h"

namespace reg = quill::ae::registry;

OSErr GetCurrentProcess(ProcessSerialNumber* psn) {
    if (!psn) return paramErr;
    const auto k = reg::self();
    *psn = ProcessSerialNumber{k.start, static_cast<UInt32>(k.pid)};
    return noErr;
}

OSErr GetNextProcess(ProcessSerialNumber* psn) {
    if (!psn) return paramErr;
    *psn = ProcessSerialNumber{0, 0};
    return procNotFound;
}

OSErr GetProcessInformation(const ProcessSerialNumber* psn, ProcessInfoRec* info) {
    if (!psn || !info) return paramErr;
    return procNotFound;
}

OSErr SameProcess(const ProcessSerialNumber* a, const ProcessSerialNumber* b, Boolean* result) {
    if (!a || !b || !result) return paramErr;
    *result = a->highLongOfPSN == b->highLongOfPSN && a->lowLongOfPSN == b->lowLongOfPSN;
    return noErr;
}

namespace quill::process {
ProcessSerialNumber registerApplication(const ApplicationIdentity&) {
    ProcessSerialNumber psn{};
    GetCurrentProcess(&psn);
    return psn;
}
void unregisterApplication() {}
std::string runtimeDir() { return reg::runtimeDir(); }
}  // namespace quill::process
