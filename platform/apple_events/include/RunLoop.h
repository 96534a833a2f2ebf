// RunLoop: the application's main loop — serves the event socket of the
// registered application (quill::process::registerApplication) and runs
// queued work and timers, all on the thread that calls run().
//
// Events from any number of clients are read as they arrive and dispatched
// one at a time through NSAppleEventManager, in arrival order, on the run()
// thread; each reply is written back to the client that sent the event.
// performOnMainThread and performAfter may be called from any thread; stop()
// from any thread and from a signal handler.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace quill::ae {

class RunLoop {
public:
    static RunLoop& main();

    // Serves until stop(). A stop() that comes while run() is not running
    // makes the next run() return at once (so a signal that arrives during
    // start-up is not lost).
    void run();
    // Thread- and async-signal-safe.
    void stop();
    bool isRunning() const;
    // Whether the calling thread is the one inside run().
    bool isCurrentThread() const;

    // Queues fn to run on the run() thread; functions run in queue order.
    void performOnMainThread(std::function<void()> fn);
    // Runs fn on the run() thread once delay has passed.
    void performAfter(std::chrono::milliseconds delay, std::function<void()> fn);
    // Runs fn on the run() thread after every event dispatched (the application's logging of what
    // its handlers left behind). Set before run().
    void setAfterEachEvent(std::function<void()> fn);

    // Event socket (for registerApplication): a listening, non-blocking
    // Unix-domain socket whose clients run() serves. The loop takes the
    // descriptor over; -1 stops serving.
    void setListeningSocket(int fd);

    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;
    ~RunLoop();

    struct Impl;

private:
    RunLoop();
    std::unique_ptr<Impl> impl_;
};

}  // namespace quill::ae
