// An application that stops answering (SIGSTOP) for longer than the 20-second
// wait: each call gives up after 20 s with the outcome its reply test gives a
// missing reply, and once the application runs again the next call works.
#include "Harness.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace e2e;

TEST(StoppedApplication, CallsGiveUpAfterTwentySecondsAndTheLinkRecovers) {
    Sandbox box;
    const fs::path doc = box.copy(example("form.pdf"));
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0");
    const auto apps = box.acrobatPids();
    ASSERT_FALSE(apps.empty());
    for (pid_t p : apps) kill(p, SIGSTOP);

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(fm.eval("Torv_PrintPDF", std::chrono::seconds(60)).value, "0");  // ordering form: no reply passes
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::seconds(19));
    EXPECT_LT(waited, std::chrono::seconds(40));
    EXPECT_EQ(fm.eval("Torv_ClosePDF", std::chrono::seconds(60)).value, "0");  // close never fails
    EXPECT_EQ(fm.eval("Torv_OpenPDF ( " + lit(doc) + " )", std::chrono::seconds(60)).value, "!!ERROR!!");
    EXPECT_EQ(fm.lastError(), "Error communicating with Vovezudoru: Descriptor not found.");  // no extended text

    for (pid_t p : apps) kill(p, SIGCONT);
    EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetNumPages"), "1");
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
}
