// NSWorkspace: placeholder until the launcher lands.
#include "NSWorkspace.h"

NSWorkspace& NSWorkspace::sharedWorkspace() {
    static NSWorkspace* ws = new NSWorkspace;
    return *ws;
}
bool NSWorkspace::launchAppWithBundleIdentifier(const NSString&, NSWorkspaceLaunchOptions, const NSAppleEventDescriptorRef&,
                                                void*) {
    return false;
}
namespace quill::process {
std::vector<std::string> applicationFolders() { return {}; }
std::optional<InstalledApplication> findInstalledApplication(const std::string&) { return std::nullopt; }
}  // namespace quill::process
