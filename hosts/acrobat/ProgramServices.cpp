// What the application lends the API tables (api/Program.h): its log, its windows, its path
// rules and its heap. Filled in as the program starts, before any table is called.
#include "HeapTrim.h"
#include "Log.h"
#include "Paths.h"
#include "Program.h"
#include "Windows.h"

namespace acro_host {
namespace {

const bool installed = [] {
    Program& p = program();
    p.logEvent = applog::event;
    p.logWarning = applog::warning;
    p.alert = applog::alert;
    p.openWindow = windows::open;
    p.activeWindow = windows::active;
    p.isWindow = windows::isLive;
    p.closeWindow = windows::close;
    p.pathFromPOSIXText = paths::fromPOSIXText;
    p.pathFromURLText = paths::fromURLText;
    p.documentOpening = heap::documentOpening;
    p.documentFreed = heap::documentFreed;
    heap::configure();
    return true;
}();

}  // namespace
}  // namespace acro_host
