// Field value conversion: date-time maths, stored bytes to values, code pages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "EdbCodePage.h"
#include "EdbException.h"
#include "EdbValueConvert.h"
#include "EdbVariant.h"

using namespace edb;

namespace {

TEdbFieldDef Def(uint8_t base, uint8_t adv, int32_t size = 0) {
  TEdbFieldDef f;
  f.Name = "F";
  f.BaseType = base;
  f.AdvancedType = adv;
  f.FieldSize = size;
  return f;
}

TEdbVariant Conv(const TEdbFieldDef& f, std::initializer_list<uint8_t> bytes, uint32_t cp = 1252) {
  std::vector<uint8_t> b(bytes);
  b.resize(64, 0);
  return EdbConvertFieldValue(f, b.data(), cp);
}

std::string Dt(const TEdbVariant& v) { return v.ToString(); }

}  // namespace

TEST(EdbDateTime, DayNumbersAndSerialValues) {
  // Day numbers computed independently (proleptic Gregorian ordinals, 0001-01-01 = 1).
  EXPECT_EQ(EdbDateToDayNumber(1899, 12, 30), 693594);
  EXPECT_EQ(EdbDateToDayNumber(2000, 1, 1), 730120);
  EXPECT_EQ(EdbDateToDayNumber(2026, 12, 8), 739958);
  EXPECT_EQ(EdbDateToDayNumber(1, 1, 1), 1);
  EXPECT_EQ(EdbDateToDayNumber(9999, 12, 31), 3652059);
  int y, m, d;
  EdbDayNumberToDate(739958, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20261208);

  EXPECT_EQ(EdbStoredToSerial(693594, 0), 0.0);
  EXPECT_EQ(EdbStoredToSerial(730120, 43200000), 36526.5);
  EXPECT_EQ(Dt(TEdbVariant::FromStored(730120, 43200000, TEdbDateKind::DateTime)),
            "2000-01-01T12:00:00.000");
  EXPECT_EQ(Dt(TEdbVariant::FromStored(693594, 0, TEdbDateKind::DateTime)),
            "1899-12-30T00:00:00.000");
}

TEST(EdbDateTime, BeforeEpochKeepsNegativeMilliseconds) {
  // (693593, -21600000): the day number is the date, |ms| the time of day.
  TEdbVariant v = TEdbVariant::FromStored(693593, -21600000, TEdbDateKind::DateTime);
  EXPECT_EQ(Dt(v), "1899-12-29T06:00:00.000");
  EXPECT_EQ(v.AsDateTime(), -1.25);
  // Splitting the serial value truncates toward zero, as the engine stores it.
  int32_t day = 0, ms = 0;
  EdbSerialToStored(-1.25, day, ms);
  EXPECT_EQ(day, 693593);
  EXPECT_EQ(ms, -21600000);
  EdbSerialToStored(-0.75, day, ms);  // 1899-12-30 18:00
  EXPECT_EQ(day, 693594);
  EXPECT_EQ(ms, -64800000);
  EXPECT_EQ(Dt(TEdbVariant::FromSerial(-0.75, TEdbDateKind::DateTime)), "1899-12-30T18:00:00.000");
  // Rounding to the next whole day carries into the day number.
  EdbSerialToStored(1.0 - 1e-10, day, ms);
  EXPECT_EQ(day, 693595);
  EXPECT_EQ(ms, 0);
}

TEST(EdbValueConvert, AnsiAndWideText) {
  const TEdbFieldDef vc = Def(bftString, aftString, 5);
  EXPECT_EQ(Conv(vc, {'a', 'b', 0, 'z', 'z'}).AsText(), "ab");
  // A value filling the declared length ends at FieldSize even if the terminator is missing.
  EXPECT_EQ(Conv(vc, {'a', 'b', 'c', 'd', 'e', 'X'}).AsText(), "abcde");
  EXPECT_EQ(Conv(vc, {0, 'x'}).AsText(), "");  // non-null, empty text
  // Windows-1252 bytes decode to UTF-8.
  EXPECT_EQ(Conv(vc, {0xE9, 0x80, 0}).AsText(), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Conv(Def(bftFixedChar, aftChar, 3), {'Q', 0xFC, 0}).AsText(), "Q\xC3\xBC");
  // Other code pages.
  EXPECT_EQ(Conv(vc, {0xC0, 0}, 1251).AsText(), "\xD0\x90");  // CYRILLIC A
  EXPECT_EQ(Conv(vc, {0x8A, 0}, 1250).AsText(), "\xC5\xA0");  // S caron
  EXPECT_EQ(Conv(vc, {0xD9, 0}, 1253).AsText(), "\xCE\xA9");  // OMEGA
  // Wide text: UTF-16LE up to the first zero unit, surrogate pairs joined.
  const TEdbFieldDef ws = Def(bftWideString, aftWideString, 4);
  EXPECT_EQ(Conv(ws, {0x16, 0x04, 'a', 0, 0, 0, 'b', 0}).AsText(),
            "\xD0\x96"
            "a");
  EXPECT_EQ(Conv(ws, {0x3D, 0xD8, 0x00, 0xDE, 0, 0}).AsText(), "\xF0\x9F\x98\x80");
  // GUID text is a fixed ANSI string of 38 characters.
  EXPECT_EQ(Conv(Def(bftFixedChar, aftGuid, 38), {'{', 'A', '}', 0}).AsText(), "{A}");
}

TEST(EdbValueConvert, IntegersWidenBySignedness) {
  EXPECT_EQ(Conv(Def(bftInt8, aftShortInt), {0xFF}).AsInteger(), -1);
  EXPECT_EQ(Conv(Def(bftUInt8, aftByte), {0xFF}).AsInteger(), 255);
  EXPECT_EQ(Conv(Def(bftInt16, aftSmallInt), {0x00, 0x80}).AsInteger(), -32768);
  EXPECT_EQ(Conv(Def(bftUInt16, aftWord), {0xFF, 0xFF}).AsInteger(), 65535);
  EXPECT_EQ(Conv(Def(bftUInt16, aftWord), {0x34, 0x12}).AsInteger(), 0x1234);  // little-endian
  EXPECT_EQ(Conv(Def(bftUInt16, aftWord), {0x01, 0x80}).AsInteger(), 0x8001);
  EXPECT_EQ(Conv(Def(bftInt32, aftInteger), {0xFE, 0xFF, 0xFF, 0xFF}).AsInteger(), -2);
  EXPECT_EQ(Conv(Def(bftUInt32, aftCardinal), {0xFF, 0xFF, 0xFF, 0xFF}).AsInteger(), 4294967295LL);
  EXPECT_EQ(Conv(Def(bftInt64, aftLargeInt), {1, 0, 0, 0, 0, 0, 0, 0x80}).AsInteger(),
            INT64_MIN + 1);
  // Autoinc kinds: int8/int16 sign-extended, uint8/uint16 zero-extended, uint32 taken as signed.
  EXPECT_EQ(Conv(Def(bftInt8, aftAutoincShortInt), {0x80}).AsInteger(), -128);
  EXPECT_EQ(Conv(Def(bftUInt16, aftAutoincWord), {0xFF, 0xFF}).AsInteger(), 65535);
  EXPECT_EQ(Conv(Def(bftUInt16, aftAutoincWord), {0x02, 0x01}).AsInteger(), 258);
  EXPECT_EQ(Conv(Def(bftUInt32, aftAutoincCardinal), {0xFF, 0xFF, 0xFF, 0xFF}).AsInteger(), -1);
}

TEST(EdbValueConvert, FloatsBooleansDatesAndErrors) {
  EXPECT_EQ(Conv(Def(bftSingle, aftSingle), {0, 0, 0xC0, 0x3F}).AsDouble(), 1.5);
  EXPECT_EQ(Conv(Def(bftDouble, aftFloat), {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}).AsDouble(), 1.5);
  EXPECT_EQ(Conv(Def(bftCurrency, aftCurrency), {0, 0, 0, 0, 0, 0, 0x24, 0x40}).AsDouble(), 10.0);
  // x87 extended: 1.0 and -2.5 written out by hand.
  EXPECT_EQ(Conv(Def(bftExtended, aftExtended), {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}).AsDouble(),
            1.0);
  EXPECT_EQ(Conv(Def(bftExtended, aftExtended), {0, 0, 0, 0, 0, 0, 0, 0xA0, 0x00, 0xC0}).AsDouble(),
            -2.5);
  // Rounded once to the nearest double: 1 + 2^-53 + 2^-60 goes up, and 2.5 + 2^-60 times the
  // smallest denormal goes to 3 of them (rounding to 53 bits first would give the tie 2.5 -> 2).
  EXPECT_EQ(
      Conv(Def(bftExtended, aftExtended), {0x08, 0x04, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}).AsDouble(),
      1.0 + 0x1p-52);
  EXPECT_EQ(
      Conv(Def(bftExtended, aftExtended), {0x04, 0, 0, 0, 0, 0, 0, 0xA0, 0xCE, 0x3B}).AsDouble(),
      3 * 0x1p-1074);
  uint8_t ext[10];
  EdbDoubleToExtended(-2.5, ext);
  EXPECT_EQ(EdbExtendedToDouble(ext), -2.5);

  EXPECT_FALSE(Conv(Def(bftBoolean, aftLogical), {0, 0}).AsBoolean());
  EXPECT_TRUE(Conv(Def(bftBoolean, aftLogical), {0, 2}).AsBoolean());

  // 730120 = 0x000B2408, 43200000 = 0x0293 2E00.
  TEdbVariant d = Conv(Def(bftDate, aftDate), {0x08, 0x24, 0x0B, 0x00});
  EXPECT_EQ(d.DateKind(), TEdbDateKind::Date);
  EXPECT_EQ(d.ToString(), "2000-01-01");
  TEdbVariant t = Conv(Def(bftTime, aftTime), {0x00, 0x2E, 0x93, 0x02});
  EXPECT_EQ(t.ToString(), "12:00:00.000");
  EXPECT_EQ(t.AsDateTime(), 0.5);
  TEdbVariant dt =
      Conv(Def(bftDateTime, aftDateTime), {0x08, 0x24, 0x0B, 0x00, 0x00, 0x2E, 0x93, 0x02});
  EXPECT_EQ(dt.ToString(), "2000-01-01T12:00:00.000");
  EXPECT_EQ(dt.AsDateTime(), 36526.5);

  TEdbVariant by = Conv(Def(bftBytes, aftBytes, 3), {1, 2, 3, 4});
  EXPECT_EQ(by.AsBytes(), (std::vector<uint8_t>{1, 2, 3}));

  try {
    Conv(Def(30, aftString), {0});
    FAIL() << "unknown base type accepted";
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kUnknownDataType);
  }
  // A null value cannot be turned into text.
  EXPECT_THROW(TEdbVariant().ToString(), EEdbComponentError);
  EXPECT_THROW(TEdbVariant::Integer(1).AsText(), EEdbComponentError);
}

TEST(EdbValueConvert, EncodeRoundTripsEveryKind) {
  struct Case {
    TEdbFieldDef f;
    TEdbVariant v;
  };
  const Case cases[] = {
      {Def(bftString, aftString, 10), TEdbVariant::Text("caf\xC3\xA9")},
      {Def(bftWideString, aftWideString, 10), TEdbVariant::Text("\xE6\x97\xA5\xF0\x9F\x98\x80")},
      {Def(bftInt16, aftSmallInt), TEdbVariant::Integer(-300)},
      {Def(bftInt64, aftLargeInt), TEdbVariant::Integer(INT64_MAX)},
      {Def(bftDouble, aftFloat), TEdbVariant::Double(-0.1)},
      {Def(bftBoolean, aftLogical), TEdbVariant::Boolean(true)},
      {Def(bftDateTime, aftDateTime),
       TEdbVariant::FromStored(693593, -21600000, TEdbDateKind::DateTime)},
      {Def(bftDate, aftDate), TEdbVariant::FromStored(739958, 0, TEdbDateKind::Date)},
      {Def(bftTime, aftTime), TEdbVariant::FromStored(693594, 86399999, TEdbDateKind::Time)},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buf(64, 0xAA);
    EdbEncodeFieldValue(c.f, c.v, buf.data(), 1252);
    EXPECT_EQ(EdbConvertFieldValue(c.f, buf.data(), 1252), c.v) << c.v.ToString();
  }
  // Text longer than the field is cut to FieldSize characters.
  std::vector<uint8_t> buf(64, 0);
  EdbEncodeFieldValue(Def(bftString, aftString, 3), TEdbVariant::Text("abcdef"), buf.data(), 1252);
  EXPECT_EQ(EdbConvertFieldValue(Def(bftString, aftString, 3), buf.data(), 1252).AsText(), "abc");
}

// The extended form keeps every double exactly: subnormals become normal extended values,
// infinities and NaNs keep their sign, and a NaN keeps its payload and quiet bit (reading
// gives any NaN back as the quiet NaN of its sign).
TEST(EdbValueConvert, ExtendedEncodingIsExactForEveryDouble) {
  auto bitsOf = [](double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    return u;
  };
  auto nanWithPayload = [](uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  };
  const double values[] = {1.0,
                           -2.5,
                           -0.0,
                           0x1p-1022,
                           0x1p-1074,
                           3 * 0x1p-1074,
                           0x1.fffffffffffffp-1023,
                           std::numeric_limits<double>::max(),
                           -std::numeric_limits<double>::infinity(),
                           nanWithPayload(0x7FF8000000000123ull),
                           nanWithPayload(0xFFF0000000000001ull)};
  for (double v : values) {
    uint8_t ext[10];
    EdbDoubleToExtended(v, ext);
    const double back = EdbExtendedToDouble(ext);
    if (std::isnan(v)) {
      EXPECT_TRUE(std::isnan(back));
      EXPECT_EQ(std::signbit(back), std::signbit(v));
    } else {
      EXPECT_EQ(bitsOf(back), bitsOf(v)) << v;
    }
  }
  // The smallest subnormal: mantissa 2^63, exponent 16383 - 1074.
  uint8_t ext[10];
  EdbDoubleToExtended(0x1p-1074, ext);
  EXPECT_EQ(std::vector<uint8_t>(ext, ext + 10),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0x80, 0xCD, 0x3B}));
  EdbDoubleToExtended(nanWithPayload(0x7FF8000000000123ull), ext);
  EXPECT_EQ(std::vector<uint8_t>(ext, ext + 10),
            (std::vector<uint8_t>{0, 0x18, 0x09, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F}));
  EdbDoubleToExtended(-1.0, ext);
  EXPECT_EQ(std::vector<uint8_t>(ext, ext + 10),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xBF}));
}

TEST(EdbCodePage, ReverseConversionForHashing) {
  EXPECT_EQ(EdbUtf8ToAnsi("caf\xC3\xA9 \xE2\x82\xAC", 1252), "caf\xE9 \x80");
  EXPECT_EQ(EdbUtf8ToAnsi("\xE6\x97\xA5", 1252), "?");  // not in the code page
  EXPECT_EQ(EdbUtf8ToAnsi("\xE6\x97\xA5\xE6\x9C\xAC", 932), "\x93\xFA\x96\x7B");
  EXPECT_EQ(EdbAnsiToUtf8("\x93\xFA\x96\x7B", 932), "\xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(EdbUtf8ToAnsi("\xD0\x90", 1251), "\xC0");
  // The last byte of the upper control range is a letter.
  EXPECT_EQ(EdbAnsiToUtf8("\x9F", 1252), "\xC5\xB8");
  EXPECT_EQ(EdbUtf8ToAnsi("\xC5\xB8", 1252), "\x9F");
  EXPECT_EQ(EdbUtf16LeToUtf8(
                reinterpret_cast<const uint8_t*>(EdbUtf8ToUtf16Le("a\xF0\x9F\x98\x80").data()), 3),
            "a\xF0\x9F\x98\x80");
  EXPECT_FALSE(EdbCodePageSupported(12345));
  EXPECT_THROW(EdbAnsiToUtf8("\xE9", 12345), EEdbComponentError);
}
