// The event-sending functions against a fake Acrobat of our own: what each
// function sends (event, parameter kinds and order) and how every reply text
// maps to its result and the last-error store.
#include <gtest/gtest.h>

#include <climits>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "Files.h"
#include "NSWorkspace.h"
#include "PluginSession.h"
#include "link/AcrobatLink.h"

using namespace fmtest;
using namespace quill::bridge;
namespace fs = std::filesystem;

namespace {

class LinkTest : public ::testing::Test {
protected:
    static inline TempDir* root = nullptr;
    static inline PluginSession* session = nullptr;

    static fs::path fakeDir() { return root->path() / "fake"; }
    static fs::path apps() { return root->path() / "Applications"; }
    static fs::path doc() { return root->path() / "docs" / "a doc é.pdf"; }

    static constexpr const char* kPro = "com.adobe.Acrobat.Pro";
    static constexpr const char* kFull = "com.adobe.Acrobat.Full";
    static constexpr const char* kReader = "com.adobe.Reader";

    // Installs the fake as <name>.app under the identifier; the process name
    // it registers with comes from the environment at launch.
    static void install(const std::string& app, const std::string& bundleID) {
        const fs::path bundle = apps() / (app + ".app");
        fs::remove_all(bundle);
        fs::create_directories(bundle / "Contents/MacOS");
        std::ofstream(bundle / "Contents/Info")
            << "CFBundleIdentifier=" << bundleID << "\nCFBundleExecutable=fake_acrobat\nCFBundleSignature=CARO\n";
        fs::copy_file(FAKE_ACROBAT, bundle / "Contents/MacOS/fake_acrobat");
    }
    static void installAcrobat(const std::string& bundleID) {
        fs::remove_all(apps() / "Acrobat.app");
        install("Acrobat", bundleID);
        setenv("QUILL_FAKE_ACROBAT_ID", bundleID.c_str(), 1);
        setenv("QUILL_FAKE_ACROBAT_NAME", "Acrobat", 1);
    }

    static pid_t fakePid(const std::string& bundleID = kPro) {
        std::ifstream in(fakeDir() / ("pid-" + bundleID));
        pid_t pid = 0;
        in >> pid;
        return pid;
    }

    static void stopFake(const std::string& bundleID) {
        const pid_t pid = fakePid(bundleID);
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        for (int i = 0; i < 500; ++i) {
            waitpid(pid, nullptr, WNOHANG);
            if (kill(pid, 0) != 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        fs::remove(fakeDir() / ("pid-" + bundleID));
    }
    static void stopFakes() {
        for (const char* id : {kPro, kFull, kReader}) stopFake(id);
    }

    static void SetUpTestSuite() {
        root = new TempDir;
        fs::create_directories(root->path() / "run");
        fs::permissions(root->path() / "run", fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(fakeDir());
        fs::create_directories(doc().parent_path());
        std::ofstream(doc()) << "%PDF-1.4\n";
        setenv("QUILLMARK_RUNTIME_DIR", (root->path() / "run").c_str(), 1);
        setenv("QUILLMARK_APPLICATIONS", apps().c_str(), 1);
        setenv("QUILL_FAKE_ACROBAT_DIR", fakeDir().c_str(), 1);
        installAcrobat(kPro);
        session = new PluginSession;
        ASSERT_EQ(session->init(), 56u);
    }

    static void TearDownTestSuite() {
        stopFakes();
        delete session;
        session = nullptr;
        delete root;
        root = nullptr;
    }

    void SetUp() override {
        if (quill::fm::acrobatLink().documentOpen()) {
            reply(kCloseDocEvent, {kReplyOK});
            session->callText(kClosePDF);
        }
        for (const auto& entry : fs::directory_iterator(fakeDir()))
            if (entry.path().filename().string().rfind("reply-", 0) == 0) fs::remove(entry.path());
        events();
    }

    // Scripts the replies of the next events of one ID (the last one stays).
    static void reply(AEEventID id, const std::vector<std::string>& lines) {
        std::ofstream out(fakeDir() / ("reply-" + logged(id)));
        for (const auto& l : lines) out << l << "\n";
    }

    // An event id as the fake writes it in its log and reply file names.
    static std::string logged(AEEventID id) {
        return {static_cast<char>(id >> 24), static_cast<char>(id >> 16), static_cast<char>(id >> 8),
                static_cast<char>(id)};
    }

    // The events received since the last look, one line each.
    static std::vector<std::string> events() {
        std::vector<std::string> lines;
        {
            std::ifstream in(fakeDir() / "log");
            for (std::string l; std::getline(in, l);) lines.push_back(l);
        }
        std::ofstream(fakeDir() / "log", std::ios::trunc);
        return lines;
    }

    static std::string call(fmx::int16 id, const std::vector<Param>& params = {}) {
        return session->callText(id, params);
    }
    static std::string lastError() { return session->lastError(); }

    void open() {
        reply(kOpenDocEvent, {kReplyOK});
        ASSERT_EQ(call(kOpenPDF, {Param{doc().string()}}), "0") << lastError();
        events();
    }
};

TEST_F(LinkTest, OpenPathFormsAndEqualityReplyTest) {
    // No document yet: every other function stops before sending.
    for (fmx::int16 id : {kClosePDF, kSavePDF, kPrintPDF, kNumPages}) {
        EXPECT_EQ(call(id), "!!ERROR!!");
        EXPECT_EQ(session->lastError("number"), "-1102");
    }
    const pid_t before = fakePid(kPro);
    EXPECT_EQ(call(kOpenPDF, {Param{(root->path() / "missing.pdf").string()}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "The specified file cannot be found");
    EXPECT_EQ(fakePid(kPro), before);  // Acrobat is not launched for a missing file
    EXPECT_EQ(call(kOpenPDF, {Param{std::string(PATH_MAX + 10, 'a')}}), "!!ERROR!!");  // too long: refused, not cut
    EXPECT_EQ(session->lastError("number"), "-300");
    EXPECT_EQ(call(kOpenPDF, {}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-3");
    EXPECT_TRUE(events().empty());

    reply(kOpenDocEvent, {kReplyOK});
    EXPECT_EQ(call(kOpenPDF, {Param{doc().string()}}), "0");
    EXPECT_EQ(lastError(), "SUCCESS");
    EXPECT_EQ(events(), std::vector<std::string>{logged(kOpenDocEvent) + " list=[\"" + doc().string() + "\"]"});
    EXPECT_TRUE(quill::fm::acrobatLink().documentOpen());

    // Open while open: refused before the path is looked at.
    EXPECT_EQ(call(kOpenPDF, {Param{"nowhere"}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Can't call Torv_OpenPDF when a PDF is open.");
    reply(kCloseDocEvent, {"Acrobat could not close it."});
    EXPECT_EQ(call(kClosePDF), "0");  // whatever Acrobat answers
    EXPECT_FALSE(quill::fm::acrobatLink().documentOpen());
    EXPECT_EQ(quill::fm::acrobatLink().target(), nullptr);
    EXPECT_EQ(events(), std::vector<std::string>{logged(kCloseDocEvent)});

    // Acrobat gets the full path the check looked at, whatever its own
    // working folder: a colon path through the volume, "~" in the home
    // folder; with both "/" and ":" the colons stay.
    std::string colon = quill::volumes::startupVolumeName();
    for (const auto& part : doc().relative_path()) colon += ":" + part.string();
    reply(kOpenDocEvent, {"Not here."});
    EXPECT_EQ(call(kOpenPDF, {Param{colon}}), "!!ERROR!!");
    EXPECT_EQ(events(), std::vector<std::string>{logged(kOpenDocEvent) + " list=[\"/Volumes/" +
                                                 quill::volumes::startupVolumeName() + "/" +
                                                 doc().relative_path().string() + "\"]"});
    EXPECT_EQ(call(kOpenPDF, {Param{doc().parent_path().string() + ":" + doc().filename().string()}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-300");
    setenv("HOME", doc().parent_path().c_str(), 1);
    EXPECT_EQ(call(kOpenPDF, {Param{"~/" + doc().filename().string()}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Error communicating with Vovezudoru: Descriptor not found. Not here.");
    EXPECT_EQ(events(), std::vector<std::string>{logged(kOpenDocEvent) + " list=[\"" + doc().string() + "\"]"});
    EXPECT_FALSE(quill::fm::acrobatLink().documentOpen());
    EXPECT_NE(quill::fm::acrobatLink().target(), nullptr);  // stays built after a failed open

    // Equality form: no reply text fails, and so does a text that only
    // compares alike.
    for (const char* r : {"<none>", "ok", "<empty>"}) {
        reply(kOpenDocEvent, {r});
        EXPECT_EQ(call(kOpenPDF, {Param{doc().string()}}), "!!ERROR!!") << r;
        EXPECT_EQ(session->lastError("number"), "-1115") << r;
    }
    reply(kOpenDocEvent, {"<none>"});
    call(kOpenPDF, {Param{doc().string()}});
    EXPECT_EQ(lastError(), "Error communicating with Vovezudoru: Descriptor not found.");
    events();

    // The empty text checks as "/" and is sent empty.
    reply(kOpenDocEvent, {kReplyOK});
    EXPECT_EQ(call(kOpenPDF, {Param{""}}), "0");
    EXPECT_EQ(events(), std::vector<std::string>{logged(kOpenDocEvent) + " list=[\"\"]"});
}

TEST_F(LinkTest, SaveSaveAsPrint) {
    open();
    // Save reads its reply as save as does: only kReplyOK is success.
    reply(kSaveDocEvent, {kReplyOK, "The file \"a.pdf\" could not be saved because the disk is full.", "<none>"});
    EXPECT_EQ(call(kSavePDF), "0");
    EXPECT_EQ(call(kSavePDF), "!!ERROR!!");
    EXPECT_EQ(lastError(),
              "Error communicating with Vovezudoru: Descriptor not found. The file \"a.pdf\" could not be "
              "saved because the disk is full.");
    EXPECT_EQ(call(kSavePDF), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1115");
    EXPECT_EQ(events(), std::vector<std::string>(3, logged(kSaveDocEvent)));
    EXPECT_TRUE(quill::fm::acrobatLink().documentOpen());

    // Save as: argument checks first, nothing sent.
    EXPECT_EQ(call(kSaveAsPDF, {Param{""}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-3");
    EXPECT_EQ(call(kSaveAsPDF, {Param{root->path().string() + "/"}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-4");
    EXPECT_EQ(call(kSaveAsPDF, {Param{"Vol:folder:"}}), "!!ERROR!!");  // becomes "Vol/folder/"
    EXPECT_EQ(session->lastError("number"), "-4");
    EXPECT_EQ(call(kSaveAsPDF, {Param{"/" + std::string(PATH_MAX, 'b')}}), "!!ERROR!!");  // longer than PATH_MAX
    EXPECT_EQ(session->lastError("number"), "-4");
    EXPECT_TRUE(events().empty());

    const std::string out = (root->path() / "out.pdf").string();  // does not exist yet: passes
    reply(kSaveAsDocEvent, {kReplyOK, "Disk full.", "<none>"});
    EXPECT_EQ(call(kSaveAsPDF, {Param{out}}), "0");
    EXPECT_EQ(lastError(), "SUCCESS");
    EXPECT_EQ(call(kSaveAsPDF, {Param{out}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Error communicating with Vovezudoru: Descriptor not found. Disk full.");
    EXPECT_EQ(call(kSaveAsPDF, {Param{out}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Error communicating with Vovezudoru: Descriptor not found.");
    EXPECT_EQ(events(), std::vector<std::string>(3, logged(kSaveAsDocEvent) + " cstr=\"" + out + "\""));
    EXPECT_TRUE(quill::fm::acrobatLink().documentOpen());

    // Print: a reply without a text is no proof of a print.
    reply(kPrintDocEvent, {"<none>", kReplyOK, "No printer is available."});
    EXPECT_EQ(call(kPrintPDF), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Undefined Error.");
    EXPECT_EQ(call(kPrintPDF), "0");
    EXPECT_EQ(call(kPrintPDF), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Undefined Error. No printer is available.");
    EXPECT_EQ(events(), std::vector<std::string>(3, logged(kPrintDocEvent)));
}

TEST_F(LinkTest, AppendAndPageCount) {
    open();
    EXPECT_EQ(call(kAppendPDF, {Param{""}}), "0");
    EXPECT_TRUE(events().empty());

    reply(kAppendDocEvent, {kReplyOK});
    EXPECT_EQ(call(kAppendPDF, {Param{"/a.pdf\r/b é.pdf"}}), "0");
    EXPECT_EQ(events(), (std::vector<std::string>{logged(kAppendDocEvent) + " cstr=\"/a.pdf\"",
                                                  logged(kAppendDocEvent) + " cstr=\"/b é.pdf\""}));

    // The first failing path stops the rest.
    reply(kAppendDocEvent, {kReplyOK, kAppendTooManyPages, kReplyOK});
    EXPECT_EQ(call(kAppendPDF, {Param{"/a\r/missing\r/c"}}), "!!ERROR!!");
    EXPECT_EQ(lastError(),
              "Can't append to non-editable PDF. Too many pages for insertion. The file \"/missing\" was not "
              "appended; the file before it was appended and stays appended.");
    EXPECT_EQ(events().size(), 2u);
    // A trailing carriage return sends an empty last path.
    reply(kAppendDocEvent, {kReplyOK, kAppendOtherError});
    EXPECT_EQ(call(kAppendPDF, {Param{"/a\r"}}), "!!ERROR!!");
    EXPECT_EQ(lastError(),
              "Acrobat reported an error while appending. Unspecified error. Try operation again. An empty path (no "
              "file) was not appended; the file before it was appended and stays appended.");
    EXPECT_EQ(events(), (std::vector<std::string>{logged(kAppendDocEvent) + " cstr=\"/a\"",
                                                  logged(kAppendDocEvent) + " cstr=\"\""}));

    const std::pair<const char*, const char*> table[] = {
        {"<none>", "Operation not permitted."},
        {kAppendNotPermitted, "Operation not permitted."},
        {kAppendNewerFormat,
         "This document contains information not understood by the viewer. It may be in a newer file format."},
        {kAppendBadParameter, "Bad parameter."},
        {kAppendNoMemory, "Insufficient memory to complete the operation."},
        {kAppendRecoveryFailed, "There was an error while inserting pages and another error while trying to recover."},
    };
    for (const auto& [r, text] : table) {
        reply(kAppendDocEvent, {r});
        EXPECT_EQ(call(kAppendPDF, {Param{"/x"}}), "!!ERROR!!");
        EXPECT_EQ(lastError(),
                  std::string("Can't append to non-editable PDF. ") + text + " The file \"/x\" was not appended.")
            << r;
    }
    for (const char* r : {"<empty>", "ok", "Damaged file."}) {
        reply(kAppendDocEvent, {r});
        call(kAppendPDF, {Param{"/x"}});
        EXPECT_EQ(session->lastError("number"), "-1114") << r;
    }
    // After "-7 " come Acrobat's words for the other error.
    reply(kAppendDocEvent, {"-7 The file does not exist."});
    call(kAppendPDF, {Param{"/x"}});
    EXPECT_EQ(lastError(),
              "Acrobat reported an error while appending. The file does not exist. The file \"/x\" was "
              "not appended.");
    events();

    // Page count: the reply text itself; the store keeps the call before.
    // A reply without a text is no count.
    reply(kGetNumPagesEvent, {"12", "<none>"});
    EXPECT_EQ(call(kNumPages), "12");
    EXPECT_EQ(session->lastError("number"), "-1114");
    EXPECT_EQ(call(kNumPages), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1115");
    EXPECT_EQ(events(), (std::vector<std::string>{logged(kGetNumPagesEvent), logged(kGetNumPagesEvent)}));
}

TEST_F(LinkTest, FieldFunctions) {
    open();
    EXPECT_EQ(call(kGetField, {Param{""}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1105");
    EXPECT_EQ(call(kSetField, {Param{""}, Param{"v"}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-4");
    EXPECT_TRUE(events().empty());

    reply(kGetFieldEvent, {kReplyNoFieldName, "<none>", kReplyNoSuchField, "Lyon é", "<empty>", " -1"});
    const std::pair<const char*, const char*> gets[] = {
        {"!!ERROR!!", "-1115"}, {"!!ERROR!!", "-1115"}, {"!!ERROR!!", "-1101"},
        {"Lyon é", "-1101"},    {"", "-1101"},          {" -1", "-1101"},
    };
    for (const auto& [value, code] : gets) {
        EXPECT_EQ(call(kGetField, {Param{"address.city"}}), value);
        EXPECT_EQ(session->lastError("number"), code) << value;  // success leaves the store alone
    }
    EXPECT_EQ(events(), std::vector<std::string>(6, logged(kGetFieldEvent) + " cstr=\"address.city\""));

    reply(kSetFieldEvent,
          {kReplyOK, kReplyNoSuchField, "<none>", "The value \"x\" is not a state of the check box \"agree\"."});
    EXPECT_EQ(call(kSetField, {Param{"address.city"}, Param{"Lyon"}}), "0");
    EXPECT_EQ(call(kSetField, {Param{"a"}, Param{""}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Field name not found.");
    EXPECT_EQ(call(kSetField, {Param{"a"}, Param{"b"}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Field name not found.");
    EXPECT_EQ(call(kSetField, {Param{"agree"}, Param{"x"}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Undefined Error. The value \"x\" is not a state of the check box \"agree\".");
    EXPECT_EQ(events(), (std::vector<std::string>{logged(kSetFieldEvent) + " list=[\"address.city\",\"Lyon\"]",
                                                  logged(kSetFieldEvent) + " list=[\"a\",\"\"]",
                                                  logged(kSetFieldEvent) + " list=[\"a\",\"b\"]",
                                                  logged(kSetFieldEvent) + " list=[\"agree\",\"x\"]"}));

    // Field names: only t, y and 1 (any case) ask for values.
    reply(kGetFieldNamesEvent, {"a\\rb:|:c\\r"});
    EXPECT_EQ(call(kFieldNames), "a\rb:|:c\r");
    for (const char* flag : {"", "0", "n", "true", "yes", "tt"}) call(kFieldNames, {Param{flag}});
    for (const char* flag : {"t", "T", "y", "Y", "1"}) call(kFieldNames, {Param{flag}});
    std::vector<std::string> expected(7, logged(kGetFieldNamesEvent) + " cstr=\"n\"");
    expected.insert(expected.end(), 5, logged(kGetFieldNamesEvent) + " cstr=\"y\"");
    EXPECT_EQ(events(), expected);

    reply(kGetFieldNamesEvent, {kReplyNoFields, "<none>", "<empty>"});
    EXPECT_EQ(call(kFieldNames), "!!ERROR!!");
    EXPECT_EQ(lastError(), "GetFieldNames found no fields in the open PDF.");
    EXPECT_EQ(call(kFieldNames), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1110");
    EXPECT_EQ(call(kFieldNames), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Insufficient memory.");
}

TEST_F(LinkTest, DocumentInfo) {
    open();
    EXPECT_EQ(call(kGetInfo, {Param{""}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-3");
    for (const char* key : {"Foo", "Titl", "Title|", "Title Author"}) {
        EXPECT_EQ(call(kGetInfo, {Param{key}}), "!!ERROR!!") << key;
        EXPECT_EQ(session->lastError("number"), "-4") << key;
    }
    for (const char* key : {"ModDate", "CreationDate", "date", "Foo"}) {
        EXPECT_EQ(call(kSetInfo, {Param{key}, Param{"x"}}), "!!ERROR!!") << key;
        EXPECT_EQ(session->lastError("number"), "-4") << key;
    }
    EXPECT_TRUE(events().empty());

    // Ordinary keys: sent as written, value returned as text.
    reply(kGetDocInfoEvent, {"My Title é", "", "<none>", "x"});
    EXPECT_EQ(call(kGetInfo, {Param{"tITLE"}}), "My Title é");
    fmx::Data empty = session->call(kGetInfo, {Param{"Subject"}});
    EXPECT_EQ(empty.GetNativeType(), fmx::Data::kDTInvalid);
    // A reply without any text is no value: an error, not an empty value.
    EXPECT_EQ(call(kGetInfo, {Param{"Trapped"}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1115");
    call(kGetInfo, {Param{"Foo"}});
    EXPECT_EQ(call(kGetInfo, {Param{"Title|Author"}}), "x");  // the probe occurs in the list
    EXPECT_EQ(session->lastError("number"), "-4");            // success leaves the store alone
    EXPECT_EQ(events(), (std::vector<std::string>{logged(kGetDocInfoEvent) + " cstr=\"tITLE\"",
                                                  logged(kGetDocInfoEvent) + " cstr=\"Subject\"",
                                                  logged(kGetDocInfoEvent) + " cstr=\"Trapped\"",
                                                  logged(kGetDocInfoEvent) + " cstr=\"Title|Author\""}));

    // Date keys: digits read from fixed places, defaults for short values.
    struct DateCase {
        const char* key;
        const char* value;
        int y, mo, d, h, mi, s;
    };
    const DateCase dates[] = {
        {"CreationDate", "D:20160704123456+02'00'", 2016, 7, 4, 12, 34, 56},
        {"ModDate", "D:1999123123", 1999, 12, 31, 23, 0, 0},
        {"creationdate", "D:20240229", 2024, 2, 29, 0, 0, 0},
        {"Date", "D:201", 2016, 1, 1, 0, 0, 0},
        {"ModDate", "D:2019", 2019, 1, 1, 0, 0, 0},
    };
    for (const auto& c : dates) {
        reply(kGetDocInfoEvent, {c.value});
        fmx::Data r = session->call(kGetInfo, {Param{c.key}});
        ASSERT_EQ(r.GetNativeType(), fmx::Data::kDTDate) << c.value;
        const fmx::DateTime& dt = r.GetAsDate();
        EXPECT_EQ(dt.GetYear(), c.y) << c.value;
        EXPECT_EQ(dt.GetMonth(), c.mo) << c.value;
        EXPECT_EQ(dt.GetDay(), c.d) << c.value;
        EXPECT_EQ(dt.GetHour(), c.h) << c.value;
        EXPECT_EQ(dt.GetMinute(), c.mi) << c.value;
        EXPECT_EQ(dt.GetSec(), c.s) << c.value;
    }
    events();

    // Set: key and value as two list items; "-2" or no reply is -1107, any other text a store
    // Acrobat refused.
    reply(kSetDocInfoEvent, {kReplyOK, kReplyNoInfoPair, "<none>", kReplyOK, "Operation not permitted."});
    EXPECT_EQ(call(kSetInfo, {Param{"title"}, Param{"Neuer Titel ü"}}), "0");
    EXPECT_EQ(lastError(), "SUCCESS");
    EXPECT_EQ(call(kSetInfo, {Param{"Author"}, Param{"x"}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Invalid parameter for Get/SetPDFInfo.");
    EXPECT_EQ(call(kSetInfo, {Param{"Author"}, Param{"x"}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1107");
    EXPECT_EQ(call(kSetInfo, {Param{"Keywords"}, Param{""}}), "0");
    EXPECT_EQ(call(kSetInfo, {Param{"Title"}, Param{"Locked"}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1116");
    EXPECT_NE(lastError().find("Operation not permitted."), std::string::npos) << lastError();
    EXPECT_EQ(events(), (std::vector<std::string>{logged(kSetDocInfoEvent) + " list=[\"title\",\"Neuer Titel ü\"]",
                                                  logged(kSetDocInfoEvent) + " list=[\"Author\",\"x\"]",
                                                  logged(kSetDocInfoEvent) + " list=[\"Author\",\"x\"]",
                                                  logged(kSetDocInfoEvent) + " list=[\"Keywords\",\"\"]",
                                                  logged(kSetDocInfoEvent) + " list=[\"Title\",\"Locked\"]"}));
}

TEST_F(LinkTest, PageTextInsertAndDelete) {
    open();
    EXPECT_EQ(call(kPageText, {Param{""}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-3");
    EXPECT_TRUE(events().empty());

    reply(kGetTextFromPageEvent, {kReplyNoSuchPage, "<none>", kReplyNoWords, "Line one\\rZeile zwei ü 東京"});
    EXPECT_EQ(call(kPageText, {num("0")}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Invalid page number for GetTextFromPage. Page 0 is not in the document.");
    EXPECT_EQ(call(kPageText, {num("-1")}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1108");
    EXPECT_EQ(call(kPageText, {num("2.7")}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "GetTextFromPage found no text on specifid page.");
    EXPECT_EQ(call(kPageText, {num("1")}), "Line one\rZeile zwei ü 東京");
    EXPECT_EQ(session->lastError("number"), "-1109");
    EXPECT_EQ(events(),
              (std::vector<std::string>{
                  logged(kGetTextFromPageEvent) + " long=long:0", logged(kGetTextFromPageEvent) + " long=long:-1",
                  logged(kGetTextFromPageEvent) + " long=long:2", logged(kGetTextFromPageEvent) + " long=long:1"}));

    // Insert: five items in order; the flag is true for true/t/1/empty.
    reply(kInsertPagesEvent, {kReplyPagesDone});
    EXPECT_EQ(call(kInsertPages, {num("2.9"), Param{"/src é.pdf"}, num("1"), num("3"), Param{"TrUe"}}), "0");
    for (const char* flag : {"t", "1", "", "0", "yes", "f"})
        call(kInsertPages, {num("1"), Param{""}, Param{"x"}, Param{" 4abc"}, Param{flag}});
    std::vector<std::string> expected{logged(kInsertPagesEvent) +
                                      " list=[long:2,\"/src é.pdf\",long:1,long:3,bool:true]"};
    for (const char* b : {"true", "true", "true", "false", "false", "false"})
        expected.push_back((logged(kInsertPagesEvent) + " list=[long:1,\"\",long:0,long:4,bool:") + b + "]");
    EXPECT_EQ(events(), expected);

    // Only "0" is success; a reply without a text is not.
    reply(kInsertPagesEvent, {"<none>", "Failed to open source document. "});
    EXPECT_EQ(call(kInsertPages, {num("1"), Param{"/x"}, num("1"), num("1"), Param{""}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Error inserting page(s): ");
    EXPECT_EQ(call(kInsertPages, {num("1"), Param{"/x"}, num("1"), num("1"), Param{""}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Error inserting page(s):  Failed to open source document. ");

    // Delete: the last page first.
    reply(kDeletePagesEvent, {kReplyPagesDone, kDeleteOrder, "<none>"});
    EXPECT_EQ(call(kDeletePages, {num("2"), num("3")}), "0");
    EXPECT_EQ(lastError(), "SUCCESS");
    EXPECT_EQ(call(kDeletePages, {num("4"), num("2")}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Error deleting page(s):  Start page cannot be greater than the last page.");
    EXPECT_EQ(call(kDeletePages, {num("1"), num("1")}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1118");
    events();
    // A number past the 32-bit item is refused here and named, never sent cut to its low bits.
    EXPECT_EQ(call(kDeletePages, {num("2"), num("4294967298")}), "!!ERROR!!");
    EXPECT_EQ(lastError(),
              "Error deleting page(s):  Last page to be deleted is out of range. The page number given "
              "was 4294967298.");
    EXPECT_TRUE(events().empty());
    reply(kDeletePagesEvent, {kReplyPagesDone});
    call(kDeletePages, {Param{"-7"}, num("2")});
    EXPECT_EQ(events(), std::vector<std::string>{logged(kDeletePagesEvent) + " list=[long:2,long:-7]"});
}

TEST_F(LinkTest, ShutdownReleasesTheLink) {
    open();
    session->shutdown();
    EXPECT_EQ(quill::fm::acrobatLink().target(), nullptr);
    EXPECT_FALSE(quill::fm::acrobatLink().documentOpen());
    ASSERT_EQ(session->init(), 56u);
    EXPECT_EQ(call(kNumPages), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1102");
    EXPECT_TRUE(events().empty());
}

// Acrobat holding no document for this process is a failure of any call, never a value, and the
// document counts as closed: nothing more is sent before the next open.
TEST_F(LinkTest, NoDocumentAnswerFailsTheCallAndClosesTheLink) {
    for (AEEventID id : {kGetNumPagesEvent, kGetFieldEvent, kSaveDocEvent}) {
        open();
        reply(id, {kNoDocument});
        const fmx::int16 function = id == kGetNumPagesEvent ? kNumPages : id == kGetFieldEvent ? kGetField : kSavePDF;
        const std::vector<Param> params = id == kGetFieldEvent ? std::vector<Param>{Param{"a"}} : std::vector<Param>{};
        EXPECT_EQ(call(function, params), "!!ERROR!!");
        EXPECT_EQ(session->lastError("number"), "-1102");
        EXPECT_FALSE(quill::fm::acrobatLink().documentOpen());
        events();
        EXPECT_EQ(call(kNumPages), "!!ERROR!!");
        EXPECT_TRUE(events().empty());
    }
}

TEST_F(LinkTest, AcrobatQuitReaderSkippedAndTheOtherIdentifier) {
    open();
    const pid_t first = fakePid(kPro);
    stopFake(kPro);
    EXPECT_EQ(call(kNumPages), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Acrobat quit while a file was open.");
    EXPECT_EQ(call(kNumPages), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1102");

    // Nothing installed: the launch fails and nothing is sent.
    fs::remove_all(apps());
    fs::create_directories(apps());
    EXPECT_EQ(call(kOpenPDF, {Param{doc().string()}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Acrobat could not be found or launched.");

    // Reader runs (same creator) and only the "Full" Acrobat is installed:
    // the second identifier is launched and the search passes Reader by.
    install("Reader", kReader);
    setenv("QUILL_FAKE_ACROBAT_ID", kReader, 1);
    setenv("QUILL_FAKE_ACROBAT_NAME", "Adobe Reader", 1);
    ASSERT_TRUE(
        NSWorkspace::sharedWorkspace().launchAppWithBundleIdentifier(NSStr(kReader), 0x20000, nullptr, nullptr));
    installAcrobat(kFull);
    reply(kOpenDocEvent, {kReplyOK});
    EXPECT_EQ(call(kOpenPDF, {Param{doc().string()}}), "0") << lastError();
    EXPECT_GT(fakePid(kFull), 0);
    EXPECT_NE(fakePid(kFull), first);
    reply(kGetNumPagesEvent, {"3"});
    EXPECT_EQ(call(kNumPages), "3");
    EXPECT_EQ(events(), (std::vector<std::string>{logged(kOpenDocEvent) + " list=[\"" + doc().string() + "\"]",
                                                  logged(kGetNumPagesEvent)}));
    EXPECT_FALSE(fs::exists(fakeDir() / "log-reader"));
    reply(kCloseDocEvent, {kReplyOK});
    EXPECT_EQ(call(kClosePDF), "0");
    stopFake(kFull);

    // The launch answers YES but the only process with the creator is a
    // Reader: refused with -1100 instead of sending to an empty address.
    installAcrobat(kPro);
    setenv("QUILL_FAKE_ACROBAT_NAME", "Acrobat Reader", 1);
    EXPECT_EQ(call(kOpenPDF, {Param{doc().string()}}), "!!ERROR!!");
    EXPECT_EQ(lastError(), "Acrobat could not be found or launched.");
    EXPECT_FALSE(quill::fm::acrobatLink().documentOpen());
    stopFakes();
    installAcrobat(kPro);
}

TEST_F(LinkTest, AcrobatKilledDuringAnyCallIsReportedAsQuit) {
    const std::string out = (root->path() / "out.pdf").string();
    struct Case {
        AEEventID event;
        fmx::int16 function;
        std::vector<Param> params;
    };
    const Case cases[] = {
        {kCloseDocEvent, kClosePDF, {}},
        {kSaveDocEvent, kSavePDF, {}},
        {kSaveAsDocEvent, kSaveAsPDF, {Param{out}}},
        {kPrintDocEvent, kPrintPDF, {}},
        {kAppendDocEvent, kAppendPDF, {Param{"/a.pdf"}}},
        {kGetNumPagesEvent, kNumPages, {}},
        {kGetFieldEvent, kGetField, {Param{"name"}}},
        {kSetFieldEvent, kSetField, {Param{"name"}, Param{"v"}}},
        {kGetFieldNamesEvent, kFieldNames, {}},
        {kGetDocInfoEvent, kGetInfo, {Param{"Title"}}},
        {kSetDocInfoEvent, kSetInfo, {Param{"Title"}, Param{"t"}}},
        {kGetTextFromPageEvent, kPageText, {num("1")}},
        {kInsertPagesEvent, kInsertPages, {num("1"), Param{"/a.pdf"}, num("1"), num("1"), Param{""}}},
        {kDeletePagesEvent, kDeletePages, {num("1"), num("1")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(logged(c.event));
        open();
        reply(c.event, {"<die>"});
        EXPECT_EQ(call(c.function, c.params), "!!ERROR!!");
        EXPECT_EQ(lastError(), "Acrobat quit while a file was open.");
        EXPECT_FALSE(quill::fm::acrobatLink().documentOpen());
        EXPECT_EQ(call(kNumPages), "!!ERROR!!");
        EXPECT_EQ(session->lastError("number"), "-1102");
        fs::remove(fakeDir() / ("reply-" + logged(c.event)));
        fs::remove(fakeDir() / ("pid-" + std::string(kPro)));
    }
    // The open itself: the same words.
    reply(kOpenDocEvent, {"<die>"});
    EXPECT_EQ(call(kOpenPDF, {Param{doc().string()}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-1104");
    EXPECT_FALSE(quill::fm::acrobatLink().documentOpen());
}

TEST_F(LinkTest, NulInAFieldOrInfoValueIsRefusedNotCut) {
    open();
    const std::string withNul = std::string("before") + '\0' + "after";
    EXPECT_EQ(call(kSetField, {Param{"name"}, Param{withNul}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-4");
    EXPECT_EQ(call(kSetField, {Param{withNul}, Param{"v"}}), "!!ERROR!!");
    EXPECT_EQ(call(kSetInfo, {Param{"Title"}, Param{withNul}}), "!!ERROR!!");
    EXPECT_EQ(session->lastError("number"), "-4");
    EXPECT_TRUE(events().empty());
}

// Slow: each unanswered call waits out the full 20 seconds.
TEST_F(LinkTest, SlowBusyAcrobatIsAnErrorAndTheNextCallWaitsForIt) {
    open();
    reply(kDeletePagesEvent, {"<sleep 45>0"});
    reply(kGetNumPagesEvent, {"7"});
    EXPECT_EQ(call(kDeletePages, {num("2"), num("9999")}), "!!ERROR!!");
    EXPECT_EQ(lastError(),
              "Error communicating with Vovezudoru: Descriptor not found. Acrobat did not answer within 20 "
              "seconds; it is busy and may still carry the request out.");
    EXPECT_TRUE(quill::fm::acrobatLink().documentOpen());
    // Still busy with the delete: said so.
    EXPECT_EQ(call(kNumPages), "!!ERROR!!");
    EXPECT_EQ(lastError(),
              "Error communicating with Vovezudoru: Descriptor not found. Acrobat is still busy with an "
              "earlier request that did not finish within 20 seconds; try again when it has finished.");
    // The delete ends within this call's wait: it waits and gets its answer.
    EXPECT_EQ(call(kNumPages), "7");
    EXPECT_EQ(events(), (std::vector<std::string>{logged(kDeletePagesEvent) + " list=[long:9999,long:2]",
                                                  logged(kGetNumPagesEvent), logged(kGetNumPagesEvent)}));
}

}  // namespace
