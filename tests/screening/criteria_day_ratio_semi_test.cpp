#include <gtest/gtest.h>

#include "screening/criteria/day_ratio_semi.h"
#include "screening/criteria_run_fixture.h"
#include "screening/criteria_test_series.h"

namespace lp::screening {
namespace {

using test::Bar;
using test::series_of;

TEST(PreviousDayRatio, WholeYenBeforeDividing) {
  struct Case {
    const char *close, *prev;
    double ratio;
  };
  const Case cases[] = {
      {"110", "100", 10}, {"95", "100", -5},    {"100", "0", 0},
      {"", "100", 0},     {"100.5", "99.5", 0}, {"100.4", "100.6", -0.990099009900990},
      {"0.4", "100", 0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(previous_day_ratio(c.close, c.prev), c.ratio, 1e-12) << c.close << "/" << c.prev;
  }
}

// The routines in a run, on a small database.

using test::CriteriaRun;

TEST(PreviousDayRatioCriterion, JudgesTheDayTableCloses) {
  struct Case {
    const char *lo, *hi;
    std::map<std::string, std::string> kept;
  };
  const Case cases[] = {
      {"5", "150", {{"1301", "10"}}},
      {"-10", "0", {{"1302", "-5"}, {"1303", "0"}, {"1304", "0"}}},
      {" 0 ", "0", {{"1303", "0"}, {"1304", "0"}}},
      {"150", "5", {}},  // bounds in reverse keep nothing
  };
  for (const Case& c : cases) {
    CriteriaRun r(10);
    r.add_row("1301", "110", "100");
    r.add_row("1302", "95", "100");
    r.add_row("1303", "100", "0");  // no previous close
    r.add_row("1304", "100.5", "99.5");
    r.set("zenjituhi1_txt(0)", c.lo);
    r.set("zenjituhi1_txt(1)", c.hi);
    r.run(f_zenjituhi1sel, 7);
    EXPECT_EQ(r.values(), c.kept) << c.lo << ".." << c.hi;
    EXPECT_EQ(r.candidates.title, "前日比率");
    EXPECT_EQ(r.labels[7], std::to_string(c.kept.size()) + "/4");
    EXPECT_EQ(r.messages.front(), "前日比による銘柄選択：処理中");
  }
}

TEST(SemiAlgCriterion, StrictBoundsOnTheCountedDays) {
  // K counts high - open > 1: 19 of 20 days for 1301, 20 for 1302 (U too), and 1303 moved
  // exactly 1 either way.
  std::vector<test::Bar> k19(25, test::Bar{"", 500, 501.5, 500, 501, 100});
  k19[7] = {"", 500, 501, 500, 501, 100};
  std::vector<test::Bar> k20(25, test::Bar{"", 500, 510, 495, 505, 100});
  std::vector<test::Bar> exactly_one(25, test::Bar{"", 500, 501, 499, 500, 100});
  // Listed 10 trading days ago: only 10 days can count.
  std::vector<test::Bar> young(10, test::Bar{"", 500, 510, 480, 505, 100});

  struct Case {
    const char *a, *lo, *hi;
    bool sigma_u;
    std::map<std::string, std::string> kept;
    const char* title;
  };
  const Case cases[] = {
      {"20", "18", "200", false, {{"1301", "19"}, {"1302", "20"}}, "ΣK"},
      {"20", "19", "200", false, {{"1302", "20"}}, "ΣK"},
      {"20", "18", "20", false, {{"1301", "19"}}, "ΣK"},
      {"20", "20", "200", false, {}, "ΣK"},
      {"20", "5", "200", true, {{"1302", "20"}, {"1304", "10"}}, "ΣU"},
      {"20",
       "-1",
       "200",
       false,
       {{"1301", "19"}, {"1302", "20"}, {"1303", "0"}, {"1304", "10"}},
       "ΣK"},
  };
  for (const Case& c : cases) {
    CriteriaRun r(40);
    r.add_stock("1301", k19);
    r.add_stock("1302", k20);
    r.add_stock("1303", exactly_one);
    r.add_stock("1304", young);
    r.set("semi1_kikan_txt", c.a);
    r.set("semi1_min_txt", c.lo);
    r.set("semi1_max_txt", c.hi);
    if (c.sigma_u) r.controls.select_option("u1_opt");
    r.run(f_semi1sel, 12);
    EXPECT_EQ(r.values(), c.kept) << c.lo << ".." << c.hi << " U=" << c.sigma_u;
    EXPECT_EQ(r.candidates.title, c.title);
  }
}

TEST(DayRatioSemiCriteria, UntickedBoxChangesNothing) {
  const std::pair<CriterionFn, int> routines[] = {{f_zenjituhi1sel, 7}, {f_semi1sel, 12}};
  for (auto [routine, n] : routines) {
    CriteriaRun r(10);
    r.add_row("1301", "110", "100");
    r.start();
    routine(r.ctx, r.candidates, r.output, n);
    EXPECT_EQ(r.kept(), std::vector<std::string>{"1301"});
    EXPECT_TRUE(r.labels.empty());
    EXPECT_TRUE(r.messages.empty());
  }
}

}  // namespace
}  // namespace lp::screening
