// The file-system functions: deleting, and the browse panels without a display.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "Files.h"
#include "PluginSession.h"
#include "functions/BrowseForm.h"

using namespace fmtest;
namespace fs = std::filesystem;

TEST(Files, DeletePDF) {
    PluginSession s;
    ASSERT_EQ(s.init(), 56u);
    TempDir dir;
    const fs::path file = dir.path() / "a b é.pdf";
    std::ofstream(file) << "%PDF";
    EXPECT_EQ(s.callText(kDeletePDF, {Param{file.string()}}), "0");
    EXPECT_EQ(s.lastError(), "SUCCESS");
    EXPECT_FALSE(fs::exists(file));

    // Missing: the system's words follow the plug-in's.
    EXPECT_EQ(s.callText(kDeletePDF, {Param{file.string()}}), "!!ERROR!!");
    const std::string text = s.lastError();
    EXPECT_EQ(text.rfind("File could not be deleted. ", 0), 0u) << text;
    EXPECT_GT(text.size(), std::string("File could not be deleted. ").size());

    // A colon path is taken as it is, so it names nothing.
    std::ofstream(dir.path() / "c.pdf") << "%PDF";
    std::string colon;
    for (const auto& part : (dir.path() / "c.pdf").relative_path()) colon += (colon.empty() ? "" : ":") + part.string();
    EXPECT_EQ(s.callText(kDeletePDF, {Param{colon}}), "!!ERROR!!");
    EXPECT_EQ(s.lastError("number"), "-1112");
    EXPECT_TRUE(fs::exists(dir.path() / "c.pdf"));

    // No path at all touches nothing.
    EXPECT_EQ(s.callText(kDeletePDF, {Param{""}}), "!!ERROR!!");
    EXPECT_EQ(s.lastError(), "File could not be deleted.");

    // What is no file is refused, with the reason, and left as it is: a
    // folder (never its contents), a named pipe, a socket, a device.
    fs::create_directories(dir.path() / "sub" / "deeper");
    std::ofstream(dir.path() / "sub" / "deeper" / "x.pdf") << "%PDF";
    ASSERT_EQ(::mkfifo((dir.path() / "pipe.pdf").c_str(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = (dir.path() / "s.pdf").string();
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::pair<fs::path, std::string> refused[] = {
        {dir.path() / "sub", "File could not be deleted. The item is a folder, not a file; folders are not deleted."},
        {dir.path() / "pipe.pdf", "File could not be deleted. The item is a named pipe, not a file."},
        {sockPath, "File could not be deleted. The item is a socket, not a file."},
        {"/dev/null", "File could not be deleted. The item is a device, not a file."},
    };
    for (const auto& [path, why] : refused) {
        EXPECT_EQ(s.callText(kDeletePDF, {Param{path.string()}}), "!!ERROR!!") << path;
        EXPECT_EQ(s.lastError("number"), "-1112") << path;
        EXPECT_EQ(s.lastError(), why);
        EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << path;
    }
    ::close(sock);
    EXPECT_TRUE(fs::exists(dir.path() / "sub" / "deeper" / "x.pdf"));

    // A link goes, and what it points to stays: a folder's link or a file's.
    std::ofstream(dir.path() / "kept.pdf") << "%PDF";
    fs::create_symlink(dir.path() / "kept.pdf", dir.path() / "to-file.pdf");
    fs::create_directory_symlink(dir.path() / "sub", dir.path() / "to-folder");
    EXPECT_EQ(s.callText(kDeletePDF, {Param{(dir.path() / "to-file.pdf").string()}}), "0");
    EXPECT_EQ(s.callText(kDeletePDF, {Param{(dir.path() / "to-folder").string()}}), "0");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "to-file.pdf")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "to-folder")));
    EXPECT_TRUE(fs::exists(dir.path() / "kept.pdf"));
    EXPECT_TRUE(fs::exists(dir.path() / "sub" / "deeper" / "x.pdf"));

    // A path cut at a NUL would name another file: refused.
    EXPECT_EQ(s.callText(kDeletePDF, {Param{(dir.path() / "kept.pdf").string() + std::string(1, '\0') + "x"}}),
              "!!ERROR!!");
    EXPECT_TRUE(fs::exists(dir.path() / "kept.pdf"));
}

TEST(Files, BrowseWithoutDisplayIsACancel) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    PluginSession s;
    ASSERT_EQ(s.init(), 56u);
    for (fmx::int16 id : {kFileBrowse, kFolderBrowse}) {
        s.callText(kDeletePDF, {Param{""}});  // some earlier error
        EXPECT_EQ(s.callText(id), "");
        EXPECT_EQ(s.lastError(), "SUCCESS");
    }
}

TEST(Files, BrowseFormOfAChosenItem) {
    TempDir dir;
    const fs::path file = dir.path() / "a b é%20.pdf";
    std::ofstream(file) << "%PDF";
    const std::string volume = *quill::volumes::volumeNameForPath(file.string());
    // Volume name, then the plain POSIX path: no escapes, no separator added.
    EXPECT_EQ(quill::fm::browseResult(NSURL::fileURLWithPath(NSStr(file.string()))).UTF8String(),
              volume + file.string());
    EXPECT_EQ(quill::fm::browseResult(NSURL::fileURLWithPath(NSStr(dir.path().string()))).UTF8String(),
              volume + dir.path().string() + "/");
}
