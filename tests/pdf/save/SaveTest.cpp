// Saving: full saves, copies, saving over the file a document reads from, and failed saves.
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Save.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <sys/stat.h>
#include <sys/wait.h>

using namespace quill::pdf;
using testutil::TempDir;

namespace {

std::vector<std::string> leftovers(const fs::path& dir) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find("saving-") != std::string::npos) names.push_back(e.path().filename());
    return names;
}

}  // namespace

TEST(Save, CopyKeepsDocumentTiedToItsFileAndFullSaveRebinds) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 2, "A");
    auto doc = Document::open((tmp / "a.pdf").string(), false);
    save(*doc, kSaveFull | kSaveCopy | kSaveCollectGarbage, (tmp / "copy é.pdf").string());
    EXPECT_EQ(doc->path(), (tmp / "a.pdf").string());
    EXPECT_EQ(testutil::qpdfPages(tmp / "copy é.pdf"), 2);
    save(*doc, kSaveFull, (tmp / "moved.pdf").string());
    EXPECT_EQ(doc->path(), (tmp / "moved.pdf").string());
    EXPECT_TRUE(leftovers(tmp.path).empty());
}

TEST(Save, LeavesUnreachableObjectsOut) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 6, "A");
    auto doc = Document::open((tmp / "a.pdf").string(), false);
    doc->deletePages(1, 4);
    save(*doc, kSaveFull | kSaveCollectGarbage, (tmp / "a.pdf").string());
    std::string body = testutil::slurp(tmp / "a.pdf");
    EXPECT_EQ(body.find("(A 3)"), std::string::npos);
    EXPECT_NE(body.find("(A 6)"), std::string::npos);
}

TEST(Save, OverItsOwnFileKeepsDocumentUsable) {
    TempDir tmp;
    // A real document with object streams, so objects are still being read lazily after the save.
    auto src = testutil::fixtures() / "ECSTR11-01.pdf";
    fs::copy_file(src, tmp / "big.pdf");
    auto doc = Document::open((tmp / "big.pdf").string(), false);
    const int n = doc->numPages();
    save(*doc, kSaveFull | kSaveCollectGarbage, (tmp / "big.pdf").string());
    EXPECT_TRUE(testutil::qpdfCheck(tmp / "big.pdf"));
    // Reading pages the first save never touched, changing them and saving again.
    doc->deletePages(0, 9);
    save(*doc, kSaveFull, (tmp / "big.pdf").string());
    EXPECT_EQ(testutil::qpdfPages(tmp / "big.pdf"), n - 10);
    EXPECT_TRUE(testutil::qpdfCheck(tmp / "big.pdf"));
    auto again = Document::open((tmp / "big.pdf").string(), false);
    EXPECT_EQ(again->numPages(), n - 10);
}

// A copy saved over the document's own file by another spelling of its path is the document's
// file written: the next save finds the file as that save left it, not changed by someone else.
TEST(Save, OverItsOwnFileByAnotherPathIsItsOwnFile) {
    TempDir tmp;
    fs::create_directory(tmp / "sub");
    fs::create_directory_symlink(tmp.path, tmp / "link");
    testutil::makePdf(tmp / "a.pdf", 4, "A");
    auto doc = Document::open((tmp / "a.pdf").string(), false);
    int pages = 4;
    for (const fs::path& spelling : {tmp / "." / "a.pdf", tmp / "sub" / ".." / "a.pdf", tmp / "link" / "a.pdf"}) {
        SCOPED_TRACE(spelling.string());
        doc->deletePages(0, 0);
        save(*doc, kSaveFull | kSaveCopy, spelling.string());
        EXPECT_NO_THROW(save(*doc, kSaveFull, (tmp / "a.pdf").string()));
        EXPECT_EQ(testutil::qpdfPages(tmp / "a.pdf"), --pages);
    }
}

TEST(Save, DoesNotRecompressStreams) {
    TempDir tmp;
    auto src = testutil::fixtures() / "pdkids.pdf";
    auto doc = Document::open(src.string(), false);
    save(*doc, kSaveFull | kSaveCopy, (tmp / "out.pdf").string());
    // Every stream of the output carries the same bytes as the input's stream of the same page.
    QPDF in, out;
    in.processFile(src.string().c_str());
    out.processFile((tmp / "out.pdf").string().c_str());
    auto pin = QPDFPageDocumentHelper(in).getAllPages();
    auto pout = QPDFPageDocumentHelper(out).getAllPages();
    ASSERT_EQ(pin.size(), pout.size());
    for (std::size_t i = 0; i < pin.size(); i += 7) {
        auto a = pin[i].getObjectHandle().getKey("/Contents");
        auto b = pout[i].getObjectHandle().getKey("/Contents");
        if (!a.isStream()) continue;
        auto ra = a.getRawStreamData();
        auto rb = b.getRawStreamData();
        EXPECT_EQ(std::string(reinterpret_cast<char*>(ra->getBuffer()), ra->getSize()),
                  std::string(reinterpret_cast<char*>(rb->getBuffer()), rb->getSize()))
            << "page " << i;
        EXPECT_EQ(a.getDict().getKey("/Filter").unparse(), b.getDict().getKey("/Filter").unparse());
    }
}

TEST(Save, IntoAReadOnlyFolderFailsAndLeavesTheTargetIntact) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 2, "A");
    fs::create_directory(tmp / "ro");
    testutil::makePdf(tmp / "ro" / "target.pdf", 1, "Old");
    const std::string before = testutil::slurp(tmp / "ro" / "target.pdf");
    fs::permissions(tmp.path, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(tmp / "a.pdf", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    fs::permissions(tmp / "ro",
                    fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);
    // 0 saved, 1 refused with the permission code, 2 anything else.
    auto attempt = [&]() -> int {
        auto doc = Document::open((tmp / "a.pdf").string(), false);
        try {
            save(*doc, kSaveFull | kSaveCopy, (tmp / "ro" / "target.pdf").string());
        } catch (const Error& e) {
            return e.code() == err::kFileAccess && doc->path() == (tmp / "a.pdf").string() ? 1 : 2;
        }
        return 0;
    };
    int result;
    if (::geteuid() == 0) {
        // Root writes anywhere: try the save as an unprivileged user instead.
        pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
            ::_exit(attempt());
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 4;
    } else {
        result = attempt();
    }
    EXPECT_EQ(result, 1);
    fs::permissions(tmp / "ro", fs::perms::owner_all);
    EXPECT_EQ(testutil::slurp(tmp / "ro" / "target.pdf"), before);
    EXPECT_TRUE(leftovers(tmp / "ro").empty());
}

TEST(Save, ErrorsForBadTargetsAndLateFailures) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 2, "A");
    testutil::makePdf(tmp / "old.pdf", 1, "Old");
    fs::create_directory(tmp / "dir.pdf");
    auto doc = Document::open((tmp / "a.pdf").string(), false);
    auto code = [&](const fs::path& p) {
        try {
            save(*doc, kSaveFull, p.string());
        } catch (const Error& e) {
            return e.code();
        }
        return 0;
    };
    EXPECT_EQ(code(tmp / "no" / "such" / "x.pdf"), err::kUnableToWrite);
    EXPECT_EQ(code(tmp / "dir.pdf"), err::kFileIsFolder);
    EXPECT_EQ(code(""), err::kBadParm);

    // A failure after the data is written (as a full disk at the last moment would be).
    const std::string before = testutil::slurp(tmp / "old.pdf");
    setBeforeRenameHookForTesting([](const std::string&) { throw Error(err::kDiskFull, "The disk is full."); });
    EXPECT_EQ(code(tmp / "old.pdf"), err::kDiskFull);
    setBeforeRenameHookForTesting(nullptr);
    EXPECT_EQ(testutil::slurp(tmp / "old.pdf"), before);
    EXPECT_TRUE(leftovers(tmp.path).empty());
    EXPECT_EQ(doc->path(), (tmp / "a.pdf").string());
    // And the document still saves afterwards.
    EXPECT_EQ(code(tmp / "old.pdf"), 0);
    EXPECT_EQ(testutil::qpdfPages(tmp / "old.pdf"), 2);
}

TEST(Save, KeepsTheTargetsPermissions) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 1, "A");
    ::chmod((tmp / "a.pdf").c_str(), 0640);
    auto doc = Document::open((tmp / "a.pdf").string(), false);
    save(*doc, kSaveFull, (tmp / "a.pdf").string());
    struct stat st {};
    ::stat((tmp / "a.pdf").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}
