// Progress: the one line filemaker-host run shows on standard error while a
// script works through its records — records done of the found count, the
// rate and the time left. On a terminal the line is redrawn in place (and
// cleared before anything else is printed to the terminal); otherwise a line
// is written every few seconds, so that a log shows the run moving without
// growing with every record.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <ostream>
#include <streambuf>

namespace fm_host {

class Progress {
public:
    // `terminal`: redraw in place; otherwise one line every `every`.
    Progress(std::FILE* err, bool terminal, std::chrono::milliseconds every = std::chrono::seconds(5));
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The current record is `recordNumber` of `found` (found + 1: past the last one).
    void update(std::size_t recordNumber, std::size_t found);
    // Takes the line away (on a terminal); the run's own summary follows.
    void finish();
    // Output to `out` first clears the line, when `out` goes to the same terminal.
    void guard(std::ostream& out);

    // "120/1000 records, 310/s, 3 s left"
    static std::string text(std::size_t done, std::size_t total, double seconds);

private:
    class ClearingBuf;
    void clear();
    std::FILE* err_;
    bool terminal_;
    std::chrono::milliseconds every_;
    std::chrono::steady_clock::time_point start_{}, last_{};
    bool started_ = false, shown_ = false;
    std::size_t done_ = 0, total_ = 0;
    std::ostream* guarded_ = nullptr;
    std::streambuf* original_ = nullptr;
    std::unique_ptr<ClearingBuf> buf_;
};

}  // namespace fm_host
