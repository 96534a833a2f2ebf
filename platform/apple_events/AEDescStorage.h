// AEDescStorage: what an AEDesc's dataHandle points to — a descriptor tree —
// and the one flat byte encoding of such a tree, used on the wire and by
// AECreateDesc for container types. Internal to the Apple Event libraries
// and their tests.
//
// Encoding (all integers unsigned, big-endian; a "code" is four bytes, the
// first character first, as FourCC writes it):
//
//   message  = magic "QMAE", version (1 byte, = 1), node
//   node     = type (code), body; the type alone decides the body:
//     'list'   count (4 bytes), then count nodes (the items, in order)
//     'reco'   count (4 bytes), then count fields: keyword (code), node
//     'aevt'   attribute count (4 bytes), then that many fields;
//              parameter count (4 bytes), then that many fields
//     other    length (4 bytes), then length bytes of data (a scalar)
//
// A decoder accepts a message only when:
//   - every count and length fits in the bytes that are left (checked before
//     anything is allocated), and nothing follows the top node;
//   - the message is at most kMaxMessageSize bytes and nests at most
//     kMaxDepth nodes deep (a top-level scalar is depth 1);
//   - keywords are unique within one record, one event's attributes and one
//     event's parameters;
//   - every event has 4-byte 'evcl' and 'evid' attributes.
// Anything else is errAECorruptData; decoding never reads past the input.
//
// An Apple event's attributes are 'evcl', 'evid' (4-byte codes, type
// 'type'), 'rtid' ('shor'), 'tran' ('long'), optionally 'addr' (the target
// address descriptor), 'repq' ('bool', whether a reply is wanted) and
// 'timo' ('long', ticks). Scalars are kept as given: 'long' and 'shor' in
// host byte order in memory, as on the Mac; the encoding copies the bytes.
//
// Example: descriptorWithInt32(7) on a little-endian host encodes as
//   51 4D 41 45 01 | 6C 6F 6E 67 | 00 00 00 04 | 07 00 00 00
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "AppleEvents.h"

namespace quill::ae {

inline constexpr std::uint8_t kWireMagic[4] = {'Q', 'M', 'A', 'E'};
inline constexpr std::uint8_t kWireVersion = 1;
inline constexpr std::size_t kMaxMessageSize = 64u * 1024u * 1024u;
inline constexpr int kMaxDepth = 64;

enum class Kind { Scalar, List, Record, Event };
constexpr Kind kindOf(DescType t) {
    return t == typeAEList       ? Kind::List
           : t == typeAERecord   ? Kind::Record
           : t == typeAppleEvent ? Kind::Event
                                 : Kind::Scalar;
}

// A descriptor tree. Value type: copying copies the whole tree.
struct Node {
    struct Item;
    DescType type = typeNull;
    std::vector<std::uint8_t> data;  // scalars
    std::vector<Item> items;         // list items (key 0), record fields, event parameters
    std::vector<Item> attributes;    // events only

    Kind kind() const { return kindOf(type); }
    // Keyed access to items (records, event parameters) or attributes.
    const Node* find(AEKeyword key) const;
    const Node* findAttribute(AEKeyword key) const;
    void put(AEKeyword key, Node value);  // replaces in place, else appends
    void putAttribute(AEKeyword key, Node value);
    bool remove(AEKeyword key);
    bool operator==(const Node& other) const;
};
struct Node::Item {
    AEKeyword key = 0;
    Node value;
    bool operator==(const Item& other) const = default;
};

// Scalar helpers.
Node scalar(DescType type, const void* bytes, std::size_t size);
Node int32Node(SInt32 v);
Node int16Node(SInt16 v);
Node typeCodeNode(OSType v);
Node boolNode(bool v);
Node textNode(const std::u16string& units);  // 'utxt'
// A new Apple event with the standard attributes.
Node eventNode(AEEventClass eventClass, AEEventID eventID, AEReturnID returnID, AETransactionID transactionID);
// The reply event for a request: 'aevt'/'ansr' with the request's return ID and transaction ID.
Node replyNodeFor(const Node& request);
// 4-byte code / int from a scalar; false when the size or type does not fit.
bool readCode(const Node* n, OSType& out);
bool readInt32(const Node* n, SInt32& out);
bool readInt16(const Node* n, SInt16& out);

// Codec.
std::vector<std::uint8_t> encode(const Node& node);
void encodeAppend(const Node& node, std::vector<std::uint8_t>& out);  // appends a whole message
std::size_t encodedSize(const Node& node);                            // of the whole message
// OSErr noErr, or errAECorruptData with a short reason in *why.
OSErr decode(const std::uint8_t* bytes, std::size_t size, Node& out, std::string* why = nullptr);

}  // namespace quill::ae

struct AEDescStorage {
    quill::ae::Node node;
};

namespace quill::ae {

// The node behind a desc, with the desc's own type (which a caller may have
// changed by hand) taken as the truth.
inline Node nodeOf(const AEDesc& d) {
    Node n = d.dataHandle ? d.dataHandle->node : Node{};
    n.type = d.descriptorType;
    return n;
}

}  // namespace quill::ae
