// fmx::Data, fmx::DataVect, fmx::ExprEnv and the host registrar.
#include "DateText.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <ctime>

namespace fmx {

using namespace calendar;

// ---------------------------------------------------------------------------
// Data

namespace {

std::string dateText(const DateTime& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d/%d/%04d", d.GetMonth(), d.GetDay(), d.GetYear());
    return buf;
}

// ".5", ".000123": the fraction of a second, without trailing zeros; "" for none.
std::string fractionText(int64 usec) {
    if (usec == 0) return "";
    char buf[16];
    std::snprintf(buf, sizeof buf, ".%06lld", static_cast<long long>(usec));
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    return s;
}

// A time as a duration: "4:14:32", "25:00:00", "-1:30:00", "0:00:01.5".
std::string durationText(int64 usec) {
    const bool neg = usec < 0;
    const std::uint64_t u = neg ? static_cast<std::uint64_t>(-(usec + 1)) + 1 : static_cast<std::uint64_t>(usec);
    const std::uint64_t secs = u / 1'000'000;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%llu:%02llu:%02llu", neg ? "-" : "", static_cast<unsigned long long>(secs / 3600),
                  static_cast<unsigned long long>(secs / 60 % 60), static_cast<unsigned long long>(secs % 60));
    return buf + fractionText(static_cast<int64>(u % 1'000'000));
}

// A time of day on a 12-hour clock, as a timestamp shows it: "1:10:30 PM".
std::string clockText(int64 usec) {
    const int64 secs = usec / 1'000'000;
    const int64 h = secs / 3600;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(h % 12 == 0 ? 12 : h % 12),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    return buf + fractionText(usec % 1'000'000) + (h < 12 ? " AM" : " PM");
}

// Microseconds as a decimal number of seconds.
FixPt secondsOf(int64 usec) {
    FixPt n(0, 6), million(1'000'000), r(0, FixPt::kDefltFixedPrecision);
    n.AssignInt64(usec);
    n.Divide(million, r);
    return r;
}

// The number a text stands for in a calculation: its digits and first
// decimal point. It is negative when a "-" or "(" comes before the first
// digit, unless a period or a digit comes right before that sign.
FixPt numberInText(std::u16string_view text) {
    std::string digits;
    bool neg = false, point = false;
    char16_t before = 0;  // the character before the current one
    for (char16_t c : text) {
        if (isDigit(c)) {
            digits.push_back(static_cast<char>(c));
        } else if (c == u'.' && !point) {
            point = true;
            digits.push_back('.');
        } else if ((c == u'-' || c == u'(') && digits.find_first_of("0123456789") == std::string::npos &&
                   before != u'.' && !isDigit(before)) {
            neg = true;
        }
        before = c;
    }
    FixPt n;
    if (digits.find_first_of("0123456789") != std::string::npos) n.AssignText((neg ? "-" : "") + digits);
    return n;
}

}  // namespace

bool Data::IsEmpty() const {
    return text_.GetSize() == 0;
}

errcode Data::SetAsText(const Text& text, const Locale& locale, DataType nativeType) {
    Clear(nativeType == kDTInvalid ? kDTText : nativeType);
    locale_ = locale;
    text_ = text;
    number_ = numberInText(text.View());
    DateTime d;
    if (DateFromText(text.View(), d)) date_ = d;
    if (nativeType == kDTTime && TimeFromText(text.View(), d)) {
        const Text keep = text;
        SetAsTime(d, kDTTime);
        text_ = keep;
    } else if (nativeType == kDTTimeStamp && TimestampFromText(text.View(), d)) {
        const Text keep = text;
        SetAsTimeStamp(d, kDTTimeStamp);
        text_ = keep;
    }
    locale_ = locale;
    return 0;
}

errcode Data::SetAsNumber(const FixPt& number, DataType nativeType) {
    Clear(nativeType);
    number_ = number;
    text_ = Text::FromUTF8(number.AsString());
    date_.SetDaysSinceEpoch(number.AsLong64());
    return 0;
}

errcode Data::SetAsDate(const DateTime& date, DataType nativeType) {
    Clear(nativeType);
    date_ = date;
    text_ = Text::FromUTF8(dateText(date));
    number_.AssignInt64(date.GetDaysSinceEpoch());
    return 0;
}

namespace {
int64 usecOf(const DateTime& t) {
    return (static_cast<int64>(t.GetHour()) * 3600 + t.GetMinute() * 60 + t.GetSec()) * 1'000'000LL + t.GetUSec();
}
}  // namespace

errcode Data::SetAsTime(const DateTime& time, DataType nativeType) {
    Clear(nativeType);
    date_ = time;
    text_ = Text::FromUTF8(durationText(usecOf(time)));
    number_ = secondsOf(usecOf(time));
    return 0;
}

errcode Data::SetAsTimeStamp(const DateTime& timeStamp, DataType nativeType) {
    Clear(nativeType);
    // The time of day rolls whole days into the date.
    const int64 usec = usecOf(timeStamp);
    const int64 days = timeStamp.GetDaysSinceEpoch() + floorDiv(usec, kUsecPerDay);
    const int64 inDay = floorMod(usec, kUsecPerDay);
    DateTime d;
    d.SetDaysSinceEpoch(days);
    setUsec(d, inDay);
    date_ = d;
    text_ = Text::FromUTF8(dateText(d) + " " + clockText(inDay));
    FixPt daySeconds(0), secs;
    daySeconds.AssignInt64((days - 1) * 86400);
    daySeconds.Add(secondsOf(inDay), secs);
    number_ = secs;
    return 0;
}

errcode Data::SetAsBoolean(bool value, DataType nativeType) {
    Clear(nativeType);
    number_.AssignInt(value ? 1 : 0);
    text_ = Text::FromUTF8(value ? "1" : "0");
    return 0;
}

void Data::Clear(DataType newNativeType) {
    const Locale keep = locale_;
    *this = Data();
    locale_ = keep;
    type_ = newNativeType;
}

void Data::ConvertData(DataType nativeType) {
    const Text text = text_;
    const Locale locale = locale_;
    switch (nativeType) {
        case kDTNumber: {
            const FixPt n = number_;
            SetAsNumber(n);
            break;
        }
        case kDTDate: {
            const DateTime d = date_;
            SetAsDate(d);
            break;
        }
        default:
            SetAsText(text, locale, nativeType);
            break;
    }
    locale_ = locale;
}

// ---------------------------------------------------------------------------
// DataVect

Data* DataVect::PopBack() {
    if (items_.empty()) return nullptr;
    popped_ = items_.back();
    items_.pop_back();
    return &popped_;
}

const Data& DataVect::At(uint32 position) const {
    static const Data empty = [] {
        Data d;
        d.SetAsText(Text(), Locale());
        return d;
    }();
    return position < items_.size() ? items_[position] : empty;
}

// ---------------------------------------------------------------------------
// Registration

namespace host {
namespace {
Registrar* gRegistrar = nullptr;
}
Registrar* setRegistrar(Registrar* registrar) {
    Registrar* previous = gRegistrar;
    gRegistrar = registrar;
    return previous;
}
Registrar* registrar() {
    return gRegistrar;
}
}  // namespace host

errcode ExprEnv::RegisterExternalFunction(const QuadChar& pluginId, int16 functionId, const Text& functionName,
                                          const Text& functionPrototype, int16 minArgs, int16 maxArgs,
                                          uint32 compatibleOnFlags, ExtPluginType funcPtr) {
    return RegisterExternalFunctionEx(pluginId, functionId, functionName, functionPrototype, Text(), minArgs, maxArgs,
                                      compatibleOnFlags, funcPtr);
}

errcode ExprEnv::RegisterExternalFunctionEx(const QuadChar& pluginId, int16 functionId, const Text& functionName,
                                            const Text& functionPrototype, const Text& functionDescription,
                                            int16 minArgs, int16 maxArgs, uint32 compatibleOnFlags,
                                            ExtPluginType funcPtr) {
    host::Registrar* r = host::registrar();
    if (!r) return -1;
    return r->registerFunction(pluginId, functionId, functionName, functionPrototype, functionDescription, minArgs,
                               maxArgs, compatibleOnFlags, funcPtr);
}

errcode ExprEnv::UnRegisterExternalFunction(const QuadChar& pluginId, int16 functionId) {
    host::Registrar* r = host::registrar();
    if (!r) return -1;
    return r->unregisterFunction(pluginId, functionId);
}

}  // namespace fmx
