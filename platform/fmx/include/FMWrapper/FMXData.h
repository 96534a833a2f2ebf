// FMWrapper/FMXData.h: Data, one calculation value, and its holder.
#pragma once

#include "FMWrapper/FMXClient.h"
#include "FMWrapper/FMXDateTime.h"
#include "FMWrapper/FMXFixPt.h"
#include "FMWrapper/FMXText.h"
#include "FMWrapper/FMXTypes.h"

extern "C++" {
namespace fmx {

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

class DataUniquePtr : public std::unique_ptr<Data> {
public:
    DataUniquePtr() : std::unique_ptr<Data>(new Data()) {}
};

}  // namespace fmx
}
