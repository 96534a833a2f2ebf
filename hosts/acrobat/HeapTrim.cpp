// The heap after documents close: returning freed memory to the system, at once or when idle.
#include "HeapTrim.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>

#include "RunLoop.h"

namespace acro_host::heap {

namespace {

// A closed document's objects go back to the heap, where glibc keeps most of them: after a
// large document the application would stay as large as that document made it. A trim is not
// free either: done after every close it would weigh on a merge of many small forms, and after
// the close of a large file the next document faults every page back in (a 20,000-field form's
// 250 MB are 60,000 faults, a tenth of its whole fill in a virtual machine). So while the
// application is at work the memory stays for the next document, and it goes back once no open or
// close came for a few seconds; a close trims at once only when the heap holds a very great deal
// of free memory. Counting the free memory walks the free lists, cheap next to
// a large close but not next to a small form's whole round, so it is done only once the main heap
// spans more than a sizeable document (a document's objects live there; the break is read without
// a system call), or on every so many closes for other arenas.
const char* const heapStart = static_cast<const char*>(::sbrk(0));  // at start-up, before any document
constexpr std::size_t kFreeWorthAnIdleTrim = 8u << 20;
constexpr std::size_t kFreeWorthATrim = std::size_t{1} << 30;
constexpr std::chrono::milliseconds kIdle{5000};

std::atomic<std::chrono::steady_clock::rep> lastOpenOrClose{0};
bool idleTrimPending = false;  // main thread only

void noteOpenOrClose() {
    lastOpenOrClose.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
}

std::size_t heapSpan() {
    const auto* const heapEnd = static_cast<const char*>(::sbrk(0));
    if (heapStart == reinterpret_cast<const char*>(-1) || heapEnd == reinterpret_cast<const char*>(-1)) return 0;
    return static_cast<std::size_t>(heapEnd - heapStart);
}

void trimWhenIdle() {
    using clock = std::chrono::steady_clock;
    const auto idleFor = clock::now() - clock::time_point(clock::duration(lastOpenOrClose.load()));
    if (idleFor < kIdle) {
        quill::ae::RunLoop::main().performAfter(
            std::chrono::duration_cast<std::chrono::milliseconds>(kIdle - idleFor) + std::chrono::milliseconds(1),
            trimWhenIdle);
        return;
    }
    idleTrimPending = false;
    if (::mallinfo2().fordblks >= kFreeWorthAnIdleTrim) ::malloc_trim(0);
}

// Counting and trimming cost time in proportion to the heap, not to the document closed: in a
// burst of closes (the sources of a thousand appends, closed after their save) the heap is looked
// at again only once ten times what the last look took has passed; the idle trim sees to the rest.
std::chrono::steady_clock::time_point nextLookAllowed{};

void lookAtHeap(const std::function<void()>& look) {
    const auto started = std::chrono::steady_clock::now();
    look();
    const auto ended = std::chrono::steady_clock::now();
    nextLookAllowed = ended + 10 * (ended - started);
}

void trimLater() {
    quill::ae::RunLoop& loop = quill::ae::RunLoop::main();
    if (loop.isRunning() && loop.isCurrentThread() && !idleTrimPending) {
        idleTrimPending = true;
        loop.performAfter(kIdle, trimWhenIdle);
    }
}

}  // namespace

void configure() {
    // glibc grows and shrinks the heap's top by 128 KB by default. Reading a document's objects
    // allocates and frees at the top all the time, so the top kept moving: system calls, and every
    // page given back was faulted in again (a fill's first field lookup spent a third of its time
    // there). A top kept up to 64 MB is never touched until used; the trims above still give a
    // closed document's memory back.
    ::mallopt(M_TOP_PAD, 64 << 20);
}

void documentFreed() {
    static unsigned closes = 0;
    noteOpenOrClose();
    const bool small = heapSpan() < 2 * kFreeWorthAnIdleTrim;
    if (small && ++closes % 64 != 0) return;
    if (std::chrono::steady_clock::now() < nextLookAllowed) {
        if (!small) trimLater();
        return;
    }
    lookAtHeap([&] {
        const std::size_t free = ::mallinfo2().fordblks;
        if (free >= kFreeWorthATrim) {
            ::malloc_trim(0);
        } else if (!small && free >= kFreeWorthAnIdleTrim) {
            quill::ae::RunLoop& loop = quill::ae::RunLoop::main();
            if (!loop.isRunning() || !loop.isCurrentThread())
                ::malloc_trim(0);
            else
                trimLater();
        }
    });
}

void documentOpening() {
    noteOpenOrClose();
}

}  // namespace acro_host::heap
