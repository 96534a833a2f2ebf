// Test support: QuillmarkFM driven through FMExternCallProc with a recording
// host registrar, and calls of its registered functions.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "CFBundle.h"
#include "FMWrapper.h"

namespace fmtest {

struct Registration {
    fmx::int16 id;
    std::string name;
    std::string prototype;
    fmx::int16 minArgs;
    fmx::int16 maxArgs;
    fmx::uint32 flags;
    fmx::ExtPluginType function;
};

class RecordingRegistrar : public fmx::host::Registrar {
public:
    std::vector<Registration> functions;
    fmx::errcode registerFunction(const fmx::QuadChar& pluginId, fmx::int16 functionId, const fmx::Text& name,
                                  const fmx::Text& prototype, const fmx::Text& description, fmx::int16 minArgs,
                                  fmx::int16 maxArgs, fmx::uint32 flags, fmx::ExtPluginType function) override;
    fmx::errcode unregisterFunction(const fmx::QuadChar& pluginId, fmx::int16 functionId) override;
    const Registration* find(fmx::int16 id) const;
};

// A calculation parameter: text, or a number given as its text.
struct Param {
    std::string text;
    bool number = false;
};
inline Param num(std::string s) {
    return Param{std::move(s), true};
}

// The plug-in loaded into a host: the registrar is installed for the
// session's lifetime; the bundle is the built QuillmarkFM bundle unless given.
class PluginSession {
public:
    explicit PluginSession(const std::string& bundlePath = builtBundle());
    ~PluginSession();

    static std::string builtBundle();

    // Sends one message; returns the record's result field afterwards.
    fmx::uint64 send(unsigned char message, short version = 56, unsigned char parm1 = 0, fmx::uint64 parm2 = 0,
                     fmx::uint64 parm3 = 0, fmx::uint64 result = 0);
    fmx::uint64 init(short version = 56) { return send(kFMXT_Init, version); }
    void shutdown() { send(kFMXT_Shutdown); }

    // Calls a registered function; the result data of the call.
    fmx::Data call(fmx::int16 id, const std::vector<Param>& params = {});
    // The result as UTF-8 text.
    std::string callText(fmx::int16 id, const std::vector<Param>& params = {});
    std::string lastError(const std::optional<std::string>& form = std::nullopt);

    RecordingRegistrar registrar;

private:
    CFBundleRef bundle_ = nullptr;
    fmx::host::Registrar* previous_ = nullptr;
    FMX_ExternCallStruct record_{};
};

// Function IDs.
enum : fmx::int16 {
    kVersion = 150,
    kOpenPDF = 152,
    kSetField = 153,
    kGetField = 154,
    kClosePDF = 155,
    kPrintPDF = 156,
    kGetInfo = 157,
    kAppendPDF = 158,
    kDeletePDF = 159,
    kNumPages = 160,
    kPageText = 162,
    kSaveAsPDF = 163,
    kLastError = 164,
    kSetInfo = 165,
    kSavePDF = 166,
    kFieldNames = 170,
    kFileBrowse = 175,
    kFolderBrowse = 176,
    kInsertPages = 177,
    kDeletePages = 171
};

// A temporary folder removed with its contents at the end of its scope.
class TempDir {
public:
    const std::filesystem::path& path() const { return dir_.path; }

private:
    quill::testsupport::TempDir dir_{"quill-fm"};
};

// Writes a bundle with the given strings table text (UTF-8) under dir.
std::string makeBundle(const std::filesystem::path& dir, const std::string& stringsText);

}  // namespace fmtest
