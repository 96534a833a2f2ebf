// PDFDocEncoding: the single-byte encoding of PDF text strings, both ways.
#pragma once

#include <optional>
#include <string>

namespace acro_host::pdfdoc {

// Decodes PDFDocEncoding bytes; bytes the encoding leaves undefined are
// read as the Latin-1 character of the same number.
std::u16string decode(const std::string& bytes);

// Encodes UTF-16 text in PDFDocEncoding; nullopt when some character has no
// byte in it (or is a control character other than tab, line feed and
// carriage return).
std::optional<std::string> encode(const std::u16string& units);

}  // namespace acro_host::pdfdoc
