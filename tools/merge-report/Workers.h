// The processes that draw the contact sheets. Poppler keeps global state, so
// sheets are drawn by forked workers, each with a process of its own. While
// the merge runs, one of them, the drawer, draws each sheet as soon as all its
// records are in (the merge itself keeps about one processor busy); the
// sheets left when it ends are shared among new workers.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "Record.h"

namespace merge_report {

// One sheet to draw: its index, the sheet count, the record numbers' width and the cells.
struct SheetOrder {
    long sheet = 0, sheets = 0;
    int width = 0;
    std::vector<Record> cells;
};

// An order as the parent sends it down the drawer's pipe: integers and sizes in host order, texts
// as a size and their bytes.
std::string encode(const SheetOrder& o);
// The next order from `fd`; false at the end of the pipe (or a broken order).
bool readOrder(int fd, SheetOrder& o);

class Workers {
public:
    explicit Workers(std::string outDir) : outDir_(std::move(outDir)) {}

    // Starts the drawer: one process for all the sheets drawn while the merge runs, so that
    // poppler's, fontconfig's and Pango's set-up and the fonts the labels need are made once, not
    // once a sheet. It takes its orders down a pipe (large enough for a long merge's sheets; a
    // drawer further behind holds the merge back until it caught up) and exits at the pipe's
    // end: 0 when every sheet was written. False when it could not be started.
    bool startDrawer();
    bool hasDrawer() const { return static_cast<bool>(orders_); }
    // Closes the drawer's pipe: it draws what it was given, then ends.
    void stopDrawer() { orders_.reset(); }
    // The sheet to the drawer; to a worker of its own when the drawer cannot take it.
    void order(const SheetOrder& o);
    // Draws the sheets in a new worker.
    void spawn(const std::vector<SheetOrder>& sheets);
    // Collects the workers that ended (all of them, waiting, when `block`).
    void reap(bool block);
    // A worker failed, or could not be started.
    bool failed() const { return failed_; }

private:
    // In a worker: draws the sheets, then those that come down `orders` (-1: none); true when
    // every one was written.
    bool drawAll(const std::vector<SheetOrder>& sheets, int orders) const;
    // In a worker: draws the sheets, then ends the process.
    [[noreturn]] void drawAndExit(const std::vector<SheetOrder>& sheets, int orders);

    std::string outDir_;
    std::vector<pid_t> pids_;
    Fd orders_;  // the drawer's pipe
    bool failed_ = false;
};

}  // namespace merge_report
