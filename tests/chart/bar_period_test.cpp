// Weekly and monthly candles from the loaded, split-adjusted days: across Golden Week (a
// holiday week that also spans the month end), a split dated inside that week and a day the
// stock did not trade; and the keys that cut the weeks and months.
#include "chart/bar_period.h"

#include <gtest/gtest.h>

#include "chart/events.h"
#include "chart/trend_lines.h"
#include "pricedb/series.h"
#include "support/fixtures.h"

namespace lp::chart {
namespace {

TEST(BarPeriod, WeeksRunMondayToFridayAndMonthsByTheCalendar) {
  const struct {
    const char* a;
    const char* b;
    bool same_week, same_month;
  } cases[] = {
      {"20240422", "20240426", true, true},    // Monday and Friday
      {"20240426", "20240429", false, true},   // Friday and the next Monday
      {"20240430", "20240502", true, false},   // one week across the month end
      {"20231229", "20240104", false, false},  // the year end
      {"20240228", "20240301", true, false},   // a leap year's February end
      {"20240303", "20240304", false, true},   // Sunday belongs to the week before Monday
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " " + c.b);
    EXPECT_EQ(bar_key(c.a, BarPeriod::week) == bar_key(c.b, BarPeriod::week), c.same_week);
    EXPECT_EQ(bar_key(c.a, BarPeriod::month) == bar_key(c.b, BarPeriod::month), c.same_month);
  }
  EXPECT_EQ(bar_key("2024043", BarPeriod::week), -1);
  BarPeriod p = BarPeriod::day;
  EXPECT_TRUE(parse_bar_period("週足", p));
  EXPECT_EQ(p, BarPeriod::week);
  EXPECT_TRUE(parse_bar_period("Month", p));
  EXPECT_EQ(p, BarPeriod::month);
  EXPECT_FALSE(parse_bar_period("year", p));
}

class BarPeriodLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = dir_.str() + "/";
    // Golden Week 2024: 29 April and 3 and 6 May are holidays.
    const std::vector<std::string> dates = {"20240422", "20240423", "20240424", "20240425",
                                            "20240426", "20240430", "20240501", "20240502",
                                            "20240507", "20240508", "20240509", "20240510"};
    std::vector<test::Day> ref, stock;
    for (std::size_t i = 0; i < dates.size(); ++i) {
      ref.push_back({dates[i], 1000, 1000, 1000, 1000, 100});
      if (dates[i] == "20240508") continue;  // the stock did not trade that day
      // Before the 1-for-2 split of 1 May the prices are twice the later ones.
      const double f = dates[i] < "20240501" ? 2 : 1;
      const double base = 1000 + 10 * static_cast<double>(i);
      stock.push_back({dates[i], base * f, (base + 30) * f, (base - 20) * f, (base + 5) * f,
                       static_cast<long long>(100 + i)});
    }
    test::write_series_file(db_, 2024, "1001", "参照", ref);
    test::write_series_file(db_, 2024, "7203", "トヨタ", stock);
    test::write_correction_file(db_, 2024, "7203", {{"20240501", 1, 2}});
    Series series;
    ASSERT_EQ(load_series(SeriesSource(db_, "1001"), "20240510", 100, "7203", series, true), 0);
    days_ = bars_from_series(series);
    ASSERT_EQ(days_.count, 12);
  }
  test::TempDir dir_;
  std::string db_;
  Bars days_;
};

TEST_F(BarPeriodLoad, WeeklyBarsAcrossAHolidayWeekASplitAndAGapDay) {
  const Bars w = aggregate_bars(days_, BarPeriod::week);
  ASSERT_EQ(w.count, 3);
  const struct {
    int bar;
    const char* date;
    double open, high, low, close, volume;
  } rows[] = {
      // 7-10 May without 8 May: days 8, 10, 11.
      {1, "20240510", 1080, 1140, 1060, 1115, 108 + 110 + 111},
      // 30 April (halved by the split) and 1-2 May: days 5, 6, 7.
      {2, "20240502", 1050, 1100, 1030, 1075, 105 + 106 + 107},
      // 22-26 April, all halved: days 0..4.
      {3, "20240426", 1000, 1070, 980, 1045, 100 + 101 + 102 + 103 + 104},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.bar);
    const auto k = static_cast<std::size_t>(r.bar);
    EXPECT_EQ(w.date[k], r.date);
    EXPECT_DOUBLE_EQ(w.open[k], r.open);
    EXPECT_DOUBLE_EQ(w.high[k], r.high);
    EXPECT_DOUBLE_EQ(w.low[k], r.low);
    EXPECT_DOUBLE_EQ(w.close[k], r.close);
    EXPECT_DOUBLE_EQ(w.volume[k], r.volume);  // volumes are never rescaled
  }
  EXPECT_EQ(w.code, "7203");
}

TEST_F(BarPeriodLoad, MonthlyBarsCutAtTheMonthEndInsideAWeek) {
  const Bars m = aggregate_bars(days_, BarPeriod::month);
  ASSERT_EQ(m.count, 2);
  EXPECT_EQ(m.date[1], "20240510");
  EXPECT_DOUBLE_EQ(m.open[1], 1060);  // 1 May
  EXPECT_DOUBLE_EQ(m.close[1], 1115);
  EXPECT_DOUBLE_EQ(m.low[1], 1040);
  EXPECT_DOUBLE_EQ(m.high[1], 1140);
  EXPECT_EQ(m.date[2], "20240430");
  EXPECT_DOUBLE_EQ(m.open[2], 1000);
  EXPECT_DOUBLE_EQ(m.close[2], 1055);  // 30 April, adjusted
  EXPECT_DOUBLE_EQ(m.high[2], 1080);
  EXPECT_DOUBLE_EQ(m.volume[2], 100 + 101 + 102 + 103 + 104 + 105);
  // Daily bars are the days themselves.
  EXPECT_EQ(aggregate_bars(days_, BarPeriod::day).count, 12);
}

TEST_F(BarPeriodLoad, EventsMarkTheBarOfTheirDay) {
  const std::vector<ChartEvent> events =
      load_chart_events(SeriesSource(db_, "1001"), "7203", "20240510");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, EventKind::split);
  EXPECT_EQ(events[0].text, "株式分割 1:2 2024/05/01");
  std::vector<ChartEvent> all = events;
  all.push_back({"20240429", EventKind::results, "決算 a"});  // a holiday: the next bar, 30 April
  all.push_back({"20240419", EventKind::results, "決算 b"});  // before the first loaded day
  all.push_back({"20240513", EventKind::results, "決算 c"});  // after the newest day
  all.push_back({"20240501", EventKind::results, "決算 d"});  // shares the split's bar
  const struct {
    BarPeriod period;
    std::vector<std::pair<int, EventKind>> marks;  // bar, sign
  } cases[] = {
      {BarPeriod::day, {{6, EventKind::split}, {7, EventKind::results}}},
      {BarPeriod::week, {{2, EventKind::split}}},  // 30 April and 1 May: one week
      {BarPeriod::month, {{1, EventKind::split}, {2, EventKind::results}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(bar_period_caption(c.period));
    const std::vector<EventMark> marks =
        place_events(aggregate_bars(days_, c.period), all, c.period);
    ASSERT_EQ(marks.size(), c.marks.size());
    for (std::size_t i = 0; i < marks.size(); ++i) {
      EXPECT_EQ(marks[i].bar, c.marks[i].first);
      EXPECT_EQ(marks[i].kind, c.marks[i].second);
    }
  }
  const std::vector<EventMark> daily = place_events(days_, all);
  EXPECT_EQ(daily[0].text, "株式分割 1:2 2024/05/01\n決算 d");
}

TEST_F(BarPeriodLoad, TrendLinesKeepTheirDaysInEveryBarPeriod) {
  const std::filesystem::path file = trend_lines_path(dir_.str() + "/user", "7203");
  const std::vector<TrendLine> lines = {{"20240423", 1010.5, "20240509", 1100},
                                        {"20240430", 1000, "20240510", 1200}};
  ASSERT_TRUE(write_trend_lines(file, lines));
  EXPECT_EQ(read_trend_lines(file), lines);
  // Days on the bars that hold them; a day after the newest bar stands nowhere.
  EXPECT_EQ(bar_of_date(days_, "20240423"), 11);
  EXPECT_EQ(bar_of_date(days_, "20240429"), 7);  // a holiday: the next bar
  EXPECT_EQ(bar_of_date(aggregate_bars(days_, BarPeriod::week), "20240423"), 3);
  EXPECT_EQ(bar_of_date(aggregate_bars(days_, BarPeriod::month), "20240509"), 1);
  EXPECT_EQ(bar_of_date(days_, "20240511"), 0);
  // The nearest line within the tolerance, measured to the segment, not its extension.
  const std::vector<Segment> segs = {{0, 0, 100, 100}, {0, 50, 100, 50}};
  EXPECT_EQ(nearest_segment(segs, 60, 52, 5), 1);
  EXPECT_EQ(nearest_segment(segs, 30, 31, 5), 0);
  EXPECT_EQ(nearest_segment(segs, 150, 150, 5), -1);
  // Deleting the last line removes the file; a damaged line is skipped on reading.
  ASSERT_TRUE(write_trend_lines(file, {}));
  EXPECT_FALSE(std::filesystem::exists(file));
  test::write_bytes(file, "20240423,1010,20240509\r\nx,1,2,3\r\n20240423,1010,20240509,990\r\n");
  ASSERT_EQ(read_trend_lines(file).size(), 1u);
}

TEST(Events, ExDividendDayIsTheTradingDayBeforeTheMonthsLast) {
  Bars d;
  d.date = {"", "20240403", "20240401", "20240329", "20240328", "20240327", "20240229"};
  d.count = 6;
  const struct {
    const char* fy_end;
    const char* ex;
  } cases[] = {
      {"20240331", "20240328"},  // 29 March the last trading day (31 March a Sunday)
      {"20240229", ""},          // the month's last loaded day has no day before it loaded
      {"20240430", ""},          // April is not over on the chart
      {"20230331", ""},          // before the loaded days
  };
  for (const auto& c : cases) EXPECT_EQ(ex_dividend_day(d, c.fy_end), c.ex) << c.fy_end;
  EXPECT_STREQ(event_sign(EventKind::dividend), "配");
}

TEST(BarPeriod, AMonthWithoutTradingStaysAsAnUntradedBar) {
  Bars d;
  d.date = {"", "20240603", "20240531", "20240401"};
  d.open = {0, 10, 0, 8};
  d.high = {0, 11, 0, 9};
  d.low = {0, 9, 0, 7};
  d.close = {0, 10, 0, 8};
  d.volume = {0, 5, 0, 7};
  d.count = 3;
  const Bars m = aggregate_bars(d, BarPeriod::month);
  ASSERT_EQ(m.count, 3);
  EXPECT_FALSE(m.traded(2));  // May: a gap day only
  EXPECT_TRUE(m.traded(1));
  EXPECT_TRUE(m.traded(3));
}

}  // namespace
}  // namespace lp::chart
