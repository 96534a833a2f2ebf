// Object handles of the C tables.
#include "ObjectHandles.h"

namespace acro_host {

ObjectHandles& ObjectHandles::shared() {
    static ObjectHandles handles;
    return handles;
}

void ObjectHandles::prune() {
    for (auto it = docs_.begin(); it != docs_.end();) {
        if (it->second.owner.expired())
            it = docs_.erase(it);
        else
            ++it;
    }
}

std::uint32_t ObjectHandles::idOf(const std::shared_ptr<void>& owner) {
    for (auto& [id, doc] : docs_)
        if (!doc.owner.expired() && doc.owner.lock() == owner) return id;
    prune();
    std::uint32_t id = nextId_++;
    docs_[id].owner = owner;
    return id;
}

std::shared_ptr<void> ObjectHandles::owner(std::uint32_t id) const {
    auto it = docs_.find(id);
    return it == docs_.end() ? nullptr : it->second.owner.lock();
}

ObjectHandles::Handle ObjectHandles::handle(std::uint32_t id, QPDFObjectHandle object) {
    auto it = docs_.find(id);
    if (it == docs_.end() || !object.isInitialized() || object.isNull()) return {};
    auto& doc = it->second;
    if (object.isIndirect()) {
        auto found = doc.indirect.find(object.getObjGen());
        if (found != doc.indirect.end()) return {id, found->second};
    }
    auto slot = static_cast<std::uint32_t>(doc.slots.size());
    doc.slots.push_back(object);
    if (object.isIndirect()) doc.indirect[object.getObjGen()] = slot;
    return {id, slot};
}

ObjectHandles::Handle ObjectHandles::handleForKey(std::uint32_t id, QPDFObjectHandle container,
                                                  const std::string& key) {
    if (!container.isDictionary()) return {};
    auto value = container.getKey(key);
    if (value.isNull() || value.isIndirect() || !container.isIndirect()) return handle(id, value);
    // Direct values (a field's /FT, say) are asked for on every walk: keep one slot per entry.
    auto it = docs_.find(id);
    if (it == docs_.end()) return {};
    auto cacheKey = std::make_pair(container.getObjGen(), key);
    auto found = it->second.byKey.find(cacheKey);
    if (found != it->second.byKey.end() && it->second.slots[found->second].isSameObjectAs(value))
        return {id, found->second};
    auto h = handle(id, value);
    it->second.byKey[cacheKey] = h.b;
    return h;
}

std::optional<QPDFObjectHandle> ObjectHandles::object(Handle h) const {
    if (h.a == 0 && h.b == 0) return QPDFObjectHandle::newNull();
    auto it = docs_.find(h.a);
    if (it == docs_.end() || it->second.owner.expired() || h.b == 0 || h.b >= it->second.slots.size())
        return std::nullopt;
    return it->second.slots[h.b];
}

}  // namespace acro_host
