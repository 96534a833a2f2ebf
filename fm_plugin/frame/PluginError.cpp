// The error-code table, the last-error store and the result functions.
#include "PluginError.h"

#include <cstdio>
#include <string_view>

std::unique_ptr<torv_PluginError> m_pe;

namespace {

struct ErrorText {
    std::int32_t code;
    std::string_view message;
};

// Every code the plug-in records and its message, exactly as users see them.
// The blank after -1117 and -1118 is part of the message; -1116 has none of
// its own and so reads as an undefined code.
constexpr ErrorText kErrorTable[] = {
    {0, "SUCCESS"},
    {-3, "Invalid Number of Parameters"},
    {-4, "Invalid Parameter value(s)"},
    {-200, "Library failed to load"},
    {-300, "The specified file cannot be found"},
    {-301, "The specified file cannot be found"},
    {-302, "The specified folder cannot be accessed"},
    {-400, "System Error"},
    {-998, "Unknown Exception"},
    {-999, "COM Exception"},
    {-1100, "Acrobat could not be found or launched."},
    {-1101, "Field name not found."},
    {-1102, "No PDF open, need to call Torv_OpenPDF."},
    {-1103, "Can't call Torv_OpenPDF when a PDF is open."},
    {-1104, "Acrobat quit while a file was open."},
    {-1105, "Insufficient memory."},
    {-1106, "Could not send AppleScript."},
    {-1107, "Invalid parameter for Get/SetPDFInfo."},
    {-1108, "Invalid page number for GetTextFromPage."},
    {-1109, "GetTextFromPage found no text on specifid page."},
    {-1110, "GetFieldNames found no fields in the open PDF."},
    {-1111, "File is open and can't be deleted."},
    {-1112, "File could not be deleted."},
    {-1113, "Can't append to non-editable PDF."},
    {-1114, "Acrobat reported an error while appending."},
    {-1115, "Error communicating with Vovezudoru: Descriptor not found."},
    {-1117, "Error inserting page(s): "},
    {-1118, "Error deleting page(s): "},
};

constexpr std::string_view kUndefinedMessage = "Undefined Error.";

}  // namespace

NSString messageForErrorCode(std::int32_t code) {
    for (const auto& row : kErrorTable)
        if (row.code == code) return NSStr(row.message);
    return NSStr(kUndefinedMessage);
}

void torv_PluginError::clearError() {
    errorID = 0;
    sysID = 0;
    strError.reset();
    extendedError.reset();
}

void torv_PluginError::setError(std::int32_t code, std::int32_t sysError, const NSStringOrNil& extDesc) {
    clearError();
    errorID = code;
    sysID = sysError;
    if (extDesc) extendedError = *extDesc;
    strError = messageForErrorCode(code);
}

NSString torv_PluginError::getError() const {
    if (!strError) return NSStr("Success");
    if (!extendedError) return *strError;
    std::u16string units = strError->units();
    units += u' ';
    units += extendedError->units();
    return NSString(std::move(units));
}

NSString torv_PluginError::getErrorNumber() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", static_cast<int>(errorID));
    return NSStr(buf);
}

namespace {
void setResultText(fmx::Data& result, std::string_view text) {
    fmx::TextUniquePtr t;
    t->AssignWithLength(text.data(), static_cast<fmx::uint32>(text.size()), fmx::Text::kEncoding_UTF8);
    result.SetAsText(*t, *fmx::LocaleUniquePtr(fmx::Locale::kType_System));
}
}  // namespace

void setSuccessResult(fmx::Data& result) {
    setResultText(result, "0");
    recordSuccess();
}

void setErrorResult(std::int16_t code, const NSStringOrNil& extDesc, fmx::Data& result) {
    setResultText(result, "!!ERROR!!");
    if (m_pe) m_pe->setError(static_cast<std::int32_t>(code), 0, extDesc);
}

void recordSuccess() {
    if (m_pe) m_pe->setError(0, 0, std::nullopt);
}
