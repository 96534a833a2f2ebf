// Bundles and strings tables, the volume table and File Manager calls,
// removing items, file URLs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TempDir.h"
#include "CFBundle.h"
#include "Files.h"
#include "NSFileManager.h"
#include "NSURL.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    const fs::path& path() const { return dir_.path; }

private:
    quill::testsupport::TempDir dir_{"quill-found"};
};

void write(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::vector<std::pair<std::string, std::string>> parse(const std::u16string& text, bool* ok = nullptr) {
    std::vector<std::pair<NSString, NSString>> out;
    const bool good = quill::strings::parseStringsTable(text, out);
    if (ok) *ok = good;
    std::vector<std::pair<std::string, std::string>> v;
    for (auto& [k, val] : out) v.emplace_back(k.UTF8String(), val.UTF8String());
    return v;
}

TEST(StringsTable, ReadsTheAppleFormatWithCommentsAndEscapes) {
    const auto v = parse(
        uR"(/* comment */ "a" = "1"; // line comment
bare.key-1 = 'single';
"esc" = "q\"\\\n\t\U00e9\101x";
"alone";
"a" = "2";)");
    ASSERT_EQ(v.size(), 5u);
    EXPECT_EQ(v[1], (std::pair<std::string, std::string>{"bare.key-1", "single"}));
    EXPECT_EQ(v[2].second,
              "q\"\\\n\t\xC3\xA9"
              "Ax");
    EXPECT_EQ(v[3].second, "alone");
    bool ok = true;
    EXPECT_TRUE(parse(u"\"a\" = \"1\"\n\"b\" = \"2\";", &ok).empty());
    EXPECT_FALSE(ok) << "a missing \";\" abandons the whole table";
    parse(u"\"a\" = \"unterminated;", &ok);
    EXPECT_FALSE(ok);
    parse(u"/* open", &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(parse(u"  \n ", &ok).empty());
    EXPECT_TRUE(ok);
}

TEST(StringsTable, DecodesUtf16WithEitherByteOrderAndUtf8) {
    EXPECT_EQ(quill::strings::decodeStringsFile(std::string("\xFF\xFE"
                                                            "a\0\xE9\0",
                                                            6)),
              u"a\u00E9");
    EXPECT_EQ(quill::strings::decodeStringsFile(std::string("\xFE\xFF\0a", 4)), u"a");
    EXPECT_EQ(quill::strings::decodeStringsFile("\xEF\xBB\xBF"
                                                "\xC3\xA9"),
              u"\u00E9");
}

TEST(CFBundle, LooksUpLocalizedStringsAndFallsBackToTheKey) {
    TempDir t;
    const fs::path b = t.path() / "Demo.fmplugin";
    write(b / "Contents/Resources/en.lproj/Demo.strings", "\"Demo 1\" = \"One\";\n\"Empty\" = \"\";");
    static const char fr[] = "\xFF\xFE\"\0D\0e\0m\0o\0 \0001\0\"\0=\0\"\0U\0n\0\"\0;\0";
    write(b / "Contents/Resources/fr.lproj/Demo.strings", std::string(fr, sizeof fr - 1));
    CFBundleRef bundle = CFBundleCreate(b.string());
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(CFBundleGetExecutablePath(bundle), b.string() + "/Contents/MacOS/Demo");
    unsetenv("QUILLMARK_LANG");
    const NSString key = NSStr("Demo 1");
    EXPECT_EQ(CFBundleCopyLocalizedString(bundle, key, key, NSStr("Demo")).UTF8String(), "One");
    EXPECT_EQ(CFBundleCopyLocalizedString(bundle, NSStr("Demo 2"), NSStr("Demo 2"), NSStr("Demo")).UTF8String(),
              "Demo 2");
    EXPECT_EQ(CFBundleCopyLocalizedString(bundle, NSStr("Demo 2"), std::nullopt, NSStr("Demo")).UTF8String(), "Demo 2");
    EXPECT_EQ(CFBundleCopyLocalizedString(bundle, NSStr("Demo 2"), NSStr("dflt"), NSStr("Demo")).UTF8String(), "dflt");
    EXPECT_EQ(CFBundleCopyLocalizedString(bundle, key, key, NSStr("Missing")).UTF8String(), "Demo 1");
    CFBundleRef other = CFBundleCreate(b.string());  // fresh cache
    setenv("QUILLMARK_LANG", "fr", 1);
    EXPECT_EQ(CFBundleCopyLocalizedString(other, key, key, NSStr("Demo")).UTF8String(), "Un");
    setenv("QUILLMARK_LANG", "de", 1);
    EXPECT_EQ(CFBundleGetLocalization(other), "en") << "a language without a folder falls back to English";
    unsetenv("QUILLMARK_LANG");
    CFRelease(CFBundleRetain(other));
    CFRelease(other);
    CFRelease(bundle);
    EXPECT_EQ(CFBundleCreate((t.path() / "nope").string()), nullptr);
    EXPECT_EQ(CFBundleCopyLocalizedString(nullptr, key, key, NSStr("Demo")).UTF8String(), "Demo 1");
}

TEST(Volumes, NamesEveryMountAndResolvesTheVolumeForm) {
    TempDir t;
    fs::create_directories(t.path() / "by-label");
    write(t.path() / "sda1", "");
    fs::create_symlink(t.path() / "sda1", t.path() / "by-label" / "My\\x20Disk");
    const std::string info = "22 1 8:1 / / rw - ext4 " + (t.path() / "sda1").string() +
                             " rw\n"
                             "30 22 0:5 / /media/ann/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
                             "31 22 0:6 / /Volumes/Data rw shared:1 - ext4 /dev/sdc1 rw\n"
                             "32 22 0:7 / /srv/Data rw - ext4 /dev/sdd1 rw\n";
    const auto v = quill::volumes::parseMountInfo(info, (t.path() / "by-label").string());
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].name, "My Disk");
    EXPECT_EQ(v[1].name, "USB STICK");
    EXPECT_EQ(v[1].mountPoint, "/media/ann/USB STICK");
    EXPECT_EQ(v[2].name, "Data");
    EXPECT_EQ(v[3].name, "Data 1");
    const auto unlabeled = quill::volumes::parseMountInfo("1 0 0:1 / / rw - overlay overlay rw\n", t.path().string());
    ASSERT_EQ(unlabeled.size(), 1u);
    EXPECT_EQ(unlabeled[0].name, "Macintosh HD");

    // The live table: the start-up volume resolves to "/".
    const std::string root = quill::volumes::startupVolumeName();
    EXPECT_EQ(quill::volumes::resolveVolumePath("/Volumes/" + root + "/etc/hostname"), "/etc/hostname");
    EXPECT_EQ(quill::volumes::resolveVolumePath("/Volumes/" + root), "/");
    EXPECT_EQ(quill::volumes::resolveVolumePath("/Volumes/no such volume/x"), std::nullopt);
    EXPECT_EQ(quill::volumes::resolveVolumePath("/etc"), std::nullopt);
    EXPECT_TRUE(quill::volumes::volumeNameForPath("/").has_value());
    EXPECT_EQ(quill::volumes::volumeNameForPath("relative"), std::nullopt);
}

TEST(Files, MakesRefsForExistingItemsOnly) {
    TempDir t;
    write(t.path() / "a b.pdf", "x");
    const std::string file = (t.path() / "a b.pdf").string();
    FSRef ref;
    Boolean dir = 9;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(file.c_str()), &ref, &dir), noErr);
    EXPECT_EQ(dir, 0);
    UInt8 buf[1024];
    EXPECT_EQ(FSRefMakePath(&ref, buf, sizeof buf), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), file);
    EXPECT_EQ(FSRefMakePath(&ref, buf, static_cast<UInt32>(file.size())), pathTooLongErr)
        << "no room for the terminator";
    const std::string missing = file + ".gone";
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(missing.c_str()), &ref, nullptr), fnfErr);
    const std::string viaVolume = "/Volumes/" + quill::volumes::startupVolumeName() + file;
    if (quill::volumes::volumeNameForPath(file) == quill::volumes::startupVolumeName()) {
        EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(viaVolume.c_str()), &ref, nullptr), noErr);
    }
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>("/Volumes/NoSuchVolume/x"), &ref, nullptr), fnfErr);

    setenv("HOME", t.path().c_str(), 1);
    FSRef home;
    ASSERT_EQ(FindFolder(kUserDomain, kCurrentUserFolderType, kDontCreateFolder, &home), noErr);
    EXPECT_EQ(FSRefMakePath(&home, buf, sizeof buf), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), t.path().string());
    const std::u16string name = u"a b.pdf";
    FSRef child;
    FSRefParam pb{&home, static_cast<UInt32>(name.size()), reinterpret_cast<const UInt16*>(name.data()), 0, &child, 0};
    EXPECT_EQ(PBMakeFSRefUnicodeSync(&pb), noErr);
    FSRef junk{};
    EXPECT_EQ(FSRefMakePath(&junk, buf, sizeof buf), paramErr);
}

TEST(NSFileManager, RemovesFilesAndFoldersAndExplainsFailures) {
    TempDir t;
    write(t.path() / "f.pdf", "x");
    write(t.path() / "dir/sub/deep.pdf", "x");
    fs::create_symlink(t.path() / "dir", t.path() / "link");
    auto& fm = NSFileManager::defaultManager();
    NSError* error = nullptr;
    EXPECT_TRUE(fm.removeItemAtPath(NSStr((t.path() / "link").string()), &error));
    EXPECT_TRUE(fs::exists(t.path() / "dir/sub/deep.pdf")) << "a link is removed, never followed";
    EXPECT_TRUE(fm.removeItemAtPath(NSStr((t.path() / "f.pdf").string()), &error));
    EXPECT_TRUE(fm.removeItemAtPath(NSStr((t.path() / "dir").string()), &error));
    EXPECT_FALSE(fs::exists(t.path() / "dir"));
    EXPECT_FALSE(fm.removeItemAtPath(NSStr((t.path() / "f.pdf").string()), &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, NSFileNoSuchFileError);
    EXPECT_EQ(error->localizedDescription().UTF8String(),
              "The file \u201C"
              "f.pdf\u201D couldn\u2019t be removed because it doesn\u2019t exist.");
    EXPECT_FALSE(fm.removeItemAtPath(NSStr("Macintosh HD:Users:x.pdf"), static_cast<NSError**>(nullptr)));
    NSErrorPtr owned;
    EXPECT_FALSE(fm.removeItemAtPath(NSString(), &owned));
    ASSERT_TRUE(owned);
}

TEST(NSURL, EscapesPathsMarksFoldersAndNamesVolumes) {
    TempDir t;
    write(t.path() / "My Files/résumé #1.pdf", "x");
    const NSURL file = NSURL::fileURLWithPath(NSStr((t.path() / "My Files/résumé #1.pdf").string()));
    const std::string abs = file.absoluteString().UTF8String();
    EXPECT_EQ(abs, "file://" + t.path().string() + "/My%20Files/r%C3%A9sum%C3%A9%20%231.pdf");
    EXPECT_EQ(NSStr(abs)
                  .substringFromIndex(7)
                  .stringByReplacingPercentEscapesUsingEncoding(NSUTF8StringEncoding)
                  ->UTF8String(),
              (t.path() / "My Files/résumé #1.pdf").string());
    const NSURL folder = NSURL::fileURLWithPath(NSStr((t.path() / "My Files").string()));
    EXPECT_EQ(folder.absoluteString().UTF8String(), "file://" + t.path().string() + "/My%20Files/");
    EXPECT_EQ(folder.path().UTF8String(), (t.path() / "My Files").string());
    EXPECT_EQ(NSURL::fileURLWithPath(NSStr("/")).absoluteString().UTF8String(), "file:///");
    NSStringOrNil volume;
    NSError* error = nullptr;
    ASSERT_TRUE(file.getResourceValue(&volume, NSURLVolumeNameKey, &error));
    ASSERT_TRUE(volume.has_value());
    EXPECT_EQ(volume->UTF8String(), *quill::volumes::volumeNameForPath(t.path().string()));
    const NSURL gone = NSURL::fileURLWithPath(NSStr((t.path() / "gone.pdf").string()));
    EXPECT_FALSE(gone.getResourceValue(&volume, NSURLVolumeNameKey, &error));
    EXPECT_FALSE(volume.has_value());
}

}  // namespace
