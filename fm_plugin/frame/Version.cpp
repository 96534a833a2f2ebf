// Torv_Version and Torv_GetLastErrorText: the two functions that need neither
// Acrobat nor a document.
#include "Guard.h"
#include "Handlers.h"
#include "PluginError.h"

namespace {
void setText(fmx::Data& result, const NSString& s, const fmx::Locale& locale) {
    fmx::TextUniquePtr t;
    t->AssignUnicodeWithLength(reinterpret_cast<const fmx::uint16*>(s.units().data()),
                               static_cast<fmx::uint32>(s.length()));
    result.SetAsText(*t, locale);
}
}  // namespace

QUILL_FM_HANDLER(Do_Torv_Version) {
    return quill::fm::guardedHandler("Torv_Version", result, [&] {
        // Any parameter, even an empty one, asks for the product string.
        if (parms.Size() == 0)
            setText(result, NSStr(QUILL_VERSION), *fmx::LocaleUniquePtr(fmx::Locale::kType_System));
        else
            setText(result, NSStr("Quillmark " QUILL_VERSION), parms.At(0).GetLocale());
    });
}

QUILL_FM_HANDLER(Do_Torv_GetLastErrorText) {
    return quill::fm::guardedHandler("Torv_GetLastErrorText", result, [&] {
        bool messageForm = true;
        if (parms.Size() > 0 && parms.AtAsText(0).GetSize() > 0) {
            fmx::TextUniquePtr word;
            word->Assign("text");
            const fmx::Text& p = parms.AtAsText(0);
            messageForm = p.GetSize() == word->GetSize() && p.FindIgnoringCase(*word, 0) == 0;
        }
        NSString text;
        if (m_pe) text = messageForm ? m_pe->getError() : m_pe->getErrorNumber();
        setText(result, text, *fmx::LocaleUniquePtr(fmx::Locale::kType_System));
    });
}
