// Serial date-times and variant conversions of the access layer.
#include <gtest/gtest.h>

#include "Ado.h"

namespace {

using ado::DateTimeParts;

TEST(AdoDateTime, WorkedSerialNumbers) {
  // Serial day numbers fixed by the automation date convention (epoch 1899-12-30).
  EXPECT_EQ(ado::EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_EQ(ado::EncodeDateTime({1900, 1, 1, 0, 0, 0, 0}), 2.0);
  EXPECT_EQ(ado::EncodeDateTime({2000, 1, 1, 0, 0, 0, 0}), 36526.0);
  EXPECT_EQ(ado::EncodeDateTime({2023, 3, 15, 12, 0, 0, 0}), 45000.5);
  // 0001-01-01 is engine day 1 and 1899-12-30 engine day 693594.
  EXPECT_EQ(ado::EncodeDateTime({1, 1, 1, 0, 0, 0, 0}), -693593.0);
  // Before the epoch the fraction is still the time of day: -1.25 is 1899-12-29 06:00.
  EXPECT_EQ(ado::EncodeDateTime({1899, 12, 29, 6, 0, 0, 0}), -1.25);
  DateTimeParts p = ado::DecodeDateTime(-1.25);
  EXPECT_EQ(p.Year, 1899);
  EXPECT_EQ(p.Month, 12);
  EXPECT_EQ(p.Day, 29);
  EXPECT_EQ(p.Hour, 6);
  EXPECT_EQ(ado::FormatIsoDateTime(2958465.0 + 86399999.0 / 86400000.0), "9999-12-31 23:59:59.999");
  // Every field zero-padded to its width, into a caller's buffer.
  char text[ado::IsoDateTimeCapacity];
  EXPECT_EQ(ado::FormatIsoDateTime(ado::EncodeDateTime({12, 3, 4, 5, 6, 7, 8}), text), 23u);
  EXPECT_STREQ(text, "0012-03-04 05:06:07.008");
  EXPECT_EQ(ado::FormatIsoDateTime(-1.25), "1899-12-29 06:00:00.000");
  // The first day keeps its time of day both ways; the day before it does not exist.
  const double firstNoon = ado::EncodeDateTime({1, 1, 1, 12, 0, 0, 0});
  EXPECT_EQ(firstNoon, -693593.5);
  EXPECT_EQ(ado::FormatIsoDateTime(firstNoon), "0001-01-01 12:00:00.000");
  EXPECT_THROW(ado::DecodeDateTime(-693594.0), ado::EAdoError);
}

TEST(AdoDateTime, MillisecondsSurviveTheRoundTrip) {
  for (int ms : {0, 1, 7, 123, 500, 999}) {
    DateTimeParts in{2024, 2, 29, 23, 59, 58, ms};
    double serial = ado::EncodeDateTime(in);
    DateTimeParts out = ado::DecodeDateTime(serial);
    EXPECT_EQ(out.Year, 2024);
    EXPECT_EQ(out.Month, 2);
    EXPECT_EQ(out.Day, 29);
    EXPECT_EQ(out.Second, 58);
    EXPECT_EQ(out.Millisecond, ms);
    char expect[32];
    std::snprintf(expect, sizeof expect, "2024-02-29 23:59:58.%03d", ms);
    EXPECT_EQ(ado::FormatIsoDateTime(serial), expect);
  }
  // A value a hair before midnight rounds into the next day, not to "24:00:00".
  EXPECT_EQ(ado::FormatIsoDateTime(1.0 - 1e-10), "1899-12-31 00:00:00.000");
}

TEST(AdoDateTime, RejectsImpossibleValues) {
  EXPECT_THROW(ado::EncodeDateTime({2023, 2, 29, 0, 0, 0, 0}), ado::EAdoError);
  EXPECT_THROW(ado::EncodeDateTime({2023, 13, 1, 0, 0, 0, 0}), ado::EAdoError);
  EXPECT_THROW(ado::EncodeDateTime({0, 1, 1, 0, 0, 0, 0}), ado::EAdoError);
  EXPECT_THROW(ado::DecodeDateTime(3.0e6), ado::EAdoError);
  EXPECT_THROW(ado::DecodeDateTime(std::numeric_limits<double>::quiet_NaN()), ado::EAdoError);
}

TEST(AdoDateTime, ParsesIsoText) {
  double s = 0;
  ASSERT_TRUE(ado::ParseIsoDateTime("2023-03-15 12:00:00.000", s));
  EXPECT_EQ(s, 45000.5);
  ASSERT_TRUE(ado::ParseIsoDateTime("2023-03-15T12:00", s));
  EXPECT_EQ(s, 45000.5);
  ASSERT_TRUE(ado::ParseIsoDateTime("2023-03-15", s));
  EXPECT_EQ(s, 45000.0);
  ASSERT_TRUE(ado::ParseIsoDateTime("2023-03-15 00:00:00.250000", s));
  EXPECT_EQ(ado::DecodeDateTime(s).Millisecond, 250);
  for (const char* bad : {"", "2023-3-15", "2023-02-30", "2023-03-15 25:00", "2023-03-15 1:00",
                          "2023-03-15 12:00:00.", "2023-03-15 12:00:00.1x", "15.03.2023"})
    EXPECT_FALSE(ado::ParseIsoDateTime(bad, s)) << bad;
}

TEST(AdoVariant, ConversionsAndMismatches) {
  EXPECT_TRUE(ado::Variant().IsNull());
  EXPECT_EQ(ado::Variant("42").AsInt32(), 42);
  EXPECT_EQ(ado::Variant(std::int64_t{7}).AsText(), "7");
  EXPECT_EQ(ado::Variant::FromDouble(3.0).AsInt32(), 3);
  EXPECT_EQ(ado::Variant::FromDateTime(45000.5).AsText(), "2023-03-15 12:00:00.000");
  EXPECT_EQ(ado::Variant("2023-03-15 12:00:00.000").AsDateTime(), 45000.5);

  auto expectMismatch = [](const ado::Variant& v) {
    try {
      (void)v.AsInt32();
      ADD_FAILURE() << "no error";
    } catch (const ado::EAdoError& e) {
      EXPECT_EQ(e.ErrorCode(), ado::kErrTypeMismatch);
      EXPECT_FALSE(e.ErrorSource().empty());
    }
  };
  expectMismatch(ado::Variant());
  expectMismatch(ado::Variant("12abc"));
  expectMismatch(ado::Variant::FromDouble(2.5));
  expectMismatch(ado::Variant(std::int64_t{1} << 40));
  EXPECT_THROW((void)ado::Variant().AsText(), ado::EAdoError);
  EXPECT_THROW((void)ado::Variant("yesterday").AsDateTime(), ado::EAdoError);
}

}  // namespace
