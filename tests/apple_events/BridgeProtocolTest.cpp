// The bridge's codes as both plug-ins must agree on them: each event id, the
// class and the keywords pinned to their four bytes, so that a slip in the
// shared header cannot go unnoticed by one side.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "BridgeProtocol.h"

using namespace quill::bridge;

namespace {

// The four characters of a code, first character in the high byte.
std::string bytesOf(OSType code) {
    return {static_cast<char>(code >> 24), static_cast<char>((code >> 16) & 0xFF),
            static_cast<char>((code >> 8) & 0xFF), static_cast<char>(code & 0xFF)};
}

TEST(BridgeProtocol, EachEventIdHasItsFourBytesInRegistrationOrder) {
    const std::pair<AEEventID, std::uint32_t> expected[] = {
        {kOpenDocEvent, 0x4B565A31},         {kSetFieldEvent, 0x4B565A32},      {kGetFieldEvent, 0x4B565A33},
        {kSaveAsDocEvent, 0x4B565A34},       {kCloseDocEvent, 0x4B565A35},      {kRestoreDefaultsEvent, 0x4B565A36},
        {kAppendDocEvent, 0x4B565A37},       {kPrintDocEvent, 0x4B565A38},      {kGetDocInfoEvent, 0x4B565A39},
        {kSetDocInfoEvent, 0x4B565A61},      {kSaveDocEvent, 0x4B565A62},       {kGetNumPagesEvent, 0x4B565A63},
        {kGetTextFromPageEvent, 0x4B565A64}, {kGetFieldNamesEvent, 0x4B565A66}, {kInsertPagesEvent, 0x4B565A67},
        {kDeletePagesEvent, 0x4B565A68},
    };
    ASSERT_EQ(std::size(expected), kAllEvents.size());
    for (std::size_t i = 0; i < kAllEvents.size(); ++i) {
        EXPECT_EQ(expected[i].first, expected[i].second) << "event " << i;
        EXPECT_EQ(kAllEvents[i], expected[i].second) << "registration order, row " << i;
    }
    EXPECT_EQ(bytesOf(kOpenDocEvent), "KVZ1");
    EXPECT_EQ(bytesOf(kSetDocInfoEvent), "KVZa");
    EXPECT_EQ(bytesOf(kDeletePagesEvent), "KVZh");
}

TEST(BridgeProtocol, EventIdsAreDistinctAndSkipTheLetterE) {
    std::set<AEEventID> seen(kAllEvents.begin(), kAllEvents.end());
    EXPECT_EQ(seen.size(), kAllEvents.size());
    EXPECT_EQ(seen.count(0x4B565A65), 0u);  // "KVZe"
}

TEST(BridgeProtocol, ClassKeywordsAndTimeout) {
    EXPECT_EQ(bytesOf(kBridgeEventClass), "KVZg");
    // The insert event reuses the class code as its id.
    EXPECT_EQ(kInsertPagesEvent, kBridgeEventClass);
    EXPECT_EQ(bytesOf(keyList), "list");
    EXPECT_EQ(bytesOf(keyCString), "cstr");
    EXPECT_EQ(bytesOf(keyLong), "long");
    EXPECT_EQ(bytesOf(keyReplyText), "errs");
    EXPECT_EQ(kReplyTimeoutTicks, 1200);
}

TEST(BridgeProtocol, AppendRepliesAreTheSevenStatusCodes) {
    const char* replies[] = {kAppendNotPermitted, kAppendNewerFormat,    kAppendTooManyPages, kAppendBadParameter,
                             kAppendNoMemory,     kAppendRecoveryFailed, kAppendOtherError};
    for (std::size_t i = 0; i < std::size(replies); ++i)
        EXPECT_EQ(std::string(replies[i]), "-" + std::to_string(i + 1));
}

}  // namespace
