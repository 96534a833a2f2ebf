// DateText: how this libFMWrapper reads a date written as text, shared by Data's text
// conversion and filemaker-host's date functions. Not part of the plug-in interface.
#pragma once

#include <string_view>

#include "FMWrapper.h"

namespace fmx {

// "M/D/YYYY" or "YYYY-MM-DD" naming a real day of years 1 to 4000 (2/30 is no date, not
// March 1st); false for anything else, `out` then unchanged.
bool DateFromText(std::u16string_view text, DateTime& out);

}  // namespace fmx
