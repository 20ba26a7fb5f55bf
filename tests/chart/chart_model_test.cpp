#include "chart/chart_model.h"

#include <gtest/gtest.h>

#include "bars_fixture.h"

namespace lp::chart {
namespace {

TEST(PaneLayout, ShownPanesStackFromTheTopAndGrowTheWindow) {
  struct Case {
    PaneSwitches on;
    std::array<int, kPaneCount> top;  // 0: hidden
    int window;
  } cases[] = {
      {{.volume = true}, {0, 1800, 0, 0, 0}, 2400 + 1300},
      {{.ma = true}, {1800, 0, 0, 0, 0}, 2400 + 3500},  // MA alone shows the price pane
      {{.candles = true, .volume = true, .rsi = true, .alg1 = true},
       {1800, 5300, 6600, 7900, 0},
       2400 + 6800},
      {{.rsi = true, .alg1 = true}, {0, 0, 1800, 3100, 0}, 2400 + 2000},
      {{}, {0, 0, 0, 0, 0}, 2400},
  };
  for (const Case& c : cases) {
    const PaneLayout l = layout_panes(c.on);
    for (std::size_t p = 0; p < kPaneCount; ++p) {
      EXPECT_EQ(l.shown[p] ? l.top_twips[p] : 0, c.top[p]) << "pane " << p;
    }
    EXPECT_EQ(l.window_height_twips, c.window);
  }
}

TEST(PaneGeometry, MarginsAndMappingsPutTheNewestDayAtTheRightMargin) {
  // Margins 8 %, 1 %, 1 % and 1 % plus a 200-twip strip (571.43 units in a 3500-twip pane).
  const PaneGeometry g = PaneGeometry::make(3500, 250, 250, 850, 1250, 401);
  EXPECT_DOUBLE_EQ(g.x(1), 9900);
  EXPECT_DOUBLE_EQ(g.x(251), 800);  // one step past the oldest shown day: the left margin
  EXPECT_NEAR(g.x(126), 9900 - 9100.0 / 250 * 125, 1e-9);
  EXPECT_NEAR(g.y(850), 10000 - 100 - 10000.0 / 3500 * 200, 1e-9);
  EXPECT_NEAR(g.y(850 + 401), 100, 1e-9);
}

TEST(PaneGeometry, MouseInverseFindsTheNearestDay) {
  for (int n : {1, 7, 60, 250, 5000}) {
    SCOPED_TRACE(n);
    const PaneGeometry g = PaneGeometry::make(1300, n, n, 0, 10000, 10000);
    const double step = (g.width - g.margin_left - g.margin_right) / n;
    for (int i = 1; i <= n; i += std::max(1, n / 50)) {
      EXPECT_EQ(g.index_at(g.x(i)), i);
      EXPECT_EQ(g.index_at(g.x(i) + step * 0.45), i);  // a little to the newer side
      EXPECT_EQ(g.index_at(g.x(i) - step * 0.45), i);  // a little to the older side
    }
    EXPECT_EQ(g.index_at(g.x(n) - step * 0.6), n + 1);  // past the oldest shown day
  }
}

TEST(PriceStep, TableThenDoublingBeyondIt) {
  // Each span limit of the table with its step; at the limit the next row's step applies.
  const double limits[] = {50,  100, 200, 500, 1000, 2000, 5000, 1e4, 2e4, 5e4,  1e5,
                           2e5, 5e5, 1e6, 2e6, 5e6,  1e7,  2e7,  4e7, 8e7, 1.6e8};
  const std::int64_t steps[] = {5,      10,     20,      50,      100,     200,     500,
                                1000,   2000,   5000,    10000,   20000,   50000,   100000,
                                200000, 500000, 1000000, 2000000, 4000000, 8000000, 16000000};
  for (std::size_t i = 0; i < std::size(limits); ++i) {
    EXPECT_EQ(price_step(limits[i] - 1), steps[i]) << "span " << limits[i] - 1;
    const double from = i > 0 ? limits[i - 1] : 1;
    EXPECT_EQ(price_step(from), steps[i]) << "span " << from;
  }
  EXPECT_EQ(price_step(1e9), 128000000);
}

TEST(PriceLevels, MultiplesOfTheStepStrictlyInsideTheRange) {
  EXPECT_EQ(price_levels(850, 1250, 50),
            (std::vector<std::int64_t>{900, 950, 1000, 1050, 1100, 1150, 1200}));
  // Levels on the range ends are not drawn.
  EXPECT_EQ(price_levels(900, 1200, 100), (std::vector<std::int64_t>{1000, 1100}));
  EXPECT_EQ(price_levels(101, 149, 5).front(), 105);
  EXPECT_TRUE(price_levels(100, 100, 5).empty());
}

TEST(PriceRange, RoundedLowAndHighOverShownTradedDays) {
  const Bars b = bars_from_series(test::make_series({
      {1000, 1010.5, 990.5, 1000, 10},  // 1010.5 -> 1010, 990.5 -> 990 (half to even)
      {0, 0, 0, 0, 0},                  // gap day: ignored, not a low of 0
      {1000, 1011.5, 985.5, 1000, 10},  // 1011.5 -> 1012, 985.5 -> 986
      {1000, 5000, 10, 1000, 10},       // not shown
  }));
  const ValueRange r = price_range(b, 1, 3);
  ASSERT_FALSE(r.empty);
  EXPECT_EQ(r.minimum, 986);
  EXPECT_EQ(r.maximum, 1012);
  EXPECT_EQ(r.span, 27);
  EXPECT_TRUE(price_range(b, 2, 2).empty);
}

TEST(RatioLines, TenPercentStepsAroundTheReference) {
  struct Line {
    double value;
    PaletteColor color;
    std::string label;
  };
  using Lines = std::vector<Line>;
  const Lines around_1000 = {{1000, kGreen, "100%"},
                             {1100, kOlive, "110%"},
                             {1200, kOlive, "120%"},
                             {900, kTeal, "90%"}};
  Lines on_the_edges = around_1000;
  on_the_edges.push_back({800, kTeal, "80%"});
  struct Case {
    double reference, minimum, maximum;
    Lines lines;
  } cases[] = {
      {1000, 850, 1250, around_1000},
      // Adding 0.1 twice to 1.0 drifts above 1.2; the 1200 line must still be there.
      {1000, 800, 1200, on_the_edges},
      {2000, 850, 1250, {{1200, kTeal, "60%"}, {1000, kTeal, "50%"}}},
      // Steps far above the reference keep counting from it, not from the range.
      {100, 995, 1005, {{1000, kOlive, "1000%"}}},
      {0, 850, 1250, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reference);
    const std::vector<RatioLine> got = ratio_lines(c.reference, c.minimum, c.maximum);
    ASSERT_EQ(got.size(), c.lines.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_NEAR(got[i].value, c.lines[i].value, 1e-6);
      EXPECT_EQ(got[i].color, c.lines[i].color);
      EXPECT_EQ(ratio_label(got[i]), c.lines[i].label);
      // The ratio scale never borrows the averages' colours.
      EXPECT_NE(got[i].color, kLightMagenta);
      EXPECT_NE(got[i].color, kLightGreen);
    }
  }
}

TEST(RatioLines, ReferenceIsTheUsersPriceOrTheNewestClose) {
  const Bars b = test::closes({{0, 0}, {1234, 5}, {1000, 5}});
  EXPECT_EQ(ratio_reference(b, true, 800), 800);
  EXPECT_EQ(ratio_reference(b, true, 0), 1234);     // a non-positive user price is ignored
  EXPECT_EQ(ratio_reference(b, false, 800), 1234);  // the gap day has no close
}

TEST(MonthMarks, BetweenDaysOfDifferentMonthsWithTheNewerMonth) {
  const Bars b = bars_from_series(test::make_series({
      {1, 1, 1, 1, 1, "20240603"},
      {1, 1, 1, 1, 1, "20240531"},
      {1, 1, 1, 1, 1, "20240530"},
      {1, 1, 1, 1, 1, "20230531"},  // same month, another year
  }));
  const PaneGeometry g = PaneGeometry::make(3500, 4, 4, 0, 10, 11);
  const std::vector<MonthMark> marks = month_marks(b, g);
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[0].month, "06");
  EXPECT_DOUBLE_EQ(marks[0].x, (g.x(1) + g.x(2)) / 2);
  EXPECT_EQ(marks[1].month, "05");
  EXPECT_DOUBLE_EQ(marks[1].x, (g.x(3) + g.x(4)) / 2);
}

TEST(Scene, LoadCountAndShownDays) {
  EXPECT_EQ(load_day_count(250), 510);
  EXPECT_EQ(load_day_count(4900), 5000);
  EXPECT_EQ(load_day_count(0), 260);

  // Less history than the period: only the loaded days, still divided by the period.
  std::vector<std::pair<double, long long>> days(100, {500, 1000});
  ChartOptions o;
  o.period = 250;
  o.ma1 = 5;
  o.ma2 = 25;
  const ChartScene s = build_scene(test::closes(days), o);
  EXPECT_TRUE(s.loaded);
  EXPECT_EQ(s.last, 100);
  EXPECT_EQ(s.pane[kPricePane].n, 250);
  EXPECT_DOUBLE_EQ(s.pane[kPricePane].x(1), 9900);
  EXPECT_TRUE(s.ma1.at(96).valid);
  EXPECT_FALSE(s.ma1.at(97).valid);
  EXPECT_FALSE(s.alg1.at(1).valid);  // ALG1 off: nothing computed
  // Indicator panes map their range like the price pane: span = maximum - minimum + 1.
  EXPECT_EQ(s.pane[kRsiPane].span, 111);
  EXPECT_EQ(s.pane[kAlg1Pane].span, 2);
  EXPECT_EQ(s.pane[kVolumePane].span, 10001);

  const ChartScene empty = build_scene(Bars{}, o);
  EXPECT_FALSE(empty.loaded);
  o.period = 0;  // an empty period box shows nothing and divides by nothing
  const ChartScene none = build_scene(test::closes(days), o);
  EXPECT_FALSE(none.pane[kPricePane].has_days());
}

TEST(Scene, PlotAreaHoldsEveryShownDayAndEveryLineDrawn) {
  // A calm stretch then a sharp fall: the σ bands and the long average leave the candles' range.
  std::vector<std::pair<double, long long>> days;
  for (int i = 0; i < 20; ++i) days.push_back({600.0 - i * 2, 1000});
  for (int i = 0; i < 60; ++i) days.push_back({1000.0 + (i % 2) * 5, 1000});
  ChartOptions o;
  o.period = 40;
  o.ma1 = 5;
  o.ma2 = 25;
  o.bands = true;
  o.band_period = 25;
  o.rsi = true;
  o.rsi_period = 14;
  const ChartScene s = build_scene(test::closes(days), o);
  ASSERT_TRUE(s.loaded);
  for (int pane : {kPricePane, kVolumePane, kRsiPane}) {
    SCOPED_TRACE(pane);
    const PaneGeometry& g = s.pane[static_cast<std::size_t>(pane)];
    const PaneGeometry::Area a = g.plot_area();
    // Labels live outside it: the levels in the left margin, the months in the bottom strip.
    EXPECT_GT(a.left, 0);
    EXPECT_LT(a.bottom, g.height - g.height * 0.01);
    EXPECT_DOUBLE_EQ(a.right, g.x(s.first));
    EXPECT_GE(g.x(s.last), a.left);
    EXPECT_TRUE(a.contains(g.x(s.first), g.y(g.minimum)));
    EXPECT_TRUE(a.contains(g.x(s.last), g.y(g.maximum)));
  }
  const PaneGeometry& price = s.pane[kPricePane];
  const PaneGeometry::Area a = price.plot_area();
  int outside = 0;
  for (int i = s.first; i <= s.last; ++i) {
    const auto k = static_cast<std::size_t>(i);
    EXPECT_TRUE(a.contains(price.x(i), price.y(s.bars.high[k]))) << i;
    EXPECT_TRUE(a.contains(price.x(i), price.y(s.bars.low[k]))) << i;
    for (const DaySeries* line : {&s.bands.upper[2], &s.bands.lower[2], &s.ma2}) {
      const IndicatorPoint pt = line->at(i);
      if (pt.valid && !a.contains(price.x(i), price.y(pt.value))) ++outside;
    }
  }
  // The scale holds everything the pane draws, not only the candles.
  EXPECT_EQ(outside, 0);
  const ValueRange candles = price_range(s.bars, s.first, s.last);
  EXPECT_LT(price.minimum, candles.minimum) << "the fixture's bands must leave the candles";
  EXPECT_GT(price.maximum, candles.maximum);
  EXPECT_DOUBLE_EQ(price.span, price.maximum - price.minimum + 1);
  // Switched off, they do not widen it.
  o.bands = false;
  o.ma = false;
  const ChartScene bare = build_scene(test::closes(days), o);
  EXPECT_EQ(bare.pane[kPricePane].minimum, candles.minimum);
  EXPECT_EQ(bare.pane[kPricePane].maximum, candles.maximum);
  // An average alone widens it too: over ten shown days of the fall, the 25-day average still
  // reaches back into the calm stretch far above them.
  o.ma = true;
  o.period = 10;
  const ChartScene ma_only = build_scene(test::closes(days), o);
  const PaneGeometry& g = ma_only.pane[kPricePane];
  EXPECT_GT(g.maximum, price_range(ma_only.bars, 1, 10).maximum + 100);
  for (int i = ma_only.first; i <= ma_only.last; ++i) {
    for (const DaySeries* line : {&ma_only.ma1, &ma_only.ma2}) {
      const IndicatorPoint pt = line->at(i);
      ASSERT_TRUE(pt.valid) << i;
      EXPECT_TRUE(g.plot_area().contains(g.x(i), g.y(pt.value))) << i;
    }
  }
}

}  // namespace
}  // namespace lp::chart
