// The engine's warnings: one list for the process, taken by the application.
#include "Warnings.h"

#include <mutex>

namespace quill::pdf {

namespace {
struct Kept {
    std::mutex mutex;
    std::vector<Warning> list;
    std::size_t dropped = 0;
};

Kept& kept() {
    static Kept* k = new Kept;  // never destroyed: a warning may come during exit
    return *k;
}
}  // namespace

void warn(Severity severity, std::string text) {
    Kept& k = kept();
    std::lock_guard lock(k.mutex);
    if (k.list.size() < kKeptWarnings)
        k.list.push_back({severity, std::move(text)});
    else
        ++k.dropped;
}

std::vector<Warning> takeWarnings() {
    Kept& k = kept();
    std::lock_guard lock(k.mutex);
    std::vector<Warning> out;
    out.swap(k.list);
    if (k.dropped > 0) out.push_back({Severity::kWarning, std::to_string(k.dropped) + " more warning(s) not kept"});
    k.dropped = 0;
    return out;
}

}  // namespace quill::pdf
