// Log: the application log. Alert notes and notable events go to syslog and,
// when one is named (--log FILE or $QUILLMARK_ACROBAT_LOG), to a file, one
// line each; alert texts are also kept in memory for alertLog().
//
// Thread-safe.
#pragma once

#include <string>
#include <vector>

namespace acro_host::applog {

// Names the log file (appended to; created 0600). Empty: no file.
void setFile(const std::string& path);
// A notable event.
void event(const std::string& text);
// A problem worth a look (syslog LOG_WARNING).
void warning(const std::string& text);
// An alert note shown to the (absent) user.
void alert(const std::string& text);
// Every alert text so far, oldest first.
std::vector<std::string> alerts();
// Logs the warnings the PDF engine kept since the last call, each at its own level. The one place
// they are logged: after every event, and once more at quit.
void engineWarnings();

}  // namespace acro_host::applog
