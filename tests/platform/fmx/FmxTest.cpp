// fmx values: text encodings and buffers, decimal numbers, dates, data, the call record.
#include <gtest/gtest.h>

#include <cstring>

#include "FMWrapper.h"

namespace {

fmx::Text text(const char* utf8) {
    fmx::Text t;
    t.Assign(utf8, fmx::Text::kEncoding_UTF8);
    return t;
}

TEST(Text, GetBytesNeverOverrunsAndAlwaysTerminates) {
    const fmx::Text t = text("h\xC3\xA9llo \xF0\x9F\x98\x80");  // "héllo 😀"
    EXPECT_EQ(t.GetSize(), 8u) << "sizes count UTF-16 units";
    char buf[16];
    std::memset(buf, 'X', sizeof buf);
    t.GetBytes(buf, 4, 0, fmx::Text::kSize_End, fmx::Text::kEncoding_UTF8);
    EXPECT_STREQ(buf, "h\xC3\xA9") << "a character that does not fit whole is left out";
    EXPECT_EQ(buf[4], 'X');
    t.GetBytes(buf, 1);
    EXPECT_STREQ(buf, "");
    t.GetBytes(buf, sizeof buf, 6, 2);
    EXPECT_STREQ(buf, "\xF0\x9F\x98\x80");
    t.GetBytes(buf, sizeof buf, 0, 5, fmx::Text::kEncoding_ASCII_Mac);
    EXPECT_STREQ(buf, "h?llo");
    t.GetBytes(buf, sizeof buf, 40, 3);
    EXPECT_STREQ(buf, "") << "a position past the end gives the empty text";
    t.GetBytes(nullptr, 10);  // no buffer: nothing happens
}

TEST(Text, EditsFindsAndConvertsUnicode) {
    fmx::Text t = text("Hello World");
    EXPECT_EQ(t.Find(text("o"), 5), 7u);
    EXPECT_EQ(t.Find(text("x"), 0), fmx::Text::kSize_Invalid);
    EXPECT_EQ(t.Find(text("o"), 99), fmx::Text::kSize_Invalid);
    EXPECT_EQ(t.FindIgnoringCase(text("WORLD"), 0), 6u);
    EXPECT_EQ(text("ÉCOLE").FindIgnoringCase(text("école"), 0), 0u);
    fmx::Text part;
    part.SetText(t, 6);
    EXPECT_EQ(part.ToUTF8(), "World");
    part.AppendText(t, 0, 5);
    EXPECT_EQ(part.ToUTF8(), "WorldHello");
    part.DeleteText(5);
    EXPECT_EQ(part.ToUTF8(), "World");
    part.SetText(part, 1, 2);  // from itself
    EXPECT_EQ(part.ToUTF8(), "or");
    fmx::unichar16 units[3] = {u'a', u'b', 0};
    part.AssignUnicode(units);
    fmx::unichar16 back[4] = {9, 9, 9, 9};
    part.GetUnicode(back, 1, 50);
    EXPECT_EQ(back[0], u'b');
    EXPECT_EQ(back[1], 9) << "GetUnicode writes no terminator";
    part.Assign(nullptr);
    EXPECT_EQ(part.GetSize(), 0u);
    part.Assign("caf\xE9", fmx::Text::kEncoding_ISO_8859_1);
    EXPECT_EQ(part.ToUTF8(), "caf\xC3\xA9");
    part.Assign("bad \xFF byte");
    EXPECT_EQ(part.ToUTF8(), "bad \xEF\xBF\xBD byte");
}

TEST(FixPt, KeepsDecimalsExactlyAndTruncatesTowardZero) {
    fmx::FixPt n;
    ASSERT_TRUE(n.AssignText("12.7"));
    EXPECT_EQ(n.AsLong(), 12);
    ASSERT_TRUE(n.AssignText("-3.5"));
    EXPECT_EQ(n.AsLong(), -3);
    ASSERT_TRUE(n.AssignText("123456789012345.678"));
    EXPECT_EQ(n.AsString(), "123456789012345.678");
    n.AssignDouble(0.1);
    fmx::FixPt sum, two;
    two.AssignDouble(0.2);
    n.Add(two, sum);
    EXPECT_EQ(sum.AsString(), "0.3") << "no binary rounding in sums of decimals";
    ASSERT_TRUE(n.AssignText("99999999999"));
    EXPECT_EQ(n.AsLong(), 2147483647) << "AsLong saturates";
    EXPECT_EQ(n.AsLong64(), 99999999999);
    EXPECT_FALSE(n.AssignText("abc"));
    EXPECT_FALSE(n.AssignText("1.2.3"));
    ASSERT_TRUE(n.AssignText("2.5e3"));
    EXPECT_EQ(n.AsString(), "2500");
    ASSERT_TRUE(n.AssignText("-0.000"));
    EXPECT_EQ(n.AsString(), "0");
    fmx::FixPt a(3), b(4), p;
    a.Multiply(b, p);
    EXPECT_EQ(p.AsLong(), 12);
    EXPECT_NE(a.Divide(fmx::FixPt(0), p), 0);
    EXPECT_TRUE(a < b);
    fmx::FixPt precise(0, 2);
    ASSERT_TRUE(precise.AssignText("1.005"));
    EXPECT_EQ(precise.AsString(), "1.01") << "rounded to the precision, half away from zero";
}

TEST(FixPt, ShowsAndComparesAtItsPrecision) {
    fmx::FixPt third(0, 16), three(3), r(0, 16);
    fmx::FixPt(1).Divide(three, third);
    EXPECT_EQ(third.GetPrecision(), 16);
    EXPECT_EQ(third.AsString(), "0.3333333333333333");
    third.Multiply(three, r);
    EXPECT_TRUE(r == fmx::FixPt(1)) << "the guard places carry 1/3*3 back to 1";
    EXPECT_EQ(r.AsLong(), 1);
    fmx::FixPt wide(0, 30);
    fmx::FixPt(5).Divide(fmx::FixPt(9), wide);
    EXPECT_EQ(wide.AsString(), "0.555555555555555555555555555556");
    wide.SetPrecision(2);
    EXPECT_EQ(wide.AsString(), "0.56") << "SetPrecision changes what shows, not the value";
    wide.SetPrecision(1000);
    EXPECT_EQ(wide.GetPrecision(), 400);
    fmx::FixPt big;
    ASSERT_TRUE(big.AssignText("123456789012345678901234567890"));
    big.Increment64(1);
    EXPECT_EQ(big.AsString(), "123456789012345678901234567891");
    EXPECT_EQ(big.AsLong64(), 9223372036854775807) << "AsLong64 saturates";
    EXPECT_EQ(fmx::FixPt(7).Divide(fmx::FixPt(0), r), 1);
    EXPECT_EQ(r.AsLong(), 1) << "a refused division leaves the result alone";
    ASSERT_TRUE(big.AssignText("1e401"));
    EXPECT_FALSE(big.IsNumber());
    EXPECT_EQ(big.AsString(), "?");
    EXPECT_FALSE(big == big) << "not a number equals nothing";
}

TEST(DateTime, RollsOverOutOfRangeFields) {
    fmx::DateTime d;
    EXPECT_EQ(d.SetNormalizedDate(13, 1, 2023), 0);
    EXPECT_EQ(d.GetYear(), 2024);
    EXPECT_EQ(d.GetMonth(), 1);
    EXPECT_EQ(d.GetDay(), 1);
    EXPECT_EQ(d.SetNormalizedDate(2, 30, 2024), 0);
    EXPECT_EQ(d.GetMonth(), 3);
    EXPECT_EQ(d.GetDay(), 1);
    EXPECT_EQ(d.SetNormalizedDate(3, 0, 2023), 0);
    EXPECT_EQ(d.GetDay(), 28) << "day 0 is the last day of the month before";
    EXPECT_EQ(d.SetNormalizedDate(0, 15, 2023), 0);
    EXPECT_EQ(d.GetYear(), 2022);
    EXPECT_EQ(d.GetMonth(), 12);
    EXPECT_EQ(d.SetNormalizedDate(1, 1, 1), 0);
    EXPECT_EQ(d.GetDaysSinceEpoch(), 1);
    EXPECT_EQ(d.DayOfWeek(), 2) << "1/1/0001 was a Monday";
    EXPECT_NE(d.SetNormalizedDate(1, 1, 0), 0);
    EXPECT_EQ(d.GetYear(), 1) << "a refused date leaves the value alone";
    EXPECT_EQ(d.SetNormalizedTime(1, 75, 61, 5), 0);
    EXPECT_EQ(d.GetHour(), 2);
    EXPECT_EQ(d.GetMinute(), 16);
    EXPECT_EQ(d.GetSec(), 1);
    EXPECT_EQ(d.GetUSec(), 5);
}

TEST(DateText, ReadsRealDaysOnlyInBothWrittenForms) {
    fmx::DateTime d;
    ASSERT_TRUE(fmx::DateFromText(u"2/29/2024", d));
    EXPECT_EQ(d.GetYear(), 2024);
    EXPECT_EQ(d.GetMonth(), 2);
    EXPECT_EQ(d.GetDay(), 29);
    ASSERT_TRUE(fmx::DateFromText(u"4000-12-31", d));
    EXPECT_EQ(d.GetYear(), 4000);
    ASSERT_TRUE(fmx::DateFromText(u" +3/4/2021", d));  // what the scan itself skips and takes
    EXPECT_EQ(d.GetDay(), 4);
    // A day the month does not have is no date, not the next month's: the date stays as it was.
    for (const char16_t* bad :
         {u"2/30/2024", u"2/29/2023", u"4/31/2020", u"13/1/2020", u"1/1/4001", u"0/1/2020", u"2024-02-30", u"1/2/2020x",
          u"", u"1.2.2020", u"Ingrid 1/2/2020", u"2020", u"-12", u"1/2-3", u"\uFF11/2/2020", u"1/2/2020\u00E9"}) {
        fmx::DateTime kept;
        kept.SetNormalizedDate(7, 4, 1999);
        EXPECT_FALSE(fmx::DateFromText(bad, kept));
        EXPECT_EQ(kept.GetDay(), 4);
        EXPECT_EQ(kept.GetMonth(), 7);
    }
}

TEST(Data, KeepsEveryFormOfItsValue) {
    fmx::Data d;
    d.SetAsText(text("Total: -12.50 EUR"), fmx::Locale(fmx::Locale::kType_ENG));
    EXPECT_EQ(d.GetNativeType(), fmx::Data::kDTText);
    EXPECT_EQ(d.GetLocale().GetType(), fmx::Locale::kType_ENG);
    EXPECT_EQ(d.GetAsNumber().AsString(), "-12.5");
    fmx::DateTime dt;
    dt.SetNormalizedDate(7, 4, 2021);
    d.SetAsDate(dt);
    EXPECT_EQ(d.GetNativeType(), fmx::Data::kDTDate);
    EXPECT_EQ(d.GetAsText().ToUTF8(), "7/4/2021");
    fmx::FixPt n;
    n.AssignText("3.25");
    d.SetAsNumber(n);
    EXPECT_EQ(d.GetAsText().ToUTF8(), "3.25");
    fmx::DataVect v;
    v.PushBack(d);
    EXPECT_EQ(v.Size(), 1u);
    EXPECT_EQ(v.AtAsNumber(0).AsString(), "3.25");
    EXPECT_EQ(v.AtAsText(5).GetSize(), 0u) << "past the end reads as empty";
}

struct Recorder : fmx::host::Registrar {
    std::vector<fmx::int16> ids;
    fmx::errcode registerFunction(const fmx::QuadChar& p, fmx::int16 id, const fmx::Text&, const fmx::Text&,
                                  const fmx::Text&, fmx::int16, fmx::int16, fmx::uint32, fmx::ExtPluginType) override {
        EXPECT_EQ(p.AsLong(), 0x544F5256u);  // 'TORV'
        ids.push_back(id);
        return 0;
    }
    fmx::errcode unregisterFunction(const fmx::QuadChar&, fmx::int16 id) override {
        ids.push_back(static_cast<fmx::int16>(-id));
        return 0;
    }
};

TEST(ExprEnv, ForwardsRegistrationToTheInstalledHost) {
    fmx::ExprEnv env;
    const fmx::QuadChar id('T', 'O', 'R', 'V');
    EXPECT_NE(env.UnRegisterExternalFunction(id, 1), 0) << "no host installed";
    Recorder r;
    fmx::host::Registrar* before = fmx::host::setRegistrar(&r);
    env.RegisterExternalFunction(id, 150, fmx::Text(), fmx::Text(), 0, 1, fmx::kDisplayInAllDialogs, nullptr);
    env.UnRegisterExternalFunction(id, 150);
    fmx::host::setRegistrar(before);
    EXPECT_EQ(r.ids, (std::vector<fmx::int16>{150, -150}));
}

TEST(CallRecord, HasThePackedLayoutPluginsExpect) {
    FMX_ExternCallStruct pb{};
    const auto* base = reinterpret_cast<const unsigned char*>(&pb);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&pb.parm1) - base, 17);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&pb.parm3) - base, 26);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&pb.cCurrentEnv) - base, 66);
    EXPECT_EQ(static_cast<int>(kFMXT_GetString), 7);
    EXPECT_EQ(static_cast<int>(k150ExtnVersion), 56);
}

}  // namespace
