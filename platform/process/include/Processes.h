// Processes: the Process Manager — process serial numbers, the walk over
// running applications, their information record, and the registration of
// this process as an application that receives Apple events.
//
// A ProcessSerialNumber names one process for its whole life: the low half
// is the pid, the high half the process's start time (kernel clock ticks
// since boot, never 0), so a later process that reuses the pid never matches
// the PSN of a dead one. {0, kCurrentProcess} names the calling process.
//
// Applications register in a per-user registry (one file per process in the
// runtime folder, beside its event socket); entries of processes that have
// died are skipped and removed by whoever meets them. GetNextProcess walks
// the registered live applications in order of their start.
//
// The C entries never throw; they are safe to call from any thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "MacTypes.h"

struct ProcessSerialNumber {
    UInt32 highLongOfPSN;
    UInt32 lowLongOfPSN;
};

inline constexpr UInt32 kNoProcess = 0;
inline constexpr UInt32 kSystemProcess = 1;
inline constexpr UInt32 kCurrentProcess = 2;

#pragma pack(push, 2)
struct ProcessInfoRec {
    UInt32 processInfoLength;  // caller sets sizeof(ProcessInfoRec)
    StringPtr processName;     // caller's Str255 buffer, or null
    ProcessSerialNumber processNumber;
    UInt32 processType;       // 'APPL' for registered applications
    OSType processSignature;  // creator code
    UInt32 processMode;
    Ptr processLocation;
    UInt32 processSize;
    UInt32 processFreeMem;
    ProcessSerialNumber processLauncher;
    UInt32 processLaunchDate;  // ticks (1/60 s) since boot
    UInt32 processActiveTime;
    FSRef* processAppRef;  // caller's FSRef buffer, or null
};
#pragma pack(pop)
static_assert(sizeof(ProcessInfoRec) == 72, "ProcessInfoRec must keep the Process Manager's 72-byte layout");

// Steps to the next registered live application after *psn ({0, kNoProcess}
// starts the walk). procNotFound (-600) after the last one, with *psn set to
// {0, 0}; paramErr for a null psn.
OSErr GetNextProcess(ProcessSerialNumber* psn);

// Fills *info for the process (info->processInfoLength must be at least 72;
// processName and processAppRef are filled when not null). Works for any
// live process of this user; the name, type, creator and application file
// come from the registry for registered applications (others: the command
// name, type 0, creator '????', no file). procNotFound when the process is
// gone, paramErr for bad arguments.
OSErr GetProcessInformation(const ProcessSerialNumber* psn, ProcessInfoRec* info);

// The PSN of the live process with that pid (any process of this user, registered or not);
// procNotFound when there is none, paramErr for a null psn.
OSStatus GetProcessForPID(pid_t pid, ProcessSerialNumber* psn);

// The calling process's own PSN (never {0, kCurrentProcess}).
OSErr GetCurrentProcess(ProcessSerialNumber* psn);

// noErr and *result true when both name the same process.
OSErr SameProcess(const ProcessSerialNumber* psn1, const ProcessSerialNumber* psn2, Boolean* result);

namespace quill::process {

struct ApplicationIdentity {
    std::string name;  // shown by GetProcessInformation
    OSType type = FourCC("APPL");
    OSType creator = FourCC("????");
    std::string bundleIdentifier;  // what launchAppWithBundleIdentifier looks for
    std::string bundlePath;        // the .app folder; empty: $QUILLMARK_BUNDLE_PATH (set by the launch)
};

// Registers this process in the per-user registry and opens its event
// socket, which quill::ae::RunLoop::main().run() then serves. Returns this
// process's PSN. Calling it again replaces the identity. The entry and the
// socket are removed at normal exit (and found dead and cleaned by others
// after a crash). Throws std::runtime_error when the runtime folder is
// refused or the socket cannot be made.
ProcessSerialNumber registerApplication(const ApplicationIdentity& id);
// Removes the registration now (also done at exit).
void unregisterApplication();

// The first registered live application, in the order GetNextProcess walks
// them, with that creator code and, unless `name` is empty, that name (as
// GetProcessInformation gives it); nullopt when there is none.
std::optional<ProcessSerialNumber> findApplication(OSType creator, const std::string& name = {});

// The runtime folder: $QUILLMARK_RUNTIME_DIR, else $XDG_RUNTIME_DIR/quillmark,
// else /tmp/quillmark-<uid>. Created 0700 when missing; refused (throws
// std::runtime_error) unless it is a real folder owned by this user, not a
// symbolic link; group and other access is removed.
std::string runtimeDir();

}  // namespace quill::process
