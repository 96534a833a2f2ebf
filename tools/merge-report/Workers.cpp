#include "Workers.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "Sheet.h"

namespace merge_report {

void Workers::drawAndExit(const std::vector<SheetOrder>& sheets) {
    bool ok = true;
    {
        // The painter goes before the process does: _exit runs no destructors.
        SheetPainter painter;
        for (const SheetOrder& o : sheets) {
            const std::string png = sheetName(outDir_, o.sheet, o.sheets);
            if (!painter.draw(outDir_, png, o.cells, o.width)) {
                std::fprintf(stderr, "quill-merge-report: cannot write %s\n", png.c_str());
                ok = false;
            }
        }
    }
    std::fflush(stderr);
    _exit(ok ? 0 : 1);
}

void Workers::spawn(const std::vector<SheetOrder>& sheets) {
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid < 0) {
        const int err = errno;
        std::cerr << "quill-merge-report: cannot start a worker: " << std::strerror(err) << "\n";
        failed_ = true;
        return;
    }
    if (pid > 0) {
        pids_.push_back(pid);
        return;
    }
    drawAndExit(sheets);
}

void Workers::reap(bool block) {
    for (auto it = pids_.begin(); it != pids_.end();) {
        int status = 0;
        const pid_t r = waitpid(*it, &status, block ? 0 : WNOHANG);
        if (r == 0) {
            ++it;
            continue;
        }
        if (r != *it || !WIFEXITED(status) || WEXITSTATUS(status) != 0) failed_ = true;
        it = pids_.erase(it);
    }
}

}  // namespace merge_report
