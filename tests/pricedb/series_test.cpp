#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pricedb/series.h"
#include "support/fixtures.h"

namespace lp {
namespace {

using test::Day;

// A price database in a temp folder with reference code 1001.
class SeriesTest : public ::testing::Test {
 protected:
  void SetUp() override { db_ = dir_.str() + "/"; }

  // Days oldest first, the close rising by 10 a day from `base`.
  static std::vector<Day> days(const std::vector<std::string>& dates, double base = 100) {
    std::vector<Day> out;
    for (std::size_t i = 0; i < dates.size(); ++i) {
      double c = base + 10.0 * static_cast<double>(i);
      out.push_back({dates[i], c - 1, c + 5, c - 5, c, 1000 + static_cast<long long>(i)});
    }
    return out;
  }
  void reference(int year, const std::vector<std::string>& dates) {
    test::write_series_file(db_, year, "1001", "基準", days(dates));
  }
  void stock(int year, const std::string& code, const std::vector<std::string>& dates,
             const std::string& name = "テスト", double base = 100) {
    test::write_series_file(db_, year, code, name, days(dates, base));
  }
  SeriesSource source() const { return SeriesSource(db_, "1001"); }

  static std::vector<std::string> dates_of(const Series& s) {
    std::vector<std::string> out;
    for (int i = 1; i <= series_count(s); ++i) out.push_back(s[i].d1_code_yyyymmdd);
    return out;
  }

  int cal_load(std::string_view end, int n, std::string_view code, Series& s, bool adjust,
               int cal_days = -1) {
    TradingCalendar cal;
    build_trading_calendar(source(), cal, end, cal_days < 0 ? n : cal_days);
    return load_series_cal(source(), end, n, code, cal, s, adjust);
  }

  test::TempDir dir_;
  std::string db_;
};

const std::vector<std::string> k2023 = {"20231226", "20231227", "20231228", "20231229"};
const std::vector<std::string> k2024 = {"20240104", "20240105", "20240108", "20240109",
                                        "20240110"};

TEST_F(SeriesTest, CalendarCrossesIntoThePreviousYear) {
  reference(2023, k2023);
  reference(2024, k2024);
  TradingCalendar cal;
  ASSERT_EQ(build_trading_calendar(source(), cal, "20240108", 5), 0);
  EXPECT_EQ(cal.dates, (std::vector<std::string>{"20240108", "20240105", "20240104", "20231229",
                                                 "20231228"}));
  EXPECT_EQ(build_trading_calendar(source(), cal, "20220101", 5), -1);
  EXPECT_EQ(cal.count(), 0);
  // Asking for more days than exist gives what exists.
  ASSERT_EQ(build_trading_calendar(source(), cal, "20241231", 100), 0);
  EXPECT_EQ(cal.count(), 9);
}

TEST_F(SeriesTest, GapDaysAreFilledFromTheCalendar) {
  reference(2024, k2024);
  stock(2024, "1301", {"20240104", "20240105", "20240109", "20240110"});
  for (bool use_cal : {false, true}) {
    Series s;
    int r = use_cal ? cal_load("20240110", 5, "1301", s, false)
                    : load_series(source(), "20240110", 5, "1301", s, false);
    ASSERT_EQ(r, 0);
    ASSERT_EQ(series_count(s), 5);
    EXPECT_EQ(dates_of(s), (std::vector<std::string>{"20240110", "20240109", "20240108",
                                                     "20240105", "20240104"}));
    EXPECT_EQ(s[3].d2, "");
    EXPECT_EQ(s[3].d5, "");
    EXPECT_EQ(s[3].d6, "0");
    EXPECT_EQ(s[0].d4, "20240104");
    EXPECT_EQ(s[0].d5, "20240110");
    // With adjustment, a gap day's prices read 0.
    ASSERT_EQ(load_series(source(), "20240110", 5, "1301", s, true), 0);
    EXPECT_EQ(s[3].d2, "0");
    EXPECT_EQ(s[3].d6, "0");
  }
}

TEST_F(SeriesTest, StockListedInsideTheSpanDiffersBetweenEntryPoints) {
  reference(2023, k2023);
  reference(2024, k2024);
  stock(2024, "1301", {"20240108", "20240109", "20240110"});
  Series a, b;
  ASSERT_EQ(load_series(source(), "20240110", 9, "1301", a, false), 0);
  // The calendar's own days of the listing year before the first record are gaps;
  // the year without the stock's file adds nothing.
  EXPECT_EQ(dates_of(a), (std::vector<std::string>{"20240110", "20240109", "20240108",
                                                   "20240105", "20240104"}));
  ASSERT_EQ(cal_load("20240110", 9, "1301", b, false), 0);
  // Nothing follows the stock's oldest record.
  EXPECT_EQ(dates_of(b), (std::vector<std::string>{"20240110", "20240109", "20240108"}));
}

TEST_F(SeriesTest, YearWithoutTheStockFileBecomesGapsOnlyWithACalendar) {
  reference(2023, k2023);
  reference(2024, k2024);
  stock(2023, "1301", {"20231226", "20231227", "20231228", "20231229"});
  Series a, b;
  ASSERT_EQ(load_series(source(), "20240110", 7, "1301", a, false), 0);
  EXPECT_EQ(series_count(a), 2);  // 2024 has no file: it adds neither records nor gaps
  EXPECT_EQ(dates_of(a), (std::vector<std::string>{"20231229", "20231228"}));
  ASSERT_EQ(cal_load("20240110", 7, "1301", b, false), 0);
  EXPECT_EQ(dates_of(b), (std::vector<std::string>{"20240110", "20240109", "20240108",
                                                   "20240105", "20240104", "20231229",
                                                   "20231228"}));
  EXPECT_EQ(b[1].d6, "0");
  EXPECT_EQ(b[6].d6, "1003");
}

TEST_F(SeriesTest, EndDateBeforeTheLastRecordAndCountReachedMidYear) {
  reference(2024, k2024);
  stock(2024, "1301", k2024);
  for (bool use_cal : {false, true}) {
    Series s;
    int r = use_cal ? cal_load("20240109", 2, "1301", s, false)
                    : load_series(source(), "20240109", 2, "1301", s, false);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(dates_of(s), (std::vector<std::string>{"20240109", "20240108"})) << use_cal;
    EXPECT_EQ(s[1].d5, "130");
  }
}

TEST_F(SeriesTest, RecordMissingFromTheCalendarTurnsTheRestIntoGaps) {
  reference(2024, k2024);
  // 20240106 is a Saturday the calendar does not hold.
  stock(2024, "1301", {"20240104", "20240105", "20240106", "20240109", "20240110"});
  Series a;
  ASSERT_EQ(load_series(source(), "20240110", 5, "1301", a, false), 0);
  EXPECT_EQ(a[1].d6, "1004");
  EXPECT_EQ(a[2].d6, "1003");
  EXPECT_EQ(a[3].d6, "0");  // 20240108: the stock's next record is the stray 0106
  EXPECT_EQ(a[4].d6, "0");
  EXPECT_EQ(a[5].d6, "0");
  Series b;
  ASSERT_EQ(cal_load("20240110", 5, "1301", b, false), 0);
  EXPECT_EQ(series_count(b), 5);
  EXPECT_EQ(b[3].d6, "0");
  EXPECT_EQ(b[5].d6, "0");
}

TEST_F(SeriesTest, CalendarLoadStopsWhenTheCalendarRunsOut) {
  reference(2024, k2024);
  stock(2024, "1301", k2024);
  Series s;
  // 5 days wanted, a calendar of 3: no gap day without a date.
  ASSERT_EQ(cal_load("20240110", 5, "1301", s, false, 3), 0);
  EXPECT_EQ(series_count(s), 3);
  for (int i = 1; i <= 3; ++i) EXPECT_FALSE(s[i].d1_code_yyyymmdd.empty());
}

TEST_F(SeriesTest, SplitAdjustment) {
  reference(2024, k2024);
  stock(2024, "1301", k2024);
  struct Case {
    const char* name;
    std::vector<std::tuple<std::string, double, double>> corrections;
    std::vector<std::string> closes;  // newest first
    std::string as_of = "";
  };
  const std::vector<Case> cases = {
      {"none", {}, {"140", "130", "120", "110", "100"}},
      {"1 for 2 halves days before its date", {{"20240108", 1, 2}}, {"140", "130", "120", "55", "50"}},
      {"after the newest day applies to all", {{"20240111", 1, 2}}, {"70", "65", "60", "55", "50"}},
      // Two corrections between consecutive trading days: the older takes effect a day later.
      {"two between two days",
       {{"20240106", 1, 2}, {"20240107", 1, 2}},
       {"140", "130", "120", "55", "25"}},
      {"zero denominator ignored", {{"20240108", 1, 0}}, {"140", "130", "120", "110", "100"}},
      // As the database cut at that day loads: the day's own correction known, the next not.
      {"dated on the as-of day",
       {{"20240109", 1, 2}, {"20240110", 1, 2}},
       {"130", "60", "55", "50"},
       "20240109"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir_.path() / "2024/data_mh");
    if (!c.corrections.empty()) test::write_correction_file(db_, 2024, "1301", c.corrections);
    SeriesSource src = source();
    src.as_of = c.as_of;
    const int n = static_cast<int>(c.closes.size());
    Series s;
    ASSERT_EQ(load_series(src, "20240110", n, "1301", s, true), 0) << c.name;
    std::vector<std::string> closes;
    for (int i = 1; i <= n; ++i) closes.push_back(s[i].d5);
    EXPECT_EQ(closes, c.closes) << c.name;
    EXPECT_EQ(s[n].d6, "1000") << c.name;  // volume never rescaled
  }
}

TEST_F(SeriesTest, AdjustmentRewritesPricesInPlainDecimalForm) {
  reference(2024, {"20240104"});
  test::write_cp932(dir_.path() / "2024/data_m/1301.csv",
                    "1301,d,n,x,20240104,1\r\n20240104,0123.0,125.50,1.2e2,0124,500\r\n");
  Series s;
  ASSERT_EQ(load_series(source(), "20240104", 1, "1301", s, true), 0);
  EXPECT_EQ(s[1].d2, "123");
  EXPECT_EQ(s[1].d3, "125.5");
  EXPECT_EQ(s[1].d4, "120");
  EXPECT_EQ(s[1].d5, "124");
  ASSERT_EQ(load_series(source(), "20240104", 1, "1301", s, false), 0);
  EXPECT_EQ(s[1].d2, "0123.0");  // without adjustment the text stays as read
}

TEST_F(SeriesTest, HeaderNameIsCleanedAndMissingStockGivesMinusOne) {
  reference(2024, k2024);
  stock(2024, "1301", k2024, "(株)極洋");
  stock(2024, "1332", k2024, "日本水産(株)");
  Series s;
  ASSERT_EQ(load_series(source(), "20240110", 3, "1301", s, false), 0);
  EXPECT_EQ(s[0].d1_code_yyyymmdd, "1301");
  EXPECT_EQ(s[0].d2, "desc");
  EXPECT_EQ(s[0].d3, "極洋");
  EXPECT_EQ(s[0].d6, "3");
  ASSERT_EQ(cal_load("20240110", 3, "1332", s, false), 0);
  EXPECT_EQ(s[0].d3, "日本水産");
  // Records beyond the count keep what the earlier load left.
  Series t;
  ASSERT_EQ(load_series(source(), "20240110", 5, "1301", t, false), 0);
  ASSERT_EQ(load_series(source(), "20240110", 2, "1301", t, false), 0);
  EXPECT_EQ(t[5].d1_code_yyyymmdd, "20240104");
  Series u;
  EXPECT_EQ(load_series(source(), "20240110", 3, "9999", u, false), -1);
  EXPECT_EQ(u[0].d1_code_yyyymmdd, "9999");
  EXPECT_EQ(u[0].d6, "0");
  EXPECT_EQ(cal_load("20240110", 3, "9999", u, false), -1);
}

TEST_F(SeriesTest, OversizedYearFileIsReadWithoutMisalignment) {
  // More day lines than any real year holds: every record stays aligned.
  std::vector<std::string> dates;
  for (int i = 0; i < 400; ++i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "2024%04d", 1000 + i);
    dates.push_back(buf);
  }
  reference(2024, dates);
  stock(2024, "1301", dates);
  Series s;
  ASSERT_EQ(cal_load("20249999", 400, "1301", s, false), 0);
  ASSERT_EQ(series_count(s), 400);
  EXPECT_EQ(s[400].d1_code_yyyymmdd, "20241000");
  EXPECT_EQ(s[1].d6, "1399");
}

}  // namespace
}  // namespace lp
