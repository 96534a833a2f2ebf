// Small text utilities shared by the calculation functions: path completion,
// substring search, length-prefixed names and the digit reader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "MacTypes.h"

// Size of every path buffer, terminator included.
inline constexpr std::size_t kPathBufferSize = 1024;

// Checks that the item a script's path text names exists. `path` is a
// writable, NUL-terminated buffer of kPathBufferSize bytes: when it holds no
// "/", its ":" become "/" in place. The full path looked up is the path
// itself ("/..."), the home folder plus the rest ("~..."), "/" plus a bare
// name, or "/Volumes/" plus a path that starts with a volume name. Copies the
// full path into `fullPath` (kPathBufferSize bytes) when given. Returns 0 when
// the item exists, fnfErr when not, pathTooLongErr when the full path does not
// fit a path buffer (never cut).
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
