// Small text utilities shared by the calculation functions: path completion,
// substring search, length-prefixed names and the digit reader.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "MacTypes.h"

// Size of every path buffer, terminator included: the longest path the system takes.
inline constexpr std::size_t kPathBufferSize = PATH_MAX;

// The full path a script's path text names. `path` is a writable,
// NUL-terminated buffer of kPathBufferSize bytes: when it holds no "/", its
// ":" become "/" in place. The full path is the path itself ("/..."; the empty
// text is "/"), the home folder plus the rest ("~..."), or for a relative
// path the working folder plus the path, except that a path whose first part
// is not in the working folder but names a volume is "/Volumes/" plus the
// path (the colon form and the browse form). Paths are bytes: a working folder
// whose name is no UTF-8 is taken as it is. noErr, pathTooLongErr when the
// full path does not fit a path buffer (never cut), or an error when the home
// or working folder cannot be found.
OSStatus completePath(char* path, std::string& full);

// Checks that the item the completed path names exists. Copies the full path
// into `fullPath` (kPathBufferSize bytes) when given: that is the path to hand
// on, so that the file used is the file checked. Returns 0 when the item
// exists, fnfErr when not, or completePath's error.
OSStatus pathToFSRef(char* path, FSRef* ref, char* fullPath);

// First occurrence of pattern in text (byte-wise, case-sensitive); the text
// itself for a null or empty pattern; null for a null or empty text.
const char* FMstrstr(const char* text, const char* pattern);
// Turns a length-prefixed name into a NUL-terminated one in the same buffer
// (which must hold 256 bytes for a name of 255 characters).
void FMp2cstr(unsigned char* name);
std::size_t FMstrlen(const char* text);
// value*10 + (c - '0') for each character, stopping after the first step that
// leaves -32768..32767; other characters are not rejected.
std::int32_t ConvertStringToInt(const char* text);
