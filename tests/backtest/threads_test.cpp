// The worker threads change nothing a user can see: screens, the rankings' summary and
// backtests run as real processes with --threads 1, 2 and 3 print and write the same bytes,
// on sample markets with new listings, delistings, splits and days without trading. And a
// parallel backtest stops when cancelled, with nothing screened after the day it stopped on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "backtest/screen_backtest.h"
#include "common/parallel.h"
#include "common/settings.h"
#include "sample-market/sample_market.h"
#include "screening/controls.h"
#include "screening/criteria/criterion.h"
#include "screening/screening_session.h"
#include "support/fixtures.h"
#include "support/process.h"

namespace lp::test {
namespace {

namespace fs = std::filesystem;

std::string bytes_of(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Market {
  Market(int codes, int years, unsigned seed, const char* end) : end_date(end) {
    write_cp932(folders.app_folder + "settei.txt", "EOF,0\r\n");
    sample::Options o;
    o.codes = codes;
    o.years = years;
    o.end_date = end;
    o.seed = seed;
    o.db_folder = folders.db_folder;
    ok = sample::generate(o, error, summary);
  }
  ProcessResult cli(std::vector<std::string> args, int threads) const {
    args.insert(args.begin(), LP_CLI_PATH);
    args.insert(args.end(), {"--documents", dir.str(), "--today", end_date, "--threads",
                             std::to_string(threads)});
    return run_process(args, dir.str());
  }
  TempDir dir;
  AppFolders folders = read_settei_sub(dir.str(), dir.str());
  std::string end_date;
  sample::Summary summary;
  std::string error;
  bool ok = false;
};

// Periods and bounds that keep most stocks, so that every criterion works on a long list.
const std::vector<std::string> kWide = {"yasune1_kikan_cmb=120",
                                        "yasune1_kikan_txt=120",
                                        "yasune2_kikan_cmb=120",
                                        "yasune2_ageritsu2_txt=100000",
                                        "nehaba1_kikan_cmb=120",
                                        "nehaba1_ageritsu1_txt=0",
                                        "nehaba1_ageritsu2_txt=100",
                                        "nehaba2_kikan_cmb=60",
                                        "nehaba2_ageritsu1_txt=0",
                                        "nehaba2_ageritsu2_txt=100",
                                        "nehaba3_nehabaritsu1_txt=0",
                                        "nehaba3_nehabaritsu2_txt=100000",
                                        "nehaba3_m_chk=1",
                                        "zenjituhi1_txt(0)=-100",
                                        "std_dev1_cmb=25",
                                        "dev1_txt(0)=-100",
                                        "dev1_txt(1)=100",
                                        "rsi1_kikan_cmb=14",
                                        "rsi1_max_txt=100",
                                        "semi1_min_txt=-1",
                                        "kairi3_min_txt=-100",
                                        "kairi3_max_txt=100000",
                                        "kabukamin=1",
                                        "kabukamax=100000"};

std::vector<std::string> with_wide(std::vector<std::string> args) {
  for (const std::string& v : kWide) args.insert(args.end(), {"--set", v});
  return args;
}

// What one run shows and leaves: its output, then each file it writes.
std::string outcome(const Market& m, const std::vector<std::string>& args, int threads,
                    const std::vector<fs::path>& files) {
  for (const fs::path& f : files) fs::remove_all(f);
  const ProcessResult r = m.cli(args, threads);
  std::string all = "status " + std::to_string(r.status) + "\n" + r.out + "\n--\n" + r.err;
  for (const fs::path& f : files) all += "\n== " + f.filename().string() + "\n" + bytes_of(f);
  return all;
}

TEST(WorkerThreads, EveryOutputIsTheSameWithOneWorkerOrMany) {
  const Market markets[] = {{300, 2, 3, "20250613"}, {160, 3, 11, "20241227"}};
  for (const Market& m : markets) {
    ASSERT_TRUE(m.ok) << m.error;
    // The market has what makes loads differ from stock to stock.
    ASSERT_FALSE(m.summary.listed_inside.empty());
    ASSERT_FALSE(m.summary.delisted_inside.empty());
    ASSERT_FALSE(m.summary.split.empty());
    ASSERT_FALSE(m.summary.illiquid.empty());
    const fs::path user = m.folders.user_folder;
    std::vector<fs::path> sel;
    for (const char* f : {"sel0_out.csv", "sel2.csv", "sel6.csv", "sel8.csv", "sel10.csv",
                          "sel13.csv", "sel18.csv", "sel40.csv", "sel41.csv", "sel42.csv"})
      sel.push_back(user / f);
    const fs::path out = user / "bt-threads";
    const fs::path account = user / "bt-threads-account";
    const struct {
      const char* what;
      std::vector<std::string> args;
      std::vector<fs::path> files;
    } runs[] = {
        {"the criteria that keep most stocks, and formula rows",
         with_wide({"screen", "--criteria", "2,3,4,5,6,7,9,10,12,13", "--formula",
                    "DAYS() >= 61 AND C > MA(C,25)", "--formula", "RSI(14) <= 70", "--show",
                    "MAX(H,20)"}),
         sel},
        {"the crosses", with_wide({"screen", "--criteria", "8"}), sel},
        {"the long-term crosses", with_wide({"screen", "--criteria", "18,40"}), sel},
        {"a screen as of a past day",
         with_wide({"screen", "--criteria", "3,9,12", "--as-of",
                    m.summary.end_date.substr(0, 4) + "0115"}),
         sel},
        {"the rankings' summary rebuilt",
         {"rank", "1"},
         {fs::path(m.folders.db_folder) / "initdata1.csv"}},
        {"a backtest",
         with_wide({"backtest", "--criteria", "1,8,10", "--from",
                    m.summary.end_date.substr(0, 4) + "0101", "--to", m.summary.end_date, "--every",
                    "3", "--hold", "5", "--out", out.string()}),
         {out / "trades.csv", out / "summary.csv", out / "equity.csv"}},
        {"an account backtest (the formula pass over each stock's history on the workers)",
         {"backtest", "--formula", "C > MA(C,5) AND V > 0", "--from",
          m.summary.end_date.substr(0, 4) + "0101", "--to", m.summary.end_date, "--capital",
          "3000000", "--max-positions", "5", "--rank", "C / REF(C,5)", "--stop", "8", "--trail",
          "10", "--exit", "C < MA(C,25)", "--commission", "0.1%,min=100", "--out",
          account.string()},
         {account / "trades.csv", account / "stats.txt", account / "monthly.csv",
          account / "equity.csv"}},
    };
    for (const auto& run : runs) {
      const std::string one = outcome(m, run.args, 1, run.files);
      EXPECT_EQ(one.rfind("status 0", 0), 0u) << run.what << "\n" << one;
      // Long enough to tell: every run keeps, ranks or trades a number of stocks.
      EXPECT_GT(std::count(one.begin(), one.end(), '\n'), 20) << run.what << "\n" << one;
      for (int threads : {2, 3}) {
        EXPECT_EQ(outcome(m, run.args, threads, run.files), one)
            << run.what << " with " << threads << " threads";
      }
    }
  }
}

TEST(WorkerThreads, ACancelledParallelBacktestStopsWhereItWasCancelled) {
  const Market m(120, 1, 5, "20250613");
  ASSERT_TRUE(m.ok) << m.error;
  set_worker_count(2);
  backtest::Job job;
  job.platform.documents_folder = m.dir.str();
  job.platform.today = [] { return std::string("20250613"); };
  job.controls = screening::ControlSet::with_builtins();
  for (const screening::RunEntry& e : screening::run_table())
    job.controls.set_checked(screening::indexed("pr_chk", e.number),
                             e.number == 1 || e.number == 10);
  job.controls.set_text("kabukamin", "1");
  job.controls.set_text("kabukamax", "100000");
  job.params = {"20250101", "20250613", 1, 5};
  job.out_dir = (fs::path(m.folders.user_folder) / "bt-cancel").string();
  std::vector<int> seen;
  job.progress = [&](int i, int n) {
    seen.push_back(i);
    return i < 7;  // the user cancels as the seventh day comes up
  };
  const backtest::JobOutcome out = backtest::run_job(job);
  set_worker_count(0);
  EXPECT_TRUE(out.result.cancelled);
  EXPECT_TRUE(out.error.empty()) << out.error;
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_FALSE(fs::exists(job.out_dir));
  EXPECT_TRUE(out.result.trades.empty() ||
              out.result.trades.back().signal_date < out.result.signal_days.at(6));
}

}  // namespace
}  // namespace lp::test
