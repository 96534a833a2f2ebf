// The helpers every test and bench leans on: running a program without a shell, the temporary
// folder, and the bench medians.
#include "BenchSupport.h"
#include "RunProgram.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

using quill::testsupport::runProgram;
using quill::testsupport::TempDir;
namespace fs = std::filesystem;

TEST(RunProgram, ExitStatusOutputAndFailures) {
    EXPECT_EQ(runProgram({"true"}), 0);
    EXPECT_EQ(runProgram({"false"}), 1);
    EXPECT_EQ(runProgram({"quill-no-such-program-here"}), 127);
    std::string out = "stale";
    EXPECT_EQ(runProgram({"quill-no-such-program-here"}, &out), 127);
    EXPECT_EQ(out, "");
    // Killed by a signal: not an exit status.
    EXPECT_EQ(runProgram({"sh", "-c", "kill -9 $$"}), -1);
    EXPECT_EQ(runProgram({}), -1);
}

TEST(RunProgram, ArgumentsReachTheProgramAsWrittenAndOnlyStandardOutputIsKept) {
    std::string out;
    // No shell between: quotes, variables, separators and globs arrive untouched.
    ASSERT_EQ(runProgram({"printf", "%s|", "$HOME", "a b", "x;rm -rf /", "*", "'q'"}, &out), 0);
    EXPECT_EQ(out, "$HOME|a b|x;rm -rf /|*|'q'|");
    ASSERT_EQ(runProgram({"sh", "-c", "echo out; echo err >&2"}, &out), 0);
    EXPECT_EQ(out, "out\n");
}

TEST(RunProgram, OutputLargerThanAPipeBufferIsReadWhole) {
    std::string out;
    ASSERT_EQ(runProgram({"head", "-c", "300000", "/dev/zero"}, &out), 0);
    EXPECT_EQ(out.size(), 300000u);
    // Without `out` the output is dropped, and a large one does not block the program either.
    EXPECT_EQ(runProgram({"head", "-c", "300000", "/dev/zero"}), 0);
}

TEST(TempDir, RemovesEverythingInsideReadOnlyPartsToo) {
    fs::path kept;
    {
        TempDir dir("support_test");
        kept = dir.path;
        EXPECT_TRUE(fs::is_directory(kept));
        EXPECT_EQ(kept.filename().string().rfind("support_test.", 0), 0u);
        fs::create_directories(dir / "sub" / "deeper");
        std::ofstream(dir / "sub" / "deeper" / "file.txt") << "x";
        fs::permissions(dir / "sub" / "deeper", fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(dir / "sub", fs::perms::owner_read | fs::perms::owner_exec);
        TempDir other("support_test");
        EXPECT_NE(other.path, kept);
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST(BenchStats, MedianAndP90) {
    using quill::bench::stats;
    const auto one = stats({7.0});
    EXPECT_EQ(one.median, 7.0);
    EXPECT_EQ(one.p90, 7.0);
    // Order does not matter; p90 of ten is the tenth value, the median of ten the sixth.
    const auto ten = stats({10, 1, 9, 2, 8, 3, 7, 4, 6, 5});
    EXPECT_EQ(ten.median, 6);
    EXPECT_EQ(ten.p90, 10);
    const auto none = stats({});
    EXPECT_EQ(none.median, 0);
    EXPECT_EQ(none.p90, 0);
}

TEST(BenchStats, MeasureWarmsUpOnceAndPreparesUntimed) {
    int prepared = 0, ran = 0;
    const auto s = quill::bench::measure(
        3, [&] { ++prepared; }, [&] { ++ran; });
    EXPECT_EQ(prepared, 4);
    EXPECT_EQ(ran, 4);
    EXPECT_GE(s.median, 0);
    EXPECT_LE(s.median, s.p90);
}
