#include <gtest/gtest.h>

#include "screening/criteria/range_position.h"
#include "screening/criteria_run_fixture.h"
#include "screening/criteria_test_series.h"

namespace lp::screening {
namespace {

using test::Bar;

// The routines in a run, on a small database.

using test::CriteriaRun;

// 20 days ranging 100-200 yen, closing at `close` today.
std::vector<Bar> ranged(double close) {
  std::vector<Bar> bars(20, Bar{"", 150, 160, 140, 150, 100});
  bars[5] = {"", 150, 200, 150, 190, 100};
  bars[10] = {"", 110, 120, 100, 105, 100};
  bars[0] = {"", close, close, close, close, 100};
  return bars;
}

TEST(RangePositionCriteria, PositionBetweenTheBoundsForBothParameterSets) {
  struct Case {
    int n;
    const char *a, *lo, *hi;
    std::vector<std::string> kept;
    const char *lo_out, *hi_out;
  };
  const Case cases[] = {
      {4, "20", "0", "20", {"1301", "1304"}, "0", "20"},
      {4, "20", "30", "10", {"1301", "1302"}, "10", "30"},                   // exchanged
      {4, "20", "-5", "150", {"1301", "1302", "1303", "1304"}, "0", "100"},  // clamped
      {5, "20", "80", "100", {"1303"}, "80", "100"},  // at the high: inclusive
      {5, "20", "0", "0", {"1304"}, "0", "0"},        // flat range: position 0
  };
  for (const Case& c : cases) {
    CriteriaRun r(40);
    r.add_stock("1301", ranged(115));  // position 15
    r.add_stock("1302", ranged(130));  // position 30
    r.add_stock("1303", ranged(200));  // position 100
    r.add_stock("1304", std::vector<Bar>(20, Bar{"", 100, 100, 100, 100, 100}));
    r.add_stock("1305", std::vector<Bar>(20, Bar{"", 0, 0, 0, 0, 0}));  // no traded day
    r.add_row("1306", "100", "100");                                    // no series file at all
    const std::string set = c.n == 4 ? "nehaba1" : "nehaba2";
    r.set(set + "_kikan_cmb", c.a);
    r.set(set + "_ageritsu1_txt", c.lo);
    r.set(set + "_ageritsu2_txt", c.hi);
    r.run(f_nehaba1sel, c.n);
    EXPECT_EQ(r.kept(), c.kept) << c.n << " " << c.lo << ".." << c.hi;
    EXPECT_EQ(r.text(set + "_ageritsu1_txt"), c.lo_out);
    EXPECT_EQ(r.text(set + "_ageritsu2_txt"), c.hi_out);
    EXPECT_EQ(r.candidates.title, "値上率");
    EXPECT_EQ(r.messages.front(), r.names[static_cast<std::size_t>(c.n)] + "：処理中");
  }
}

TEST(RangePositionCriteria, ValueTextPeriodBoundAndOwnEnableBox) {
  CriteriaRun r(40);
  r.add_stock("1301", ranged(115));
  r.set("nehaba1_kikan_cmb", "1000");
  r.run(f_nehaba1sel, 4);
  EXPECT_EQ(r.values(), (std::map<std::string, std::string>{{"1301", "15"}}));
  EXPECT_EQ(r.text("nehaba1_kikan_cmb"), "40");

  // The routine looks at its own box: unticked, it changes nothing.
  CriteriaRun off(40);
  off.add_stock("1301", ranged(190));
  off.start();
  f_nehaba1sel(off.ctx, off.candidates, off.output, 4);
  EXPECT_EQ(off.kept(), std::vector<std::string>{"1301"});
  EXPECT_TRUE(off.labels.empty());
}

TEST(RangeRateCriterion, RateWithDirectionBoxes) {
  // Rose from 150 to 300 (low first) and fell from 300 to 150 (high first).
  std::vector<Bar> rise(30, Bar{"", 200, 210, 190, 200, 100});
  rise[0] = {"", 290, 300, 290, 300, 100};
  rise[20] = {"", 160, 160, 150, 155, 100};
  std::vector<Bar> fall(30, Bar{"", 200, 210, 190, 200, 100});
  fall[0] = {"", 160, 160, 150, 150, 100};
  fall[20] = {"", 290, 300, 290, 295, 100};
  std::vector<Bar> up_day(30, Bar{"", 200, 210, 190, 200, 100});
  up_day[3] = {"", 150, 300, 150, 300, 100};  // low and high on one rising day
  std::vector<Bar> down_day(30, Bar{"", 200, 210, 190, 200, 100});
  down_day[3] = {"", 300, 300, 150, 150, 100};

  struct Case {
    bool plus, minus;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {true, false, {"1301", "1303"}},
      {false, true, {"1302", "1304"}},
      {true, true, {"1301", "1302", "1303", "1304"}},
      {false, false, {}},
  };
  for (const Case& c : cases) {
    CriteriaRun r(40);
    r.add_stock("1301", rise);
    r.add_stock("1302", fall);
    r.add_stock("1303", up_day);
    r.add_stock("1304", down_day);
    r.set("nehaba3_kikan_txt", "250");
    r.controls.set_checked("nehaba3_p_chk", c.plus);
    r.controls.set_checked("nehaba3_m_chk", c.minus);
    r.run(f_nehaba3sel, 6);
    EXPECT_EQ(r.kept(), c.kept) << c.plus << c.minus;
    EXPECT_EQ(r.text("nehaba3_kikan_txt"), "40");  // bounded by the days held
    EXPECT_EQ(r.labels[6], std::to_string(c.kept.size()) + "/4");
    EXPECT_EQ(r.candidates.title, "値幅率");
    if (c.plus && !c.minus) {
      EXPECT_EQ(r.values()["1301"], "50");
    }
  }
}

TEST(RangeRateCriterion, BoundsExchangedAndFloorAtZero) {
  CriteriaRun r(40);
  r.add_closes("1301", {100, 100});
  r.set("nehaba3_kikan_txt", "abc");
  r.set("nehaba3_nehabaritsu1_txt", "300");
  r.set("nehaba3_nehabaritsu2_txt", "-20");
  r.run(f_nehaba3sel, 6);
  EXPECT_EQ(r.text("nehaba3_kikan_txt"), "1");
  EXPECT_EQ(r.text("nehaba3_nehabaritsu1_txt"), "0");
  EXPECT_EQ(r.text("nehaba3_nehabaritsu2_txt"), "300");
}

TEST(RangeCriteria, CodeMismatchEndsTheCriterionWithTheListUnchanged) {
  struct Case {
    int n;
    CriterionFn routine;
    const char* message;
  };
  const Case cases[] = {
      {4, f_nehaba1sel, "f_nehaba1sel_Error_1:Read Meigara File code is incorrect."},
      {5, f_nehaba1sel, "f_nehaba1sel_Error_2:Read Meigara File code is incorrect."},
      {6, f_nehaba3sel, "f_nehaba3sel_Error:Read Meigara File code is incorrect."},
  };
  for (const Case& c : cases) {
    CriteriaRun r(30);
    r.write_stock_as("1302", "9999", ranged(115));
    r.add_row("1302", "115", "115");
    r.set("nehaba1_kikan_cmb", "20");
    r.set("nehaba2_kikan_cmb", "20");
    r.run(c.routine, c.n);
    EXPECT_EQ(r.kept(), std::vector<std::string>{"1302"}) << c.n;
    EXPECT_EQ(r.messages.back(), c.message);
    EXPECT_TRUE(r.shown.empty());
  }
}

}  // namespace
}  // namespace lp::screening
