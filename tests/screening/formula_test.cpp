// The formula language: grammar and precedence, errors with their positions, every function
// against hand-computed values on a stock with a gap day and a split, and the formula rows as
// steps of the run.
#include "screening/formula/formula.h"

#include <gtest/gtest.h>

#include "common/encoding.h"
#include "pricedb/fins_store.h"
#include "pricedb/formats.h"
#include "pricedb/market_store.h"
#include "pricedb/sectors.h"
#include "screening/criteria_run_fixture.h"
#include "screening/formula/formula_step.h"

namespace lp::test {
namespace {

using formula::Formula;
using formula::FormulaError;
using formula::TradedDays;

// Traded days of a few closes (newest first); open/high/low around the close.
TradedDays days_of(const std::vector<double>& closes) {
  TradedDays d;
  for (double c : closes) {
    d.open.push_back(c - 1);
    d.high.push_back(c + 2);
    d.low.push_back(c - 3);
    d.close.push_back(c);
    d.volume.push_back(1000);
  }
  return d;
}

formula::Evaluation eval(const std::string& text, const TradedDays& d) {
  Formula f;
  FormulaError e;
  EXPECT_TRUE(Formula::compile(text, f, e)) << text << ": " << e.text();
  return formula::evaluate(f, d);
}

TEST(FormulaGrammar, PrecedenceAndTruth) {
  const TradedDays d = days_of({10, 9, 8});
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"1+2*3", 7},
      {"(1+2)*3", 9},
      {"1-2-3", -4},
      {"12/4/3", 1},
      {"-2*3", -6},
      {"--2", 2},
      {"NOT 0 + 1", 2},  // NOT binds tighter than +
      {"not 1 * 5", 0},
      {"NOT 0 * 5", 5},  // (NOT 0) * 5: NOT binds tighter than * too
      {"2*3 > 5", 1},
      {"1 + 1 = 2", 1},
      {"1 <> 2", 1},
      {"3 >= 3 AND 2 <= 1", 0},
      {"1 OR 0 AND 0", 1},  // AND before OR
      {"(1 OR 0) AND 0", 0},
      {"!0 && 1 || 0", 1},
      {"C > C[1] AND C[1] > C[2]", 1},
      {"c - C[2]", 2},
      {"5 and 7", 1},  // a number is true when not 0
  };
  for (const auto& c : cases) {
    const auto r = eval(c.text, d);
    EXPECT_TRUE(r.ok) << c.text;
    EXPECT_DOUBLE_EQ(r.value, c.value) << c.text;
  }
}

TEST(FormulaGrammar, ErrorsNameTheirPosition) {
  const struct {
    const char* text;
    int position;
    const char* message;
  } cases[] = {
      {"C > MA(C,25", 12, "')' がありません"},
      {"(C", 3, "')' がありません"},
      {"C >", 4, "式が途中で終わっています"},
      {"", 1, "式がありません"},
      {"   ", 4, "式がありません"},
      {"C # 1", 3, "'#' は使えない文字です"},
      {"C >\x01 1", 4, "制御文字は使えません"},
      {"FOO(1)", 1, "'FOO' という名前はありません"},
      {"MA(C)", 5, "MA には引数が2つ必要です"},
      {"MA(C,25,3)", 8, "MA には引数が2つ必要です"},
      {"RSI()", 5, "RSI には引数が1つ必要です"},
      {"MA(C,0)", 6, "期間は1から5000までの整数で書きます"},
      {"MA(C,2.5)", 6, "期間は1から5000までの整数で書きます"},
      {"MA(C,N)", 6, "期間は1から5000までの整数で書きます"},
      {"C[1", 4, "']' がありません"},
      {"C[-1]", 3, "[ ] の中は0から5000までの整数で書きます"},
      {"C 1", 3, "'1' の前に演算子がありません"},
      {"C)", 2, "')' が多すぎます"},
      {"MA C", 4, "MA の後に '(' がありません"},
      {"1.2.3", 4, "数値に小数点が2つあります"},
      {"C & V", 3, "'&' は '&&' と書きます"},
      {"CROSS(C)", 8, "CROSS には引数が2つ必要です"},
      {"DAYS(1)", 6, "DAYS() は引数をとりません"},
      // Full-width input: positions count the characters as typed.
      {"Ｃ　＞　ＭＡ（Ｃ，２５", 12, "')' がありません"},
      {"MA(C,5000)[1] > 0", 1, "必要な日数が多すぎます（5000日まで）"},
      {"FIN(FOO) > 0", 5, "'FOO' という決算の項目はありません"},
      {"FIN(DiscDate) > 0", 5, "'DISCDATE' という決算の項目はありません"},
      {"FIN(1)", 5, "FIN には決算の項目名が必要です"},
      {"FIN EPS", 5, "FIN の後に '(' がありません"},
      {"FIN(EPS", 8, "')' がありません"},
      {"FY(FOO) > 0", 4, "'FOO' という決算の項目はありません"},
      {"SMED(SMED(PER)) > 0", 6, "SMED の中に SMED は書けません"},
      {"SMED(PER, 2)", 9, "SMED には引数が1つ必要です"},
      {"MA(MA(MA(C,1000),1000),1000) > 0", 1, "計算が多すぎます（期間を短くしてください）"},
      {"SSTD(C,1)", 8, "期間は2から5000までの整数で書きます"},
      {"WRSI()", 6, "WRSI には引数が1つ必要です"},
      {"WRSI(501)", 1, "必要な日数が多すぎます（5000日まで）"},
      // Each part within the bound, the whole beyond it (37 x 1.95 million reads).
      {nullptr, 1,
       "式全体の計算が多すぎます（1銘柄あたり200万回まで）。期間を短くするか、"
       "同じ計算の繰り返しを減らしてください"},
      {"MA(MA(MA(C,100),100),100) > MA(MA(MA(O,100),100),100)", 1,
       "式全体の計算が多すぎます（1銘柄あたり200万回まで）。期間を短くするか、"
       "同じ計算の繰り返しを減らしてください"},
  };
  std::string copies = "MA(MA(MA(C,125),125),125)";
  for (int i = 1; i < 37; ++i) copies += "+MA(MA(MA(C,125),125),125)";
  copies += ">0";
  ASSERT_LE(copies.size(), 1000u);
  for (const auto& c : cases) {
    Formula f;
    FormulaError e;
    const std::string text = c.text ? c.text : copies;
    EXPECT_FALSE(Formula::compile(text, f, e)) << text;
    EXPECT_EQ(e.position, c.position) << text;
    EXPECT_EQ(e.message, c.message) << text;
  }
}

TEST(FormulaGrammar, LimitsGiveErrorsNotCrashes) {
  Formula f;
  FormulaError e;
  EXPECT_FALSE(Formula::compile(std::string(1001, '1'), f, e));
  EXPECT_EQ(e.position, 1001);
  EXPECT_FALSE(Formula::compile(std::string(200, '(') + "1" + std::string(200, ')'), f, e));
  EXPECT_EQ(e.message, "式が深すぎます（64段まで）");
  EXPECT_FALSE(Formula::compile(std::string(300, '-') + "1", f, e));
  EXPECT_EQ(e.message, "式が深すぎます（64段まで）");
  // Within the limits a long flat formula is fine.
  std::string sum = "C";
  while (sum.size() < 990) sum += "+C";
  EXPECT_TRUE(Formula::compile(sum, f, e)) << e.text();
}

TEST(FormulaGrammar, FullWidthAndCaseReadAsHalfWidth) {
  const TradedDays d = days_of({30, 20, 10});
  EXPECT_EQ(eval("ｃ［１］＋ｍａ（Ｃ，３）", d).value, 40);
  EXPECT_EQ(eval("Ma(c,2) ＞ 24　and　ｎｏｔ　0", d).value, 1);
  EXPECT_EQ(eval("２０×３÷６", d).value, 10);
}

TEST(FormulaGrammar, LookbackCountsTradedDaysEveryPartNeeds) {
  const struct {
    const char* text;
    int lookback;
    int reads;
  } cases[] = {
      {"1 > 0", 0, 0},
      {"C", 1, 1},
      {"C[4]", 5, 5},
      {"REF(C,4)", 5, 5},
      {"MA(C,25)", 25, 25},
      {"MA(C,25)[3]", 28, 28},
      {"MA(MA(C,5),10)", 14, 14},
      {"RSI(14)", 15, 15},
      {"WRSI(14)", 15, 140},  // n + 1 days to start, smoothed over up to 10n
      {"SSTD(C,5)[1]", 6, 6},
      {"MA(MA(MA(C,125),125),125)", 373, 373},  // one alone is within the work bound
      {"EMA(C,10)", 10, 40},
      {"CROSS(MA(C,5),MA(C,25))", 26, 26},
      {"C > MA(C,25) AND RSI(14) < 30 AND V > 2*MA(V,20)", 25, 25},
      {"MA(H-L,10)[2] + C[30]", 31, 31},
      {"ROE > 10 AND FIN(fop) > FIN(OP)", 0, 0},  // results need no traded day
      {"PER < 15", 1, 1},                         // a price ratio reads the close
      {"PER[2] < 15", 3, 3},
      {"APER < 15 AND MINBUY < 100000", 1, 1},
      {"ROA > 3 AND EQR > 40 AND OPM > 5 AND PAYOUT < 50 AND FY(OP) > 0", 0, 0},
      {"PER < SMED(PER) * 0.7", 1, 1},
      {"S33 = 3650 AND SMED(C / MA(C, 25)) > 1", 0, 25},  // the median is the day's
  };
  for (const auto& c : cases) {
    Formula f;
    FormulaError e;
    ASSERT_TRUE(Formula::compile(c.text, f, e)) << c.text << ": " << e.text();
    EXPECT_EQ(f.lookback(), c.lookback) << c.text;
    EXPECT_EQ(f.read_days(), c.reads) << c.text;
  }
}

TEST(FormulaEvaluation, FailuresFailTheWholeFormula) {
  const TradedDays d = days_of({10, 9, 8, 7});
  const char* failing[] = {
      "C/(C-C) > 0 OR 1",  // division by zero, even where OR would not need it
      "1 OR 1/0",
      "MA(C,5) > 0 OR 1",  // more days than held
      "C[4] > 0",
      "RSI(4) > 0",  // 4 changes need 5 days
      "RSI(2) >= 0 AND 0 = 0",
  };
  for (const char* text : failing) EXPECT_FALSE(eval(text, days_of({10, 10, 10, 7})).ok) << text;
  EXPECT_TRUE(eval("MA(C,4) > 0", d).ok);
  EXPECT_TRUE(eval("RSI(3) = 100", d).ok);
  // Days of unknown volume (a CSV without volumes) are traded days with no value for V.
  Series unknown(4);
  unknown[0].d6 = "3";
  for (std::size_t i = 1; i <= 3; ++i) {
    unknown[i] = {"2025010" + std::to_string(i), "10", "12", "9", "11", kUnknownVolumeText};
  }
  TradedDays u;
  u.assign(unknown);
  EXPECT_EQ(u.count(), 3);
  EXPECT_TRUE(eval("MA(C,3) = 11", u).ok);
  for (const char* text : {"V < 1000", "NOT V > 1000", "MA(V,2) >= 0", "C > 0 AND V[2] >= 0"}) {
    EXPECT_FALSE(eval(text, u).ok) << text;
  }
  EXPECT_FALSE(eval("RSI(3) > 0", days_of({5, 5, 5, 5})).ok);  // no change: up + down = 0
  EXPECT_FALSE(eval("C*1000000000*1000000000*1000000000*1000000000*1000000000*1000000000*"
                    "1000000000*1000000000*1000000000*1000000000*1000000000*1000000000*"
                    "1000000000*1000000000*1000000000*1000000000*1000000000*1000000000*"
                    "1000000000*1000000000*1000000000*1000000000*1000000000*1000000000*"
                    "1000000000*1000000000*1000000000*1000000000*1000000000*1000000000*"
                    "1000000000*1000000000*1000000000*1000000000*1000000000 > 0",
                    d)
                   .ok);  // overflow to infinity is no value
}

TEST(FormulaEvaluation, WrsiSmoothsOverTenPeriodsAtMost) {
  std::vector<double> closes;
  for (int i = 0; i < 22; ++i) closes.push_back(100 + (3 * i * i + i) % 17);
  const auto held = [&](int n) {
    return eval("WRSI(2)", days_of({closes.begin(), closes.begin() + n})).value;
  };
  EXPECT_DOUBLE_EQ(held(22), held(20));  // days beyond the newest 20 change nothing
  EXPECT_NE(held(20), held(19));
}

// A stock over ten trading days with a gap on day 3 (no line) and a 1:2 split on day 5: the
// five older days are halved by the split adjustment. Traded closes, newest first:
// 110 108 104 100 100 98 102 95 100.
class FormulaRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<Bar> bars;
    for (double c : {110.0, 108.0, 0.0, 104.0, 100.0, 200.0, 196.0, 204.0, 190.0, 200.0}) {
      bars.push_back(c > 0 ? Bar{c - 1, c + 2, c - 3, c, 5000} : Bar{0, 0, 0, 0, 0});
    }
    run.add_stock("2000", bars);
    write_correction_file(run.db, 2024, "2000", {{run.date(5), 1, 2}});
  }

  // Runs row 41 with the formula and 「表示」 formula; the value text of the kept stock, or
  // "failed" when it was not kept.
  std::string shown(const std::string& condition, const std::string& show) {
    run.candidates = {};
    run.set(screening::formula_text_control(41), condition);
    run.set(screening::formula_show_control(41), show);
    run.run(screening::f_shikisel, 41);
    const auto values = run.values();
    auto it = values.find("2000");
    return it == values.end() ? "failed" : it->second;
  }

  CriteriaRun run{10};
};

TEST_F(FormulaRun, FunctionsAgainstHandComputedValues) {
  const struct {
    const char* show;
    const char* value;
  } cases[] = {
      {"C", "110"},
      {"C[2]", "104"},  // traded days: the gap day does not count
      {"REF(C,3)", "100"},
      {"C[5]", "98"},  // 196 before the split
      {"O", "109"},
      {"H[8]", "101"},  // the oldest day's high 202, halved by the split
      {"MA(C,3)", "107.333333333333"},
      {"MA(C,2)[3]", "100"},
      {"MAX(C,9)", "110"},
      {"MIN(C,9)", "95"},
      {"SUM(C,4)", "422"},
      {"STD(C,4)", "3.8405728739343"},
      {"SSTD(C,4)", "4.43471156521669"},  // sqrt(59 / 3)
      {"RSI(6)", "75"},
      // Oldest first 100 95 102 98 100 100 104 108 110: changes -5 7 -4 2 0 4 4 2. WRSI(2)
      // starts at gain 7/2, loss 5/2 and smooths the other six in: 335/128 and 13/128.
      {"WRSI(2)", "96.2643678160919"},
      {"WRSI(8)", "67.8571428571429"},  // n + 1 days: plain means, as RSI(8): 19 / 28
      {"RSI(8)", "67.8571428571429"},
      {"WRSI(2)[6]", "58.3333333333333"},  // three days held back then: 7/2 against 5/2
      {"EMA(C,2)", "108.73479652492"},
      {"EMA(C,3)", "107.46484375"},
      {"DAYS()", "9"},
      {"ABS(C[8]-C)", "10"},
      {"V", "5000"},
      {"MA(H-L,3)", "5"},
      {"CROSS(C,106)", "0"},     // the day after the cross
      {"CROSS(C,106)[1]", "1"},  // the day of the cross
      {"CROSS(C,104)[1]", "1"},  // the day before sat exactly on the line
      {"CROSS(C,104)[2]", "0"},  // on the line is not above it
      {"1/(C-110)", "-"},        // a 「表示」 formula that fails shows "-"
      {"", "-"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shown("1", c.show), c.value) << c.show;
  }
}

// DAYS() counts every traded day the stock holds although the run loads only the formula's
// other look-backs: gap days, a late listing and lines of zero volume over two years, from the
// files and from the in-memory market, today and as of fifty days back.
TEST(FormulaDays, CountTheWholeHistoryWithoutLoadingIt) {
  const struct {
    const char* code;
    bool (*traded)(int i);  // day i back from the newest (0-based)
    int zero_volume_every;  // such days keep their line with volume 0
    const char *today, *as_of;
  } stocks[] = {
      {"2000", [](int) { return true; }, 0, "300", "250"},
      {"2001", [](int i) { return i % 3 != 0; }, 0, "200", "167"},
      {"2002", [](int i) { return i < 100; }, 0, "100", "50"},
      {"2003", [](int) { return true; }, 10, "270", "225"},
  };
  for (bool in_memory : {false, true}) {
    for (bool as_of : {false, true}) {
      CriteriaRun run(300);  // reaches back into 2023
      for (const auto& s : stocks) {
        std::vector<Bar> bars;
        for (int i = 0; i < 300; ++i) {
          const double c = 100 + i % 7;
          const bool zero = s.zero_volume_every > 0 && i % s.zero_volume_every == 0;
          bars.push_back(!s.traded(i) ? Bar{0, 0, 0, 0, 0} : Bar{c, c, c, c, zero ? 0 : 500});
        }
        run.add_stock(s.code, bars);
      }
      if (as_of) run.ctx.source.as_of = run.date(51);
      std::string error;
      if (in_memory) run.ctx.source.store = MarketStore::load(run.db, "1001", error);
      run.set(screening::formula_text_control(41), "C > 0");
      run.set(screening::formula_show_control(41), "DAYS()");
      run.run(screening::f_shikisel, 41);
      for (const auto& s : stocks) {
        EXPECT_EQ(run.values()[s.code], as_of ? s.as_of : s.today)
            << s.code << (in_memory ? " in memory" : " from the files")
            << (as_of ? " as of fifty days back" : "");
      }
    }
  }
}

TEST_F(FormulaRun, TooFewDaysOrDivisionByZeroDropsTheStock) {
  EXPECT_EQ(shown("MA(C,9) > 0", ""), "-");
  EXPECT_EQ(shown("MA(C,10) > 0", ""), "failed");
  EXPECT_EQ(shown("EMA(C,9) > 0", ""), "-");  // 9 values start an EMA of 9
  EXPECT_EQ(shown("EMA(C,10) > 0", ""), "failed");
  EXPECT_EQ(shown("C/(C-110) > 0 OR 1", ""), "failed");
  EXPECT_EQ(shown("C < 100", ""), "failed");
}

TEST_F(FormulaRun, StepCountsWritesItsFileAndShowsItsButton) {
  run.add_closes("3000", {90, 91, 92, 93, 94, 95, 96, 97, 98, 99});
  run.set(screening::formula_name_control(41), "押し目");
  EXPECT_EQ(shown("C >= 100", "C/MA(C,2)*100-100"), "0.917431192660544");
  EXPECT_EQ(run.labels[41], "1/2");
  EXPECT_EQ(run.shown, std::vector<int>{41});
  EXPECT_EQ(read_cp932(std::filesystem::path(run.user) / "sel41.csv"),
            "1,20241227,押し目\r\n2000,1,0.917431192660544\r\n");
  // A second step sees only what the first kept.
  run.set(screening::formula_text_control(42), "C > 0");
  run.run(screening::f_shikisel, 42);
  EXPECT_EQ(run.labels[42], "1/1");
  EXPECT_EQ(run.output.title, "式42");
}

TEST(FormulaRows, CheckNamesTheRowAndThePosition) {
  auto controls = screening::ControlSet::with_builtins();
  EXPECT_EQ(screening::check_formula_rows(controls), "");
  controls.set_checked("pr_chk(42)", true);
  controls.set_text("shiki_txt(42)", "C > MA(C,25");
  EXPECT_EQ(screening::check_formula_rows(controls), "式42の12文字目: ')' がありません");
  controls.set_text("shiki_txt(42)", "C > 1");
  controls.set_text("shiki_hyouji_txt(42)", "C +");
  EXPECT_EQ(screening::check_formula_rows(controls),
            "式42（表示）の4文字目: 式が途中で終わっています");
  // Both are evaluated on every stock: each within the work bound, the two together beyond it.
  controls.set_text("shiki_txt(42)", "MA(MA(MA(C,125),125),125) > 0");
  controls.set_text("shiki_hyouji_txt(42)", "MA(MA(MA(C,125),125),125)");
  EXPECT_EQ(screening::check_formula_rows(controls),
            "式42と表示式を合わせて" + formula::total_cost_text());
  controls.set_text("shiki_hyouji_txt(42)", "");
  EXPECT_EQ(screening::check_formula_rows(controls), "");
  controls.set_checked("pr_chk(43)", true);  // ticked with no formula
  EXPECT_EQ(screening::check_formula_rows(controls), "式43の1文字目: 式がありません");
}

}  // namespace
}  // namespace lp::test

namespace lp::test {
namespace {

// The stock's results: FY results on day 8 (before the split on day 5) with next year's
// forecasts, and a quarter with a new forecast on day 2. A run as of day D sees what was
// disclosed by D, per share on D's basis, at D's close.
TEST_F(FormulaRun, ResultsFiguresAsOfTheRunsDay) {
  fins::Disclosure fy, q1;
  for (auto [col, text] : std::initializer_list<std::pair<int, std::string>>{
           {fins::DiscDate, run.date(8)},
           {fins::Code, "2000"},
           {fins::DiscNo, "1"},
           {fins::DocType, "FYFinancialStatements_Consolidated_JP"},
           {fins::CurFYEn, "20240331"},
           {fins::NxtFYEn, "20250331"},
           {fins::EPS, "20"},
           {fins::BPS, "400"},
           {fins::NxFEPS, "10"},
           {fins::NxFDivAnn, "4"},
           {fins::ShOutFY, "1000000"}}) {
    fy.set(col, text);
  }
  for (auto [col, text] : std::initializer_list<std::pair<int, std::string>>{
           {fins::DiscDate, run.date(2)},
           {fins::Code, "2000"},
           {fins::DiscNo, "2"},
           {fins::DocType, "1QFinancialStatements_Consolidated_JP"},
           {fins::CurFYEn, "20250331"},
           {fins::FEPS, "11"},
           {fins::FDivAnn, "2"}}) {  // the year's dividend forecast, on the new basis
    q1.set(col, text);
  }
  fins::StoreStats stats;
  std::string error;
  ASSERT_TRUE(fins::store_disclosures(run.db, {fy, q1}, stats, error)) << error;

  const struct {
    int day;  // the run as of this day
    const char* condition;
    const char* show;
    const char* value;
  } cases[] = {
      {1, "1", "PER", "10"},
      {1, "1", "PBR", "0.55"},
      {1, "1", "YIELD", "1.81818181818182"},
      {1, "1", "MCAP", "2.2"},
      {1, "1", "FIN(NxFEPS)", "10"},  // as served, not split-adjusted
      {1, "PER < 15 AND PBR < 1", "EPS", "11"},
      {2, "1", "PER", "9.81818181818182"},  // disclosed on the day itself: seen
      {3, "1", "PER", "20.8"},            // not yet: the FY forecast halved, at the close of day 4
      {6, "1", "PER", "20"},              // before the split: unadjusted on both sides
      {8, "1", "PER", "20.4"},            // the first summary's own day: 204 / 10
      {9, "1", "PER", "-"},               // before any disclosure
      {9, "PER > 0 OR 1", "", "failed"},  // undefined fails whatever surrounds it
      {9, "NOT (PER > 100)", "", "failed"},
      {1, "PER > 9.9 AND PER < 10.1", "", "-"},
  };
  for (const auto& c : cases) {
    run.ctx.today = run.date(c.day);
    run.ctx.source.as_of = run.date(c.day);
    EXPECT_EQ(shown(c.condition, c.show), c.value) << c.day << " " << c.condition << " " << c.show;
  }
}

// Sectors: six stocks at 100 on the run's day, five in 電気機器 (3650) and one in 食料品 (3050).
// Their PERs (100 over the EPS forecast): 10, 20, 5, - (no forecast), 25, 40. SMED(PER) of
// 3650 is the median of 10, 20, 5 and 40 (the undefined one left out; 3002 counts though the
// screen left it out): (10 + 20) / 2 = 15; of 3050 it is 25.
TEST(FormulaSectors, IndustryMedianCodesAndTheIndicatorPage) {
  CriteriaRun run{5};
  const std::vector<std::pair<std::string, const char*>> stocks = {
      {"3001", "10"}, {"3002", "5"}, {"3003", "20"}, {"3004", ""}, {"3005", "4"}, {"3006", "2.5"}};
  std::vector<fins::Disclosure> list;
  sectors::MasterSectors master;
  for (const auto& [code, eps] : stocks) {
    run.add_closes(code, {100, 100, 100, 100, 100});
    fins::Disclosure d;
    for (auto [col, text] : std::initializer_list<std::pair<int, std::string>>{
             {fins::DiscDate, "20240510"},
             {fins::Code, code},
             {fins::DiscNo, "1"},
             {fins::DocType, "FYFinancialStatements_Consolidated_JP"},
             {fins::CurFYEn, "20240331"},
             {fins::NxtFYEn, "20250331"},
             {fins::BPS, code == "3005" ? "50" : "200"},
             {fins::NxFEPS, eps}}) {
      d.set(col, text);
    }
    list.push_back(d);
    const bool food = code == "3005";
    master[code] = {0, food ? "1" : "9", food ? "食品" : "電機・精密", food ? "3050" : "3650",
                    food ? "食料品" : "電気機器", "プライム"};
  }
  fins::StoreStats stats;
  std::string error;
  ASSERT_TRUE(fins::store_disclosures(run.db, list, stats, error)) << error;
  ASSERT_TRUE(sectors::store_sectors(run.db, {{20241227, master}}, error)) << error;

  auto kept = [&](const std::string& condition, const std::string& show) {
    run.start();
    // The markets chosen left 3002 out; its PER still counts in its industry's median.
    std::erase_if(run.candidates.items, [](const auto& c) { return c.code == "3002"; });
    run.set(screening::formula_text_control(41), condition);
    run.set(screening::formula_show_control(41), show);
    run.run(screening::f_shikisel, 41);
    return run.values();
  };
  using Values = std::map<std::string, std::string>;
  EXPECT_EQ(kept("PER < SMED(PER) * 1.2", "SMED(PER)"),
            (Values{{"3001", "15"}, {"3003", "15"}, {"3005", "25"}}));
  EXPECT_EQ(kept("S33 = 3650 AND S17 = 9", "S33"),
            (Values{{"3001", "3650"}, {"3003", "3650"}, {"3004", "3650"}, {"3006", "3650"}}));
  EXPECT_EQ(kept("PBR < SMED(PBR)", "PBR / SMED(PBR)"), (Values{}))
      << "every 3650 stock at the median 0.5; 3005 alone in its industry";

  // The 「指標」 page: 予想PER 6 to 30 means PER >= 6 AND PER <= 30.
  run.controls.set_text(screening::indicator_min_control(1), "６");
  run.controls.set_text(screening::indicator_max_control(1), "30");
  std::string formula;
  ASSERT_TRUE(screening::indicator_formula(run.controls, formula, error)) << error;
  EXPECT_EQ(formula, "PER >= 6 AND PER <= 30");
  run.start();
  run.run(screening::f_shikisel, screening::kIndicatorRow);
  EXPECT_EQ(run.values(), (Values{{"3001", "-"}, {"3002", "-"}, {"3005", "-"}}));
  run.controls.set_text(screening::indicator_max_control(3), "1,2x");
  EXPECT_FALSE(screening::indicator_formula(run.controls, formula, error));
  EXPECT_EQ(error, "指標: PBRの上限が数値ではありません: 12x");

  // A screen on results over a database that holds none says so.
  screening::ControlSet c = screening::ControlSet::with_builtins();
  c.set_checked("pr_chk(41)", true);
  c.set_text(screening::formula_text_control(41), "C > 0");
  const SeriesSource empty(run.dir.str() + "/none/", "1001");
  EXPECT_EQ(screening::check_fins_available(c, empty), "");
  c.set_text(screening::formula_text_control(41), "C > 0 AND FY(NP) > 0");
  EXPECT_EQ(screening::check_fins_available(c, empty), screening::kNoFinsMessage);
  EXPECT_EQ(screening::check_fins_available(c, run.ctx.source), "");
}

}  // namespace
}  // namespace lp::test
