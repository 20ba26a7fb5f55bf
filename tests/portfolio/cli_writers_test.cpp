// lumenpick-cli's portfolio commands run as real processes: concurrent writers, the named
// options of portfolio-add, the plain-number report and looks that must not write.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file_lock.h"
#include "portfolio/portfolio_model.h"
#include "portfolio_fixture.h"
#include "support/process.h"

namespace lp::portfolio {
namespace {

struct CliMarket {
  test::TempDir dir;
  std::string app = dir.str() + "/nordhaven/lumenpick/";
  std::string db = app + "kabuka_db/";
  std::string user = app + "user/";
  CliMarket() {
    test::write_reference(db);
    test::write_stock(db, "1301", "極洋", {100, 100, 100, 100, 110});
  }
  std::string ptf(int n) const { return holdings_path(user, n); }
};

using CliRun = test::ProcessResult;

// Runs lumenpick-cli with `args` plus the market's documents folder and a fixed today.
CliRun run_cli(const CliMarket& m, std::vector<std::string> args) {
  args.insert(args.begin(), LP_CLI_PATH);
  args.insert(args.end(), {"--documents", m.dir.str(), "--today", "20240115"});
  return test::run_process(args, m.dir.str());
}

TEST(CliWriters, TwoProcessesAddingAtOnceLoseNoHolding) {
  CliMarket m;
  constexpr int kWriters = 2;
  constexpr int kAddsEach = 12;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Each writer process runs its own loop of lumenpick-cli calls.
      int failures = 0;
      for (int k = 0; k < kAddsEach; ++k) {
        const std::string shares = std::to_string((w + 1) * 1000 + k);
        const CliRun r = run_cli(m, {"portfolio-add", "0", "1301", "--date", "20240105", "--shares",
                                     shares, "--price", "100"});
        if (r.status != 0) ++failures;
      }
      ::_exit(failures);
    }
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "adds that failed in one writer";
  }
  const LoadResult r = load_holdings(m.ptf(0), false);
  ASSERT_EQ(r.status, LoadStatus::kLoaded);
  ASSERT_EQ(r.holdings.size(), static_cast<std::size_t>(kWriters * kAddsEach));
  std::vector<std::string> shares;
  for (const Holding& h : r.holdings) shares.push_back(h.shares);
  std::sort(shares.begin(), shares.end());
  for (int w = 0; w < kWriters; ++w) {
    for (int k = 0; k < kAddsEach; ++k) {
      const std::string s = std::to_string((w + 1) * 1000 + k);
      EXPECT_TRUE(std::binary_search(shares.begin(), shares.end(), s)) << s;
    }
  }
}

TEST(CliWriters, AWriterKeptOutOfTheLockFailsWithAMessage) {
  CliMarket m;
  std::filesystem::create_directories(m.user);
  std::string error;
  auto held = FileLock::acquire(m.ptf(0), std::chrono::milliseconds(0), error);
  ASSERT_TRUE(held) << error;
  const auto start = std::chrono::steady_clock::now();
  const CliRun r = run_cli(
      m, {"portfolio-add", "0", "1301", "--date", "20240105", "--shares", "1", "--price", "1"});
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("ptf0.csv"), std::string::npos) << r.err;
  EXPECT_GE(waited, std::chrono::seconds(4));  // it waited for the other writer first
  EXPECT_EQ(test::file_bytes(m.ptf(0)).find("1301"), std::string::npos);
}

TEST(CliPortfolio, AddTakesNamedOptionsAndTheOldOrderWithAWarning) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    const char* stored;  // the holding line written, or "" for none
    const char* err;     // a text standard error must contain
  } cases[] = {
      {"named, any order",
       {"0", "1301", "--price", "512.5", "--shares", "100", "--date", "2024/01/05"},
       0,
       "1301,512.5,100,20240105,,-",
       ""},
      {"positional: DATE PRICE SHARES",
       {"0", "1301", "20240105", "512.5", "100"},
       0,
       "1301,512.5,100,20240105,,-",
       "警告"},
      {"a named option missing",
       {"0", "1301", "--date", "20240105", "--shares", "100"},
       1,
       "",
       "--price"},
      {"bad date",
       {"0", "1301", "--date", "2026-13-45", "--shares", "1", "--price", "1"},
       1,
       "",
       "取得日"},
      {"bad price",
       {"0", "1301", "--date", "20240105", "--shares", "1", "--price", "abc"},
       1,
       "",
       "取得株価"},
      {"zero shares",
       {"0", "1301", "--date", "20240105", "--shares", "0", "--price", "1"},
       1,
       "",
       "株数"},
      {"half a share",
       {"0", "1301", "--date", "20240105", "--shares", "0.5", "--price", "1"},
       1,
       "",
       "株数を再度入力してください。（1以上"},
      {"a price above the limit",
       {"0", "1301", "--date", "20240105", "--shares", "1", "--price", "1e9"},
       1,
       "",
       "100,000,000以下"},
      {"full-width code and shares",
       {"0", "１３０１", "--date", "20240105", "--shares", "１００", "--price", "512.5"},
       0,
       "1301,512.5,100,20240105,,-",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CliMarket m;
    std::vector<std::string> args = {"portfolio-add"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun r = run_cli(m, args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    const std::string file = test::file_bytes(m.ptf(0));
    if (*c.stored) {
      EXPECT_EQ(file, ",,,,,1\r\n" + std::string(c.stored) + "\r\n");
    } else {
      // A refusal writes nothing, not even an empty portfolio.
      EXPECT_FALSE(std::filesystem::exists(m.ptf(0))) << file;
    }
  }
}

TEST(CliPortfolio, ALookCreatesNothingAndRawPrintsPlainNumbers) {
  CliMarket m;
  CliRun r = run_cli(m, {"portfolio", "5"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(std::filesystem::exists(m.ptf(5)));
  EXPECT_FALSE(std::filesystem::exists(m.user));

  ASSERT_EQ(run_cli(m, {"portfolio-add", "1", "1301", "--date", "20240105", "--shares", "1500",
                        "--price", "1000"})
                .status,
            0);
  r = run_cli(m, {"portfolio", "1", "--raw"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Valued at 110, the day before at 100: no separators, decimals as they are.
  EXPECT_NE(r.out.find("1\t1301\t極洋\t20240105\t1500\t1000\t110\t-890\t1500000\t165000\t-1335000"
                       "\t-89\t9.090909090909"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("合計\t1\t1500000\t165000\t-1335000\t-89\n"), std::string::npos) << r.out;
  r = run_cli(m, {"portfolio", "1"});
  EXPECT_NE(r.out.find("1,500,000"), std::string::npos) << r.out;
}

TEST(CliPortfolio, ADamagedFileIsShownAndLeftAsItIs) {
  CliMarket m;
  const std::string bytes = ",,,,,2\r\n1301,500,100,20240105,,-,x\r\n1301,600,10,20240105,,-\r\n";
  test::write_bytes(m.ptf(0), bytes);
  CliRun r = run_cli(m, {"portfolio", "0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("2行目の項目数が7"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\t1301\t"), std::string::npos) << r.out;  // the readable holding
  r = run_cli(
      m, {"portfolio-add", "0", "1301", "--date", "20240105", "--shares", "1", "--price", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::file_bytes(m.ptf(0)), bytes);
}

}  // namespace
}  // namespace lp::portfolio
