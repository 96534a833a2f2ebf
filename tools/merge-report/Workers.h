// The processes that draw the contact sheets. Poppler keeps global state, so
// sheets are drawn by forked workers, each with a process of its own. They
// start once the hosts are done: a sheet drawn beside a host pair slows the
// merge by a quarter to a third (each pair keeps up to two processors busy:
// both hosts wait for each other's replies without sleeping, and the file
// system works in between), and the sheets need as much processor time as
// the hosts do.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "Record.h"

namespace merge_report {

// One sheet to draw: its index, the sheet count, the record numbers' width and the cells.
struct SheetOrder {
    long sheet = 0, sheets = 0;
    int width = 0;
    std::vector<Record> cells;
};

class Workers {
public:
    explicit Workers(std::string outDir) : outDir_(std::move(outDir)) {}

    // Draws the sheets in a new worker.
    void spawn(const std::vector<SheetOrder>& sheets);
    // Collects the workers that ended (all of them, waiting, when `block`).
    void reap(bool block);
    // A worker failed, or could not be started.
    bool failed() const { return failed_; }

private:
    // In a worker: draws the sheets, then ends the process: 0 when every one was written.
    [[noreturn]] void drawAndExit(const std::vector<SheetOrder>& sheets);

    std::string outDir_;
    std::vector<pid_t> pids_;
    bool failed_ = false;
};

}  // namespace merge_report
