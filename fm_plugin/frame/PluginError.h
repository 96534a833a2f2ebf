// The last-error store of QuillmarkFM and the two result functions that every
// calculation handler ends through.
//
// One process-wide store, m_pe, created by Do_Init and released by
// Do_Shutdown. The host calls the plug-in one call at a time, so no lock.
#pragma once

#include <cstdint>
#include <memory>

#include "PluginSDK.h"
#include "NSString.h"

class torv_PluginError {
public:
    std::int32_t errorID = 0;
    std::int32_t sysID = 0;
    NSStringOrNil strError;
    NSStringOrNil extendedError;

    void clearError();
    void setError(std::int32_t code, std::int32_t sysError, const NSStringOrNil& extDesc);
    // "Success" for a fresh store, else the message, then a blank and the
    // extended text when there is one.
    NSString getError() const;
    NSString getErrorNumber() const;  // "%d" of errorID
};

extern std::unique_ptr<torv_PluginError> m_pe;

// The message of an error code, from the one table of codes.
NSString messageForErrorCode(std::int32_t code);

// "0" (system locale) and code 0 in the store.
void setSuccessResult(fmx::Data& result);
// "!!ERROR!!" (system locale) and the code with its extended text in the store.
void setErrorResult(std::int16_t code, const NSStringOrNil& extDesc, fmx::Data& result);

// Records success (code 0, no extended text) without touching the result;
// for the functions that set their own result text.
void recordSuccess();

namespace quill::fm {
// Named error codes of the table (messages live beside the table only).
enum ErrorCode : std::int16_t {
    kSuccess = 0,
    kInvalidParamCount = -3,
    kInvalidParamValue = -4,
    kFileNotFound = -300,
    kUnknownException = -998,
    kAcrobatNotFound = -1100,
    kFieldNotFound = -1101,
    kNoPDFOpen = -1102,
    kPDFAlreadyOpen = -1103,
    kAcrobatQuit = -1104,
    kInsufficientMemory = -1105,
    kInvalidInfoParam = -1107,
    kInvalidPageNumber = -1108,
    kNoTextOnPage = -1109,
    kNoFields = -1110,
    kDeleteFailed = -1112,
    kAppendNotEditable = -1113,
    kAppendFailed = -1114,
    kCommunication = -1115,
    kUndefined = -1116,
    kInsertPagesFailed = -1117,
    kDeletePagesFailed = -1118,
};
}  // namespace quill::fm
