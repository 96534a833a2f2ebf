// NSError: an error object with a domain, a code and the system's words.
#pragma once

#include <memory>
#include <string>

#include "NSString.h"

inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* NSPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr NSInteger NSFileNoSuchFileError = 4;
inline constexpr NSInteger NSFileReadUnknownError = 256;
inline constexpr NSInteger NSFileWriteUnknownError = 512;
inline constexpr NSInteger NSFileWriteNoPermissionError = 513;
inline constexpr NSInteger NSFileWriteVolumeReadOnlyError = 642;

struct NSError {
    NSInteger code = 0;
    std::string domain;
    std::string description;  // UTF-8, one sentence
    int posixCode = 0;        // the errno behind it, 0 when none

    NSString localizedDescription() const { return NSStr(description); }
};

using NSErrorPtr = std::shared_ptr<NSError>;

namespace quill::foundation {
// For calls that report through NSError**: keeps `error` alive on this thread
// until the next error is reported on it (the stand-in for autorelease), and
// returns the pointer to hand out.
NSError* autoreleaseError(NSErrorPtr error);
}  // namespace quill::foundation
