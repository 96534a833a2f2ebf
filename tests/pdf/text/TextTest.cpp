// Page text against pdftotext's words on the fixture documents.
#include "Slurp.h"
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "quill/pdf/Text.h"

#include <Unicode.h>

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace quill::pdf;

// fontconfig, which the text extractor asks for substitutes of fonts a PDF does not embed, keeps its
// configuration until exit; that is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

const std::string kPdfs = std::string(QUILL_FIXTURES_DIR) + "/pdfs/";
const std::string kTruth = std::string(QUILL_FIXTURES_DIR) + "/truth/";

// The page text the plug-in builds: words joined by their attribute bits only.
std::u16string joined(const std::vector<Word>& words) {
    std::u16string out;
    for (const auto& w : words) {
        out += w.text;
        if (w.attributes & kWordSpaceAfter) out += u' ';
        if (w.attributes & kWordLastOnLine) out += u'\r';
    }
    return out;
}

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

using quill::testsupport::slurp;

// Words of page 1 as text, and pdftotext's.
struct Comparison {
    std::vector<std::string> ours, truth;
    std::size_t differing = 0;  // edit distance in words
};

std::size_t editDistance(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::size_t> prev(b.size() + 1), cur(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) prev[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        cur[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j)
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(prev, cur);
    }
    return prev[b.size()];
}

Comparison compare(const std::string& file) {
    auto doc = Document::open(kPdfs + file, true);
    Comparison c;
    c.ours = splitWords(quill::unicode::utf16ToUtf8(joined(pageWords(doc, 0))));
    std::string truth = slurp(kTruth + file + ".p1.txt");
    // pdftotext brackets right-to-left runs with embedding marks (U+202B ... U+202C).
    for (const char* mark : {"\u202A", "\u202B", "\u202C"}) {
        for (auto at = truth.find(mark); at != std::string::npos; at = truth.find(mark)) truth.erase(at, 3);
    }
    c.truth = splitWords(truth);
    c.differing = editDistance(c.ours, c.truth);
    return c;
}

}  // namespace

// Documents whose first page is ordinary left-to-right text: the same words in the same order as
// pdftotext. The only difference allowed is a word hyphenated at a line end, which pdftotext joins
// to the next line and the word list keeps as two words (pdkids.pdf has one).
TEST(PageText, OrdinaryPagesHaveThePdftotextWords) {
    std::size_t words = 0, differing = 0;
    for (const char* f :
         {"text.pdf", "pdkids.pdf", "ECSTR11-01.pdf", "T4.pdf", "french_diacritics.pdf", "data-000001.pdf",
          "test Orient.pdf", "sample2.pdf", "hello_world_rotated.pdf", "bug1708041.pdf", "set_document_metadata.pdf",
          "commented-xmp.pdf", "Simple PDF 2.0 file.pdf", "Gday garçon - owner.pdf", "orientation.pdf",
          "sample_form.pdf", "AcroFormsBasicFields.pdf"}) {
        SCOPED_TRACE(f);
        auto c = compare(f);
        EXPECT_FALSE(c.truth.empty());
        EXPECT_LE(c.differing, 2u);
        words += c.truth.size();
        differing += c.differing;
    }
    std::cout << "[ measure  ] " << differing << " of " << words << " words differ from pdftotext\n";
}

// Other scripts: the words come back whole, in reading order.
TEST(PageText, OtherScriptsComeBackWhole) {
    for (const char* f :
         {"jo.pdf", "issue16063.pdf", "ArabicCIDTrueType.pdf", "issue13211.pdf", "russian.pdf", "ukrainian.pdf"}) {
        SCOPED_TRACE(f);
        auto c = compare(f);
        EXPECT_FALSE(c.truth.empty());
        EXPECT_EQ(c.differing, 0u);
    }
    // pdftotext moves neutral punctuation across word boundaries in mixed-direction lines; the letters
    // must still be all there, and most words identical.
    auto c = compare("UserFont_Arabic.pdf");
    auto letters = [](const std::vector<std::string>& words) {
        std::string all;
        for (const auto& w : words) all += w;
        std::u16string units = quill::unicode::utf8ToUtf16(all);
        std::sort(units.begin(), units.end());
        return units;
    };
    EXPECT_EQ(letters(c.ours), letters(c.truth));
    EXPECT_LT(c.differing * 5, c.truth.size());
    std::cout << "[ measure  ] UserFont_Arabic.pdf: " << c.differing << " of " << c.truth.size()
              << " words differ from pdftotext (punctuation placement)\n";
}

TEST(PageText, ImageOnlyPagesHaveNoWords) {
    for (const char* f : {"congress.pdf", "blank-scan.pdf"}) {
        auto doc = Document::open(kPdfs + f, true);
        EXPECT_TRUE(pageWords(doc, 0).empty()) << f;
    }
}

// Every word of every fixture's first page: printable, never a line break inside, and every line
// closed by its last word.
TEST(PageText, WordsNeverHoldControlsAndLinesAreClosed) {
    const char* files[] = {"text.pdf",
                           "pdkids.pdf",
                           "jo.pdf",
                           "issue16063.pdf",
                           "ArabicCIDTrueType.pdf",
                           "UserFont_Arabic.pdf",
                           "issue13211.pdf",
                           "russian.pdf",
                           "ukrainian.pdf",
                           "ECSTR11-01.pdf",
                           "commented-xmp.pdf",
                           "sample2.pdf",
                           "bug1815476.pdf",
                           "append-page-content-damaged.pdf",
                           "issue20453.pdf"};
    for (const char* f : files) {
        SCOPED_TRACE(f);
        std::shared_ptr<Document> doc;
        try {
            doc = Document::open(kPdfs + f, true);
        } catch (const Error&) {
            continue;  // a file the document layer refuses has no text to check
        }
        auto words = pageWords(doc, 0);
        for (const auto& w : words) {
            EXPECT_FALSE(w.text.empty());
            for (char16_t u : w.text) EXPECT_GE(u, 0x20) << "control in a word";
            EXPECT_EQ(w.attributes & ~(kWordSpaceAfter | kWordLastOnLine), 0);
        }
        if (!words.empty()) {
            EXPECT_TRUE(words.back().attributes & kWordLastOnLine);
        }
        std::u16string text = joined(words);
        EXPECT_EQ(text.find(u'\n'), std::u16string::npos);
    }
}

TEST(PageText, PageOutOfRangeIsRefused) {
    auto doc = Document::open(kPdfs + "hello_world_rotated.pdf", false);
    for (int page : {-1, 5, 1 << 30}) {
        try {
            pageWords(doc, page);
            ADD_FAILURE() << "page " << page << " accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), err::kNotValidPage);
        }
    }
    EXPECT_FALSE(pageWords(doc, 4).empty());
    EXPECT_THROW(pageWordsFromFile(std::string("/nonexistent/no such file.pdf"), 0), Error);
}

// A change to the document is seen by the next extraction: the parse follows the generation and
// reads the objects as they are in memory, not the file.
TEST(PageText, ChangedDocumentIsReadFromMemory) {
    auto doc = Document::open(kPdfs + "pdkids.pdf", false);
    auto page1 = pageWords(doc, 0);
    auto page2 = pageWords(doc, 1);
    ASSERT_NE(joined(page1), joined(page2));
    EXPECT_EQ(joined(pageWords(doc, 0)), joined(page1));  // cached parse, same answer

    QPDFPageDocumentHelper pages(doc->qpdf());
    pages.removePage(pages.getAllPages().front());
    doc->markChanged();
    EXPECT_EQ(joined(pageWords(doc, 0)), joined(page2));

    // A second Document on the same file is parsed on its own.
    auto other = Document::open(kPdfs + "pdkids.pdf", false);
    EXPECT_EQ(joined(pageWords(other, 0)), joined(page1));
    doc.reset();
    clearTextCache();
    EXPECT_EQ(joined(pageWords(other, 1)), joined(page2));
}

// Text from a document made in memory (never saved) and from an encrypted one.
TEST(PageText, NewAndEncryptedDocuments) {
    auto fresh = Document::create();
    auto source = Document::open(kPdfs + "pdkids.pdf", false);
    fresh->insertPages(kBeforeFirstPage, *source, 0, 1, 0);
    EXPECT_EQ(joined(pageWords(fresh, 0)), joined(pageWords(source, 0)));

    auto owner = Document::open(kPdfs + "Gday garçon - owner.pdf", false);
    EXPECT_FALSE(pageWords(owner, 0).empty());
    owner->markChanged();  // now read through the in-memory copy, written without encryption
    EXPECT_FALSE(pageWords(owner, 0).empty());
}

// Pages read ahead on worker threads are the pages the plain path gives, whatever order the reader
// takes: forwards, backwards, jumping, and after a change (a new generation, read from memory).
TEST(PageText, ReadAheadGivesThePlainPathsWords) {
    auto doc = Document::open(kPdfs + "pdkids.pdf", false);
    const int n = doc->numPages();
    auto allPages = [&](const std::vector<int>& order) {
        std::vector<std::u16string> out(static_cast<std::size_t>(n));
        for (int p : order) out[static_cast<std::size_t>(p)] = joined(pageWords(doc, p));
        return out;
    };
    std::vector<int> forwards(static_cast<std::size_t>(n)), backwards, jumping;
    for (int p = 0; p < n; ++p) forwards[static_cast<std::size_t>(p)] = p;
    backwards.assign(forwards.rbegin(), forwards.rend());
    for (int p = 0; p < n; ++p) jumping.push_back((p * 7) % n);  // 7 and 55 share no factor

    for (bool edited : {false, true}) {
        if (edited) {
            QPDFPageDocumentHelper pages(doc->qpdf());
            pages.removePage(pages.getAllPages()[3]);
            doc->markChanged();
            forwards.pop_back();
            backwards.erase(backwards.begin());
            jumping.erase(std::find(jumping.begin(), jumping.end(), n - 1));
        }
        setTextReadAheadLanes(0);
        clearTextCache();
        const auto plain = allPages(forwards);
        if (!edited) {  // one extractor kept for every page gives what a fresh one per page does
            for (int p = 0; p < n; ++p)
                EXPECT_EQ(joined(pageWordsFromFile(kPdfs + "pdkids.pdf", p)), plain[static_cast<std::size_t>(p)]) << p;
        }
        setTextReadAheadLanes(2);
        for (const auto* order : {&forwards, &backwards, &jumping, &forwards}) {
            clearTextCache();
            EXPECT_EQ(allPages(*order), plain) << (edited ? "after the edit" : "as opened");
        }
        EXPECT_EQ(allPages(backwards), plain);  // the same parse, now read the other way
    }
    // A read past the end is refused as before, with lanes at work beside it.
    EXPECT_THROW(pageWords(doc, doc->numPages()), Error);
    doc.reset();  // lanes still running see the document gone and end
    clearTextCache();
}

// Field edits one after another, each followed by reads of the edited page and of the other page,
// with read-ahead on and every generation's parse following the last: the words are those of a
// fresh parse of the same state, and the value set shows on its own page. An edit whose objects the
// document knows (a value drawn in its own stream, with the fonts it embeds) is read into the parse
// already made; one told only as "changed" is parsed anew.
TEST(PageText, ReadsAfterFieldEditsFollowEveryEdit) {
    struct Edit {
        const char16_t* field;
        const char* value;
        int page;                // the field's page
        std::vector<int> reads;  // pages read after the edit, in order
    };
    struct Case {
        const char* file;
        const char* appended;  // a document whose pages follow before the edits, or null
        std::vector<Edit> edits;
        std::uint64_t parses;  // parses made when every change is told with its objects
    };
    const std::vector<Case> cases = {
        {"hebrew.pdf",  // its field font is not embedded: every value embeds (and rewrites) one
         nullptr,
         {
             {u"firstName1", "Alpha", 0, {0}},     // the edited page alone
             {u"firstName1", "Bravo", 0, {0, 0}},  // again, twice
             {u"firstName2", "Charlie", 1, {0}},   // a field of the other page, this page read
             {u"lastName1", "Delta", 0, {1, 0}},   // the other page first
             {u"dob1", "Echo", 0, {0, 1, 0}},      // the reader moving on and back
             {u"firstName2", "Foxtrot", 1, {1}},
         },
         1},
        {"issue17492.pdf",
         "hello_world_rotated.pdf",  // pages read ahead, with the edits
         {
             {u"lastName", "Alpha", 0, {0, 1, 2, 3}},
             {u"lastName", "Bravo", 0, {0, 0}},
             {u"firstName", "Charlie", 0, {0}},
             {u"otherJobExperience", "Łódź", 0, {0}},  // a font embedded
             {u"firstName", "Delta", 0, {2, 1, 0}},
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto run = [&](bool fresh, bool told) {
            setTextReadAheadLanes(fresh ? 0 : 2);
            clearTextCache();
            const auto parses = textParsesMade();
            auto doc = Document::open(kPdfs + c.file, false);
            if (c.appended) doc->insertPages(kLastPage, *Document::open(kPdfs + c.appended, false), 0, kAllPages, 0);
            std::vector<std::u16string> out;
            for (const auto& e : c.edits) {
                auto forms = FormFields::forDocument(doc);
                const int i = forms->find(e.field);
                EXPECT_GE(i, 0);
                if (i < 0) continue;
                forms->setValue(static_cast<std::size_t>(i), QPDFObjectHandle::newUnicodeString(e.value));
                if (told) doc->markChanged();
                for (int p : e.reads) {
                    if (fresh) clearTextCache();
                    out.push_back(joined(pageWords(doc, p)));
                    if (p == e.page) {
                        EXPECT_NE(out.back().find(quill::unicode::utf8ToUtf16(e.value)), std::u16string::npos);
                    }
                }
            }
            if (!fresh && !told) {
                EXPECT_EQ(textParsesMade() - parses, c.parses);
            }
            return out;
        };
        const auto fresh = run(true, true);
        EXPECT_EQ(run(false, false), fresh);
        EXPECT_EQ(run(false, true), fresh);
    }
    setTextReadAheadLanes(2);
    clearTextCache();
}
