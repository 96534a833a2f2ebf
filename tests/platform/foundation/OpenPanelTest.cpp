// NSOpenPanel on a private Xvfb display, driven with the keys a user presses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "NSOpenPanel.h"
#include "TempDir.h"
#include "VirtualDisplay.h"

namespace fs = std::filesystem;
using quill::testing::key;
using quill::testing::pressKeysIn;

namespace {

class OpenPanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        display_ = new quill::testing::VirtualDisplay;
        folder_ = new quill::testsupport::TempDir("quill-panel");
        dir_ = folder_->path;
    }
    static void TearDownTestSuite() {
        delete display_;
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override {
        if (!display_->ok()) GTEST_SKIP() << "Xvfb could not be started";
    }

    // A folder of its own per case, so that the list holds a known set of rows.
    static fs::path folderWith(const std::string& caseName, const std::vector<std::string>& files,
                               const std::vector<std::string>& folders = {}) {
        const fs::path d = dir_ / caseName;
        fs::create_directories(d);
        for (const auto& f : files) std::ofstream(d / f) << "%PDF-1.4\n";
        for (const auto& f : folders) fs::create_directories(d / f);
        return d;
    }

    static std::string path(const NSOpenPanel& p) {
        const auto urls = p.URLs();
        return urls.empty() ? std::string() : urls.back().path().UTF8String();
    }

    static inline quill::testing::VirtualDisplay* display_ = nullptr;
    static inline quill::testsupport::TempDir* folder_ = nullptr;
    static inline fs::path dir_;
};

std::shared_ptr<NSOpenPanel> filePanel(const char* title, const fs::path& in) {
    auto p = NSOpenPanel::openPanel();
    p->setFloatingPanel(true);
    p->setCanChooseFiles(true);
    p->setCanChooseDirectories(false);
    p->setAllowsMultipleSelection(false);
    p->setAllowedFileTypes({NSStr("pdf"), NSStr("PDF")});
    p->setTitle(NSStr(title));
    p->setDirectoryURL(NSURL::fileURLWithPath(NSStr(in.string())));
    return p;
}

// Each folder holds one PDF and a text file that sorts after it: End picks the
// last row the filter lets through, Return opens it.
TEST_F(OpenPanelTest, ChoosesThePdfAndOnlyAPdf) {
    int n = 0;
    for (const std::string name : {"a.pdf", "with space.pdf", "Résumé ünï.pdf", "SCAN.PDF"}) {
        const fs::path in = folderWith("files" + std::to_string(++n), {name, "zz notes.txt"});
        auto panel = filePanel("Quill File Panel", in);
        auto keys = pressKeysIn("^Quill File Panel$", {key("End"), key("Return")});
        EXPECT_EQ(panel->runModal(), NSModalResponseOK) << name;
        EXPECT_TRUE(keys.get());
        EXPECT_EQ(path(*panel), (in / name).string());
        ASSERT_EQ(panel->URLs().size(), 1u);
        EXPECT_FALSE(panel->URLs().back().hasDirectoryPath());
    }
}

// "Choose" and "Cancel" must not share a mnemonic, or alt+h would only move
// the focus between them.
TEST_F(OpenPanelTest, ChoosesAFolderWithItsMnemonic) {
    int n = 0;
    for (const std::string name : {"My Folder", "Ünï Folder"}) {
        const fs::path in = folderWith("folders" + std::to_string(++n), {"a.pdf"}, {name});
        auto panel = NSOpenPanel::openPanel();
        panel->setFloatingPanel(true);
        panel->setCanChooseFiles(false);
        panel->setCanChooseDirectories(true);
        panel->setTitle(NSStr("Quill Folder Panel"));
        panel->setDirectoryURL(NSURL::fileURLWithPath(NSStr(in.string())));
        auto keys = pressKeysIn("^Quill Folder Panel$", {key("End"), key("alt+h")});
        EXPECT_EQ(panel->runModal(), NSModalResponseOK) << name;
        EXPECT_TRUE(keys.get());
        EXPECT_EQ(path(*panel), (in / name).string());
        ASSERT_EQ(panel->URLs().size(), 1u);
        EXPECT_TRUE(panel->URLs().back().hasDirectoryPath());
        const std::string abs = panel->URLs().back().absoluteString().UTF8String();
        EXPECT_EQ(abs.back(), '/') << abs;
    }
}

TEST_F(OpenPanelTest, CancelAnswersZeroWithNoURLs) {
    auto panel = filePanel("Quill Cancel Panel", folderWith("cancel", {"a.pdf"}));
    auto keys = pressKeysIn("^Quill Cancel Panel$", {key("End"), key("Escape")});
    EXPECT_EQ(panel->runModal(), NSModalResponseCancel);
    EXPECT_TRUE(keys.get());
    EXPECT_TRUE(panel->URLs().empty());
}

TEST_F(OpenPanelTest, WithoutADisplayAnswersCancelAtOnce) {
    const std::string saved = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    auto panel = filePanel("never shown", dir_);
    EXPECT_EQ(panel->runModal(), NSModalResponseCancel);
    EXPECT_TRUE(panel->URLs().empty());
    setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace
