#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quill::bench {

namespace {
const char* benchName = "bench";
}

Options parseOptions(int argc, char** argv, const char* name, int defaultRuns) {
    benchName = name;
    Options o;
    o.runs = defaultRuns;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            o.runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--keep" && i + 1 < argc)
            o.keep = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--keep DIR]\n", name);
            std::exit(2);
        }
    }
    if (o.keep.empty()) {
        o.scratch = std::make_shared<quill::testsupport::TempDir>(name);
        o.dir = o.scratch->path;
    } else {
        o.dir = o.keep;
    }
    fs::create_directories(o.dir);
    return o;
}

void finish(const Options& options) {
    if (options.scratch) fs::remove_all(options.dir);
}

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "%s: %s failed\n", benchName, what);
        std::exit(1);
    }
}

Stats stats(std::vector<double> ms) {
    if (ms.empty()) return {0, 0};
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 9 / 10)]};
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double timeMs(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return since(t0);
}

Stats measure(int runs, const std::function<void()>& prepare, const std::function<void()>& body) {
    prepare();
    body();
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        prepare();
        auto t0 = std::chrono::steady_clock::now();
        body();
        ms.push_back(since(t0));
    }
    return stats(ms);
}

Stats measure(int runs, const std::function<void()>& body) {
    return measure(
        runs, [] {}, body);
}

}  // namespace quill::bench
