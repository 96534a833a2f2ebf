// Files: the File Manager calls the plug-ins use (FindFolder, FSPathMakeRef,
// FSRefMakePath, PBMakeFSRefUnicodeSync) and the volume table behind them.
//
// Volumes. Every mounted file system (each line of /proc/self/mountinfo) is a
// volume with a name:
//   - the start-up volume (mounted at "/") is named after its file-system
//     label, found as a /dev/disk/by-label link to its device; when it has
//     none, its name is "Macintosh HD";
//   - every other volume is named by the last component of its mount point
//     ("/media/ann/USB STICK" -> "USB STICK", "/Volumes/Data" -> "Data").
// When several mounts share a name, the later ones are numbered as the
// Finder numbers them ("Data", "Data 1", ...); a mount stacked on an earlier
// mount point hides it.
// "/Volumes/<name>/rest" names <mount point of that volume>/rest, so
// "/Volumes/<start-up name>/Users/ann" is "/Users/ann". When rest already
// begins with the volume's own mount point (the browse form, volume name then
// full path, of an item on a volume other than the start-up volume), rest is
// the full path: "/Volumes/Data/Volumes/Data/a.pdf" is "/Volumes/Data/a.pdf"
// for a volume "Data" mounted at /Volumes/Data. A real folder
// /Volumes/<name> on disk is not consulted: the table decides.
//
// FSRef. An FSRef made here records the full path of an existing item. The
// bytes are only meaningful in the process that made them.
//
// Thread-safe: the volume table is re-read on every call (mounts change).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "MacTypes.h"

inline constexpr SInt16 kOnSystemDisk = -32768;
inline constexpr SInt16 kUserDomain = -32763;
inline constexpr SInt16 kLocalDomain = -32765;
inline constexpr OSType kCurrentUserFolderType = FourCC("cusr");
inline constexpr OSType kDocumentsFolderType = FourCC("docs");
inline constexpr OSType kTemporaryFolderType = FourCC("temp");
inline constexpr Boolean kDontCreateFolder = 0;
inline constexpr Boolean kCreateFolder = 1;

inline constexpr OSErr nsvErr = -35;     // no such volume
inline constexpr OSErr bdNamErr = -37;   // bad name
inline constexpr OSErr dirNFErr = -120;  // folder not found
inline constexpr OSStatus pathTooLongErr = -2110;

// The current user's folders: kCurrentUserFolderType = $HOME (else the
// password database's home); kDocumentsFolderType = <home>/Documents;
// kTemporaryFolderType = $TMPDIR or /tmp. fnfErr when the folder is missing
// (and createFolder is false or creating it fails), paramErr for other types.
OSErr FindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef);

// The item's full POSIX path, NUL-terminated, in at most maxPathSize bytes:
// noErr, pathTooLongErr when it does not fit (nothing written), paramErr for
// a null or foreign ref.
OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);

// A reference to the item at a NUL-terminated UTF-8 path: noErr when it
// exists, fnfErr (-43) when it does not (also for an unknown volume).
// "/Volumes/<name>/..." is resolved through the volume table. Relative paths
// are taken from the current folder. isDirectory may be null.
OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);

// The item named `name` (UTF-16, nameLength units) inside the folder `ref`.
struct FSRefParam {
    const FSRef* ref;
    UInt32 nameLength;
    const UInt16* name;
    UInt32 textEncodingHint;
    FSRef* newRef;
    OSErr ioResult;
};
OSErr PBMakeFSRefUnicodeSync(FSRefParam* paramBlock);

namespace quill::volumes {
struct Volume {
    std::string name;
    std::string mountPoint;
};
// In mount order; names are unique.
std::vector<Volume> mounted();
std::string startupVolumeName();
// "/Volumes/<name>" or "/Volumes/<name>/rest" -> mount point (+ "/rest");
// nullopt for an unknown name or a path outside /Volumes.
std::optional<std::string> resolveVolumePath(const std::string& path);
// The name of the volume holding the absolute path (the longest mount point
// that is a prefix of it); nullopt for a relative path.
std::optional<std::string> volumeNameForPath(const std::string& absolutePath);

// For tests: the same, from the text of a mountinfo file and a by-label folder.
std::vector<Volume> parseMountInfo(const std::string& mountinfoText, const std::string& byLabelDir);
}  // namespace quill::volumes
