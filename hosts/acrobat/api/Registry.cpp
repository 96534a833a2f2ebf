// Registry: the procedures each file behind the API tables registers, by
// table name and selector, collected before main() by static registrars.
#include "HostAPI.h"

#include <map>
#include <mutex>

namespace acro_host {

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::vector<void*>> tables;
};

// Constructed on first use: registrars in other files run during static
// initialisation, in no fixed order.
Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: tables may be read at exit
    return *r;
}

}  // namespace

void registerProc(const char* hftName, Selector sel, void* proc) {
    if (!hftName || sel == BAD_SELECTOR) return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto& entries = r.tables[hftName];
    if (entries.size() <= sel) entries.resize(sel + 1, nullptr);
    entries[sel] = proc;
}

void* registeredProc(const std::string& hftName, Selector sel) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.tables.find(hftName);
    if (it == r.tables.end() || sel >= it->second.size()) return nullptr;
    return it->second[sel];
}

std::vector<void*> registeredTable(const std::string& hftName) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.tables.find(hftName);
    if (it == r.tables.end()) return {nullptr};
    return it->second;
}

}  // namespace acro_host
