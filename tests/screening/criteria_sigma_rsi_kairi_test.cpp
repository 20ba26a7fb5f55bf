#include <gtest/gtest.h>

#include "screening/criteria/sigma_rsi_kairi.h"
#include "screening/criteria_run_fixture.h"

namespace lp::screening {
namespace {

using test::check_bounds_table;
using test::CriteriaRun;

TEST(SigmaCriterion, LatestCloseBetweenSigmaBounds) {
  check_bounds_table(
      f_std_dev1sel, 9, 20, "dev1_txt(0)", "dev1_txt(1)", "偏差",
      {
          {"-5", "-3", {}},
          {"-2", "-1.3", {{"1301", "-1.4142135623731"}}},
          {"-1", "-2", {}},  // reversed bounds are not exchanged
          // The flat stock has no sigma; a gap between the closes is skipped.
          {"-1000", "1000", {{"1301", "-1.4142135623731"}, {"1303", "-1.22474487139159"}}},
      },
      [](CriteriaRun& r) {
        r.add_closes("1301", {90, 100, 110, 100, 500});
        r.add_closes("1302", {100, 100, 100, 100, 300});
        r.add_closes("1303", {90, 100, 0, 110, 100});
        r.set("std_dev1_cmb", "4");
      },
      [](const CriteriaRun& r, const test::BoundsCase& c) {
        EXPECT_EQ(r.text("dev1_txt(0)"), c.lo);  // neither clamped nor reordered
        EXPECT_EQ(r.text("dev1_txt(1)"), c.hi);
        EXPECT_EQ(r.messages.front(), "移動平均クロスによる銘柄選択２：処理中");
      });
}

TEST(RsiCriterion, PlainRsiBetweenBounds) {
  check_bounds_table(f_rsi1sel, 10, 20, "rsi1_min_txt", "rsi1_max_txt", "RSI",
                     {
                         {"0", "25", {{"1302", "0"}}},
                         {"70", "90", {{"1301", "80"}}},
                         // The flat stock never passes; pairs with a gap day are skipped.
                         {"0", "100", {{"1301", "80"}, {"1302", "0"}, {"1304", "100"}}},
                     },
                     [](CriteriaRun& r) {
                       r.add_closes("1301", {103, 101, 102, 100, 500, 500});
                       r.add_closes("1302", {90, 95, 100, 105, 1, 1});
                       r.add_closes("1303", {100, 100, 100, 100, 1, 1});
                       r.add_closes("1304", {103, 0, 102, 100, 500, 500});
                       r.set("rsi1_kikan_cmb", "3");
                     });
}

TEST(DeviationRateCriterion, RateFromTheMovingAverage) {
  check_bounds_table(f_kairi3sel, 13, 60, "kairi3_min_txt", "kairi3_max_txt", "乖離率",
                     {
                         {"10", "150", {{"1301", "12"}}},
                         // A gap latest day is judged at -1.
                         {"-20", "20", {{"1301", "12"}, {"1302", "-1"}}},
                         {"150", "10", {}},
                     },
                     [](CriteriaRun& r) {
                       std::vector<double> closes(25, 100);
                       closes.push_back(900);  // day 26 lies outside the 25-day average
                       std::vector<double> lifted = closes, gap = closes;
                       lifted[0] = 112;
                       lifted[1] = 88;  // keeps the average at 100
                       gap[0] = 0;
                       r.add_closes("1301", lifted);
                       r.add_closes("1302", gap);
                     });
}

}  // namespace
}  // namespace lp::screening
