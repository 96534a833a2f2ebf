// The plug-in's strings table (Contents/Resources/<lang>.lproj/Quillmark.strings
// of its bundle, keys "Quillmark <number>") and the two ways texts from it are
// handed to the host.
#pragma once

#include <cstdint>

#include "PluginSDK.h"

// The host's get-string request: fills the host's UTF-16 buffer of
// `bufferSize` units (string 131, the options text, is looked up under 1).
// Returns the units delivered; 0 and an empty buffer when there is nothing
// that fits.
std::uint32_t Do_GetString(std::uint32_t whichString, std::uint32_t languageID, std::uint32_t bufferSize,
                           fmx::unichar16* buffer);
// Registration: the text of `functionId` into `text`; with nameOnly, only what
// comes before the first "(" (trailing blanks dropped, so that a prototype in
// FileMaker notation "Name ( arg )" still yields "Name").
void Do_GetString(std::uint32_t functionId, fmx::Text& text, bool nameOnly);

// Copies the text of `number` with a terminating 0 when it is shorter than
// size - 1 units; a text is never cut. Returns the units copied (0: none).
std::uint32_t Sub_OSXLoadString(std::uint32_t number, fmx::unichar16* buffer, std::uint32_t size);
