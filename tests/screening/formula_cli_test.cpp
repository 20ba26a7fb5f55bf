// lumenpick-cli's formula and saved-screen commands as real processes: formula-check, a screen
// saved with screen-save, listed by screens and run by screen --screen to the same output as
// the options themselves, and the export of its results.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "screening_fixture.h"
#include "support/process.h"

namespace lp::test {
namespace {

using CliRun = ProcessResult;

CliRun run_cli(const MiniMarket& m, std::vector<std::string> args) {
  args.insert(args.begin(), LP_CLI_PATH);
  args.insert(args.end(), {"--documents", m.dir.str(), "--today", m.dates.back()});
  return run_process(args, m.dir.str());
}

MiniMarket& trending_market(MiniMarket& m) {
  std::vector<double> up, down;
  for (int i = 0; i < 40; ++i) {
    up.push_back(100 + i);
    down.push_back(200 - i);
  }
  m.add({"1301", "東証1部", "上昇", up, 1000});
  m.add({"1332", "東証1部", "下降", down, 1000});
  m.write();
  return m;
}

TEST(FormulaCli, FormulaCheckPrintsLookbackOrThePositionedError) {
  MiniMarket m(5);
  const struct {
    const char* text;
    int status;
    const char* out;
    const char* err;
  } cases[] = {
      {"MA(C,25)[3] > C", 0, "lookback=28\nok\n", ""},
      {"ＲＳＩ（１４）＜３０", 0, "lookback=15\nok\n", ""},
      {"C > MA(C,25", 1, "", "lumenpick-cli: 12文字目: ')' がありません\n"},
      {"C >> 1", 1, "", "lumenpick-cli: 4文字目: '>' の前に数値または系列がありません\n"},
      {"WRSI(14) < 30 AND SSTD(C,20) > 0", 0, "lookback=20\nok\n", ""},
      // A price server's database holds no company results: said, with an exit code of its own.
      {"C > MA(C,5) AND PER < 15", 2, "",
       "lumenpick-cli: 決算データがありません: jquants-sync で取得してください\n"},
      {nullptr, 1, "",
       "lumenpick-cli: 1文字目: 式全体の計算が多すぎます（1銘柄あたり200万回まで）。"
       "期間を短くするか、同じ計算の繰り返しを減らしてください\n"},
  };
  std::string copies = "MA(MA(MA(C,125),125),125)";  // 37 of them: minutes of work per run
  for (int i = 1; i < 37; ++i) copies += "+MA(MA(MA(C,125),125),125)";
  copies += ">0";
  for (const auto& c : cases) {
    const CliRun r = run_cli(m, {"formula-check", c.text ? c.text : copies});
    EXPECT_EQ(r.status, c.status) << c.text;
    EXPECT_EQ(r.out, c.out) << c.text;
    EXPECT_EQ(r.err, c.err) << c.text;
  }
}

TEST(FormulaCli, SavedScreenRunsLikeItsOptions) {
  MiniMarket m(40);
  trending_market(m);
  const std::vector<std::string> options = {"--criteria",   "1",      "--formula",
                                            "C > MA(C,25)", "--show", "C/MA(C,25)*100-100"};
  std::vector<std::string> direct = {"screen"};
  direct.insert(direct.end(), options.begin(), options.end());
  const CliRun first = run_cli(m, direct);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out.substr(0, first.out.find("\n1301")),
            "1 2/2\n41 1/2\n1," + m.dates.back() +
                ",銘柄,式41,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ");

  std::vector<std::string> save = {"screen-save", "押し目"};
  save.insert(save.end(), options.begin(), options.end());
  EXPECT_EQ(run_cli(m, save).out, "saved=押し目\n");
  EXPECT_EQ(run_cli(m, {"screens"}).out, "押し目\n");
  const CliRun again = run_cli(m, {"screen", "--screen", "押し目"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, first.out);

  // Overrides go on top of the saved screen: a second formula takes row 42.
  const CliRun more = run_cli(m, {"screen", "--screen", "押し目", "--formula", "C < 0"});
  EXPECT_EQ(more.out.substr(0, more.out.find("\n0,")), "1 2/2\n41 1/2\n42 0/1");

  const CliRun exported =
      run_cli(m, {"results", "--export", m.dir.file("out.xlsx"), "--screen-name", "押し目"});
  EXPECT_EQ(exported.out, "exported=0\n");  // the last run kept nothing

  const struct {
    std::vector<std::string> args;
    const char* err;
  } refusals[] = {
      {{"screen-save", "a/b", "--criteria", "1"}, "保存条件の名前に「/」「\\」は使えません。"},
      {{"screen", "--screen", "ない"}, "screen: 保存条件「ない」がありません。"},
      {{"screen-save", "bad", "--formula", "C >"}, "式41の4文字目: 式が途中で終わっています"},
      {{"screen", "--formula", "1", "--formula", "1", "--formula", "1", "--formula", "1",
        "--formula", "1", "--formula", "1"},
       "screen: 式の行は五つまでです（41～45）"},
  };
  for (const auto& r : refusals) {
    const CliRun run = run_cli(m, r.args);
    EXPECT_EQ(run.status, 1) << r.args[1];
    EXPECT_EQ(run.err, std::string("lumenpick-cli: ") + r.err + "\n") << r.args[1];
  }
  EXPECT_EQ(run_cli(m, {"screens"}).out, "押し目\n");
}

TEST(FormulaCli, TextFromOutsideReachesTheTerminalWithoutItsControls) {
  MiniMarket m(5);
  m.write();
  // A file name that would retitle the terminal (OSC), clear it (C1 CSI) and reverse the text
  // after it: the messages about it name it in plain characters.
  const CliRun r = run_cli(m, {"import-csv", m.dir.file("a\x1b]0;t\x07\xc2\x9b"
                                                        "2J\xe2\x80\xae.csv")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("a]0;t2J.csv: "), std::string::npos) << r.err;
  for (const char* control : {"\x1b", "\x07", "\xc2\x9b", "\xe2\x80\xae"}) {
    EXPECT_EQ(r.err.find(control), std::string::npos);
  }
}

TEST(FormulaCli, IndicatorsAgainstHandComputedValues) {
  // Closes oldest first with a day without trading: the traded changes are
  // -5 +7 -4 +2 0 +4 +4 +2.
  MiniMarket m(10);
  m.add({"1301", "東証1部", "波", {100, 95, 102, kGap, 98, 100, 100, 104, 108, 110}, 1000});
  m.write();
  const struct {
    const char* show;
    const char* value;
  } cases[] = {
      // Gain 7/2 and loss 5/2 to start, then (avg + change) / 2 six times: 335/128 and 13/128.
      {"WRSI(2)", "96.2643678160919"},
      {"WRSI(8)", "67.8571428571429"},  // n + 1 days: the plain means, 19/8 against 9/8
      {"RSI(8)", "67.8571428571429"},
      {"RSI(2)", "100"},                  // +4 +2: no loss at all
      {"SSTD(C,4)", "4.43471156521669"},  // 110 108 104 100: sqrt(59 / 3)
  };
  for (const auto& c : cases) {
    const CliRun r = run_cli(m, {"screen", "--criteria", "1", "--formula", "1", "--show", c.show});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n1301,東証1部,波," + std::string(c.value) + ",110,"), std::string::npos)
        << c.show << "\n"
        << r.out;
  }
}

TEST(FormulaCli, CaptionsWithCommasAndQuotesKeepTheResultList) {
  MiniMarket m(40);
  trending_market(m);
  const struct {
    const char* name;
    const char* caption;  // as sel0_out.csv carries it
  } cases[] = {
      {"Sample Holdings, Inc.", "Sample Holdings， Inc."},
      {"\"押し目", "押し目"},
      {"a,b\"c\r\nd", "a，bcd"},
  };
  for (const auto& c : cases) {
    const CliRun r = run_cli(m, {"screen", "--criteria", "1", "--formula", "C > MA(C,25)", "--set",
                                 std::string("shiki_name_txt(41)=") + c.name});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n1," + m.dates.back() + ",銘柄," + c.caption + ",始値,"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\n1301,東証1部,上昇,-,"), std::string::npos) << r.out;
    const CliRun shown = run_cli(m, {"results"});
    EXPECT_NE(shown.out.find("件数 1\tページ 0/0"), std::string::npos) << shown.out;
  }
}

}  // namespace
}  // namespace lp::test
