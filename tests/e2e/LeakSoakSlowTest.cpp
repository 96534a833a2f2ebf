// A long run of open, set one field, close against one acrobat-host: its
// memory must stay flat once warmed up. QUILL_SOAK_CYCLES sets the number of
// cycles (default 5,000).
#include "Harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace e2e;

namespace {

// Resident set of a process in kB, from /proc.
long residentKB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

int cycles() {
    const char* n = std::getenv("QUILL_SOAK_CYCLES");
    return n && std::atoi(n) > 0 ? std::atoi(n) : 5000;
}

}  // namespace

TEST(LeakSoak, OpenSetFieldCloseKeepsTheApplicationFlat) {
    Sandbox box;
    // Another applications folder, for one whose executable runs the host under a heap profiler.
    if (const char* apps = std::getenv("QUILL_SOAK_APPLICATIONS")) box.setApplications(apps);
    const fs::path doc = box.copy(example("form.pdf"));
    FmSession fm(box);
    const std::string open = "Torv_OpenPDF ( " + lit(doc) + " )";
    auto cycle = [&](int i) {
        ASSERT_EQ(fm(open), "0") << "cycle " << i << ": " << fm.lastError();
        // Every text field, as the merge sets them: each field looked up by name holds a record.
        for (const char* field : {"applicant.name", "applicant.city", "email"})
            ASSERT_EQ(
                fm("Torv_SetPDFFieldValue ( \"" + std::string(field) + "\" ; \"Name " + std::to_string(i) + "\" )"),
                "0")
                << "cycle " << i << " " << field;
        ASSERT_EQ(fm("Torv_ClosePDF"), "0") << "cycle " << i;
    };
    // Warm up: the allocator's pools and the caches settle first.
    const int warmUp = 300;
    for (int i = 0; i < warmUp; ++i) ASSERT_NO_FATAL_FAILURE(cycle(i));
    const auto apps = box.acrobatPids();
    ASSERT_EQ(apps.size(), 1u);
    const long before = residentKB(apps[0]);
    const int n = cycles();
    for (int i = warmUp; i < n; ++i) ASSERT_NO_FATAL_FAILURE(cycle(i));
    const long after = residentKB(apps[0]);
    RecordProperty("rss_before_kb", std::to_string(before));
    RecordProperty("rss_after_kb", std::to_string(after));
    std::printf("acrobat-host resident: %ld kB after %d cycles, %ld kB after %d (%+ld kB)\n", before, warmUp, after, n,
                after - before);
    EXPECT_LT(after - before, 1024) << "grew " << (after - before) << " kB over " << (n - warmUp) << " cycles";
}
