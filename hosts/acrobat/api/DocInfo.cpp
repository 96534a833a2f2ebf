// PDModel 8.0 document information: one Info entry read or written as text, over the info engine.
#include "AcroSDK.h"
#include "HostAPI.h"
#include "PDDocHandle.h"

#include "quill/pdf/Document.h"
#include "quill/pdf/Info.h"

namespace {

using acro_host::guarded;

ACCB1 void ACCB2 impl_PDDocGetInfoASText(PDDoc doc, const ASText key, ASText value) {
    guarded([&] {
        auto& d = acro_host::documentOf(doc);
        std::u16string text = quill::pdf::getInfo(d, acro_host::textUnits(key));
        acro_host::setText(value, std::move(text));
    });
}

ACCB1 void ACCB2 impl_PDDocSetInfoAsASText(PDDoc doc, const ASText key, const ASText value) {
    guarded([&] {
        auto& d = acro_host::documentOf(doc);
        quill::pdf::setInfo(d, acro_host::textUnits(key), acro_host::textUnits(value));
    });
}

acro_host::ProcRegistration registration{
    "PDModel",
    {
        {PDDocGetInfoASTextSEL, reinterpret_cast<void*>(&impl_PDDocGetInfoASText)},
        {PDDocSetInfoAsASTextSEL, reinterpret_cast<void*>(&impl_PDDocSetInfoAsASText)},
    }};

}  // namespace
