// Documents end to end: open, close, save, save as, print, append and page
// count, through filemaker-host and a real acrobat-host.
#include "Harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

using namespace e2e;

namespace {

class Documents : public ::testing::Test {
protected:
    Sandbox box;
    fs::path form = box.copy(example("form.pdf"));          // 1 page
    fs::path appendix = box.copy(example("appendix.pdf"));  // 2 pages
};

TEST_F(Documents, OpenCountCloseStartsTheApplicationWhenItIsNotRunning) {
    ASSERT_TRUE(box.acrobatPids().empty());
    FmSession fm(box);
    EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0");
    EXPECT_EQ(fm("Torv_GetNumPages"), "1");
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_EQ(fm.lastError(), "SUCCESS");
    EXPECT_FALSE(box.acrobatPids().empty());
}

TEST_F(Documents, EveryPathFormOpensTheSameFile) {
    FmSession fm(box);
    const fs::path spaced = box.copy(example("form.pdf"), "with spaces/a form.pdf");
    const fs::path accented = box.copy(example("form.pdf"), "Tromsø/skjema æøå.pdf");
    const fs::path inHome = box.copy(example("form.pdf"), "home/Documents/h.pdf");
    std::vector<std::string> forms = {
        form.string(), spaced.string(), accented.string(), "~/Documents/h.pdf", "~Documents/h.pdf",
    };
    // The colon form (volume name, then the folders, all with colons) and the
    // browse form (volume name directly followed by the POSIX path).
    forms.push_back(colonForm(form));
    forms.push_back(browseForm(form));
    for (auto const& path : forms) {
        SCOPED_TRACE(path);
        ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(path) + " )"), "0") << fm.lastError();
        EXPECT_EQ(fm("Torv_GetNumPages"), "1");
        EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    }
}

TEST_F(Documents, OpenRefusals) {
    FmSession fm(box);
    // Missing file: -300, and nothing is launched.
    EXPECT_EQ(fm("Torv_OpenPDF ( " + lit((box.root() / "nope.pdf").string()) + " )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-300");
    EXPECT_TRUE(box.acrobatPids().empty());

    // Not a PDF, a folder, a password-protected file: -1115 with the application's words.
    std::ofstream(box.root() / "notes.pdf") << "just some text\n";
    const fs::path locked = box.copy(fixture("PasswordSample-128bit.pdf"));
    for (auto const& path : {(box.root() / "notes.pdf").string(), box.root().string(), locked.string()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(path) + " )"), "!!ERROR!!");
        EXPECT_EQ(fm.lastErrorNumber(), "-1115");
        const std::string text = fm.lastError();
        EXPECT_EQ(text.rfind("Error communicating with Vovezudoru: Descriptor not found. ", 0), 0u) << text;
        EXPECT_GT(text.size(), std::string("Error communicating with Vovezudoru: Descriptor not found. ").size());
    }
    // Still nothing open: close answers -1102.
    EXPECT_EQ(fm("Torv_ClosePDF"), "!!ERROR!!");
    EXPECT_EQ(fm.lastError(), "No PDF open, need to call Torv_OpenPDF.");

    // Open twice: -1103 before the path is even looked at.
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0");
    EXPECT_EQ(fm("Torv_OpenPDF ( \"/no/such/file.pdf\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1103");
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
}

TEST_F(Documents, NoApplicationInstalled) {
    box.setApplications(box.root() / "no-apps");
    fs::create_directories(box.applications());
    FmSession fm(box);
    EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1100");
    EXPECT_EQ(fm.lastError(), "Acrobat could not be found or launched.");
}

TEST_F(Documents, ApplicationKilledAfterTheOpen) {
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0");
    ASSERT_FALSE(box.acrobatPids().empty());
    const std::vector<pid_t> killed = box.acrobatPids();
    for (pid_t p : killed) kill(p, SIGKILL);
    ASSERT_TRUE(Sandbox::waitForExit(killed)) << "Acrobat outlived its SIGKILL";
    EXPECT_EQ(fm("Torv_GetNumPages"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1104");
    EXPECT_EQ(fm("Torv_GetNumPages"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1102");
    EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetNumPages"), "1");
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
}

TEST_F(Documents, AppendKeepsOrderAndCountsAfterTheSave) {
    const fs::path a = box.copy(fixture("hello_world_rotated.pdf"), "a.pdf");  // 5 pages
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0");
    EXPECT_EQ(fm("Torv_AppendPDF ( " + lit(a.string() + "\r" + appendix.string()) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetNumPages"), "1");  // pending until the save
    EXPECT_EQ(fm("Torv_SavePDF"), "0");
    EXPECT_EQ(fm("Torv_GetNumPages"), "8");
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_EQ(pagesOf(form), 8);
    // Page 2 comes from a (rotated), the last page from the appendix.
    auto text = run({"/usr/bin/pdftotext", "-f", "8", "-l", "8", form.string(), "-"});
    EXPECT_NE(text.out.find("Appendix, page 2"), std::string::npos);
    EXPECT_EQ(run({"/usr/bin/qpdf", "--check", form.string()}).status, 0);
}

TEST_F(Documents, AppendFailures) {
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0");
    // A trailing carriage return: the empty last path fails after the real one was appended.
    EXPECT_EQ(fm("Torv_AppendPDF ( " + lit(appendix.string() + "\r") + " )"), "!!ERROR!!");
    const std::string code = fm.lastErrorNumber();
    EXPECT_TRUE(code == "-1113" || code == "-1114") << code;
    // A missing middle file: the third is not tried.
    const std::string three =
        appendix.string() + "\r" + (box.root() / "missing.pdf").string() + "\r" + appendix.string();
    EXPECT_EQ(fm("Torv_AppendPDF ( " + lit(three) + " )"), "!!ERROR!!");
    // A missing file is none of the six numbers the append reply knows: the text says why, which
    // file, and what became of the files before it.
    EXPECT_NE(fm.lastError().find("does not exist. The file \"" + (box.root() / "missing.pdf").string() +
                                  "\" was not appended; the file before it was appended and stays appended."),
              std::string::npos)
        << fm.lastError();
    const fs::path text = box.root() / "notes.pdf";
    std::ofstream(text) << "just some notes\n";
    const struct {
        std::string paths, why, which;
    } rows[] = {
        {"nope.pdf", "does not exist.", "The file \"nope.pdf\" was not appended."},
        {appendix.string() + "\r" + appendix.string() + "\r" + text.string(), "is not a PDF document",
         "The file \"" + text.string() + "\" was not appended; the 2 files before it were appended and stay appended."},
        {box.copy(fixture("r6-both-passwords.pdf")).string(), "protected by a password", "was not appended."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(fm("Torv_AppendPDF ( " + lit(row.paths) + " )"), "!!ERROR!!") << row.paths;
        EXPECT_EQ(fm.lastErrorNumber(), "-1114");
        const std::string why = fm.lastError();
        EXPECT_NE(why.find(row.why), std::string::npos) << why;
        EXPECT_NE(why.find(row.which), std::string::npos) << why;
    }
    EXPECT_EQ(fm("Torv_AppendPDF ( \"\" )"), "0");
    EXPECT_EQ(fm("Torv_SavePDF"), "0");
    EXPECT_EQ(fm("Torv_GetNumPages"), "9");  // 1 + 2 + 2 + 2 + 2
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
}

TEST_F(Documents, SaveAsThenSaveWritesTheOriginalFile) {
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(form) + " )"), "0");
    const fs::path copy = box.root() / "out" / "copy é.pdf";
    fs::create_directories(copy.parent_path());
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(copy) + " )"), "0") << fm.lastError();
    EXPECT_EQ(pagesOf(copy), 1);
    EXPECT_EQ(fm("Torv_AppendPDF ( " + lit(appendix) + " )"), "0");
    EXPECT_EQ(fm("Torv_SavePDF"), "0");
    EXPECT_EQ(pagesOf(form), 3);
    EXPECT_EQ(pagesOf(copy), 1);
    // Refusals of save as.
    EXPECT_EQ(fm("Torv_SaveAsPDF ( \"\" )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-3");
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(box.root().string() + "/") + " )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-4");
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit((box.root() / "no-folder" / "x.pdf").string()) + " )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1115");
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_EQ(fm("Torv_SavePDF"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1102");
}

}  // namespace
