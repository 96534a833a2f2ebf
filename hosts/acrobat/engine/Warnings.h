// Problems the engine recovered from (a character no installed font has, changes that could not be
// appended for the text extractor, a lock that refused a change, an XMP packet left alone): kept
// here, as qpdf keeps its warnings, for the application to log in one place. The engine itself
// never logs.
#pragma once

#include <string>
#include <vector>

namespace quill::pdf {

// syslog's levels, for the application to log each warning as it was meant.
enum class Severity { kDebug = 7, kInfo = 6, kNotice = 5, kWarning = 4 };

struct Warning {
    Severity severity;
    std::string text;
};

// Keeps a warning. Thread-safe. At most kKeptWarnings wait for takeWarnings(); beyond that only
// their number is kept (a process that never takes them stays small).
constexpr std::size_t kKeptWarnings = 1000;
void warn(Severity severity, std::string text);

// The warnings since the last call, oldest first (a last one counts those not kept).
std::vector<Warning> takeWarnings();

}  // namespace quill::pdf
