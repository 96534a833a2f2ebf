// The shared path walk: which links it follows, where it stops, and the folder it hands over.
#include "quill/paths/SafePaths.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace quill::safepaths;

namespace {

// Links in a sticky folder everyone may write, made by us, by the folder's owner or by someone
// else, at every place in a path.
TEST(SafePaths, AnotherUsersLinkInASharedFolderStopsTheWalkWhereverItStands) {
    if (::geteuid() != 0) GTEST_SKIP() << "making links of other users needs root";
    quill::testsupport::TempDir tmp{"quill-safe-paths"};
    const fs::path shared = tmp.path / "shared", home = tmp.path / "home";
    fs::create_directories(shared);
    fs::create_directories(home / "in");
    ::chmod(shared.c_str(), 01777);
    std::ofstream(home / "in" / "f.pdf") << "x";
    const struct {
        const char* link;
        fs::path to;
        uid_t owner;
        std::string path;  // walked, below the shared folder
        bool refused;
    } rows[] = {
        {"first", home, 65534, "first/in/f.pdf", true},
        {"middle", home / "in", 65534, "x/../middle/f.pdf", true},
        {"last", home / "in" / "f.pdf", 65534, "last", true},
        {"mine", home, ::geteuid(), "mine/in/f.pdf", false},
        // A link of ours that leads to another user's link: the second is refused all the same.
        {"hop", shared / "first", ::geteuid(), "hop/in/f.pdf", true},
    };
    fs::create_directories(shared / "x");
    for (const auto& row : rows) {
        fs::create_symlink(row.to, shared / row.link);
        ASSERT_EQ(::lchown((shared / row.link).c_str(), row.owner, static_cast<gid_t>(-1)), 0);
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        const Walk w = walk((shared / row.path).string(), LastLink::kFollow);
        EXPECT_EQ(static_cast<bool>(w), !row.refused);
        if (row.refused) {
            EXPECT_EQ(w.error, EACCES);
            EXPECT_NE(w.refusedLink.find("/shared/"), std::string::npos) << w.refusedLink;
            std::string link;
            EXPECT_EQ(openFile((shared / row.path).string(), O_RDONLY, 0, &link), -1);
            EXPECT_EQ(link, w.refusedLink);
        } else {
            EXPECT_EQ(w.folderPath, (home / "in").string());
            EXPECT_EQ(w.name, "f.pdf");
        }
    }
    // Delete keeps the last component as it is: the planted link itself may go, never its file.
    const Walk keep = walk((shared / "last").string(), LastLink::kKeep);
    ASSERT_TRUE(keep);
    EXPECT_EQ(keep.name, "last");
}

TEST(SafePaths, WalksLongAndByteNamedPaths) {
    quill::testsupport::TempDir tmp{"quill-safe-paths"};
    const std::string latin1 = "caf\xe9";
    fs::path deep = tmp.path / latin1;
    while (deep.string().size() < PATH_MAX - 300) deep /= std::string(250, 'd');
    fs::create_directories(deep);
    std::ofstream(deep / "f.pdf") << "x";
    const int fd = openFile((deep / "f.pdf").string(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    if (fd >= 0) ::close(fd);
    // Missing last component: no failure (a save creates it); a missing folder is one.
    EXPECT_TRUE(walk((deep / "new.pdf").string(), LastLink::kFollow));
    EXPECT_EQ(walk((tmp.path / "no" / "f.pdf").string(), LastLink::kFollow).error, ENOENT);
    EXPECT_EQ(walk((deep / "f.pdf" / "g").string(), LastLink::kFollow).error, ENOTDIR);
    EXPECT_EQ(walk("", LastLink::kFollow).error, ENOENT);
    EXPECT_EQ(walk(deep.string() + "/", LastLink::kKeep).name, ".");
}

}  // namespace
