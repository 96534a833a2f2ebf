// Program: what the API tables ask of the application that offers them — its log, its document
// windows, how a user's path text becomes a POSIX path, and word of each document opened and
// closed. The application fills it in before the first call reaches a table. The tables name none
// of the application's own units, so the two link one way only: the application on the tables.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "AcroSDK.h"

// A document window (AVDoc): the document it shows and its title. The application keeps the list.
struct _t_AVDoc {
    PDDoc pdDoc = nullptr;
    std::string title;
};

namespace acro_host {

struct Program {
    std::function<void(const std::string&)> logEvent;
    std::function<void(const std::string&)> logWarning;
    std::function<void(const std::string&)> alert;

    // A new active window on doc; takes over the caller's reference when adoptReference.
    std::function<AVDoc(PDDoc doc, const std::string& title, bool adoptReference)> openWindow;
    std::function<AVDoc()> activeWindow;
    std::function<bool(AVDoc)> isWindow;
    std::function<bool(AVDoc)> closeWindow;

    // A path from the text of a POSIX path or of a file URL; none when the text names no path.
    std::function<std::optional<std::string>(const std::string&)> pathFromPOSIXText;
    std::function<std::optional<std::string>(const std::string&)> pathFromURLText;

    // A document is about to be opened; a closed document's objects were just freed.
    std::function<void()> documentOpening;
    std::function<void()> documentFreed;
};

// The application's services. Until it fills them in, logs go nowhere, no window opens and no path
// text is accepted.
Program& program();

}  // namespace acro_host
