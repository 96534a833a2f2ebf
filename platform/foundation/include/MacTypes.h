// The basic scalar types and four-character codes shared by every stand-in
// of the Mac platform (Carbon, Core Foundation, Apple Events, Process Manager).
#pragma once

#include <cstdint>

using UInt8 = std::uint8_t;
using SInt8 = std::int8_t;
using UInt16 = std::uint16_t;
using SInt16 = std::int16_t;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using UInt64 = std::uint64_t;
using SInt64 = std::int64_t;
using Boolean = unsigned char;
using OSErr = SInt16;
using OSStatus = SInt32;
using OSType = UInt32;
using FourCharCode = UInt32;
using ResType = FourCharCode;
using Ptr = char*;
using StringPtr = unsigned char*;
using ConstStringPtr = const unsigned char*;
using Str255 = unsigned char[256];  // length byte, then up to 255 characters

// 'abcd' as a FourCharCode: the first character in the high byte.
constexpr FourCharCode FourCC(const char (&s)[5]) {
    return (static_cast<FourCharCode>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<FourCharCode>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<FourCharCode>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<FourCharCode>(static_cast<unsigned char>(s[3]));
}

inline constexpr OSErr noErr = 0;
inline constexpr OSErr paramErr = -50;
inline constexpr OSErr fnfErr = -43;
inline constexpr OSErr memFullErr = -108;
inline constexpr OSErr userCanceledErr = -128;
inline constexpr OSErr procNotFound = -600;
inline constexpr OSErr connectionInvalid = -609;

// File reference: 80 opaque bytes, as the File Manager's. What they hold is
// the File Manager stand-in's business (platform/foundation/Files.h).
struct FSRef {
    UInt8 hidden[80];
};
