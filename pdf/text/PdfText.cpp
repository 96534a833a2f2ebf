// PDF text strings: the byte-order marks and language escapes around qpdf's PDFDocEncoding.
#include "quill/pdf/PdfText.h"

#include <qpdf/QUtil.hh>

namespace quill::pdf {

namespace {

constexpr char16_t kReplacement16 = static_cast<char16_t>(quill::unicode::kReplacement);

bool startsWith(const std::string& bytes, const char* mark, std::size_t n) {
    return bytes.size() >= n && bytes.compare(0, n, mark, n) == 0;
}

// Controls have bytes of their own in PDFDocEncoding, but a NUL ends a C string and the others
// are not text a user typed: such text is written as UTF-16.
bool pdfDocCanHold(const std::u16string& units) {
    for (char16_t u : units)
        if (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') return false;
    return true;
}

}  // namespace

std::u16string pdfTextToUtf16(const std::string& bytes) {
    if (startsWith(bytes, "\xFE\xFF", 2)) {
        std::u16string out;
        out.reserve(bytes.size() / 2);
        bool inEscape = false;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto u = static_cast<char16_t>((static_cast<unsigned char>(bytes[i]) << 8) |
                                                 static_cast<unsigned char>(bytes[i + 1]));
            if (u == 0x001B) {
                inEscape = !inEscape;
                continue;
            }
            if (!inEscape) out.push_back(u);
        }
        return out;
    }
    if (startsWith(bytes, "\xEF\xBB\xBF", 3)) return utf8ToUtf16(std::string_view(bytes).substr(3));
    // Every PDFDocEncoding byte is one character of the Basic Multilingual Plane, so the units
    // line up with the bytes. qpdf reads the three bytes the encoding leaves undefined (7F, 9F,
    // AD) as U+FFFD; they are read as the Latin-1 character of the same number, which keeps them.
    std::u16string out = utf8ToUtf16(QUtil::pdf_doc_to_utf8(bytes));
    if (out.size() == bytes.size())
        for (std::size_t i = 0; i < out.size(); ++i)
            if (out[i] == kReplacement16) out[i] = static_cast<unsigned char>(bytes[i]);
    return out;
}

std::string utf16ToPdfText(const std::u16string& units) {
    std::string doc;
    if (pdfDocCanHold(units) && QUtil::utf8_to_pdf_doc(utf16ToUtf8(units), doc, '?')) return doc;
    std::string out = "\xFE\xFF";
    out.reserve(2 + 2 * units.size());
    for (char16_t u : units) {
        out.push_back(static_cast<char>(u >> 8));
        out.push_back(static_cast<char>(u & 0xFF));
    }
    return out;
}

}  // namespace quill::pdf
