// Safe paths: how every part of the system that opens, creates or removes a user's file finds it.
//
// A path is walked one component at a time from "/" (or the working folder), each folder opened
// by descriptor without following links (O_NOFOLLOW), so that what is checked is what is then
// used: the caller works relative to the folder's descriptor. A symbolic link met on the way is
// followed under the kernel's protected_symlinks rule, applied to every component and whatever
// the system's setting: a link in a sticky folder that everyone may write (/tmp's kind) is
// followed only when it belongs to the user or to the folder's owner. Another user's link there
// is a trap (following it would write or remove a file of ours that it names) and the walk stops
// with the link's path in `refusedLink`.
//
// Paths are bytes: nothing here asks for UTF-8. A path may be as long as PATH_MAX allows (and
// longer: no call sees more than one component). Thread-safe; no shared state.
#pragma once

#include <sys/types.h>

#include <string>

namespace quill::safepaths {

// The folder that holds a path's last component, opened, and that component.
struct Walk {
    Walk() = default;
    Walk(Walk&& other) noexcept;
    Walk& operator=(Walk&& other) noexcept;
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;
    ~Walk();

    int folder = -1;          // O_PATH descriptor of the folder, owned; -1 when the walk failed
    std::string name;         // the last component; "." when the path names a folder ("/", "a/")
    std::string folderPath;   // the folder's path as walked, links resolved (for messages and keys)
    int error = 0;            // errno of a failed walk (EACCES for a refused link)
    std::string refusedLink;  // the path of the link not followed, when that stopped the walk
    explicit operator bool() const { return folder >= 0; }
};

enum class LastLink {
    kFollow,  // a link in the last place is followed (under the same rule): open, save
    kKeep,    // the last component is taken as it is, a link included: delete
};

// Walks `path`. An empty path fails with ENOENT. A missing last component is no failure (the
// caller creates it or reports it); a missing folder on the way is (ENOENT, ENOTDIR).
Walk walk(const std::string& path, LastLink last);

// Opens the file `path` names, walked as above, with `flags` (O_NOFOLLOW is added: the last
// component's link was followed by the walk). -1 with errno set on failure; `refusedLink`, when
// given, receives the link that stopped the walk.
int openFile(const std::string& path, int flags, mode_t mode = 0, std::string* refusedLink = nullptr);

// The sentence a refused link gets, naming it.
std::string refusedLinkText(const std::string& link);

}  // namespace quill::safepaths
