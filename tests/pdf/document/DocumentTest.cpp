// Opening fixture files of every kind, page counts, inserting and deleting pages.
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Forms.h"
#include "quill/pdf/Save.h"
#include "StoredPageCount.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>

#include <fstream>
#include <functional>
#include <vector>

using namespace quill::pdf;
using testutil::TempDir;

namespace {

int32_t openError(const fs::path& p, bool repair) {
    try {
        Document::open(p.string(), repair);
    } catch (const Error& e) {
        std::string m = e.what();
        EXPECT_FALSE(m.empty());
        EXPECT_EQ(m.back(), '.') << m;
        return e.code();
    }
    return 0;
}

int low16(int32_t code) {
    return code & 0xFFFF;
}
int sys(int32_t code) {
    return (code >> 16) & 0xFF;
}

}  // namespace

TEST(DocumentOpen, EachFailureKindHasItsOwnCode) {
    TempDir tmp;
    std::ofstream(tmp / "notes.pdf") << "just some text, not a PDF\n";
    std::ofstream(tmp / "empty.pdf");
    fs::create_directory(tmp / "folder.pdf");

    std::set<int32_t> codes;
    auto check = [&](const fs::path& p, bool repair, int32_t want) {
        int32_t got = openError(p, repair);
        EXPECT_EQ(got, want) << p;
        codes.insert(got);
    };
    check(tmp / "missing.pdf", true, err::kFileNotFound);
    check(tmp / "folder.pdf", true, err::kFileIsFolder);
    check(tmp / "notes.pdf", true, err::kUnknownFileType);
    check(tmp / "empty.pdf", true, err::kUnknownFileType);
    check(testutil::fixtures() / "PasswordSample-128bit.pdf", true, err::kNeedPassword);
    check(testutil::fixtures() / "r6-both-passwords.pdf", false, err::kNeedPassword);
    check(testutil::fixtures() / "append-page-content-damaged.pdf", false, err::kNeedRebuild);
    EXPECT_EQ(codes.size(), 5u);
    EXPECT_EQ(sys(err::kNeedRebuild), 3);
    EXPECT_EQ(low16(err::kNeedRebuild), 29);
    EXPECT_EQ(low16(err::kNeedPassword), 39);
}

TEST(DocumentOpen, DamagedFileOpensOnlyWithRepair) {
    auto p = testutil::fixtures() / "append-page-content-damaged.pdf";
    EXPECT_EQ(openError(p, false), err::kNeedRebuild);
    auto doc = Document::open(p.string(), true);
    EXPECT_TRUE(doc->wasRepaired());
    EXPECT_EQ(doc->numPages(), 30);
}

TEST(DocumentOpen, PageCountsMatchTruthForEveryReadableFixture) {
    int checked = 0;
    for (auto& e : fs::directory_iterator(testutil::fixtures())) {
        const std::string name = e.path().filename().string();
        auto truthFile = testutil::truth() / (name + ".npages");
        if (!fs::exists(truthFile)) continue;
        int want = std::stoi(testutil::slurp(truthFile));
        std::shared_ptr<Document> doc;
        try {
            doc = Document::open(e.path().string(), true);
        } catch (const Error& err) {
            EXPECT_EQ(err.code(), err::kNeedPassword) << name << ": " << err.what();
            continue;
        }
        EXPECT_EQ(doc->numPages(), want) << name;
        EXPECT_EQ(doc->path(), e.path().string());
        ++checked;
    }
    EXPECT_GE(checked, 30);
}

TEST(DocumentOpen, OwnerPasswordOnlyAndOddNamesOpen) {
    for (const char* name : {"Gday garçon - owner.pdf", "bug1815476.pdf", "orientation.pdf", "test Orient.pdf",
                             "Simple PDF 2.0 file.pdf"}) {
        auto doc = Document::open((testutil::fixtures() / name).string(), false);
        EXPECT_GE(doc->numPages(), 1) << name;
    }
}

TEST(DocumentOpen, StoredCountThatDisagreesWithTheTreeIsNotBelieved) {
    TempDir tmp;
    testutil::makePdf(tmp / "three.pdf", 3, "P");
    // Rewrite /Count 3 as /Count 7 (same length keeps the xref valid).
    std::string body = testutil::slurp(tmp / "three.pdf");
    auto at = body.find("/Count 3");
    ASSERT_NE(at, std::string::npos);
    body[at + 7] = '7';
    std::ofstream(tmp / "lying.pdf", std::ios::binary) << body;
    auto doc = Document::open((tmp / "lying.pdf").string(), false);
    EXPECT_EQ(doc->numPages(), 3);
}

// A count read from the bytes must be one qpdf would agree with; whatever qpdf reads differently
// (offsets counted from a late header, an entry run into the next line, usage rights, encryption,
// a loop of sections) goes the long way.
TEST(DocumentOpen, PlainCountOnlyForFilesQpdfReadsTheSameWay) {
    TempDir tmp;
    testutil::makePdf(tmp / "small.pdf", 3, "P");
    testutil::makePdf(tmp / "large.pdf", 70, "P");
    const std::string small = testutil::slurp(tmp / "small.pdf");
    const std::string large = testutil::slurp(tmp / "large.pdf");
    auto edited = [](std::string body, const std::string& from, const std::string& to) {
        auto at = body.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? body : body.replace(at, from.size(), to);
    };
    const std::size_t xref = small.rfind("xref\n");
    struct Case {
        const char* what;
        std::string bytes;
        long long want;  // -1: not answered
    } cases[] = {
        {"kids counted one by one", small, 3},
        {"count beside many kids", large, 70},
        {"count no kid backs up", edited(small, "/Count 3", "/Count 7"), -1},
        {"header after a byte", " " + small, -1},
        {"entry running into the next", edited(small, " n \n", " n  "), -1},
        {"usage rights", edited(small, "/Type /Catalog", "/Perms << >>  "), -1},
        {"encrypted", edited(small, "/Root 1 0 R", "/Root 1 0 R /Encrypt 3 0 R"), -1},
        {"startxref run together", edited(small, "startxref\n", "startxref"), -1},
        {"sections in a loop", edited(small, "/Root 1 0 R", "/Root 1 0 R /Prev " + std::to_string(xref)), -1},
        {"indirect count", edited(large, "/Count 70", "/Count 3 0 R"), -1},
    };
    for (const auto& c : cases) {
        auto got = plainPageCount(c.bytes, 8388607, 64);
        EXPECT_EQ(got.value_or(-1), c.want) << c.what;
        // The document agrees either way.
        std::ofstream(tmp / "case.pdf", std::ios::binary) << c.bytes;
        if (c.want >= 0) {
            EXPECT_EQ(Document::open((tmp / "case.pdf").string(), false)->numPages(), c.want) << c.what;
        }
    }
    for (const char* name : {"PasswordSample-128bit.pdf", "append-page-content-damaged.pdf"})
        EXPECT_FALSE(plainPageCount(testutil::slurp(testutil::fixtures() / name), 8388607, 64)) << name;
}

// A document opened without qpdf's parse works like any other once its objects are needed.
TEST(DocumentOpen, PlainFileParsedWhenFirstNeeded) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 80, "A");
    testutil::makePdf(tmp / "b.pdf", 3, "B");
    auto a = Document::open((tmp / "a.pdf").string(), false);
    auto b = Document::open((tmp / "b.pdf").string(), false);
    EXPECT_EQ(a->numPages(), 80);
    a->insertPages(kLastPage, *b, 0, kAllPages, 0);
    a->deletePages(0, 9);
    EXPECT_EQ(a->numPages(), 73);
    EXPECT_EQ(a->qpdf().getAllPages().size(), 73u);
}

// A file read ahead of its next open is taken only while it is still that file, byte for byte;
// any other open reads the file as it is now (a file replaced: tests/e2e/FormDocumentsTest.cpp).
TEST(DocumentOpen, FileReadAheadServesOnlyTheSameFile) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& form, const fs::path& other)> between;
        bool repair;
        bool taken;
        int pages;
    };
    const std::vector<Case> cases = {
        {"unchanged", [](const fs::path&, const fs::path&) {}, false, true, 2},
        {"rewritten in place", [](const fs::path& f, const fs::path&) { testutil::makePdf(f, 3, "C"); }, false, false,
         3},
        {"opened with repair", [](const fs::path&, const fs::path&) {}, true, false, 2},
        {"another file opened first",
         [](const fs::path&, const fs::path& other) { Document::open(other.string(), false); }, false, false, 2},
    };
    for (const auto& c : cases) {
        TempDir tmp;
        const fs::path form = tmp / "form.pdf", other = tmp / "other.pdf";
        testutil::makePdf(form, 2, "A");
        testutil::makePdf(other, 5, "B");
        Document::prepareReopen(form.string(), 1u << 20);
        c.between(form, other);
        auto doc = Document::open(form.string(), c.repair);
        EXPECT_EQ(loadedFormFields(*doc) != nullptr, c.taken) << c.name;
        EXPECT_EQ(doc->numPages(), c.pages) << c.name;
        // Taken or not, the file read ahead is gone: the next open reads the file.
        EXPECT_EQ(loadedFormFields(*Document::open(form.string(), false)), nullptr) << c.name;
    }
    // Too large, missing: nothing is kept, and the open reports what it finds.
    TempDir tmp;
    testutil::makePdf(tmp / "big.pdf", 2, "A");
    Document::prepareReopen((tmp / "big.pdf").string(), 100);
    EXPECT_EQ(loadedFormFields(*Document::open((tmp / "big.pdf").string(), false)), nullptr);
    Document::prepareReopen((tmp / "gone.pdf").string(), 1u << 20);
    EXPECT_THROW(Document::open((tmp / "gone.pdf").string(), false), Error);
}

TEST(DocumentPages, AppendKeepsOrderAcrossDocuments) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 2, "Alpha");
    testutil::makePdf(tmp / "b.pdf", 3, "Beta");
    auto target = Document::create();
    EXPECT_EQ(target->numPages(), 0);
    EXPECT_EQ(target->path(), "");
    for (const char* name : {"a.pdf", "b.pdf"}) {
        auto src = Document::open((tmp / name).string(), true);
        auto before = target->generation();
        target->insertPages(kLastPage, *src, 0, kAllPages, kInsertAll);
        EXPECT_GT(target->generation(), before);
    }
    // Sources are closed here; their pages must still be writable.
    EXPECT_EQ(target->numPages(), 5);
    save(*target, kSaveFull | kSaveCollectGarbage, (tmp / "out.pdf").string());
    EXPECT_EQ(testutil::qpdfPages(tmp / "out.pdf"), 5);
    EXPECT_TRUE(testutil::qpdfCheck(tmp / "out.pdf"));
    auto texts = testutil::pageTexts(tmp / "out.pdf");
    std::vector<std::string> want{"Alpha1", "Alpha2", "Beta1", "Beta2", "Beta3"};
    EXPECT_EQ(texts, want);
}

TEST(DocumentPages, InsertedPagesKeepTheAttributesTheyInherited) {
    // jo.pdf keeps its page size on the page tree, not on the page.
    TempDir tmp;
    auto src = Document::open(std::string(QUILL_FIXTURES_DIR) + "/pdfs/jo.pdf", true);
    auto target = Document::create();
    target->insertPages(kLastPage, *src, 0, kAllPages, kInsertAll);
    save(*target, kSaveFull | kSaveCollectGarbage, (tmp / "out.pdf").string());
    auto box = [](const std::string& file) {
        QPDF q;
        q.processFile(file.c_str());
        QPDFObjectHandle first = q.getAllPages().at(0);
        return first.getKey("/MediaBox").unparseResolved();
    };
    QPDF original;
    original.processFile((std::string(QUILL_FIXTURES_DIR) + "/pdfs/jo.pdf").c_str());
    auto page = original.getAllPages().at(0);
    QPDFObjectHandle inherited = page.getKey("/Parent").getKey("/MediaBox");
    ASSERT_TRUE(inherited.isArray());
    EXPECT_EQ(box((tmp / "out.pdf").string()), inherited.unparseResolved());
}

TEST(DocumentPages, InsertAtEveryPositionAndRanges) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 3, "A");
    testutil::makePdf(tmp / "b.pdf", 4, "B");
    auto b = Document::open((tmp / "b.pdf").string(), false);

    struct Case {
        int after, start, count;
        std::vector<std::string> want;
    };
    std::vector<Case> cases{
        {kBeforeFirstPage, 0, 1, {"B1", "A1", "A2", "A3"}},
        {0, 1, 2, {"A1", "B2", "B3", "A2", "A3"}},
        {2, 3, kAllPages, {"A1", "A2", "A3", "B4"}},
        {kLastPage, 2, kAllPages, {"A1", "A2", "A3", "B3", "B4"}},
        {1, 0, kAllPages, {"A1", "A2", "B1", "B2", "B3", "B4", "A3"}},
    };
    int k = 0;
    for (auto& c : cases) {
        auto a = Document::open((tmp / "a.pdf").string(), false);
        a->insertPages(c.after, *b, c.start, c.count, 0);
        auto out = tmp / ("ins" + std::to_string(k++) + ".pdf");
        save(*a, kSaveFull | kSaveCopy, out.string());
        EXPECT_EQ(testutil::pageTexts(out), c.want) << "case " << k;
        EXPECT_EQ(a->numPages(), static_cast<int>(c.want.size()));
    }

    auto a = Document::open((tmp / "a.pdf").string(), false);
    auto bad = [&](int after, int start, int count) {
        try {
            a->insertPages(after, *b, start, count, 0);
        } catch (const Error& e) {
            return e.code();
        }
        return 0;
    };
    EXPECT_EQ(bad(3, 0, 1), err::kBadParm);  // after past the end
    EXPECT_EQ(bad(-4, 0, 1), err::kBadParm);
    EXPECT_EQ(bad(0, 4, 1), err::kBadParm);  // start past the source
    EXPECT_EQ(bad(0, -1, 1), err::kBadParm);
    EXPECT_EQ(bad(0, 2, 3), err::kBadParm);  // run past the source
    EXPECT_EQ(bad(0, 0, 0), err::kBadParm);
    EXPECT_EQ(a->numPages(), 3);  // nothing changed by refused calls
    auto empty = Document::create();
    EXPECT_EQ(bad(0, 0, kAllPages), 0);
    try {
        a->insertPages(0, *empty, 0, kAllPages, 0);
        ADD_FAILURE() << "inserting from an empty document";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), err::kBadParm);
    }
}

TEST(DocumentPages, InsertFromItselfMakesIndependentCopies) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 2, "A");
    auto a = Document::open((tmp / "a.pdf").string(), false);
    a->insertPages(kLastPage, *a, 0, kAllPages, 0);
    EXPECT_EQ(a->numPages(), 4);
    save(*a, kSaveFull, (tmp / "a.pdf").string());
    EXPECT_EQ(testutil::pageTexts(tmp / "a.pdf"), (std::vector<std::string>{"A1", "A2", "A1", "A2"}));
}

TEST(DocumentPages, DeleteRanges) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 5, "A");
    auto a = Document::open((tmp / "a.pdf").string(), false);
    a->deletePages(1, 2);
    EXPECT_EQ(a->numPages(), 3);
    a->deletePages(2, kLastPage);
    save(*a, kSaveFull | kSaveCopy, (tmp / "d.pdf").string());
    EXPECT_EQ(testutil::pageTexts(tmp / "d.pdf"), (std::vector<std::string>{"A1", "A4"}));

    auto code = [&](int first, int last) {
        try {
            a->deletePages(first, last);
        } catch (const Error& e) {
            return e.code();
        }
        return 0;
    };
    EXPECT_EQ(code(-1, 0), err::kBadParm);
    EXPECT_EQ(code(0, 2), err::kBadParm);
    EXPECT_EQ(code(1, 0), err::kBadParm);
    EXPECT_EQ(code(0, 1), err::kOpNotPermitted);  // every page
    EXPECT_EQ(a->numPages(), 2);
}

TEST(DocumentPages, FormStaysAFormWhenCopied) {
    TempDir tmp;
    auto form = testutil::fixtures() / "AcroFormsBasicFields.pdf";
    auto other = testutil::fixtures() / "create_form.pdf";
    auto target = Document::create();
    for (auto& p : {form, other}) {
        auto src = Document::open(p.string(), true);
        target->insertPages(kLastPage, *src, 0, kAllPages, kInsertAll);
    }
    save(*target, kSaveFull, (tmp / "forms.pdf").string());
    auto countFields = [](const fs::path& p) {
        QPDF q;
        q.processFile(p.string().c_str());
        QPDFAcroFormDocumentHelper afdh(q);
        std::size_t n = 0;
        for (auto& f : afdh.getFormFields()) n += f.getFieldType().empty() ? 0 : 1;
        return n;
    };
    std::size_t want = countFields(form) + countFields(other);
    EXPECT_GT(want, 0u);
    EXPECT_EQ(countFields(tmp / "forms.pdf"), want);
    QPDF q;
    q.processFile((tmp / "forms.pdf").string().c_str());
    EXPECT_TRUE(q.getRoot().getKey("/AcroForm").getKey("/DR").isDictionary());

    // Deleting the pages of the first form takes its fields along.
    auto back = Document::open((tmp / "forms.pdf").string(), false);
    back->deletePages(0, 0);
    save(*back, kSaveFull, (tmp / "forms.pdf").string());
    EXPECT_EQ(countFields(tmp / "forms.pdf"), countFields(other));
}

TEST(DocumentPages, AppendingRealFilesKeepsTheirTextIncludingEncryptedOnes) {
    TempDir tmp;
    // Owner-password files (RC4 and AES), a linearized file with updates, a signed file, object streams.
    const std::vector<std::string> names{"Gday garçon - owner.pdf", "bug1815476.pdf", "orientation.pdf",
                                         "issue16063.pdf",          "sample2.pdf",    "ukrainian.pdf"};
    auto target = Document::create();
    std::string want;
    int pages = 0;
    for (auto& name : names) {
        auto p = testutil::fixtures() / name;
        auto src = Document::open(p.string(), true);
        pages += src->numPages();
        target->insertPages(kLastPage, *src, 0, kAllPages, kInsertAll);
        std::string text;
        testutil::run({"pdftotext", p.string(), "-"}, &text);
        want += text;
    }
    save(*target, kSaveFull, (tmp / "all.pdf").string());
    EXPECT_TRUE(testutil::qpdfCheck(tmp / "all.pdf"));
    EXPECT_EQ(testutil::qpdfPages(tmp / "all.pdf"), pages);
    std::string got;
    testutil::run({"pdftotext", (tmp / "all.pdf").string(), "-"}, &got);
    EXPECT_EQ(got, want);
}
