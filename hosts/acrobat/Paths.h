// Paths: how the host turns the path texts a plug-in hands over into POSIX
// paths.
//
// A "CFURLRef" text is a URL: "file://" followed by an absolute path, or a
// percent-escaped path. A path that is not absolute is read the way the
// FileMaker side checks paths: without any "/", ":" separates the parts; "~"
// starts in the home folder; a bare name sits at the root; anything else
// begins with a volume name, found through the volume table. Escapes decode
// as UTF-8; unescaped characters outside ASCII are taken as they are.
#pragma once

#include <optional>
#include <string>

namespace acro_host::paths {

// The POSIX path a URL text names; nullopt when the text is empty, holds a
// malformed escape or invalid UTF-8, or is a URL of another scheme.
std::optional<std::string> fromURLText(const std::string& text);

// The POSIX path of an unescaped path text in one of the FileMaker-side forms.
std::string fromUserPath(std::string path);

// The POSIX path of a "POSIXPath" text: absolute as it is (a "/Volumes/<name>"
// prefix through the volume table), relative ones from the current folder.
// The text is bytes (no UTF-8 asked for), at most PATH_MAX - 1 of them.
std::optional<std::string> fromPOSIXText(const std::string& text);

// The user's home folder ($HOME, else the password database's).
std::string homeFolder();

}  // namespace acro_host::paths
