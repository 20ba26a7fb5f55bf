// The chart's indicators in the formula language: the same values as the chart's functions
// and TA-Lib's published ones, the 先行スパン read as of the day they are drawn for, their
// look-backs in the work bound, "-" with too few days, and their errors.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "chart/macd.h"
#include "chart/talib_reference.h"
#include "screening/formula/formula.h"
#include "screening/formula/formula_step.h"

namespace lp::test {
namespace {

using formula::Formula;
using formula::FormulaError;
using formula::TradedDays;
namespace ta = lp::test::talib;

// Bars oldest first as traded days newest first.
TradedDays days_from(const std::vector<double>& high, const std::vector<double>& low,
                     const std::vector<double>& close) {
  TradedDays d;
  for (std::size_t i = close.size(); i-- > 0;) {
    d.open.push_back(close[i]);
    d.high.push_back(high[i]);
    d.low.push_back(low[i]);
    d.close.push_back(close[i]);
    d.volume.push_back(1000);
  }
  return d;
}

TradedDays talib_days() {
  return days_from({ta::kHigh.begin(), ta::kHigh.end()}, {ta::kLow.begin(), ta::kLow.end()},
                   {ta::kClose.begin(), ta::kClose.end()});
}

formula::Evaluation eval(const std::string& text, const TradedDays& d) {
  Formula f;
  FormulaError e;
  EXPECT_TRUE(Formula::compile(text, f, e)) << text << ": " << e.text();
  return formula::evaluate(f, d);
}

TEST(FormulaChartFunctions, AgreeWithTaLibAndTheChart) {
  const TradedDays d = talib_days();
  const chart::MacdLines m = chart::macd(ta::kClose, 12, 26, 9);
  const struct {
    const char* text;
    double expected;
    double tolerance;
  } cases[] = {
      // TA-Lib's first MACD output is on bar 33, 218 traded days before the newest (251).
      {"MACD(12,26)[218]", ta::kMacdFirst, 5e-5},
      {"MACDSIG(12,26,9)[218]", ta::kMacdSignalFirst, 5e-5},
      {"MACD(12,26)", m.line[251], 1e-12},
      {"MACDSIG(12,26,9)", m.signal[251], 1e-12},
      {"MACD(26,12)", m.line[251], 1e-12},  // swapped as TA-Lib does
      // TA-Lib's STOCH(5, 3, 3): its slow %K is STOCHD, its slow %D is SSTOCHD.
      {"STOCHD(5,3)[243]", 24.0128, 1e-3},
      {"SSTOCHD(5,3,3)[243]", 36.254, 1e-3},
      {"STOCHD(5,3)", 30.194, 1e-3},
      {"SSTOCHD(5,3,3)", 43.69, 5e-3},  // printed with two decimals
      {"SSTOCHD(5,3,4)", 46.641, 1e-3},
  };
  for (const auto& c : cases) {
    const formula::Evaluation e = eval(c.text, d);
    ASSERT_TRUE(e.ok) << c.text;
    EXPECT_NEAR(e.value, c.expected, c.tolerance) << c.text;
  }
}

// The 80 bars of the chart's hand-worked 一目均衡表 rows (tests/chart/ta_indicators_test.cpp).
const std::vector<double> kHigh80 = {
    100.0,  102.58, 105.12, 107.59, 105.95, 108.17, 110.23, 112.11, 109.78, 111.23, 112.46, 113.48,
    110.27, 110.87, 111.28, 111.54, 107.66, 107.68, 107.63, 107.55, 103.48, 103.44, 103.49, 103.65,
    99.95,  100.41, 101.07, 101.93, 99.01,  100.31, 101.83, 103.56, 101.49, 103.61, 105.87, 108.27,
    106.76, 109.32, 111.9,  114.47, 112.99, 115.43, 117.76, 119.93, 117.94, 119.75, 121.36, 122.75,
    119.91, 120.86, 121.6,  122.14, 118.5,  118.71, 118.8,  118.79, 114.73, 114.65, 114.58, 114.57,
    110.65, 110.84, 111.19, 111.71, 108.43, 109.36, 110.5,  111.87, 109.45, 111.25, 113.23, 115.4,
    113.71, 116.14, 118.65, 121.22, 119.8,  122.36, 124.86, 127.27};
const std::vector<double> kLow80 = {
    98.0,   100.08, 102.12, 105.59, 103.45, 105.17, 108.23, 109.61, 106.78, 109.23, 109.96, 110.48,
    108.27, 108.37, 108.28, 109.54, 105.16, 104.68, 105.63, 105.05, 100.48, 101.44, 100.99, 100.65,
    97.95,  97.91,  98.07,  99.93,  96.51,  97.31,  99.83,  101.06, 98.49,  101.61, 103.37, 105.27,
    104.76, 106.82, 108.9,  112.47, 110.49, 112.43, 115.76, 117.43, 114.94, 117.75, 118.86, 119.75,
    117.91, 118.36, 118.6,  120.14, 116.0,  115.71, 116.8,  116.29, 111.73, 112.65, 112.08, 111.57,
    108.65, 108.34, 108.19, 109.71, 105.93, 106.36, 108.5,  109.37, 106.45, 109.25, 110.73, 112.4,
    111.71, 113.64, 115.65, 119.22, 117.3,  119.36, 122.86, 124.77};

TEST(FormulaChartFunctions, IchimokuAsOfTheDayItIsDrawnFor) {
  std::vector<double> mid(80);
  for (std::size_t i = 0; i < 80; ++i) mid[i] = (kHigh80[i] + kLow80[i]) / 2;
  const TradedDays d = days_from(kHigh80, kLow80, mid);
  const struct {
    const char* text;
    double expected;
  } cases[] = {
      {"TENKAN(9)", 119.49},
      {"KIJUN(26)", 116.6},
      // Drawn on the newest day (bar 79): computed on bar 54, the 25th traded day before it.
      {"SENKOUA(9,26)", 114.63},
      {"SENKOUB(52)", 109.63},
      {"SENKOUB(52)[3]", 109.63},  // the first 先行スパン2 the chart draws (bar 76)
      // The rule itself: the spans of day t are the lines of day t[25].
      {"SENKOUA(9,26) = (TENKAN(9)[25] + KIJUN(26)[25]) / 2", 1},
      {"SENKOUB(52)[1] = (MAX(H,52)[26] + MIN(L,52)[26]) / 2", 1},
      {"RCI(9) = RCI(9)", 1},
  };
  for (const auto& c : cases) {
    const formula::Evaluation e = eval(c.text, d);
    ASSERT_TRUE(e.ok) << c.text;
    EXPECT_NEAR(e.value, c.expected, 1e-9) << c.text;
  }
  // One day short of a whole 先行スパン2: no value, as the chart draws none there.
  EXPECT_FALSE(eval("SENKOUB(52)[4]", d).ok);
  EXPECT_FALSE(eval("SENKOUA(9,26)[30]", d).ok);
  EXPECT_TRUE(eval("SENKOUA(9,26)[29]", d).ok);
}

TEST(FormulaChartFunctions, MacdAboveItsSignalAndCloseAboveTheCloudScreens) {
  const TradedDays d = talib_days();
  const chart::MacdLines m = chart::macd(ta::kClose, 12, 26, 9);
  const formula::Evaluation e = eval("MACD(12,26) > MACDSIG(12,26,9) AND C > SENKOUA(9,26)", d);
  ASSERT_TRUE(e.ok);
  const formula::Evaluation span = eval("SENKOUA(9,26)", d);
  ASSERT_TRUE(span.ok);
  EXPECT_EQ(e.value != 0, m.line[251] > m.signal[251] && ta::kClose[251] > span.value);
  // A crossing reads the line and its signal a day apart too.
  EXPECT_TRUE(eval("CROSS(MACD(12,26), MACDSIG(12,26,9)) >= 0", d).ok);
}

TEST(FormulaChartFunctions, LookbacksAndReadsInTheWorkBound) {
  const struct {
    const char* text;
    int lookback;
    int reads;
  } cases[] = {
      {"MACD(12,26)", 26, 260},       // exponential: read ten times the period back
      {"MACDSIG(12,26,9)", 34, 350},  // TA-Lib's 33 bars of look-back, plus the day
      {"STOCHK(9)", 9, 9},           {"STOCHD(9,3)", 11, 11},
      {"SSTOCHD(9,3,3)", 13, 13},    {"RCI(26)", 26, 26},
      {"TENKAN(9)", 9, 9},           {"KIJUN(26)", 26, 26},
      {"SENKOUA(9,26)", 51, 51},  // 26 days back to the bar they were computed on
      {"SENKOUB(52)", 77, 77},       {"SENKOUB(52)[2] > C", 79, 79},
  };
  for (const auto& c : cases) {
    Formula f;
    FormulaError e;
    ASSERT_TRUE(Formula::compile(c.text, f, e)) << c.text << ": " << e.text();
    EXPECT_EQ(f.lookback(), c.lookback) << c.text;
    EXPECT_EQ(f.read_days(), c.reads) << c.text;
  }
  // Beyond the bound: an error, not minutes of work.
  Formula f;
  FormulaError e;
  EXPECT_FALSE(Formula::compile("SENKOUB(4990)", f, e));
  EXPECT_FALSE(Formula::compile("MA(MACDSIG(12,26,9),3000) > 0", f, e));
}

TEST(FormulaChartFunctions, ErrorsNameTheirPosition) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"MACD(12)", "8文字目: MACD には引数が2つ必要です"},
      {"STOCHK(9,3)", "9文字目: STOCHK には引数が1つ必要です"},
      {"RCI(1)", "5文字目: 期間は2から5000までの整数で書きます"},
      {"SSTOCHD(9,3,0)", "13文字目: 期間は1から5000までの整数で書きます"},
      {"KIJUN 26", "7文字目: KIJUN の後に '(' がありません"},
      {"TENKAN(C)", "8文字目: 期間は1から5000までの整数で書きます"},
  };
  for (const auto& c : cases) {
    Formula f;
    FormulaError e;
    EXPECT_FALSE(Formula::compile(c.text, f, e)) << c.text;
    EXPECT_EQ(e.text(), c.error) << c.text;
  }
}

TEST(FormulaChartFunctions, TooFewDaysShowsADash) {
  std::vector<double> closes(8);
  for (std::size_t i = 0; i < closes.size(); ++i) closes[i] = 100 + static_cast<double>(i % 3);
  const TradedDays d = days_from(closes, closes, closes);
  screening::CompiledRow row;
  FormulaError e;
  ASSERT_TRUE(Formula::compile("C > 0", row.formula, e));
  for (const char* show : {"RCI(9)", "STOCHK(9)", "MACD(3,9)", "KIJUN(26)", "SENKOUA(1,2)"}) {
    ASSERT_TRUE(Formula::compile(show, row.show, e)) << show;
    std::string value;
    EXPECT_TRUE(screening::judge_traded_days(row, d, value)) << show;
    EXPECT_EQ(value, "-") << show;
  }
  ASSERT_TRUE(Formula::compile("RCI(8)", row.show, e));
  std::string value;
  screening::judge_traded_days(row, d, value);
  EXPECT_NE(value, "-");
  // As a condition, too few days drop the stock.
  EXPECT_FALSE(eval("STOCHK(9) > 0", d).ok);
  EXPECT_TRUE(eval("STOCHK(8) >= 0", d).ok);
}

}  // namespace
}  // namespace lp::test
