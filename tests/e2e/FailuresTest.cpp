// Failures end to end, through filemaker-host and a real acrobat-host: full and
// read-only disks, an application killed during a call or a save, and deleting
// what is no file. Every failure is answered "!!ERROR!!" and no file a user
// saved is lost.
#include "Slurp.h"
#include "Harness.h"
#include "SmallDisk.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <future>
#include <random>
#include <thread>

using namespace e2e;

namespace {

using quill::testsupport::slurp;

using quill::testsupport::namesIn;
using quill::testsupport::SmallDisk;

// Fills `disk` so that `room` bytes stay free.
void leaveRoom(const SmallDisk& disk, std::uintmax_t room) {
    struct statvfs vfs {};
    ASSERT_EQ(::statvfs(disk.path().c_str(), &vfs), 0);
    const std::uintmax_t free = static_cast<std::uintmax_t>(vfs.f_bavail) * vfs.f_frsize;
    ASSERT_GT(free, room);
    std::ofstream(disk / "filler.bin", std::ios::binary) << std::string(free - room, 'f');
}

// A 1,000-page document made of a real five-page file.
fs::path thousandPages(Sandbox& box, const std::string& as) {
    const fs::path five = box.copy(fixture("hello_world_rotated.pdf"), "five.pdf");
    std::vector<std::string> argv = {"/usr/bin/qpdf", "--empty", "--pages"};
    for (int i = 0; i < 200; ++i) argv.push_back(five.string());
    argv.push_back("--");
    argv.push_back((box.root() / as).string());
    run(argv);
    return box.root() / as;
}

// Evaluates `calc` while the application is stopped, then kills it: the call
// is in flight when the application dies.
Result killedDuring(Sandbox& box, FmSession& fm, const std::string& calc) {
    const auto apps = box.acrobatPids();
    for (pid_t p : apps) ::kill(p, SIGSTOP);
    auto pending = std::async(std::launch::async, [&] { return fm.eval(calc, std::chrono::seconds(60)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (pid_t p : apps) ::kill(p, SIGKILL);
    return pending.get();
}

const std::string kDiskFullWords = "could not be saved because the disk is full.";

}  // namespace

TEST(Failures, SaveOntoAFullDiskKeepsTheFileAndSaysSo) {
    Sandbox box;
    const fs::path big = thousandPages(box, "big.pdf");
    ASSERT_EQ(pagesOf(big), 1000);
    SmallDisk disk(box.root() / "disk", "2m");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    const fs::path doc = box.root() / "disk" / "book.pdf";
    fs::copy_file(big, doc);
    // Less room than one more copy of the document needs.
    leaveRoom(disk, fs::file_size(doc) / 2);
    const std::string before = slurp(doc);

    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Changed\" )"), "0");
    EXPECT_EQ(fm("Torv_SavePDF"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1115");
    EXPECT_NE(fm.lastError().find("\"book.pdf\" " + kDiskFullWords), std::string::npos) << fm.lastError();
    EXPECT_EQ(slurp(doc), before);

    // Save as onto the same disk: no file at all.
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(box.root() / "disk" / "copy.pdf") + " )"), "!!ERROR!!");
    EXPECT_NE(fm.lastError().find(kDiskFullWords), std::string::npos) << fm.lastError();
    EXPECT_EQ(namesIn(box.root() / "disk"), (std::vector<std::string>{"book.pdf", "filler.bin"}));

    // Once there is room again the same document saves, with its change.
    fs::remove(box.root() / "disk" / "filler.bin");
    EXPECT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_EQ(pagesOf(doc), 1000);
    EXPECT_EQ(namesIn(box.root() / "disk"), std::vector<std::string>{"book.pdf"});
}

TEST(Failures, SaveOntoAReadOnlyDiskIsAnError) {
    Sandbox box;
    SmallDisk disk(box.root() / "disk", "4m");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    const fs::path doc = box.root() / "disk" / "form.pdf";
    fs::copy_file(fixture("AcroFormsBasicFields.pdf"), doc);
    const std::string before = slurp(doc);

    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
    ASSERT_TRUE(disk.makeReadOnly());
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Changed\" )"), "0");
    EXPECT_EQ(fm("Torv_SavePDF"), "!!ERROR!!");
    EXPECT_NE(fm.lastError().find("could not be saved because the disk is read-only."), std::string::npos)
        << fm.lastError();
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(box.root() / "disk" / "copy.pdf") + " )"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1115");
    EXPECT_EQ(slurp(doc), before);
    EXPECT_EQ(namesIn(box.root() / "disk"), std::vector<std::string>{"form.pdf"});
    // The document is still open and still saves elsewhere.
    EXPECT_EQ(fm("Torv_SaveAsPDF ( " + lit(box.root() / "copy.pdf") + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
}

// Both hosts run under a 2 MB file size limit (ulimit -f 2048, inherited from this process):
// saving a larger file fails as a save, the file stays, and the application and its
// document live on.
TEST(Failures, ASaveOverTheFileSizeLimitIsAnErrorNotAKill) {
    Sandbox box;
    const fs::path doc = box.root() / "big.pdf";
    {
        // A real five-page file carrying 6 MB of noise no compression shrinks.
        QPDF q;
        q.processFile(fixture("hello_world_rotated.pdf").c_str());
        std::string noise(6u << 20, '\0');
        std::mt19937 random(7);
        for (auto& c : noise) c = static_cast<char>(random());
        q.getRoot().replaceKey("/Filler", q.newStream(noise));
        QPDFWriter w(q, doc.c_str());
        w.write();
    }
    const std::string before = slurp(doc);
    struct rlimit was {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    struct rlimit limited = {2048 * 1024, was.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    FmSession fm(box);  // its acrobat-host inherits the limit
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &was), 0);

    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
    const auto apps = box.acrobatPids();
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Too big to keep\" )"), "0");
    for (const std::string& save :
         {std::string("Torv_SavePDF"), "Torv_SaveAsPDF ( " + lit(box.root() / "copy.pdf") + " )"}) {
        SCOPED_TRACE(save);
        EXPECT_EQ(fm(save), "!!ERROR!!");
        EXPECT_NE(fm.lastError().find("File too large"), std::string::npos) << fm.lastError();
    }
    EXPECT_EQ(slurp(doc), before);
    EXPECT_FALSE(fs::exists(box.root() / "copy.pdf"));
    EXPECT_EQ(box.acrobatPids(), apps);
    EXPECT_EQ(fm("Torv_GetPDFInfo ( \"Title\" )"), "Too big to keep");
    EXPECT_EQ(fm("Torv_GetNumPages"), "5");
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
}

// Makes a file one its user may not write: read-only for a user, immutable for root (who may
// write any file otherwise). Undone at the end.
class Unwritable {
public:
    explicit Unwritable(const fs::path& p) : path_(p) {
        if (::geteuid() != 0) {
            fs::permissions(p, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
            done_ = true;
            return;
        }
        done_ = setImmutable(true);
    }
    ~Unwritable() {
        if (done_ && ::geteuid() == 0) setImmutable(false);
        if (done_ && ::geteuid() != 0) fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
    }
    bool done() const { return done_; }

private:
    bool setImmutable(bool on) {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }
    fs::path path_;
    bool done_ = false;
};

TEST(Failures, SaveOntoAFileItsUserMayNotWriteIsRefused) {
    Sandbox box;
    const fs::path doc = box.copy(fixture("AcroFormsBasicFields.pdf"));
    const std::string before = slurp(doc);
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Changed\" )"), "0");
    {
        Unwritable lock(doc);
        if (!lock.done()) GTEST_SKIP() << "this file system cannot make a file unwritable for root";
        const auto namesBefore = namesIn(doc.parent_path());
        EXPECT_EQ(fm("Torv_SavePDF"), "!!ERROR!!");
        EXPECT_EQ(fm.lastErrorNumber(), "-1115");
        EXPECT_NE(fm.lastError().find("You do not have permission to save the file \"AcroFormsBasicFields.pdf\""),
                  std::string::npos)
            << fm.lastError();
        EXPECT_EQ(slurp(doc), before);
        EXPECT_EQ(namesIn(doc.parent_path()), namesBefore);
    }
    // Writable again: the same save goes through.
    EXPECT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    EXPECT_NE(slurp(doc), before);
}

TEST(Failures, ApplicationKilledDuringASaveIsQuitAndTheFileIsIntact) {
    Sandbox box;
    const fs::path doc = box.copy(fixture("T4.pdf"));
    const std::string before = slurp(doc);
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
    ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Changed\" )"), "0");
    const Result r = killedDuring(box, fm, "Torv_SavePDF");
    EXPECT_EQ(r.value, "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1104");
    EXPECT_EQ(fm.lastError(), "Acrobat quit while a file was open.");
    EXPECT_EQ(fm("Torv_GetNumPages"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1102");
    EXPECT_EQ(slurp(doc), before);
}

TEST(Failures, ApplicationKilledDuringAnyCallIsQuitEverywhere) {
    Sandbox box;
    const fs::path doc = box.copy(example("form.pdf"));
    const fs::path appendix = box.copy(example("appendix.pdf"));
    const std::vector<std::string> calls = {
        "Torv_GetNumPages",
        "Torv_GetPDFInfo ( \"Title\" )",
        "Torv_SetPDFInfo ( \"Title\" ; \"x\" )",
        "Torv_GetPDFFieldValue ( \"applicant.name\" )",
        "Torv_SetPDFFieldValue ( \"applicant.name\" ; \"x\" )",
        "Torv_GetFieldNames",
        "Torv_GetTextFromPage ( 1 )",
        "Torv_AppendPDF ( " + lit(appendix) + " )",
        "Torv_InsertPages ( 1 ; " + lit(appendix) + " ; 1 ; 1 ; \"\" )",
        "Torv_DeletePages ( 1 ; 1 )",
        "Torv_SaveAsPDF ( " + lit(box.root() / "copy.pdf") + " )",
        "Torv_PrintPDF",
        "Torv_ClosePDF",
    };
    FmSession fm(box);
    for (const auto& calc : calls) {
        SCOPED_TRACE(calc);
        ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
        EXPECT_EQ(killedDuring(box, fm, calc).value, "!!ERROR!!");
        EXPECT_EQ(fm.lastErrorNumber(), "-1104");
        // The link knows the document is gone.
        EXPECT_EQ(fm("Torv_ClosePDF"), "!!ERROR!!");
        EXPECT_EQ(fm.lastErrorNumber(), "-1102");
    }
    EXPECT_FALSE(fs::exists(box.root() / "copy.pdf"));
}

TEST(Failures, KilledSavesLeaveNoTemporaryFiles) {
    Sandbox box;
    const fs::path folder = box.root() / "docs";
    fs::create_directories(folder);
    const fs::path doc = folder / "ECSTR11-01.pdf";
    fs::copy_file(fixture("ECSTR11-01.pdf"), doc);
    const int pages = pagesOf(doc);
    FmSession fm(box);

    // How long one save takes, so that the kills land before, in and after the write.
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(fm("Torv_SavePDF"), "0") << fm.lastError();
    const auto saveTime = std::chrono::steady_clock::now() - t0;
    ASSERT_EQ(fm("Torv_ClosePDF"), "0");

    std::mt19937 rng(13);
    std::uniform_int_distribution<long> delay(0,
                                              std::chrono::duration_cast<std::chrono::microseconds>(saveTime).count());
    int killed = 0;
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
        ASSERT_EQ(fm("Torv_SetPDFInfo ( \"Title\" ; \"Round " + std::to_string(round) + "\" )"), "0");
        const auto apps = box.acrobatPids();
        auto pending = std::async(std::launch::async, [&] { return fm.eval("Torv_SavePDF"); });
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        for (pid_t p : apps) ::kill(p, SIGKILL);
        const Result r = pending.get();
        if (r.value == "0") {
            EXPECT_EQ(fm("Torv_ClosePDF"), "!!ERROR!!");  // gone since
        } else {
            ++killed;
            EXPECT_EQ(fm.lastErrorNumber(), "-1104");
        }
        ASSERT_EQ(namesIn(folder), std::vector<std::string>{"ECSTR11-01.pdf"});
        ASSERT_EQ(pagesOf(doc), pages);
    }
    EXPECT_GT(killed, 0);
}

TEST(Failures, DeleteRefusesWhatIsNoFileAndDeletesLinksOnly) {
    Sandbox box;
    const fs::path folder = box.root() / "folder";
    fs::create_directories(folder / "inner");
    const fs::path kept = box.copy(example("form.pdf"), "folder/inner/kept.pdf");
    ASSERT_EQ(::mkfifo((box.root() / "pipe.pdf").c_str(), 0600), 0);
    fs::create_symlink(kept, box.root() / "link.pdf");
    fs::create_directory_symlink(folder, box.root() / "folder-link");
    FmSession fm(box);

    for (const fs::path& p : {folder, box.root() / "pipe.pdf"}) {
        SCOPED_TRACE(p);
        EXPECT_EQ(fm("Torv_DeletePDF ( " + lit(p) + " )"), "!!ERROR!!");
        EXPECT_EQ(fm.lastErrorNumber(), "-1112");
        EXPECT_EQ(fm.lastError().rfind("File could not be deleted. The item is a ", 0), 0u) << fm.lastError();
        EXPECT_TRUE(fs::exists(fs::symlink_status(p)));
    }
    EXPECT_EQ(fm("Torv_DeletePDF ( " + lit(box.root() / "link.pdf") + " )"), "0");
    EXPECT_EQ(fm("Torv_DeletePDF ( " + lit(box.root() / "folder-link") + " )"), "0");
    EXPECT_FALSE(fs::exists(fs::symlink_status(box.root() / "link.pdf")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(box.root() / "folder-link")));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_EQ(fm("Torv_DeletePDF ( " + lit(kept) + " )"), "0");
    EXPECT_FALSE(fs::exists(kept));
    EXPECT_TRUE(fs::is_directory(folder / "inner"));
}
