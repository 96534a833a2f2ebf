// The field walk and its handlers, page text and document information,
// answered by the real plug-in inside an in-process acrobat-host.
#include "PluginSession.h"

#include "Application.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace quilltest;

namespace {

class FieldHandlers : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        form = dir.path() / "walk.pdf";
        writeWalkForm(form);
        ASSERT_EQ(open(form).utf8(), kReplyOK);
    }
    void TearDown() override { reset(); }

    std::string get(const std::string& name) { return send(kGetFieldEvent, {{keyCString, text(name)}}).utf8(); }
    std::string set(const std::string& name, const std::string& value) {
        return send(kSetFieldEvent, {{keyList, list({text(name), text(value)})}}).utf8();
    }
    std::string names(const std::string& flag) { return send(kGetFieldNamesEvent, {{keyCString, text(flag)}}).utf8(); }

    TempDir dir;
    fs::path form;
};

TEST_F(FieldHandlers, NamesListOwnKindsParentsAndValuesAsRawUnits) {
    const std::string expected =
        "a:|:x\rb:|:Off\rperson:|:pv\rgrp.c:|:cv\rdup:|:one\rdup:|:two\rmulti:|:\rpush:|:\rempty:|:\r";
    const Reply withValues = send(kGetFieldNamesEvent, {{keyCString, text(kWithValues)}});
    EXPECT_EQ(withValues.type, typeUnicodeText);
    EXPECT_EQ(withValues.bytes.size(), withValues.units.size() * 2);  // no terminating zero
    EXPECT_EQ(withValues.utf8(), expected);
    const std::string namesOnly = "a\rb\rperson\rgrp.c\rdup\rdup\rmulti\rpush\rempty\r";
    EXPECT_EQ(names(kWithoutValues), namesOnly);
    EXPECT_EQ(names("Y"), namesOnly);
    EXPECT_EQ(send(kGetFieldNamesEvent).utf8(), namesOnly);
}

TEST_F(FieldHandlers, GetFindsFullNamesOfOwnKindsOnly) {
    const Reply a = send(kGetFieldEvent, {{keyCString, text("a")}});
    EXPECT_EQ(a.type, typeUnicodeText);
    EXPECT_EQ(a.bytes.size(), 2u);
    EXPECT_EQ(a.utf8(), "x");
    EXPECT_EQ(get("b"), "Off");
    EXPECT_EQ(get("person"), "pv");
    EXPECT_EQ(get("grp.c"), "cv");
    EXPECT_EQ(get("dup"), "one");
    // Kids inheriting their kind, partial names, signatures and parents
    // without a kind are not found.
    for (const char* missing : {"person.first", "first", "c", "grp", "sig", "nothing"})
        EXPECT_EQ(get(missing), kReplyNoSuchField) << missing;
    // Found, but the value cannot be read: the empty text.
    for (const char* unreadable : {"multi", "push", "empty"}) {
        const Reply r = send(kGetFieldEvent, {{keyCString, text(unreadable)}});
        EXPECT_TRUE(r.present) << unreadable;
        EXPECT_TRUE(r.units.empty()) << unreadable;
    }
    EXPECT_EQ(send(kGetFieldEvent).utf8(), kReplyNoFieldName);
}

TEST_F(FieldHandlers, SetChangesTheFirstMatchingFieldOnly) {
    EXPECT_EQ(set("dup", "new"), kReplyOK);
    EXPECT_EQ(get("dup"), "new");
    EXPECT_EQ(names(kWithValues).find("dup:|:new\rdup:|:two\r") != std::string::npos, true);
    EXPECT_EQ(set("c", "v"), kReplyNoSuchField);
    EXPECT_EQ(set("person.first", "v"), kReplyNoSuchField);
    EXPECT_EQ(set("grp.c", "Zoë ✓"), kReplyOK);
    EXPECT_EQ(get("grp.c"), "Zoë ✓");
    EXPECT_EQ(get("a"), "x");
}

TEST_F(FieldHandlers, AStoreThatRaisesIsReportedWithAcrobatsMessage) {
    // "Bogus" names no state of the check box b, so the store is refused.
    const std::string reply = set("b", "Bogus");
    EXPECT_NE(reply, kReplyOK);
    EXPECT_NE(reply, kReplyNoSuchField);
    EXPECT_FALSE(reply.empty());
    EXPECT_EQ(get("b"), "Off");
    EXPECT_EQ(set("b", "Yes"), kReplyOK);
    EXPECT_EQ(get("b"), "Yes");
}

TEST_F(FieldHandlers, MalformedSetRequestsChangeNothing) {
    EXPECT_EQ(send(kSetFieldEvent).utf8(), kDescriptorNotFound);
    EXPECT_EQ(send(kSetFieldEvent, {{keyList, list({text("a")})}}).utf8(), kDescriptorNotFound);
    EXPECT_EQ(send(kSetFieldEvent, {{keyCString, text("a")}}).utf8(), kDescriptorNotFound);
    EXPECT_EQ(get("a"), "x");
}

TEST_F(FieldHandlers, LongValuesAreSentWhole) {
    std::string big(70000, 'v');
    big += "end";
    ASSERT_EQ(set("a", big), kReplyOK);
    const Reply r = send(kGetFieldEvent, {{keyCString, text("a")}});
    EXPECT_EQ(r.units.size(), big.size());
    EXPECT_EQ(r.utf8(), big);
    EXPECT_EQ(names(kWithValues).size(), big.size() + std::string("a:|:\rb:|:Off\rperson:|:pv\rgrp.c:|:cv\rdup:|:one\r"
                                                                  "dup:|:two\rmulti:|:\rpush:|:\rempty:|:\r")
                                                          .size());
}

TEST_F(FieldHandlers, AWindowInFrontBecomesTheWorkingDocument) {
    const fs::path other = dir.path() / "other.pdf";
    writeWalkForm(other);
    application().openWindow(other.string());
    EXPECT_EQ(set("a", "in window"), kReplyOK);
    EXPECT_EQ(get("a"), "in window");
    // Saving writes the window's document; the file opened first is untouched.
    const std::string before = slurp(form);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(slurp(form), before);
    EXPECT_EQ(qpdfFieldValue(other, "a"), "in window");
    // Close takes the window and forgets its document.
    EXPECT_EQ(send(kCloseDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), kNoDocument);
}

TEST_F(FieldHandlers, NoFormFieldsAnswerNotFound) {
    const fs::path plain = dir.path() / "plain.pdf";
    writePages(plain, 1);
    ASSERT_EQ(open(plain).utf8(), kReplyOK);
    EXPECT_EQ(names(kWithValues), kReplyNoFields);
    EXPECT_EQ(get("a"), kReplyNoSuchField);
    EXPECT_EQ(set("a", "x"), kReplyNoSuchField);
    ASSERT_EQ(open(dir.fixture("with_signature.pdf")).utf8(), kReplyOK);
    EXPECT_EQ(names(kWithoutValues), kReplyNoFields);
}

class TextAndInfoHandlers : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    TempDir dir;
};

TEST_F(TextAndInfoHandlers, PageTextJoinsWordsWithBlanksAndCarriageReturns) {
    const fs::path page = dir.path() / "text.pdf";
    writeTextPage(page);
    ASSERT_EQ(open(page).utf8(), kReplyOK);
    const Reply r = send(kGetTextFromPageEvent, {{keyLong, number(1)}});
    EXPECT_EQ(r.type, typeUnicodeText);
    EXPECT_EQ(r.bytes.size(), r.units.size() * 2);
    const std::string t = r.utf8();
    EXPECT_NE(t.find("Hello World"), std::string::npos) << t;
    EXPECT_LT(t.find("Hello World"), t.find("Second line")) << t;
    EXPECT_NE(t.find('\r'), std::string::npos) << t;
    EXPECT_EQ(t.find('\n'), std::string::npos) << t;
    for (int bad : {0, -1, 2})
        EXPECT_EQ(send(kGetTextFromPageEvent, {{keyLong, number(bad)}}).utf8(), kReplyNoSuchPage) << bad;
    EXPECT_EQ(send(kGetTextFromPageEvent).utf8(), kReplyNoSuchPage);
}

TEST_F(TextAndInfoHandlers, AnImageOnlyPageHasNoWords) {
    ASSERT_EQ(open(dir.fixture("congress.pdf")).utf8(), kReplyOK);
    EXPECT_EQ(send(kGetTextFromPageEvent, {{keyLong, number(1)}}).utf8(), kReplyNoWords);
}

TEST_F(TextAndInfoHandlers, InfoSetAndGetRoundTripAsRawUnits) {
    const fs::path pdf = dir.path() / "info.pdf";
    writePages(pdf, 1);
    ASSERT_EQ(open(pdf).utf8(), kReplyOK);
    const Reply none = send(kGetDocInfoEvent, {{keyCString, text("Title")}});
    EXPECT_TRUE(none.present);
    EXPECT_EQ(none.bytes.size(), 0u);
    EXPECT_EQ(send(kSetDocInfoEvent, {{keyList, list({text("Author"), text("Zoë Ångström")})}}).utf8(), kReplyOK);
    const Reply author = send(kGetDocInfoEvent, {{keyCString, text("Author")}});
    EXPECT_EQ(author.type, typeUnicodeText);
    EXPECT_EQ(author.utf8(), "Zoë Ångström");
    EXPECT_EQ(send(kSetDocInfoEvent, {{keyList, list({text("Author")})}}).utf8(), kReplyNoInfoPair);
    EXPECT_EQ(send(kSetDocInfoEvent).utf8(), kReplyNoInfoPair);
    EXPECT_EQ(send(kGetDocInfoEvent).utf8(), kDescriptorNotFound);

    const std::string longTitle(66000, 't');
    EXPECT_EQ(send(kSetDocInfoEvent, {{keyList, list({text("Title"), text(longTitle)})}}).utf8(), kReplyOK);
    EXPECT_EQ(send(kGetDocInfoEvent, {{keyCString, text("Title")}}).units.size(), longTitle.size());
}

TEST_F(TextAndInfoHandlers, ARefusedInfoSetIsAnsweredWithItsMessage) {
    // sample2.pdf is certified with no changes allowed.
    ASSERT_EQ(open(dir.fixture("sample2.pdf")).utf8(), kReplyOK);
    const std::string title = send(kGetDocInfoEvent, {{keyCString, text("Title")}}).utf8();
    EXPECT_EQ(send(kSetDocInfoEvent, {{keyList, list({text("Title"), text("changed")})}}).utf8(),
              "Operation not permitted.");
    EXPECT_EQ(send(kGetDocInfoEvent, {{keyCString, text("Title")}}).utf8(), title);
}

}  // namespace
