// The temporary files of saves (TemporaryFiles.cpp): every named one is
// ".quill-saving-<pid>-<start>-<32 hex digits>", its saver's pid and start time then 128 random
// bits, so that a sweep can tell the files of savers that are gone from anything else.
#pragma once

#include <string>

namespace quill::pdf {

// A new temporary file name; empty, with errno set, when no random bits could be had (a name
// others could guess is no name for a temporary file).
std::string temporaryName();

// Removes from the folder `dir` the temporary files of savers that are gone; how many went.
int removeStale(int dir);

// Sweeps the folder `dir` (named `folder`) when somebody else may have left a temporary file
// there since the last sweep, or when the last sweep is old.
void sweepFolderNowAndThen(int dir, const std::string& folder);
// After our own save changed the folder: its new time is ours, not a stranger's.
void noteOwnChange(int dir, const std::string& folder);

}  // namespace quill::pdf
