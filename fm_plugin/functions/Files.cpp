// File-system functions: deleting a file and the two browse panels. None of
// them needs Acrobat or an open document.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "NSFileManager.h"
#include "NSOpenPanel.h"
#include "NSURL.h"

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

// Why the item at the path is no file that may be deleted, or null when it is
// one (or is not there, which the removal itself reports). *exists tells which.
const char* notAFile(const std::string& path, bool* exists) {
    struct stat st {};
    *exists = ::lstat(path.c_str(), &st) == 0;
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
        // The file removed is the one a relative path names from here.
        const NSString full = fullPathText(path);
        const std::string posix = full.UTF8String();
        bool exists = false;
        if (const char* refusal = notAFile(posix, &exists))
            return setErrorResult(kDeleteFailed, NSStr(refusal), result);
        if (exists) {
            // unlink removes a file or a link and never a folder, even one put
            // in the file's place since it was looked at.
            if (::unlink(posix.c_str()) == 0) return setSuccessResult(result);
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
