// Object handles of the C tables (CosObj, PDField): what a plug-in holds instead of a pointer.
#pragma once

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace acro_host {

// Handles for PDF objects handed across the C tables: a (document id, slot) pair, where
// (0, 0) is the null object. Document ids are never reused, so a handle of a closed
// document resolves to nothing rather than to another document's object. Main thread only.
class ObjectHandles {
public:
    struct Handle {
        std::uint32_t a = 0, b = 0;
    };
    static ObjectHandles& shared();

    // The id of the document `owner` (a Document, or anything standing for one in tests).
    std::uint32_t idOf(const std::shared_ptr<void>& owner);
    // The owner of an id; null once it is gone.
    std::shared_ptr<void> owner(std::uint32_t id) const;

    // A handle for `object` of document `id`; the same indirect object gets the same handle.
    Handle handle(std::uint32_t id, QPDFObjectHandle object);
    // A handle for the value under `key` of `container`, reused while that value stands.
    Handle handleForKey(std::uint32_t id, QPDFObjectHandle container, const std::string& key);
    // The object behind a handle; nullopt when the handle is unknown or its document gone.
    std::optional<QPDFObjectHandle> object(Handle h) const;
    // Drops the slots of documents that are gone (a close calls it: a slot keeps its object alive).
    void forgetClosed() { prune(); }

private:
    struct PerDocument {
        std::weak_ptr<void> owner;
        std::vector<QPDFObjectHandle> slots{QPDFObjectHandle::newNull()};  // slot 0 unused
        std::map<QPDFObjGen, std::uint32_t> indirect;
        std::map<std::pair<QPDFObjGen, std::string>, std::uint32_t> byKey;
    };
    void prune();
    std::map<std::uint32_t, PerDocument> docs_;
    std::uint32_t nextId_ = 1;
};

}  // namespace acro_host
