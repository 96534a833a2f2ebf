// InstallFolders: where the system's own folders are found at run time — the
// plug-in folders (Extensions, Plug-ins) and the Applications folder — so
// that an installed tree can be moved and the build tree works unchanged.
//
// Nothing here is compiled in: the places are worked out from the running
// program and the environment on every call. Thread-safe (reads only).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quill::install {

// The folder of the running program (/proc/self/exe, links resolved); empty
// when the kernel does not say.
std::string programFolder();

// The places to look for the system folder `name` ("Extensions", "Plug-ins",
// "Applications"), in order:
//   1. beside the program in `programDir`: <prefix>/lib/quillmark/<name> for
//      a program in <prefix>/bin (an installed tree), then <programDir>/../<name>
//      (the build tree: build/bin beside build/<name>);
//   2. $XDG_DATA_HOME/quillmark/<name>, default ~/.local/share/quillmark/<name>;
//   3. <dir>/quillmark/<name> for each dir of $XDG_DATA_DIRS, default
//      /usr/local/share:/usr/share.
// Relative XDG entries are ignored, as the XDG base-directory rules say.
// Whether a place exists is not checked. An empty programDir skips step 1.
std::vector<std::string> searchFolders(std::string_view name, const std::string& programDir);
std::vector<std::string> searchFolders(std::string_view name);  // for programFolder()

// The first of searchFolders(name) that is a folder; empty when none is.
std::string findFolder(std::string_view name);

}  // namespace quill::install
