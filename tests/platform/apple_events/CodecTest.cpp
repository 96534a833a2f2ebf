// The descriptor encoding: round trips, golden bytes, and refusal of every
// damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "AEDescStorage.h"
#include "BridgeProtocol.h"

using namespace quill::ae;
using namespace quill::bridge;

namespace {

Node sampleEvent() {
    Node e = eventNode(kBridgeEventClass, kOpenDocEvent, 7, 0);
    const std::uint32_t psn[2] = {12345, 678};
    e.putAttribute(keyAddressAttr, scalar(typeProcessSerialNumber, psn, sizeof psn));
    Node list;
    list.type = typeAEList;
    list.items.push_back({0, textNode(u"/tmp/a.pdf")});
    list.items.push_back({0, boolNode(true)});
    list.items.push_back({0, int32Node(-3)});
    e.put(FourCC("list"), list);
    Node rec;
    rec.type = typeAERecord;
    rec.put(keyErrorString, textNode(u"OK"));
    e.put(FourCC("reco"), rec);
    return e;
}

Node roundTrip(const Node& n) {
    const auto bytes = encode(n);
    EXPECT_EQ(bytes.size(), encodedSize(n));
    Node back;
    EXPECT_EQ(decode(bytes.data(), bytes.size(), back), noErr);
    return back;
}

}  // namespace

TEST(Codec, EveryKindSurvivesARoundTrip) {
    Node empty;
    empty.type = typeNull;
    Node emptyList;
    emptyList.type = typeAEList;
    Node emptyRecord;
    emptyRecord.type = typeAERecord;
    Node nested;
    nested.type = typeAEList;
    nested.items.push_back({0, sampleEvent()});
    nested.items.push_back({0, emptyList});
    for (const Node& n : {int32Node(42), textNode(u"Gr\u00fc\u00dfe \U0001F600"), boolNode(false), empty, emptyList,
                          emptyRecord, sampleEvent(), nested, scalar(FourCC("abcd"), "\0\1\2", 3)}) {
        EXPECT_EQ(roundTrip(n), n);
    }
}

TEST(Codec, ListItemsKeepTheirOrder) {
    Node list;
    list.type = typeAEList;
    list.items.push_back({0, textNode(u"a")});
    list.items.push_back({0, textNode(u"b")});
    Node back = roundTrip(list);
    ASSERT_EQ(back.items.size(), 2u);
    EXPECT_EQ(back.items[0].value, textNode(u"a"));
    EXPECT_EQ(back.items[1].value, textNode(u"b"));
}

TEST(Codec, GoldenBytes) {
    const std::int32_t seven = 7;
    std::uint8_t host[4];
    std::memcpy(host, &seven, 4);
    const std::vector<std::uint8_t> scalarBytes = {'Q', 'M', 'A', 'E', 1,       'l',     'o',     'n',    'g',
                                                   0,   0,   0,   4,   host[0], host[1], host[2], host[3]};
    EXPECT_EQ(encode(int32Node(7)), scalarBytes);

    Node rec;
    rec.type = typeAERecord;
    rec.put(keyErrorNumber, scalar(FourCC("abcd"), "xy", 2));
    const std::vector<std::uint8_t> recordBytes = {'Q', 'M', 'A', 'E', 1,   'r', 'e', 'c', 'o', 0, 0, 0,   1,  'e',
                                                   'r', 'r', 'n', 'a', 'b', 'c', 'd', 0,   0,   0, 2, 'x', 'y'};
    EXPECT_EQ(encode(rec), recordBytes);

    Node list;
    list.type = typeAEList;
    list.items.push_back({0, scalar(typeNull, nullptr, 0)});
    const std::vector<std::uint8_t> listBytes = {'Q', 'M', 'A', 'E', 1,   'l', 'i', 's', 't', 0, 0,
                                                 0,   1,   'n', 'u', 'l', 'l', 0,   0,   0,   0};
    EXPECT_EQ(encode(list), listBytes);
}

TEST(Codec, EveryStrictPrefixIsRefused) {
    const auto bytes = encode(sampleEvent());
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        Node out;
        EXPECT_EQ(decode(bytes.data(), n, out), errAECorruptData) << "prefix of " << n << " bytes";
    }
}

TEST(Codec, TrailingBytesAreRefused) {
    auto bytes = encode(int32Node(1));
    bytes.push_back(0);
    Node out;
    EXPECT_EQ(decode(bytes.data(), bytes.size(), out), errAECorruptData);
}

TEST(Codec, RandomCorruptionIsRefusedOrDecodesCanonically) {
    // A corrupted message either fails, or decodes to a tree that encodes back
    // to exactly those bytes (so nothing was read past the end or invented).
    const auto good = encode(sampleEvent());
    std::mt19937 rng(20261207);
    int refused = 0;
    for (int round = 0; round < 20000; ++round) {
        auto bytes = good;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; ++f) bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
        if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
        Node out;
        if (decode(bytes.data(), bytes.size(), out) != noErr) {
            ++refused;
            continue;
        }
        EXPECT_EQ(encode(out), bytes);
    }
    EXPECT_GT(refused, 1000);
}

TEST(Codec, MalformedStructuresAreRefused) {
    Node out;
    std::string why;
    auto refuse = [&](std::vector<std::uint8_t> b) {
        return decode(b.data(), b.size(), out, &why) == errAECorruptData;
    };
    // Bad magic, unknown version.
    EXPECT_TRUE(refuse({'Q', 'M', 'A', 'X', 1, 'n', 'u', 'l', 'l', 0, 0, 0, 0}));
    EXPECT_TRUE(refuse({'Q', 'M', 'A', 'E', 2, 'n', 'u', 'l', 'l', 0, 0, 0, 0}));
    // A length or count far beyond the message: refused before allocating.
    EXPECT_TRUE(refuse({'Q', 'M', 'A', 'E', 1, 'u', 't', 'x', 't', 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(refuse({'Q', 'M', 'A', 'E', 1, 'l', 'i', 's', 't', 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(refuse({'Q', 'M', 'A', 'E', 1, 'r', 'e', 'c', 'o', 0x10, 0, 0, 0}));
    // The same keyword twice in a record.
    EXPECT_TRUE(refuse({'Q', 'M', 'A', 'E', 1, 'r', 'e', 'c', 'o', 0,   0,   0,   2,   'k', 'e', 'y', '1', 'n', 'u',
                        'l', 'l', 0,   0,   0, 0,   'k', 'e', 'y', '1', 'n', 'u', 'l', 'l', 0,   0,   0,   0}));
    EXPECT_EQ(why, "keyword given twice");
    // An event without class and ID.
    EXPECT_TRUE(refuse({'Q', 'M', 'A', 'E', 1, 'a', 'e', 'v', 't', 0, 0, 0, 0, 0, 0, 0, 0}));
    // Null input with a size, and a message over the cap.
    EXPECT_EQ(decode(nullptr, 10, out), errAECorruptData);
    std::vector<std::uint8_t> huge(kMaxMessageSize + 1, 0);
    EXPECT_EQ(decode(huge.data(), huge.size(), out, &why), errAECorruptData);
    EXPECT_EQ(why, "message too large");
}

TEST(Codec, NestingIsCappedAtTheLimit) {
    auto nestedList = [](int depth) {
        Node n = int32Node(1);
        for (int i = 1; i < depth; ++i) {
            Node outer;
            outer.type = typeAEList;
            outer.items.push_back({0, std::move(n)});
            n = std::move(outer);
        }
        return encode(n);
    };
    Node out;
    auto ok = nestedList(kMaxDepth);
    EXPECT_EQ(decode(ok.data(), ok.size(), out), noErr);
    auto deep = nestedList(kMaxDepth + 1);
    EXPECT_EQ(decode(deep.data(), deep.size(), out), errAECorruptData);
}
