// NSFileManager: removing items from the file system.
//
// Thread-safe: the default manager holds no state.
#pragma once

#include "NSError.h"
#include "NSString.h"

class NSFileManager {
public:
    static NSFileManager& defaultManager();

    // Removes the item at the POSIX path (taken as it is: no ":" conversion,
    // no "~" or volume expansion); a folder goes with everything in it, a
    // symbolic link is removed itself, never followed. True when the item is
    // gone. On failure *error (when error is not null) describes it in the
    // system's words, e.g. "The file “a.pdf” couldn’t be removed because it
    // doesn’t exist." (NSCocoaErrorDomain, NSFileNoSuchFileError).
    // The NSError* form stays valid until the next error on this thread.
    bool removeItemAtPath(const NSString& path, NSError** error);
    bool removeItemAtPath(const NSString& path, NSErrorPtr* error);

    bool fileExistsAtPath(const NSString& path, bool* isDirectory = nullptr) const;

    // The string for `len` bytes of a path as the file system holds them (the inverse of
    // NSString::fileSystemRepresentation): bytes that are no UTF-8 survive the round trip.
    NSString stringWithFileSystemRepresentation(const char* str, NSUInteger len) const;
};
