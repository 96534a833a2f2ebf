// RunLoop: placeholder until the event server lands.
#include "RunLoop.h"

namespace quill::ae {
struct RunLoop::Impl {};
RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}
RunLoop::~RunLoop() = default;
RunLoop& RunLoop::main() {
    static RunLoop* loop = new RunLoop;
    return *loop;
}
void RunLoop::run() {}
void RunLoop::stop() {}
bool RunLoop::isRunning() const { return false; }
void RunLoop::performOnMainThread(std::function<void()>) {}
void RunLoop::performAfter(std::chrono::milliseconds, std::function<void()>) {}
void RunLoop::setListeningSocket(int) {}
}  // namespace quill::ae
