#include <gtest/gtest.h>

#include <array>

#include "screening/criteria/range_position.h"
#include "screening/criteria_run_fixture.h"

namespace lp::screening {
namespace {

using test::Bar;
using test::CriteriaRun;
using Values = std::map<std::string, std::string>;

// 20 days ranging 100-200 yen, closing at `close` today.
std::vector<Bar> ranged(double close) {
  std::vector<Bar> bars(20, Bar{150, 160, 140, 150, 100});
  bars[5] = {150, 200, 150, 190, 100};
  bars[10] = {110, 120, 100, 105, 100};
  bars[0] = {close, close, close, close, 100};
  return bars;
}

TEST(RangePositionCriteria, PositionBetweenTheBoundsForBothParameterSets) {
  struct Case {
    int n;
    std::array<const char*, 3> typed, written;  // period, lower bound, upper bound
    Values kept;
  };
  const Case cases[] = {
      {4, {"20", "0", "20"}, {"20", "0", "20"}, {{"1301", "15"}, {"1304", "0"}, {"1307", "15"}}},
      {4,
       {"20", "30", "10"},
       {"20", "10", "30"},
       {{"1301", "15"}, {"1302", "30"}, {"1307", "15"}}},  // exchanged
      // Clamped; the period bounded by the days held.
      {4,
       {"1000", "-5", "150"},
       {"40", "0", "100"},
       {{"1301", "15"}, {"1302", "30"}, {"1303", "100"}, {"1304", "0"}, {"1307", "15"}}},
      {5, {"20", "80", "100"}, {"20", "80", "100"}, {{"1303", "100"}}},  // at the high: inclusive
      {5, {"20", "0", "0"}, {"20", "0", "0"}, {{"1304", "0"}}},          // flat range: position 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.n) + ": " + c.typed[1] + ".." + c.typed[2]);
    CriteriaRun r(40);
    r.add_stock("1301", ranged(115));  // position 15
    r.add_stock("1302", ranged(130));  // position 30
    r.add_stock("1303", ranged(200));  // position 100
    r.add_stock("1304", std::vector<Bar>(20, Bar{100, 100, 100, 100, 100}));
    r.add_stock("1305", std::vector<Bar>(20, Bar{}));  // no traded day
    r.add_row("1306", "100", "100");                   // no series file at all
    std::vector<Bar> spike = ranged(115);
    spike[7] = {150, 400, 50, 150, 0};  // a day without trading is no part of the range
    r.add_stock("1307", spike);
    const std::string set = c.n == 4 ? "nehaba1" : "nehaba2";
    const std::string boxes[] = {set + "_kikan_cmb", set + "_ageritsu1_txt",
                                 set + "_ageritsu2_txt"};
    for (int i = 0; i < 3; ++i) r.set(boxes[i], c.typed[i]);
    r.run(f_nehaba1sel, c.n);
    EXPECT_EQ(r.values(), c.kept);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.text(boxes[i]), c.written[i]) << boxes[i];
    EXPECT_EQ(r.candidates.title, "値上率");
    EXPECT_EQ(r.messages.front(),
              c.n == 4 ? "値幅による銘柄選択１：処理中" : "値幅による銘柄選択２：処理中");
  }
}

TEST(RangeRateCriterion, RateWithDirectionBoxes) {
  const Bar plain{200, 210, 190, 200, 100};
  // Rose from 150 to 300 (low first) and fell from 300 to 150 (high first).
  std::vector<Bar> rise(30, plain), fall(30, plain), up_day(30, plain), down_day(30, plain);
  rise[0] = {290, 300, 290, 300, 100};
  rise[20] = {160, 160, 150, 155, 100};
  fall[0] = {160, 160, 150, 150, 100};
  fall[20] = {290, 300, 290, 295, 100};
  up_day[3] = {150, 300, 150, 300, 100};  // low and high on one rising day
  down_day[3] = {300, 300, 150, 150, 100};

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
    SCOPED_TRACE(std::to_string(c.plus) + std::to_string(c.minus));
    CriteriaRun r(40);
    r.add_stock("1301", rise);
    r.add_stock("1302", fall);
    r.add_stock("1303", up_day);
    r.add_stock("1304", down_day);
    r.set("nehaba3_kikan_txt", "250");
    r.set("nehaba3_nehabaritsu1_txt", "300");  // exchanged, the lower one floored at 0
    r.set("nehaba3_nehabaritsu2_txt", "-20");
    r.controls.set_checked("nehaba3_p_chk", c.plus);
    r.controls.set_checked("nehaba3_m_chk", c.minus);
    r.run(f_nehaba3sel, 6);
    EXPECT_EQ(r.kept(), c.kept);
    EXPECT_EQ(r.text("nehaba3_kikan_txt"), "40");  // bounded by the days held
    EXPECT_EQ(r.text("nehaba3_nehabaritsu1_txt"), "0");
    EXPECT_EQ(r.text("nehaba3_nehabaritsu2_txt"), "300");
    EXPECT_EQ(r.labels[6], std::to_string(c.kept.size()) + "/4");
    EXPECT_EQ(r.candidates.title, "値幅率");
    if (c.plus && !c.minus) {
      EXPECT_EQ(r.values()["1301"], "50");
    }
  }
}

}  // namespace
}  // namespace lp::screening
