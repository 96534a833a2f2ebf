// FMWrapper: the FileMaker plug-in framework as a plug-in sees it — the call
// record, the message and version constants, and the fmx value classes.
//
// One library (libFMWrapper) serves both sides: the host links it to build
// call records and values, the plug-in links it to read and write them, just
// as the real framework lives inside the host application.
//
// Value classes are plain C++ values (copyable, no shared state); nothing here
// takes a lock. Registration calls are forwarded to whichever host installed
// itself with fmx::host::setRegistrar (see the end of this file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fmx {

using errcode = short;
using unichar16 = char16_t;
using int16 = std::int16_t;
using uint16 = std::uint16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;
using uchar = unsigned char;
using ptrtype = std::uint64_t;
using unusedid = std::int32_t;  // int32 on LP64

// ---------------------------------------------------------------------------
// QuadChar: four characters naming a plug-in ("TORV").
class QuadChar {
public:
    QuadChar() = default;
    QuadChar(char c0, char c1, char c2, char c3) : chars_{c0, c1, c2, c3} {}
    uchar operator[](int i) const { return static_cast<uchar>(chars_[i & 3]); }
    uchar& operator[](int i) { return reinterpret_cast<uchar&>(chars_[i & 3]); }
    // First character in the high byte, as a four-character code.
    uint32 AsLong() const;
    void SetValue(const QuadChar& other) { *this = other; }
    bool operator==(const QuadChar& other) const;
    bool operator!=(const QuadChar& other) const { return !(*this == other); }
    bool operator<(const QuadChar& other) const { return AsLong() < other.AsLong(); }
    std::string ToString() const { return std::string(chars_, 4); }  // stand-in extra

private:
    char chars_[4] = {0, 0, 0, 0};
};

// ---------------------------------------------------------------------------
// Locale: which collation and formatting rules a value carries. This stand-in
// formats every locale the same way (M/D/YYYY dates, "." decimal point).
class Locale {
public:
    enum Type : uint16 {
        kType_None = 0,
        kType_System = 1,
        kType_UnicodeRaw = 2,
        kType_UnicodeStandard = 3,
        kType_Catalog = 4,
        kType_CAT = 16,
        kType_HRV = 17,
        kType_CES = 18,
        kType_DAN = 19,
        kType_NLD = 20,
        kType_ENG = 21,
        kType_FIN = 22,
        kType_Invalid = 0xFFFF
    };
    Locale(Type type = kType_System) : type_(type) {}
    Type GetType() const { return type_; }
    void Assign(const Locale& other) { type_ = other.type_; }
    bool operator==(const Locale& other) const { return type_ == other.type_; }

private:
    Type type_;
};

// ---------------------------------------------------------------------------
// Text: a run of UTF-16 code units. Positions and sizes count UTF-16 units
// (a character outside the BMP counts two).
class Text {
public:
    enum Encoding {
        kEncoding_Native = 0,  // UTF-8 on this platform
        kEncoding_UTF8 = 1,
        kEncoding_ASCII_DOS = 2,
        kEncoding_ASCII_Windows = 3,
        kEncoding_ASCII_Mac = 4,
        kEncoding_ISO_8859_1 = 5,
        kEncoding_ShiftJIS_Mac = 6,
        kEncoding_ShiftJIS_Win = 7,
        kEncoding_Korean_Mac = 8,
        kEncoding_Korean_Win = 9,
        kEncoding_Korean_Johab = 10,
        kEncoding_ChineseTrad_Mac = 11,
        kEncoding_ChineseTrad_Win = 12,
        kEncoding_ChineseSimp_Mac = 13,
        kEncoding_ChineseSimp_Win = 14,
        kEncoding_Cyrillic_Mac = 15,
        kEncoding_Cyrillic_Win = 16,
        kEncoding_ISO_8859_5 = 17,
        kEncoding_CentralEurope_Mac = 18,
        kEncoding_EasternEurope_Win = 19,
        kEncoding_ISO_8859_2 = 20,
        kEncoding_Turkish_Mac = 21,
        kEncoding_Turkish_Win = 22,
        kEncoding_ISO_8859_3 = 23,
        kEncoding_ISO_8859_9 = 24,
        kEncoding_Baltic_Win = 25,
        kEncoding_ISO_8859_4 = 26,
        kEncoding_Arabic_Mac = 27,
        kEncoding_Arabic_Win = 28,
        kEncoding_ISO_8859_6 = 29,
        kEncoding_Greek_Mac = 30,
        kEncoding_Greek_Win = 31,
        kEncoding_ISO_8859_7 = 32,
        kEncoding_Hebrew_Mac = 33,
        kEncoding_Hebrew_Win = 34,
        kEncoding_ISO_8859_8 = 35,
        kEncoding_ISO_8859_15 = 36
    };
    enum : uint32 { kSize_Invalid = 0xFFFFFFFF, kSize_End = 0xFFFFFFFF };

    Text() = default;

    uint32 GetSize() const { return static_cast<uint32>(units_.size()); }
    // Copies `size` units from `position` (clamped to the text), without a terminator.
    void GetUnicode(unichar16* buffer, uint32 position, uint32 size) const;
    // Converts units [position, position+size) and writes at most bufferSize-1
    // bytes plus a terminating 0 (nothing at all when bufferSize is 0). A
    // character that does not fit whole is left out. ASCII encodings give "?"
    // for characters they cannot hold; ISO 8859-1 holds U+0000..U+00FF; every
    // other encoding is written as UTF-8.
    void GetBytes(char* buffer, uint32 bufferSize, uint32 position = 0, uint32 size = kSize_End,
                  Encoding encoding = kEncoding_Native) const;
    // A NUL-terminated byte string in the given encoding (null: empty text).
    // Invalid UTF-8 becomes U+FFFD.
    void Assign(const char* s, Encoding encoding = kEncoding_Native);
    void AssignWithLength(const char* s, uint32 strlength, Encoding encoding = kEncoding_Native);
    // Zero-terminated UTF-16 (null: empty text).
    void AssignUnicode(const unichar16* s);
    void AssignUnicodeWithLength(const unichar16* s, uint32 strlength);
    // this = the units [position, position+size) of source.
    void SetText(const Text& source, uint32 position = 0, uint32 size = kSize_End);
    void AppendText(const Text& source, uint32 position = 0, uint32 size = kSize_End);
    void InsertText(const Text& source, uint32 position);
    void DeleteText(uint32 position, uint32 size = kSize_End);
    // Position of the first occurrence at or after `position`, or kSize_Invalid.
    uint32 Find(const Text& pattern, uint32 position) const;
    uint32 FindIgnoringCase(const Text& pattern, uint32 position) const;
    void Uppercase();
    void Lowercase();

    // Comparison of raw Unicode values.
    bool operator==(const Text& other) const { return units_ == other.units_; }
    bool operator!=(const Text& other) const { return units_ != other.units_; }
    bool operator<(const Text& other) const { return units_ < other.units_; }

    // Stand-in extras for the host and tests.
    std::u16string_view View() const { return units_; }
    std::string ToUTF8() const;
    static Text FromUTF8(std::string_view utf8);

private:
    std::u16string units_;
};

// ---------------------------------------------------------------------------
// FixPt: a decimal number as the calculation engine keeps it, from 10^-400 to
// beyond 10^400. Sums, differences and products are exact; a quotient, a root
// or a logarithm is carried to `precision` digits after the point (16 unless
// SetPrecision asks for up to 400) and a few guard digits more, so that 1/3*3
// reads back as 1. What the number shows (AsString), compares (== <) and
// converts to (AsLong) is the value rounded to `precision` places, half away
// from zero. A division by zero or a result beyond the range is "not a
// number": AsString answers "?", AsBool false.
class FixPt {
public:
    enum { kDefltFixedPrecision = 16 };
    enum { kMaxFixedPrecision = 400 };  // stand-in extra: SetPrecision's upper limit

    FixPt(int32 val = 0, int32 precision = kDefltFixedPrecision);
    FixPt(const FixPt& other, int32 precision);
    FixPt(const FixPt& other);
    FixPt& operator=(const FixPt& other);
    ~FixPt();

    void AssignFixPt(const FixPt& other);  // the value; this keeps its own precision
    void AssignInt(int32 val);
    void AssignInt64(int64 val);
    void AssignDouble(double val);  // the shortest decimal that reads back as val
    // Parses a decimal number ("-12.50", "3e2"); false (value unchanged) when the text is not one.
    bool AssignText(std::string_view decimal);  // stand-in extra

    // Digits after the point that show, 0 to 400.
    int32 GetPrecision() const { return precision_; }
    void SetPrecision(int32 precision);

    int32 AsLong() const;  // truncates toward zero, saturates at the int32 limits
    int64 AsLong64() const;
    double AsFloat() const;
    bool AsBool() const;
    // Plain decimal form, never an exponent: "12.5", "-3", "0.001",
    // "100000000000000000000"; "?" for not a number.
    std::string AsString() const;  // stand-in extra
    bool IsNumber() const;         // stand-in extra: false after a division by zero or an overflow

    void Increment(int32 n);
    void Increment64(int64 n);
    void Decrement(int32 n);
    void Decrement64(int64 n);
    void Negate();
    void Add(const FixPt& arg, FixPt& result) const;
    void Subtract(const FixPt& arg, FixPt& result) const;
    void Multiply(const FixPt& arg, FixPt& result) const;
    errcode Divide(const FixPt& arg, FixPt& result) const;  // 1 on division by zero (result unchanged)

    bool operator==(const FixPt& other) const;
    bool operator!=(const FixPt& other) const { return !(*this == other); }
    bool operator<(const FixPt& other) const;
    bool operator<=(const FixPt& other) const { return !(other < *this); }
    bool operator>(const FixPt& other) const { return other < *this; }
    bool operator>=(const FixPt& other) const { return !(*this < other); }

private:
    friend struct FixPtAccess;  // libFMWrapper's own number functions (FixPtMath.h)
    // The decimal value itself, a Boost.Multiprecision number kept in place
    // (no allocation per copy); only Number.cpp knows its type.
    enum { kValueBytes = 264 };
    alignas(8) unsigned char value_[kValueBytes];
    int32 precision_ = kDefltFixedPrecision;
};

// ---------------------------------------------------------------------------
// DateTime: a calendar date (proleptic Gregorian, 1/1/0001 .. 12/31/32767; a date
// field holds up to 12/31/4000, a calculation goes on past it) and
// a time of day in microseconds. Day 1 is 1/1/0001.
class DateTime {
public:
    enum { kDateOutOfRange = 1 };  // errcode when a normalized date leaves the range

    DateTime();  // 1/1/0001 00:00:00
    // Out-of-range fields roll over: month 13 is January of the next year,
    // day 0 the last day of the month before, month 0 December of the year before.
    errcode SetNormalizedDate(int16 month, int16 day, int16 year);
    errcode SetNormalizedDate(const FixPt& year, const FixPt& month, const FixPt& day);
    // Whole days of excess hours roll into the date; negative values roll back.
    errcode SetNormalizedTime(int64 hour, int16 minute, int16 sec, int32 usec = 0);
    errcode SetNormalizedTime(const FixPt& hour, const FixPt& minute, const FixPt& sec);
    void SetDaysSinceEpoch(int64 days);
    void SetSecsSinceMidnight(const FixPt& secs);
    void Now();

    int16 GetYear() const;
    int16 GetMonth() const;
    int16 GetDay() const;
    int64 GetDaysSinceEpoch() const { return days_; }
    int32 GetHour() const;
    int16 GetMinute() const;
    int16 GetSec() const;
    int32 GetUSec() const;
    int16 DayOfWeek() const;  // 1 = Sunday
    int16 DayOfYear() const;
    bool IsEqual(const DateTime& other) const { return days_ == other.days_ && usec_ == other.usec_; }
    bool operator==(const DateTime& other) const { return IsEqual(other); }

private:
    int64 days_ = 1;
    int64 usec_ = 0;  // since midnight, 0 .. 86'399'999'999
};

// ---------------------------------------------------------------------------
// Data: one calculation value — text, number or date — with its locale.
// Every form is kept ready, so GetAsText/GetAsNumber/GetAsDate can hand out
// references: a number also reads as its text, a text as the number in it.
class Data {
public:
    enum DataType {
        kDTInvalid = 0,
        kDTText = 1,
        kDTNumber = 2,
        kDTDate = 3,
        kDTTime = 4,
        kDTTimeStamp = 5,
        kDTBinary = 6,
        kDTBoolean = 7
    };

    Data() = default;

    bool IsEmpty() const;
    bool IsValid() const { return type_ != kDTInvalid; }
    // The text as the value; with nativeType kDTNumber or kDTDate the text is
    // also read as that type (a date as M/D/YYYY).
    errcode SetAsText(const Text& text, const Locale& locale, DataType nativeType = kDTText);
    errcode SetAsNumber(const FixPt& number, DataType nativeType = kDTNumber);
    errcode SetAsDate(const DateTime& date, DataType nativeType = kDTDate);
    errcode SetAsTime(const DateTime& time, DataType nativeType = kDTTime);
    errcode SetAsTimeStamp(const DateTime& timeStamp, DataType nativeType = kDTTimeStamp);
    errcode SetAsBoolean(bool value, DataType nativeType = kDTBoolean);
    void Clear(DataType newNativeType = kDTInvalid);

    const Locale& GetLocale() const { return locale_; }
    errcode SetLocale(const Locale& locale) {
        locale_ = locale;
        return 0;
    }
    const Text& GetAsText() const { return text_; }
    const FixPt& GetAsNumber() const { return number_; }
    const DateTime& GetAsDate() const { return date_; }
    const DateTime& GetAsTime() const { return date_; }
    const DateTime& GetAsTimeStamp() const { return date_; }
    bool GetAsBoolean() const { return number_.AsBool(); }
    DataType GetNativeType() const { return type_; }
    void ConvertData(DataType nativeType);

private:
    DataType type_ = kDTInvalid;
    Locale locale_;
    Text text_;
    FixPt number_;
    DateTime date_;
};

// ---------------------------------------------------------------------------
// DataVect: the parameters of one calculation call. Reading past the end
// gives an empty value instead of failing.
class DataVect {
public:
    uint32 Size() const { return static_cast<uint32>(items_.size()); }
    void Clear() { items_.clear(); }
    bool IsEmpty() const { return items_.empty(); }
    void PushBack(const Data& data) { items_.push_back(data); }
    Data* PopBack();  // removes the last item; the copy lives until the next call
    const Data& At(uint32 position) const;
    const Text& AtAsText(uint32 position) const { return At(position).GetAsText(); }
    const FixPt& AtAsNumber(uint32 position) const { return At(position).GetAsNumber(); }
    const DateTime& AtAsDate(uint32 position) const { return At(position).GetAsDate(); }
    bool AtAsBoolean(uint32 position) const { return At(position).GetAsBoolean(); }

private:
    std::vector<Data> items_;
    Data popped_;
};

class ExprEnv;
using ExtPluginType = errcode (*)(int16 functionId, const ExprEnv& env, const DataVect& parms, Data& result);

// ---------------------------------------------------------------------------
// ExprEnv: the calculation environment. Registration goes to the host.
class ExprEnv {
public:
    enum : uint32 {
        kMayEvaluateOnServer = 0x00000001,
        kMacCompatible = 0x00000002,
        kWinCompatible = 0x00000004,
        kServerCompatible = 0x00000008,
        kIOSCompatible = 0x00000010,
        kCustomWebCompatible = 0x00000020,
        kWebDirectCompatible = 0x00000040,
        kAllDeviceCompatible = 0x0000007E,
        kDisplayCalcFields = 0x00000100,
        kDisplayAutoEnter = 0x00000200,
        kDisplayValidation = 0x00000400,
        kDisplayCustomFunctions = 0x00000800,
        kDisplayPrivileges = 0x00001000,
        kDisplayInFuture1 = 0x00002000,
        kDisplayInFuture2 = 0x00004000,
        kDisplayGeneric = 0x00008000,
        kDisplayInAllDialogs = 0x0000FF00,
        kFutureCompatible = 0x00FF007E
    };

    ExprEnv() = default;
    explicit ExprEnv(uint64 sessionId, uint64 fileId = 0) : session_(sessionId), file_(fileId) {}

    // Forwarded to the host's registrar; -1 when no host has installed one.
    errcode RegisterExternalFunction(const QuadChar& pluginId, int16 functionId, const Text& functionName,
                                     const Text& functionPrototype, int16 minArgs, int16 maxArgs,
                                     uint32 compatibleOnFlags, ExtPluginType funcPtr) const;
    errcode RegisterExternalFunctionEx(const QuadChar& pluginId, int16 functionId, const Text& functionName,
                                       const Text& functionPrototype, const Text& functionDescription, int16 minArgs,
                                       int16 maxArgs, uint32 compatibleOnFlags, ExtPluginType funcPtr) const;
    errcode UnRegisterExternalFunction(const QuadChar& pluginId, int16 functionId) const;

    uint64 SessionID() const { return session_; }
    uint64 FileID() const { return file_; }

private:
    uint64 session_ = 0;
    uint64 file_ = 0;
};

inline constexpr uint32 kDisplayInAllDialogs = ExprEnv::kDisplayInAllDialogs;

// ---------------------------------------------------------------------------
// Owning holders with the framework's names (TextUniquePtr text; text->Assign(...)).
template <class T>
class UniquePtrT {
public:
    template <class... A>
    explicit UniquePtrT(A&&... args) : p_(std::make_unique<T>(std::forward<A>(args)...)) {}
    T& operator*() const { return *p_; }
    T* operator->() const { return p_.get(); }
    T* get() const { return p_.get(); }

private:
    std::unique_ptr<T> p_;
};
using TextUniquePtr = UniquePtrT<Text>;
using QuadCharUniquePtr = UniquePtrT<QuadChar>;
using LocaleUniquePtr = UniquePtrT<Locale>;
using FixPtUniquePtr = UniquePtrT<FixPt>;
using DateTimeUniquePtr = UniquePtrT<DateTime>;
using DataUniquePtr = UniquePtrT<Data>;
using DataVectUniquePtr = UniquePtrT<DataVect>;
using ExprEnvUniquePtr = UniquePtrT<ExprEnv>;

// ---------------------------------------------------------------------------
// The host side of registration. A host installs one Registrar before it sends
// the initialise message and keeps it installed until after shut-down; every
// ExprEnv in the process forwards to it. Single-threaded, like the host.
namespace host {
class Registrar {
public:
    virtual ~Registrar() = default;
    virtual errcode registerFunction(const QuadChar& pluginId, int16 functionId, const Text& name,
                                     const Text& prototype, const Text& description, int16 minArgs, int16 maxArgs,
                                     uint32 flags, ExtPluginType function) = 0;
    virtual errcode unregisterFunction(const QuadChar& pluginId, int16 functionId) = 0;
};
// Not owned; null uninstalls. Returns the previous one.
Registrar* setRegistrar(Registrar* registrar);
Registrar* registrar();
}  // namespace host

}  // namespace fmx

// ---------------------------------------------------------------------------
// The call record and its messages (global, as in the framework).

enum FMX_ExternCallSwitch : unsigned char {
    kFMXT_Init = 0,
    kFMXT_Idle = 1,
    kFMXT_External = 3,
    kFMXT_Shutdown = 4,
    kFMXT_DoAppPreferences = 5,
    kFMXT_GetString = 7,
    kFMXT_SessionShutdown = 8,
    kFMXT_FileShutdown = 9
};

enum FMX_Application : unsigned char {
    kFMXT_Developer = 0,
    kFMXT_Pro = 1,
    kFMXT_Runtime = 2,
    kFMXT_Server = 3,
    kFMXT_Web = 4,
    kFMXT_Mobile = 5,
    kFMXT_XDBC = 6,
    kFMXT_SASE = 7,
    kFMXT_IWP = 8,
    kFMXT_FMDAPI = 9
};

enum FMX_IdleLevel : unsigned char {
    kFMXT_UserIdle = 0,
    kFMXT_UserNotIdle = 1,
    kFMXT_ScriptPaused = 2,
    kFMXT_ScriptRunning = 3,
    kFMXT_Unsafe = 4
};

enum FMX_Strings : unsigned {
    kFMXT_NameStr = 128,
    kFMXT_AppConfigStr = 129,
    kFMXT_OptionsStr = 131,
    kFMXT_HelpURLStr = 132
};

enum FMX_ExtnVersions : short {
    kBadExtnVersion = -1,
    kDoNotEnable = -2,
    k40ExtnVersion = 11,
    k41ExtnVersion = 12,
    k50ExtnVersion = 14,
    k60ExtnVersion = 17,
    k70ExtnVersion = 50,
    k80ExtnVersion = 51,
    k110ExtnVersion = 52,
    k120ExtnVersion = 53,
    k130ExtnVersion = 54,
    k140ExtnVersion = 55,
    k150ExtnVersion = 56,
    k160ExtnVersion = 57,
    k170ExtnVersion = 59,
    k180ExtnVersion = 60,
    k190ExtnVersion = 62,
    kCurrentExtnVersion = 56,
    kMinExtnVersion = 4,
    kMaxExtnVersion = 255
};

using FMX_PtrType = std::uint64_t;
using FMX_UInt32 = std::uint32_t;
using FMX_Int32 = std::int32_t;
using FMX_UChar = unsigned char;
using FMX_Char = char;
using FMX_Boolean = char;

enum FMX_ScriptControl : unsigned char { kFMXT_Halt, kFMXT_Exit, kFMXT_Resume, kFMXT_Pause };

struct FMX_ExternCallStruct;
using FMX_ExternCallPtr = FMX_ExternCallStruct*;
using FMX_ExternCallProc = void (*)(FMX_ExternCallPtr);
using FMX_StartScriptCall = fmx::errcode (*)(const fmx::Text* fileName, const fmx::Text* scriptName,
                                             FMX_ScriptControl control, const fmx::Data* parameter);
using FMX_CurrentEnvCall = fmx::errcode (*)(fmx::ExprEnv* env);

// Byte-packed: the layout is shared with plug-ins built elsewhere.
struct __attribute__((packed)) FMX_ExternCallStruct {
    fmx::int16 extnVersion;         // the host's interface version
    fmx::unusedid unusedID;         // always -1
    FMX_ExternCallProc entryPoint;  // the plug-in's FMExternCallProc
    FMX_Boolean unusedFlag;         // always 0
    FMX_UChar whichCall;            // an FMX_ExternCallSwitch
    FMX_Boolean unsafeCalls;        // true when not on the main thread
    FMX_UChar parm1;
    FMX_PtrType parm2;
    FMX_PtrType parm3;
    FMX_PtrType instanceID;  // the plug-in bundle's CFBundleRef
    FMX_PtrType result;      // the plug-in's answer
    FMX_PtrType unused;
    FMX_StartScriptCall cStartScript;
    FMX_CurrentEnvCall cCurrentEnv;
};

static_assert(offsetof(FMX_ExternCallStruct, whichCall) == 15);
static_assert(offsetof(FMX_ExternCallStruct, parm2) == 18);
static_assert(offsetof(FMX_ExternCallStruct, instanceID) == 34);
static_assert(offsetof(FMX_ExternCallStruct, result) == 42);
static_assert(offsetof(FMX_ExternCallStruct, cStartScript) == 58);
static_assert(sizeof(FMX_ExternCallStruct) == 74);

#define FMX_ENTRYPT extern "C" __attribute__((visibility("default")))

// Defined by the plug-in: its one entry, and the record of the latest call.
FMX_ENTRYPT void FMExternCallProc(FMX_ExternCallPtr pb);
extern FMX_ExternCallPtr gFMX_ExternCallPtr;
