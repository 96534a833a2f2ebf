// The plug-in frame against a small scripted Acrobat: the entry's handshake
// answer, set-up's table import with its fallback versions, the handshake and
// its callbacks, registration of the bridge events, and the version guard.
// The bundle is the real one of this build tree, loaded with dlopen.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "AcroSDK.h"
#include "BridgeProtocol.h"
#include "NSAppleEventDescriptor.h"
#include "NSAppleEventManager.h"

using namespace quill::bridge;

namespace {

using AcroPluginMainProc = ASBool (*)(ASUns32, ASUns32*, PISetupSDKProcType*, void*);
using HandshakeProc = ASBool (*)(ASUns32, void*);
using LifeCycleProc = ASBool (*)(void);

constexpr ASVersion v(ASUns32 major, ASUns32 minor) {
    return (major << 16) | minor;
}

// ---- the scripted Acrobat ----------------------------------------------------

struct Table {
    std::array<void*, 1024> entries{};
    ASVersion version = 0;
    bool offered = false;
    bool saysVersion = true;  // HFTGetVersion answers for this table
    HFT hft() { return reinterpret_cast<HFT>(entries.data()); }
};

struct Fake {
    std::map<std::string, Table> tables;
    bool reportVersions = true;
    std::vector<ACRestoreEnvironProc> frames;
    ASErrorCode lastError = 0;
    std::vector<std::string> atoms{""};
    std::vector<std::string> alerts;
    int closes = 0;
    // Text objects alive, the words of the page, and what the word finder did.
    int liveTexts = 0;
    std::vector<std::pair<std::u16string, ASUns16>> words;
    int findersDestroyed = 0;
    int listsReleased = 0;
    // Error the next source open raises (0: it opens).
    ASErrorCode openError = 0;
    int inserts = 0;
};
Fake* fake = nullptr;

ASAtom fakeAtomFromString(const char* s) {
    for (std::size_t i = 0; i < fake->atoms.size(); ++i)
        if (fake->atoms[i] == s) return static_cast<ASAtom>(i);
    fake->atoms.emplace_back(s);
    return static_cast<ASAtom>(fake->atoms.size() - 1);
}
const char* fakeAtomGetString(ASAtom a) {
    return fake->atoms.at(a).c_str();
}
HFT fakeGetHFT(ASAtom name, ASVersion wanted) {
    auto it = fake->tables.find(fake->atoms.at(name));
    if (it == fake->tables.end() || !it->second.offered || it->second.version < wanted) return nullptr;
    return it->second.hft();
}
ASVersion fakeHFTGetVersion(HFT hft) {
    if (!fake->reportVersions) return 0xFFFFFFFFu;
    for (auto& [name, table] : fake->tables)
        if (table.hft() == hft) return table.saysVersion ? table.version : 0xFFFFFFFFu;
    return 0xFFFFFFFFu;
}
void fakePush(void*, ACRestoreEnvironProc restore) {
    fake->frames.push_back(restore);
}
void fakePop(void) {
    if (!fake->frames.empty()) fake->frames.pop_back();
}
void fakeRaise(ASErrorCode code) {
    fake->lastError = code;
    if (!fake->frames.empty()) fake->frames.back()(nullptr);
}
ASErrorCode fakeErrorCode(void) {
    return fake->lastError;
}
const char* fakeErrorString(ASErrorCode code, char* buffer, size_t size) {
    std::snprintf(buffer, size, "Scripted error %d.", static_cast<int>(code & 0xFFFF));
    return buffer;
}
ASCallback fakeCallbackCreate(ExtensionID, void* proc) {
    return proc;
}
AVDoc fakeActiveDoc(void) {
    return nullptr;
}
void fakeAlert(const char* message) {
    fake->alerts.emplace_back(message);
}
ASPathName fakeCreatePath(ASFileSys, ASAtom, const void*, void*) {
    return reinterpret_cast<ASPathName>(0x10);
}
void fakeReleasePath(ASFileSys, ASPathName) {}
ASFileSys fakeDefaultFileSys(void) {
    return nullptr;
}
PDDoc fakeOpenEx(ASPathName, ASFileSys, void*, void*, ASBool) {
    return reinterpret_cast<PDDoc>(0x20);
}
ASInt32 fakePageCount(PDDoc) {
    return 3;
}
void fakeClose(PDDoc) {
    ++fake->closes;
}
ASText fakeTextNew(void) {
    ++fake->liveTexts;
    return reinterpret_cast<ASText>(new std::u16string);
}
std::u16string& units(ASConstText t) {
    return *reinterpret_cast<std::u16string*>(const_cast<_t_ASTextRec*>(t));
}
ASText fakeTextFromEncoded(const char* s, ASHostEncoding) {
    ASText t = fakeTextNew();
    units(t) = quill::utf::utf8ToUtf16Lenient(s);
    return t;
}
ASText fakeTextFromUnicode(const ASUTF16Val* ucs, ASUnicodeFormat format) {
    EXPECT_EQ(format, kUTF8) << "the plug-in makes its texts of UTF-8";
    return fakeTextFromEncoded(reinterpret_cast<const char*>(ucs), 0);
}
void fakeTextCat(ASText to, ASConstText from) {
    units(to) += units(from);
}
const ASUTF16Val* fakeTextGetUnicode(ASConstText t) {
    return reinterpret_cast<const ASUTF16Val*>(units(t).c_str());
}
void fakeTextDestroy(ASText t) {
    --fake->liveTexts;
    delete &units(t);
}
PDWordFinder fakeCreateFinder(PDDoc, ASInt16, ASUns16, void*) {
    return reinterpret_cast<PDWordFinder>(0x60);
}
void fakeAcquireWords(PDWordFinder, ASInt32, PDWord*, PDWord**, PDWord**, ASInt32* count) {
    *count = static_cast<ASInt32>(fake->words.size());
}
PDWord fakeNthWord(PDWordFinder, ASInt32 n) {
    return reinterpret_cast<PDWord>(static_cast<std::uintptr_t>(n) + 1);
}
void fakeWordText(PDWord w, ASUns32, ASText t) {
    units(t) = fake->words.at(reinterpret_cast<std::uintptr_t>(w) - 1).first;
}
ASUns16 fakeWordAttr(PDWord w) {
    return fake->words.at(reinterpret_cast<std::uintptr_t>(w) - 1).second;
}
void fakeReleaseWords(PDWordFinder, ASInt32) {
    ++fake->listsReleased;
}
void fakeDestroyFinder(PDWordFinder) {
    ++fake->findersDestroyed;
}
PDDoc fakeOpen(ASPathName, ASFileSys, PDAuthProc, ASBool) {
    if (fake->openError) fakeRaise(fake->openError);
    return reinterpret_cast<PDDoc>(0x70);
}
PDDoc fakeCreate(void) {
    return reinterpret_cast<PDDoc>(0x80);
}
void fakeInsert(PDDoc, ASInt32, PDDoc, ASInt32, ASInt32, ASUns16, ProgressMonitor, void*, CancelProc, void*) {
    ++fake->inserts;
}

class PluginFrame : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string path =
            std::string(QUILL_BUILD_DIR) + "/Plug-ins/QuillmarkAcro.acroplugin/Contents/MacOS/QuillmarkAcro";
        module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        entry = reinterpret_cast<AcroPluginMainProc>(dlsym(module, "AcroPluginMain"));
    }

    void SetUp() override {
        ASSERT_NE(entry, nullptr);
        fake = &state;
        for (const char* name :
             {"Core", "AcroSupport", "Cos", "PDModel", "PDFEditWrite", "PDFEditRead", "PDSysFont", "PagePDEContent",
              "AcroView", "PDSWrite", "PDSRead", "Macintosh", "ASExtra", "PDMetadata", "AcroColorHFT", "Forms"}) {
            Table& t = state.tables[name];
            t.offered = true;
            t.version = std::string(name) == "Forms" ? v(1, 2) : v(9, 0);
        }
        auto& core = state.tables["Core"].entries;
        core[ASAtomFromStringSEL] = reinterpret_cast<void*>(&fakeAtomFromString);
        core[ASAtomGetStringSEL] = reinterpret_cast<void*>(&fakeAtomGetString);
        core[ASExtensionMgrGetHFTSEL] = reinterpret_cast<void*>(&fakeGetHFT);
        core[ASPushExceptionFrameSEL] = reinterpret_cast<void*>(&fakePush);
        core[ASPopExceptionFrameSEL] = reinterpret_cast<void*>(&fakePop);
        core[ASRaiseSEL] = reinterpret_cast<void*>(&fakeRaise);
        core[ASGetExceptionErrorCodeSEL] = reinterpret_cast<void*>(&fakeErrorCode);
        core[ASCallbackCreateSEL] = reinterpret_cast<void*>(&fakeCallbackCreate);
        auto& support = state.tables["AcroSupport"].entries;
        support[HFTGetVersionSEL] = reinterpret_cast<void*>(&fakeHFTGetVersion);
        support[ASGetErrorStringSEL] = reinterpret_cast<void*>(&fakeErrorString);
        support[ASFileSysCreatePathNameSEL] = reinterpret_cast<void*>(&fakeCreatePath);
        support[ASFileSysReleasePathSEL] = reinterpret_cast<void*>(&fakeReleasePath);
        support[ASGetDefaultFileSysSEL] = reinterpret_cast<void*>(&fakeDefaultFileSys);
        auto& view = state.tables["AcroView"].entries;
        view[AVAppGetActiveDocSEL] = reinterpret_cast<void*>(&fakeActiveDoc);
        view[AVAlertNoteSEL] = reinterpret_cast<void*>(&fakeAlert);
        auto& model = state.tables["PDModel"].entries;
        model[PDDocOpenExSEL] = reinterpret_cast<void*>(&fakeOpenEx);
        model[PDDocGetNumPagesSEL] = reinterpret_cast<void*>(&fakePageCount);
        model[PDDocCloseSEL] = reinterpret_cast<void*>(&fakeClose);
        auto& extra = state.tables["ASExtra"].entries;
        extra[ASTextNewSEL] = reinterpret_cast<void*>(&fakeTextNew);
        extra[ASTextFromEncodedSEL] = reinterpret_cast<void*>(&fakeTextFromEncoded);
        extra[ASTextFromUnicodeSEL] = reinterpret_cast<void*>(&fakeTextFromUnicode);
        extra[ASTextDestroySEL] = reinterpret_cast<void*>(&fakeTextDestroy);
        extra[ASTextCatSEL] = reinterpret_cast<void*>(&fakeTextCat);
        extra[ASTextGetUnicodeSEL] = reinterpret_cast<void*>(&fakeTextGetUnicode);
        model[PDDocCreateWordFinderUCSSEL] = reinterpret_cast<void*>(&fakeCreateFinder);
        model[PDWordFinderAcquireWordListSEL] = reinterpret_cast<void*>(&fakeAcquireWords);
        model[PDWordFinderGetNthWordSEL] = reinterpret_cast<void*>(&fakeNthWord);
        model[PDWordGetASTextSEL] = reinterpret_cast<void*>(&fakeWordText);
        model[PDWordGetAttrSEL] = reinterpret_cast<void*>(&fakeWordAttr);
        model[PDWordFinderReleaseWordListSEL] = reinterpret_cast<void*>(&fakeReleaseWords);
        model[PDWordFinderDestroySEL] = reinterpret_cast<void*>(&fakeDestroyFinder);
        model[PDDocOpenSEL] = reinterpret_cast<void*>(&fakeOpen);
        model[PDDocCreateSEL] = reinterpret_cast<void*>(&fakeCreate);
        model[PDDocInsertPagesSEL] = reinterpret_cast<void*>(&fakeInsert);
    }

    // The whole load sequence, then an open of a (scripted) document.
    void loadAndOpen() {
        HandshakeProc handshake = setUp();
        ASSERT_NE(handshake, nullptr);
        PIHandshakeData_V0200 hs{};
        ASSERT_TRUE(handshake(HANDSHAKE_V0200, &hs));
        ASSERT_TRUE(reinterpret_cast<LifeCycleProc>(hs.importReplaceAndRegisterCallback)());
        ASSERT_TRUE(reinterpret_cast<LifeCycleProc>(hs.initCallback)());
        auto list = NSAppleEventDescriptor::listDescriptor();
        list->insertDescriptor(NSAppleEventDescriptor::descriptorWithString(NSStr("/some/file.pdf")), 0);
        ASSERT_EQ(send(kOpenDocEvent, {{keyList, list}}), kReplyOK);
        loaded = true;
    }

    // Only while the plug-in's tables are this test's may an event be sent.
    void TearDown() override {
        if (!loaded) return;
        send(kCloseDocEvent);
        EXPECT_TRUE(state.frames.empty());
        EXPECT_EQ(state.liveTexts, 0);
    }

    // Entry and set-up as Acrobat runs them; the handshake callback, or null.
    HandshakeProc setUp(ASUns32 version = HANDSHAKE_V0200) {
        ASUns32 answered = 0;
        PISetupSDKProcType setupProc = nullptr;
        EXPECT_TRUE(entry(version, &answered, &setupProc, nullptr));
        if (!setupProc) return nullptr;
        PISDKData_V0200 data{};
        data.handshakeVersion = answered;
        data.extensionID = reinterpret_cast<ExtensionID>(0x40);
        data.coreHFT = state.tables["Core"].hft();
        if (!setupProc(answered, &data)) return nullptr;
        return reinterpret_cast<HandshakeProc>(data.handshakeCallback);
    }

    std::string send(AEEventID id, const std::vector<std::pair<OSType, NSAppleEventDescriptorRef>>& params = {}) {
        auto event = NSAppleEventDescriptor::appleEventWithEventClass(kBridgeEventClass, id, nullptr, -1, 0);
        for (const auto& [key, value] : params) event->setParamDescriptor(value, key);
        auto reply = NSAppleEventDescriptor::appleEventWithEventClass(FourCC("aevt"), FourCC("ansr"), nullptr, -1, 0);
        EXPECT_EQ(NSAppleEventManager::sharedAppleEventManager().dispatchRawAppleEvent(event.get(), reply.get()),
                  noErr);
        auto errs = reply->paramDescriptorForKeyword(keyReplyText);
        return errs && errs->stringValue() ? errs->stringValue()->UTF8String() : std::string("<none>");
    }

    Fake state;
    bool loaded = false;
    static inline void* module = nullptr;
    static inline AcroPluginMainProc entry = nullptr;
};

TEST_F(PluginFrame, EntryAnswersTheSmallerHandshakeVersion) {
    for (auto [offered, expected] :
         {std::pair{v(3, 0), v(2, 0)}, std::pair{v(2, 0), v(2, 0)}, std::pair{v(1, 0), v(1, 0)}}) {
        ASUns32 answered = 0;
        PISetupSDKProcType setupProc = nullptr;
        EXPECT_TRUE(entry(offered, &answered, &setupProc, nullptr));
        EXPECT_EQ(answered, expected);
        EXPECT_NE(setupProc, nullptr);
    }
    EXPECT_EQ(setUp(v(1, 0)), nullptr);  // set-up refuses anything but 2.0
}

TEST_F(PluginFrame, HandshakeNamesTheExtensionAndHandsOverTheCallbacks) {
    HandshakeProc handshake = setUp();
    ASSERT_NE(handshake, nullptr);
    PIHandshakeData_V0200 hs{};
    hs.handshakeVersion = HANDSHAKE_V0200;
    EXPECT_FALSE(handshake(v(1, 0), &hs));
    ASSERT_TRUE(handshake(HANDSHAKE_V0200, &hs));
    EXPECT_STREQ(fakeAtomGetString(hs.extensionName), "TORV:Quillmark");
    ASSERT_NE(hs.exportHFTsCallback, nullptr);
    ASSERT_NE(hs.importReplaceAndRegisterCallback, nullptr);
    ASSERT_NE(hs.initCallback, nullptr);
    ASSERT_NE(hs.unloadCallback, nullptr);
    EXPECT_TRUE(reinterpret_cast<LifeCycleProc>(hs.exportHFTsCallback)());
    EXPECT_TRUE(reinterpret_cast<LifeCycleProc>(hs.unloadCallback)());

    auto import = reinterpret_cast<LifeCycleProc>(hs.importReplaceAndRegisterCallback);
    EXPECT_TRUE(import());
    state.tables["Forms"].offered = false;
    EXPECT_FALSE(import());
    state.tables["Forms"].offered = true;
    state.tables["Forms"].version = v(1, 1);
    EXPECT_FALSE(import());
}

TEST_F(PluginFrame, SetUpNeedsEveryTableAtItsMinimum) {
    EXPECT_NE(setUp(), nullptr);
    state.tables["AcroSupport"].version = v(7, 0);
    EXPECT_EQ(setUp(), nullptr);
    state.tables["AcroSupport"].version = v(9, 0);
    state.tables["PDMetadata"].offered = false;
    EXPECT_EQ(setUp(), nullptr);
}

TEST_F(PluginFrame, FallbackVersionsServeTablesThatDoNotSayTheirVersion) {
    // A table offered only at 4.5 that does not say its version satisfies a
    // minimum of 4.0 (PDSysFont) through the fallback list ...
    state.tables["PDSysFont"].version = v(4, 5);
    state.tables["PDSysFont"].saysVersion = false;
    EXPECT_NE(setUp(), nullptr);
    // ... but not a minimum of 5.0 (Core).
    state.tables["Core"].version = v(4, 5);
    state.tables["Core"].saysVersion = false;
    EXPECT_EQ(setUp(), nullptr);
    // Without version answers at all, AcroSupport cannot be shown to be 8.0.
    state.tables["Core"].version = v(9, 0);
    state.reportVersions = false;
    EXPECT_EQ(setUp(), nullptr);
}

TEST_F(PluginFrame, InitRegistersTheBridgeEventsAndTheGuardEndsRequestsCleanly) {
    state.tables["PDModel"].version = v(6, 0);  // enough for set-up, not for info
    HandshakeProc handshake = setUp();
    ASSERT_NE(handshake, nullptr);
    PIHandshakeData_V0200 hs{};
    ASSERT_TRUE(handshake(HANDSHAKE_V0200, &hs));
    ASSERT_TRUE(reinterpret_cast<LifeCycleProc>(hs.importReplaceAndRegisterCallback)());
    ASSERT_TRUE(reinterpret_cast<LifeCycleProc>(hs.initCallback)());

    auto& manager = NSAppleEventManager::sharedAppleEventManager();
    for (AEEventID id : kAllEvents) EXPECT_TRUE(manager.hasEventHandler(kBridgeEventClass, id)) << std::hex << id;
    EXPECT_FALSE(manager.hasEventHandler(kBridgeEventClass, FourCC("KVZe")));

    EXPECT_EQ(send(kGetNumPagesEvent), kNoDocument);
    auto list = NSAppleEventDescriptor::listDescriptor();
    list->insertDescriptor(NSAppleEventDescriptor::descriptorWithString(NSStr("/some/file.pdf")), 0);
    EXPECT_EQ(send(kOpenDocEvent, {{keyList, list}}), kReplyOK);
    EXPECT_EQ(send(kGetNumPagesEvent), "3");

    // The information calls need PDModel 8.0: an error reply and a note,
    // and the frames are balanced afterwards.
    const std::string info =
        send(kGetDocInfoEvent, {{keyCString, NSAppleEventDescriptor::descriptorWithString(NSStr("Title"))}});
    EXPECT_EQ(info, "Scripted error 9.");
    EXPECT_EQ(state.alerts.size(), 1u);
    EXPECT_TRUE(state.frames.empty());
    EXPECT_EQ(send(kGetNumPagesEvent), "3");

    EXPECT_EQ(send(kCloseDocEvent), kReplyOK);
    EXPECT_EQ(state.closes, 1);
    EXPECT_TRUE(state.frames.empty());
}

TEST_F(PluginFrame, PageTextFollowsTheWordAttributeBitsOnly) {
    loadAndOpen();
    auto page = [&](std::vector<std::pair<std::u16string, ASUns16>> words) {
        state.words = std::move(words);
        return send(kGetTextFromPageEvent, {{keyLong, NSAppleEventDescriptor::descriptorWithInt32(1)}});
    };
    EXPECT_EQ(page({{u"first", 0x0800}, {u"second", 0x8000}, {u"third", 0x8000}}), "first second\rthird\r");
    EXPECT_EQ(page({{u"run", 0}, {u"on", 0}}), "runon");
    EXPECT_EQ(page({{u"both", 0x8800}, {u"x", 0x0001}}), "both \rx");
    EXPECT_EQ(page({}), kReplyNoWords);
    EXPECT_EQ(state.findersDestroyed, 4);
    EXPECT_EQ(state.listsReleased, 4);
    EXPECT_EQ(page({{u"x", 0}}), "x");
    EXPECT_EQ(send(kGetTextFromPageEvent, {{keyLong, NSAppleEventDescriptor::descriptorWithInt32(4)}}),
              kReplyNoSuchPage);
    EXPECT_EQ(send(kGetTextFromPageEvent, {{keyLong, NSAppleEventDescriptor::descriptorWithInt32(0)}}),
              kReplyNoSuchPage);
    EXPECT_EQ(state.findersDestroyed, 5);  // none made for a page out of range
}

TEST_F(PluginFrame, APageTextOfMoreThan65535UnitsIsSentWhole) {
    loadAndOpen();
    state.words.assign(70000, {u"w", 0});
    const std::string text = send(kGetTextFromPageEvent, {{keyLong, NSAppleEventDescriptor::descriptorWithInt32(1)}});
    EXPECT_EQ(text.size(), 70000u);
}

TEST_F(PluginFrame, AppendAnswersByTheLowSixteenBitsOfTheError) {
    loadAndOpen();
    auto path = NSAppleEventDescriptor::descriptorWithString(NSStr("/other.pdf"));
    const std::vector<std::pair<ASErrorCode, std::string>> cases = {
        {ErrBuildCode(ErrSuppressable, ErrSysPDDoc, 40), kAppendNotPermitted},
        {ErrBuildCode(ErrAlways, ErrSysNone, 40), kAppendNotPermitted},
        {ErrBuildCode(ErrSuppressable, ErrSysPDDoc, 47), kAppendNewerFormat},
        {ErrBuildCode(ErrAlways, ErrSysPDDoc, 22), kAppendTooManyPages},
        {ErrBuildCode(ErrAlways, ErrSysNone, 3), kAppendBadParameter},
        {ErrBuildCode(ErrAlways, ErrSysASFile, 2), kAppendNoMemory},
        {ErrBuildCode(ErrAlways, ErrSysPDDoc, 54), kAppendRecoveryFailed},
        {ErrBuildCode(ErrAlways, ErrSysPDDoc, 12), kAppendOtherError},
    };
    for (const auto& [code, expected] : cases) {
        state.openError = code;
        const std::string reply = send(kAppendDocEvent, {{keyCString, path}});
        // The other error carries Acrobat's message for the code after a space.
        if (expected == kAppendOtherError)
            EXPECT_EQ(reply.rfind(expected + " ", 0), 0u) << reply;
        else
            EXPECT_EQ(reply, expected) << std::hex << code;
    }
    state.openError = 0;
    EXPECT_EQ(send(kAppendDocEvent, {{keyCString, path}}), kReplyOK);
    EXPECT_EQ(send(kAppendDocEvent), kAppendOtherError);
    // Pages move only at the save: nothing is inserted yet, and the one good
    // append keeps its source open until the close drops the edit.
    EXPECT_EQ(state.inserts, 0);
    const int closesBefore = state.closes;
    EXPECT_EQ(send(kCloseDocEvent), kReplyOK);
    EXPECT_EQ(state.closes, closesBefore + 2);
}

}  // namespace
