// Paths end to end, through filemaker-host and a real acrobat-host: what a save may remove from
// its folder, links another user planted anywhere on a path, paths as long as the system takes,
// and a working folder whose name is no UTF-8.
#include "Slurp.h"
#include "Harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>

using namespace e2e;

namespace {

using quill::testsupport::slurp;

void spit(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// The user a planted link belongs to: nobody, or its usual id.
uid_t anotherUser() {
    const struct passwd* nobody = ::getpwnam("nobody");
    return nobody ? nobody->pw_uid : 65534;
}

struct Paths : ::testing::Test {
    Sandbox box;
    const fs::path form = box.copy(example("form.pdf")), appendix = box.copy(example("appendix.pdf"));  // 1, 2 pages
};

// A save removes only temporary files of ours whose saver is gone; a user's files that merely
// look alike stay, however old, and so do old-style temporary files nothing proves dead.
TEST_F(Paths, ASaveRemovesOnlyItsOwnDeadTemporaryFiles) {
    const fs::path folder = box.root() / "work";
    fs::create_directories(folder);
    const char* kept[] = {".budget.saving-2023.xlsx", ".notes.saving-draft", ".form.pdf.saving-999999999-ghijkl",
                          ".quill-saving-999999999-12", ".quill-saving-1-1-0123456789abcdef0123456789abcdeX"};
    const std::string dead = ".quill-saving-999999999-1-0123456789abcdef0123456789abcdef";
    const auto twoHoursAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
    for (const std::string name : kept) {
        spit(folder / name, "the user's own " + name);
        fs::last_write_time(folder / name, twoHoursAgo);
    }
    spit(folder / dead, "left by a saver that died");
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(folder / "copy.pdf") + " )"), "0") << fm.lastError();
    for (const std::string name : kept) EXPECT_EQ(slurp(folder / name), "the user's own " + name) << name;
    EXPECT_FALSE(fs::exists(folder / dead));
    EXPECT_EQ(pagesOf(folder / "copy.pdf"), 1);
}

// Another user's link in a sticky folder everyone may write is followed nowhere in a path:
// open, save as, insert, append and delete all refuse it, and the refusal names the link. The
// user's own link there is followed.
TEST_F(Paths, AFolderLinkPlantedByAnotherUserIsFollowedNowhere) {
    if (::geteuid() != 0) GTEST_SKIP() << "a link of another user is made as root";
    const fs::path shared = box.root() / "tmp", home = box.home();
    fs::create_directories(shared);
    ::chmod(shared.c_str(), 01777);
    fs::create_directories(home);
    spit(home / "contract.pdf", "the victim's contract");
    ::chmod((home / "contract.pdf").c_str(), 0600);
    fs::copy_file(form, home / "form.pdf");
    fs::copy_file(appendix, home / "appendix.pdf");
    const fs::path planted = shared / "reports";
    fs::create_symlink(home, planted);
    ASSERT_EQ(::lchown(planted.c_str(), anotherUser(), static_cast<gid_t>(-1)), 0);

    FmSession fm(box);
    const auto refused = [&](const std::string& calc) {
        SCOPED_TRACE(calc);
        EXPECT_EQ(fm(calc), "!!ERROR!!");
        const std::string why = fm.lastError();
        EXPECT_NE(why.find("\"" + planted.string() + "\" is a symbolic link that another user made"), std::string::npos)
            << why;
    };
    refused("Torv_OpenPDF ( " + lit(planted / "form.pdf") + " )");
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0") << fm.lastError();
    refused("Torv_SaveAsPDF ( " + lit(planted / "contract.pdf") + " )");
    refused("Torv_SaveAsPDF ( " + lit(planted / "new.pdf") + " )");
    EXPECT_EQ(fm("Torv_InsertPages ( 1 ; " + lit(planted / "appendix.pdf") + " ; 1 ; 1 ; 0 )"), "!!ERROR!!");
    EXPECT_EQ(fm("Torv_AppendPDF ( " + lit(planted / "appendix.pdf") + " )"), "!!ERROR!!");
    EXPECT_EQ(fm("Torv_GetNumPages"), "1");
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    refused("Torv_DeletePDF ( " + lit(planted / "form.pdf") + " )");
    EXPECT_EQ(slurp(home / "contract.pdf"), "the victim's contract");
    EXPECT_FALSE(fs::exists(home / "new.pdf"));
    EXPECT_TRUE(fs::exists(home / "form.pdf"));
    EXPECT_TRUE(fs::is_symlink(planted));

    // The same link made by the user is theirs to follow.
    ASSERT_EQ(::lchown(planted.c_str(), ::geteuid(), ::getegid()), 0);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(planted / "form.pdf") + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_AppendPDF ( " + lit(planted / "appendix.pdf") + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(planted / "new.pdf") + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_EQ(pagesOf(home / "new.pdf"), 3);
    EXPECT_EQ(fm("Torv_DeletePDF ( " + lit(planted / "new.pdf") + " )"), "0") << fm.lastError();
    EXPECT_FALSE(fs::exists(home / "new.pdf"));
}

// A path as long as the system takes opens, saves, appends and deletes.
TEST_F(Paths, APathUpToPathMaxWorksEverywhere) {
    fs::path deep = box.root();
    while (deep.string().size() < 3900 - 220) deep /= std::string(200, 'd');
    deep /= std::string(3900 - deep.string().size() - 5, 'n');
    fs::create_directories(deep.parent_path());
    const fs::path target = deep.string() + ".pdf";
    ASSERT_EQ(target.string().size(), 3900u);
    ASSERT_LT(target.string().size(), static_cast<std::size_t>(PATH_MAX));
    fs::copy_file(appendix, deep.parent_path() / "appendix.pdf");

    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(target) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_EQ(pagesOf(target), 1);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(target) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_AppendPDF ( " + lit(deep.parent_path() / "appendix.pdf") + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_EQ(pagesOf(target), 3);
    EXPECT_EQ(fm("Torv_DeletePDF ( " + lit(target) + " )"), "0") << fm.lastError();
    EXPECT_FALSE(fs::exists(target));
}

// Paths are bytes: a relative path typed in a working folder whose name is Latin-1 names the
// file in that folder, for open, save as and delete.
TEST_F(Paths, ARelativePathInALatin1WorkingFolder) {
    const fs::path folder = box.root() / "caf\xe9 r\xe9sum\xe9";
    fs::create_directories(folder);
    fs::copy_file(form, folder / "doc.pdf");
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    FmSession fm(box);  // started in the folder, as a user's FileMaker would be
    fs::current_path(before);
    ASSERT_EQ(fm("Torv_OpenPDF ( \"doc.pdf\" )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetNumPages"), "1");
    EXPECT_EQ(fm("Torv_SaveAsPDF ( \"copy.pdf\" )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_EQ(pagesOf(folder / "copy.pdf"), 1);
    EXPECT_EQ(fm("Torv_DeletePDF ( \"copy.pdf\" )"), "0") << fm.lastError();
    EXPECT_FALSE(fs::exists(folder / "copy.pdf"));
    EXPECT_TRUE(fs::exists(folder / "doc.pdf"));
}

}  // namespace
