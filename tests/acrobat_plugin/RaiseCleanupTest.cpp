// A raise between acquiring and releasing leaks nothing: a table entry is
// swapped for one that raises in the middle of a request, and what the
// handler had opened for that request must be closed afterwards.
#include "PluginSession.h"

#include "Application.h"
#include "HostAPI.h"
#include "PDDocHandle.h"
#include "Tables.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace quilltest;

namespace {

// Swaps one entry of an offered table for the life of the object.
class SwappedEntry {
public:
    SwappedEntry(const char* table, Selector sel, void* replacement)
        : table_(acro_host::tables().find(table, 0)), sel_(sel) {
        EXPECT_NE(table_, nullptr) << table;
        if (!table_) return;
        original_ = table_[sel_];
        table_[sel_] = replacement;
    }
    ~SwappedEntry() {
        if (table_) table_[sel_] = original_;
    }
    SwappedEntry(const SwappedEntry&) = delete;
    SwappedEntry& operator=(const SwappedEntry&) = delete;
    void* original() const { return original_; }

private:
    HFT table_;
    Selector sel_;
    void* original_ = nullptr;
};

PDDocGetNumPagesSELPROTO gRealNumPages = nullptr;
PDDoc gRaisedFor = nullptr;
ASInt32 gRaiseForPages = -1;

// Raises for the document with gRaiseForPages pages and remembers it.
ACCB1 ASInt32 ACCB2 numPagesRaisingForOne(PDDoc doc) {
    const ASInt32 pages = gRealNumPages(doc);
    if (pages == gRaiseForPages) {
        gRaisedFor = doc;
        acro_host::raise(GenError(genErrGeneral), "injected");
    }
    return pages;
}

PDDocInsertPagesSELPROTO gRealInsertPages = nullptr;

// Raises when the pages come from a document with gRaiseForPages pages.
ACCB1 void ACCB2 insertPagesRaisingForOne(PDDoc doc, ASInt32 after, PDDoc source, ASInt32 start, ASInt32 count,
                                          ASUns16 flags, ProgressMonitor monitor, void* monitorData, CancelProc cancel,
                                          void* cancelData) {
    if (acro_host::isLivePDDoc(source) && acro_host::documentOf(source).numPages() == gRaiseForPages) {
        gRaisedFor = source;
        acro_host::raise(GenError(genErrGeneral), "injected");
    }
    gRealInsertPages(doc, after, source, start, count, flags, monitor, monitorData, cancel, cancelData);
}

class RaiseCleanup : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        reset();
        gRaisedFor = nullptr;
    }
    void TearDown() override { reset(); }
    TempDir dir;
};

TEST_F(RaiseCleanup, AnInsertWhoseSourceCannotBeCountedClosesTheSource) {
    const fs::path base = dir.path() / "base.pdf";
    const fs::path source = dir.path() / "source.pdf";
    writePages(base, 2);
    writePages(source, 3);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    {
        SwappedEntry swap("PDModel", PDDocGetNumPagesSEL, reinterpret_cast<void*>(&numPagesRaisingForOne));
        gRealNumPages = reinterpret_cast<PDDocGetNumPagesSELPROTO>(swap.original());
        gRaiseForPages = 3;
        const Reply reply =
            send(kInsertPagesEvent,
                 {{keyList, list({number(1), text(source.string()), number(1), number(1), boolean(false)})}});
        ASSERT_TRUE(reply.present);
        EXPECT_NE(reply.utf8(), kReplyPagesDone);
    }
    ASSERT_NE(gRaisedFor, nullptr) << "the source's pages were never counted";
    EXPECT_FALSE(acro_host::isLivePDDoc(gRaisedFor)) << "the source document was left open";
    // The plug-in goes on answering, and nothing was inserted.
    EXPECT_EQ(pageCount(), "2");
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(base), 2);
}

TEST_F(RaiseCleanup, AnAppendWhoseCopyFailsAtTheSaveClosesTheSource) {
    const fs::path base = dir.path() / "base.pdf";
    const fs::path extra = dir.path() / "extra.pdf";
    writePages(base, 2);
    writePages(extra, 4);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    EXPECT_EQ(send(kAppendDocEvent, {{keyCString, text(extra.string())}}).utf8(), kReplyOK);
    {
        // The pages are copied by the save: it fails, saying why, and drops the edit.
        SwappedEntry swap("PDModel", PDDocInsertPagesSEL, reinterpret_cast<void*>(&insertPagesRaisingForOne));
        gRealInsertPages = reinterpret_cast<PDDocInsertPagesSELPROTO>(swap.original());
        gRaiseForPages = 4;
        const Reply saved = send(kSaveDocEvent);
        EXPECT_NE(saved.utf8(), kReplyOK);
        EXPECT_FALSE(saved.utf8().empty());
    }
    ASSERT_NE(gRaisedFor, nullptr) << "the appended document's pages were never copied";
    EXPECT_FALSE(acro_host::isLivePDDoc(gRaisedFor)) << "the appended document was left open";
    EXPECT_EQ(qpdfPageCount(base), 2);
    EXPECT_EQ(pageCount(), "2");
    EXPECT_EQ(send(kAppendDocEvent, {{keyCString, text(extra.string())}}).utf8(), kReplyOK);
    EXPECT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfPageCount(base), 6);
}

}  // namespace
