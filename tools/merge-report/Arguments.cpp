#include "Arguments.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

namespace merge_report {

std::optional<Options> parseArguments(int argc, char** argv) {
    Options o;
    o.jobs = sysconf(_SC_NPROCESSORS_ONLN);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--out" && i + 1 < argc)
            o.outDir = argv[++i];
        else if (a == "--jobs" && i + 1 < argc)
            o.jobs = std::strtol(argv[++i], nullptr, 10);
        else if (a == "--input" && i + 1 < argc)
            o.inputs.push_back(argv[++i]);
        else if (a == "--resume")
            o.resume = true;
        else if (a == "--progress")
            o.progress = true;
        else if (a == "--combine" && i + 1 < argc) {
            o.combine.assign(argv + i + 1, argv + argc);
            break;
        } else {
            std::cerr << "usage: filemaker-host --json run merge.fmscript … | quill-merge-report --out DIR [--jobs N] "
                         "[--input FILE …] [--resume] [--progress] [--combine PROGRAM ARGUMENT …]\n";
            return std::nullopt;
        }
    }
    if (o.outDir.empty()) {
        std::cerr << "quill-merge-report: --out DIR is needed\n";
        return std::nullopt;
    }
    o.jobs = std::clamp(o.jobs, 1L, 64L);
    return o;
}

}  // namespace merge_report
