#include <gtest/gtest.h>

#include <algorithm>

#include "screening/criteria/criterion.h"
#include "screening_fixture.h"

namespace lp::screening {
namespace {

// Closes given newest first (as the criteria see them), stored oldest first.
std::vector<double> newest_first(std::vector<double> v) {
  std::reverse(v.begin(), v.end());
  return v;
}

// Days 1..9: `recent` pattern, days 10..34 at 90, days 35..69 at 100.
std::vector<double> dip_then(std::vector<double> recent) {
  std::vector<double> v = std::move(recent);
  v.resize(9, 90);
  v.resize(34, 90);
  v.resize(69, 100);
  return newest_first(v);
}

Series make_series(const std::vector<std::pair<double, long long>>& days) {
  Series s(days.size() + 1);
  s[0].d6 = std::to_string(days.size());
  for (std::size_t i = 0; i < days.size(); ++i) {
    s[i + 1].d5 = days[i].second > 0 ? format_decimal(days[i].first) : "";
    s[i + 1].d6 = std::to_string(days[i].second);
  }
  return s;
}

TEST(MovingAverage, AveragesTradedDaysOfTheWindow) {
  const Series s = make_series({{10, 1}, {20, 1}, {0, 0}, {40, 1}, {50, 1}});
  struct Case {
    int start, period;
    double expected;
  };
  const std::vector<Case> cases = {
      {1, 2, 15}, {1, 3, 15},   // a gap day is skipped, not counted
      {1, 5, 30}, {4, 10, 45},  // a short history averages what it has
      {3, 1, 0},  {6, 3, 0},    // no traded day / beyond the series
      {5, 1, 50}, {2, 3, 30},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(moving_average(s, c.start, c.period), c.expected)
        << c.start << "," << c.period;
  }
  EXPECT_EQ(moving_average(Series{}, 1, 5), 0);
}

struct CrossCase {
  const char* name;
  std::vector<double> closes;  // oldest first
  bool golden_passes;
  bool dead_passes;
};

TEST(GoldenDeadCross, ComparesDayAAndDayOneOnly) {
  const std::vector<CrossCase> cases = {
      {"rises to equality on day 1", dip_then({122, 122, 122, 122, 122, 90, 90, 90, 90}), true,
       false},
      {"rises above", dip_then({110, 110, 110, 110, 110, 110, 110, 110, 110}), true, false},
      {"stays below", dip_then({100, 100, 100, 100, 100, 100, 100, 100, 100}), false, false},
      {"crossed up and back down", dip_then({40, 40, 40, 40, 150, 150, 150, 150, 150}), false,
       false},
      {"falls through", newest_first([] {
         std::vector<double> v(9, 80);
         v.resize(34, 110);
         v.resize(69, 100);
         return v;
       }()),
       false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int dead = 0; dead <= 1; ++dead) {
      test::MiniMarket m(80);
      m.add({"1301", "東証1部", "A", c.closes});
      test::CriterionBench b(m);
      b.controls.select_option(indexed("gc_dc_opt", dead));
      f_gcdcsel(b.ctx, b.candidates, b.output, 8);
      const bool expected = dead ? c.dead_passes : c.golden_passes;
      EXPECT_EQ(b.candidates.count(), expected ? 1 : 0) << (dead ? "DC" : "GC");
      EXPECT_EQ(b.label, std::string(expected ? "1" : "0") + "/1");
    }
  }
}

TEST(GoldenDeadCross, ParametersAreClampedAndExchanged) {
  struct Case {
    const char *a, *b, *c, *a_after, *b_after, *c_after;
  };
  const std::vector<Case> cases = {
      {"60", "500", "20", "50", "20", "450"},
      {"0", "0", "-3", "1", "1", "1"},
      {" 10.5", "24.5 ", "x", "10", "1", "24.5"},
  };
  for (const auto& c : cases) {
    test::MiniMarket m(5);
    m.add({"1301", "東証1部", "A", {1, 2}});
    test::CriterionBench b(m);
    b.controls.set_text("gcdc_txt(0)", c.a);
    b.controls.set_text("gcdc_txt(1)", c.b);
    b.controls.set_text("gcdc_txt(2)", c.c);
    f_gcdcsel(b.ctx, b.candidates, b.output, 8);
    EXPECT_EQ(b.controls.text("gcdc_txt(0)"), c.a_after);
    EXPECT_EQ(b.controls.text("gcdc_txt(1)"), c.b_after);
    EXPECT_EQ(b.controls.text("gcdc_txt(2)"), c.c_after);
  }
}

TEST(GoldenDeadCross, NoPassWithAOneOrNoOptionOrNoData) {
  test::MiniMarket m(80);
  m.add({"1301", "東証1部", "A", dip_then({122, 122, 122, 122, 122, 90, 90, 90, 90})});
  m.add({"1302", "東証1部", "B", {test::kGap, test::kGap, 100}});
  {
    test::CriterionBench b(m);
    b.controls.set_text("gcdc_txt(0)", "1");
    f_gcdcsel(b.ctx, b.candidates, b.output, 8);
    EXPECT_EQ(b.label, "0/2");
  }
  {
    test::CriterionBench b(m);
    b.controls.set_checked("gc_dc_opt(0)", false);
    b.controls.set_checked("gc_dc_opt(1)", false);
    f_gcdcsel(b.ctx, b.candidates, b.output, 8);
    EXPECT_EQ(b.label, "0/2");
  }
  {
    test::CriterionBench b(m);
    f_gcdcsel(b.ctx, b.candidates, b.output, 8);
    EXPECT_EQ(b.codes(), std::vector<std::string>{"1301"});
    EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel8.csv"),
              "1," + m.dates.back() + ",-\r\n1301,1,-\r\n");
  }
}

TEST(LongTermCross, UsesItsOwnControls) {
  test::MiniMarket m(80);
  m.add({"1301", "東証1部", "A", dip_then({122, 122, 122, 122, 122, 90, 90, 90, 90})});
  test::CriterionBench b(m);
  b.controls.set_text("kairi2_txt(2)", "10");
  b.controls.set_text("kairi2_txt(0)", "50");  // exchanged with the shorter one
  b.controls.set_text("kairi2_txt(1)", "25");
  f_kairi2sel(b.ctx, b.candidates, b.output, 18);
  EXPECT_EQ(b.controls.text("kairi2_txt(0)"), "25");
  EXPECT_EQ(b.controls.text("kairi2_txt(1)"), "50");
  EXPECT_EQ(b.codes(), std::vector<std::string>{"1301"});
  EXPECT_EQ(b.label, "1/1");
}

TEST(NarrowingGap, KeepsOnlyANarrowingGapUnderARisingLongAverage) {
  struct Case {
    const char* name;
    std::vector<double> newest;
    bool passes;
  };
  const std::vector<Case> cases = {
      {"crossed above today, gap narrower, MA2 flat", {100, 96, 94, 100, 100}, true},
      {"long average falling", {100, 96, 94, 100, 110}, false},
      {"gap widening", {90, 96, 94, 104, 90}, false},
      {"short above long yesterday", {100, 100, 100, 90, 90}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::MiniMarket m(20);
    m.add({"1301", "東証1部", "A", newest_first(c.newest)});
    test::CriterionBench b(m);
    b.controls.set_text("kairi1_cmb(0)", "4");
    b.controls.set_text("kairi1_cmb(1)", "2");
    f_kairi1sel(b.ctx, b.candidates, b.output, 40);
    EXPECT_EQ(b.controls.text("kairi1_cmb(0)"), "2");
    EXPECT_EQ(b.controls.text("kairi1_cmb(1)"), "4");
    EXPECT_EQ(b.candidates.count(), c.passes ? 1 : 0);
    // Criterion 40 keeps an intermediate file of its own.
    EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel40.csv").substr(0, 2),
              c.passes ? "1," : "0,");
  }
  test::MiniMarket m(5);
  m.add({"1301", "東証1部", "A", {1, 2}});
  test::CriterionBench b(m);
  b.controls.set_text("kairi1_cmb(0)", "300");
  b.controls.set_text("kairi1_cmb(1)", "0");
  f_kairi1sel(b.ctx, b.candidates, b.output, 40);
  EXPECT_EQ(b.controls.text("kairi1_cmb(0)"), "1");
  EXPECT_EQ(b.controls.text("kairi1_cmb(1)"), "250");
}

}  // namespace
}  // namespace lp::screening
