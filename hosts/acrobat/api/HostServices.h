// HostServices: what the host's own code (the application, its tables and
// windows) calls of the files behind the API tables. Declared here, below the
// tables, so that the host root never includes api/; defined in api/.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "AcroSDK.h"

namespace acro_host {

// Thrown by raise() when no frame (or a frame whose restore procedure came
// back) can take the exception. Deliberately not a std::exception, so that
// guarded() lets it pass. The host's own entries catch it.
struct RequestAborted {
    ASErrorCode code;
};

// ---- path names and files ----
// A new path name for a POSIX path; released by ASFileSysReleasePath.
ASPathName newPathName(const std::string& posixPath);
// The default (and only) file system.
ASFileSys defaultFileSys();

// ---- exception frames ----
// The exception frames pushed on this thread, and trimming them back after a
// request that ended by RequestAborted.
std::size_t exceptionFrameDepth();
void resetExceptionFrames(std::size_t depth);

// While alive, raises on this thread end in RequestAborted without being
// reported as unhandled: for the host's own calls through the tables.
class HostExceptionFrame {
public:
    HostExceptionFrame();
    ~HostExceptionFrame();
    HostExceptionFrame(const HostExceptionFrame&) = delete;
    HostExceptionFrame& operator=(const HostExceptionFrame&) = delete;

private:
    std::size_t depth_;
};

// ---- the tables ----
// Installs proc at sel of the named table. Static registrars in each file
// behind the tables call it before main(); a later registration wins.
void registerProc(const char* hftName, Selector sel, void* proc);
// The procedure registered at sel of the named table, or null.
void* registeredProc(const std::string& hftName, Selector sel);
// Every registered procedure of one table, indexed by selector (entry 0 null).
std::vector<void*> registeredTable(const std::string& hftName);

}  // namespace acro_host
