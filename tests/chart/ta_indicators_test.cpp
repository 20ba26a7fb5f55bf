// The indicators Japanese investors read, against independent values: MACD and the
// stochastics against TA-Lib's published test values on its own reference history; RCI, the
// 一目均衡表 and the Bollinger bands against rows worked out by hand from their definitions;
// and the lines as the chart places them on its bars (gaps, the cloud's future, the 遅行 shift).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bars_fixture.h"
#include "chart/bollinger.h"
#include "chart/chart_lines.h"
#include "chart/chart_model.h"
#include "chart/ichimoku.h"
#include "chart/macd.h"
#include "chart/rci.h"
#include "chart/stochastics.h"
#include "chart/talib_reference.h"

namespace lp::chart {
namespace {

namespace ta = lp::test::talib;

TEST(Macd, AgreesWithTaLibsPublishedValues) {
  const MacdLines m = macd(ta::kClose, 12, 26, 9);
  // TA-Lib's first output: both averages seeded on bar 25, the signal on bar 33.
  EXPECT_NEAR(m.line[ta::kMacdFirstBar], ta::kMacdFirst, 5e-5);
  EXPECT_NEAR(m.signal[ta::kMacdFirstBar], ta::kMacdSignalFirst, 5e-5);
  EXPECT_NEAR(m.histogram[ta::kMacdFirstBar], ta::kMacdFirst - ta::kMacdSignalFirst, 1e-4);
  // TA-Lib's test_MACD.xls, the signal on the last bar (the seed has long worn off there).
  EXPECT_NEAR(m.signal[251], 1.40459423017215, 1e-9);
  // The line starts on the slow average's seed, the signal nine bars later.
  EXPECT_TRUE(std::isnan(m.line[24]));
  EXPECT_FALSE(std::isnan(m.line[25]));
  EXPECT_TRUE(std::isnan(m.signal[32]));
  // Periods given the wrong way round are swapped, as TA-Lib does.
  const MacdLines swapped = macd(ta::kClose, 26, 12, 9);
  EXPECT_DOUBLE_EQ(swapped.signal[100], m.signal[100]);
  // Too few closes: nothing.
  const std::vector<double> short_series(ta::kClose.begin(), ta::kClose.begin() + 25);
  const MacdLines none = macd(short_series, 12, 26, 9);
  for (double v : none.line) EXPECT_TRUE(std::isnan(v));
}

TEST(Stochastics, AgreeWithTaLibsPublishedValues) {
  for (const ta::StochRow& row : ta::kStochRows) {
    SCOPED_TRACE(row.bar);
    const StochLines s = stochastics(ta::kHigh, ta::kLow, ta::kClose, 5, 3, row.slow_d_period);
    EXPECT_NEAR(s.d[static_cast<std::size_t>(row.bar)], row.fast_d, 1e-3);
    EXPECT_NEAR(s.slow_d[static_cast<std::size_t>(row.bar)], row.slow_d, row.slow_d_tolerance);
  }
  // %D is the plain average of the last three %K.
  const StochLines s = stochastics(ta::kHigh, ta::kLow, ta::kClose, 9, 3, 3);
  EXPECT_NEAR(s.d[50], (s.k[48] + s.k[49] + s.k[50]) / 3, 1e-12);
  EXPECT_TRUE(std::isnan(s.k[7]));
  EXPECT_FALSE(std::isnan(s.k[8]));
  EXPECT_TRUE(std::isnan(s.slow_d[11]));
  EXPECT_FALSE(std::isnan(s.slow_d[12]));
  // A flat range gives 0, as TA-Lib does, not a division by zero.
  const std::vector<double> flat(12, 100.0);
  EXPECT_EQ(stochastics(flat, flat, flat, 5, 3, 3).k[4], 0);
}

TEST(Rci, RanksDatesAgainstPricesWithTiesAveraged) {
  const struct {
    const char* what;
    std::vector<double> closes;  // oldest first
    double expected;
  } cases[] = {
      {"two pairs of ties and a triple", {100, 102, 101, 101, 105, 103, 103, 103, 104}, 76.25},
      {"three tied for 2nd-4th", {105, 103, 103, 103, 104}, -10},
      {"rising every day", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 100},
      {"falling every day", {9, 8, 7, 6, 5, 4, 3, 2, 1}, -100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Line line = rci(c.closes, static_cast<int>(c.closes.size()));
    EXPECT_NEAR(line.back(), c.expected, 1e-9);
    EXPECT_TRUE(std::isnan(line[line.size() - 2]));
  }
  EXPECT_TRUE(std::isnan(rci(std::vector<double>{1, 2}, 1).back()));  // one day ranks nothing
}

// 80 bars of highs and lows (oldest first) the hand-worked rows below were computed on.
const std::vector<double> kHigh80 = {
    100.0,  102.58, 105.12, 107.59, 105.95, 108.17, 110.23, 112.11, 109.78, 111.23, 112.46, 113.48,
    110.27, 110.87, 111.28, 111.54, 107.66, 107.68, 107.63, 107.55, 103.48, 103.44, 103.49, 103.65,
    99.95,  100.41, 101.07, 101.93, 99.01,  100.31, 101.83, 103.56, 101.49, 103.61, 105.87, 108.27,
    106.76, 109.32, 111.9,  114.47, 112.99, 115.43, 117.76, 119.93, 117.94, 119.75, 121.36, 122.75,
    119.91, 120.86, 121.6,  122.14, 118.5,  118.71, 118.8,  118.79, 114.73, 114.65, 114.58, 114.57,
    110.65, 110.84, 111.19, 111.71, 108.43, 109.36, 110.5,  111.87, 109.45, 111.25, 113.23, 115.4,
    113.71, 116.14, 118.65, 121.22, 119.8,  122.36, 124.86, 127.27};
const std::vector<double> kLow80 = {
    98.0,   100.08, 102.12, 105.59, 103.45, 105.17, 108.23, 109.61, 106.78, 109.23, 109.96, 110.48,
    108.27, 108.37, 108.28, 109.54, 105.16, 104.68, 105.63, 105.05, 100.48, 101.44, 100.99, 100.65,
    97.95,  97.91,  98.07,  99.93,  96.51,  97.31,  99.83,  101.06, 98.49,  101.61, 103.37, 105.27,
    104.76, 106.82, 108.9,  112.47, 110.49, 112.43, 115.76, 117.43, 114.94, 117.75, 118.86, 119.75,
    117.91, 118.36, 118.6,  120.14, 116.0,  115.71, 116.8,  116.29, 111.73, 112.65, 112.08, 111.57,
    108.65, 108.34, 108.19, 109.71, 105.93, 106.36, 108.5,  109.37, 106.45, 109.25, 110.73, 112.4,
    111.71, 113.64, 115.65, 119.22, 117.3,  119.36, 122.86, 124.77};

TEST(Ichimoku, MidpointsAndTheTwentySixBarShift) {
  const IchimokuLines l = ichimoku(kHigh80, kLow80, 9, 26, 52);
  EXPECT_DOUBLE_EQ(l.tenkan[79], 119.49);
  EXPECT_DOUBLE_EQ(l.kijun[79], 116.6);
  EXPECT_DOUBLE_EQ(l.tenkan[8], 105.055);
  EXPECT_TRUE(std::isnan(l.tenkan[7]));
  // Drawn on bar 79: the spans computed 25 bars before it.
  EXPECT_DOUBLE_EQ(senkou_drawn(l.span_a, 79), 114.63);
  EXPECT_DOUBLE_EQ(senkou_drawn(l.span_b, 79), 109.63);
  EXPECT_DOUBLE_EQ(senkou_drawn(l.span_b, 76), 109.63);  // the first 先行スパン2 drawn
  EXPECT_TRUE(std::isnan(senkou_drawn(l.span_b, 75)));
  // The newest bar's spans are drawn 25 bars into the future.
  EXPECT_NEAR(senkou_drawn(l.span_a, 79 + 25), 118.045, 1e-12);
  EXPECT_DOUBLE_EQ(senkou_drawn(l.span_b, 79 + 25), 111.89);
}

TEST(Ichimoku, OnTheChartsBarsWithAGapAndTheFuture) {
  // The 80 bars newest first as a chart's days, with a day without trading between bars 60
  // and 59 (index 21): lines step over it, shifts count traded bars.
  std::vector<test::D> days;
  for (int i = 79; i >= 0; --i) {
    const auto k = static_cast<std::size_t>(i);
    days.push_back({kLow80[k], kHigh80[k], kLow80[k], (kHigh80[k] + kLow80[k]) / 2, 1000});
    if (i == 60) days.push_back({0, 0, 0, 0, 0});
  }
  const Bars bars = bars_from_series(test::make_series(days));
  ASSERT_EQ(bars.count, 81);
  IndicatorSwitches on;
  on.ichimoku = true;
  const IndicatorLines l = compute_indicator_lines(bars, on, IndicatorParams{});
  EXPECT_DOUBLE_EQ(l.tenkan.at(1).value, 119.49);
  EXPECT_DOUBLE_EQ(l.span_a.at(1).value, 114.63);
  EXPECT_FALSE(l.tenkan.at(21).valid);  // the gap day has no value
  // The newest bar's spans stand 25 bars beyond it, on index 1 - 25.
  EXPECT_NEAR(l.span_a.at(-24).value, 118.045, 1e-12);
  EXPECT_DOUBLE_EQ(l.span_b.at(-24).value, 111.89);
  EXPECT_FALSE(l.span_a.at(-25).valid);
  // 遅行スパン: the newest close drawn 25 traded bars back, past the gap: index 27.
  EXPECT_DOUBLE_EQ(l.chikou.at(27).value, bars.close_at(1));
  EXPECT_FALSE(l.chikou.at(26).valid);
}

TEST(Bollinger, PopulationDeviationAtOneTwoAndThreeSigma) {
  const std::vector<double> closes = {10, 12, 11, 13, 15, 14};
  const BollingerLines b = bollinger(closes, 5);
  EXPECT_DOUBLE_EQ(b.mean[5], 13);
  EXPECT_DOUBLE_EQ(b.upper[0][5], 14.414213562373096);
  EXPECT_DOUBLE_EQ(b.upper[1][5], 15.82842712474619);
  EXPECT_DOUBLE_EQ(b.upper[2][5], 17.242640687119284);
  EXPECT_DOUBLE_EQ(b.lower[1][5], 13 - 2 * 1.4142135623730951);
  EXPECT_TRUE(std::isnan(b.upper[0][3]));
}

TEST(VolumeAverage, AveragesTradedVolumesOnTheVolumePane) {
  const Bars bars = test::closes({{10, 300}, {10, 0}, {10, 200}, {10, 100}, {10, 600}});
  IndicatorSwitches on;
  on.vma = true;
  IndicatorParams p;
  p.vma_period = 3;
  const IndicatorLines l = compute_indicator_lines(bars, on, p);
  EXPECT_DOUBLE_EQ(l.vma.at(1).value, 200);  // 300, 200, 100: the gap day is no volume
  EXPECT_DOUBLE_EQ(l.vma.at(3).value, 300);
  EXPECT_FALSE(l.vma.at(2).valid);
  EXPECT_FALSE(l.vma.at(4).valid);
}

}  // namespace
}  // namespace lp::chart

namespace lp::chart {
namespace {

TEST(IndexOverlay, RebasedToTheFirstShownBarWithTheRelativeStrength) {
  // Newest first: the stock doubles while the index rises by half; one index day is missing.
  std::vector<test::D> stock, index;
  const double stock_close[] = {200, 150, 120, 100, 90};
  const double index_close[] = {1500, 1300, 0, 1000, 800};
  for (int i = 0; i < 5; ++i) {
    const std::string date = std::to_string(20240610 - i);
    stock.push_back({stock_close[i], stock_close[i], stock_close[i], stock_close[i], 100, date});
    if (index_close[i] > 0) {
      index.push_back({index_close[i], index_close[i], index_close[i], index_close[i], 1, date});
    }
  }
  ChartOptions o;
  o.period = 4;  // bars 1..4 shown: the oldest shown (bar 4) is the base
  o.topix = true;
  o.ma = false;
  ChartScene s = build_scene(bars_from_series(test::make_series(stock)), o);
  set_index_days(s, bars_from_series(test::make_series(index)));
  EXPECT_DOUBLE_EQ(s.index_line.at(4).value, 100);
  EXPECT_DOUBLE_EQ(s.index_line.at(1).value, 150);           // 100 x 1500 / 1000
  EXPECT_DOUBLE_EQ(s.relative_line.at(1).value, 200 / 1.5);  // the stock beat the index
  EXPECT_FALSE(s.index_line.at(3).valid);                    // no index that day
  EXPECT_FALSE(s.index_line.at(5).valid);                    // not shown
  // A wider view (at least 20 bars: all five here) rebases on its oldest bar.
  apply_view(s, 2, 4);
  EXPECT_DOUBLE_EQ(s.index_line.at(5).value, 90);
  EXPECT_DOUBLE_EQ(s.index_line.at(2).value, 90 * 1300.0 / 800);
}

}  // namespace
}  // namespace lp::chart
