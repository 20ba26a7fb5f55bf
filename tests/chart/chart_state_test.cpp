#include "chart/chart_state.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "pricedb/formats.h"
#include "support/fixtures.h"

namespace lp::chart {
namespace {

using lp::test::TempDir;
using lp::test::write_cp932;

ChartPrefs read_prefs(const std::string& text) {
  TempDir dir;
  write_cp932(dir.path() / "init.txt", text);
  ChartPrefs prefs = chart_defaults();
  int yields = 0;
  EXPECT_TRUE(read_chart_prefs(dir.file("init.txt"), prefs, [&] { ++yields; }));
  EXPECT_GT(yields, 0);
  return prefs;
}

TEST(ChartPrefs, ListsSwitchesAndInitialTexts) {
  const ChartPrefs p = read_prefs(
      "sel_kabuka_chk,ON\r\n"
      "期間,CLEAR\r\n期間,0\r\n期間,250\r\n期間,abc\r\n期間_初期値, 120 \r\n"
      "足,abc\r\n"
      "MA1,CLEAR\r\nMA1,5\r\nMA1, 13 \r\nMA1_初期値,13\r\n"
      "ローソク表示,OFF\r\n出来高表示,maybe\r\nRSI表示,ON\r\nσバンド表示,ON\r\nMA差表示,ON\r\n"
      "比率目盛表示,ON\r\nσバンド,CLEAR\r\nσバンド,-3\r\nσバンド,2.5\r\n"
      "コード, 7203 \r\n"
      "EOF,\r\nRSI,99\r\n");
  EXPECT_EQ(p.period.items, std::vector<std::string>{"250"});
  EXPECT_EQ(p.period.text, "120");
  EXPECT_EQ(p.bar_unit.items, (std::vector<std::string>{"日足", "週足", "月足", "abc"}));
  EXPECT_EQ(p.ma1.items, (std::vector<std::string>{"5", "13"}));
  EXPECT_EQ(p.ma1.text, "13");
  EXPECT_EQ(p.band_period.items, std::vector<std::string>{"2.5"});
  EXPECT_FALSE(p.candles);
  EXPECT_TRUE(p.volume);  // neither ON nor OFF: unchanged
  EXPECT_TRUE(p.rsi);
  EXPECT_TRUE(p.bands);
  EXPECT_TRUE(p.alg1);
  EXPECT_TRUE(p.ratio);
  EXPECT_EQ(p.code, "7203");
  // Nothing after "EOF" is read.
  EXPECT_EQ(p.rsi_period.items, chart_defaults().rsi_period.items);

  // The added indicators: switches and their numbers joined by '/'; a wrong count, a zero or a
  // number beyond 5000 keeps the defaults.
  const ChartPrefs q = read_prefs(
      "MACD表示,ON\r\nMACD,5/35/5\r\n一目均衡表表示,ON\r\n一目均衡表,7/22/44\r\n"
      "RCI,5/10/15\r\nストキャスティクス,14/0/3\r\n出来高MA,5001\r\nボリンジャーバンド, 25 \r\n");
  EXPECT_TRUE(q.indicators.macd);
  EXPECT_TRUE(q.indicators.ichimoku);
  EXPECT_FALSE(q.indicators.rci);
  EXPECT_EQ(q.params.macd_fast, 5);
  EXPECT_EQ(q.params.macd_slow, 35);
  EXPECT_EQ(q.params.macd_signal, 5);
  EXPECT_EQ(q.params.span_b, 44);
  EXPECT_EQ(q.params.rci_short, 9);
  EXPECT_EQ(q.params.rci_long, 26);
  EXPECT_EQ(q.params.stoch_d, 3);
  EXPECT_EQ(q.params.vma_period, 25);
  EXPECT_EQ(q.params.bb_period, 25);

  ChartPrefs missing = chart_defaults();
  EXPECT_FALSE(read_chart_prefs("/nonexistent/init.txt", missing));
  EXPECT_EQ(missing.period.text, "250");
}

// The template shipped next to the program sets every chart box to the window's defaults, so
// a misspelt key there would show here.
TEST(ChartPrefs, ShippedTemplateSetsEveryChartBox) {
  const ChartPrefs want = chart_defaults();
  ChartPrefs p;
  p.candles = !want.candles;
  p.volume = !want.volume;
  p.ratio = !want.ratio;
  p.alg1 = !want.alg1;
  p.ma = !want.ma;
  p.rsi = !want.rsi;
  p.bands = !want.bands;
  const auto shipped = std::filesystem::canonical("/proc/self/exe").parent_path() / "init.txt";
  ASSERT_TRUE(read_chart_prefs(shipped.string(), p));
  EXPECT_EQ(std::vector<bool>({p.candles, p.volume, p.ratio, p.alg1, p.ma, p.rsi, p.bands}),
            std::vector<bool>(
                {want.candles, want.volume, want.ratio, want.alg1, want.ma, want.rsi, want.bands}));
  for (ComboPrefs ChartPrefs::*c :
       {&ChartPrefs::period, &ChartPrefs::ma1, &ChartPrefs::ma2, &ChartPrefs::rsi_period,
        &ChartPrefs::band_period, &ChartPrefs::bar_unit}) {
    EXPECT_EQ((p.*c).items, (want.*c).items);
    EXPECT_EQ((p.*c).text, (want.*c).text);
  }
}

TEST(CodeAndPeriodBoxes, CodeValidityAndPeriodClamp) {
  const std::pair<const char*, bool> codes[] = {
      {"130", false}, {"1305", true},   {"1000", false}, {"10000", false}, {"1001", true},
      {"9999", true}, {" 1301 ", true}, {"abcd", false}, {"", false},      {"１３０１", false},
      {"130A", true}, {"285A", true},   {"130a", false}, {"A130", false},  {"0A30", false},
      {"130A0", false}};
  for (const auto& [text, valid] : codes) EXPECT_EQ(is_valid_code_text(text), valid) << text;
  const std::pair<const char*, std::optional<std::string>> periods[] = {{"0", "1"},
                                                                        {"-5", "1"},
                                                                        {"", "1"},
                                                                        {"9999", "5000"},
                                                                        {"1", std::nullopt},
                                                                        {"250", std::nullopt},
                                                                        {"5000", std::nullopt}};
  for (const auto& [text, shown] : periods) EXPECT_EQ(clamp_period_text(text), shown) << text;
}

TEST(CodeHistory, BackForwardAndANewCodeInBetween) {
  CodeHistory h;
  // Every code shown is loaded again, as the code box's change redraws.
  auto show = [&](std::optional<std::string> code) {
    if (code) h.loaded(*code);
    return code.value_or("");
  };
  h.loaded("A");
  EXPECT_FALSE(h.can_back());
  h.loaded("B");
  h.loaded("C");
  EXPECT_EQ(show(h.back()), "B");
  EXPECT_EQ(show(h.back()), "A");
  EXPECT_FALSE(h.can_back());
  EXPECT_EQ(show(h.forward()), "B");
  h.loaded("D");
  EXPECT_EQ(h.back_codes(), (std::deque<std::string>{"D", "B", "A"}));
  EXPECT_EQ(show(h.forward()), "C");
  EXPECT_FALSE(h.can_forward());
  EXPECT_EQ(h.back_codes(), (std::deque<std::string>{"C", "D", "B", "A"}));

  // At most 100 entries: the oldest go.
  for (int i = 0; i < 150; ++i) h.loaded(std::to_string(1000 + i));
  ASSERT_EQ(h.back_codes().size(), 100u);
  EXPECT_EQ(h.back_codes().back(), "1050");
}

TEST(Stepping, NextLowerAndHigherCodeWithWrapAround) {
  const std::vector<std::string> codes = {"1301", "1332", "7203", "9984"};
  const std::array<const char*, 3> cases[] = {// current, "DW", "UP"
                                              {"1301", "9984", "1332"},
                                              {"9984", "7203", "1301"},
                                              {"5000", "1332", "7203"},
                                              {"1001", "9984", "1301"},
                                              {"9999", "9984", "1301"}};
  for (const auto& [current, down, up] : cases) {
    EXPECT_EQ(step_code(codes, current, StepDirection::kDown), down) << current;
    EXPECT_EQ(step_code(codes, current, StepDirection::kUp), up) << current;
  }
  EXPECT_EQ(step_code({}, "1301", StepDirection::kUp), "");
  // Codes with letters sit between the digits as text orders them.
  const std::vector<std::string> mixed = {"1301", "130A", "1311", "285A"};
  EXPECT_EQ(step_code(mixed, "130A", StepDirection::kDown), "1301");
  EXPECT_EQ(step_code(mixed, "130A", StepDirection::kUp), "1311");
  EXPECT_EQ(step_code(mixed, "1301", StepDirection::kUp), "130A");
  EXPECT_EQ(step_code(mixed, "285A", StepDirection::kUp), "1301");
}

TEST(Stepping, YearFromCode1301AndItsCodeFiles) {
  TempDir dir;
  const std::string db = dir.str() + "/db/";
  EXPECT_FALSE(stepping_year(db, "20250105").has_value());
  // Last year holds 1301; this year does not yet.
  write_cp932(series_file_path(db, 2024, "1301"), "1301,x,極洋,x,20241230,0\r\n");
  for (const char* name : {"7203.csv", "9984.csv", "abc.csv", "1332.txt", "12345.csv", "130A.csv",
                           "130a.csv"}) {
    write_cp932(dir.path() / "db/2024/data_m" / name, "x");
  }
  write_cp932(series_file_path(db, 2021, "1301"), "1301,x,極洋,x,20211230,0\r\n");
  EXPECT_EQ(stepping_year(db, "20250105"), 2024);
  // Only this year and the two before it are looked at.
  EXPECT_FALSE(stepping_year(db, "20270105").has_value());
  EXPECT_EQ(code_files_of_year(db, 2024), (std::vector<std::string>{"1301", "130A", "7203", "9984"}));
  EXPECT_TRUE(code_files_of_year(db, 2023).empty());
}

}  // namespace
}  // namespace lp::chart
