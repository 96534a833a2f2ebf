// Open, close, page count, save, save as, append, insert, delete and restore
// defaults, answered by the real plug-in inside an in-process acrobat-host.
#include "PluginSession.h"

#include "Application.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace quilltest;

namespace {

class DocumentHandlers : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    TempDir dir;
};

TEST_F(DocumentHandlers, OpenCountAndCloseAnswerAsTheProtocolSays) {
    const fs::path five = dir.fixture("hello_world_rotated.pdf");
    EXPECT_EQ(open(five).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "5");

    // A second open replaces the working document.
    const fs::path six = dir.fixture("bug1708041.pdf");
    EXPECT_EQ(open(six).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "6");

    EXPECT_EQ(send(kCloseDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), kNoDocument);
    // Closing with nothing open is fine.
    EXPECT_EQ(send(kCloseDocEvent).utf8(), kReplyOK);
}

TEST_F(DocumentHandlers, FailedOpenKeepsTheWorkingDocument) {
    ASSERT_EQ(open(dir.fixture("hello_world_rotated.pdf")).utf8(), kReplyOK);
    const fs::path notPdf = dir.path() / "notes.pdf";
    std::ofstream(notPdf) << "just some text\n";
    for (const fs::path& bad :
         {dir.path() / "missing.pdf", dir.fixture("PasswordSample-128bit.pdf"), notPdf, dir.path()}) {
        const Reply r = open(bad);
        EXPECT_TRUE(r.present);
        EXPECT_NE(r.utf8(), kReplyOK) << bad;
        EXPECT_FALSE(r.utf8().empty()) << bad;
        EXPECT_LE(r.utf8().size(), 255u) << bad;
        EXPECT_EQ(pageCount(), "5") << bad;
    }
}

TEST_F(DocumentHandlers, OpenWithoutItsListOrWithAnUnusableItem) {
    EXPECT_EQ(send(kOpenDocEvent).utf8(), kDescriptorNotFound);
    EXPECT_EQ(send(kOpenDocEvent, {{keyList, list({})}}).utf8(), kDescriptorNotFound);
    EXPECT_EQ(send(kOpenDocEvent, {{keyList, list({list({})})}}).utf8(), kDescriptorNotFound);
    // An empty path is an error, never a document.
    const Reply empty = send(kOpenDocEvent, {{keyList, list({text("")})}});
    EXPECT_NE(empty.utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), kNoDocument);
}

TEST_F(DocumentHandlers, PathsWithSpacesAndNonAsciiLettersOpenAppendAndInsert) {
    const fs::path odd = dir.fixture("Gday garçon - owner.pdf");
    ASSERT_EQ(open(odd).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "1");
    const fs::path source = dir.fixture("hello_world_rotated.pdf", "säte é.pdf");
    EXPECT_EQ(send(kAppendDocEvent, {{keyCString, text(source.string())}}).utf8(), kReplyOK);
    EXPECT_EQ(send(kInsertPagesEvent,
                   {{keyList, list({number(1), text(source.string()), number(1), number(2), boolean(false)})}})
                  .utf8(),
              kReplyPagesDone);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "8");
    EXPECT_EQ(qpdfPageCount(odd), 8);
}

TEST_F(DocumentHandlers, AppendGoesToTheEditCopyUntilSave) {
    const fs::path base = dir.path() / "base.pdf";
    const fs::path extra = dir.path() / "extra.pdf";
    writePages(base, 3);
    writePages(extra, 2);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    EXPECT_EQ(send(kAppendDocEvent, {{keyCString, text(extra.string())}}).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "3");
    // The parameter is taken by position, whatever its keyword.
    EXPECT_EQ(send(kAppendDocEvent, {{FourCC("xxxx"), text(extra.string())}}).utf8(), kReplyOK);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "7");
    EXPECT_EQ(qpdfPageCount(base), 7);
    // Later changes start a new edit copy from the saved document.
    EXPECT_EQ(send(kAppendDocEvent, {{keyCString, text(extra.string())}}).utf8(), kReplyOK);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(base), 9);
}

TEST_F(DocumentHandlers, AppendFailuresAnswerByErrorNumber) {
    const fs::path base = dir.path() / "base.pdf";
    writePages(base, 3);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    EXPECT_EQ(send(kAppendDocEvent).utf8(), kAppendOtherError);
    const std::string missing = send(kAppendDocEvent, {{keyCString, text((dir.path() / "nope.pdf").string())}}).utf8();
    // The other-error reply, with Acrobat's words for why.
    EXPECT_EQ(missing.rfind(std::string(kAppendOtherError) + " ", 0), 0u) << missing;
    EXPECT_NE(missing.find("does not exist"), std::string::npos) << missing;
    // Nothing was appended: the save writes the three pages again.
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(base), 3);
}

TEST_F(DocumentHandlers, SaveAsWritesACopyAndLeavesTheDocumentOnItsFile) {
    const fs::path base = dir.path() / "base.pdf";
    const fs::path extra = dir.path() / "extra.pdf";
    const fs::path copy = dir.path() / "copy é.pdf";
    writePages(base, 2);
    writePages(extra, 1);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    ASSERT_EQ(send(kAppendDocEvent, {{keyCString, text(extra.string())}}).utf8(), kReplyOK);
    EXPECT_EQ(send(kSaveAsDocEvent, {{keyCString, text(copy.string())}}).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(copy), 3);  // the edit copy is what is written
    EXPECT_EQ(qpdfPageCount(base), 2);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(base), 3);

    const Reply bad = send(kSaveAsDocEvent, {{keyCString, text((dir.path() / "no-such-folder" / "x.pdf").string())}});
    EXPECT_NE(bad.utf8(), kReplyOK);
    EXPECT_FALSE(bad.utf8().empty());
    EXPECT_EQ(send(kSaveAsDocEvent).utf8(), kDescriptorNotFound);
}

TEST_F(DocumentHandlers, AFailedSaveKeepsTheFileAndALaterSaveWritesThePageEdits) {
    const fs::path folder = dir.path() / "work";
    const fs::path moved = dir.path() / "elsewhere";
    fs::create_directory(folder);
    const fs::path base = folder / "base.pdf";
    const fs::path extra = dir.path() / "extra.pdf";
    writePages(base, 2);
    writePages(extra, 3);
    const std::string before = slurp(base);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    ASSERT_EQ(send(kAppendDocEvent, {{keyCString, text(extra.string())}}).utf8(), kReplyOK);

    // The working file's folder vanishes: the write cannot happen.
    fs::rename(folder, moved);
    const Reply failed = send(kSaveDocEvent);
    EXPECT_NE(failed.utf8(), kReplyOK);
    fs::rename(moved, folder);
    EXPECT_EQ(slurp(base), before);
    // The working document is still there, the pages made part of it by the
    // save that failed.
    EXPECT_EQ(pageCount(), "5");

    // A later save writes them.
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "5");
    EXPECT_EQ(qpdfPageCount(base), 5);
}

TEST_F(DocumentHandlers, SaveWithAWindowWritesTheWindowAndKeepsTheEditCopy) {
    const fs::path base = dir.path() / "base.pdf";
    const fs::path extra = dir.path() / "extra.pdf";
    const fs::path other = dir.path() / "other.pdf";
    writePages(base, 2);
    writePages(extra, 1);
    writePages(other, 4);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    ASSERT_EQ(send(kAppendDocEvent, {{keyCString, text(extra.string())}}).utf8(), kReplyOK);
    application().openWindow(other.string());
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(other), 4);
    EXPECT_EQ(qpdfPageCount(base), 2);
    application().closeWindows();
    // The working document still has its file and the edit copy still goes there.
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(base), 3);
    EXPECT_EQ(pageCount(), "3");
}

TEST_F(DocumentHandlers, OpenReleasesTheEarlierEditCopy) {
    const fs::path first = dir.path() / "first.pdf";
    const fs::path second = dir.path() / "second.pdf";
    const fs::path extra = dir.path() / "extra.pdf";
    writePages(first, 2);
    writePages(second, 3);
    writePages(extra, 1);
    const std::string firstBytes = slurp(first);
    ASSERT_EQ(open(first).utf8(), kReplyOK);
    ASSERT_EQ(send(kAppendDocEvent, {{keyCString, text(extra.string())}}).utf8(), kReplyOK);
    ASSERT_EQ(open(second).utf8(), kReplyOK);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(second), 3);
    EXPECT_EQ(slurp(first), firstBytes);
}

TEST_F(DocumentHandlers, CloseWithAWindowClosesItAndNeverReleasesTwice) {
    const fs::path base = dir.path() / "base.pdf";
    const fs::path form = dir.path() / "form.pdf";
    writePages(base, 2);
    writeWalkForm(form);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    application().openWindow(form.string());
    // The field walk makes the window's document the working document.
    EXPECT_EQ(send(kGetFieldEvent, {{keyCString, text("a")}}).utf8(), "x");
    EXPECT_EQ(pageCount(), "1");
    EXPECT_EQ(send(kCloseDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), kNoDocument);
    EXPECT_EQ(send(kCloseDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(open(base).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "2");
}

TEST_F(DocumentHandlers, InsertChecksRunInOrderAndTheLastFailingOneIsSent) {
    const fs::path base = dir.path() / "base.pdf";
    const fs::path source = dir.path() / "source.pdf";
    writePages(base, 5);
    writePages(source, 3);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    auto insert = [&](int after, const std::string& path, int start, int count) {
        return send(kInsertPagesEvent,
                    {{keyList, list({number(after), text(path), number(start), number(count), boolean(false)})}})
            .utf8();
    };
    EXPECT_EQ(insert(0, source.string(), 1, 1),
              "Desired position to insert page(s) after is out of range in the destination document.");
    EXPECT_EQ(insert(6, source.string(), 1, 1),
              "Desired position to insert page(s) after is out of range in the destination document.");
    EXPECT_EQ(insert(1, source.string(), 4, 0), "Starting page in the source document is out of range.");
    // Start 4 with one page fails the start and the count checks: the count's message is sent.
    EXPECT_EQ(insert(1, source.string(), 4, 1), "Number of pages to insert in the source document out of range.");
    EXPECT_EQ(insert(1, source.string(), 2, 3), "Number of pages to insert in the source document out of range.");
    EXPECT_EQ(insert(1, source.string(), 0, -1), "Number of pages to insert in the source document out of range.");
    const std::string missing = insert(1, (dir.path() / "nope.pdf").string(), 1, 1);
    EXPECT_EQ(missing.rfind("Failed to open source document. ", 0), 0u) << missing;
    EXPECT_GT(missing.size(), std::string("Failed to open source document. ").size());

    EXPECT_EQ(insert(5, source.string(), 2, 2), kReplyPagesDone);
    EXPECT_EQ(pageCount(), "5");
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "7");
    EXPECT_EQ(qpdfPageCount(base), 7);
}

TEST_F(DocumentHandlers, DeleteChecksRunInOrderAndTheLastFailingOneIsSent) {
    const fs::path base = dir.path() / "base.pdf";
    writePages(base, 5);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    auto remove = [&](int last, int first) {
        return send(kDeletePagesEvent, {{keyList, list({number(last), number(first)})}}).utf8();
    };
    EXPECT_EQ(remove(2, 4), "Start page cannot be greater than the last page.");
    EXPECT_EQ(remove(9, 0), "Last page to be deleted is out of range.");
    EXPECT_EQ(remove(3, 0), "Starting page to be deleted is out of range.");
    EXPECT_EQ(remove(3, 2), kReplyPagesDone);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "3");
    EXPECT_EQ(qpdfPageCount(base), 3);
}

TEST_F(DocumentHandlers, MalformedPageRequestsChangeNothing) {
    const fs::path base = dir.path() / "base.pdf";
    writePages(base, 4);
    const std::string before = slurp(base);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    const std::string insert = send(kInsertPagesEvent, {{keyList, list({number(1), text(base.string())})}}).utf8();
    EXPECT_EQ(insert.rfind("An exception occurred when inserting pages. ", 0), 0u) << insert;
    const std::string remove = send(kDeletePagesEvent, {{keyList, list({number(1)})}}).utf8();
    EXPECT_EQ(remove.rfind("An exception occurred when deleting pages. ", 0), 0u) << remove;
    EXPECT_EQ(send(kDeletePagesEvent).utf8().rfind("An exception occurred when deleting pages. ", 0), 0u);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(base), 4);
}

TEST_F(DocumentHandlers, WithoutAWorkingDocumentEveryRequestAnswersClearly) {
    EXPECT_EQ(pageCount(), kNoDocument);
    EXPECT_EQ(send(kPrintDocEvent).utf8(), kNoDocument);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kNoDocument);
    EXPECT_EQ(send(kSaveAsDocEvent, {{keyCString, text((dir.path() / "x.pdf").string())}}).utf8(), kNoDocument);
    EXPECT_EQ(send(kGetDocInfoEvent, {{keyCString, text("Title")}}).utf8(), kNoDocument);
    EXPECT_EQ(send(kSetDocInfoEvent, {{keyList, list({text("Title"), text("t")})}}).utf8(), kNoDocument);
    EXPECT_EQ(send(kGetTextFromPageEvent, {{keyLong, number(1)}}).utf8(), kNoDocument);
    EXPECT_EQ(send(kRestoreDefaultsEvent).utf8(), kNoDocument);
    EXPECT_EQ(send(kDeletePagesEvent, {{keyList, list({number(1), number(1)})}}).utf8(), kNoDocument);
    EXPECT_EQ(
        send(kInsertPagesEvent, {{keyList, list({number(1), text("/x.pdf"), number(1), number(1), boolean(true)})}})
            .utf8(),
        kNoDocument);
    EXPECT_EQ(send(kAppendDocEvent, {{keyCString, text("/x.pdf")}}).utf8(), kAppendOtherError);
    EXPECT_EQ(send(kSetFieldEvent, {{keyList, list({text("a"), text("b")})}}).utf8(), kReplyNoSuchField);
    EXPECT_EQ(send(kGetFieldEvent, {{keyCString, text("a")}}).utf8(), kReplyNoSuchField);
    EXPECT_EQ(send(kGetFieldNamesEvent, {{keyCString, text(kWithValues)}}).utf8(), kReplyNoFields);
    EXPECT_FALSE(fs::exists(dir.path() / "x.pdf"));
}

TEST_F(DocumentHandlers, RestoreDefaultsResetsTheWindowWhenThereIsOne) {
    const fs::path form = dir.path() / "form.pdf";
    const fs::path windowForm = dir.path() / "window.pdf";
    writeWalkForm(form);
    writeWalkForm(windowForm);
    ASSERT_EQ(open(form).utf8(), kReplyOK);
    ASSERT_EQ(send(kSetFieldEvent, {{keyList, list({text("a"), text("changed")})}}).utf8(), kReplyOK);

    application().openWindow(windowForm.string());
    EXPECT_EQ(send(kRestoreDefaultsEvent).utf8(), kReplyOK);
    application().closeWindows();
    // The working document kept its value: the window's document was reset.
    EXPECT_EQ(send(kGetFieldEvent, {{keyCString, text("a")}}).utf8(), "changed");

    EXPECT_EQ(send(kRestoreDefaultsEvent).utf8(), kReplyOK);
    EXPECT_EQ(send(kGetFieldEvent, {{keyCString, text("a")}}).utf8(), "dflt");
}

}  // namespace
