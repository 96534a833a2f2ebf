// Problems the engine recovered from (a character no installed font has, changes that could not be
// appended for the text extractor, a lock that refused a change, an XMP packet left alone): kept
// by the document they concern (Document::takeWarnings), as qpdf keeps its warnings, or by the
// process when no document is at hand; the application logs both in one place. The engine itself
// never logs.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace quill::pdf {

// syslog's levels, for the application to log each warning as it was meant.
enum class Severity { kDebug = 7, kInfo = 6, kNotice = 5, kWarning = 4 };

struct Warning {
    Severity severity;
    std::string text;
};

// At most kKeptWarnings wait in a list; beyond that only their number is kept (a list nobody
// takes stays small).
constexpr std::size_t kKeptWarnings = 1000;

// One list of warnings: the process's, or one document's. Thread-safe.
class WarningList {
public:
    void add(Severity severity, std::string text);
    // The warnings not taken yet, oldest first, left in the list.
    std::vector<Warning> list() const;
    // The warnings since the last call, oldest first (a last one counts those not kept).
    std::vector<Warning> take();

private:
    mutable std::mutex mutex_;
    std::vector<Warning> list_;
    std::size_t dropped_ = 0;
};

// How many warnings were ever added to any list: while it stands, no list has a new one, and the
// application need not look through every open document's.
std::uint64_t warningsAdded();

// The process's list, for warnings raised with no document at hand.
void warn(Severity severity, std::string text);
std::vector<Warning> takeWarnings();

}  // namespace quill::pdf
