#include <gtest/gtest.h>

#include "screening/criteria/day_ratio_semi.h"
#include "screening/criteria/lowest_price.h"
#include "screening/criteria/range_position.h"
#include "screening/criteria/sigma_rsi_kairi.h"
#include "screening/criteria_run_fixture.h"

namespace lp::screening {
namespace {

using test::Bar;
using test::CriteriaRun;

// Bars newest first where every day has the given low (0: a gap day) and a high above it.
std::vector<Bar> lows(const std::vector<double>& newest_first) {
  std::vector<Bar> out;
  for (double l : newest_first) out.push_back(l > 0 ? Bar{l + 5, l + 10, l, l + 5, 100} : Bar{});
  return out;
}

std::vector<double> flat_with(double base, std::vector<std::pair<int, double>> days, int n = 250) {
  std::vector<double> out(static_cast<std::size_t>(n), base);
  for (auto [day, low] : days) out[static_cast<std::size_t>(day - 1)] = low;
  return out;
}

TEST(LowestDayCriterion, KeepsStocksWhoseLowIsRecent) {
  CriteriaRun r(260);
  r.add_stock("1301", lows(flat_with(120, {{1, 100}})));             // the 250-day low made today
  r.add_stock("1302", lows(flat_with(120, {{1, 100}, {40, 100}})));  // tie: the newer day counts
  r.add_stock("1303", lows(flat_with(120, {{6, 100}})));
  r.add_stock("1304", lows(flat_with(120, {{1, 0}, {2, 100}})));  // idle on the latest day
  r.add_stock("1305", lows(flat_with(0, {})));                    // never traded in the window
  r.set("yasune1_kikan_cmb", " 250 ");
  r.set("yasune1_kikan_txt", "1");
  r.run(f_yasune1sel, 2);

  const std::string d1 = r.date(1);
  EXPECT_EQ(r.values(), (std::map<std::string, std::string>{{"1301", d1}, {"1302", d1}}));
  EXPECT_EQ(r.text("yasune1_kikan_cmb"), "250");
  EXPECT_EQ(r.labels[2], "2/5");
  EXPECT_EQ(test::read_cp932(r.user + "sel2.csv"),
            "2," + d1 + ",最安値日付\r\n1301,1," + d1 + "\r\n1302,2," + d1 + "\r\n");
  EXPECT_EQ(r.messages.front(), "最安値日による銘柄選択：処理中");
  EXPECT_EQ(r.shown, std::vector<int>{2});

  // The idle stock's low was made on day 2: it passes once B reaches 2.
  r.set("yasune1_kikan_txt", "2");
  r.start();
  r.run(f_yasune1sel, 2);
  EXPECT_EQ(r.values()["1304"], r.date(2));
}

TEST(LowestDayCriterion, ParametersAreClampedAndWrittenBack) {
  struct Case {
    const char *a, *b, *a_out, *b_out;
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
    // With A = 5 and B = 10 every stock with a traded day in the last 5 days passes.
    r.add_stock("1301", lows({130, 120, 110, 100, 105, 90, 90, 90}));
    r.add_stock("1302", lows({0, 0, 0, 0, 0, 90, 90}));
    r.set("yasune1_kikan_cmb", c.a);
    r.set("yasune1_kikan_txt", c.b);
    r.run(f_yasune1sel, 2);
    EXPECT_EQ(r.text("yasune1_kikan_cmb"), c.a_out) << c.a << "/" << c.b;
    EXPECT_EQ(r.text("yasune1_kikan_txt"), c.b_out) << c.a << "/" << c.b;
    if (std::string(c.a) == "5") {
      EXPECT_EQ(r.values(), (std::map<std::string, std::string>{{"1301", r.date(4)}}));
    }
  }
}

TEST(RiseFromLowCriterion, InclusiveBoundsAndPeriodRewrite) {
  CriteriaRun r(40);
  std::vector<Bar> at_ten = lows(std::vector<double>(40, 120));
  at_ten[3] = {105, 110, 100, 105, 0};    // low 100 on a day without volume: it counts here
  at_ten[0] = {110, 112, 108, 110, 100};  // current price 110: exactly +10 %
  std::vector<Bar> above = at_ten;
  above[0].close = 111;  // +11 %
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

// Criterion 3 leaves no trace at all on an empty database; 2 and 4 keep the user's period.
TEST(HistoryCriteria, EmptyDatabaseKeepsThePeriods) {
  const std::tuple<CriterionFn, int, const char*, const char*> cases[] = {
      {f_yasune2sel, 3, "yasune2_kikan_cmb", " 30 "},
      {f_yasune1sel, 2, "yasune1_kikan_cmb", "30"},
      {f_nehaba1sel, 4, "nehaba1_kikan_cmb", "30"},
  };
  for (const auto& [routine, n, period, after] : cases) {
    CriteriaRun r(20);
    r.add_closes("1301", {100, 100});
    r.ctx.trading_day_count = 0;
    r.set(period, " 30 ");
    r.run(routine, n);
    EXPECT_EQ(r.text(period), after) << n;
    if (n == 2) continue;  // it runs and drops the stock whose history cannot be loaded
    EXPECT_EQ(r.kept(), std::vector<std::string>{"1301"}) << n;
    EXPECT_TRUE(r.labels.empty() && r.shown.empty()) << n;
    EXPECT_EQ(r.messages.empty(), n == 3) << n;
    EXPECT_FALSE(std::filesystem::exists(r.user + "sel" + std::to_string(n) + ".csv")) << n;
  }
}

// A series file under another code ends the criterion at once with its message; criteria 4-7, 12
// and 13 look at their own box and, unticked, do nothing. Either way the list stays unchanged.
TEST(HistoryCriteria, CodeMismatchOrUntickedBoxLeavesTheListUnchanged) {
  struct Case {
    CriterionFn routine;
    int n;
    const char* mismatch;  // nullptr: only the unticked box is tried
    bool self_checking;
  };
  const Case cases[] = {
      {f_yasune1sel, 2, "f_yasune1sel_Error:Read Meigara File code is incorrect.", false},
      {f_yasune2sel, 3, "f_yasune2sel_Error:Read Meigara File code is incorrect.", false},
      {f_nehaba1sel, 4, "f_nehaba1sel_Error_1:Read Meigara File code is incorrect.", true},
      {f_nehaba1sel, 5, "f_nehaba1sel_Error_2:Read Meigara File code is incorrect.", true},
      {f_nehaba3sel, 6, "f_nehaba3sel_Error:Read Meigara File code is incorrect.", true},
      {f_zenjituhi1sel, 7, nullptr, true},
      {f_semi1sel, 12, nullptr, true},
      {f_kairi3sel, 13, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    for (const bool tick : {true, false}) {
      if (tick ? c.mismatch == nullptr : !c.self_checking) continue;
      CriteriaRun r(30);
      r.add_stock("1301", lows(std::vector<double>(30, 100)));
      r.add_stock("1302", lows(std::vector<double>(30, 100)), "9999");
      for (const char* a :
           {"yasune1_kikan_cmb", "yasune2_kikan_cmb", "nehaba1_kikan_cmb", "nehaba2_kikan_cmb"}) {
        r.set(a, "20");
      }
      r.run(c.routine, c.n, tick);
      EXPECT_EQ(r.kept(), (std::vector<std::string>{"1301", "1302"}));
      EXPECT_TRUE(r.shown.empty());
      EXPECT_FALSE(std::filesystem::exists(r.user + "sel" + std::to_string(c.n) + ".csv"));
      if (tick) {
        EXPECT_EQ(r.messages.back(), c.mismatch);
      } else {
        EXPECT_TRUE(r.labels.empty() && r.messages.empty());
      }
    }
  }
}

}  // namespace
}  // namespace lp::screening
