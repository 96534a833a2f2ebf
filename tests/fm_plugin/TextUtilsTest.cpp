// Path completion, the digit reader and the small string helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "Files.h"
#include "PluginSession.h"
#include "frame/TextUtils.h"

using fmtest::TempDir;

namespace {

struct Checked {
    OSStatus status;
    std::string buffer;  // the caller's buffer afterwards
    std::string full;
};

Checked check(const std::string& path) {
    char buffer[kPathBufferSize] = {};
    std::memcpy(buffer, path.data(), std::min(path.size(), kPathBufferSize - 1));
    char full[kPathBufferSize] = {};
    FSRef ref;
    Checked c;
    c.status = pathToFSRef(buffer, &ref, full);
    c.buffer = buffer;
    c.full = full;
    return c;
}

class HomeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("HOME");
        if (old) oldHome_ = old;
        setenv("HOME", home_.path().c_str(), 1);
        std::filesystem::create_directories(home_.path() / "Documents");
        std::ofstream(home_.path() / "Documents" / "a.pdf") << "%PDF-1.4\n";
    }
    void TearDown() override {
        if (oldHome_)
            setenv("HOME", oldHome_->c_str(), 1);
        else
            unsetenv("HOME");
    }
    TempDir home_;
    std::optional<std::string> oldHome_;
};

}  // namespace

TEST_F(HomeFixture, PathForms) {
    const std::string home = home_.path().string();
    const std::string file = home + "/Documents/a.pdf";

    // Absolute POSIX path: unchanged.
    Checked c = check(file);
    EXPECT_EQ(c.status, noErr);
    EXPECT_EQ(c.full, file);
    EXPECT_EQ(c.buffer, file);

    // "~/..." and "~..." lead to the same file; the buffer keeps its "~".
    c = check("~/Documents/a.pdf");
    EXPECT_EQ(c.status, noErr);
    EXPECT_EQ(c.full, file);
    EXPECT_EQ(c.buffer, "~/Documents/a.pdf");
    c = check("~Documents/a.pdf");
    EXPECT_EQ(c.status, noErr);
    EXPECT_EQ(c.full, file);
    c = check("~Documents");
    EXPECT_EQ(c.status, noErr);
    EXPECT_EQ(c.full, home + "/Documents");
    c = check("~Documents:a.pdf");  // no "/": colons become slashes first
    EXPECT_EQ(c.status, noErr);
    EXPECT_EQ(c.buffer, "~Documents/a.pdf");

    // Relative paths (a bare name too) are taken from the working folder, as
    // "/" is an application's on the Mac; the empty text is "/" itself.
    const std::string here = std::filesystem::current_path().string();
    c = check("quill-no-such-file.pdf");
    EXPECT_EQ(c.status, fnfErr);
    EXPECT_EQ(c.full, here + "/quill-no-such-file.pdf");
    c = check("quill-no-such-folder/a.pdf");
    EXPECT_EQ(c.status, fnfErr);
    EXPECT_EQ(c.full, here + "/quill-no-such-folder/a.pdf");
    c = check("");
    EXPECT_EQ(c.status, noErr);
    EXPECT_EQ(c.full, "/");

    // Colon path beginning with the volume name.
    const std::string volume = quill::volumes::startupVolumeName();
    std::string colon = volume;
    for (const auto& part : std::filesystem::path(file).relative_path()) colon += ":" + part.string();
    c = check(colon);
    EXPECT_EQ(c.status, noErr) << colon;
    EXPECT_EQ(c.buffer, volume + file);
    EXPECT_EQ(c.full, "/Volumes/" + volume + file);
    // The browse form (volume name, then the POSIX path) is the same thing.
    c = check(volume + file);
    EXPECT_EQ(c.status, noErr);
    EXPECT_EQ(c.full, "/Volumes/" + volume + file);

    // A path with both ":" and "/" keeps its colons.
    c = check(home + "/Documents:a.pdf");
    EXPECT_EQ(c.buffer, home + "/Documents:a.pdf");
    EXPECT_EQ(c.status, fnfErr);
    // An unknown volume is not found.
    EXPECT_EQ(check("No Such Volume:x.pdf").status, fnfErr);
}

TEST_F(HomeFixture, FullPathThatDoesNotFitIsRefusedNotCut) {
    // The working folder makes a relative path just short of the buffer too long for it.
    std::string longPath(kPathBufferSize - 4, 'a');
    longPath[10] = '/';
    char buffer[kPathBufferSize] = {};
    std::memcpy(buffer, longPath.data(), longPath.size());
    char full[kPathBufferSize] = "untouched";
    FSRef ref;
    EXPECT_EQ(pathToFSRef(buffer, &ref, full), pathTooLongErr);
    EXPECT_STREQ(full, "untouched");
}

TEST(TextUtils, ConvertStringToIntReadsDigitsAndStopsEarly) {
    EXPECT_EQ(ConvertStringToInt("2016"), 2016);
    EXPECT_EQ(ConvertStringToInt("07"), 7);
    EXPECT_EQ(ConvertStringToInt(""), 0);
    EXPECT_EQ(ConvertStringToInt("32767"), 32767);
    EXPECT_EQ(ConvertStringToInt("32768"), 32768);      // out of range after the last step
    EXPECT_EQ(ConvertStringToInt("12345678"), 123456);  // stops after the first step out of range
    EXPECT_EQ(ConvertStringToInt("1a"), 59);            // other characters count like digits: 10 + 49
    EXPECT_EQ(ConvertStringToInt("-1"), -29);           // '-' is 45: -3, then -30 + 1
    EXPECT_EQ(ConvertStringToInt("Z"), 42);
}

TEST(TextUtils, LengthPrefixedNamesAndSearch) {
    unsigned char name[256] = {};
    name[0] = 12;
    std::memcpy(name + 1, "Adobe Reader", 12);
    FMp2cstr(name);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "Adobe Reader");
    EXPECT_NE(FMstrstr(reinterpret_cast<char*>(name), "Reader"), nullptr);

    // The longest name fills the whole buffer, terminator included.
    name[0] = 255;
    std::memset(name + 1, 'x', 255);
    FMp2cstr(name);
    EXPECT_EQ(FMstrlen(reinterpret_cast<char*>(name)), 255u);

    name[0] = 0;
    FMp2cstr(name);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "");

    const char* text = "Acrobat Pro";
    EXPECT_EQ(FMstrstr(text, "Pro"), text + 8);
    EXPECT_EQ(FMstrstr(text, "pro"), nullptr);
    EXPECT_EQ(FMstrstr(text, ""), text);
    EXPECT_EQ(FMstrstr(text, nullptr), text);
    EXPECT_EQ(FMstrstr("", "a"), nullptr);
    EXPECT_EQ(FMstrstr(nullptr, "a"), nullptr);
    EXPECT_EQ(FMstrlen(nullptr), 0u);
}
