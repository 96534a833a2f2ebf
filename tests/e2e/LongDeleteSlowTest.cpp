// Deleting pages 2..9,999 of a 10,000-page file through both hosts: the
// delete and the save each come back well within the plug-in's wait, and the
// saved file has the two pages left.
#include "Harness.h"

#include <gtest/gtest.h>

using namespace e2e;

TEST(LongDelete, TenThousandPagesDownToTwo) {
    Sandbox box;
    const fs::path doc = box.root() / "big.pdf";
    const std::string src = fixture("pdkids.pdf");  // 55 pages
    std::vector<std::string> cmd{"/usr/bin/qpdf", "--empty", "--pages"};
    for (int left = 10000; left > 0; left -= 55) {
        cmd.push_back(src);
        cmd.push_back(left >= 55 ? "1-55" : "1-" + std::to_string(left));
    }
    cmd.push_back("--");
    cmd.push_back(doc.string());
    ASSERT_EQ(run(cmd).status, 0);
    ASSERT_EQ(pagesOf(doc), 10000);

    FmSession fm{box};
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_DeletePages ( 2 ; 9999 )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetNumPages"), "10000");
    EXPECT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetNumPages"), "2");
    EXPECT_EQ(pagesOf(doc), 2);
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
}
