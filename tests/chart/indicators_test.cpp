#include "chart/indicators.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "bars_fixture.h"

namespace lp::chart {
namespace {

using test::closes;

struct PointCase {
  const char* what;
  Bars bars;
  int period;
  int index;
  std::optional<double> expected;  // nothing: invalid
};

void expect_point(const PointCase& c, IndicatorPoint p) {
  SCOPED_TRACE(c.what);
  ASSERT_EQ(p.valid, c.expected.has_value());
  if (c.expected) {
    EXPECT_NEAR(p.value, *c.expected, 1e-9);
  } else {
    EXPECT_EQ(p.value, 0);
  }
}

TEST(MovingAverage, AveragesTradedDaysOnlyAndNeedsAWholeWindow) {
  const Bars five_with_gap = closes({{10, 1}, {20, 1}, {0, 0}, {40, 1}, {50, 1}, {60, 1}});
  const PointCase cases[] = {
      {"gap inside a five-day window divides by four", five_with_gap, 5, 1,
       (10 + 20 + 40 + 50) / 4.0},
      {"window at index 2", five_with_gap, 5, 2, (20 + 40 + 50 + 60) / 4.0},
      {"window past the oldest day", five_with_gap, 5, 3, std::nullopt},
      {"one-day window on a gap day", five_with_gap, 1, 3, std::nullopt},
      {"only gap days", closes({{0, 0}, {0, 0}, {5, 1}}), 2, 1, std::nullopt},
      {"period 0 from an empty box", five_with_gap, 0, 1, std::nullopt},
      {"index 0 is the header", five_with_gap, 1, 0, std::nullopt},
  };
  for (const PointCase& c : cases) expect_point(c, moving_average(c.bars, c.period, c.index));
}

TEST(SigmaBands, PopulationDeviationAroundTheTradedAverage) {
  // Mean 5, population deviation exactly 2 (the sample form would give 2.138...).
  const Bars b =
      closes({{2, 1}, {4, 1}, {4, 1}, {0, 0}, {4, 1}, {5, 1}, {5, 1}, {7, 1}, {9, 1}, {100, 1}});
  const SigmaBands bands = sigma_bands(b, 9, 1, 3);
  ASSERT_TRUE(bands.mean.at(1).valid);
  EXPECT_DOUBLE_EQ(bands.mean.at(1).value, 5);
  for (int j = 1; j <= 3; ++j) {
    EXPECT_DOUBLE_EQ(bands.upper[static_cast<std::size_t>(j - 1)].at(1).value, 5 + 2.0 * j);
    EXPECT_DOUBLE_EQ(bands.lower[static_cast<std::size_t>(j - 1)].at(1).value, 5 - 2.0 * j);
  }
  EXPECT_TRUE(bands.upper[0].at(2).valid);
  // Index 3's window reaches past the oldest day: no average, no band.
  EXPECT_FALSE(bands.mean.at(3).valid);
  EXPECT_FALSE(bands.upper[0].at(3).valid);
  EXPECT_FALSE(bands.lower[2].at(3).valid);
  EXPECT_FALSE(standard_deviation(b, 9, 1, IndicatorPoint{}).valid);
}

TEST(Rsi, UpShareOfTheTradedDayToDayMoves) {
  const PointCase cases[] = {
      {"flat closes", closes({{10, 1}, {10, 1}, {10, 1}, {10, 1}}), 3, 1, std::nullopt},
      {"only rises", closes({{13, 1}, {12, 1}, {11, 1}, {10, 1}}), 3, 1, 100.0},
      {"only falls", closes({{10, 1}, {11, 1}, {12, 1}, {13, 1}}), 3, 1, 0.0},
      // Changes newest first: -2, +1, -2 -> 100 * 1 / 5.
      {"mixed", closes({{10, 1}, {12, 1}, {11, 1}, {13, 1}}), 3, 1, 20.0},
      // The pair touching the gap day is skipped: only 12 -> 10 is left.
      {"gap day breaks its pairs", closes({{12, 1}, {10, 1}, {0, 0}, {20, 1}}), 3, 1, 100.0},
      // Period 10 on four days: the window is cut at the last pair the series has.
      {"window past the oldest day", closes({{10, 1}, {12, 1}, {11, 1}, {13, 1}}), 10, 1, 20.0},
      {"no pair left at the oldest day", closes({{10, 1}, {12, 1}}), 3, 2, std::nullopt},
      {"pairs without trading only", closes({{10, 1}, {0, 0}, {12, 1}}), 1, 1, std::nullopt},
  };
  for (const PointCase& c : cases) expect_point(c, rsi(c.bars, c.period, c.index));
}

DaySeries day_series(std::initializer_list<std::optional<double>> values) {
  DaySeries s;
  for (const auto& v : values) s.points.push_back(v ? IndicatorPoint{*v, true} : IndicatorPoint{});
  return s;
}

TEST(Alg1, SignalsANarrowingGapUnderARisingMa2) {
  const Bars traded = closes({{1, 1}, {1, 1}, {1, 1}});
  struct Case {
    const char* what;
    Bars bars;
    DaySeries ma1, ma2;
    std::optional<double> expected;  // at day 1
  } cases[] = {
      {"gap 2 -> 1, MA2 rose", traded, day_series({10, 8}), day_series({11, 10}), 1.0},
      {"MA2 flat", traded, day_series({10, 8}), day_series({11, 11}), 0.0},
      {"gap widened", traded, day_series({9, 9.5}), day_series({11, 10}), 0.0},
      {"MA2 below MA1 today", traded, day_series({12, 8}), day_series({11, 10}), 0.0},
      {"MA2 below MA1 the day before", traded, day_series({10, 11}), day_series({11, 10}), 0.0},
      {"day without trading", closes({{0, 0}, {1, 1}, {1, 1}}), day_series({10, 8}),
       day_series({11, 10}), 0.0},
      {"average missing the day before", traded, day_series({10, std::nullopt}),
       day_series({11, 10}), 0.0},
      {"MA switched off", traded, DaySeries{}, DaySeries{}, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DaySeries s = alg1_signal(c.bars, c.ma1, c.ma2, 1, 3);
    ASSERT_TRUE(s.at(1).valid);
    EXPECT_EQ(s.at(1).value, *c.expected);
    // The oldest day has no day before it and carries no signal.
    EXPECT_FALSE(s.at(3).valid);
  }
}

TEST(VolumeScale, LargestShownVolumeWithAFloorOf10000) {
  EXPECT_EQ(volume_scale_max(closes({{1, 3000}, {1, 2000}}), 1, 2), 10000);
  EXPECT_EQ(volume_scale_max(closes({{1, 3000}, {1, 25000}}), 1, 2), 25000);
  // A larger volume outside the shown days does not count.
  EXPECT_EQ(volume_scale_max(closes({{1, 12000}, {1, 99000}}), 1, 1), 12000);
}

TEST(Bars, CountIsBoundedByTheRecordsPresent) {
  Series s = test::make_series({{1, 2, 0.5, 1.5, 100}});
  s[0].d6 = "5";  // header claims more than was loaded
  EXPECT_EQ(bars_from_series(s).count, 1);
  EXPECT_EQ(bars_from_series(Series{}).count, 0);
}

}  // namespace
}  // namespace lp::chart
