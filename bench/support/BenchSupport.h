// What every bench program shares: its options, its working folder, timing and medians, and the
// command-line tools it measures itself against.
#pragma once

#include "RunProgram.h"
#include "TempDir.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quill::bench {

namespace fs = std::filesystem;
using quill::testsupport::runProgram;

// `name [--runs N] [--keep DIR]`: the runs (at least one) and the working folder, a new temporary
// one unless --keep names one. Exits 2 with the usage on anything else.
struct Options {
    int runs = 1;
    std::string keep;
    fs::path dir;
    std::shared_ptr<quill::testsupport::TempDir> scratch;  // dir, when not kept
};
Options parseOptions(int argc, char** argv, const char* name, int defaultRuns);
// Removes the working folder unless it was kept.
void finish(const Options& options);

// Exits 1 with "<name>: <what> failed" when `ok` is false.
void check(bool ok, const char* what);

struct Stats {
    double median, p90;
};
// Median and p90 of the times; zeros when there are none.
Stats stats(std::vector<double> ms);
// Milliseconds since `t0`.
double since(std::chrono::steady_clock::time_point t0);
// Milliseconds `f` takes, once.
double timeMs(const std::function<void()>& f);
// Times `body` `runs` times after one warm-up run; `prepare` runs before each, untimed.
Stats measure(int runs, const std::function<void()>& prepare, const std::function<void()>& body);
Stats measure(int runs, const std::function<void()>& body);

}  // namespace quill::bench
