#include <gtest/gtest.h>

#include "screening/criteria/lowest_price.h"
#include "screening/criteria_run_fixture.h"
#include "screening/criteria_test_series.h"

namespace lp::screening {
namespace {

using test::Bar;
using test::series_of;

TEST(LowestTradedLow, FindsTheNewestDayOfTheLowestTradedLow) {
  struct Case {
    const char* what;
    std::vector<Bar> days;  // newest first
    int period;
    int day;
    std::int64_t low;
  };
  const Case cases[] = {
      {"low today",
       {{"3", 100, 110, 90, 95, 10}, {"2", 100, 110, 95, 100, 10}, {"1", 100, 110, 96, 100, 10}},
       250,
       1,
       90},
      {"equal lows keep the newer day",
       {{"3", 100, 110, 95, 95, 10}, {"2", 100, 110, 90, 100, 10}, {"1", 100, 110, 90, 100, 10}},
       250,
       2,
       90},
      {"day without volume skipped",
       {{"3", 100, 110, 80, 95, 0}, {"2", 100, 110, 90, 100, 10}, {"1", 100, 110, 95, 100, 10}},
       250,
       2,
       90},
      {"idle latest day (gap)",
       {{"3", 0, 0, 0, 0, 0}, {"2", 100, 110, 90, 100, 10}, {"1", 100, 110, 95, 100, 10}},
       250,
       2,
       90},
      {"low rounded half to even",
       {{"2", 100, 110, 90.5, 95, 10}, {"1", 100, 110, 90, 100, 10}},
       250,
       1,
       90},
      {"period limits the days",
       {{"2", 100, 110, 95, 95, 10}, {"1", 100, 110, 90, 100, 10}},
       1,
       1,
       95},
      {"no traded day", {{"2", 0, 0, 0, 0, 0}, {"1", 100, 110, 90, 100, 0}}, 250, 0, kNoLow},
  };
  for (const Case& c : cases) {
    const LowestDay d = lowest_traded_low(series_of(c.days), c.period);
    EXPECT_EQ(d.day, c.day) << c.what;
    EXPECT_EQ(d.low, c.low) << c.what;
  }
}

TEST(LowestLow, IgnoresVolumeButNotThePeriod) {
  const Series s = series_of({{"4", 100, 110, 99, 100, 10},
                              {"3", 0, 0, 0, 0, 0},
                              {"2", 100, 110, 80, 100, 0},
                              {"1", 100, 110, 70, 100, 10}});
  EXPECT_EQ(lowest_low(s, 1), 99);
  EXPECT_EQ(lowest_low(s, 3), 80);  // a day without volume counts here
  EXPECT_EQ(lowest_low(s, 10), 70);
  EXPECT_EQ(lowest_low(series_of({{"1", 0, 0, 0, 0, 0}}), 5), kNoLow);
}

// The routines in a run, on a small database.

using test::CriteriaRun;

// Bars newest first where every day has the given low and a high well above it.
std::vector<test::Bar> lows(const std::vector<double>& newest_first) {
  std::vector<test::Bar> out;
  for (double l : newest_first) {
    out.push_back(l > 0 ? test::Bar{"", l + 5, l + 10, l, l + 5, 100}
                        : test::Bar{"", 0, 0, 0, 0, 0});
  }
  return out;
}

TEST(LowestDayCriterion, KeepsStocksWhoseLowIsRecent) {
  CriteriaRun r(260);
  std::vector<double> today_low(250, 120);
  today_low[0] = 100;  // the 250-day low made today
  std::vector<double> tie(250, 120);
  tie[0] = 100;
  tie[39] = 100;  // the same low on day 40: the newer day counts
  std::vector<double> old_low(250, 120);
  old_low[5] = 100;
  std::vector<double> idle_today(250, 120);
  idle_today[0] = 0;  // did not trade on the latest day
  idle_today[1] = 100;
  r.add_stock("1301", lows(today_low));
  r.add_stock("1302", lows(tie));
  r.add_stock("1303", lows(old_low));
  r.add_stock("1304", lows(idle_today));
  r.add_stock("1305", lows(std::vector<double>(250, 0)));  // never traded in the window
  r.set("yasune1_kikan_cmb", " 250 ");
  r.set("yasune1_kikan_txt", "1");
  r.run(f_yasune1sel, 2);

  EXPECT_EQ(r.values(),
            (std::map<std::string, std::string>{{"1301", r.date(1)}, {"1302", r.date(1)}}));
  EXPECT_EQ(r.text("yasune1_kikan_cmb"), "250");
  EXPECT_EQ(r.candidates.title, "最安値日付");
  EXPECT_EQ(r.labels[2], "2/5");
  EXPECT_EQ(r.intermediate(2), "2," + r.date(1) + ",最安値日付\r\n1301,1," + r.date(1) +
                                   "\r\n1302,2," + r.date(1) + "\r\n");
  EXPECT_EQ(r.messages.front(), "最安値日による銘柄選択：処理中");
  EXPECT_EQ(r.shown, std::vector<int>{2});

  // The idle stock's low was made on day 2: it passes once B reaches 2.
  CriteriaRun again(260);
  again.add_stock("1304", lows(idle_today));
  again.set("yasune1_kikan_cmb", "250");
  again.set("yasune1_kikan_txt", "2");
  again.run(f_yasune1sel, 2);
  EXPECT_EQ(again.values(), (std::map<std::string, std::string>{{"1304", again.date(2)}}));
}

TEST(LowestDayCriterion, ParametersAreClampedAndWrittenBack) {
  struct Case {
    const char *a, *b;
    const char *a_out, *b_out;
  };
  const Case cases[] = {
      {"5", "10", "5", "5"},         // B beyond A becomes A
      {"-3", "2", "0", "0"},         // negatives become 0
      {"99999", "3", "30", "3"},     // the period is bounded by the days held
      {"abc", "2.5", "0", "0"},      // non-numbers read 0; 2.5 rounds to 2, then B = A = 0
      {"12.5", "12.5", "12", "12"},  // halves to even
  };
  for (const Case& c : cases) {
    CriteriaRun r(30);
    r.add_stock("1301", lows(std::vector<double>(30, 100)));
    r.set("yasune1_kikan_cmb", c.a);
    r.set("yasune1_kikan_txt", c.b);
    r.run(f_yasune1sel, 2);
    EXPECT_EQ(r.text("yasune1_kikan_cmb"), c.a_out) << c.a << "/" << c.b;
    EXPECT_EQ(r.text("yasune1_kikan_txt"), c.b_out) << c.a << "/" << c.b;
  }
  // With A = 5 and B = 10 every stock with a traded day in the last 5 days passes.
  CriteriaRun r(30);
  r.add_stock("1301", lows({130, 120, 110, 100, 105, 90, 90, 90}));
  r.add_stock("1302", lows({0, 0, 0, 0, 0, 90, 90}));
  r.set("yasune1_kikan_cmb", "5");
  r.set("yasune1_kikan_txt", "10");
  r.run(f_yasune1sel, 2);
  EXPECT_EQ(r.values(), (std::map<std::string, std::string>{{"1301", r.date(4)}}));
}

TEST(RiseFromLowCriterion, InclusiveBoundsAndPeriodRewrite) {
  CriteriaRun r(40);
  std::vector<test::Bar> at_ten = lows(std::vector<double>(40, 120));
  at_ten[3] = {"", 105, 110, 100, 105, 100};  // low 100
  at_ten[0] = {"", 110, 112, 108, 110, 100};  // current price 110: exactly +10 %
  std::vector<test::Bar> above = at_ten;
  above[0] = {"", 110, 112, 108, 111, 100};  // +11 %
  r.add_stock("1301", at_ten);
  r.add_stock("1302", above);
  r.set("yasune2_kikan_cmb", "500");
  r.set("yasune2_ageritsu1_txt", "10");
  r.set("yasune2_ageritsu2_txt", " 0");
  r.run(f_yasune2sel, 3);
  EXPECT_EQ(r.values(), (std::map<std::string, std::string>{{"1301", "10"}}));
  EXPECT_EQ(r.text("yasune2_kikan_cmb"), "40");  // the trading days held
  EXPECT_EQ(r.text("yasune2_ageritsu1_txt"), "0");
  EXPECT_EQ(r.text("yasune2_ageritsu2_txt"), "10");
  EXPECT_EQ(r.candidates.title, "値上率");
  EXPECT_EQ(r.labels[3], "1/2");
}

TEST(RiseFromLowCriterion, EmptyDatabaseLeavesNoTrace) {
  CriteriaRun r(20);
  r.add_closes("1301", {100, 100});
  r.ctx.trading_day_count = 0;
  r.set("yasune2_kikan_cmb", " 30 ");
  r.run(f_yasune2sel, 3);
  EXPECT_EQ(r.kept(), std::vector<std::string>{"1301"});
  EXPECT_TRUE(r.messages.empty());
  EXPECT_TRUE(r.labels.empty());
  EXPECT_TRUE(r.shown.empty());
  EXPECT_EQ(r.text("yasune2_kikan_cmb"), " 30 ");
  EXPECT_FALSE(std::filesystem::exists(r.user + "sel3.csv"));
}

TEST(LowestPriceCriteria, CodeMismatchEndsTheCriterionWithTheListUnchanged) {
  struct Case {
    CriterionFn routine;
    int n;
    const char* message;
  };
  const Case cases[] = {
      {f_yasune1sel, 2, "f_yasune1sel_Error:Read Meigara File code is incorrect."},
      {f_yasune2sel, 3, "f_yasune2sel_Error:Read Meigara File code is incorrect."},
  };
  for (const Case& c : cases) {
    CriteriaRun r(30);
    r.add_stock("1301", lows(std::vector<double>(30, 100)));
    r.write_stock_as("1302", "9999", lows(std::vector<double>(30, 100)));
    r.add_row("1302", "105", "105");
    r.set("yasune1_kikan_cmb", "20");
    r.set("yasune2_kikan_cmb", "20");
    r.run(c.routine, c.n);
    EXPECT_EQ(r.kept(), (std::vector<std::string>{"1301", "1302"})) << c.n;
    EXPECT_EQ(r.messages.back(), c.message);
    EXPECT_TRUE(r.shown.empty()) << c.n;
    EXPECT_FALSE(std::filesystem::exists(r.user + "sel" + std::to_string(c.n) + ".csv"));
  }
}

}  // namespace
}  // namespace lp::screening
