// Page deletes and inserts on page trees of every shape, and what they do to form fields: the pages
// left keep what they inherited, and nothing of a deleted page stays in the file a save writes.
#include "quill/pdf/Document.h"
#include "quill/pdf/Save.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <set>

using namespace quill::pdf;
using testutil::TempDir;

namespace {

// Page objects anywhere in a file, whether in its page tree or not.
int pageObjectsIn(const fs::path& p) {
    QPDF q;
    q.processFile(p.string().c_str());
    int n = 0;
    for (auto& o : q.getAllObjects())
        if (o.isDictionary() && o.getKey("/Type").isNameAndEquals("/Page")) ++n;
    return n;
}

// makePdf's pages under two intermediate nodes, each giving its pages a size and a rotation.
void makeNestedPdf(const fs::path& out, int perNode, const std::string& label) {
    const fs::path flat = out.string() + ".flat";
    testutil::makePdf(flat, 2 * perNode, label);
    QPDF q;
    q.processFile(flat.string().c_str());
    QPDFObjectHandle root = q.getRoot().getKey("/Pages");
    std::vector<QPDFObjectHandle> pages = q.getAllPages();
    QPDFObjectHandle nodes = QPDFObjectHandle::newArray();
    const char* boxes[] = {"[0 0 300 400]", "[0 0 500 200]"};
    for (int k = 0; k < 2; ++k) {
        QPDFObjectHandle node = q.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Pages /MediaBox " + std::string(boxes[k]) + " /Rotate " +
                                    (k == 0 ? "90" : "0") + " /Count " + std::to_string(perNode) + " >>"));
        node.replaceKey("/Parent", root);
        QPDFObjectHandle kids = QPDFObjectHandle::newArray();
        for (int i = 0; i < perNode; ++i) {
            QPDFObjectHandle page = pages[static_cast<std::size_t>(k * perNode + i)];
            page.removeKey("/MediaBox");
            page.replaceKey("/Parent", node);
            kids.appendItem(page);
        }
        node.replaceKey("/Kids", kids);
        nodes.appendItem(node);
    }
    root.replaceKey("/Kids", nodes);
    const std::string outName = out.string();  // the writer keeps the pointer until it is done
    QPDFWriter w(q, outName.c_str());
    w.write();
    fs::remove(flat);
}

std::string attr(QPDFObjectHandle page, const char* key) {
    for (int up = 0; up < 10 && page.isDictionary(); ++up, page = page.getKey("/Parent"))
        if (page.hasKey(key)) return page.getKey(key).unparseResolved();
    return "";
}

}  // namespace

TEST(PageTree, NestedTreesKeepWhatPagesInheritedThroughDeletesAndInserts) {
    TempDir tmp;
    makeNestedPdf(tmp / "nested.pdf", 3, "N");
    testutil::makePdf(tmp / "b.pdf", 2, "B");
    auto doc = Document::open((tmp / "nested.pdf").string(), false);
    ASSERT_EQ(doc->numPages(), 6);
    doc->deletePages(1, 3);  // across both nodes
    EXPECT_EQ(doc->numPages(), 3);
    auto b = Document::open((tmp / "b.pdf").string(), false);
    doc->insertPages(0, *b, 1, 1, kInsertAll);
    doc->insertPages(kLastPage, *b, 0, 1, kInsertAll);
    save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, (tmp / "out.pdf").string());

    const fs::path out = tmp / "out.pdf";
    EXPECT_TRUE(testutil::qpdfCheck(out));
    EXPECT_EQ(testutil::pageTexts(out), (std::vector<std::string>{"N1", "B2", "N5", "N6", "B1"}));
    EXPECT_EQ(pageObjectsIn(out), 5);
    QPDF q;
    q.processFile(out.string().c_str());
    auto pages = q.getAllPages();
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_EQ(attr(pages[0], "/MediaBox"), "[ 0 0 300 400 ]");
    EXPECT_EQ(attr(pages[0], "/Rotate"), "90");
    for (int i : {2, 3}) {
        EXPECT_EQ(attr(pages[static_cast<std::size_t>(i)], "/MediaBox"), "[ 0 0 500 200 ]") << i;
        EXPECT_EQ(attr(pages[static_cast<std::size_t>(i)], "/Rotate"), "0") << i;
    }
    EXPECT_EQ(attr(pages[1], "/MediaBox"), "[ 0 0 200 200 ]");
}

TEST(PageTree, LongRunsOfEditsLeaveATreeThatCountsRight) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 400, "A");
    auto doc = Document::open((tmp / "a.pdf").string(), false);
    auto again = Document::open((tmp / "a.pdf").string(), false);
    doc->deletePages(1, 398);
    doc->insertPages(0, *again, 100, 250, kInsertAll);
    doc->deletePages(2, 250);
    EXPECT_EQ(doc->numPages(), 3);
    save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, (tmp / "out.pdf").string());
    EXPECT_TRUE(testutil::qpdfCheck(tmp / "out.pdf"));
    EXPECT_EQ(testutil::pageTexts(tmp / "out.pdf"), (std::vector<std::string>{"A1", "A101", "A400"}));
    EXPECT_EQ(pageObjectsIn(tmp / "out.pdf"), 3);
}

// Root's kids that are no page list as they stand: edits work from the list qpdf mends.
TEST(PageTree, FlatTreesThatNeedMendingEditLikeAnyOther) {
    enum Change { kListedTwice, kOtherType, kRootSize };
    const struct {
        Change change;
        std::vector<std::string> texts;
        const char* fourthBox;
    } cases[] = {{kListedTwice, {"A1", "B1", "A3", "A4", "A2"}, "[ 0 0 200 200 ]"},
                 {kOtherType, {"A1", "B1", "A3", "A4"}, "[ 0 0 200 200 ]"},
                 {kRootSize, {"A1", "B1", "A3", "A4"}, "[ 0 0 300 400 ]"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        TempDir tmp;
        const fs::path out = tmp / "a.pdf";
        testutil::makePdf(tmp / "flat.pdf", 4, "A");
        testutil::makePdf(tmp / "b.pdf", 1, "B");
        QPDF q;
        q.processFile((tmp / "flat.pdf").string().c_str());
        std::vector<QPDFObjectHandle> pages = q.getAllPages();
        QPDFObjectHandle root = q.getRoot().getKey("/Pages");
        if (c.change == kListedTwice) root.getKey("/Kids").appendItem(pages[1]);
        if (c.change == kOtherType) pages[2].replaceKey("/Type", "/Pagex"_qpdf);
        if (c.change == kRootSize) root.replaceKey("/MediaBox", "[0 0 300 400]"_qpdf);
        if (c.change == kRootSize) pages[3].removeKey("/MediaBox");
        QPDFWriter(q, out.c_str()).write();
        auto doc = Document::open(out.string(), false);
        auto b = Document::open((tmp / "b.pdf").string(), false);
        doc->deletePages(1, 1);
        doc->insertPages(0, *b, 0, 1, kInsertAll);
        save(*doc, kSaveFull, out.string());
        EXPECT_TRUE(testutil::qpdfCheck(out));
        EXPECT_EQ(testutil::pageTexts(out), c.texts);
        EXPECT_EQ(pageObjectsIn(out), static_cast<int>(c.texts.size()));
        QPDF saved;
        saved.processFile(out.c_str());
        EXPECT_EQ(attr(saved.getAllPages()[3], "/MediaBox"), c.fourthBox);
    }
}

TEST(PageTree, FieldsAndWidgetsGoWithTheirPages) {
    TempDir tmp;
    testutil::makePdf(tmp / "plain.pdf", 3, "F");
    {
        // "shared": one field, a widget on page 1 and one on page 2. "solo": on page 2 only.
        // "group": kids "x" on page 1 and "y" on page 2.
        QPDF q;
        q.processFile((tmp / "plain.pdf").string().c_str());
        auto pages = q.getAllPages();
        auto widget = [&](const std::string& extra, int page) {
            auto w = q.makeIndirectObject(
                QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Widget /Rect [10 10 90 30] " + extra + " >>"));
            w.replaceKey("/P", pages[static_cast<std::size_t>(page)]);
            if (!pages[static_cast<std::size_t>(page)].getKey("/Annots").isArray())
                pages[static_cast<std::size_t>(page)].replaceKey("/Annots", QPDFObjectHandle::newArray());
            pages[static_cast<std::size_t>(page)].getKey("/Annots").appendItem(w);
            return w;
        };
        auto shared = q.makeIndirectObject(QPDFObjectHandle::parse("<< /FT /Tx /T (shared) /V (s) /Kids [] >>"));
        for (int p : {0, 1}) {
            auto w = widget("", p);
            w.replaceKey("/Parent", shared);
            shared.getKey("/Kids").appendItem(w);
        }
        auto solo = widget("/FT /Tx /T (solo) /V (o)", 1);
        auto group = q.makeIndirectObject(QPDFObjectHandle::parse("<< /T (group) /Kids [] >>"));
        for (auto [name, p] : {std::pair<const char*, int>{"x", 0}, {"y", 1}}) {
            auto w = widget(std::string("/FT /Tx /T (") + name + ")", p);
            w.replaceKey("/Parent", group);
            group.getKey("/Kids").appendItem(w);
        }
        auto fields = QPDFObjectHandle::newArray();
        for (auto& f : {shared, solo, group}) fields.appendItem(f);
        auto form = QPDFObjectHandle::newDictionary();
        form.replaceKey("/Fields", fields);
        q.getRoot().replaceKey("/AcroForm", form);
        const std::string formName = (tmp / "form.pdf").string();
        QPDFWriter w(q, formName.c_str());
        w.write();
    }
    auto doc = Document::open((tmp / "form.pdf").string(), false);
    doc->deletePages(1, 1);
    save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, (tmp / "out.pdf").string());

    const fs::path out = tmp / "out.pdf";
    EXPECT_TRUE(testutil::qpdfCheck(out));
    EXPECT_EQ(pageObjectsIn(out), 2);  // no field keeps the deleted page alive
    QPDF q;
    q.processFile(out.string().c_str());
    QPDFAcroFormDocumentHelper afdh(q);
    std::map<std::string, std::size_t> widgets;
    for (auto& f : afdh.getFormFields()) widgets[f.getFullyQualifiedName()] = afdh.getAnnotationsForField(f).size();
    EXPECT_EQ(widgets, (std::map<std::string, std::size_t>{{"shared", 1}, {"group.x", 1}}));
    EXPECT_EQ(q.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayNItems(), 2);
}

// Inserts from one unchanged file copy its content and fonts once: later copies of a page are
// pages of their own (own dictionary, own link annotations) drawing with the same streams. A file
// written again between inserts is read again.
TEST(PageTree, RepeatedInsertsFromOneFileCopyItsStreamsOnce) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 2, "A");
    const fs::path src = tmp / "s.pdf";
    auto writeSource = [&](const std::string& label) {
        testutil::makePdf(tmp / "plain.pdf", 3, label);
        QPDF q;
        q.processFile((tmp / "plain.pdf").string().c_str());
        auto pages = q.getAllPages();
        auto link =
            q.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] >>"));
        link.replaceKey("/Dest", QPDFObjectHandle::parse("[ 0 /Fit ]"));
        link.getKey("/Dest").setArrayItem(0, pages[2]);
        link.replaceKey("/P", pages[0]);
        pages[0].replaceKey("/Annots", QPDFObjectHandle::newArray({link}));
        const std::string name = (tmp / "next.pdf").string();
        QPDFWriter w(q, name.c_str());
        w.write();
        fs::rename(tmp / "next.pdf", src);
    };
    writeSource("S");
    auto doc = Document::open((tmp / "a.pdf").string(), false);
    std::vector<std::shared_ptr<Document>> sources;
    auto insert = [&](int after, int start, int count) {
        sources.push_back(Document::open(src.string(), false));
        doc->insertPages(after, *sources.back(), start, count, kInsertAll);
    };
    insert(0, 1, 2);
    insert(kLastPage, 0, kAllPages);
    insert(kLastPage, 0, kAllPages);
    doc->deletePages(6, 6);
    insert(kBeforeFirstPage, 0, 1);
    writeSource("T");
    insert(kLastPage, 2, 1);
    save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, (tmp / "out.pdf").string());

    const fs::path out = tmp / "out.pdf";
    EXPECT_TRUE(testutil::qpdfCheck(out));
    EXPECT_EQ(testutil::pageTexts(out),
              (std::vector<std::string>{"S1", "A1", "S2", "S3", "A2", "S1", "S2", "S1", "S2", "S3", "T3"}));
    EXPECT_EQ(pageObjectsIn(out), 11);
    QPDF q;
    q.processFile(out.string().c_str());
    std::set<QPDFObjGen> contents, annots;
    int streams = 0;
    for (auto& o : q.getAllObjects()) streams += o.isStream() ? 1 : 0;
    auto pages = q.getAllPages();
    for (std::size_t i = 0; i < pages.size(); ++i) {
        contents.insert(pages[i].getKey("/Contents").getObjGen());
        if (!pages[i].getKey("/Annots").isArray()) continue;
        auto link = pages[i].getKey("/Annots").getArrayItem(0);
        EXPECT_TRUE(annots.insert(link.getObjGen()).second) << "page " << i;
        EXPECT_TRUE(link.getKey("/P").isSameObjectAs(pages[i])) << "page " << i;
        EXPECT_TRUE(link.getKey("/Dest").getArrayItem(0).isPageObject()) << "page " << i;
    }
    EXPECT_EQ(annots.size(), 3u);    // the three copies of S1
    EXPECT_EQ(contents.size(), 6u);  // A1, A2, S1-S3 and T3
    EXPECT_EQ(streams, 6);
}
