// Windows: the window list.
#include "Windows.h"

#include "Log.h"
#include "PDDocHandle.h"

#include <algorithm>
#include <memory>

namespace acro_host::windows {

namespace {

std::vector<std::unique_ptr<_t_AVDoc>>& list() {
    static auto* l = new std::vector<std::unique_ptr<_t_AVDoc>>;  // never destroyed: handles outlive main
    return *l;
}

}  // namespace

AVDoc open(PDDoc doc, const std::string& title, bool adoptReference) {
    auto w = std::make_unique<_t_AVDoc>();
    w->pdDoc = doc;
    w->title = title;
    list().reserve(list().size() + 1);  // nothing below may throw once the reference is taken
    if (!adoptReference) acquirePDDoc(doc);
    list().push_back(std::move(w));
    applog::event("window opened: " + (title.empty() ? std::string("(untitled)") : title));
    return list().back().get();
}

AVDoc active() {
    return list().empty() ? nullptr : list().back().get();
}

bool isLive(AVDoc window) {
    if (!window) return false;
    return std::any_of(list().begin(), list().end(), [&](const auto& w) { return w.get() == window; });
}

bool close(AVDoc window) {
    auto& l = list();
    auto it = std::find_if(l.begin(), l.end(), [&](const auto& w) { return w.get() == window; });
    if (it == l.end()) return false;
    std::unique_ptr<_t_AVDoc> w = std::move(*it);
    l.erase(it);
    applog::event("window closed: " + (w->title.empty() ? std::string("(untitled)") : w->title));
    if (isLivePDDoc(w->pdDoc)) releasePDDoc(w->pdDoc);
    return true;
}

std::vector<AVDoc> all() {
    std::vector<AVDoc> out;
    for (const auto& w : list()) out.push_back(w.get());
    return out;
}

}  // namespace acro_host::windows
