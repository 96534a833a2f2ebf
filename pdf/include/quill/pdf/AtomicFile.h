// Atomic, checked file writes: the target is either left exactly as it was or replaced whole by
// a complete, synced new file.
//
// How a write goes: the target is checked first (a folder, a non-plain file, a file or folder
// the user may not write are refused before anything is written); the new bytes go to an
// unnamed file in the target's folder (O_TMPFILE) where the file system allows, else to a named
// temporary file beside the target; every write and the fsync are checked; only then is the file
// given a name and renamed over the target, and the folder synced. A file of a name not taken
// yet replaces nothing: on a local file system that reports a full disk at the write (ext4, xfs,
// tmpfs) it is not waited for on disk (its write-back only started), and an unnamed one is
// linked under the name itself, which never replaces a file that appeared since. The target's
// permission bits are kept, and its owner when root writes it.
//
// The path is walked component by component (SafePaths.h) and everything after the check works
// relative to the folder's descriptor. Symbolic links are followed, the last one too (the file it
// names is replaced and the link stays), except a link in a sticky folder everyone may write that
// belongs neither to the user nor to the folder's owner, wherever it stands in the path: the
// save is refused with a text that names it.
//
// Named temporary files are ".quill-saving-<pid>-<start time>-<128 random bits in hex>" and are
// locked while their save runs. A save removes from its folder only files of exactly that form,
// of this user, whose lock is free and whose process (pid and start time) no longer runs; no
// other file is ever removed, whatever its name or age.
//
// Failures throw quill::pdf::Error with a sentence in the application's own words (for example
// "... because the disk is full."). Not thread-safe with respect to the umask (it is read by
// setting it back); call from one thread at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quill::pdf {

// Where a writer puts its bytes. Every write is checked; a failure throws Error.
class FileSink {
public:
    virtual ~FileSink() = default;
    virtual void write(const void* data, std::size_t size) = 0;
    void write(std::string_view bytes) { write(bytes.data(), bytes.size()); }
};

// Writes what `produce` puts into the sink to `path`, atomically. With `copyFrom` not empty the
// new file starts with a copy of that file's bytes (read only), followed by what `produce` adds
// (an incremental update, for example). `check`, when given, is called with a descriptor open for
// reading on the complete, synced new file (its offset is unspecified: use pread or seek), before
// anything is renamed. An exception thrown by `produce` or `check` leaves `path` as it was and is
// passed on.
void writeFileAtomically(const std::string& path, const std::function<void(FileSink&)>& produce,
                         const std::string& copyFrom = {}, const std::function<void(int fd)>& check = {});

// Writes these bytes to `path`, atomically.
void writeFileAtomically(const std::string& path, std::string_view bytes);

// Removes the temporary files that dead savers left in `folder` (only those, as above). Returns
// how many it removed. A save runs it for its target's folder the first time it saves there,
// then when somebody else changed the folder, or after ten minutes; exposed for tests.
int removeStaleTemporaryFiles(const std::string& folder);

// The moment after which a save puts no file in place: whoever asked for it has stopped waiting
// and was answered with an error, so the file must stay as it was. `source` is asked just before
// the rename (after every write, the read-back and the hook below); none, or a source answering
// none, sets no limit. A save past the moment throws Error, leaves the target untouched and is
// logged. Set once by the application at start.
using PlacementDeadline = std::function<std::optional<std::chrono::steady_clock::time_point>()>;
void setPlacementDeadline(PlacementDeadline source);

// Test hooks. The first is called with the temporary file's name (empty for an unnamed file) once
// it is fully written and synced, just before it is put in place; throwing from it fails the save
// as a late I/O error would. The second forces the named temporary file even where the file
// system offers unnamed ones.
void setBeforeRenameHookForTesting(std::function<void(const std::string& tempPath)> hook);
void setNamedTemporaryFilesForTesting(bool named);

}  // namespace quill::pdf
