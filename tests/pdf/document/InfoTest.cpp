// Document information: Info entries as text, XMP kept in step, and what a saved file holds.
#include "TempDir.h"
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Info.h"
#include "quill/pdf/Save.h"

#include <Unicode.h>

#include <gtest/gtest.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>

#include <array>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace quill::pdf;
namespace fs = std::filesystem;

namespace {

const std::string kPdfs = std::string(QUILL_FIXTURES_DIR) + "/pdfs/";

std::u16string u16(const std::string& utf8) {
    return quill::unicode::utf8ToUtf16(utf8);
}
std::string u8(const std::u16string& s) {
    return quill::unicode::utf16ToUtf8(s);
}

class TempDir {
public:
    std::string file(const std::string& name) const { return (dir_ / name).string(); }

private:
    quill::testsupport::TempDir dir_{"quill-info"};
};

// Output of a command that takes one file argument (the file name comes from the test, never a user).
std::string run(const std::string& command, const std::string& file) {
    std::string cmd = "LC_ALL=C.UTF-8 " + command + " '" + file + "' 2>/dev/null";
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        std::array<char, 4096> buf{};
        std::size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
        ::pclose(p);
    }
    return out;
}

std::string xmpOf(Document& doc) {
    auto meta = doc.qpdf().getRoot().getKey("/Metadata");
    if (!meta.isStream()) return {};
    auto data = meta.getStreamData(qpdf_dl_generalized);
    return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

}  // namespace

TEST(DocInfo, ReadsExistingEntries) {
    auto doc = Document::open(kPdfs + "issue13211.pdf", false);  // Thai title and author
    EXPECT_FALSE(getInfo(*doc, u"Title").empty());
    auto meta = Document::open(kPdfs + "set_document_metadata.pdf", false);
    EXPECT_FALSE(getInfo(*meta, u"Title").empty());
    // A key in another case is another entry; dates come back as the string the document holds.
    EXPECT_TRUE(getInfo(*meta, u"title").empty());
    EXPECT_EQ(getInfo(*meta, u"CreationDate").rfind(u"D:", 0), 0u);
    EXPECT_TRUE(getInfo(*meta, u"NoSuchKey").empty());
    EXPECT_THROW(getInfo(*meta, u""), Error);
    EXPECT_THROW(getInfo(*meta, std::u16string(u"Ti\0tle", 6)), Error);
}

TEST(DocInfo, RoundTripsAndSavedFileHoldsTheValues) {
    TempDir dir;
    auto doc = Document::open(kPdfs + "set_document_metadata.pdf", false);
    const std::u16string title = u16("Grüße aus Köln 😀 — ☃");
    const std::u16string author = u16("Ann Author");
    const std::u16string subject = u16("Ελληνικά και 日本語");
    auto before = doc->generation();
    setInfo(*doc, u"Title", title);
    EXPECT_GT(doc->generation(), before);
    setInfo(*doc, u"Author", author);
    setInfo(*doc, u"Subject", subject);
    setInfo(*doc, u"Keywords", u"");
    setInfo(*doc, u"My Key", u"custom");
    EXPECT_EQ(getInfo(*doc, u"Title"), title);
    EXPECT_EQ(getInfo(*doc, u"Author"), author);
    EXPECT_EQ(getInfo(*doc, u"Subject"), subject);
    EXPECT_EQ(getInfo(*doc, u"Keywords"), u"");
    EXPECT_EQ(getInfo(*doc, u"My Key"), u"custom");

    // PDFDocEncoding when it can hold the value, UTF-16BE with its mark otherwise.
    auto info = doc->qpdf().getTrailer().getKey("/Info");
    EXPECT_EQ(info.getKey("/Author").getStringValue(), "Ann Author");
    EXPECT_EQ(info.getKey("/Title").getStringValue().substr(0, 2), "\xFE\xFF");

    const std::string out = dir.file("saved.pdf");
    save(*doc, kSaveFull, out);
    std::string pdfinfo = run("pdfinfo", out);
    EXPECT_NE(pdfinfo.find("Title:           Grüße aus Köln 😀 — ☃"), std::string::npos) << pdfinfo;
    EXPECT_NE(pdfinfo.find("Author:          Ann Author"), std::string::npos);
    EXPECT_NE(pdfinfo.find("Subject:         Ελληνικά και 日本語"), std::string::npos);

    auto reread = Document::open(out, false);
    EXPECT_EQ(getInfo(*reread, u"Title"), title);
    EXPECT_EQ(getInfo(*reread, u"My Key"), u"custom");
}

TEST(DocInfo, DocumentsWithoutInfoGetOne) {
    TempDir dir;
    for (const char* f : {"text.pdf", "Simple PDF 2.0 file.pdf"}) {
        SCOPED_TRACE(f);
        auto doc = Document::open(kPdfs + f, false);
        EXPECT_TRUE(getInfo(*doc, u"Title").empty());
        setInfo(*doc, u"Title", u16("Naïve café"));
        EXPECT_EQ(u8(getInfo(*doc, u"Title")), "Naïve café");
        EXPECT_TRUE(doc->qpdf().getTrailer().getKey("/Info").isIndirect());
        const std::string out = dir.file("out.pdf");
        save(*doc, kSaveFull, out);
        EXPECT_NE(run("pdfinfo", out).find("Title:           Naïve café"), std::string::npos);
    }
}

// The XMP packet follows the Info entries that have a twin there, and stays well-formed.
TEST(DocInfo, XmpKeptInStep) {
    TempDir dir;
    auto doc = Document::open(kPdfs + "commented-xmp.pdf", false);
    const std::string original = xmpOf(*doc);
    ASSERT_FALSE(original.empty());
    setInfo(*doc, u"Title", u16("Neuer Titel <&> \"ü\""));
    setInfo(*doc, u"Author", u16("Zoë Writer"));
    setInfo(*doc, u"Producer", u16("Quillmark"));
    setInfo(*doc, u"Creator", u16("Tool 2"));
    setInfo(*doc, u"Trapped", u16("False"));  // no twin: the packet is not touched for it
    const std::string xmp = xmpOf(*doc);
    EXPECT_NE(xmp.find("Neuer Titel &lt;&amp;&gt; &quot;ü&quot;"), std::string::npos) << xmp;
    EXPECT_NE(xmp.find("Zoë Writer"), std::string::npos);
    EXPECT_NE(xmp.find("Quillmark"), std::string::npos);
    EXPECT_NE(xmp.find("Tool 2"), std::string::npos);
    EXPECT_EQ(xmp.find("False"), std::string::npos);
    // Comments in the packet are kept as they were.
    auto comment = original.find("<!--");
    if (comment != std::string::npos) {
        auto end = original.find("-->", comment);
        EXPECT_NE(xmp.find(original.substr(comment, end - comment)), std::string::npos);
    }

    const std::string out = dir.file("xmp.pdf");
    save(*doc, kSaveFull, out);
    std::string meta = run("pdfinfo -meta", out);
    EXPECT_NE(meta.find("Zoë Writer"), std::string::npos);
    EXPECT_NE(run("pdfinfo", out).find("Title:           Neuer Titel <&> \"ü\""), std::string::npos);
}

TEST(DocInfo, XmpEditShapes) {
    const std::string head =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">";
    const std::string tail = "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

    // Language alternatives: the default item changes, the others stay.
    std::string alt =
        head +
        "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title><rdf:Alt>"
        "<rdf:li xml:lang=\"de\">Alt</rdf:li><rdf:li xml:lang=\"x-default\">Old</rdf:li></rdf:Alt></dc:title>"
        "<!-- <dc:creator>commented</dc:creator> --></rdf:Description>" +
        tail;
    auto r = xmpWithInfo(alt, "Title", "New");
    ASSERT_TRUE(r);
    EXPECT_NE(r->find("<rdf:li xml:lang=\"de\">Alt</rdf:li><rdf:li xml:lang=\"x-default\">New</rdf:li>"),
              std::string::npos);
    // A property only inside a comment does not count: a new description carries it.
    r = xmpWithInfo(alt, "Author", "A");
    ASSERT_TRUE(r);
    EXPECT_NE(r->find("<!-- <dc:creator>commented</dc:creator> -->"), std::string::npos);
    EXPECT_NE(r->find("<dc:creator><rdf:Seq><rdf:li>A</rdf:li></rdf:Seq></dc:creator></rdf:Description></rdf:RDF>"),
              std::string::npos);

    // Attribute form, under whatever prefix the packet uses.
    std::string attr =
        head + "<rdf:Description rdf:about=\"u\" xmlns:p=\"http://ns.adobe.com/pdf/1.3/\" p:Producer='Old'/>" + tail;
    r = xmpWithInfo(attr, "Producer", "It's");
    ASSERT_TRUE(r);
    EXPECT_NE(r->find("p:Producer='It&apos;s'"), std::string::npos);
    r = xmpWithInfo(attr, "Creator", "T");
    ASSERT_TRUE(r);
    EXPECT_NE(
        r->find("rdf:about=\"u\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"><xmp:CreatorTool>T</xmp:CreatorTool>"),
        std::string::npos);

    // Packets this edit will not touch.
    EXPECT_FALSE(xmpWithInfo(alt, "Trapped", "True"));
    EXPECT_FALSE(xmpWithInfo(head + "<rdf:Description>" + tail.substr(10), "Title", "x"));  // unbalanced
    EXPECT_FALSE(xmpWithInfo(std::string("<\0r\0d\0f", 7), "Title", "x"));                  // UTF-16
    EXPECT_FALSE(xmpWithInfo("<x:xmpmeta><!-- unterminated", "Title", "x"));
}
