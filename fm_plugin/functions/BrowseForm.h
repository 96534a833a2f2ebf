// The file-system functions' one piece worth reaching from outside.
#pragma once

#include "NSString.h"
#include "NSURL.h"

namespace quill::fm {
// The browse form of a chosen item: its volume name directly followed by its
// POSIX path (a folder's ending in "/"), plain characters, no escapes.
NSString browseResult(const NSURL& url);
}  // namespace quill::fm
