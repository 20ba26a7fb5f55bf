// The account mode on the sample market: the formula pass gives exactly the picks of the screen
// run as of each day (splits known that day, results disclosed by then, gap days, listings and
// delistings), and the command writes the files of its contract.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "backtest/account_market.h"
#include "backtest/screen_backtest.h"
#include "common/settings.h"
#include "sample-market/sample_market.h"
#include "screening/controls.h"
#include "screening/criteria/criterion.h"
#include "screening/formula/formula_step.h"
#include "support/fixtures.h"
#include "support/process.h"

namespace lp::test {
namespace {

namespace fs = std::filesystem;

std::string text_of(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Market {
  Market() {
    write_cp932(folders.app_folder + "settei.txt", "EOF,0\r\n");
    sample::Options o;
    o.codes = 200;
    o.years = 2;
    o.end_date = "20250613";
    o.seed = 7;
    o.db_folder = folders.db_folder;
    ok = sample::generate(o, error, summary);
  }
  ProcessResult cli(std::vector<std::string> args) const {
    args.insert(args.begin(), LP_CLI_PATH);
    args.insert(args.end(), {"--documents", dir.str(), "--today", "20250613"});
    return run_process(args, dir.str());
  }
  TempDir dir;
  AppFolders folders = read_settei_sub(dir.str(), dir.str());
  sample::Summary summary;
  std::string error;
  bool ok = false;
};

TEST(AccountStore, TheFormulaPassPicksWhatTheScreenPicksAsOfEachDay) {
  const Market m;
  ASSERT_TRUE(m.ok) << m.error;
  ASSERT_FALSE(m.summary.split.empty());
  ASSERT_FALSE(m.summary.illiquid.empty());
  std::string error;
  std::shared_ptr<const MarketStore> store =
      MarketStore::load(m.folders.db_folder, m.folders.reference_code, error);
  ASSERT_TRUE(store) << error;
  // Price levels (a split changes them), a look-back over gap days, results figures.
  const char* formulas[] = {"C > MA(C,5) AND C < 900", "EMA(C,10) > REF(C,3) AND DAYS() > 30",
                            "PBR < 1.2 OR PER > 30"};
  for (const char* text : formulas) {
    SCOPED_TRACE(text);
    Platform platform;
    platform.documents_folder = m.dir.str();
    platform.today = [] { return std::string("20250613"); };
    screening::ScreeningSession session(platform, nullptr);
    session.load(false);
    screening::ControlSet& c = session.controls();
    for (int n = 1; n <= 45; ++n) c.set_checked(screening::indexed("pr_chk", n), n == 41);
    for (int i = 0; i < 6; ++i) c.set_checked(screening::indexed("shijyou_chk", i), true);
    c.set_text(screening::formula_text_control(41), text);
    const backtest::ScreenFn screen = backtest::session_screen(session, store);

    formula::Formula f;
    formula::FormulaError fe;
    ASSERT_TRUE(formula::Formula::compile(text, f, fe));
    const auto& cal = store->trading_dates();
    std::vector<int> days;
    for (int d = static_cast<int>(cal.size()) - 1; d > 0 && days.size() < 40; d -= 7)
      days.insert(days.begin(), d);
    const auto signals = backtest::formula_signals(*store, {f}, nullptr, days);
    int picked = 0;
    for (int d : days) {
      std::vector<backtest::Pick> picks;
      std::string why;
      ASSERT_TRUE(screen(cal[static_cast<std::size_t>(d)], picks, why)) << why;
      std::vector<std::string> want, got;
      for (const auto& p : picks) want.push_back(p.code);
      for (const auto& s : signals[static_cast<std::size_t>(d)]) got.push_back(s.code);
      std::sort(want.begin(), want.end());
      EXPECT_EQ(got, want) << cal[static_cast<std::size_t>(d)];
      picked += static_cast<int>(want.size());
    }
    EXPECT_GT(picked, 40);  // the comparison says something
  }
}

TEST(AccountStore, TheCommandWritesTheReportFiles) {
  const Market m;
  ASSERT_TRUE(m.ok) << m.error;
  const fs::path out = fs::path(m.folders.user_folder) / "bt-account";
  const ProcessResult r = m.cli({"backtest",
                                 "--formula",
                                 "V > 1.5 * MA(V,20)",
                                 "--from",
                                 "20250101",
                                 "--to",
                                 "20250613",
                                 "--capital",
                                 "3000000",
                                 "--max-positions",
                                 "10",
                                 "--rank",
                                 "PBR",
                                 "--rank-asc",
                                 "--stop",
                                 "8",
                                 "--target",
                                 "20",
                                 "--commission",
                                 "0.1%,min=100",
                                 "--slippage",
                                 "0.05",
                                 "--out",
                                 out.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("最大ドローダウン"), std::string::npos) << r.out;
  const std::string stats = "\n" + text_of(out / "stats.txt");
  for (const char* key :
       {"total_return=", "cagr=", "max_drawdown=", "max_drawdown_days=", "profit_factor=",
        "expectancy=", "win_rate=", "sharpe=", "sortino=", "calmar=", "exposure=", "trades=",
        "skipped_unit=", "skipped_limit=", "skipped_turnover=", "skipped_full="}) {
    EXPECT_NE(stats.find(std::string("\n") + key), std::string::npos) << key << "\n" << stats;
  }
  const std::string trades_line = "trades=";
  const std::size_t at = stats.find("\n" + trades_line);
  ASSERT_NE(at, std::string::npos);
  const int trades = std::stoi(stats.substr(at + 1 + trades_line.size()));
  EXPECT_GT(trades, 0);
  EXPECT_EQ(stats.find("warning=few_trades") != std::string::npos, trades < 30);
  EXPECT_EQ(r.err.find("取引数が30未満です") != std::string::npos, trades < 30);
  // CP932 files: their ASCII parts read as they are.
  const std::string monthly = text_of(out / "monthly.csv");
  EXPECT_NE(monthly.find("1,2,3,4,5,6,7,8,9,10,11,12,"), std::string::npos);
  EXPECT_NE(monthly.find("\r\n2025,"), std::string::npos);
  const std::string trades_csv = text_of(out / "trades.csv");
  const bool reasons = trades_csv.find(",stop\r\n") != std::string::npos ||
                       trades_csv.find(",target\r\n") != std::string::npos ||
                       trades_csv.find(",end\r\n") != std::string::npos;
  EXPECT_TRUE(reasons) << trades_csv;
  EXPECT_TRUE(fs::exists(out / "equity.png"));

  // Every stock that trades is a signal; the reference code, an index, is never bought.
  const fs::path all = fs::path(m.folders.user_folder) / "bt-all";
  ASSERT_EQ(m.cli({"backtest", "--formula", "C > 0", "--from", "20250602", "--to", "20250613",
                   "--capital", "10000000000", "--max-positions", "1000", "--out", all.string()})
                .status,
            0);
  const std::string bought = text_of(all / "trades.csv");
  EXPECT_GT(std::count(bought.begin(), bought.end(), '\n'), 50);  // many stocks bought
  EXPECT_EQ(bought.find("," + m.folders.reference_code + ","), std::string::npos);

  // An account option without --capital, and a wrong commission, are refused.
  EXPECT_NE(m.cli({"backtest", "--formula", "C > 0", "--from", "20250101", "--to", "20250613",
                   "--stop", "8"})
                .status,
            0);
  EXPECT_NE(m.cli({"backtest", "--formula", "C > 0", "--from", "20250101", "--to", "20250613",
                   "--capital", "1000000", "--commission", "0.1%,min=x"})
                .status,
            0);
}

TEST(AccountStore, SettingsAsTypedBecomeTheAccountsOptions) {
  struct Row {
    const char* what;
    backtest::AccountSettings in;
    bool ok;
    int hold;
  };
  auto with = [](auto change) {
    backtest::AccountSettings s;
    s.account = true;
    change(s);
    return s;
  };
  const Row rows[] = {
      {"nothing but the capital: the hold of 20 days", with([](auto&) {}), true, 20},
      {"a stop and no hold: no hold", with([](auto& s) { s.stop = "8"; }), true, 0},
      {"a stop and a hold", with([](auto& s) { s.stop = "8", s.hold = "5"; }), true, 5},
      {"an exit formula alone", with([](auto& s) { s.exit = "C < MA(C,25)"; }), true, 0},
      {"hold 0 alone", with([](auto& s) { s.hold = "0"; }), true, 0},
      {"capital 0", with([](auto& s) { s.capital = "0"; }), false, 0},
      {"places 0", with([](auto& s) { s.positions = "0"; }), false, 0},
      {"places 2.5", with([](auto& s) { s.positions = "2.5"; }), false, 0},
      {"a negative stop", with([](auto& s) { s.stop = "-8"; }), false, 0},
      {"a stop of 100 %", with([](auto& s) { s.stop = "100"; }), false, 0},
      {"a bad rank formula", with([](auto& s) { s.rank = "C / ("; }), false, 0},
      {"a bad exit formula", with([](auto& s) { s.exit = "MA(C)"; }), false, 0},
      // Read along one stock's history, where the day's other stocks are unknown.
      {"an industry median in the rank", with([](auto& s) { s.rank = "PER / SMED(PER)"; }), false,
       0},
      {"an industry in the exit", with([](auto& s) { s.exit = "S33 = 3650"; }), false, 0},
      {"a bad commission", with([](auto& s) { s.commission = "1%,max"; }), false, 0},
  };
  for (const Row& r : rows) {
    backtest::AccountOptions o;
    std::string error;
    EXPECT_EQ(backtest::account_options_of(r.in, o, error), r.ok) << r.what << ": " << error;
    if (r.ok) {
      EXPECT_EQ(o.params.hold, r.hold) << r.what;
    } else {
      EXPECT_FALSE(error.empty()) << r.what;
    }
  }
  // Kept with a saved screen and read back, the settings are the same.
  backtest::AccountSettings s = with([](auto& x) {
    x.rank = "PBR", x.rank_asc = true, x.stop = "8", x.target = "20", x.trail = "10",
    x.exit = "C < MA(C,25)", x.turnover = "100000000", x.commission = "0.1%,min=100",
    x.slippage = "0.05", x.hold = "0", x.positions = "7", x.capital = "5000000";
  });
  const backtest::AccountSettings back = backtest::settings_from_marks(backtest::settings_marks(s));
  EXPECT_EQ(backtest::settings_marks(back), backtest::settings_marks(s));
  EXPECT_TRUE(back.account && back.rank_asc);
}

}  // namespace
}  // namespace lp::test
