// Printing through the CUPS queue that scripts/cups-queue sets up; skipped without a printer.
#include "quill/pdf/Document.h"
#include "quill/pdf/Error.h"
#include "quill/pdf/Print.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cups/cups.h>
#include <thread>

using namespace quill::pdf;
using testutil::TempDir;

namespace {

fs::path outFolder() {
    const char* env = std::getenv("QUILL_PRINT_OUT");
    return env && *env ? fs::path(env) : fs::path("/var/spool/quillmark-print");
}

bool havePrinter() {
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    if (!dest) return false;
    cupsFreeDests(1, dest);
    return fs::is_directory(outFolder());
}

// Waits for the queue's PDF whose name holds `tag`, complete (readable by qpdf).
fs::path waitForOutput(const std::string& tag) {
    for (int i = 0; i < 600; ++i) {
        std::error_code ec;
        for (auto& e : fs::directory_iterator(outFolder(), ec)) {
            if (e.path().filename().string().find(tag) != std::string::npos && testutil::qpdfPages(e.path()) > 0)
                return e.path();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

}  // namespace

TEST(Print, PageRangeReachesTheQueue) {
    if (!havePrinter()) GTEST_SKIP() << "no default printer (run scripts/cups-queue start)";
    TempDir tmp;
    testutil::makePdf(tmp / "five.pdf", 5, "P");
    auto doc = Document::open((tmp / "five.pdf").string(), false);
    // An unsaved change is printed: the document is printed as it is in memory.
    doc->deletePages(0, 0);
    const std::string tag = "quillprint" + std::to_string(::getpid());
    int job = print(*doc, 1, kLastPage, tag + "a");
    EXPECT_GT(job, 0);
    int one = print(*doc, 0, 0, tag + "b");
    EXPECT_GT(one, 0);

    fs::path a = waitForOutput(tag + "a");
    ASSERT_FALSE(a.empty()) << "no output in " << outFolder();
    EXPECT_EQ(testutil::qpdfPages(a), 3);
    EXPECT_EQ(testutil::pageTexts(a), (std::vector<std::string>{"P3", "P4", "P5"}));
    fs::path b = waitForOutput(tag + "b");
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(testutil::qpdfPages(b), 1);
    fs::remove(a);
    fs::remove(b);
}

TEST(Print, BadRangesAndMissingPrinterAreErrors) {
    TempDir tmp;
    testutil::makePdf(tmp / "two.pdf", 2, "P");
    auto doc = Document::open((tmp / "two.pdf").string(), false);
    for (auto [first, last] : {std::pair{-1, 0}, {0, 2}, {1, 0}}) {
        try {
            print(*doc, first, last);
            ADD_FAILURE() << first << ".." << last;
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), err::kBadParm);
        }
    }
    // A scheduler that is not there: no printer.
    cupsSetServer((tmp / "no-such-socket").c_str());
    try {
        print(*doc, 0, 1);
        ADD_FAILURE() << "printed without a scheduler";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("printer"), std::string::npos) << e.what();
    }
    cupsSetServer(nullptr);
}
