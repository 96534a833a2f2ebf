// The file panels end to end: Torv_FileBrowse and Torv_FolderBrowse show a
// real chooser on a private display, a user's keys choose, and what they
// answer is what the other functions take.
#include "Harness.h"
#include "VirtualDisplay.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace e2e;
using quill::testing::key;
using quill::testing::pressKeysIn;

namespace {

class Browse : public ::testing::Test {
protected:
    static void SetUpTestSuite() { display_ = new quill::testing::VirtualDisplay; }
    static void TearDownTestSuite() { delete display_; }
    void SetUp() override {
        if (!display_->ok()) GTEST_SKIP() << "Xvfb could not be started";
        // The panels open in the home folder: a folder, then the PDF, then a
        // text file the PDF filter hides.
        fs::create_directories(box.home() / "Ablage");
        std::ofstream(box.home() / "zz notes.txt") << "not a PDF\n";
    }

    static inline quill::testing::VirtualDisplay* display_ = nullptr;
    Sandbox box;
    FmSession fm{box};
};

TEST_F(Browse, AChosenFileOpensInTheFormItWasAnswered) {
    const fs::path pdf = box.copy(example("form.pdf"), "home/Mein Formular é.pdf");
    auto keys = pressKeysIn("^Open$", {key("End"), key("Return")});
    const Result chosen = fm.eval("Torv_FileBrowse");
    EXPECT_TRUE(keys.get());
    EXPECT_EQ(chosen.value, browseForm(pdf));  // the volume's name, then the plain path
    EXPECT_EQ(chosen.value.find('%'), std::string::npos);
    EXPECT_EQ(fm.lastErrorNumber(), "0");

    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(chosen.value) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetNumPages"), std::to_string(pagesOf(pdf)));
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
}

TEST_F(Browse, AChosenFolderEndsInASlashAndTakesASavedCopy) {
    const fs::path pdf = box.copy(example("form.pdf"), "working.pdf");
    const fs::path folder = box.home() / "Ünï Ablage";
    fs::create_directories(folder);
    auto keys = pressKeysIn("^Choose a Folder$", {key("End"), key("alt+h")});
    const Result chosen = fm.eval("Torv_FolderBrowse");
    EXPECT_TRUE(keys.get());
    EXPECT_EQ(chosen.value, browseForm(folder) + "/");
    EXPECT_EQ(fm.lastErrorNumber(), "0");

    // A script joins the folder and a name for a save as.
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(pdf) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(chosen.value + "Kopie.pdf") + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_EQ(pagesOf(folder / "Kopie.pdf"), pagesOf(pdf));
}

TEST_F(Browse, CancelAnswersEmptyTextAndSuccess) {
    box.copy(example("form.pdf"), "home/form.pdf");
    fm("Torv_OpenPDF ( \"/no/such/file.pdf\" )");  // leaves an error behind
    auto keys = pressKeysIn("^Open$", {key("Escape")});
    const Result chosen = fm.eval("Torv_FileBrowse");
    EXPECT_TRUE(keys.get());
    EXPECT_EQ(chosen.value, "");
    EXPECT_EQ(fm.lastErrorNumber(), "0");
}

}  // namespace
