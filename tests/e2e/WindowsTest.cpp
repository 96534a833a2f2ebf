// The active-window rules end to end: a document shown in a window of the
// running application (acrobat-host --open) is what field requests, restore
// defaults and close act on.
#include "Harness.h"

#include "AppleEvents.h"
#include "BridgeProtocol.h"
#include "NSAppleEventDescriptor.h"
#include "Processes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace e2e;
using namespace quill::bridge;

namespace {

class Windows : public ::testing::Test {
protected:
    Sandbox box;
    FmSession fm{box};
    fs::path working = box.copy(example("form.pdf"), "working.pdf");
    fs::path other = box.copy(example("form.pdf"), "other.pdf");

    void SetUp() override {
        // This process talks to the application too (restore defaults has no
        // FileMaker function): it looks in the same runtime folder.
        setenv("QUILLMARK_RUNTIME_DIR", box.runtime().c_str(), 1);
        ASSERT_EQ(fm("Torv_OpenPDF ( " + lit(working) + " )"), "0") << fm.lastError();
    }
    void TearDown() override { fm("Torv_ClosePDF"); }

    int acrobat(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {buildDir() + "/bin/acrobat-host"};
        argv.insert(argv.end(), args.begin(), args.end());
        return run(argv, box.environment()).status;
    }

    // Sends the restore-defaults bridge event, which no FileMaker function sends.
    std::string restoreDefaults() {
        ProcessSerialNumber psn = quill::process::findApplication(FourCC("CARO")).value_or(ProcessSerialNumber{0, 0});
        auto target = NSAppleEventDescriptor::descriptorWithDescriptorType(typeProcessSerialNumber, &psn, sizeof psn);
        auto event = NSAppleEventDescriptor::appleEventWithEventClass(kBridgeEventClass, kRestoreDefaultsEvent, target,
                                                                      kAutoGenerateReturnID, kAnyTransactionID);
        AEDesc reply;
        AEInitializeDesc(&reply);
        AESendMessage(event->aeDesc(), &reply, kAEWaitReply, kReplyTimeoutTicks);
        auto wrapped = NSAppleEventDescriptor::initWithAEDescNoCopy(&reply);
        auto errs = wrapped->paramDescriptorForKeyword(keyReplyText);
        auto text = errs ? errs->stringValue() : NSStringOrNil();
        return text ? text->UTF8String() : "<none>";
    }
};

TEST_F(Windows, FieldRequestsActOnTheFrontWindowWhichBecomesTheWorkingDocument) {
    ASSERT_EQ(acrobat({"--open", other.string()}), 0);
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"email\" ; \"front@example.org\" )"), "0");
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"email\" )"), "front@example.org");
    // With the window active, a save writes the window's document to its own file.
    EXPECT_EQ(fm("Torv_SavePDF"), "0");
    EXPECT_EQ(acrobat({"--close-windows"}), 0);
    auto dump = run({"/usr/bin/pdftk", other.string(), "dump_data_fields_utf8"});
    EXPECT_NE(dump.out.find("FieldValue: front@example.org"), std::string::npos);
    auto untouched = run({"/usr/bin/pdftk", working.string(), "dump_data_fields_utf8"});
    EXPECT_EQ(untouched.out.find("front@example.org"), std::string::npos);
}

// Restore defaults comes from this test process, a session of its own: it
// resets a window no session holds, never the FileMaker session's document
// or a window that session has taken up.
TEST_F(Windows, RestoreDefaultsFromAnotherProcessResetsOnlyAWindowNoSessionHolds) {
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"applicant.name\" ; \"Ann\" )"), "0");
    EXPECT_EQ(restoreDefaults(), kNoDocument);
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"applicant.name\" )"), "Ann");
    ASSERT_EQ(acrobat({"--open", other.string()}), 0);
    EXPECT_EQ(restoreDefaults(), kReplyOK);
    // The session's field call takes the window up; from then on it is the session's.
    EXPECT_EQ(fm("Torv_SetPDFFieldValue ( \"agree\" ; \"Ja\" )"), "0");
    EXPECT_EQ(restoreDefaults(), kNoDocument);
    EXPECT_EQ(fm("Torv_GetPDFFieldValue ( \"agree\" )"), "Ja");
}

// A session whose process ends holds nothing any more: the window it took up
// is free for the next request from anyone.
TEST_F(Windows, AWindowTakenUpByAnExitedSessionIsFreeAgain) {
    ASSERT_EQ(acrobat({"--open", other.string()}), 0);
    auto gone = std::make_unique<FmSession>(box);
    ASSERT_EQ((*gone)("Torv_OpenPDF ( " + lit(box.copy(example("form.pdf"), "gone.pdf")) + " )"), "0");
    EXPECT_EQ((*gone)("Torv_SetPDFFieldValue ( \"email\" ; \"gone@example.org\" )"), "0");
    EXPECT_EQ(restoreDefaults(), kNoDocument);
    gone.reset();  // ends without closing
    EXPECT_EQ(restoreDefaults(), kReplyOK);
}

TEST_F(Windows, CloseClosesTheActiveWindowUnsaved) {
    ASSERT_EQ(acrobat({"--open", other.string()}), 0);
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    // Nothing is left open: a new open works and counts its own pages.
    const fs::path appendix = box.copy(example("appendix.pdf"));
    EXPECT_EQ(fm("Torv_OpenPDF ( " + lit(appendix) + " )"), "0");
    EXPECT_EQ(fm("Torv_GetNumPages"), "2");
}

}  // namespace
