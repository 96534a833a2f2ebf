// The report's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace merge_report {

struct Options {
    std::string outDir;
    long jobs = 1;                     // the host pairs; the sheets take at least as many workers, 1 to 64
    std::vector<std::string> inputs;   // none: standard input
    std::vector<std::string> combine;  // the program that makes all.pdf and its arguments
    bool resume = false, progress = false;
};

// The options, or nothing once the usage or the missing option was shown on standard error.
std::optional<Options> parseArguments(int argc, char** argv);

}  // namespace merge_report
