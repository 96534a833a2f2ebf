// Registry: the per-user runtime folder, the identity of live processes, and
// the registry of application processes with their event sockets. Internal
// to the Apple Event and Process Manager libraries (both read it: sending
// needs a target's socket, the process walk needs the entries).
//
// Layout of the runtime folder (0700, owned by the user):
//   app.<pid>.<start>   one registered application: "key=value" lines
//                       (name, type, creator, bundleIdentifier, bundlePath,
//                       socket); written atomically (temporary + rename)
//   ae.<pid>.<start>    its event socket (Unix-domain stream)
//   <bundle id>.log     output of applications started by the launch call
//   launch.<bundle id>.lock
//                       the launch call's lock: launches of one application
//                       take turns; it names the instance being started and
//                       stays between launches
// (<bundle id> made a plain file name.) <start> is the process start time in
// kernel clock ticks since boot, so a reused pid never matches an old entry.
//
// Thread-safe. Entries change under us and are re-read, except that a live
// process's own entry is kept once read (it never changes while it lives).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "MacTypes.h"

namespace quill::ae::registry {

// One process for its whole life.
struct ProcessKey {
    pid_t pid = 0;
    std::uint32_t start = 0;  // low 32 bits of the start time, never 0
    bool operator==(const ProcessKey&) const = default;
    bool operator<(const ProcessKey& o) const { return start != o.start ? start < o.start : pid < o.pid; }
};

struct ProcStat {
    std::uint64_t startTicks = 0;  // clock ticks since boot
    char state = '?';
    std::string command;  // the kernel's command name
};

// /proc/<pid>/stat of a process; nullopt when there is none.
std::optional<ProcStat> statOf(pid_t pid);
std::uint32_t startKey(std::uint64_t startTicks);
// The key of a live process (not a zombie); nullopt when it is gone.
std::optional<ProcessKey> keyOf(pid_t pid);
ProcessKey self();
// This process's pid, kept (and renewed in a forked child): the sender asks
// on every event whether its target is this very process.
pid_t selfPid();
// Whether the process the key names is still running.
bool alive(const ProcessKey& key);

// The processes connected to this process's event socket, as the run loop
// last saw them: each is watched through a pidfd of its own (taken from the
// connection, so it names the very process that connected), and those whose
// pidfd had not turned readable when the run loop last woke are noted here,
// by pid and by the pidfd's identity. A look at whether one of them still
// runs, made on that thread within a millisecond of the wake-up, is answered
// from the note instead of the system (the events of a sender ask twice each).
struct RunningPeer {
    pid_t pid = 0;
    std::uint64_t id = 0;  // pidfdIdentity of its pidfd
};
void noteRunningPeers(const std::vector<RunningPeer>& peers);
// One number for the process a pidfd names, the same for every pidfd of that
// process and never given to another; 0 when the system has none such.
std::uint64_t pidfdIdentity(int pidfd);

// The runtime folder (see Processes.h for the rules); throws
// std::runtime_error when it is refused or cannot be made.
std::string runtimeDir();

struct Entry {
    ProcessKey key;
    std::string name;
    OSType type = 0;
    OSType creator = 0;
    std::string bundleIdentifier;
    std::string bundlePath;
    std::string socketPath;
};

std::string socketPathFor(const std::string& dir, const ProcessKey& key);
std::string entryPathFor(const std::string& dir, const ProcessKey& key);

// Entries of live processes, ordered by start; entries of dead processes
// are removed on the way (with their sockets). Empty when the runtime folder
// cannot be used.
std::vector<Entry> liveEntries();
// The live entry of that process.
std::optional<Entry> entryFor(const ProcessKey& key);
// The same for a process the caller has just found alive (saves a /proc read).
std::optional<Entry> entryForLive(const ProcessKey& key);
// Writes (replaces) the entry atomically; throws on failure.
void writeEntry(const std::string& dir, const Entry& entry);
void removeEntry(const std::string& dir, const ProcessKey& key);

}  // namespace quill::ae::registry
