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

// Days 1..9: `recent`, days 10..34 at `mid`, days 35..69 at 100.
std::vector<double> dip_then(std::vector<double> recent, double mid = 90) {
  recent.resize(34, mid);
  recent.resize(69, 100);
  return newest_first(recent);
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

TEST(GoldenDeadCross, ComparesDayAAndDayOneOnly) {
  test::MiniMarket m(80);
  m.add({"1301", "東証1部", "equal on day 1", dip_then({122, 122, 122, 122, 122, 90, 90, 90, 90})});
  m.add({"1302", "東証1部", "rises above", dip_then(std::vector<double>(9, 110))});
  m.add({"1303", "東証1部", "stays below", dip_then(std::vector<double>(9, 100))});
  m.add({"1304", "東証1部", "up and back", dip_then({40, 40, 40, 40, 150, 150, 150, 150, 150})});
  m.add({"1305", "東証1部", "falls through", dip_then(std::vector<double>(9, 80), 110)});
  const std::vector<std::vector<std::string>> kept = {{"1301", "1302"}, {"1305"}};
  for (int dead = 0; dead <= 1; ++dead) {
    test::CriterionBench b(m);
    b.controls.select_option(indexed("gc_dc_opt", dead));
    f_gcdcsel(b.ctx, b.candidates, b.output, 8);
    EXPECT_EQ(b.codes(), kept[static_cast<std::size_t>(dead)]) << (dead ? "DC" : "GC");
    EXPECT_EQ(b.label, std::to_string(kept[static_cast<std::size_t>(dead)].size()) + "/5");
  }
}

TEST(MaCrossCriteria, ParametersAreClampedExchangedAndWrittenBack) {
  struct Case {
    CriterionFn routine;
    int n;
    std::vector<std::string> controls, in, out;
  };
  const std::vector<std::string> gcdc = {"gcdc_txt(0)", "gcdc_txt(1)", "gcdc_txt(2)"};
  const std::vector<std::string> kairi2 = {"kairi2_txt(2)", "kairi2_txt(0)", "kairi2_txt(1)"};
  const std::vector<std::string> kairi1 = {"kairi1_cmb(0)", "kairi1_cmb(1)"};
  const std::vector<Case> cases = {
      {f_gcdcsel, 8, gcdc, {"60", "500", "20"}, {"50", "20", "450"}},
      {f_gcdcsel, 8, gcdc, {"0", "0", "-3"}, {"1", "1", "1"}},
      {f_gcdcsel, 8, gcdc, {" 10.5", "24.5 ", "x"}, {"10", "1", "24.5"}},
      {f_kairi2sel, 18, kairi2, {"99", "50", "25"}, {"50", "25", "50"}},
      {f_kairi1sel, 40, kairi1, {"300", "0"}, {"1", "250"}},
      {f_kairi1sel, 40, kairi1, {"4", "2.5"}, {"2.5", "4"}},
  };
  test::MiniMarket m(5);
  m.add({"1301", "東証1部", "A", {1, 2}});
  test::CriterionBench b(m);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    for (std::size_t i = 0; i < c.controls.size(); ++i) b.controls.set_text(c.controls[i], c.in[i]);
    c.routine(b.ctx, b.candidates, b.output, c.n);
    for (std::size_t i = 0; i < c.controls.size(); ++i)
      EXPECT_EQ(b.controls.text(c.controls[i]), c.out[i]) << c.controls[i];
  }
}

TEST(GoldenDeadCross, NoPassWithAOneOrNoOptionOrNoData) {
  test::MiniMarket m(80);
  m.add({"1301", "東証1部", "A", dip_then({122, 122, 122, 122, 122, 90, 90, 90, 90})});
  m.add({"1302", "東証1部", "B", {test::kGap, test::kGap, 100}});
  for (bool no_option : {false, true}) {
    test::CriterionBench b(m);
    if (no_option) {
      b.controls.set_checked("gc_dc_opt(0)", false);
    } else {
      b.controls.set_text("gcdc_txt(0)", "1");  // day A is day 1: the two tests contradict
    }
    f_gcdcsel(b.ctx, b.candidates, b.output, 8);
    EXPECT_EQ(b.label, "0/2") << no_option;
  }
  // The same stock passes with the defaults; 1302 has no traded day in its windows.
  test::CriterionBench b(m);
  f_gcdcsel(b.ctx, b.candidates, b.output, 8);
  EXPECT_EQ(b.codes(), std::vector<std::string>{"1301"});
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel8.csv"),
            "1," + m.dates.back() + ",-\r\n1301,1,-\r\n");
  // Criterion 18 reads its own controls (A, then B and C exchanged) and tests the golden cross.
  test::CriterionBench lt(m);
  lt.controls.set_text("kairi2_txt(2)", "10");
  lt.controls.set_text("kairi2_txt(0)", "50");
  lt.controls.set_text("kairi2_txt(1)", "25");
  lt.controls.set_checked("gc_dc_opt(0)", false);
  f_kairi2sel(lt.ctx, lt.candidates, lt.output, 18);
  EXPECT_EQ(lt.codes(), std::vector<std::string>{"1301"});
  EXPECT_EQ(lt.label, "1/2");
}

TEST(NarrowingGap, KeepsOnlyANarrowingGapUnderARisingLongAverage) {
  test::MiniMarket m(20);  // closes newest first; MA1 over 2 days, MA2 over 4
  m.add({"1301", "東証1部", "crossed above today; gap narrower; MA2 flat",
         newest_first({100, 96, 94, 100, 100})});
  m.add({"1302", "東証1部", "long average falling", newest_first({100, 96, 94, 100, 110})});
  m.add({"1303", "東証1部", "gap widening", newest_first({90, 96, 94, 104, 90})});
  m.add({"1304", "東証1部", "short above long yesterday", newest_first({100, 100, 100, 90, 90})});
  test::CriterionBench b(m);
  b.controls.set_text("kairi1_cmb(0)", "2");
  b.controls.set_text("kairi1_cmb(1)", "4");
  f_kairi1sel(b.ctx, b.candidates, b.output, 40);
  EXPECT_EQ(b.codes(), std::vector<std::string>{"1301"});
  // Criterion 40 keeps an intermediate file of its own.
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel40.csv"),
            "1," + m.dates.back() + ",-\r\n1301,1,-\r\n");
}

}  // namespace
}  // namespace lp::screening
