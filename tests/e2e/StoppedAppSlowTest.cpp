// An application that stops answering (SIGSTOP) for longer than the 20-second
// wait: each call gives up after 20 s with an error that says the application
// is busy, never with success, and once it runs again the next call works.
#include "Harness.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace e2e;

TEST(StoppedApplication, CallsGiveUpAfterTwentySecondsWithAnErrorAndTheLinkRecovers) {
    Sandbox box;
    const fs::path doc = box.copy(example("form.pdf"));
    FmSession fm(box);
    ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0");
    const auto apps = box.acrobatPids();
    ASSERT_FALSE(apps.empty());
    for (pid_t p : apps) kill(p, SIGSTOP);

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(fm.eval("Torv_DeletePages ( 1 ; 1 )", std::chrono::seconds(60)).value, "!!ERROR!!");
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::seconds(19));
    EXPECT_LT(waited, std::chrono::seconds(40));
    EXPECT_EQ(fm.lastErrorNumber(), "-1115");
    EXPECT_EQ(fm.lastError(),
              "Error communicating with Vovezudoru: Descriptor not found. Acrobat did not answer "
              "within 20 seconds; it is busy and may still carry the request out.");
    // The close gives up too and says why; the link is closed all the same.
    EXPECT_EQ(fm.eval("Torv_ClosePDF", std::chrono::seconds(60)).value, "!!ERROR!!");
    EXPECT_EQ(fm.lastError(),
              "Error communicating with Vovezudoru: Descriptor not found. Acrobat is still busy with "
              "an earlier request that did not finish within 20 seconds; try again when it has "
              "finished.");
    EXPECT_EQ(fm("Torv_GetNumPages"), "!!ERROR!!");
    EXPECT_EQ(fm.lastErrorNumber(), "-1102");

    for (pid_t p : apps) kill(p, SIGCONT);
    EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(doc) + " )"), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_GetNumPages"), "1");
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
}
