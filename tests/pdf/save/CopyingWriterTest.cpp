// Full saves that copy unread objects as the file holds them, and the object reader behind them.
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Save.h"
#include "RawObject.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>

#include <fstream>

using namespace quill::pdf;
using testutil::TempDir;

namespace {

std::string refsText(const std::vector<QPDFObjGen>& refs) {
    std::string out;
    for (auto og : refs) out += std::to_string(og.getObj()) + "." + std::to_string(og.getGen()) + " ";
    return out;
}

// A file of the objects given (object i + 1 is bodies[i]), catalog first.
std::string fileOf(const std::vector<std::string>& bodies) {
    std::string body = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (const auto& b : bodies) {
        offsets.push_back(body.size());
        body += std::to_string(offsets.size()) + " 0 obj\n" + b + "\nendobj\n";
    }
    const std::size_t xref = body.size();
    body += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (auto o : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        body += line;
    }
    return body + "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
}

}  // namespace

TEST(RawObject, EndsReferencesAndEntriesAsAReaderReadsThem) {
    const struct {
        const char* bytes;
        bool whole;
        const char* refs;
        const char* keys;
    } cases[] = {
        {"7 0 obj\n<< /A 1 0 R /B (x 2 0 R \\) (n)) /C [3 0 R <41 42>] % 9 0 R\n/D [4 5] /E -1.5 >>\nendobj", true,
         "1.0 3.0 ", "/A /B /C /D /E "},
        {"7 0 obj <</Length 5>>stream\nhello\nendstream endobj", true, "", "/Length "},
        {"7 0 obj <</Length 9>>stream\r\nendstream\nendstream\nendobj", true, "", "/Length "},
        {"7 0 obj <</Length 8 0 R>>stream\nhello\nendstream\nendobj", true, "8.0 ", "/Length "},
        {"7 0 obj 12 endobj", true, "", ""},
        {"7 0 obj [null true 1 2 R] endobj", true, "1.2 ", ""},
        {"7 0 obj <</Length 12>>stream\nhello\nendstream\nendobj", false, "", ""},  // length past the data
        {"7 0 obj <</Length 5 /Length 5>>stream\nhello\nendstream\nendobj", false, "", ""},
        {"8 0 obj 12 endobj", false, "", ""},  // another object
        {"7 0 obj << /A (open endobj", false, "", ""},
        {"7 0 obj << /A foo >> endobj", false, "", ""},
        {"7 0 obj << /A 1 >> stream\nendobj", false, "", ""},  // no length
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        std::vector<QPDFObjGen> refs;
        RawObject raw(c.bytes, refs);
        const std::size_t end = raw.scan(0, QPDFObjGen(7, 0), [](QPDFObjGen og) { return og.getObj() == 8 ? 5 : -1; });
        EXPECT_EQ(end != 0, c.whole);
        if (!c.whole) continue;
        EXPECT_EQ(std::string(c.bytes).substr(end), "");
        EXPECT_EQ(refsText(refs), c.refs);
        std::string keys;
        for (const auto& e : raw.entries()) keys += std::string(e.key) + " ";
        EXPECT_EQ(keys, c.keys);
    }
}

// Unread objects keep their bytes, and so does one qpdf cannot read (a wrong stream length, which
// qpdf's writer dropped); deleted pages and what only they used are left out; the numbers stay.
TEST(CopyingWriter, CopiesUnreadObjectsAndLeavesOutWhatNothingUses) {
    TempDir tmp;
    const std::string one = "BT /F1 12 Tf 20 100 Td (Page one) Tj ET", two = "BT /F1 12 Tf 20 100 Td (Page two) Tj ET";
    const std::string font = "<</Type/Font/Subtype/Type1/BaseFont/Helvetica % kept as written\n>>";
    const std::string page = "<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]/Resources<</Font<</F1 7 0 R>>>>";
    std::ofstream(tmp / "a.pdf", std::ios::binary) << fileOf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>",
        page + "/Contents 4 0 R>>",
        "<</Length 9 0 R>>\nstream\n" + one + "\nendstream",
        page + "/Contents 6 0 R>>",
        "<</Length 99>>\nstream\n" + two + "\nendstream",
        font,
        "<< /Unused true >>",
        std::to_string(one.size()),
    });
    auto doc = Document::open((tmp / "a.pdf").string(), false);
    save(*doc, kSaveFull | kSaveCopy, (tmp / "copy.pdf").string());
    std::string copy = testutil::slurp(tmp / "copy.pdf");
    EXPECT_NE(copy.find("7 0 obj\n" + font), std::string::npos);
    EXPECT_NE(copy.find("9 0 obj\n" + std::to_string(one.size())), std::string::npos);
    EXPECT_EQ(copy.find("/Unused"), std::string::npos);
    EXPECT_NE(copy.find("6 0 obj\n<</Length 99>>"), std::string::npos);
    EXPECT_TRUE(testutil::qpdfCheck(tmp / "copy.pdf"));
    EXPECT_EQ(testutil::pageTexts(tmp / "copy.pdf"), (std::vector<std::string>{"Pageone", "Pagetwo"}));

    doc->deletePages(0, 0);
    save(*doc, kSaveFull, (tmp / "a.pdf").string());
    std::string after = testutil::slurp(tmp / "a.pdf");
    EXPECT_EQ(after.find("Page one"), std::string::npos);
    EXPECT_EQ(after.find("\n9 0 obj"), std::string::npos);
    EXPECT_NE(after.find("7 0 obj\n" + font), std::string::npos);
    EXPECT_TRUE(testutil::qpdfCheck(tmp / "a.pdf"));
    EXPECT_EQ(testutil::pageTexts(tmp / "a.pdf"), (std::vector<std::string>{"Pagetwo"}));
}

// An object the cross-reference table places wrongly stops the copying writer part way; the save
// starts the file again with qpdf's writer (which reads that object as null), and nothing of the
// first attempt is left behind.
TEST(CopyingWriter, StoppingPartWayStartsTheFileAgain) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 2, "A");
    std::string bytes = testutil::slurp(tmp / "a.pdf");
    const std::size_t table = bytes.find("xref\n");
    const std::size_t fontLine = table + std::string("xref\n0 6\n0000000000 65535 f \n").size() + 2 * 20;
    bytes.replace(fontLine, 10, bytes.substr(fontLine - 40, 10));  // object 3 where object 1 is
    std::ofstream(tmp / "a.pdf", std::ios::binary) << bytes;
    auto doc = Document::open((tmp / "a.pdf").string(), false);
    save(*doc, kSaveFull | kSaveCopy, (tmp / "out.pdf").string());
    EXPECT_TRUE(testutil::qpdfCheck(tmp / "out.pdf"));
    EXPECT_EQ(testutil::qpdfPages(tmp / "out.pdf"), 2);
    EXPECT_NE(testutil::slurp(tmp / "out.pdf").find("trailer << "), std::string::npos);  // qpdf's own layout
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(tmp.path)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.pdf", "out.pdf"}));
}

// Plain pages inserted from another file reach the saved file from that file's bytes, under new
// numbers, with the target's own objects copied as they stand; the same pages made qpdf objects
// first (anything but a save asks for that) give the same file, also once the source is closed.
TEST(CopyingWriter, InsertedPagesComeFromTheSourceBytesOrFromQpdfAlike) {
    const std::string page = "<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]/Resources<</Font<</F1 9 0 R>>>>";
    auto stream = [](const std::string& text, const std::string& length) {
        const std::string content = "BT /F1 12 Tf 20 100 Td (" + text + ") Tj ET";
        return "<</Length " + (length.empty() ? std::to_string(content.size()) : length) + ">>\nstream\n" + content +
               "\nendstream";
    };
    const std::string source = fileOf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 5 0 R 7 0 R] /Count 3 >>",
        page + "/Contents 4 0 R>>",
        stream("S one", ""),
        page + "/Contents 6 0 R/Annots [10 0 R 11 0 R]>>",
        stream("S two", "12 0 R"),
        page + "/Contents 8 0 R>>",
        stream("S three", ""),
        "<</Type/Font/Subtype/Type1/BaseFont/Courier>>",
        "<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /Dest [3 0 R /Fit] >>",  // a page left behind
        "<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /Dest [7 0 R /Fit] >>",  // a page that comes along
        std::to_string(std::string("BT /F1 12 Tf 20 100 Td (S two) Tj ET").size()),
    });
    for (const bool settled : {false, true}) {
        SCOPED_TRACE(settled ? "made qpdf objects first" : "copied at the save");
        TempDir tmp;
        testutil::makePdf(tmp / "t.pdf", 2, "T");
        std::ofstream(tmp / "s.pdf", std::ios::binary) << source;
        auto doc = Document::open((tmp / "t.pdf").string(), false);
        {
            auto src = Document::open((tmp / "s.pdf").string(), false);
            doc->insertPages(0, *src, 1, 2, 0);
        }
        EXPECT_EQ(doc->numPages(), 4);
        if (settled) doc->qpdf();
        save(*doc, kSaveFull | kSaveCopy, (tmp / "out.pdf").string());
        EXPECT_TRUE(testutil::qpdfCheck(tmp / "out.pdf"));
        EXPECT_EQ(testutil::pageTexts(tmp / "out.pdf"), (std::vector<std::string>{"T1", "Stwo", "Sthree", "T2"}));
        QPDF out;
        out.processFile((tmp / "out.pdf").string().c_str());
        std::vector<QPDFObjectHandle> pages = out.getAllPages();
        ASSERT_EQ(pages.size(), 4u);
        QPDFObjectHandle annots = pages[1].getKey("/Annots");
        ASSERT_EQ(annots.getArrayNItems(), 2);
        EXPECT_TRUE(annots.getArrayItem(0).getKey("/Dest").getArrayItem(0).isNull());
        if (settled) continue;
        EXPECT_EQ(annots.getArrayItem(1).getKey("/Dest").getArrayItem(0).getObjGen(), pages[2].getObjGen());
        const std::string bytes = testutil::slurp(tmp / "out.pdf");
        EXPECT_NE(bytes.find("3 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"), std::string::npos);
        EXPECT_EQ(bytes.find(" 0 R>>\nstream"), std::string::npos);  // the indirect length written as a number
    }
}
