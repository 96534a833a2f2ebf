// Windows: the host's document windows (AVDocs). Headless: a window is a
// record of the document it shows; the most recently opened live window is
// the active one.
//
// A window holds one reference to its PDDoc (PDDocHandle.h) and drops it
// when it closes, so a document shown in a window stays open until both the
// window and every other holder let it go. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "AcroSDK.h"
#include "Program.h"

namespace acro_host::windows {

// A new active window on doc; takes over the caller's reference when
// adoptReference, else acquires one of its own.
AVDoc open(PDDoc doc, const std::string& title, bool adoptReference);
// The active window, or null.
AVDoc active();
bool isLive(AVDoc window);
// Closes a live window (unsaved changes stay in its document, which other
// holders may still use) and drops its reference. False for a window that
// is not live.
bool close(AVDoc window);
// Every live window, oldest first.
std::vector<AVDoc> all();

}  // namespace acro_host::windows
