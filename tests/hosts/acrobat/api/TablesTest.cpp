// The tables behind the API, called as a plug-in calls them: text objects
// and PDF text, path names in every form the FileMaker side sends, error
// texts, exception frames, table lookup, and document windows.
#include "CFURL.h"
#include "Application.h"
#include "HostAPI.h"
#include "Paths.h"
#include "Tables.h"

#include "Files.h"
#include "NSAppleEventDescriptor.h"
#include "NSAppleEventManager.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using acro_host::RequestAborted;

namespace {

template <class Proto>
Proto proc(const char* table, Selector sel) {
    auto p = reinterpret_cast<Proto>(acro_host::registeredProc(table, sel));
    if (!p) throw std::runtime_error("missing table entry");
    return p;
}

#define CALL(table, name) proc<name##SELPROTO>(table, name##SEL)

// One Application (no plug-ins) for the whole program: it offers the tables
// and handles the standard events.
acro_host::Application& app() {
    static acro_host::Application* a = [] {
        acro_host::Application::Options o;
        o.pluginsDir = "/nonexistent";
        o.lowerVersions["PDSysFont"] = ASVersionMake(4, 5);
        return new acro_host::Application(o);
    }();
    return *a;
}

ASErrorCode codeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RequestAborted& e) {
        return e.code;
    }
    return 0;
}

ASText fromUtf8(const std::string& s, ASHostEncoding enc = 1) {
    return CALL(ASExtraHFTName, ASTextFromEncoded)(s.c_str(), enc);
}

std::string pdText(ASText t) {
    ASTArraySize len = -1;
    char* bytes = CALL(ASExtraHFTName, ASTextGetPDTextCopy)(t, &len);
    std::string out(bytes, static_cast<std::size_t>(len));
    EXPECT_EQ(bytes[len], '\0');
    EXPECT_EQ(bytes[len + 1], '\0');
    CALL(AcroSupportHFTName, ASfree)(bytes);
    return out;
}

ASInt32 cmp(ASText a, ASText b) {
    return CALL(ASExtraHFTName, ASTextCmp)(a, b);
}

void destroy(ASText t) {
    CALL(ASExtraHFTName, ASTextDestroy)(t);
}

// ---- text ----

TEST(Text, PDFTextUsesPDFDocEncodingWhenEveryCharacterHasAByte) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Lyon", "Lyon"},
        {"Grüße",
         "Gr\xFC\xDF"
         "e"},
        {"€ • — ﬁ ˘", "\xA0 \x80 \x84 \x93 \x18"},
        {"a\rb\tc", "a\rb\tc"},
        {"", ""},
    };
    for (const auto& [utf8, bytes] : cases) {
        SCOPED_TRACE(utf8);
        ASText t = fromUtf8(utf8);
        const std::string pd = pdText(t);
        EXPECT_EQ(pd, bytes);
        ASText back = CALL(ASExtraHFTName, ASTextFromPDText)((pd + std::string(2, '\0')).c_str());
        EXPECT_EQ(cmp(back, t), 0);
        destroy(back);
        destroy(t);
    }
}

TEST(Text, OtherTextsBecomeUTF16BigEndianWithAByteOrderMark) {
    const std::vector<std::pair<std::string, std::u16string>> cases = {
        {"漢字", u"漢字"}, {"x\x01y", u"x\u0001y"},  // a control character PDFDocEncoding does not define
        {"😀!", u"😀!"},     {"soft\u00ADhyphen", u"soft\u00ADhyphen"},  // 0xAD is undefined in PDFDocEncoding
        {"Ā", u"Ā"},                                                   // U+0100: a low byte of zero inside the text
    };
    for (const auto& [utf8, units] : cases) {
        SCOPED_TRACE(utf8);
        ASText t = fromUtf8(utf8, 2);
        const std::string pd = pdText(t);
        ASSERT_EQ(pd.size(), 2 + 2 * units.size());
        EXPECT_EQ(static_cast<unsigned char>(pd[0]), 0xFE);
        EXPECT_EQ(static_cast<unsigned char>(pd[1]), 0xFF);
        for (std::size_t i = 0; i < units.size(); ++i) {
            EXPECT_EQ(static_cast<unsigned char>(pd[2 + 2 * i]), units[i] >> 8);
            EXPECT_EQ(static_cast<unsigned char>(pd[3 + 2 * i]), units[i] & 0xFF);
        }
        ASText back = CALL(ASExtraHFTName, ASTextFromPDText)((pd + std::string(2, '\0')).c_str());
        EXPECT_EQ(acro_host::textUnits(back), units);
        destroy(back);
        destroy(t);
    }
}

TEST(Text, PDFTextInputForms) {
    // A language escape is dropped; UTF-8 with its mark is read as UTF-8;
    // PDFDocEncoding bytes map through the table.
    const std::vector<std::pair<std::string, std::u16string>> cases = {
        {std::string("\xFE\xFF\x00\x1B"
                     "en\x00\x1B\x00"
                     "A\x00\x00",
                     12),
         u"A"},
        {"\xEF\xBB\xBF\xC3\xA9", u"é"},
        {"\x80\x92\xA0", u"•™€"},
        {"\x7F\x9F", u"\u007F\u009F"},
    };
    for (const auto& [bytes, units] : cases) {
        ASText t = CALL(ASExtraHFTName, ASTextFromPDText)(bytes.c_str());
        EXPECT_EQ(acro_host::textUnits(t), units);
        destroy(t);
    }
}

TEST(Text, CatCompareUnicodeAndLifetime) {
    ASText a = CALL(ASExtraHFTName, ASTextNew)();
    ASText sep = fromUtf8(":|:", 1);
    ASText name = fromUtf8("Straße", 2);
    CALL(ASExtraHFTName, ASTextCat)(a, name);
    CALL(ASExtraHFTName, ASTextCat)(a, sep);
    CALL(ASExtraHFTName, ASTextCat)(a, a);  // appending a text to itself doubles it
    EXPECT_EQ(acro_host::textUtf8(a), "Straße:|:Straße:|:");

    const ASUTF16Val* u = CALL(ASExtraHFTName, ASTextGetUnicode)(a);
    std::u16string got;
    while (*u) got += static_cast<char16_t>(*u++);
    EXPECT_EQ(got, u"Straße:|:Straße:|:");

    ASText same = fromUtf8("Straße");
    EXPECT_EQ(cmp(name, same), 0);
    EXPECT_LT(cmp(sep, name), 0);
    EXPECT_GT(cmp(name, sep), 0);

    for (ASText t : {a, sep, name, same}) destroy(t);
    // A destroyed text is refused, not followed; destroying it again is ignored.
    EXPECT_EQ(ErrGetCode(codeOf([&] { CALL(ASExtraHFTName, ASTextCat)(name, name); })), genErrBadParm);
    EXPECT_EQ(ErrGetCode(codeOf([&] { CALL(ASExtraHFTName, ASTextGetUnicode)(same); })), genErrBadParm);
    EXPECT_NO_THROW(destroy(name));
    EXPECT_NO_THROW(destroy(nullptr));
    EXPECT_EQ(ErrGetCode(codeOf([] { CALL(ASExtraHFTName, ASTextFromPDText)(nullptr); })), genErrBadParm);
}

// ---- paths ----

class Paths : public testing::Test {
protected:
    void SetUp() override {
        const char* h = std::getenv("HOME");
        savedHome_ = h ? h : "";
        setenv("HOME", "/home/ann", 1);
        startup_ = quill::volumes::startupVolumeName();
    }
    void TearDown() override { setenv("HOME", savedHome_.c_str(), 1); }
    std::string savedHome_;
    std::string startup_;
};

TEST_F(Paths, EveryFormTheFileMakerSideSends) {
    using acro_host::paths::fromUserPath;
    EXPECT_EQ(fromUserPath("/tmp/a.pdf"), "/tmp/a.pdf");
    EXPECT_EQ(fromUserPath("~/Documents/a.pdf"), "/home/ann/Documents/a.pdf");
    EXPECT_EQ(fromUserPath("~Documents/a.pdf"), "/home/ann/Documents/a.pdf");
    EXPECT_EQ(fromUserPath("a.pdf"), "/a.pdf");
    // Colon form, converted form and browse form of the start-up volume.
    EXPECT_EQ(fromUserPath(startup_ + ":tmp:a.pdf"), "/tmp/a.pdf");
    EXPECT_EQ(fromUserPath(startup_ + "/tmp/a.pdf"), "/tmp/a.pdf");
    EXPECT_EQ(fromUserPath("/Volumes/" + startup_ + "/tmp/a.pdf"), "/tmp/a.pdf");
    // A text with both separators keeps its colons; an unknown volume stays under /Volumes.
    EXPECT_EQ(fromUserPath("No Such Volume/x:y.pdf"), "/Volumes/No Such Volume/x:y.pdf");
}

TEST_F(Paths, URLTexts) {
    using acro_host::paths::fromURLText;
    const std::vector<std::pair<std::string, std::string>> good = {
        {"/tmp/a%20b.pdf", "/tmp/a b.pdf"},
        {"file:///tmp/a%20b.pdf", "/tmp/a b.pdf"},
        {"file://localhost/tmp/x.pdf", "/tmp/x.pdf"},
        {"~/a%20b.pdf", "/home/ann/a b.pdf"},
        {"/tmp/gar%C3%A7on.pdf", "/tmp/garçon.pdf"},
        {"/tmp/garçon.pdf", "/tmp/garçon.pdf"},  // unescaped characters outside ASCII
        {"/tmp/100%25.pdf", "/tmp/100%.pdf"},
        {startup_ + "/tmp/%C3%A9.pdf", "/tmp/é.pdf"},
    };
    for (const auto& [url, posix] : good) EXPECT_EQ(fromURLText(url).value_or("<none>"), posix) << url;
    for (const std::string bad :
         {"", "%", "/a%4", "/a%zz", "/a%00b", "http://host/x.pdf", "/a%FF.pdf", "file://host/x.pdf"})
        EXPECT_FALSE(fromURLText(bad).has_value()) << bad;
}

TEST_F(Paths, PathNamesThroughTheTable) {
    auto atom = CALL(CoreHFTName, ASAtomFromString);
    auto create = CALL(AcroSupportHFTName, ASFileSysCreatePathName);
    auto release = CALL(AcroSupportHFTName, ASFileSysReleasePath);

    // A "CFURLRef" path is a CFURLRef object made from a path.
    auto urlOf = [](const std::string& path) {
        const NSString p = NSStr(path);
        return CFURLCreateWithFileSystemPath(kCFAllocatorDefault, &p, kCFURLPOSIXPathStyle, false);
    };
    CFURLRef tilde = urlOf("~/x y%20.pdf");
    ASPathName url = create(nullptr, atom("CFURLRef"), tilde, nullptr);
    CFRelease(tilde);
    EXPECT_EQ(acro_host::pathNameToPosix(url), "/home/ann/x y%20.pdf");
    ASPathName posix =
        create(CALL(AcroSupportHFTName, ASGetDefaultFileSys)(), atom("POSIXPath"), "/tmp/ü 1.pdf", nullptr);
    EXPECT_EQ(acro_host::pathNameToPosix(posix), "/tmp/ü 1.pdf");
    ASPathName relative = create(nullptr, atom("POSIXPath"), "rel.pdf", nullptr);
    EXPECT_EQ(acro_host::pathNameToPosix(relative), (fs::current_path() / "rel.pdf").string());
    // The browse panels' form names the volume first; a save as takes it too.
    ASPathName browsed = create(nullptr, atom("POSIXPath"), (startup_ + "/tmp/neu é.pdf").c_str(), nullptr);
    EXPECT_EQ(acro_host::pathNameToPosix(browsed), "/tmp/neu é.pdf");
    release(nullptr, browsed);

    ASFile file = acro_host::fileForPath("/tmp/f.pdf");
    EXPECT_EQ(file, acro_host::fileForPath("/tmp/f.pdf"));
    ASPathName acquired = CALL(AcroSupportHFTName, ASFileAcquirePathName)(file);
    EXPECT_EQ(acro_host::pathNameToPosix(acquired), "/tmp/f.pdf");

    for (ASPathName p : {url, posix, relative, acquired}) release(nullptr, p);
    EXPECT_NO_THROW(release(nullptr, url));  // a second release is ignored
    EXPECT_EQ(ErrGetCode(codeOf([&] { acro_host::pathNameToPosix(url); })), genErrBadParm);

    EXPECT_EQ(ErrGetCode(codeOf([&] { create(nullptr, atom("HFSPath"), "a:b", nullptr); })), genErrBadParm);
    EXPECT_EQ(ErrGetCode(codeOf([&] { create(nullptr, atom("CFURLRef"), nullptr, nullptr); })), genErrBadParm);
    CFURLRef tooLong = urlOf("/" + std::string(5000, 'a'));
    const ASErrorCode badURL = codeOf([&] { create(nullptr, atom("CFURLRef"), tooLong, nullptr); });
    CFRelease(tooLong);
    EXPECT_EQ(ErrGetSystem(badURL), ErrSysASFile);
    EXPECT_EQ(ErrGetCode(badURL), fileErrBadName);
    int junk[4] = {};
    auto junkFileSys = reinterpret_cast<ASFileSys>(junk);
    EXPECT_EQ(ErrGetCode(codeOf([&] { create(junkFileSys, atom("POSIXPath"), "/a", nullptr); })), genErrBadParm);
    auto junkFile = reinterpret_cast<ASFile>(junk);
    EXPECT_EQ(ErrGetCode(codeOf([&] { CALL(AcroSupportHFTName, ASFileAcquirePathName)(junkFile); })), genErrBadParm);
}

// ---- errors and exception frames ----

std::string errorString(ASErrorCode code, ASInt32 size = 256) {
    std::vector<char> buf(static_cast<std::size_t>(size) + 1, 'X');
    CALL(AcroSupportHFTName, ASGetErrorString)(code, buf.data(), size);
    return buf.data();
}

TEST(Errors, TextsByCode) {
    // The six texts the FileMaker side repeats, whatever message came with the raise.
    const std::vector<std::pair<ASErrorCode, std::string>> fixed = {
        {PDDocError(pdErrOpNotPermitted), "Operation not permitted."},
        {PDDocErrorAlways(pdErrCantUseNewVersion),
         "This document contains information not understood by the viewer. It may be in a newer file format."},
        {PDDocError(pdErrTooManyPagesForInsert), "Too many pages for insertion."},
        {GenError(genErrBadParm), "Bad parameter."},
        {GenError(genErrNoMemory), "Insufficient memory to complete the operation."},
        {PDDocError(pdErrWhileRecoverInsertPages),
         "There was an error while inserting pages and another error while trying to recover."},
    };
    for (const auto& [code, text] : fixed) {
        EXPECT_EQ(codeOf([&] { acro_host::raise(code, "something else"); }), code);
        EXPECT_EQ(errorString(code), text);
    }
    // Other codes: the message recorded with the last raise of that code,
    // else the table's text, else a general one.
    const ASErrorCode fnf = ASFileError(fileErrFNF);
    codeOf([&] { acro_host::raise(fnf, "The file \"a.pdf\" does not exist."); });
    EXPECT_EQ(errorString(fnf), "The file \"a.pdf\" does not exist.");
    EXPECT_EQ(errorString(PDDocError(pdErrNeedPassword)),
              "The document is protected by a password and cannot be opened without it.");
    codeOf([&] { acro_host::raise(PDDocError(pdErrNeedRebuild)); });
    EXPECT_EQ(errorString(fnf), "The file does not exist.");
    EXPECT_EQ(errorString(ErrBuildCode(ErrAlways, 99, 4321)), "An unknown error occurred.");
}

TEST(Errors, MessagesAreCutToTheBufferWithoutSplittingACharacter) {
    const ASErrorCode code = ErrBuildCode(ErrAlways, ErrSysPDFEdit, 77);
    codeOf([&] { acro_host::raise(code, "ééé"); });
    EXPECT_EQ(errorString(code, 7), "ééé");
    EXPECT_EQ(errorString(code, 6), "éé");
    EXPECT_EQ(errorString(code, 4), "é");
    EXPECT_EQ(errorString(code, 1), "");
    EXPECT_EQ(CALL(AcroSupportHFTName, ASGetErrorString)(code, nullptr, 10), nullptr);
}

struct Thrown {
    int frame;
};
ACCB1 void ACCB2 restoreOne(void*) {
    throw Thrown{1};
}
ACCB1 void ACCB2 restoreTwo(void*) {
    throw Thrown{2};
}
ACCB1 void ACCB2 restoreNothing(void*) {}

TEST(Frames, ARaiseGoesToTheInnermostFrameAndWithoutOneEndsTheRequest) {
    auto push = CALL(CoreHFTName, ASPushExceptionFrame);
    auto pop = CALL(CoreHFTName, ASPopExceptionFrame);
    auto raise = CALL(CoreHFTName, ASRaise);
    auto lastCode = CALL(CoreHFTName, ASGetExceptionErrorCode);
    const std::size_t depth = acro_host::exceptionFrameDepth();

    push(nullptr, &restoreOne);
    push(nullptr, &restoreTwo);
    try {
        raise(GenError(genErrCanceled));
        FAIL() << "the raise came back";
    } catch (const Thrown& t) {
        EXPECT_EQ(t.frame, 2);
    }
    EXPECT_EQ(lastCode(), GenError(genErrCanceled));
    pop();
    try {
        raise(PDDocError(pdErrNeedRebuild));
        FAIL() << "the raise came back";
    } catch (const Thrown& t) {
        EXPECT_EQ(t.frame, 1);
    }
    pop();
    EXPECT_EQ(codeOf([&] { raise(GenError(genErrGeneral)); }), GenError(genErrGeneral));
    // A restore procedure that comes back cannot take the exception either.
    push(nullptr, &restoreNothing);
    EXPECT_EQ(codeOf([&] { raise(GenError(genErrBadParm)); }), GenError(genErrBadParm));
    pop();
    pop();  // popping an empty stack is harmless
    EXPECT_EQ(acro_host::exceptionFrameDepth(), depth);
}

TEST(Frames, CPlusPlusExceptionsFromTheHostBecomeAcrobatExceptions) {
    EXPECT_EQ(codeOf([] { acro_host::guarded([]() -> int { throw std::runtime_error("broken"); }); }),
              GenError(genErrGeneral));
    EXPECT_EQ(errorString(GenError(genErrGeneral)), "broken");
    EXPECT_EQ(codeOf([] { acro_host::guarded([]() -> int { throw std::bad_alloc(); }); }), GenError(genErrNoMemory));
    EXPECT_EQ(acro_host::guarded([] { return 7; }), 7);
}

// ---- tables, atoms, callbacks ----

TEST(Core, TablesByNameAndVersion) {
    app();
    auto atom = CALL(CoreHFTName, ASAtomFromString);
    auto getHFT = CALL(CoreHFTName, ASExtensionMgrGetHFT);
    auto version = CALL(AcroSupportHFTName, HFTGetVersion);

    HFT pdModel = getHFT(atom("PDModel"), ASVersionMake(2, 2));
    ASSERT_NE(pdModel, nullptr);
    EXPECT_EQ(version(pdModel), ASVersionMake(9, 0));
    EXPECT_EQ(getHFT(atom("PDModel"), ASVersionMake(9, 0)), pdModel);
    EXPECT_EQ(getHFT(atom("PDModel"), ASVersionMake(9, 1)), nullptr);
    EXPECT_EQ(getHFT(atom("NoSuchTable"), 0), nullptr);
    EXPECT_EQ(version(getHFT(atom("PDSysFont"), ASVersionMake(4, 0))), ASVersionMake(4, 5));
    EXPECT_EQ(version(reinterpret_cast<HFT>(&pdModel)), HFT_ERROR_NO_VERSION);
    EXPECT_EQ(version(nullptr), HFT_ERROR_NO_VERSION);
    // Entries sit at their selectors; entry 0 is never used.
    EXPECT_EQ(pdModel[0], nullptr);
    EXPECT_EQ(pdModel[PDDocGetNumPagesSEL], acro_host::registeredProc("PDModel", PDDocGetNumPagesSEL));
    for (const auto& t : acro_host::defaultTables()) EXPECT_NE(getHFT(atom(t.name), 0), nullptr) << t.name;
}

TEST(Core, AtomsAndCallbacks) {
    auto atom = CALL(CoreHFTName, ASAtomFromString);
    auto text = CALL(CoreHFTName, ASAtomGetString);
    const ASAtom a = atom("TORV:Quillmark");
    EXPECT_EQ(atom("TORV:Quillmark"), a);
    EXPECT_NE(atom("TORV:quillmark"), a);
    EXPECT_STREQ(text(a), "TORV:Quillmark");
    EXPECT_STREQ(text(atom("")), "");
    EXPECT_EQ(ErrGetCode(codeOf([&] { text(0xFFFF); })), genErrBadParm);  // no such atom (atoms are 16 bits)
    EXPECT_EQ(ErrGetCode(codeOf([&] { atom(nullptr); })), genErrBadParm);
    void* p = reinterpret_cast<void*>(&restoreOne);
    EXPECT_EQ(CALL(CoreHFTName, ASCallbackCreate)(nullptr, p), p);
}

// ---- windows ----

class Windows : public testing::Test {
protected:
    void SetUp() override {
        app().closeWindows();
        dir_ = fs::path(testing::TempDir()) / ("acrohost-windows-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        app().closeWindows();
        fs::remove_all(dir_);
    }
    fs::path fixture(const std::string& name) {
        fs::copy_file(fs::path(QUILL_FIXTURES_DIR) / "pdfs" / name, dir_ / name, fs::copy_options::overwrite_existing);
        return dir_ / name;
    }
    // Sends 'aevt'/'odoc' with the paths; returns the reply's error text.
    std::string openDocuments(const std::vector<std::string>& paths) {
        auto event = NSAppleEventDescriptor::appleEventWithEventClass(FourCC("aevt"), FourCC("odoc"), nullptr, -1, 0);
        auto list = NSAppleEventDescriptor::listDescriptor();
        for (const auto& p : paths) list->insertDescriptor(NSAppleEventDescriptor::descriptorWithString(NSStr(p)), 0);
        event->setParamDescriptor(list, keyDirectObject);
        auto reply = NSAppleEventDescriptor::appleEventWithEventClass(FourCC("aevt"), FourCC("ansr"), nullptr, 0, 0);
        EXPECT_EQ(NSAppleEventManager::sharedAppleEventManager().dispatchRawAppleEvent(event.get(), reply.get()),
                  noErr);
        auto errs = reply->paramDescriptorForKeyword(keyErrorString);
        auto s = errs ? errs->stringValue() : std::nullopt;
        return s ? s->UTF8String() : std::string();
    }
    fs::path dir_;
};

TEST_F(Windows, OpenDocumentsShowsEachFileInANewActiveWindow) {
    const fs::path a = fixture("Gday garçon - owner.pdf");
    const fs::path b = fixture("test Orient.pdf");
    EXPECT_EQ(openDocuments({a.string(), b.string()}), "");
    EXPECT_EQ(app().windowTitles(), (std::vector<std::string>{"Gday garçon - owner.pdf", "test Orient.pdf"}));

    AVDoc active = CALL(AcroViewHFTName, AVAppGetActiveDoc)();
    ASSERT_NE(active, nullptr);
    PDDoc doc = CALL(AcroViewHFTName, AVDocGetPDDoc)(active);
    EXPECT_GT(CALL(PDModelHFTName, PDDocGetNumPages)(doc), 0);
    EXPECT_TRUE(CALL(AcroViewHFTName, AVDocClearSelection)(active, true));

    // Closing the active window makes the one before it active.
    EXPECT_TRUE(CALL(AcroViewHFTName, AVDocClose)(active, true));
    AVDoc next = CALL(AcroViewHFTName, AVAppGetActiveDoc)();
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next, active);
    EXPECT_EQ(ErrGetCode(codeOf([&] { CALL(AcroViewHFTName, AVDocGetPDDoc)(active); })), genErrBadParm);
    app().closeWindows();
    EXPECT_EQ(CALL(AcroViewHFTName, AVAppGetActiveDoc)(), nullptr);
}

TEST_F(Windows, AFileThatCannotOpenIsAnsweredAndAlerted) {
    const auto before = app().alertLog().size();
    const std::string err = openDocuments({(dir_ / "missing.pdf").string()});
    EXPECT_NE(err.find("missing.pdf"), std::string::npos) << err;
    EXPECT_EQ(app().alertLog().size(), before + 1);
    EXPECT_EQ(CALL(AcroViewHFTName, AVAppGetActiveDoc)(), nullptr);
    // An event without a direct object is refused too.
    auto event = NSAppleEventDescriptor::appleEventWithEventClass(FourCC("aevt"), FourCC("odoc"), nullptr, -1, 0);
    auto reply = NSAppleEventDescriptor::appleEventWithEventClass(FourCC("aevt"), FourCC("ansr"), nullptr, 0, 0);
    NSAppleEventManager::sharedAppleEventManager().dispatchRawAppleEvent(event.get(), reply.get());
    EXPECT_EQ(reply->paramDescriptorForKeyword(keyErrorNumber)->int32Value(), errAEDescNotFound);
}

TEST_F(Windows, AWindowOnAnOpenDocumentLeavesItOpenWhenItCloses) {
    auto atom = CALL(CoreHFTName, ASAtomFromString);
    const fs::path a = fixture("test Orient.pdf");
    ASPathName path = CALL(AcroSupportHFTName, ASFileSysCreatePathName)(nullptr, atom("POSIXPath"), a.c_str(), nullptr);
    PDDoc doc = CALL(PDModelHFTName, PDDocOpenEx)(path, nullptr, nullptr, nullptr, false);
    CALL(AcroSupportHFTName, ASFileSysReleasePath)(nullptr, path);
    const ASInt32 pages = CALL(PDModelHFTName, PDDocGetNumPages)(doc);

    AVDoc window = CALL(AcroViewHFTName, AVDocOpenFromPDDoc)(doc, nullptr);
    EXPECT_EQ(CALL(AcroViewHFTName, AVAppGetActiveDoc)(), window);
    EXPECT_EQ(CALL(AcroViewHFTName, AVDocGetPDDoc)(window), doc);
    EXPECT_EQ(app().windowTitles().back(), "test Orient.pdf");
    EXPECT_TRUE(CALL(AcroViewHFTName, AVDocClose)(window, true));
    EXPECT_EQ(CALL(PDModelHFTName, PDDocGetNumPages)(doc), pages);
    EXPECT_EQ(ErrGetCode(codeOf([&] { CALL(AcroViewHFTName, AVDocClose)(window, true); })), genErrBadParm);
    // Printing needs a live window and a page range inside the document.
    AVDoc again = CALL(AcroViewHFTName, AVDocOpenFromPDDoc)(doc, nullptr);
    auto printPages = CALL(AcroViewHFTName, AVDocPrintPages);
    EXPECT_EQ(ErrGetCode(codeOf([&] { printPages(again, 0, pages, 2, false, false); })), pdErrInvalidPageNumber);
    CALL(AcroViewHFTName, AVDocClose)(again, true);
    CALL(PDModelHFTName, PDDocClose)(doc);
    EXPECT_EQ(ErrGetCode(codeOf([&] { CALL(AcroViewHFTName, AVDocOpenFromPDDoc)(doc, nullptr); })), genErrBadParm);
}

TEST(AlertNote, IsLoggedAndReturnsAtOnce) {
    const auto before = app().alertLog().size();
    CALL(AcroViewHFTName, AVAlertNote)("The file is damaged and could not be repaired.");
    CALL(AcroViewHFTName, AVAlertNote)(nullptr);
    const auto log = app().alertLog();
    ASSERT_EQ(log.size(), before + 2);
    EXPECT_EQ(log[before], "The file is damaged and could not be repaired.");
}

}  // namespace
