// Several FileMaker sessions against one application: each works on the
// document it opened and on nothing else, and applications started at the
// same moment leave exactly one running.
#include "Harness.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <sstream>
#include <thread>

using namespace e2e;

namespace {

// The Title and one field of a PDF file, read by qpdf.
struct Written {
    std::string title, email;
};
Written readBack(const fs::path& pdf) {
    QPDF q;
    q.processFile(pdf.string().c_str());
    Written w;
    QPDFObjectHandle info = q.getTrailer().getKey("/Info");
    if (info.isDictionary() && info.getKey("/Title").isString()) w.title = info.getKey("/Title").getUTF8Value();
    for (auto& field : QPDFAcroFormDocumentHelper(q).getFormFields())
        if (field.getFullyQualifiedName() == "email") w.email = field.getValueAsString();
    return w;
}

std::string open(const fs::path& pdf) {
    return "Torv_OpenPDF ( " + lit(pdf) + " )";
}

TEST(Sessions, ASessionNeverSeesOrChangesAnotherSessionsDocument) {
    Sandbox box;
    const fs::path a = box.copy(example("form.pdf"), "a.pdf");
    const fs::path b = box.copy(example("form.pdf"), "b.pdf");
    const Written bBefore = readBack(b);
    FmSession sa(box), sb(box);
    ASSERT_EQ(sa(open(a)), "0") << sa.lastError();
    ASSERT_EQ(sb(open(b)), "0") << sb.lastError();
    EXPECT_EQ(sa("Torv_SetPDFInfo ( \"Title\" ; \"by A\" )"), "0");
    EXPECT_EQ(sa("Torv_SavePDF"), "0");
    EXPECT_EQ(readBack(a).title, "by A");
    EXPECT_EQ(readBack(b).title, bBefore.title);
    // B still has its own document, untouched by A.
    EXPECT_EQ(sb("Torv_GetPDFInfo ( \"Title\" )"), bBefore.title);
    EXPECT_EQ(sb.lastError(), "SUCCESS");
    // B's close closes B's document only.
    EXPECT_EQ(sb("Torv_ClosePDF"), "0");
    EXPECT_EQ(sa("Torv_GetPDFInfo ( \"Title\" )"), "by A");
    EXPECT_EQ(sa("Torv_ClosePDF"), "0");
    EXPECT_EQ(box.acrobatPids().size(), 1u);
}

// Four sessions started at once, each launching the application with its
// first open, then interleaving opens, edits, saves and closes over many
// rounds: every value a session reads is its own, every file carries only
// its own session's values.
TEST(Sessions, FourSessionsInterleaveOpensEditsSavesAndCloses) {
    constexpr int kSessions = 4, kRounds = 20;
    Sandbox box;
    std::vector<fs::path> files;
    for (int s = 0; s < kSessions; ++s)
        files.push_back(box.copy(example("form.pdf"), "session" + std::to_string(s) + ".pdf"));
    std::vector<std::future<std::string>> done;
    for (int s = 0; s < kSessions; ++s)
        done.push_back(std::async(std::launch::async, [&box, &files, s] {
            std::ostringstream faults;
            FmSession fm(box);
            const fs::path& mine = files[static_cast<std::size_t>(s)];
            const fs::path copy = mine.parent_path() / ("copy" + std::to_string(s) + ".pdf");
            auto expect = [&](const std::string& calc, const std::string& want) {
                const std::string got = fm(calc);
                if (got != want)
                    faults << "session " << s << ": " << calc << " gave \"" << got << "\" (" << fm.lastError()
                           << "), not \"" << want << "\"\n";
            };
            std::string saved = readBack(mine).title;  // the Title the file holds
            for (int r = 0; r < kRounds && faults.str().empty(); ++r) {
                const std::string value = "s" + std::to_string(s) + "r" + std::to_string(r);
                expect(open(mine), "0");
                expect("Torv_GetPDFInfo ( \"Title\" )", saved);
                expect("Torv_SetPDFInfo ( \"Title\" ; \"T" + value + "\" )", "0");
                expect("Torv_SetPDFFieldValue ( \"email\" ; \"" + value + "\" )", "0");
                expect("Torv_GetPDFFieldValue ( \"email\" )", value);
                expect("Torv_GetPDFInfo ( \"Title\" )", "T" + value);
                expect(r % 3 == 2 ? "Torv_SaveAsPDF ( " + lit(copy) + " )" : "Torv_SavePDF", "0");
                if (r % 3 == 2) expect("Torv_SavePDF", "0");
                expect("Torv_GetPDFFieldValue ( \"email\" )", value);
                expect("Torv_ClosePDF", "0");
                expect("Torv_GetLastErrorText", "SUCCESS");
                saved = "T" + value;
                const Written w = readBack(mine);
                if (w.title != "T" + value || w.email != value)
                    faults << "session " << s << " round " << r << ": the file holds \"" << w.title << "\", \""
                           << w.email << "\"\n";
            }
            return faults.str();
        }));
    for (auto& d : done) EXPECT_EQ(d.get(), "");
    EXPECT_EQ(box.acrobatPids().size(), 1u);
    for (int s = 0; s < kSessions; ++s) {
        const Written w = readBack(files[static_cast<std::size_t>(s)]);
        const std::string last = "s" + std::to_string(s) + "r" + std::to_string(kRounds - 1);
        EXPECT_EQ(w.email, last);
        EXPECT_EQ(w.title, "T" + last);
    }
}

// Applications started at the same moment: one runs, the others exit at
// once naming it; sessions then all talk to that one.
TEST(Sessions, ApplicationsStartedAtOnceLeaveExactlyOneRunning) {
    constexpr int kStarts = 4;
    // Before the sandbox: when the test stops early, the sandbox stops the
    // applications first, and then the waits for them end.
    std::vector<std::future<e2e::Run>> starts;
    Sandbox box;
    const fs::path log = box.root() / "acrobat.log";
    for (int i = 0; i < kStarts; ++i)
        starts.push_back(std::async(std::launch::async, [&box, &log] {
            return run({buildDir() + "/bin/acrobat-host", "--log", log.string()}, box.environment());
        }));
    // Every loser ends by itself; the winner runs until it is told to quit.
    int exited = 0;
    std::vector<bool> finished(kStarts, false);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (exited < kStarts - 1 && std::chrono::steady_clock::now() < giveUp)
        for (int i = 0; i < kStarts; ++i)
            if (!finished[static_cast<std::size_t>(i)] &&
                starts[static_cast<std::size_t>(i)].wait_for(std::chrono::milliseconds(20)) ==
                    std::future_status::ready) {
                finished[static_cast<std::size_t>(i)] = true;
                EXPECT_EQ(starts[static_cast<std::size_t>(i)].get().status, 3);
                ++exited;
            }
    ASSERT_EQ(exited, kStarts - 1) << "applications started at once kept running";
    // The winner registers after it has loaded its plug-ins: a session's
    // launch finds it rather than starting another.
    const fs::path form = box.copy(example("form.pdf"));
    FmSession fm(box);
    EXPECT_EQ(fm(open(form)), "0") << fm.lastError();
    EXPECT_EQ(fm("Torv_ClosePDF"), "0");
    const auto running = box.acrobatPids();
    ASSERT_EQ(running.size(), 1u);
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string naming = "Adobe Acrobat Pro is already running (pid " + std::to_string(running[0]) + ")";
    std::size_t count = 0;
    for (auto at = text.find(naming); at != std::string::npos; at = text.find(naming, at + 1)) ++count;
    EXPECT_EQ(count, static_cast<std::size_t>(kStarts - 1)) << text;
    EXPECT_EQ(run({buildDir() + "/bin/acrobat-host", "--quit"}, box.environment()).status, 0);
    for (int i = 0; i < kStarts; ++i) {
        if (!finished[static_cast<std::size_t>(i)]) {
            EXPECT_EQ(starts[static_cast<std::size_t>(i)].get().status, 0);
        }
    }
}

}  // namespace
