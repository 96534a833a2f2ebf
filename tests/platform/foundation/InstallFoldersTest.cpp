// Where the hosts find Extensions, Plug-ins and Applications: beside the
// program (installed tree, then build tree), then the XDG data folders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "InstallFolders.h"
#include "TempDir.h"

namespace fs = std::filesystem;
using quill::install::findFolder;
using quill::install::searchFolders;
using Folders = std::vector<std::string>;

namespace {

// Sets (or, with nullopt, unsets) one variable for the test's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class InstallFolders : public ::testing::Test {
protected:
    quill::testsupport::TempDir dir{"quill-install"};
    const fs::path root = dir.path;
};

}  // namespace

TEST_F(InstallFolders, LooksBesideTheProgramThenInTheXdgFoldersInThatOrder) {
    ScopedEnv home("HOME", "/home/ann");
    ScopedEnv dataHome("XDG_DATA_HOME", "/data/home");
    ScopedEnv dataDirs("XDG_DATA_DIRS", "/opt/share:/usr/share/");
    EXPECT_EQ(searchFolders("Plug-ins", "/opt/qm/bin"),
              (Folders{"/opt/qm/lib/quillmark/Plug-ins", "/opt/qm/Plug-ins", "/data/home/quillmark/Plug-ins",
                       "/opt/share/quillmark/Plug-ins", "/usr/share/quillmark/Plug-ins"}));
    // A trailing slash on the program's folder names the same folder.
    EXPECT_EQ(searchFolders("Plug-ins", "/opt/qm/bin/").front(), "/opt/qm/lib/quillmark/Plug-ins");
}

TEST_F(InstallFolders, FallsBackToTheXdgDefaultsAndIgnoresRelativeEntries) {
    ScopedEnv home("HOME", "/home/ann");
    {
        ScopedEnv dataHome("XDG_DATA_HOME", std::nullopt);
        ScopedEnv dataDirs("XDG_DATA_DIRS", std::nullopt);
        EXPECT_EQ(searchFolders("Extensions", ""),
                  (Folders{"/home/ann/.local/share/quillmark/Extensions", "/usr/local/share/quillmark/Extensions",
                           "/usr/share/quillmark/Extensions"}));
    }
    {
        // Relative values would make the answer depend on the current folder.
        ScopedEnv dataHome("XDG_DATA_HOME", "data");
        ScopedEnv dataDirs("XDG_DATA_DIRS", "share::/srv/share");
        EXPECT_EQ(searchFolders("Extensions", ""),
                  (Folders{"/home/ann/.local/share/quillmark/Extensions", "/srv/share/quillmark/Extensions"}));
    }
    {
        ScopedEnv dataHome("XDG_DATA_HOME", "");
        ScopedEnv dataDirs("XDG_DATA_DIRS", "");
        ScopedEnv noHome("HOME", std::nullopt);
        EXPECT_EQ(searchFolders("Extensions", ""),
                  (Folders{"/usr/local/share/quillmark/Extensions", "/usr/share/quillmark/Extensions"}));
    }
}

TEST_F(InstallFolders, TheBuildTreeFindsItsOwnFolders) {
    // This test runs from build/bin, as the hosts do.
    const fs::path build = fs::canonical(QUILL_BUILD_DIR);
    EXPECT_EQ(fs::path(quill::install::programFolder()), build / "bin");
    EXPECT_EQ(fs::path(findFolder("Extensions")), build / "Extensions");
    EXPECT_EQ(fs::path(findFolder("Plug-ins")), build / "Plug-ins");
    EXPECT_EQ(fs::path(findFolder("Applications")), build / "Applications");
}

TEST_F(InstallFolders, FindsTheFirstFolderThatExistsAndSkipsFiles) {
    ScopedEnv dataHome("XDG_DATA_HOME", (root / "home").string());
    ScopedEnv dataDirs("XDG_DATA_DIRS", (root / "a").string() + ":" + (root / "b").string());
    const std::string name = "Quill-Test-Folder";
    EXPECT_EQ(findFolder(name), "");

    fs::create_directories(root / "b" / "quillmark" / name);
    EXPECT_EQ(findFolder(name), (root / "b" / "quillmark" / name).string());

    // A file of that name earlier in the order is not a folder.
    fs::create_directories(root / "a" / "quillmark");
    std::ofstream(root / "a" / "quillmark" / name) << "not a folder";
    EXPECT_EQ(findFolder(name), (root / "b" / "quillmark" / name).string());

    fs::create_directories(root / "home" / "quillmark" / name);
    EXPECT_EQ(findFolder(name), (root / "home" / "quillmark" / name).string());
}
