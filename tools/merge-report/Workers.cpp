#include "Workers.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "Sheet.h"

namespace merge_report {

namespace {

// The drawer's niceness while the merge runs (nice(1)'s default step).
constexpr int kDrawerNice = 10;

void putNumber(std::string& out, std::int64_t v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

void putText(std::string& out, const std::string& t) {
    putNumber(out, static_cast<std::int64_t>(t.size()));
    out += t;
}

}  // namespace

std::string encode(const SheetOrder& o) {
    std::string out;
    putNumber(out, o.sheet);
    putNumber(out, o.sheets);
    putNumber(out, o.width);
    putNumber(out, static_cast<std::int64_t>(o.cells.size()));
    for (const Record& r : o.cells) {
        putNumber(out, r.number);
        for (const std::string* t : {&r.status, &r.file, &r.name, &r.call, &r.code, &r.text}) putText(out, *t);
    }
    return out;
}

bool readOrder(int fd, SheetOrder& o) {
    constexpr std::int64_t kMaxText = 1 << 20;
    auto number = [&](std::int64_t& v) { return readAll(fd, &v, sizeof v); };
    auto text = [&](std::string& t) {
        std::int64_t n = 0;
        if (!number(n) || n < 0 || n > kMaxText) return false;
        t.resize(static_cast<std::size_t>(n));
        return readAll(fd, t.data(), t.size());
    };
    std::int64_t sheet = 0, sheets = 0, width = 0, count = 0;
    if (!number(sheet) || !number(sheets) || !number(width) || !number(count) || count < 0 || count > kPerSheet)
        return false;
    o.sheet = static_cast<long>(sheet);
    o.sheets = static_cast<long>(sheets);
    o.width = static_cast<int>(width);
    o.cells.assign(static_cast<std::size_t>(count), Record{});
    for (Record& r : o.cells) {
        std::int64_t n = 0;
        if (!number(n)) return false;
        r.number = static_cast<long>(n);
        for (std::string* t : {&r.status, &r.file, &r.name, &r.call, &r.code, &r.text})
            if (!text(*t)) return false;
    }
    return true;
}

bool Workers::drawAll(const std::vector<SheetOrder>& sheets, int orders) const {
    SheetPainter painter;
    bool ok = true;
    auto draw = [&](const SheetOrder& o) {
        const std::string png = sheetName(outDir_, o.sheet, o.sheets);
        if (!painter.draw(outDir_, png, o.cells, o.width)) {
            std::fprintf(stderr, "quill-merge-report: cannot write %s\n", png.c_str());
            ok = false;
        }
    };
    for (const SheetOrder& o : sheets) draw(o);
    SheetOrder o;
    while (orders >= 0 && readOrder(orders, o)) draw(o);
    return ok;
}

void Workers::drawAndExit(const std::vector<SheetOrder>& sheets, int orders) {
    // The painter goes before the process does: _exit runs no destructors.
    const bool ok = drawAll(sheets, orders);
    std::fflush(stderr);
    _exit(ok ? 0 : 1);
}

bool Workers::startDrawer() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    Fd read(fds[0]), write(fds[1]);
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        write.reset();
        // The drawer works beside the merge: on a machine with fewer cores than the merge's
        // processes it yields to them, so that the forms are filled first and the sheets follow.
        (void)::setpriority(PRIO_PROCESS, 0, kDrawerNice);
        drawAndExit({}, read.get());
    }
    (void)::fcntl(write.get(), F_SETPIPE_SZ, 1 << 20);
    orders_ = std::move(write);
    pids_.push_back(pid);
    return true;
}

void Workers::order(const SheetOrder& o) {
    if (orders_ && writeAll(orders_.get(), encode(o))) return;
    stopDrawer();
    spawn({o});
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
    // The drawer ends at its pipe's end: no other process may hold it open.
    orders_.reset();
    drawAndExit(sheets, -1);
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
