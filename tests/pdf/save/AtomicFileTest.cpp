// Atomic file writes: full and read-only disks, refused targets, kept permissions and owners,
// temporary files of killed savers, links, and a document saved onto a full disk.
#include "quill/pdf/AtomicFile.h"
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Info.h"
#include "quill/pdf/Save.h"
#include "SmallDisk.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <csignal>
#include <cstring>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace quill::pdf;
using testutil::TempDir;

namespace {

using quill::testsupport::namesIn;
using quill::testsupport::SmallDisk;

int32_t codeOf(const std::function<void()>& f, std::string* message = nullptr) {
    try {
        f();
    } catch (const Error& e) {
        if (message) *message = e.what();
        return e.code();
    }
    return 0;
}

// Runs `f` in a child as the unprivileged user nobody; its exit status.
int asNobody(const std::function<int()>& f) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

class AtomicFileBothWays : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { setNamedTemporaryFilesForTesting(GetParam()); }
    void TearDown() override {
        setNamedTemporaryFilesForTesting(false);
        setBeforeRenameHookForTesting(nullptr);
    }
};

}  // namespace

TEST_P(AtomicFileBothWays, FullDiskLeavesTheOriginalAndNoNewFile) {
    SmallDisk disk("1m");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    const std::string original(300 * 1024, 'o');
    writeFileAtomically((disk / "doc.pdf").string(), original);
    const std::string big(2 * 1024 * 1024, 'n');
    std::string message;
    EXPECT_EQ(codeOf([&] { writeFileAtomically((disk / "doc.pdf").string(), big); }, &message), err::kDiskFull);
    EXPECT_EQ(message, "The file \"doc.pdf\" could not be saved because the disk is full.");
    EXPECT_EQ(testutil::slurp(disk / "doc.pdf"), original);
    // A new file that does not fit is not there at all.
    EXPECT_EQ(codeOf([&] { writeFileAtomically((disk / "copy.pdf").string(), big); }), err::kDiskFull);
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"doc.pdf"});
    // The space is given back: a file that fits is written afterwards.
    writeFileAtomically((disk / "doc.pdf").string(), "small");
    EXPECT_EQ(testutil::slurp(disk / "doc.pdf"), "small");
}

TEST_P(AtomicFileBothWays, ProducerFailureAndLateFailureLeaveTheTarget) {
    TempDir tmp;
    writeFileAtomically((tmp / "a.pdf").string(), "old");
    EXPECT_THROW(writeFileAtomically((tmp / "a.pdf").string(),
                                     [](FileSink& s) {
                                         s.write("partial");
                                         throw std::runtime_error("writer broke");
                                     }),
                 std::runtime_error);
    setBeforeRenameHookForTesting([](const std::string&) { throw Error(err::kFileIO, "late"); });
    EXPECT_EQ(codeOf([&] { writeFileAtomically((tmp / "a.pdf").string(), "new"); }), err::kFileIO);
    setBeforeRenameHookForTesting(nullptr);
    EXPECT_EQ(testutil::slurp(tmp / "a.pdf"), "old");
    EXPECT_EQ(namesIn(tmp.path), std::vector<std::string>{"a.pdf"});
}

TEST_P(AtomicFileBothWays, KilledSaversLeaveNothingBehindAfterTheNextSave) {
    TempDir tmp;
    writeFileAtomically((tmp / "doc.pdf").string(), "first");
    for (int round = 0; round < 10; ++round) {
        pid_t pid = ::fork();
        if (pid == 0) {
            // Dies with the file fully written, the moment before it would be put in place.
            setBeforeRenameHookForTesting([](const std::string&) { ::raise(SIGKILL); });
            writeFileAtomically((tmp / "doc.pdf").string(), std::string(100000, 'x'));
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
    }
    EXPECT_EQ(testutil::slurp(tmp / "doc.pdf"), "first");
    if (!GetParam()) {
        EXPECT_EQ(namesIn(tmp.path).size(), 1u) << "an unnamed file dies with its saver";
    }
    writeFileAtomically((tmp / "doc.pdf").string(), "second");
    EXPECT_EQ(namesIn(tmp.path), std::vector<std::string>{"doc.pdf"});
    EXPECT_EQ(testutil::slurp(tmp / "doc.pdf"), "second");
}

TEST_P(AtomicFileBothWays, ANameTakenWhileANewFileIsWrittenEndsWithTheWholeNewFile) {
    TempDir tmp;
    const std::string target = (tmp / "new.pdf").string();
    setBeforeRenameHookForTesting([&](const std::string&) { std::ofstream(target) << "meanwhile"; });
    writeFileAtomically(target, std::string(100000, 'n'));
    EXPECT_EQ(testutil::slurp(tmp / "new.pdf"), std::string(100000, 'n'));
    EXPECT_EQ(namesIn(tmp.path), std::vector<std::string>{"new.pdf"});
}

INSTANTIATE_TEST_SUITE_P(Unnamed, AtomicFileBothWays, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(Named, AtomicFileBothWays, ::testing::Values(true));

TEST(AtomicFile, ReadOnlyDiskIsRefusedAndLeftAlone) {
    SmallDisk disk("1m");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    writeFileAtomically((disk / "doc.pdf").string(), "kept");
    ASSERT_TRUE(disk.makeReadOnly());
    std::string message;
    EXPECT_EQ(codeOf([&] { writeFileAtomically((disk / "doc.pdf").string(), "new"); }, &message), err::kFileAccess);
    EXPECT_EQ(message, "The file \"doc.pdf\" could not be saved because the disk is read-only.");
    EXPECT_EQ(codeOf([&] { writeFileAtomically((disk / "other.pdf").string(), "new"); }), err::kFileAccess);
    EXPECT_EQ(testutil::slurp(disk / "doc.pdf"), "kept");
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"doc.pdf"});
}

TEST(AtomicFile, TargetsTheUserMayNotWriteAreRefusedBeforeAnythingIsWritten) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files another user cannot write";
    TempDir tmp;
    fs::permissions(tmp.path, fs::perms::all);  // anyone may create files here
    writeFileAtomically((tmp / "roots.pdf").string(), "root's");
    ::chmod((tmp / "roots.pdf").c_str(), 0644);
    fs::create_directory(tmp / "closed");
    fs::permissions(tmp / "closed", fs::perms::owner_all | fs::perms::others_exec | fs::perms::others_read);
    writeFileAtomically((tmp / "closed" / "open.pdf").string(), "x");
    ::chmod((tmp / "closed" / "open.pdf").c_str(), 0666);
    // 1: refused with the permission code and nothing new in the folder; 0: written.
    const int result = asNobody([&] {
        const auto before = namesIn(tmp.path);
        const int32_t a = codeOf([&] { writeFileAtomically((tmp / "roots.pdf").string(), "nobody's"); });
        // The file itself may be written, its folder may not: no atomic replace is possible.
        const int32_t b = codeOf([&] { writeFileAtomically((tmp / "closed" / "open.pdf").string(), "y"); });
        return a == err::kFileAccess && b == err::kFileAccess && namesIn(tmp.path) == before ? 1 : 0;
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(testutil::slurp(tmp / "roots.pdf"), "root's");
    EXPECT_EQ(testutil::slurp(tmp / "closed" / "open.pdf"), "x");
}

TEST(AtomicFile, KeepsPermissionBitsAndTheOwnerWhenRootSaves) {
    TempDir tmp;
    const fs::path p = tmp / "doc.pdf";
    writeFileAtomically(p.string(), "1");
    ::chmod(p.c_str(), 0640);
    writeFileAtomically(p.string(), "2");
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (::geteuid() != 0) return;
    ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
    ::chmod(p.c_str(), 0604);
    writeFileAtomically(p.string(), "3");
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    ASSERT_EQ(::chown(p.c_str(), 0, 0), 0);
    writeFileAtomically(p.string(), "4");
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(testutil::slurp(p), "4");
}

TEST(AtomicFile, CopyFirstThenAppend) {
    TempDir tmp;
    writeFileAtomically((tmp / "base.pdf").string(), "BASE");
    writeFileAtomically((tmp / "base.pdf").string(), [](FileSink& s) { s.write("+MORE"); },
                        (tmp / "base.pdf").string());
    EXPECT_EQ(testutil::slurp(tmp / "base.pdf"), "BASE+MORE");
    EXPECT_EQ(codeOf([&] {
                  writeFileAtomically((tmp / "x.pdf").string(), [](FileSink&) {}, (tmp / "missing.pdf").string());
              }),
              err::kUnableToRead);
    EXPECT_FALSE(fs::exists(tmp / "x.pdf"));
}

TEST(AtomicFile, FollowsLinksAndRefusesWhatIsNoPlainFile) {
    TempDir tmp;
    fs::create_directory(tmp / "real");
    writeFileAtomically((tmp / "real" / "doc.pdf").string(), "old");
    fs::create_symlink(tmp / "real" / "doc.pdf", tmp / "link.pdf");
    writeFileAtomically((tmp / "link.pdf").string(), "new");
    EXPECT_TRUE(fs::is_symlink(tmp / "link.pdf"));
    EXPECT_EQ(testutil::slurp(tmp / "real" / "doc.pdf"), "new");

    ASSERT_EQ(::mkfifo((tmp / "fifo.pdf").c_str(), 0600), 0);
    EXPECT_EQ(codeOf([&] { writeFileAtomically((tmp / "fifo.pdf").string(), "x"); }), err::kFileIsFolder);
    EXPECT_EQ(codeOf([&] { writeFileAtomically((tmp / "real").string(), "x"); }), err::kFileIsFolder);
    EXPECT_EQ(codeOf([&] { writeFileAtomically("", "x"); }), err::kBadParm);
    EXPECT_TRUE(fs::is_fifo(tmp / "fifo.pdf"));
}

// The temporary file name of a saver with this pid and start time.
std::string temporaryOf(pid_t pid, const std::string& start) {
    return ".quill-saving-" + std::to_string(pid) + "-" + start + "-0123456789abcdef0123456789abcdef";
}

// Only our own temporary files whose saver is gone go: not one whose saver runs (its lock held,
// or the process alive), not a user's file that merely looks alike, not an old-style name.
TEST(AtomicFile, OnlyTemporaryFilesOfDeadSaversGo) {
    TempDir tmp;
    std::string self;
    std::getline(std::ifstream("/proc/self/stat"), self);
    std::istringstream fields(self.substr(self.rfind(')') + 2));
    std::string start;
    for (int i = 3; i <= 22; ++i) fields >> start;
    // A save in progress in this very process holds its file's lock.
    const fs::path busy = tmp / temporaryOf(::getpid(), start);
    const int fd = ::open(busy.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const std::vector<std::string> stay = {
        temporaryOf(1, "1").substr(0, 40) + "x",  // not a name of ours
        ".doc.pdf.saving-999999999-ghijkl",       // an older version's: nothing proves it dead
        ".budget.saving-2023.xlsx",
        "notes.saving-1-x",
        temporaryOf(::getppid(), "0").substr(1),
    };
    const std::vector<std::string> go = {temporaryOf(999999999, "1"), temporaryOf(::getpid(), start + "7")};
    for (const auto& name : stay) std::ofstream(tmp / name) << "mine";
    for (const auto& name : go) std::ofstream(tmp / name) << "dead";
    EXPECT_EQ(removeStaleTemporaryFiles(tmp.path.string()), 2);
    EXPECT_TRUE(fs::exists(busy));
    for (const auto& name : stay) EXPECT_TRUE(fs::exists(tmp / name)) << name;
    for (const auto& name : go) EXPECT_FALSE(fs::exists(tmp / name)) << name;
    ::close(fd);
    // The lock let go while its process still runs: the file stays all the same.
    EXPECT_EQ(removeStaleTemporaryFiles(tmp.path.string()), 0);
    EXPECT_TRUE(fs::exists(busy));
}

// A save sweeps its folder the first time it saves there, not at every save: a merge writing
// thousands of files into one folder would read the whole folder a file.
// A folder is read again only when somebody else changed it since our last save there: a
// stale file slipped in behind the folder's back (its time put back) stays until the next change.
TEST(AtomicFile, ASaveSweepsItsFolderOnlyWhenSomebodyElseChangedIt) {
    TempDir tmp;
    std::ofstream(tmp / temporaryOf(999999999, "1")) << "dead";
    writeFileAtomically((tmp / "a.pdf").string(), "A");
    EXPECT_EQ(namesIn(tmp.path), std::vector<std::string>{"a.pdf"});
    struct stat settled {};
    ASSERT_EQ(::stat(tmp.path.c_str(), &settled), 0);
    const std::string b = temporaryOf(999999999, "2");
    std::ofstream(tmp / b) << "dead";
    const struct timespec times[2] = {settled.st_atim, settled.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, tmp.path.c_str(), times, 0), 0);
    writeFileAtomically((tmp / "b.pdf").string(), "B");
    EXPECT_TRUE(fs::exists(tmp / b));
    EXPECT_EQ(testutil::slurp(tmp / "b.pdf"), "B");
    std::ofstream(tmp / temporaryOf(999999999, "3")) << "dead";
    writeFileAtomically((tmp / "c.pdf").string(), "C");
    EXPECT_EQ(namesIn(tmp.path), (std::vector<std::string>{"a.pdf", "b.pdf", "c.pdf"}));
}

TEST(AtomicFile, DocumentSaveOntoAFullDiskKeepsTheFileAndTheDocument) {
    SmallDisk disk("256k");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    TempDir tmp;
    testutil::makePdf(tmp / "big.pdf", 1000, "A page of a long document with a longer line of text on it");
    testutil::makePdf(disk / "doc.pdf", 2, "Small");
    const std::string before = testutil::slurp(disk / "doc.pdf");
    auto big = Document::open((tmp / "big.pdf").string(), false);
    ASSERT_GT(fs::file_size(tmp / "big.pdf"), 256u * 1024);
    EXPECT_EQ(codeOf([&] { save(*big, kSaveFull, (disk / "doc.pdf").string()); }), err::kDiskFull);
    EXPECT_EQ(testutil::slurp(disk / "doc.pdf"), before);
    EXPECT_EQ(big->path(), (tmp / "big.pdf").string());
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"doc.pdf"});
}

// A document with usage rights saves by appending to its file; on a full or read-only disk that
// save fails as a full save does: the file stays byte for byte, no temporary file is left, and
// the document can still be saved somewhere else.
TEST(AtomicFile, AnAppendingSaveOntoAFullOrReadOnlyDiskKeepsTheFile) {
    SmallDisk disk("256k");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    TempDir tmp;
    testutil::makePdf(tmp / "plain.pdf", 400, "A page of a document with usage rights and a longer line");
    {
        QPDF q;
        q.processFile((tmp / "plain.pdf").c_str());
        q.getRoot().replaceKey("/Perms", QPDFObjectHandle::parse("<< /UR3 << /Type /Sig >> >>"));
        const std::string out = (disk / "doc.pdf").string();
        QPDFWriter w(q, out.c_str());
        w.write();
    }
    const auto size = fs::file_size(disk / "doc.pdf");
    ASSERT_GT(size, 128u * 1024) << "the file must not fit twice on the disk";
    ASSERT_LT(size, 256u * 1024);
    const std::string before = testutil::slurp(disk / "doc.pdf");

    auto doc = Document::open((disk / "doc.pdf").string(), false);
    setInfo(*doc, u"Title", u"appended");
    EXPECT_EQ(codeOf([&] { save(*doc, kSaveFull, (disk / "doc.pdf").string()); }), err::kDiskFull);
    EXPECT_EQ(testutil::slurp(disk / "doc.pdf"), before);
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"doc.pdf"});

    ASSERT_TRUE(disk.makeReadOnly());
    EXPECT_EQ(codeOf([&] { save(*doc, kSaveFull, (disk / "doc.pdf").string()); }), err::kFileAccess);
    EXPECT_EQ(testutil::slurp(disk / "doc.pdf"), before);

    save(*doc, kSaveFull | kSaveCopy, (tmp / "copy.pdf").string());
    const std::string copy = testutil::slurp(tmp / "copy.pdf");
    EXPECT_EQ(copy.compare(0, before.size(), before), 0) << "the copy must be the file plus an update";
    EXPECT_TRUE(testutil::qpdfCheck(tmp / "copy.pdf"));
}
