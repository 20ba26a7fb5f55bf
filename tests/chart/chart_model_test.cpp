#include "chart/chart_model.h"

#include <gtest/gtest.h>

#include "bars_fixture.h"

namespace lp::chart {
namespace {

TEST(PaneLayout, ShownPanesStackFromTheTopAndGrowTheWindow) {
  struct Case {
    const char* what;
    PaneSwitches on;
    std::array<bool, kPaneCount> shown;
    std::array<int, kPaneCount> top;  // for shown panes
    int window;
  } cases[] = {
      {"only volume",
       {.volume = true},
       {false, true, false, false, false},
       {0, 1800, 0, 0, 0},
       2400 + 1300},
      {"MA alone shows the price pane",
       {.ma = true},
       {true, false, false, false, false},
       {1800, 0, 0, 0, 0},
       2400 + 3500},
      {"everything but ALG2",
       {.candles = true, .ma = true, .volume = true, .rsi = true, .alg1 = true},
       {true, true, true, true, false},
       {1800, 5300, 6600, 7900, 0},
       2400 + 6800},
      {"RSI and ALG1 without prices",
       {.rsi = true, .alg1 = true},
       {false, false, true, true, false},
       {0, 0, 1800, 3100, 0},
       2400 + 2000},
      {"nothing", {}, {false, false, false, false, false}, {0, 0, 0, 0, 0}, 2400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PaneLayout l = layout_panes(c.on);
    EXPECT_EQ(l.shown, c.shown);
    for (std::size_t p = 0; p < kPaneCount; ++p) {
      if (c.shown[p]) {
        EXPECT_EQ(l.top_twips[p], c.top[p]) << "pane " << p;
      }
    }
    EXPECT_EQ(l.window_height_twips, c.window);
  }
}

TEST(PaneGeometry, MarginsAndMappingsPutTheNewestDayAtTheRightMargin) {
  // Price pane: 3500 twips, so the 200-twip label strip is 571.43 logical units.
  const PaneGeometry g = PaneGeometry::make(3500, 250, 250, 850, 1250, 401);
  EXPECT_DOUBLE_EQ(g.margin_left, 800);
  EXPECT_DOUBLE_EQ(g.margin_right, 100);
  EXPECT_DOUBLE_EQ(g.margin_top, 100);
  EXPECT_NEAR(g.margin_bottom, 100 + 10000.0 / 3500 * 200, 1e-9);
  EXPECT_DOUBLE_EQ(g.x(1), 9900);
  EXPECT_DOUBLE_EQ(g.x(251), 800);  // one step past the oldest shown day: the left margin
  EXPECT_NEAR(g.x(126), 9900 - 9100.0 / 250 * 125, 1e-9);
  EXPECT_NEAR(g.y(850), 10000 - g.margin_bottom, 1e-9);
  EXPECT_NEAR(g.y(850 + 401), g.margin_top, 1e-9);
  EXPECT_GT(g.y(900), g.y(1000));  // higher prices further up
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
  const std::pair<double, std::int64_t> cases[] = {
      {1, 5},
      {49, 5},
      {50, 10},
      {99, 10},
      {100, 20},
      {401, 50},
      {999, 100},
      {1000, 200},
      {4999, 500},
      {9999, 1000},
      {10000, 2000},
      {99999, 10000},
      {999999, 100000},
      {9999999, 1000000},
      {10000000, 2000000},
      {19999999, 2000000},
      {20000000, 4000000},
      {39999999, 4000000},
      {79999999, 8000000},
      {80000000, 16000000},
      {159999999, 16000000},
      {160000000, 32000000},
      {1e9, 128000000},
  };
  for (const auto& [span, step] : cases) EXPECT_EQ(price_step(span), step) << "span " << span;
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
  struct Case {
    const char* what;
    double reference, minimum, maximum;
    std::vector<std::pair<double, PaletteColor>> lines;
  } cases[] = {
      {"reference 1000 over 850-1250",
       1000,
       850,
       1250,
       {{1000, kGreen}, {1100, kLightMagenta}, {1200, kLightMagenta}, {900, kLightCyan}}},
      // 1.0 + 0.1 + 0.1 added up drifts above 1.2; the 1200 line must still be there.
      {"line on the range maximum",
       1000,
       800,
       1200,
       {{1000, kGreen},
        {1100, kLightMagenta},
        {1200, kLightMagenta},
        {900, kLightCyan},
        {800, kLightCyan}}},
      {"reference above the range", 2000, 850, 1250, {{1200, kLightCyan}, {1000, kLightCyan}}},
      {"no reference", 0, 850, 1250, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<RatioLine> got = ratio_lines(c.reference, c.minimum, c.maximum);
    ASSERT_EQ(got.size(), c.lines.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_NEAR(got[i].value, c.lines[i].first, 1e-6);
      EXPECT_EQ(got[i].color, c.lines[i].second);
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

  const ChartScene empty = build_scene(Bars{}, o);
  EXPECT_FALSE(empty.loaded);
  o.period = 0;  // an empty period box shows nothing and divides by nothing
  const ChartScene none = build_scene(test::closes(days), o);
  EXPECT_FALSE(none.pane[kPricePane].has_days());
}

}  // namespace
}  // namespace lp::chart
