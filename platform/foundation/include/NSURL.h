// NSURL: file URLs and the resource values the plug-ins read.
//
// Value type; thread-compatible.
#pragma once

#include "NSError.h"
#include "NSString.h"

// Defined once, in libquill_foundation, as the system's keys are.
extern const NSString NSURLVolumeNameKey;
extern const NSString NSURLIsDirectoryKey;

class NSURL {
public:
    NSURL() = default;

    // A file URL for the POSIX path. A relative path is taken from the current
    // folder; an existing folder's URL ends in "/".
    static NSURL fileURLWithPath(const NSString& path);
    static NSURL fileURLWithPath(const NSString& path, bool isDirectory);

    bool isFileURL() const { return !path_.empty(); }
    // "file://" + the percent-escaped absolute path (UTF-8 bytes escaped; the
    // characters allowed in a URL path stay as they are).
    NSString absoluteString() const;
    // The absolute path, without the folder's trailing "/" (except for "/").
    NSString path() const;
    NSString lastPathComponent() const;
    bool hasDirectoryPath() const { return directory_; }

    // NSURLVolumeNameKey: the name of the volume holding the item, from the
    // same volume table as FSPathMakeRef (platform/foundation/Files.h).
    // NSURLIsDirectoryKey: "1" or "0". Unknown keys: true with a nil value.
    // False (and *error, when given) when the value cannot be read.
    bool getResourceValue(NSStringOrNil* value, const NSString& key, NSError** error) const;

    bool operator==(const NSURL& other) const = default;

private:
    std::string path_;  // UTF-8, absolute, no trailing "/" (except "/")
    bool directory_ = false;
};
