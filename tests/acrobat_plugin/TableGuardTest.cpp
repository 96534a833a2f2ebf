// A table older than a call needs: the request ends with an error reply and
// the application goes on answering. PDModel is offered at 6.0 here, enough
// for set-up but not for the document-information calls (8.0).
#include "PluginSession.h"

#include "Application.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace quilltest;

namespace {

TEST(TableGuard, ACallBelowItsMinimumEndsInAnErrorReplyAndTheHostLivesOn) {
    application({{"PDModel", 0x00060000u}});
    reset();
    TempDir dir;
    const fs::path pdf = dir.path() / "doc.pdf";
    writePages(pdf, 2);
    ASSERT_EQ(open(pdf).utf8(), kReplyOK);

    const Reply info = send(kGetDocInfoEvent, {{keyCString, text("Title")}});
    ASSERT_TRUE(info.present);
    EXPECT_FALSE(info.utf8().empty());
    EXPECT_FALSE(application().alertLog().empty());

    // Setting shows the note and answers with its message, not kReplyOK; nothing is written.
    EXPECT_EQ(send(kSetDocInfoEvent, {{keyList, list({text("Title"), text("x")})}}).utf8(),
              "This operation is not available in this version of the application.");

    EXPECT_EQ(pageCount(), "2");
    EXPECT_EQ(send(kCloseDocEvent).utf8(), kReplyOK);
    EXPECT_EQ(open(pdf).utf8(), kReplyOK);
    EXPECT_EQ(pageCount(), "2");
    reset();
}

}  // namespace
