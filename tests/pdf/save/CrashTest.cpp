// A process killed at random moments while saving a large document never leaves a broken file.
#include "quill/pdf/Document.h"
#include "quill/pdf/Info.h"
#include "quill/pdf/Save.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <chrono>
#include <string>
#include <csignal>
#include <functional>
#include <random>
#include <thread>

using namespace quill::pdf;
using testutil::TempDir;

namespace {

// Opens `path`, drops its last page and saves over it: the file goes from n pages to n - 1.
void shrinkOnce(const fs::path& path) {
    auto doc = Document::open(path.string(), false);
    doc->deletePages(kLastPage, kLastPage);
    save(*doc, kSaveFull | kSaveCollectGarbage, path.string());
}

// Runs `work` in a child process and SIGKILLs it after `delay`. Answers -1 when the kill came
// before the work was done, else the child's exit status (0: done, 1: the work threw).
int runKilledAfter(const std::function<void()>& work, std::chrono::microseconds delay) {
    pid_t pid = ::fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        try {
            work();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? -1 : WEXITSTATUS(status);
}

}  // namespace

TEST(SaveUnderKill, FileIsAlwaysTheOldOrTheNewDocument) {
    TempDir tmp;
    const fs::path target = tmp / "large.pdf";
    testutil::makePdf(target, 1500, "Page with a longer line of text to make the file larger");
    int pages = testutil::qpdfPages(target);
    ASSERT_EQ(pages, 1500);

    // How long one save takes here, so the kills land before, during and after the write.
    auto t0 = std::chrono::steady_clock::now();
    shrinkOnce(target);
    auto saveTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    --pages;

    std::mt19937 rng(20261207);
    std::uniform_int_distribution<long> delay(0, saveTime.count() * 3 / 2);
    int killedMidway = 0;
    for (int round = 0; round < 20; ++round) {
        const int outcome = runKilledAfter([&] { shrinkOnce(target); }, std::chrono::microseconds(delay(rng)));
        if (outcome < 0)
            ++killedMidway;
        else
            ASSERT_EQ(outcome, 0) << "round " << round;

        ASSERT_TRUE(testutil::qpdfCheck(target)) << "round " << round;
        int now = testutil::qpdfPages(target);
        ASSERT_TRUE(now == pages || now == pages - 1) << "round " << round << ": " << now << " pages, was " << pages;
        pages = now;
        // A killed save may leave its temporary file behind, never a partial target.
        for (auto& e : fs::directory_iterator(tmp.path))
            if (e.path() != target) fs::remove(e.path());
    }
    EXPECT_GT(killedMidway, 0);
}

// The same for a file with usage rights, whose saves append an update: the file is always the old
// one or the old one plus the new update, and the next save leaves no temporary file of a killed
// saver behind.
TEST(SaveUnderKill, AnAppendingSaveLeavesTheOldFileOrTheUpdatedOneAndNoLeftovers) {
    TempDir tmp;
    const fs::path plain = tmp / "plain.pdf";
    testutil::makePdf(plain, 1500, "Page with a longer line of text to make the file larger");
    const fs::path target = tmp / "rights.pdf";
    {
        QPDF q;
        q.processFile(plain.c_str());
        q.getRoot().replaceKey("/Perms", QPDFObjectHandle::parse("<< /UR3 << /Type /Sig >> >>"));
        const std::string out = target.string();
        QPDFWriter w(q, out.c_str());
        w.write();
    }
    fs::remove(plain);
    const std::string original = testutil::slurp(target);
    int round = 0;
    auto titleOnce = [&](int n) {
        auto doc = Document::open(target.string(), false);
        setInfo(*doc, u"Title", u"round " + std::u16string(1, static_cast<char16_t>(u'a' + n % 26)));
        save(*doc, kSaveFull, target.string());
    };
    titleOnce(round++);  // the first save also warms up what every later one reuses
    auto t0 = std::chrono::steady_clock::now();
    titleOnce(round++);
    auto saveTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);

    std::mt19937 rng(20261208);
    std::uniform_int_distribution<long> delay(0, saveTime.count());
    int killedMidway = 0;
    for (; round < 22; ++round) {
        const std::string before = testutil::slurp(target);
        const int outcome = runKilledAfter([&] { titleOnce(round); }, std::chrono::microseconds(delay(rng)));
        if (outcome < 0)
            ++killedMidway;
        else
            ASSERT_EQ(outcome, 0) << "round " << round;
        const std::string now = testutil::slurp(target);
        ASSERT_TRUE(now == before || (now.size() > before.size() && now.compare(0, before.size(), before) == 0))
            << "round " << round << ": the file is neither the old one nor the old one plus an update";
        ASSERT_TRUE(testutil::qpdfCheck(target)) << "round " << round;
    }
    EXPECT_GT(killedMidway, 0);
    titleOnce(round);
    EXPECT_EQ(testutil::slurp(target).compare(0, original.size(), original), 0);
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(tmp.path)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"rights.pdf"});
}
