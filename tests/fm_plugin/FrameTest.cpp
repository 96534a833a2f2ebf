// The plug-in frame through its entry: versions, registration, strings,
// results and the last-error store.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "PluginSession.h"
#include "frame/PluginError.h"

using namespace fmtest;

namespace {

struct Row {
    fmx::int16 id;
    const char* name;
    fmx::int16 min, max;
};
const Row kExpected[] = {
    {150, "Torv_Version", 0, 1},          {152, "Torv_OpenPDF", 1, 1},         {153, "Torv_SetPDFFieldValue", 2, 2},
    {154, "Torv_GetPDFFieldValue", 1, 1}, {155, "Torv_ClosePDF", 0, 0},        {156, "Torv_PrintPDF", 0, 0},
    {157, "Torv_GetPDFInfo", 1, 1},       {158, "Torv_AppendPDF", 1, 1},       {159, "Torv_DeletePDF", 1, 1},
    {160, "Torv_GetNumPages", 0, 0},      {162, "Torv_GetTextFromPage", 1, 1}, {163, "Torv_SaveAsPDF", 1, 1},
    {164, "Torv_GetLastErrorText", 0, 1}, {165, "Torv_SetPDFInfo", 2, 2},      {166, "Torv_SavePDF", 0, 0},
    {170, "Torv_GetFieldNames", 0, 1},    {175, "Torv_FileBrowse", 0, 0},      {176, "Torv_FolderBrowse", 0, 0},
    {177, "Torv_InsertPages", 5, 5},      {171, "Torv_DeletePages", 2, 2},
};

std::u16string getString(PluginSession& s, unsigned char which, fmx::uint64 units, fmx::uint64* answer = nullptr) {
    std::vector<char16_t> buf(units + 4, u'#');
    const fmx::uint64 n = s.send(kFMXT_GetString, 56, which, 1033, units, reinterpret_cast<fmx::uint64>(buf.data()));
    (void)n;
    std::u16string out;
    for (std::size_t i = 0; i < buf.size() && buf[i] != 0; ++i) out += buf[i];
    if (answer) *answer = n;
    return out;
}

}  // namespace

TEST(Entry, InterfaceVersionsOutsideRangeRegisterNothing) {
    for (short version : {49, 256, 0, -1}) {
        PluginSession s;
        EXPECT_EQ(static_cast<fmx::int64>(s.init(version)), -1) << version;
        EXPECT_TRUE(s.registrar.functions.empty()) << version;
    }
    for (short version : {50, 56, 255}) {
        PluginSession s;
        EXPECT_EQ(s.init(version), 56u) << version;
        EXPECT_EQ(s.registrar.functions.size(), 20u);
    }
}

TEST(Entry, RegistersTheTwentyFunctionsInOrderAndShutdownRemovesAll) {
    PluginSession s;
    ASSERT_EQ(s.init(), 56u);
    ASSERT_EQ(s.registrar.functions.size(), std::size(kExpected));
    for (std::size_t i = 0; i < std::size(kExpected); ++i) {
        const auto& got = s.registrar.functions[i];
        EXPECT_EQ(got.id, kExpected[i].id) << i;
        EXPECT_EQ(got.name, kExpected[i].name) << i;
        EXPECT_EQ(got.minArgs, kExpected[i].min) << got.name;
        EXPECT_EQ(got.maxArgs, kExpected[i].max) << got.name;
        EXPECT_EQ(got.flags, 0xFF00u) << got.name;
        EXPECT_EQ(got.prototype.rfind(kExpected[i].name, 0), 0u) << got.prototype;
    }
    EXPECT_EQ(s.registrar.find(152)->prototype, "Torv_OpenPDF ( path )");
    s.shutdown();
    EXPECT_TRUE(s.registrar.functions.empty());
}

TEST(Entry, OtherMessagesChangeNothing) {
    PluginSession s;
    ASSERT_EQ(s.init(), 56u);
    for (unsigned char message : {kFMXT_Idle, kFMXT_DoAppPreferences, kFMXT_SessionShutdown, kFMXT_FileShutdown})
        EXPECT_EQ(s.send(message, 56, 3, 7, 9, 0xABCDEF), 0xABCDEFu) << int(message);
    EXPECT_EQ(s.registrar.functions.size(), 20u);
    EXPECT_EQ(s.callText(kLastError), "Success");
}

TEST(Strings, GetStringAnswersFromTheTable) {
    PluginSession s;
    fmx::uint64 n = 0;
    EXPECT_EQ(getString(s, 131, 1024, &n), u"TORV1nnYnnn");  // 131 is looked up under key 1
    EXPECT_EQ(getString(s, 128, 1024), u"Quillmark");
    EXPECT_EQ(getString(s, 200, 1024), u"");  // missing key
}

TEST(Strings, BufferLimitsNeverCutAText) {
    TempDir dir;
    PluginSession s(makeBundle(dir.path(), "\"Quillmark 128\" = \"12345678\";\n\"Quillmark 129\" = \"123456789\";\n"));
    EXPECT_EQ(getString(s, 128, 10), u"12345678");
    EXPECT_EQ(getString(s, 129, 10), u"");  // 9 units do not fit 10: first unit 0
    EXPECT_EQ(getString(s, 129, 11), u"123456789");
    EXPECT_EQ(getString(s, 128, 1), u"");
}

TEST(Strings, RegistrationNamesStopAtTheParenthesis) {
    TempDir dir;
    PluginSession s(makeBundle(dir.path(),
                               "\"Quillmark 150\" = \"Torv_Version( format )\";\n"
                               "\"Quillmark 152\" = \"Torv_OpenPDF ( path )\";\n"
                               "\"Quillmark 155\" = \"Torv_ClosePDF\";\n"));
    ASSERT_EQ(s.init(), 56u);
    EXPECT_EQ(s.registrar.find(150)->name, "Torv_Version");
    EXPECT_EQ(s.registrar.find(150)->prototype, "Torv_Version( format )");
    EXPECT_EQ(s.registrar.find(152)->name, "Torv_OpenPDF");
    EXPECT_EQ(s.registrar.find(155)->name, "Torv_ClosePDF");
    // Rows without an entry are registered with empty texts all the same.
    ASSERT_NE(s.registrar.find(171), nullptr);
    EXPECT_EQ(s.registrar.find(171)->name, "");
    EXPECT_EQ(s.registrar.functions.size(), 20u);
}

TEST(Results, ErrorTableTexts) {
    const std::pair<int, const char*> table[] = {
        {0, "SUCCESS"},
        {-3, "Invalid Number of Parameters"},
        {-4, "Invalid Parameter value(s)"},
        {-200, "Library failed to load"},
        {-300, "The specified file cannot be found"},
        {-301, "The specified file cannot be found"},
        {-302, "The specified folder cannot be accessed"},
        {-400, "System Error"},
        {-998, "Unknown Exception"},
        {-999, "COM Exception"},
        {-1100, "Acrobat could not be found or launched."},
        {-1101, "Field name not found."},
        {-1102, "No PDF open, need to call Torv_OpenPDF."},
        {-1103, "Can't call Torv_OpenPDF when a PDF is open."},
        {-1104, "Acrobat quit while a file was open."},
        {-1105, "Insufficient memory."},
        {-1106, "Could not send AppleScript."},
        {-1107, "Invalid parameter for Get/SetPDFInfo."},
        {-1108, "Invalid page number for GetTextFromPage."},
        {-1109, "GetTextFromPage found no text on specifid page."},
        {-1110, "GetFieldNames found no fields in the open PDF."},
        {-1111, "File is open and can't be deleted."},
        {-1112, "File could not be deleted."},
        {-1113, "Can't append to non-editable PDF."},
        {-1114, "Acrobat reported an error while appending."},
        {-1115, "Error communicating with Vovezudoru: Descriptor not found."},
        {-1116, "Undefined Error."},
        {-1117, "Error inserting page(s): "},
        {-1118, "Error deleting page(s): "},
        {-1, "Undefined Error."},
        {-1119, "Undefined Error."},
        {5, "Undefined Error."},
    };
    for (const auto& [code, text] : table) EXPECT_EQ(messageForErrorCode(code).UTF8String(), text) << code;
}

TEST(Results, StoreFormsAndParameterForms) {
    PluginSession s;
    ASSERT_EQ(s.init(), 56u);
    // Fresh store.
    EXPECT_EQ(s.lastError(), "Success");
    EXPECT_EQ(s.lastError("number"), "0");
    EXPECT_EQ(s.lastError(""), "Success");

    fmx::Data result;
    setErrorResult(-1102, std::nullopt, result);
    EXPECT_EQ(result.GetAsText().ToUTF8(), "!!ERROR!!");
    EXPECT_EQ(s.lastError(), "No PDF open, need to call Torv_OpenPDF.");
    EXPECT_EQ(s.lastError("TEXT"), "No PDF open, need to call Torv_OpenPDF.");
    EXPECT_EQ(s.lastError("Text"), "No PDF open, need to call Torv_OpenPDF.");
    EXPECT_EQ(s.lastError(" text"), "-1102");
    EXPECT_EQ(s.lastError("texts"), "-1102");
    EXPECT_EQ(s.lastError("1"), "-1102");
    // Repeated calls answer the same; Torv_Version does not touch the store.
    EXPECT_EQ(s.callText(kVersion), "1.0.1.1");
    EXPECT_EQ(s.lastError("number"), "-1102");

    setErrorResult(-1115, NSStr("Descriptor not found."), result);
    EXPECT_EQ(s.lastError(), "Error communicating with Vovezudoru: Descriptor not found. Descriptor not found.");
    setErrorResult(-1117, NSStr("Bad page."), result);
    EXPECT_EQ(s.lastError(), "Error inserting page(s):  Bad page.");
    setErrorResult(-1118, NSStr("x"), result);
    EXPECT_EQ(s.lastError(), "Error deleting page(s):  x");
    setErrorResult(-1116, NSStr("Acrobat's words é."), result);
    EXPECT_EQ(s.lastError(), "Undefined Error. Acrobat's words é.");
    EXPECT_EQ(s.lastError("number"), "-1116");

    // A later outcome replaces the whole record, extended text included.
    setErrorResult(-1102, std::nullopt, result);
    EXPECT_EQ(s.lastError(), "No PDF open, need to call Torv_OpenPDF.");
    setSuccessResult(result);
    EXPECT_EQ(result.GetAsText().ToUTF8(), "0");
    EXPECT_EQ(s.lastError(), "SUCCESS");
    EXPECT_EQ(s.lastError("n"), "0");
}

TEST(Results, VersionForms) {
    PluginSession s;
    ASSERT_EQ(s.init(), 56u);
    EXPECT_EQ(s.callText(kVersion), "1.0.1.1");
    EXPECT_EQ(s.callText(kVersion, {Param{"long"}}), "Quillmark 1.0.1.1");
    EXPECT_EQ(s.callText(kVersion, {num("0")}), "Quillmark 1.0.1.1");
    EXPECT_EQ(s.callText(kVersion, {Param{""}}), "Quillmark 1.0.1.1");
}

TEST(Bundle, ExportsOnlyTheEntry) {
    const std::string exe = PluginSession::builtBundle() + "/Contents/MacOS/QuillmarkFM";
    void* handle = dlopen(exe.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_NE(dlsym(handle, "FMExternCallProc"), nullptr);
    for (const char* hidden : {"gFMX_ExternCallPtr", "m_pe", "_ZN5quill2fm11acrobatLinkEv", "AcrobatReady"})
        EXPECT_EQ(dlsym(handle, hidden), nullptr) << hidden;
    dlclose(handle);
}
