// The period read from anywhere stays within its bounds; a holding's purchase price is drawn
// without the ratio scale; the lower grid's 前日率 needs only day 2's close.
#include <gtest/gtest.h>

#include <climits>

#include "bars_fixture.h"
#include "chart/chart_grids.h"
#include "chart/chart_model.h"
#include "chart/chart_state.h"
#include "support/fixtures.h"

namespace lp::chart {
namespace {

TEST(Period, AnyTextFromTheBoxOrInitTxtIsClampedWithoutOverflow) {
  struct Case {
    const char* text;
    int days;
  } cases[] = {{"250", 250},   {"2147483647", 5000}, {"99999999999999999999", 5000},
               {"5001", 5000}, {"0", 1},             {"-2147483648", 1},
               {"abc", 1},     {" 60 ", 60},         {"1.9", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(period_days(c.text), c.days);
  }
  EXPECT_EQ(load_day_count(INT_MAX), 5000);
  EXPECT_EQ(load_day_count(INT_MIN), 260);

  // The preferences file as both the window and the command line read it.
  lp::test::TempDir dir;
  const std::string init = dir.file("init.txt");
  lp::test::write_cp932(init, "期間_初期値,2147483647\r\nEOF\r\n");
  ChartPrefs prefs = chart_defaults();
  ASSERT_TRUE(read_chart_prefs(init, prefs));
  EXPECT_EQ(period_days(prefs.period.text), 5000);

  ChartOptions o;
  o.period = INT_MAX;
  const ChartScene s = build_scene(test::closes({{100, 10}, {101, 10}}), o);
  EXPECT_EQ(s.n, 5000);
}

TEST(Reference, AGivenPurchasePriceIsDrawnWithoutTheRatioScale) {
  struct Case {
    const char* what;
    bool ratio, reference_on;
    double reference;
    std::size_t lines;
  } cases[] = {
      {"reference alone", false, true, 105, 1},
      {"reference outside the prices", false, true, 500, 0},
      {"no reference given", false, false, 105, 0},
      {"the ratio scale around it", true, true, 105, 1},  // +-10% lie outside 100..110
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ChartOptions o;
    o.period = 10;
    o.ratio = c.ratio;
    o.reference_on = c.reference_on;
    o.reference = c.reference;
    const ChartScene s = build_scene(test::closes({{110, 10}, {100, 10}, {104, 10}}), o);
    ASSERT_EQ(s.ratio.size(), c.lines);
    if (c.lines > 0) {
      EXPECT_DOUBLE_EQ(s.ratio[0].value, c.reference);
      EXPECT_EQ(s.ratio[0].color, kGreen);
    }
  }
}

TEST(LowerGrid, DayTwoWithACloseButNoVolumeStillHasItsRate) {
  Series series = test::make_series({{100, 110, 95, 110, 500}, {100, 100, 100, 100, 500}});
  series[2].d6 = "0";  // day 2 closed at 100 without a trade
  const std::vector<GridCell> row = newest_day_summary(bars_from_series(series));
  EXPECT_EQ(row[7].text, "-");  // 前日比 needs a traded day 2
  EXPECT_EQ(row[9].text, "10.00");
  EXPECT_EQ(row[9].color, kLightRed);
}

}  // namespace
}  // namespace lp::chart
