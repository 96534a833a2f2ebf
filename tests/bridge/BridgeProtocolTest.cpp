// The bridge's words as both plug-ins must agree on them: each event id, the
// class and the keywords pinned to their four bytes and every reply text to its
// characters, so that a slip in the shared header cannot go unnoticed by one
// side.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <type_traits>

#include "AppleEvents.h"
#include "BridgeProtocol.h"

using namespace quill::bridge;

namespace {

// The four characters of a code, first character in the high byte.
std::string bytesOf(Code code) {
    return {static_cast<char>(code >> 24), static_cast<char>((code >> 16) & 0xFF),
            static_cast<char>((code >> 8) & 0xFF), static_cast<char>(code & 0xFF)};
}

TEST(BridgeProtocol, EachEventIdHasItsFourBytesInRegistrationOrder) {
    const std::pair<Code, std::uint32_t> expected[] = {
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
    std::set<Code> seen(kAllEvents.begin(), kAllEvents.end());
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

// The header stands alone, yet its codes are the platform's own type: they go
// to the Apple Event calls unconverted.
static_assert(std::is_same_v<Code, AEEventID> && std::is_same_v<Code, AEKeyword>);

TEST(BridgeProtocol, ReplyTextsOnTheWire) {
    const std::pair<const char*, const char*> texts[] = {
        {kReplyOK, "OK"},
        {kReplyPagesDone, "0"},
        {kDescriptorNotFound, "Descriptor not found."},
        {kNoDocument, "No PDF document is open."},
        {kReplyNoFieldName, "-1"},
        {kReplyNoSuchField, "-2"},
        {kReplyNoInfoPair, "-2"},
        {kReplyNoSuchPage, "-1"},
        {kReplyNoWords, "-2"},
        {kReplyNoFields, "-2"},
        {kWithValues, "y"},
        {kWithoutValues, "n"},
        {kNameValueSeparator, ":|:"},
        {kLineEnd, "\r"},
        {kAppendCertified, "-8"},
        {kInsertOpenFailed, "Failed to open source document. "},
        {kInsertAfterOutOfRange,
         "Desired position to insert page(s) after is out of range in the destination document."},
        {kInsertStartOutOfRange, "Starting page in the source document is out of range."},
        {kInsertCountOutOfRange, "Number of pages to insert in the source document out of range."},
        {kInsertFailed, "Failed to insert pages. "},
        {kInsertException, "An exception occurred when inserting pages. "},
        {kDeleteStartOutOfRange, "Starting page to be deleted is out of range."},
        {kDeleteLastOutOfRange, "Last page to be deleted is out of range."},
        {kDeleteOrder, "Start page cannot be greater than the last page."},
        {kDeleteFailed, "Failed to delete pages. "},
        {kDeleteException, "An exception occurred when deleting pages. "},
        {kPagesCertified, "The document is certified against page changes."},
        {kRequestLacksPageList, "The request lacks its page list."},
    };
    for (const auto& [name, text] : texts) EXPECT_STREQ(name, text);
}

}  // namespace
