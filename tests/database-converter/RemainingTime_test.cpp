// Progress position and the remaining-time estimate and its text.
#include <gtest/gtest.h>

#include <limits>

#include "RemainingTime_un.h"

using mrv::TRemainingTimeEstimate;

TEST(RemainingTime, TextAtEachBoundary) {
  EXPECT_EQ(TRemainingTimeEstimate::Format(1000), "< 1 sec");
  EXPECT_EQ(TRemainingTimeEstimate::Format(1001), "1 sec");
  EXPECT_EQ(TRemainingTimeEstimate::Format(59999), "59 sec");
  EXPECT_EQ(TRemainingTimeEstimate::Format(60000), "1 min 0 sec");
  EXPECT_EQ(TRemainingTimeEstimate::Format(125000), "2 min 5 sec");
  EXPECT_EQ(TRemainingTimeEstimate::Format(3599999), "59 min 59 sec");
  EXPECT_EQ(TRemainingTimeEstimate::Format(3720000), "1 hr 2 min");
  EXPECT_EQ(TRemainingTimeEstimate::Format(86399999), "23 hr 59 min");
  EXPECT_EQ(TRemainingTimeEstimate::Format(86400000), "> 1 day");
}

TEST(RemainingTime, PositionRoundsHalfToEvenAndFillsForEmptyTotals) {
  EXPECT_EQ(TRemainingTimeEstimate::Position(1, 8), 12);  // 12.5
  EXPECT_EQ(TRemainingTimeEstimate::Position(3, 8), 38);  // 37.5
  EXPECT_EQ(TRemainingTimeEstimate::Position(1, 3), 33);
  EXPECT_EQ(TRemainingTimeEstimate::Position(2, 3), 67);
  EXPECT_EQ(TRemainingTimeEstimate::Position(7, 7), 100);
  EXPECT_EQ(TRemainingTimeEstimate::Position(5, 0), 100);
  EXPECT_EQ(TRemainingTimeEstimate::Position(5, -1), 100);
  EXPECT_EQ(TRemainingTimeEstimate::Position(-5, 10), 0);
  EXPECT_EQ(TRemainingTimeEstimate::Position(20, 10), 100);
}

TEST(RemainingTime, RemainingIsProportionalAndGuardedAgainstOverflow) {
  EXPECT_EQ(TRemainingTimeEstimate::RemainingMs(25, 100, 3000), 9000);
  EXPECT_EQ(TRemainingTimeEstimate::RemainingMs(3, 4, 1001), 334);  // 333.67 -> 334
  EXPECT_EQ(TRemainingTimeEstimate::RemainingMs(2, 3, 1001), 500);  // 500.5 -> 500 (even)
  EXPECT_EQ(TRemainingTimeEstimate::RemainingMs(100, 100, 5000), 0);
  const std::int64_t big = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(TRemainingTimeEstimate::RemainingMs(1, big, 2000), -1);
  EXPECT_EQ(TRemainingTimeEstimate::RemainingMs(1, big / 1000 + 2, 1000),
            -1);  // product just overflows
  EXPECT_EQ(TRemainingTimeEstimate::RemainingMs(1, (1LL << 40) + 1, 1000), (1LL << 40) * 1000);
  EXPECT_EQ(TRemainingTimeEstimate::RemainingMs(0, 10, 2000), -1);
}

TEST(RemainingTime, EstimateOnlyAfterFirstSecondAndAtMostEveryHalfSecond) {
  TRemainingTimeEstimate estimate;
  const std::uint32_t t0 = 4294966000u;  // the tick count wraps during the step
  estimate.StartStep(t0);
  auto u = estimate.Progress(10, 100, t0 + 1000);
  EXPECT_EQ(u.Position, 10);
  EXPECT_FALSE(u.ShowEstimate);  // within the first second

  u = estimate.Progress(10, 100, t0 + 1001);  // 90 x 1001 / 10 = 9009 ms
  ASSERT_TRUE(u.ShowEstimate);
  EXPECT_EQ(u.Text, "9 sec");

  EXPECT_FALSE(estimate.Progress(20, 100, t0 + 1501).ShowEstimate);  // 500 ms since the last
  u = estimate.Progress(50, 100, t0 + 1502);
  ASSERT_TRUE(u.ShowEstimate);
  EXPECT_EQ(u.Text, "1 sec");  // 50 x 1502 / 50

  // Done = Total after the first second: nothing new is shown.
  u = estimate.Progress(100, 100, t0 + 3000);
  EXPECT_EQ(u.Position, 100);
  EXPECT_FALSE(u.ShowEstimate);

  // A new step starts the clock again.
  estimate.StartStep(t0 + 5000);
  EXPECT_FALSE(estimate.Progress(1, 100, t0 + 5900).ShowEstimate);
  EXPECT_TRUE(estimate.Progress(0 + 1, 100, t0 + 6100).ShowEstimate);
}

TEST(RemainingTime, StatusTextOnOneLine) {
  EXPECT_EQ(TRemainingTimeEstimate::OneLine(
                "Could not remove temporary database copy \r\n'x'.\r\n\r\nError"),
            "Could not remove temporary database copy  'x'.  Error");
  EXPECT_EQ(TRemainingTimeEstimate::OneLine("a\rb\nc"), "a\rb\nc");
}
