// ASExtra: text objects. An ASText holds UTF-16 code units; it converts from
// host-encoded text (UTF-8 here, whatever the encoding number), from PDF text
// (PDFDocEncoding, or UTF-16BE after a byte-order mark) and back.
//
// Texts are registered while alive, so a destroyed or foreign handle is
// refused (bad parameter) instead of followed.
#include "HostAPI.h"
#include "Program.h"

#include "quill/pdf/PdfText.h"
#include "Unicode.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>

struct _t_ASTextRec {
    std::u16string units;
    std::vector<ASUTF16Val> unicode;  // ASTextGetUnicode's zero-terminated copy
};

namespace acro_host {

namespace {

struct Texts {
    std::mutex mutex;
    std::unordered_set<const _t_ASTextRec*> live;
};

Texts& texts() {
    static Texts* t = new Texts;  // never destroyed: plug-ins may hold texts until exit
    return *t;
}

ASText checked(ASConstText text) {
    Texts& t = texts();
    {
        std::lock_guard lock(t.mutex);
        if (text && t.live.count(text)) return const_cast<ASText>(text);
    }
    raise(GenError(genErrBadParm), "That text object is not valid.");
}

// PDF text as a C string: UTF-16BE after FE FF (ended by a zero unit, so such text must end in two
// zero bytes), else up to the first zero byte (UTF-8 after EF BB BF, or PDFDocEncoding).
std::u16string fromPDText(const char* str) {
    const auto* b = reinterpret_cast<const unsigned char*>(str);
    std::size_t n = 0;
    if (b[0] == 0xFE && b[1] == 0xFF) {
        for (n = 2; b[n] != 0 || b[n + 1] != 0;) n += 2;
    } else {
        n = std::strlen(str);
    }
    return quill::pdf::pdfTextToUtf16(std::string(str, n));
}

ACCB1 ASText ACCB2 impl_ASTextNew(void) {
    return guarded([] { return newText({}); });
}

ACCB1 ASText ACCB2 impl_ASTextFromEncoded(const char* str, ASHostEncoding encoding) {
    if (!str) raise(GenError(genErrBadParm), "A text cannot be made of nothing.");
    return guarded([&] { return newText(quill::unicode::utf8ToUtf16(str)); });
}

ACCB1 ASText ACCB2 impl_ASTextFromUnicode(const ASUTF16Val* ucs, ASUnicodeFormat format) {
    if (!ucs) raise(GenError(genErrBadParm), "A text cannot be made of nothing.");
    return guarded([&] {
        std::u16string units;
        switch (format) {
            case kUTF8:
                return newText(quill::unicode::utf8ToUtf16(reinterpret_cast<const char*>(ucs)));
            case kUTF16HostEndian:
                for (const ASUTF16Val* p = ucs; *p; ++p) units += static_cast<char16_t>(*p);
                return newText(std::move(units));
            case kUTF16BigEndian:
                for (const ASUTF16Val* p = ucs; *p; ++p)
                    units += static_cast<char16_t>(static_cast<ASUTF16Val>((*p >> 8) | (*p << 8)));
                return newText(std::move(units));
            case kUTF32HostEndian:
            case kUTF32BigEndian:
                for (auto p = reinterpret_cast<const std::uint32_t*>(ucs); *p; ++p)
                    quill::unicode::appendUtf16(units, format == kUTF32BigEndian ? __builtin_bswap32(*p) : *p);
                return newText(std::move(units));
            default:
                raise(GenError(genErrBadParm), "That Unicode format is not known.");
        }
    });
}

ACCB1 ASText ACCB2 impl_ASTextFromPDText(const char* str) {
    if (!str) raise(GenError(genErrBadParm), "A text cannot be made of nothing.");
    return guarded([&] { return newText(fromPDText(str)); });
}

ACCB1 void ACCB2 impl_ASTextCat(ASText to, ASConstText from) {
    ASText dst = checked(to);
    ASText src = checked(from);
    guarded([&] {
        if (src != dst)
            dst->units += src->units;
        else
            dst->units += std::u16string(src->units);  // appending a text to itself
    });
}

ACCB1 ASInt32 ACCB2 impl_ASTextCmp(ASConstText str1, ASConstText str2) {
    const int c = checked(str1)->units.compare(checked(str2)->units);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

ACCB1 const ASUTF16Val* ACCB2 impl_ASTextGetUnicode(ASConstText str) {
    ASText t = checked(str);
    return guarded([&] {
        t->unicode.assign(t->units.begin(), t->units.end());
        t->unicode.push_back(0);
        return t->unicode.data();
    });
}

ACCB1 char* ACCB2 impl_ASTextGetPDTextCopy(ASConstText str, ASTArraySize* len) {
    ASText t = checked(str);
    std::string bytes = guarded([&] { return quill::pdf::utf16ToPdfText(t->units); });
    char* copy = mallocCopy(bytes);
    if (len) *len = static_cast<ASTArraySize>(bytes.size());
    return copy;
}

ACCB1 void ACCB2 impl_ASTextDestroy(ASText str) {
    if (!str) return;
    Texts& t = texts();
    {
        std::lock_guard lock(t.mutex);
        if (t.live.erase(str) == 0) {
            program().logWarning("a text object that is not live was destroyed; ignored");
            return;
        }
    }
    delete str;
}

const ProcRegistration reg{ASExtraHFTName,
                           {
                               {ASTextNewSEL, reinterpret_cast<void*>(&impl_ASTextNew)},
                               {ASTextFromEncodedSEL, reinterpret_cast<void*>(&impl_ASTextFromEncoded)},
                               {ASTextFromPDTextSEL, reinterpret_cast<void*>(&impl_ASTextFromPDText)},
                               {ASTextCatSEL, reinterpret_cast<void*>(&impl_ASTextCat)},
                               {ASTextCmpSEL, reinterpret_cast<void*>(&impl_ASTextCmp)},
                               {ASTextGetUnicodeSEL, reinterpret_cast<void*>(&impl_ASTextGetUnicode)},
                               {ASTextGetPDTextCopySEL, reinterpret_cast<void*>(&impl_ASTextGetPDTextCopy)},
                               {ASTextDestroySEL, reinterpret_cast<void*>(&impl_ASTextDestroy)},
                               {ASTextFromUnicodeSEL, reinterpret_cast<void*>(&impl_ASTextFromUnicode)},
                           }};

}  // namespace

std::u16string decodePDText(const char* str) {
    return fromPDText(str);
}

ASText newText(std::u16string units) {
    auto rec = std::make_unique<_t_ASTextRec>();
    rec->units = std::move(units);
    Texts& t = texts();
    std::lock_guard lock(t.mutex);
    t.live.insert(rec.get());
    return rec.release();
}

const std::u16string& textUnits(ASConstText text) {
    return checked(text)->units;
}

void setText(ASText text, std::u16string units) {
    checked(text)->units = std::move(units);
}

void assignText(ASText text, std::u16string_view units) {
    checked(text)->units.assign(units);
}

std::string textUtf8(ASConstText text) {
    return quill::unicode::utf16ToUtf8(checked(text)->units);
}

}  // namespace acro_host
