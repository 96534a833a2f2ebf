// Engine errors: an Acrobat-style error code plus one sentence of explanation.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quill::pdf {

// Same packing as the SDK's ErrBuildCode: severity in bits 28-31, system in 16-23, number in 0-15.
constexpr int32_t errCode(int sev, int sys, int num) {
    return static_cast<int32_t>((static_cast<uint32_t>(sev) << 28) | (static_cast<uint32_t>(sys) << 16) |
                                (static_cast<uint32_t>(num) & 0xFFFFu));
}

// Severities and error systems the engine raises with (the SDK's numbering).
namespace err {
constexpr int kSevSuppressable = 2;
constexpr int kSevAlways = 4;
constexpr int kSysGeneral = 0;
constexpr int kSysPDDoc = 3;
constexpr int kSysASFile = 10;

// General system.
constexpr int32_t kGeneral = errCode(kSevAlways, kSysGeneral, 1);
constexpr int32_t kNoMemory = errCode(kSevAlways, kSysGeneral, 2);
constexpr int32_t kBadParm = errCode(kSevAlways, kSysGeneral, 3);
// PDDoc system.
constexpr int32_t kUnableToOpen = errCode(kSevSuppressable, kSysPDDoc, 12);
constexpr int32_t kUnableToWrite = errCode(kSevSuppressable, kSysPDDoc, 14);
constexpr int32_t kUnableToRead = errCode(kSevSuppressable, kSysPDDoc, 17);
constexpr int32_t kUnknownFileType = errCode(kSevSuppressable, kSysPDDoc, 18);
constexpr int32_t kTooManyPages = errCode(kSevSuppressable, kSysPDDoc, 22);
constexpr int32_t kNeedRebuild = errCode(kSevSuppressable, kSysPDDoc, 29);
constexpr int32_t kNeedPassword = errCode(kSevSuppressable, kSysPDDoc, 39);
constexpr int32_t kOpNotPermitted = errCode(kSevSuppressable, kSysPDDoc, 40);
constexpr int32_t kCantUseNewVersion = errCode(kSevSuppressable, kSysPDDoc, 47);
constexpr int32_t kRecoverInsertPages = errCode(kSevSuppressable, kSysPDDoc, 54);
constexpr int32_t kNotValidPage = errCode(kSevSuppressable, kSysPDDoc, 73);
// ASFile system (file-system level failures).
constexpr int32_t kFileNotFound = errCode(kSevAlways, kSysASFile, 7);   // fileErrFNF
constexpr int32_t kFileIsFolder = errCode(kSevAlways, kSysASFile, 14);  // not a plain file
constexpr int32_t kFileAccess = errCode(kSevAlways, kSysASFile, 6);     // permission denied
constexpr int32_t kFileIO = errCode(kSevAlways, kSysASFile, 4);         // read or write failed
constexpr int32_t kDiskFull = errCode(kSevAlways, kSysASFile, 9);       // fileErrDiskFull
}  // namespace err

class Error : public std::runtime_error {
public:
    Error(int32_t code, std::string message) : std::runtime_error(std::move(message)), code_(code) {}
    int32_t code() const { return code_; }

private:
    int32_t code_;
};

}  // namespace quill::pdf
