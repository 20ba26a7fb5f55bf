#include <gtest/gtest.h>

#include "screening/criteria/day_ratio_semi.h"
#include "screening/criteria/range_position.h"
#include "screening/criteria/sigma_rsi_kairi.h"
#include "screening/criteria_run_fixture.h"

namespace lp::screening {
namespace {

using test::Bar;
using test::CriteriaRun;
using Values = std::map<std::string, std::string>;

TEST(PreviousDayRatioCriterion, JudgesTheDayTableClosesInWholeYen) {
  struct Case {
    const char *lo, *hi;
    Values kept;
  };
  const Case cases[] = {
      {"5", "150", {{"1301", "10"}}},
      {"-10", "0", {{"1302", "-5"}, {"1303", "0"}, {"1304", "0"}, {"1305", "-0.99009900990099"}}},
      {" 0 ", "0", {{"1303", "0"}, {"1304", "0"}}},
      {"150", "5", {}},  // bounds in reverse keep nothing
  };
  for (const Case& c : cases) {
    CriteriaRun r(10);
    r.add_row("1301", "110", "100");
    r.add_row("1302", "95", "100");
    r.add_row("1303", "100", "0");        // no previous close
    r.add_row("1304", "100.5", "99.5");   // both 100 before dividing
    r.add_row("1305", "100.4", "100.6");  // 100 against 101
    r.set("zenjituhi1_txt(0)", c.lo);
    r.set("zenjituhi1_txt(1)", c.hi);
    r.run(f_zenjituhi1sel, 7);
    EXPECT_EQ(r.values(), c.kept) << c.lo << ".." << c.hi;
    EXPECT_EQ(r.candidates.title, "前日比率");
    EXPECT_EQ(r.labels[7], std::to_string(c.kept.size()) + "/5");
    EXPECT_EQ(r.messages.front(), "前日比による銘柄選択：処理中");
  }
}

TEST(SemiAlgCriterion, StrictBoundsOnTheCountedDays) {
  // K counts high - open > 1: 19 of 20 days for 1301, 20 for 1302 (U too), and 1303 moved
  // exactly 1 either way; 1304 was listed 10 trading days ago, so only 10 days can count.
  std::vector<Bar> k19(25, Bar{500, 501.5, 500, 501, 100});
  k19[7] = {500, 501, 500, 501, 100};
  const std::vector<Bar> k20(25, Bar{500, 510, 495, 505, 100});
  const std::vector<Bar> exactly_one(25, Bar{500, 501, 499, 500, 100});
  const std::vector<Bar> young(10, Bar{500, 510, 480, 505, 100});

  struct Case {
    const char *lo, *hi;
    bool sigma_u;
    Values kept;
  };
  const Case cases[] = {
      {"18", "200", false, {{"1301", "19"}, {"1302", "20"}}},
      {"19", "200", false, {{"1302", "20"}}},
      {"18", "20", false, {{"1301", "19"}}},
      {"20", "200", false, {}},
      {"5", "200", true, {{"1302", "20"}, {"1304", "10"}}},
      {"-1", "200", false, {{"1301", "19"}, {"1302", "20"}, {"1303", "0"}, {"1304", "10"}}},
  };
  for (const Case& c : cases) {
    CriteriaRun r(40);
    r.add_stock("1301", k19);
    r.add_stock("1302", k20);
    r.add_stock("1303", exactly_one);
    r.add_stock("1304", young);
    r.set("semi1_kikan_txt", "20");
    r.set("semi1_min_txt", c.lo);
    r.set("semi1_max_txt", c.hi);
    if (c.sigma_u) r.controls.select_option("u1_opt");
    r.run(f_semi1sel, 12);
    EXPECT_EQ(r.values(), c.kept) << c.lo << ".." << c.hi << " U=" << c.sigma_u;
    EXPECT_EQ(r.candidates.title, c.sigma_u ? "ΣU" : "ΣK");
  }
}

// Criteria 4-7, 12 and 13 look at their own box: unticked, they change nothing.
TEST(SelfCheckingCriteria, UntickedBoxChangesNothing) {
  const std::pair<CriterionFn, int> routines[] = {{f_nehaba1sel, 4}, {f_nehaba1sel, 5},
                                                  {f_nehaba3sel, 6}, {f_zenjituhi1sel, 7},
                                                  {f_semi1sel, 12},  {f_kairi3sel, 13}};
  for (auto [routine, n] : routines) {
    CriteriaRun r(10);
    r.add_closes("1301", {110, 100});
    r.run(routine, n, /*tick=*/false);
    EXPECT_EQ(r.kept(), std::vector<std::string>{"1301"}) << n;
    EXPECT_TRUE(r.labels.empty() && r.messages.empty()) << n;
  }
}

}  // namespace
}  // namespace lp::screening
