#include "Program.h"

namespace acro_host {

Program& program() {
    static Program services = [] {
        Program p;
        p.logEvent = p.logWarning = p.alert = [](const std::string&) {};
        p.openWindow = [](PDDoc, const std::string&, bool) -> AVDoc { return nullptr; };
        p.activeWindow = []() -> AVDoc { return nullptr; };
        p.isWindow = p.closeWindow = [](AVDoc) { return false; };
        p.pathFromPOSIXText =
            p.pathFromURLText = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
        p.documentOpening = p.documentFreed = [] {};
        return p;
    }();
    return services;
}

}  // namespace acro_host
