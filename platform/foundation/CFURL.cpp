// CFURL: URL objects made from file-system paths.
#include "CFURL.h"

#include <atomic>
#include <cstring>
#include <string>

struct __CFURL {
    std::string path;  // the path's bytes (NSString::fileSystemRepresentation), as given
    bool directory = false;
    mutable std::atomic<long> references{1};
};

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean isDirectory) {
    if (!filePath || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
    std::string path = filePath->fileSystemRepresentation();
    if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
    auto* url = new __CFURL;
    url->path = std::move(path);
    url->directory = isDirectory != 0;
    return url;
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8* buffer, CFIndex maxBufLen) {
    if (!url || !buffer || maxBufLen <= 0) return false;
    if (url->path.size() + 1 > static_cast<std::size_t>(maxBufLen)) return false;
    std::memcpy(buffer, url->path.c_str(), url->path.size() + 1);
    return true;
}

CFURLRef CFURLRetain(CFURLRef url) {
    if (url) url->references.fetch_add(1, std::memory_order_relaxed);
    return url;
}

void CFRelease(CFURLRef url) {
    if (url && url->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete url;
}
