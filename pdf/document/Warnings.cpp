// The engine's warning lists: the process's one, taken by the application, and the type each
// document keeps its own in.
#include "quill/pdf/Warnings.h"

#include <atomic>

namespace quill::pdf {

namespace {
std::atomic<std::uint64_t> gAdded{0};
}  // namespace

std::uint64_t warningsAdded() {
    return gAdded.load(std::memory_order_acquire);
}

void WarningList::add(Severity severity, std::string text) {
    std::lock_guard lock(mutex_);
    gAdded.fetch_add(1, std::memory_order_release);
    if (list_.size() < kKeptWarnings)
        list_.push_back({severity, std::move(text)});
    else
        ++dropped_;
}

std::vector<Warning> WarningList::list() const {
    std::lock_guard lock(mutex_);
    std::vector<Warning> out = list_;
    if (dropped_ > 0) out.push_back({Severity::kWarning, std::to_string(dropped_) + " more warning(s) not kept"});
    return out;
}

std::vector<Warning> WarningList::take() {
    std::lock_guard lock(mutex_);
    std::vector<Warning> out;
    out.swap(list_);
    if (dropped_ > 0) out.push_back({Severity::kWarning, std::to_string(dropped_) + " more warning(s) not kept"});
    dropped_ = 0;
    return out;
}

namespace {
WarningList& processList() {
    static auto* list = new WarningList;  // never destroyed: a warning may come during exit
    return *list;
}
}  // namespace

void warn(Severity severity, std::string text) {
    processList().add(severity, std::move(text));
}

std::vector<Warning> takeWarnings() {
    return processList().take();
}

}  // namespace quill::pdf
