// lumenpick-cli's ledger commands as real processes: the output keys scripts read, refusals that
// exit 2 and write nothing, and a year of trades in two accounts and NISA end to end.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "ledger_fixture.h"
#include "portfolio/portfolio_model.h"
#include "support/process.h"

namespace lp::ledger {
namespace {

test::ProcessResult cli(const test::LedgerMarket& m, std::vector<std::string> args) {
  args.insert(args.begin(), LP_CLI_PATH);
  args.insert(args.end(), {"--documents", m.dir.str(), "--today", "20241227"});
  return test::run_process(args, m.dir.str());
}

// The value of "key=" among the output's lines ("<none>" when absent).
std::string key(const std::string& out, const std::string& name) {
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
  }
  return "<none>";
}

TEST(LedgerCli, AYearInTwoAccountsAndNisa) {
  test::LedgerMarket m;
  const std::vector<std::vector<std::string>> adds = {
      {"--date", "20240104", "--kind", "buy", "--code", "1301", "--shares", "1000", "--price",
       "110", "--fee", "200", "--account", "tokutei"},
      {"--date", "20240301", "--kind", "sell", "--code", "1301", "--shares", "400", "--price",
       "110", "--fee", "100", "--account", "tokutei"},
      {"--date", "20240104", "--kind", "buy", "--code", "7203", "--shares", "100", "--price",
       "2000", "--account", "tokutei-nowh"},
      {"--date", "20240110", "--kind", "buy", "--code", "7203", "--shares", "1000", "--price",
       "2000", "--account", "nisa-growth"},
      {"--date", "20240628", "--kind", "dividend", "--code", "7203", "--amount", "30000",
       "--account", "nisa-growth"},
      {"--date", "20240628", "--kind", "dividend", "--code", "1301", "--amount", "6000",
       "--account", "tokutei"},
  };
  for (const auto& a : adds) {
    std::vector<std::string> args = {"ledger-add", "1"};
    args.insert(args.end(), a.begin(), a.end());
    const auto r = cli(m, args);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  // The dividend's tax worked out at 20.315 %.
  const auto r = cli(m, {"ledger-add", "1", "--date", "20240701", "--kind", "dividend", "--code",
                         "1301", "--amount", "1000", "--account", "ippan"});
  EXPECT_EQ(key(r.out, "tax"), "203");

  const auto pnl = cli(m, {"pnl", "1", "--year", "2024"});
  ASSERT_EQ(pnl.status, 0) << pnl.err;
  // 1000 at 110 + 200 = 110,200 (110.2 -> 111 a share); 400 sold at 110 less 100: -500.
  EXPECT_NE(pnl.out.find("holding,1301,tokutei,600,111,66000,-600\n"), std::string::npos)
      << pnl.out;
  EXPECT_NE(pnl.out.find("holding,7203,tokutei-nowh,100,2000,200000,0\n"), std::string::npos);
  EXPECT_NE(pnl.out.find("holding,7203,nisa-growth,1000,2000,2000000,0\n"), std::string::npos);
  EXPECT_EQ(key(pnl.out, "realised"), "-500");
  EXPECT_EQ(key(pnl.out, "dividends"), "37000");
  // 特定(源泉あり): its loss of 500 set against its 6,000 of dividends -> 20.315 % of 5,500 =
  // 842 + 275; 一般: 203 withheld on 1,000.
  EXPECT_EQ(key(pnl.out, "tax_withheld"), std::to_string(842 + 275 + 203));
  EXPECT_EQ(key(pnl.out, "taxable_net"), "6500");
  EXPECT_EQ(key(pnl.out, "nisa_growth_used"), "2000000");
  EXPECT_EQ(key(pnl.out, "nisa_tsumitate_used"), "0");
  EXPECT_EQ(key(pnl.out, "nisa_lifetime_used"), "2000000");
  const auto nisa_only = cli(m, {"pnl", "1", "--year", "2024", "--account", "nisa-growth"});
  EXPECT_EQ(key(nisa_only.out, "dividends"), "30000");
  EXPECT_EQ(nisa_only.out.find("tokutei"), std::string::npos) << nisa_only.out;

  const auto perf = cli(m, {"perf", "1", "--from", "20240101", "--to", "20241227"});
  ASSERT_EQ(perf.status, 0) << perf.err;
  // The index went from 2,000 (2023-12-29) to 2,200 (2024-01-04) and stayed.
  EXPECT_EQ(key(perf.out, "benchmark"), "10.0000");
  EXPECT_NE(key(perf.out, "twr"), "<none>");
  EXPECT_EQ(key(perf.out, "mode"), "holdings");

  const auto listed = cli(m, {"ledger", "1"});
  EXPECT_NE(listed.out.find("2,20240104,buy,7203,100,2000,200000,0,0,tokutei-nowh\n"),
            std::string::npos)
      << listed.out;
}

TEST(LedgerCli, RefusalsExitTwoAndWriteNothing) {
  test::LedgerMarket m;
  ASSERT_EQ(cli(m, {"ledger-add", "0", "--date", "20240104", "--kind", "buy", "--code", "1301",
                    "--shares", "100", "--price", "110", "--account", "tokutei"})
                .status,
            0);
  const std::string before = test::read_bytes(m.ledger_file(0));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--date", "20240110", "--kind", "sell", "--code", "1301", "--shares", "101", "--price",
        "110", "--account", "tokutei"},
       "101株 が保有株数 100株"},
      {{"--date", "20240105", "--kind", "buy", "--code", "1301", "--shares", "1", "--price", "110",
        "--account", "tokutei"},
       "価格がありません"},
      {{"--date", "20240110", "--kind", "buy", "--code", "1301", "--shares", "1", "--account",
        "tokutei"},
       "--price"},
      {{"--date", "20240110", "--kind", "buy", "--code", "1301", "--shares", "1", "--price", "1"},
       "--account"},
      {{"--date", "20240110", "--kind", "buy", "--code", "7203", "--shares", "1201", "--price",
        "2000", "--account", "nisa-growth"},
       "残り 2,400,000円"},
  };
  for (const auto& [a, says] : cases) {
    std::vector<std::string> args = {"ledger-add", "0"};
    args.insert(args.end(), a.begin(), a.end());
    const auto r = cli(m, args);
    EXPECT_EQ(r.status, 2) << says;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_EQ(test::read_bytes(m.ledger_file(0)), before);
  }
  // The holdings list is never touched; importing it does not write it either.
  EXPECT_FALSE(std::filesystem::exists(portfolio::holdings_path(m.user, 0)));
  EXPECT_EQ(cli(m, {"ledger-from-portfolio", "0"}).status, 2);
  EXPECT_FALSE(std::filesystem::exists(portfolio::holdings_path(m.user, 0)));
}

// Two processes adding at once: each change is made under the file's lock on the file as it is
// then, so none is lost.
TEST(LedgerCli, TwoWritersAtOnceLoseNoEntry) {
  test::LedgerMarket m;
  constexpr int kEach = 6;
  std::vector<pid_t> writers;
  for (int w = 0; w < 2; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int k = 0; k < kEach; ++k) {
        const std::string amount = std::to_string((w + 1) * 1000 + k);
        failures += cli(m, {"ledger-add", "4", "--date", "20240104", "--kind", "deposit",
                            "--amount", amount, "--account", "ippan"})
                        .status != 0;
      }
      ::_exit(failures);
    }
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(load_ledger(m.ledger_file(4)).transactions.size(), 2u * kEach);
}

}  // namespace
}  // namespace lp::ledger
