// PDF text strings (PDFDocEncoding, or UTF-16BE after FE FF, or UTF-8 after EF BB BF) to and from
// the UTF-16 the API tables speak. The encodings themselves are qpdf's (QUtil) and the tree's text
// unit's; what is left here is the framing: byte-order marks and language escapes.
#pragma once

#include "Unicode.h"

#include <string>

namespace quill::pdf {

// The engine's UTF-8 and UTF-16 conversions are the tree's one text unit.
using quill::unicode::utf16ToUtf8;
using quill::unicode::utf8ToUtf16;

// Decodes PDF text bytes to UTF-16. UTF-16BE units are kept as they are (a lone surrogate too), a
// language escape (ESC tag ESC) is dropped; PDFDocEncoding bytes the encoding leaves undefined
// read as the Latin-1 character of the same number.
std::u16string pdfTextToUtf16(const std::string& bytes);
// PDF text bytes for `units`: PDFDocEncoding when it holds them all (controls other than tab, line
// feed and carriage return excepted), else FE FF + UTF-16BE.
std::string utf16ToPdfText(const std::u16string& units);

}  // namespace quill::pdf
