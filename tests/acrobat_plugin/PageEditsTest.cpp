// Page edits (append, insert, delete) mixed with field, restore-defaults and
// document information changes in every order: the save writes all of them,
// page counts change at the save, and save as writes them without changing
// the working document.
#include "PluginSession.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;
using namespace quilltest;

namespace {

constexpr const char* kXmp =
    "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Old title"
    "</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

// What a saved file holds, read back with libqpdf.
struct FileState {
    int pages = 0;
    std::string title, subject, xmp;
    std::vector<std::string> pageWords;  // the "Page N" marker of each page ("" for the form page)
};

FileState readBack(const fs::path& file) {
    QPDF pdf;
    pdf.processFile(file.string().c_str());
    FileState s;
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        ++s.pages;
        std::string words;
        for (auto& c : page.getPageContents()) {
            const auto data = c.getStreamData(qpdf_dl_generalized);
            const std::string text(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
            const auto at = text.find("(Page ");
            if (at != std::string::npos) words = text.substr(at + 1, text.find(')', at) - at - 1);
        }
        s.pageWords.push_back(words);
    }
    QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
    if (info.isDictionary()) {
        if (info.getKey("/Title").isString()) s.title = info.getKey("/Title").getUTF8Value();
        if (info.getKey("/Subject").isString()) s.subject = info.getKey("/Subject").getUTF8Value();
    }
    QPDFObjectHandle meta = pdf.getRoot().getKey("/Metadata");
    if (meta.isStream()) {
        const auto data = meta.getStreamData(qpdf_dl_generalized);
        s.xmp.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    }
    return s;
}

class PageEdits : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        // Scratch files of save as go here, so the test sees that none is left.
        scratch = dir.path() / "scratch";
        fs::create_directory(scratch);
        const char* old = std::getenv("TMPDIR");
        oldTmp = old ? old : "";
        hadTmp = old != nullptr;
        ::setenv("TMPDIR", scratch.c_str(), 1);

        // base.pdf: the one-page form (field "a" = "x", default "dflt") and
        // pages "Page 1".."Page 3", with an XMP packet.
        const fs::path form = dir.path() / "form.pdf";
        const fs::path three = dir.path() / "three.pdf";
        writeWalkForm(form);
        writePages(three, 3);
        writePages(extra, 2);
        QPDF pdf;
        pdf.processFile(form.string().c_str());
        QPDF more;
        more.processFile(three.string().c_str());
        QPDFPageDocumentHelper pages(pdf);
        for (auto& p : QPDFPageDocumentHelper(more).getAllPages()) pages.addPage(p, false);
        pdf.getRoot().replaceKey("/Metadata", QPDFObjectHandle::newStream(&pdf, kXmp));
        const std::string baseName = base.string();  // the writer keeps the pointer until it is done
        QPDFWriter w(pdf, baseName.c_str());
        w.write();
    }
    void TearDown() override {
        reset();
        if (hadTmp)
            ::setenv("TMPDIR", oldTmp.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    std::string setField(const std::string& name, const std::string& value) {
        return send(kSetFieldEvent, {{keyList, list({text(name), text(value)})}}).utf8();
    }
    std::string setInfo(const std::string& key, const std::string& value) {
        return send(kSetDocInfoEvent, {{keyList, list({text(key), text(value)})}}).utf8();
    }
    std::string field(const std::string& name) { return send(kGetFieldEvent, {{keyCString, text(name)}}).utf8(); }
    std::string append(const fs::path& file) {
        return send(kAppendDocEvent, {{keyCString, text(file.string())}}).utf8();
    }
    std::string insert(int after, const fs::path& file, int first, int count) {
        return send(kInsertPagesEvent, {{keyList, list({number(after), text(file.string()), number(first),
                                                        number(count), boolean(false)})}})
            .utf8();
    }
    std::string remove(int first, int last) {
        return send(kDeletePagesEvent, {{keyList, list({number(last), number(first)})}}).utf8();
    }

    TempDir dir;
    fs::path scratch;
    std::string oldTmp;
    bool hadTmp = false;
    fs::path base = dir.path() / "base.pdf";
    fs::path extra = dir.path() / "extra.pdf";  // "Page 1", "Page 2"
};

TEST_F(PageEdits, InfoThenAppendThenFieldAllReachTheSave) {
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    ASSERT_EQ(setInfo("Title", "New title"), kReplyOK);
    ASSERT_EQ(append(extra), kReplyOK);
    ASSERT_EQ(setField("a", "after the append"), kReplyOK);
    EXPECT_EQ(pageCount(), "4");  // pages move at the save
    ASSERT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "6");

    const FileState s = readBack(base);
    EXPECT_EQ(s.pages, 6);
    EXPECT_EQ(s.pageWords, (std::vector<std::string>{"", "Page 1", "Page 2", "Page 3", "Page 1", "Page 2"}));
    EXPECT_EQ(s.title, "New title");
    EXPECT_NE(s.xmp.find("New title"), std::string::npos) << s.xmp;
    EXPECT_EQ(qpdfFieldValue(base, "a"), "after the append");
    EXPECT_EQ(field("a"), "after the append");
}

TEST_F(PageEdits, DeleteFieldInsertInfoThenSaveAsThenSave) {
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    ASSERT_EQ(remove(3, 4), kReplyPagesDone);
    ASSERT_EQ(setField("a", "between"), kReplyOK);
    // Page 1 of the edited document is the form: the insert counts on the delete before it.
    ASSERT_EQ(insert(1, extra, 2, 1), kReplyPagesDone);
    ASSERT_EQ(setInfo("Subject", "Subject after"), kReplyOK);
    EXPECT_EQ(pageCount(), "4");

    const fs::path copy = dir.path() / "copy.pdf";
    ASSERT_EQ(send(kSaveAsDocEvent, {{keyCString, text(copy.string())}}).utf8(), kReplyOK);
    const FileState c = readBack(copy);
    EXPECT_EQ(c.pageWords, (std::vector<std::string>{"", "Page 2", "Page 1"}));
    EXPECT_EQ(c.subject, "Subject after");
    EXPECT_EQ(qpdfFieldValue(copy, "a"), "between");
    // Save as leaves the working document and its file alone; the edits wait.
    EXPECT_EQ(pageCount(), "4");
    EXPECT_EQ(readBack(base).pages, 4);
    EXPECT_EQ(qpdfFieldValue(base, "a"), "x");
    EXPECT_TRUE(fs::is_empty(scratch));

    ASSERT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    const FileState s = readBack(base);
    EXPECT_EQ(s.pageWords, (std::vector<std::string>{"", "Page 2", "Page 1"}));
    EXPECT_EQ(s.subject, "Subject after");
    EXPECT_EQ(qpdfFieldValue(base, "a"), "between");
    EXPECT_EQ(pageCount(), "3");
    // The edits were made once: a second save writes the same pages.
    ASSERT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(readBack(base).pageWords, s.pageWords);
}

TEST_F(PageEdits, RestoreDefaultsAfterAPageEditReachesTheSave) {
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    ASSERT_EQ(setField("a", "changed"), kReplyOK);
    ASSERT_EQ(remove(2, 2), kReplyPagesDone);
    ASSERT_EQ(send(kRestoreDefaultsEvent).utf8(), kReplyOK);
    ASSERT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(qpdfFieldValue(base, "a"), "dflt");
    EXPECT_EQ(readBack(base).pageWords, (std::vector<std::string>{"", "Page 2", "Page 3"}));
}

TEST_F(PageEdits, ChecksCountEarlierEditsAndRefuseWhatTheSaveCouldNotDo) {
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    ASSERT_EQ(remove(2, 3), kReplyPagesDone);  // two pages left
    EXPECT_EQ(remove(3, 3), "Last page to be deleted is out of range.");
    EXPECT_EQ(insert(3, extra, 1, 1),
              "Desired position to insert page(s) after is out of range in the destination document.");
    EXPECT_EQ(remove(1, 2), "Failed to delete pages. Operation not permitted.");
    EXPECT_EQ(insert(2, extra, 1, 0), "Failed to insert pages. Bad parameter.");
    ASSERT_EQ(insert(2, extra, 1, 2), kReplyPagesDone);
    ASSERT_EQ(remove(1, 1), kReplyPagesDone);  // the form page goes, and its fields with it
    ASSERT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(readBack(base).pageWords, (std::vector<std::string>{"Page 3", "Page 1", "Page 2"}));
    EXPECT_EQ(qpdfFieldValue(base, "a"), "<no field>");
    EXPECT_EQ(pageCount(), "3");
}

TEST_F(PageEdits, OpenAndCloseDropPendingEdits) {
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    ASSERT_EQ(append(extra), kReplyOK);
    ASSERT_EQ(send(kCloseDocEvent).utf8(), kReplyOK);
    ASSERT_EQ(open(base).utf8(), kReplyOK);
    ASSERT_EQ(remove(1, 1), kReplyPagesDone);
    ASSERT_EQ(open(extra).utf8(), kReplyOK);
    ASSERT_EQ(send(kSaveDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(readBack(extra).pages, 2);
    EXPECT_EQ(readBack(base).pages, 4);
}

}  // namespace
