// NSWorkspace: launching installed applications by bundle identifier.
//
// Installed applications are bundle folders "<Name>.app" found directly in
// the folders listed in $QUILLMARK_APPLICATIONS (colon-separated, searched in
// order, first match wins). Without it: the Applications folder beside the
// running program (<prefix>/lib/quillmark/Applications of an installed tree,
// build/Applications of the build tree), then the XDG data folders
// (~/.local/share/quillmark/Applications, ...); see InstallFolders.h.
//
// Bundle format:
//   <Name>.app/Contents/Info           text, one "key=value" per line; blank
//                                      lines and lines starting with "#" are
//                                      ignored, white space around key and
//                                      value is trimmed. Keys:
//       CFBundleIdentifier=com.example.App     required
//       CFBundleExecutable=App                 required; a plain file name
//       CFBundleName=App                       optional (default: <Name>)
//       CFBundleSignature=CARO                 optional creator code
//   <Name>.app/Contents/MacOS/<CFBundleExecutable>   the executable
//
// Launching starts the executable with no arguments, detached (own session,
// stdin /dev/null, stdout and stderr appended to <runtime folder>/<bundle
// identifier>.log), with this process's environment plus
// QUILLMARK_BUNDLE_PATH=<the .app folder>. No shell is involved. The
// application is expected to call quill::process::registerApplication with
// the same bundle identifier and then run quill::ae::RunLoop::main().run().
//
// Launches of one application take turns across the user's processes (a lock
// file "launch.<identifier>.lock" in the runtime folder), so launches at the
// same moment start one instance and all answer for it.
//
// Thread-safe; the launch blocks the calling thread (at most 15 s, the wait
// for its turn included).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "NSAppleEventDescriptor.h"
#include "NSString.h"

using NSWorkspaceLaunchOptions = unsigned long;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAndPrint = 0x2;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchWithErrorPresentation = 0x40;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchInhibitingBackgroundOnly = 0x80;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchWithoutAddingToRecents = 0x100;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchWithoutActivation = 0x200;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAsync = 0x10000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAllowingClassicStartup = 0x20000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchPreferringClassic = 0x40000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchNewInstance = 0x80000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAndHide = 0x100000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAndHideOthers = 0x200000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchDefault = NSWorkspaceLaunchAsync;

namespace quill::process {
struct InstalledApplication {
    std::string bundlePath;  // the .app folder
    std::string bundleIdentifier;
    std::string executable;  // full path of Contents/MacOS/<exe>
    std::string name;
};
// The folders searched, in order.
std::vector<std::string> applicationFolders();
// The first installed application with that identifier.
std::optional<InstalledApplication> findInstalledApplication(const std::string& bundleIdentifier);
}  // namespace quill::process

class NSWorkspace {
public:
    static NSWorkspace& sharedWorkspace();

    // YES at once when a registered live application has that identifier
    // (unless NSWorkspaceLaunchNewInstance); otherwise starts the installed
    // application and answers YES once it has registered and accepts
    // connections (NSWorkspaceLaunchAsync: once it has been started), NO when
    // it is not installed, cannot be started, or is not up within 15 s.
    // additionalEventParamDescriptor, when it is an Apple event, is sent to
    // the application (without waiting for a reply) once it is up. The
    // launch identifier is unused.
    bool launchAppWithBundleIdentifier(const NSString& bundleIdentifier, NSWorkspaceLaunchOptions options,
                                       const NSAppleEventDescriptorRef& additionalEventParamDescriptor,
                                       void* launchIdentifier);

private:
    NSWorkspace() = default;
};
