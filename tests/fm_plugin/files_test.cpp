// The file-system functions: deleting, and the browse panels without a display.
#include <gtest/gtest.h>

#include <cstdlib>
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

    // A folder goes with its contents.
    fs::create_directories(dir.path() / "sub" / "deeper");
    std::ofstream(dir.path() / "sub" / "deeper" / "x.pdf") << "%PDF";
    EXPECT_EQ(s.callText(kDeletePDF, {Param{(dir.path() / "sub").string()}}), "0");
    EXPECT_FALSE(fs::exists(dir.path() / "sub"));
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
