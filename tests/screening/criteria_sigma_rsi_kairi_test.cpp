#include <gtest/gtest.h>

#include <cmath>

#include "common/numbers.h"
#include "screening/criteria/sigma_rsi_kairi.h"
#include "screening/criteria_run_fixture.h"
#include "screening/criteria_test_series.h"

namespace lp::screening {
namespace {

using test::closes_newest_first;

TEST(MeanAndSigma, MeasuresPopulationDeviationOverPositiveCloses) {
  struct Case {
    const char* what;
    std::vector<double> closes;  // newest first; 0 = gap day
    int s, count;
    int status;
    double mean, sigma;
  };
  const Case cases[] = {
      {"four closes", {90, 100, 110, 100}, 1, 4, 0, 100, std::sqrt(50.0)},
      {"flat window has no sigma", {100, 100, 100}, 1, 3, -1, 100, -1},
      {"gap days skipped", {90, 0, 110, 0}, 1, 4, 0, 100, 10},
      {"window cut at the loaded days", {90, 110}, 1, 20, 0, 100, 10},
      {"window from day 2", {1000, 90, 110}, 2, 2, 0, 100, 10},
      {"only gap days", {0, 0}, 1, 2, -1, 0, -1},
      {"empty window", {90, 110}, 1, 0, -1, 0, -1},
  };
  for (const Case& c : cases) {
    const MeanSigma ms = mean_and_sigma(closes_newest_first(c.closes), c.s, c.count);
    EXPECT_EQ(ms.status, c.status) << c.what;
    if (c.status == 0) {
      EXPECT_DOUBLE_EQ(static_cast<double>(ms.mean), c.mean) << c.what;
    }
    EXPECT_NEAR(static_cast<double>(ms.sigma), c.sigma, 1e-12) << c.what;
  }
}

TEST(RsiValue, PlainAverageOfGainsAgainstLosses) {
  struct Case {
    const char* what;
    std::vector<double> closes;
    int count;
    int status;
    double rsi;
  };
  const Case cases[] = {
      {"documented example", {103, 101, 102, 100}, 3, 0, 80},
      {"strictly falling", {90, 95, 100, 105}, 3, 0, 0},
      {"strictly rising", {105, 100, 95, 90}, 3, 0, 100},
      {"flat has no RSI", {100, 100, 100, 100}, 3, -1, -1},
      {"pairs need a loaded older day", {103, 101}, 5, 0, 100},
      {"gap pair skipped", {103, 0, 102, 100}, 3, 0, 100},
      {"single day has no pair", {103}, 3, -1, -1},
      {"zero window", {103, 101, 102}, 0, -1, -1},
  };
  for (const Case& c : cases) {
    const RsiValue r = rsi_value(closes_newest_first(c.closes), 1, c.count);
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_DOUBLE_EQ(r.rsi, c.rsi) << c.what;
  }
}

// The routines in a run, on a small database.

using test::CriteriaRun;

TEST(SigmaCriterion, LatestCloseBetweenSigmaBounds) {
  struct Case {
    const char *lo, *hi;
    std::map<std::string, std::string> kept;
  };
  const Case cases[] = {
      {"-5", "-3", {}},
      {"-2", "-1", {{"1301", "-1.4142135623731"}}},
      {"-1", "-2", {}},                                   // reversed bounds are not exchanged
      {"-1000", "1000", {{"1301", "-1.4142135623731"}}},  // the flat stock still fails
  };
  for (const Case& c : cases) {
    CriteriaRun r(20);
    r.add_closes("1301", {90, 100, 110, 100, 500});
    r.add_closes("1302", {100, 100, 100, 100, 300});
    r.controls.set_text("std_dev1_cmb", "4");
    r.set("dev1_txt(0)", c.lo);
    r.set("dev1_txt(1)", c.hi);
    r.run(f_std_dev1sel, 9);
    EXPECT_EQ(r.values(), c.kept) << c.lo << ".." << c.hi;
    EXPECT_EQ(r.candidates.title, "偏差");
    EXPECT_EQ(r.text("dev1_txt(1)"), c.hi);
  }
}

TEST(RsiCriterion, PlainRsiBetweenBounds) {
  struct Case {
    const char *lo, *hi;
    std::map<std::string, std::string> kept;
  };
  const Case cases[] = {
      {"0", "25", {{"1302", "0"}}},
      {"70", "90", {{"1301", "80"}}},
      {"0", "100", {{"1301", "80"}, {"1302", "0"}}},  // the flat stock never passes
  };
  for (const Case& c : cases) {
    CriteriaRun r(20);
    r.add_closes("1301", {103, 101, 102, 100, 500, 500});
    r.add_closes("1302", {90, 95, 100, 105, 1, 1});
    r.add_closes("1303", {100, 100, 100, 100, 1, 1});
    r.controls.set_text("rsi1_kikan_cmb", "3");
    r.set("rsi1_min_txt", c.lo);
    r.set("rsi1_max_txt", c.hi);
    r.run(f_rsi1sel, 10);
    EXPECT_EQ(r.values(), c.kept) << c.lo << ".." << c.hi;
    EXPECT_EQ(r.candidates.title, "RSI");
  }
}

TEST(DeviationRateCriterion, RateFromTheMovingAverage) {
  struct Case {
    const char *lo, *hi;
    std::map<std::string, std::string> kept;
  };
  const Case cases[] = {
      {"10", "150", {{"1301", "12"}}},
      {"-20", "20", {{"1301", "12"}, {"1302", "-1"}}},  // a gap latest day is judged at -1
      {"150", "10", {}},
  };
  for (const Case& c : cases) {
    CriteriaRun r(60);
    std::vector<double> closes(25, 100);
    closes.push_back(900);  // day 26 lies outside the 25-day average
    std::vector<double> lifted = closes;
    lifted[0] = 112;
    lifted[1] = 88;  // keeps the average at 100
    std::vector<double> gap = closes;
    gap[0] = 0;
    r.add_closes("1301", lifted);
    r.add_closes("1302", gap);
    r.set("kairi3_min_txt", c.lo);
    r.set("kairi3_max_txt", c.hi);
    r.run(f_kairi3sel, 13);
    EXPECT_EQ(r.values(), c.kept) << c.lo << ".." << c.hi;
    EXPECT_EQ(r.candidates.title, "乖離率");
    EXPECT_EQ(r.intermediate(13).substr(0, 2), std::to_string(c.kept.size()) + ",");
  }
}

}  // namespace
}  // namespace lp::screening
