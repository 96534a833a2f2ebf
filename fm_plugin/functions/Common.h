// Helpers shared by the calculation functions: results and path buffers.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "../frame/PluginSDK.h"
#include "NSFileManager.h"
#include "NSString.h"
#include "../frame/TextUtils.h"

namespace quill::fm {

inline fmx::LocaleUniquePtr systemLocale() {
    return fmx::LocaleUniquePtr(fmx::Locale::kType_System);
}

// Sets the result to the string's UTF-8 form, read in the native encoding.
inline void setResultUTF8(fmx::Data& result, const NSString& s, const fmx::Locale& locale) {
    fmx::TextUniquePtr t;
    if (s.length() > 0) t->Assign(s.UTF8String().c_str(), fmx::Text::kEncoding_Native);
    result.SetAsText(*t, locale);
}

// Sets the result to the string's UTF-16 units, unchanged.
inline void setResultUnits(fmx::Data& result, const NSString& s, const fmx::Locale& locale) {
    fmx::TextUniquePtr t;
    t->AssignUnicodeWithLength(reinterpret_cast<const fmx::uint16*>(s.units().data()),
                               static_cast<fmx::uint32>(s.length()));
    result.SetAsText(*t, locale);
}

// The parameter's locale, or the system locale when there is no parameter.
inline fmx::LocaleUniquePtr localeOf(const fmx::DataVect& parms, fmx::uint32 index) {
    return index < parms.Size() ? fmx::LocaleUniquePtr(parms.At(index).GetLocale()) : systemLocale();
}

// True when the text holds a NUL character. Acrobat's side keeps texts as C
// strings, so such a value would arrive cut at the NUL: it is refused instead.
inline bool holdsNul(const NSString& s) {
    return s.units().find(u'\0') != std::u16string::npos;
}

// Puts the text in UTF-8 into a path buffer of kPathBufferSize bytes. False
// when it does not fit whole (or holds a NUL, which no path can): such a path
// is refused, never cut.
inline bool copyPathText(const fmx::Text& text, char (&buffer)[kPathBufferSize]) {
    std::u16string units(text.GetSize(), u'\0');
    if (!units.empty()) text.GetUnicode(reinterpret_cast<fmx::uint16*>(units.data()), 0, text.GetSize());
    const std::string utf8 = quill::utf::utf16ToUtf8(units);
    if (utf8.size() + 1 > kPathBufferSize || utf8.find('\0') != std::string::npos) return false;
    text.GetBytes(buffer, kPathBufferSize, 0, text.GetSize(), fmx::Text::kEncoding_UTF8);
    return true;
}

// The string that carries a full path to Acrobat: the path's bytes as the file system holds
// them, so that a folder whose name is no UTF-8 (Latin-1, say) arrives byte for byte.
inline NSString pathString(const char* full) {
    return NSFileManager::defaultManager().stringWithFileSystemRepresentation(full, std::strlen(full));
}

// The full path a path text names, completed as the path check completes it
// (completePath), for the functions that hand a path on without checking it
// first: the receiver then uses the file the check would have looked at. The
// empty text, and a text that cannot be completed, stay as they are (the
// receiver reports them).
// The path travels as a string that keeps its bytes (pathString).
inline NSString fullPathText(const NSString& text) {
    const std::string bytes = text.fileSystemRepresentation();
    if (bytes.empty() || bytes.size() + 1 > kPathBufferSize || bytes.find('\0') != std::string::npos) return text;
    std::string buffer(kPathBufferSize, '\0');
    bytes.copy(buffer.data(), bytes.size());
    std::string full;
    if (completePath(buffer.data(), full) != noErr) return text;
    return pathString(full.c_str());
}

}  // namespace quill::fm
