// CFURL: a URL object made from a file-system path, as Core Foundation makes
// it, for the calls that take a CFURLRef (an Acrobat path name of type
// "CFURLRef"). An NSString stands for a CFStringRef, as the two are
// interchangeable on the Mac.
//
// A CFURLRef is immutable and reference-counted: the Create call hands over
// one reference, CFRelease drops it and frees the URL with the last.
#pragma once

#include <cstdint>

#include "MacTypes.h"
#include "NSString.h"

struct __CFURL;
using CFURLRef = const __CFURL*;
using CFStringRef = const NSString*;
using CFAllocatorRef = const void*;
using CFIndex = long;

inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

enum CFURLPathStyle { kCFURLPOSIXPathStyle = 0, kCFURLHFSPathStyle = 1, kCFURLWindowsPathStyle = 2 };

// A URL for the path, kept as written: an absolute path gives a file URL, any
// other a URL relative to the current folder (not resolved here). nullptr
// for a null or empty path, a path holding a NUL, or a style other than POSIX.
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean isDirectory);
// The URL's path with its terminating zero, as it was given, in the bytes the
// file system takes (NSString::fileSystemRepresentation: UTF-8, but for bytes
// a path string carries as lone surrogates). resolveAgainstBase is ignored:
// no URL here has a base of its own. False when the URL is null or the buffer
// too small.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer, CFIndex maxBufLen);
CFURLRef CFURLRetain(CFURLRef url);
void CFRelease(CFURLRef url);  // null is ignored
