// The PDModel document calls as a plug-in reaches them through the table, over real files.
#include "HostAPI.h"
#include "PDDocHandle.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

using namespace acro_host;
using testutil::TempDir;

namespace {

template <class Proto>
Proto proc(Selector sel) {
    void* p = registeredProc("PDModel", sel);
    EXPECT_NE(p, nullptr) << "selector " << sel;
    return reinterpret_cast<Proto>(p);
}

// Runs a call with no exception frame: a raise ends it with RequestAborted; 0 when it returned.
template <class F>
ASErrorCode raisedBy(F&& f) {
    try {
        f();
    } catch (const RequestAborted& a) {
        return a.code;
    }
    return 0;
}

}  // namespace

TEST(PDModelDocs, OpenFailuresRaiseTheirCodes) {
    TempDir tmp;
    auto open = proc<PDDocOpenSELPROTO>(PDDocOpenSEL);
    auto openEx = proc<PDDocOpenExSELPROTO>(PDDocOpenExSEL);
    fs::create_directory(tmp / "dir.pdf");
    auto code = [&](const fs::path& p, bool repair) {
        ASPathName name = newPathName(p.string());
        return raisedBy([&] { open(name, defaultFileSys(), nullptr, repair); });
    };
    EXPECT_EQ(code(tmp / "missing.pdf", true), ASFileError(fileErrFNF));
    EXPECT_EQ(code(tmp / "dir.pdf", true), ASFileError(fileErrIsDirectory));
    EXPECT_EQ(code(testutil::fixtures() / "PasswordSample-128bit.pdf", true), PDDocError(pdErrNeedPassword));
    EXPECT_EQ(code(testutil::fixtures() / "append-page-content-damaged.pdf", false), PDDocError(pdErrNeedRebuild));
    EXPECT_EQ(raisedBy([&] { openEx(nullptr, nullptr, nullptr, nullptr, true); }), GenError(genErrBadParm));
}

TEST(PDModelDocs, EditCopyAppendSaveAndHandles) {
    TempDir tmp;
    testutil::makePdf(tmp / "a.pdf", 2, "A");
    testutil::makePdf(tmp / "b.pdf", 3, "B");
    auto open = proc<PDDocOpenSELPROTO>(PDDocOpenSEL);
    auto create = proc<PDDocCreateSELPROTO>(PDDocCreateSEL);
    auto insert = proc<PDDocInsertPagesSELPROTO>(PDDocInsertPagesSEL);
    auto numPages = proc<PDDocGetNumPagesSELPROTO>(PDDocGetNumPagesSEL);
    auto save = proc<PDDocSaveSELPROTO>(PDDocSaveSEL);
    auto close = proc<PDDocCloseSELPROTO>(PDDocCloseSEL);
    auto getFile = proc<PDDocGetFileSELPROTO>(PDDocGetFileSEL);
    auto del = proc<PDDocDeletePagesSELPROTO>(PDDocDeletePagesSEL);
    auto clear = proc<PDDocClearFlagsSELPROTO>(PDDocClearFlagsSEL);

    // The append handler's sequence: working document, edit copy, source, save over the working file.
    PDDoc work = open(newPathName((tmp / "a.pdf").string()), defaultFileSys(), nullptr, true);
    ASFile workFile = getFile(work);
    EXPECT_EQ(filePath(workFile), (tmp / "a.pdf").string());
    PDDoc sub = create();
    EXPECT_EQ(getFile(sub), nullptr);
    insert(sub, PDLastPage, work, 0, PDAllPages, PDInsertAll, nullptr, nullptr, nullptr, nullptr);
    PDDoc src = open(newPathName((tmp / "b.pdf").string()), defaultFileSys(), nullptr, true);
    insert(sub, PDLastPage, src, 0, PDAllPages, PDInsertAll, nullptr, nullptr, nullptr, nullptr);
    close(src);
    EXPECT_EQ(numPages(sub), 5);
    EXPECT_TRUE(pdDocFlags(sub) & PDDocNeedsSave);
    ASPathName workPath = newPathName(filePath(workFile));
    close(work);  // the working document goes before its file is overwritten
    save(sub, PDSaveFull | PDSaveCollectGarbage, workPath, nullptr, nullptr, nullptr);
    clear(sub, PDDocNeedsSave);
    EXPECT_FALSE(pdDocFlags(sub) & PDDocNeedsSave);
    EXPECT_EQ(filePath(getFile(sub)), (tmp / "a.pdf").string());
    EXPECT_EQ(testutil::pageTexts(tmp / "a.pdf"), (std::vector<std::string>{"A1", "A2", "B1", "B2", "B3"}));

    // Save as a copy: the document stays tied to its file.
    save(sub, PDSaveFull | PDSaveCopy | PDSaveCollectGarbage, newPathName((tmp / "copy.pdf").string()), nullptr,
         nullptr, nullptr);
    EXPECT_EQ(filePath(getFile(sub)), (tmp / "a.pdf").string());
    EXPECT_EQ(testutil::qpdfPages(tmp / "copy.pdf"), 5);

    EXPECT_EQ(raisedBy([&] { del(sub, 3, 9, nullptr, nullptr); }), GenError(genErrBadParm));
    EXPECT_EQ(raisedBy([&] { insert(sub, 7, sub, 0, 1, 0, nullptr, nullptr, nullptr, nullptr); }),
              GenError(genErrBadParm));
    del(sub, 0, 1, nullptr, nullptr);
    EXPECT_EQ(numPages(sub), 3);

    // Closed handles are refused, never used.
    close(sub);
    EXPECT_FALSE(isLivePDDoc(sub));
    EXPECT_EQ(raisedBy([&] { numPages(sub); }), GenError(genErrBadParm));
    EXPECT_EQ(raisedBy([&] { close(sub); }), GenError(genErrBadParm));
    EXPECT_EQ(raisedBy([&] { numPages(nullptr); }), GenError(genErrBadParm));
}
