#include <gtest/gtest.h>

#include "screening/criteria/day_ratio_semi.h"
#include "screening/criteria_run_fixture.h"

namespace lp::screening {
namespace {

using test::Bar;
using test::check_bounds_table;
using test::CriteriaRun;
using Values = std::map<std::string, std::string>;

TEST(PreviousDayRatioCriterion, JudgesTheDayTableClosesInWholeYen) {
  check_bounds_table(
      f_zenjituhi1sel, 7, 10, "zenjituhi1_txt(0)", "zenjituhi1_txt(1)", "前日比率",
      {
          {"5", "150", {{"1301", "10"}}},
          {"-10",
           "0",
           {{"1302", "-5"}, {"1303", "0"}, {"1304", "0"}, {"1305", "-0.99009900990099"}}},
          {" 0 ", "0", {{"1303", "0"}, {"1304", "0"}}},
          {"150", "5", {}},  // bounds in reverse keep nothing
      },
      [](CriteriaRun& r) {
        r.add_row("1301", "110", "100");
        r.add_row("1302", "95", "100");
        r.add_row("1303", "100", "0");        // no previous close
        r.add_row("1304", "100.5", "99.5");   // both 100 before dividing
        r.add_row("1305", "100.4", "100.6");  // 100 against 101
      });
}

// K counts high - open > 1: 19 of 20 days for 1301, 20 for 1302 (U too), and 1303 moved exactly
// 1 either way; 1304 was listed 10 trading days ago, so only 10 days can count.
void semi_market(CriteriaRun& r) {
  std::vector<Bar> k19(25, Bar{500, 501.5, 500, 501, 100});
  k19[7] = {500, 501, 500, 501, 100};
  r.add_stock("1301", k19);
  r.add_stock("1302", std::vector<Bar>(25, Bar{500, 510, 495, 505, 100}));
  r.add_stock("1303", std::vector<Bar>(25, Bar{500, 501, 499, 500, 100}));
  r.add_stock("1304", std::vector<Bar>(10, Bar{500, 510, 480, 505, 100}));
  r.set("semi1_kikan_txt", "20");
}

TEST(SemiAlgCriterion, StrictBoundsOnTheCountedDays) {
  check_bounds_table(
      f_semi1sel, 12, 40, "semi1_min_txt", "semi1_max_txt", "ΣK",
      {
          {"18", "200", {{"1301", "19"}, {"1302", "20"}}},
          {"19", "200", {{"1302", "20"}}},
          {"18", "20", {{"1301", "19"}}},
          {"20", "200", {}},
          {"-1", "200", {{"1301", "19"}, {"1302", "20"}, {"1303", "0"}, {"1304", "10"}}},
      },
      semi_market);
  CriteriaRun r(40);
  semi_market(r);
  r.set("semi1_min_txt", "5");
  r.set("semi1_max_txt", "200");
  r.controls.select_option("u1_opt");
  r.run(f_semi1sel, 12);
  EXPECT_EQ(r.values(), (Values{{"1302", "20"}, {"1304", "10"}}));
  EXPECT_EQ(r.candidates.title, "ΣU");
}

}  // namespace
}  // namespace lp::screening
