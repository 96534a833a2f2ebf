// Loading the plug-in's texts from its bundle's strings table.
#include "Strings.h"

#include <cstdio>

#include "CFBundle.h"
#include "NSString.h"

namespace {
constexpr std::uint32_t kOptionsStringID = 131;
constexpr std::uint32_t kOptionsTextNumber = 1;
constexpr std::uint32_t kRegistrationBufferUnits = 1024;

CFBundleRef pluginBundle() {
    if (!gFMX_ExternCallPtr) return nullptr;
    return reinterpret_cast<CFBundleRef>(gFMX_ExternCallPtr->instanceID);
}

std::uint32_t textNumberFor(std::uint32_t id) {
    return id == kOptionsStringID ? kOptionsTextNumber : id;
}
}  // namespace

std::uint32_t Sub_OSXLoadString(std::uint32_t number, fmx::unichar16* buffer, std::uint32_t size) {
    if (!buffer || size < 2) return 0;
    char key[32];
    std::snprintf(key, sizeof key, "Quillmark %u", static_cast<unsigned>(number));
    const NSString keyString = NSStr(key);
    const NSString value = CFBundleCopyLocalizedString(pluginBundle(), keyString, keyString, NSStr("Quillmark"));
    if (value.length() == 0 || value == keyString) return 0;
    if (value.length() >= size - 1) return 0;
    const auto& units = value.units();
    for (std::size_t i = 0; i < units.size(); ++i) buffer[i] = units[i];
    buffer[units.size()] = 0;
    return static_cast<std::uint32_t>(units.size());
}

std::uint32_t Do_GetString(std::uint32_t whichString, std::uint32_t /*languageID: the bundle decides*/,
                           std::uint32_t bufferSize, fmx::unichar16* buffer) {
    if (buffer && bufferSize > 0) buffer[0] = 0;
    return Sub_OSXLoadString(textNumberFor(whichString), buffer, bufferSize);
}

void Do_GetString(std::uint32_t functionId, fmx::Text& text, bool nameOnly) {
    fmx::unichar16 buffer[kRegistrationBufferUnits];
    buffer[0] = 0;
    const std::uint32_t n = Sub_OSXLoadString(textNumberFor(functionId), buffer, kRegistrationBufferUnits);
    if (n == 0) buffer[0] = 0;
    text.AssignUnicode(buffer);
    if (!nameOnly) return;
    fmx::TextUniquePtr paren;
    paren->Assign("(");
    fmx::uint32 cut = text.Find(*paren, 0);
    if (cut == fmx::Text::kSize_Invalid) cut = text.GetSize();
    while (cut > 0) {
        fmx::unichar16 c = 0;
        text.GetUnicode(&c, cut - 1, 1);
        if (c != u' ' && c != u'\t') break;
        --cut;
    }
    if (cut < text.GetSize()) text.DeleteText(cut);
}
