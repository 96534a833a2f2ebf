// File-system functions: deleting a file and the two browse panels. None of
// them needs Acrobat or an open document.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "NSFileManager.h"
#include "NSOpenPanel.h"
#include "NSURL.h"
#include "quill/paths/SafePaths.h"

#include "Common.h"
#include "BrowseForm.h"
#include "../frame/Guard.h"
#include "../frame/Handlers.h"
#include "../frame/PluginError.h"
#include "../link/AcrobatLink.h"

using namespace quill::fm;

NSString quill::fm::browseResult(const NSURL& url) {
    NSStringOrNil volume;
    url.getResourceValue(&volume, NSURLVolumeNameKey, nullptr);
    NSStringOrNil unescaped = url.absoluteString().stringByReplacingPercentEscapesUsingEncoding(NSUTF8StringEncoding);
    NSString path;
    if (unescaped) {
        path = unescaped->substringFromIndex(7);  // "file://"
    } else {
        path = url.path();
        if (url.hasDirectoryPath() && !path.hasSuffix(NSStr("/"))) path = NSString(path.units() + u"/");
    }
    // Without a volume name the plain POSIX path is still a form the path
    // check accepts.
    if (!volume) return path;
    return NSString(volume->units() + path.units());
}

namespace {

// Why the item `name` in the folder `dir` is no file that may be deleted, or null when it is one
// (or is not there, which the removal itself reports). *exists tells which.
const char* notAFile(int dir, const std::string& name, bool* exists) {
    struct stat st {};
    *exists = ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!*exists) return nullptr;
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return nullptr;
    if (S_ISDIR(st.st_mode)) return "The item is a folder, not a file; folders are not deleted.";
    if (S_ISFIFO(st.st_mode)) return "The item is a named pipe, not a file.";
    if (S_ISSOCK(st.st_mode)) return "The item is a socket, not a file.";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "The item is a device, not a file.";
    return "The item is not a file.";
}

void browse(fmx::Data& result, bool folders) {
    std::shared_ptr<NSOpenPanel> panel = NSOpenPanel::openPanel();
    panel->setFloatingPanel(true);
    panel->setCanChooseFiles(!folders);
    panel->setCanChooseDirectories(folders);
    panel->setAllowsMultipleSelection(false);
    if (!folders) panel->setAllowedFileTypes({NSStr("pdf"), NSStr("PDF")});

    NSString chosen;
    if (panel->runModal() == NSModalResponseOK) {
        const std::vector<NSURL> urls = panel->URLs();
        if (!urls.empty()) chosen = browseResult(urls.back());
    }
    setResultUTF8(result, chosen, *systemLocale());
    recordSuccess();
}

}  // namespace

QUILL_FM_HANDLER(Do_Torv_DeletePDF) {
    return guardedHandler("Torv_DeletePDF", result, [&] {
        const NSString path = stringOf(parms.AtAsText(0));
        if (parms.Size() != 1) return setErrorResult(kInvalidParamCount, std::nullopt, result);
        // No path at all: nothing is touched (an empty path would otherwise
        // be taken from the current folder).
        if (path.length() == 0) return setErrorResult(kDeleteFailed, std::nullopt, result);
        if (holdsNul(path)) return setErrorResult(kDeleteFailed, NSStr("The path holds a NUL character."), result);
        // Only files are deleted: a folder (with all it holds), a device, a
        // pipe or a socket is refused. A symbolic link is removed itself, never
        // what it points to.
        // The file removed is the one a relative path names from here. The path is walked
        // component by component and the file removed relative to its folder, so that the folder
        // checked is the folder changed; another user's link planted in a shared folder on the
        // way is not followed (the last component is removed itself, never followed).
        const NSString full = fullPathText(path);
        const std::string posix = full.fileSystemRepresentation();
        const quill::safepaths::Walk at = quill::safepaths::walk(posix, quill::safepaths::LastLink::kKeep);
        if (!at.refusedLink.empty()) {
            const std::string why = "The item was not deleted: " + quill::safepaths::refusedLinkText(at.refusedLink);
            return setErrorResult(kDeleteFailed, NSStr(why), result);
        }
        if (!at && at.error != ENOENT && at.error != ENOTDIR) {
            const std::string why = std::string("The item could not be removed: ") + std::strerror(at.error) + ".";
            return setErrorResult(kDeleteFailed, NSStr(why), result);
        }
        bool exists = false;
        if (const char* refusal = at ? notAFile(at.folder, at.name, &exists) : nullptr)
            return setErrorResult(kDeleteFailed, NSStr(refusal), result);
        if (exists) {
            // unlinkat without AT_REMOVEDIR removes a file or a link and never a folder, even one
            // put in the file's place since it was looked at.
            if (::unlinkat(at.folder, at.name.c_str(), 0) == 0) return setSuccessResult(result);
            const std::string why = std::string("The item could not be removed: ") + std::strerror(errno) + ".";
            return setErrorResult(kDeleteFailed, NSStr(why.c_str()), result);
        }
        // Not there: the file manager's answer carries the system's words.
        NSError* error = nullptr;
        if (NSFileManager::defaultManager().removeItemAtPath(full, &error)) return setSuccessResult(result);
        if (error)
            setErrorResult(kDeleteFailed, error->localizedDescription(), result);
        else
            setErrorResult(kDeleteFailed, std::nullopt, result);
    });
}

QUILL_FM_HANDLER(Do_Torv_FileBrowse) {
    return guardedHandler("Torv_FileBrowse", result, [&] { browse(result, false); });
}

QUILL_FM_HANDLER(Do_Torv_FolderBrowse) {
    return guardedHandler("Torv_FolderBrowse", result, [&] { browse(result, true); });
}
