// PluginSession: the real QuillmarkAcro bundle loaded into an in-process
// acrobat-host Application, bridge events dispatched straight to it, and the
// PDFs the tests work on (fixture copies and small generated forms).
//
// One Application per test program: the plug-in keeps its working document
// in process globals, so every test starts from reset().
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BridgeProtocol.h"
#include "Slurp.h"
#include "TempDir.h"
#include "NSAppleEventDescriptor.h"

namespace acro_host {
class Application;
}

namespace quilltest {

// The tests speak the bridge by its names.
using namespace quill::bridge;

struct Reply {
    bool present = false;  // the reply has an errs parameter
    DescType type = 0;     // its descriptor type
    std::vector<std::uint8_t> bytes;
    std::u16string units;  // the text, from the raw units or the string
    std::string utf8() const;
};

// Starts the Application (once per program) with the plug-ins of the build
// tree; `lowerVersions` offers the named tables at lower versions.
acro_host::Application& application(const std::map<std::string, std::uint32_t>& lowerVersions = {});

// Closes every window and sends the close event, so no document is held.
void reset();

// Sends bridge event `eventID` with the given parameters.
Reply send(AEEventID eventID, const std::vector<std::pair<AEKeyword, NSAppleEventDescriptorRef>>& params = {});

NSAppleEventDescriptorRef text(const std::string& utf8);
NSAppleEventDescriptorRef number(std::int32_t v);
NSAppleEventDescriptorRef boolean(bool v);
NSAppleEventDescriptorRef list(const std::vector<NSAppleEventDescriptorRef>& items);

// Convenience requests.
Reply open(const std::filesystem::path& pdf);
std::string pageCount();

// A temporary folder for one test, removed at the end.
class TempDir {
public:
    const std::filesystem::path& path() const { return dir_.path; }
    // Copies the named fixture PDF into the folder (under `as` when given).
    std::filesystem::path fixture(const std::string& name, const std::string& as = {}) const;

private:
    quill::testsupport::TempDir dir_{"acroplug"};
};

// A PDF with `pages` pages, page N showing the text "Page N".
void writePages(const std::filesystem::path& out, int pages);

// A one-page form exercising the walk's rules (see PluginSession.cpp for its
// field tree).
void writeWalkForm(const std::filesystem::path& out);

// A page with two lines of text: "Hello World" and "Second line".
void writeTextPage(const std::filesystem::path& out);

using quill::testsupport::slurp;
int qpdfPageCount(const std::filesystem::path& file);
// The value of the first field named `fullName`, as read by libqpdf.
std::string qpdfFieldValue(const std::filesystem::path& file, const std::string& fullName);

}  // namespace quilltest
