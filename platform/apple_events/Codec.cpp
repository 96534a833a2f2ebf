// Codec: the descriptor tree and its flat encoding (format in AEDescStorage.h).
#include "AEDescStorage.h"

#include <algorithm>
#include <cstring>

namespace quill::ae {

namespace {

const Node* findIn(const std::vector<Node::Item>& items, AEKeyword key) {
    for (const auto& it : items)
        if (it.key == key) return &it.value;
    return nullptr;
}

void putIn(std::vector<Node::Item>& items, AEKeyword key, Node value) {
    for (auto& it : items)
        if (it.key == key) {
            it.value = std::move(value);
            return;
        }
    items.push_back(Node::Item{key, std::move(value)});
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                               static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    out.insert(out.end(), b, b + 4);
}

std::size_t nodeSize(const Node& n) {
    std::size_t size = 4 + 4;  // type, count or length
    switch (n.kind()) {
        case Kind::Scalar:
            return size + n.data.size();
        case Kind::List:
            for (const auto& it : n.items) size += nodeSize(it.value);
            return size;
        case Kind::Record:
            for (const auto& it : n.items) size += 4 + nodeSize(it.value);
            return size;
        case Kind::Event:
            size += 4;
            for (const auto& it : n.attributes) size += 4 + nodeSize(it.value);
            for (const auto& it : n.items) size += 4 + nodeSize(it.value);
            return size;
    }
    return size;
}

void encodeNode(const Node& n, std::vector<std::uint8_t>& out) {
    put32(out, n.type);
    switch (n.kind()) {
        case Kind::Scalar:
            put32(out, static_cast<std::uint32_t>(n.data.size()));
            out.insert(out.end(), n.data.begin(), n.data.end());
            return;
        case Kind::List:
            put32(out, static_cast<std::uint32_t>(n.items.size()));
            for (const auto& it : n.items) encodeNode(it.value, out);
            return;
        case Kind::Record:
            put32(out, static_cast<std::uint32_t>(n.items.size()));
            for (const auto& it : n.items) {
                put32(out, it.key);
                encodeNode(it.value, out);
            }
            return;
        case Kind::Event:
            put32(out, static_cast<std::uint32_t>(n.attributes.size()));
            for (const auto& it : n.attributes) {
                put32(out, it.key);
                encodeNode(it.value, out);
            }
            put32(out, static_cast<std::uint32_t>(n.items.size()));
            for (const auto& it : n.items) {
                put32(out, it.key);
                encodeNode(it.value, out);
            }
            return;
    }
}

// Reads from [p, end) and never past it; every failure names its reason.
class Reader {
public:
    Reader(const std::uint8_t* p, std::size_t n) : p_(p), end_(p + n) {}
    std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }
    bool u32(std::uint32_t& v) {
        if (left() < 4) return false;
        v = (std::uint32_t{p_[0]} << 24) | (std::uint32_t{p_[1]} << 16) | (std::uint32_t{p_[2]} << 8) | p_[3];
        p_ += 4;
        return true;
    }
    bool bytes(std::size_t n, std::vector<std::uint8_t>& out) {
        if (left() < n) return false;
        out.assign(p_, p_ + n);
        p_ += n;
        return true;
    }
    bool node(Node& n, int depth, const char*& why) {
        if (depth > kMaxDepth) return fail(why, "nested too deeply");
        std::uint32_t type = 0, count = 0;
        if (!u32(type)) return fail(why, "truncated type");
        n.type = type;
        switch (kindOf(type)) {
            case Kind::Scalar:
                if (!u32(count)) return fail(why, "truncated length");
                if (!bytes(count, n.data)) return fail(why, "data longer than the message");
                return true;
            case Kind::List:
                if (!u32(count)) return fail(why, "truncated count");
                if (count > left() / 8) return fail(why, "more items than the message can hold");
                n.items.resize(count);
                for (auto& it : n.items)
                    if (!node(it.value, depth + 1, why)) return false;
                return true;
            case Kind::Record:
                return fields(n.items, depth, why);
            case Kind::Event: {
                if (!fields(n.attributes, depth, why) || !fields(n.items, depth, why)) return false;
                OSType code = 0;
                if (!readCode(findIn(n.attributes, keyEventClassAttr), code) ||
                    !readCode(findIn(n.attributes, keyEventIDAttr), code))
                    return fail(why, "event without class or ID");
                return true;
            }
        }
        return fail(why, "unknown kind");
    }

private:
    static bool fail(const char*& why, const char* reason) {
        why = reason;
        return false;
    }
    bool fields(std::vector<Node::Item>& items, int depth, const char*& why) {
        std::uint32_t count = 0;
        if (!u32(count)) return fail(why, "truncated count");
        if (count > left() / 12) return fail(why, "more fields than the message can hold");
        items.resize(count);
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (!u32(items[i].key)) return fail(why, "truncated keyword");
            for (std::size_t j = 0; j < i; ++j)
                if (items[j].key == items[i].key) return fail(why, "keyword given twice");
            if (!node(items[i].value, depth + 1, why)) return false;
        }
        return true;
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

}  // namespace

const Node* Node::find(AEKeyword key) const {
    return findIn(items, key);
}
const Node* Node::findAttribute(AEKeyword key) const {
    return findIn(attributes, key);
}
void Node::put(AEKeyword key, Node value) {
    putIn(items, key, std::move(value));
}
void Node::putAttribute(AEKeyword key, Node value) {
    putIn(attributes, key, std::move(value));
}
bool Node::remove(AEKeyword key) {
    auto it = std::find_if(items.begin(), items.end(), [key](const Item& i) { return i.key == key; });
    if (it == items.end()) return false;
    items.erase(it);
    return true;
}
bool Node::operator==(const Node& other) const {
    return type == other.type && data == other.data && items == other.items && attributes == other.attributes;
}

Node scalar(DescType type, const void* bytes, std::size_t size) {
    Node n;
    n.type = type;
    if (size) {
        const auto* b = static_cast<const std::uint8_t*>(bytes);
        n.data.assign(b, b + size);
    }
    return n;
}
Node int32Node(SInt32 v) {
    return scalar(typeSInt32, &v, sizeof v);
}
Node int16Node(SInt16 v) {
    return scalar(typeSInt16, &v, sizeof v);
}
Node typeCodeNode(OSType v) {
    return scalar(typeType, &v, sizeof v);
}
Node boolNode(bool v) {
    const std::uint8_t b = v ? 1 : 0;
    return scalar(typeBoolean, &b, 1);
}
Node textNode(const std::u16string& units) {
    return scalar(typeUnicodeText, units.data(), units.size() * sizeof(char16_t));
}

Node eventNode(AEEventClass eventClass, AEEventID eventID, AEReturnID returnID, AETransactionID transactionID) {
    Node n;
    n.type = typeAppleEvent;
    n.putAttribute(keyEventClassAttr, typeCodeNode(eventClass));
    n.putAttribute(keyEventIDAttr, typeCodeNode(eventID));
    n.putAttribute(keyReturnIDAttr, int16Node(returnID));
    n.putAttribute(keyTransactionIDAttr, int32Node(transactionID));
    return n;
}

Node replyNodeFor(const Node& request) {
    SInt16 rtid = 0;
    SInt32 tran = 0;
    readInt16(request.findAttribute(keyReturnIDAttr), rtid);
    readInt32(request.findAttribute(keyTransactionIDAttr), tran);
    return eventNode(kCoreEventClass, kAEAnswer, rtid, tran);
}

bool readCode(const Node* n, OSType& out) {
    if (!n || n->kind() != Kind::Scalar || n->data.size() != 4) return false;
    std::memcpy(&out, n->data.data(), 4);
    return true;
}
bool readInt32(const Node* n, SInt32& out) {
    if (!n || n->kind() != Kind::Scalar || n->data.size() != 4) return false;
    std::memcpy(&out, n->data.data(), 4);
    return true;
}
bool readInt16(const Node* n, SInt16& out) {
    if (!n || n->kind() != Kind::Scalar || n->data.size() != 2) return false;
    std::memcpy(&out, n->data.data(), 2);
    return true;
}

std::size_t encodedSize(const Node& node) {
    return 5 + nodeSize(node);
}

void encodeAppend(const Node& node, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + encodedSize(node));
    out.insert(out.end(), kWireMagic, kWireMagic + 4);
    out.push_back(kWireVersion);
    encodeNode(node, out);
}

std::vector<std::uint8_t> encode(const Node& node) {
    std::vector<std::uint8_t> out;
    encodeAppend(node, out);
    return out;
}

OSErr decode(const std::uint8_t* bytes, std::size_t size, Node& out, std::string* why) {
    const char* reason = nullptr;
    auto fail = [&](const char* r) {
        if (why) *why = r;
        return errAECorruptData;
    };
    if (!bytes && size) return fail("no bytes");
    if (size > kMaxMessageSize) return fail("message too large");
    if (size < 5 || std::memcmp(bytes, kWireMagic, 4) != 0) return fail("not a descriptor message");
    if (bytes[4] != kWireVersion) return fail("unknown version");
    Reader r(bytes + 5, size - 5);
    Node n;
    if (!r.node(n, 1, reason)) return fail(reason);
    if (r.left() != 0) return fail("bytes after the descriptor");
    out = std::move(n);
    return noErr;
}

}  // namespace quill::ae
