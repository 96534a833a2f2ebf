// CFBundle: bundles (folders with Contents/MacOS and Contents/Resources) and
// their localized strings tables, as Core Foundation offers them.
//
// A CFBundleRef is reference-counted: CFBundleCreate hands over one
// reference, CFBundleRetain adds one, CFRelease drops one and frees the
// bundle with the last. The count is atomic; a bundle's strings cache is
// guarded, so one bundle may be read from several threads.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "MacTypes.h"
#include "NSString.h"

struct __CFBundle;
using CFBundleRef = __CFBundle*;

// The bundle at `bundlePath` (a folder); nullptr when it is not a folder.
CFBundleRef CFBundleCreate(const std::string& bundlePath);
CFBundleRef CFBundleRetain(CFBundleRef bundle);
void CFRelease(CFBundleRef bundle);  // null is ignored

// The bundle folder as given to CFBundleCreate, without a trailing "/".
std::string CFBundleGetPath(CFBundleRef bundle);
// Contents/MacOS/<name of the bundle folder without its extension>.
std::string CFBundleGetExecutablePath(CFBundleRef bundle);

// The language whose tables are read: $QUILLMARK_LANG when the bundle has a
// Contents/Resources/<lang>.lproj folder for it, else "en".
std::string CFBundleGetLocalization(CFBundleRef bundle);

// Looks `key` up in Contents/Resources/<lang>.lproj/<tableName>.strings
// (tableName empty: "Localizable"). The file is an Apple strings table in
// UTF-8 or UTF-16 with a byte-order mark. Returns the table's value; when the
// key or the table is missing (or the table cannot be parsed), returns
// `value`, or the key itself when value is nil or empty. A null bundle
// behaves as a bundle without tables. Tables are read once per bundle and kept.
NSString CFBundleCopyLocalizedString(CFBundleRef bundle, const NSString& key, const NSStringOrNil& value,
                                     const NSString& tableName);

namespace quill::strings {
// Parses the text of a strings table. Returns false when it is not one (a
// missing ";" or an unterminated string or comment); `out` is then left empty.
// Later duplicates of a key win.
bool parseStringsTable(std::u16string_view text, std::vector<std::pair<NSString, NSString>>& out);
// Decodes a strings file's bytes: a UTF-16 byte-order mark (either order)
// selects UTF-16, a UTF-8 one is skipped, anything else is read as UTF-8.
std::u16string decodeStringsFile(std::string_view bytes);
}  // namespace quill::strings
