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
  };
  for (const auto& c : cases) {
    const CliRun r = run_cli(m, {"formula-check", c.text});
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

}  // namespace
}  // namespace lp::test
