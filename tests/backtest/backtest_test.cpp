// The backtest's trade rules on a market small enough to compute every figure by hand.
#include "backtest/backtest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

#include "common/csv.h"
#include "common/numbers.h"
#include "support/fixtures.h"

namespace lp::backtest {
namespace {

// Ten trading days 20240104..20240117 (weekdays). Bars are (open, close) per day index;
// a missing index is a day without a record.
struct Bars {
  std::string code, name;
  std::map<int, std::pair<double, double>> days;
};

const std::vector<std::string> kDates = {"20240104", "20240105", "20240108", "20240109",
                                         "20240110", "20240111", "20240112", "20240115",
                                         "20240116", "20240117"};

struct HandMarket {
  test::TempDir dir;
  std::string db = dir.file("db") + "/";
  std::shared_ptr<MarketStore> store;

  HandMarket() {
    std::vector<Bars> stocks = {
        // Reference code: open 1000 + 10 i, close 1005 + 10 i.
        {"1001", "基準", {}},
        // A: open 100 + 2 i, close 101 + 2 i.
        {"2001", "上昇", {}},
        // B: no record on day 2 (the entry day of a signal on day 1).
        {"2002", "休み", {{0, {80, 80}}, {1, {80, 80}}, {3, {81, 81}}, {4, {82, 82}}}},
        // C: last record on day 3 (delisted before its exit day 4).
        {"2003", "上場廃止", {{0, {50, 50}}, {1, {50, 51}}, {2, {50, 52}}, {3, {52, 53}}}},
        // S: a 2-for-1 split effective on day 3.
        {"2004", "分割", {}},
    };
    for (int i = 0; i < 10; ++i) {
      stocks[0].days[i] = {1000 + 10 * i, 1005 + 10 * i};
      stocks[1].days[i] = {100 + 2 * i, 101 + 2 * i};
      stocks[4].days[i] =
          i < 3 ? std::make_pair(200.0, 200.0) : std::make_pair(100.0, 100.0 + 5 * (i - 2));
    }
    for (const Bars& b : stocks) {
      std::vector<test::Day> days;
      for (const auto& [i, oc] : b.days) {
        days.push_back({kDates[static_cast<std::size_t>(i)], oc.first,
                        std::max(oc.first, oc.second), std::min(oc.first, oc.second), oc.second,
                        1000});
      }
      test::write_series_file(db, 2024, b.code, b.name, days);
    }
    test::write_correction_file(db, 2024, "2004", {{kDates[3], 1, 2}});
    std::string error;
    store = MarketStore::load(db, "1001", error);
  }
};

ScreenFn picks_on(std::map<std::string, std::vector<std::string>> by_day) {
  return [by_day](const std::string& day, std::vector<Pick>& picks, std::string&) {
    auto it = by_day.find(day);
    if (it != by_day.end()) {
      for (const auto& c : it->second) picks.push_back({c, "名" + c});
    }
    return true;
  };
}

TEST(Backtest, TradesReturnsAndCountsAsComputedByHand) {
  HandMarket m;
  ASSERT_TRUE(m.store);
  Params p{kDates[1], kDates[9], 1, 3};
  // Day 1: A, B (not entered), C (delisted), S (split). Day 7: A again, exit day 10 lies
  // beyond the data (open). Day 9 (the last day): no entry day at all (open).
  const Result r = run_backtest(*m.store, p,
                                picks_on({{kDates[1], {"2001", "2002", "2003", "2004"}},
                                          {kDates[7], {"2001"}},
                                          {kDates[9], {"2001"}}}));
  ASSERT_TRUE(r.error.empty());
  EXPECT_EQ(r.signal_days.size(), 9u);
  EXPECT_EQ(r.signal_count, 6);
  EXPECT_EQ(r.not_entered, 1);
  EXPECT_EQ(r.open, 2);
  ASSERT_EQ(r.trades.size(), 3u);

  struct Want {
    std::string code;
    double entry, exit, pct;
  };
  const double bench = (1045.0 / 1020.0 - 1) * 100;  // entry day 2 open, exit day 4 close
  const std::vector<Want> want = {
      {"2001", 104, 109, (109.0 / 104 - 1) * 100},  // day 2 open, day 4 close
      {"2003", 50, 53, 6},                          // last close on day 3
      {"2004", 100, 110, 10},                       // 200 halved by the split inside the trade
  };
  for (std::size_t i = 0; i < want.size(); ++i) {
    const Trade& t = r.trades[i];
    EXPECT_EQ(t.code, want[i].code);
    EXPECT_EQ(t.signal_date, kDates[1]);
    EXPECT_EQ(t.entry_date, kDates[2]);
    EXPECT_EQ(t.exit_date, kDates[4]);
    EXPECT_DOUBLE_EQ(t.entry_price, want[i].entry) << t.code;
    EXPECT_DOUBLE_EQ(t.exit_price, want[i].exit) << t.code;
    EXPECT_NEAR(t.return_pct, want[i].pct, 1e-9) << t.code;
    ASSERT_TRUE(t.has_benchmark);
    EXPECT_NEAR(t.benchmark_pct, bench, 1e-9);
  }
  EXPECT_EQ(r.trades[1].last_close_date, kDates[3]);

  const Stats& all = r.summary.at(0);
  const double a = want[0].pct, c = 6, s = 10, mean = (a + c + s) / 3;
  EXPECT_EQ(all.trades, 3);
  EXPECT_NEAR(all.mean, mean, 1e-9);
  EXPECT_NEAR(all.median, 6, 1e-9);
  EXPECT_NEAR(all.win_rate, 100, 1e-9);
  EXPECT_NEAR(all.mean_excess, mean - bench, 1e-9);
  EXPECT_NEAR(
      all.stdev,
      std::sqrt(((a - mean) * (a - mean) + (c - mean) * (c - mean) + (s - mean) * (s - mean)) / 2),
      1e-9);
  EXPECT_NEAR(all.best, 10, 1e-9);
  EXPECT_NEAR(all.worst, a, 1e-9);
  ASSERT_EQ(r.summary.size(), 2u);  // all, 2024
  EXPECT_EQ(r.summary[1].period, "2024");
  EXPECT_EQ(r.summary[1].signal_days, 9);
}

TEST(Backtest, EquityCompoundsTheDailyMeanOfTheHeldTrades) {
  HandMarket m;
  ASSERT_TRUE(m.store);
  struct Case {
    std::vector<std::string> picks;
    double final_value, final_bench;
  };
  const double bench = 1045.0 / 1020.0;
  const std::vector<Case> cases = {
      // One trade: the curve ends at the trade's own return, split or not.
      {{"2001"}, kStartCapital * 109 / 104, kStartCapital * bench},
      {{"2004"}, kStartCapital * 1.10, kStartCapital * bench},
      {{"2003"}, kStartCapital * 1.06, kStartCapital * bench},
      // Two trades: each day's return is the mean of the two days' returns.
      {{"2001", "2004"},
       // S: bought at 200 (100 after the split), closes 200 (100), 105, 110.
       kStartCapital * (1 + ((105.0 / 104 - 1) + 0) / 2) * (1 + ((107.0 / 105 - 1) + 0.05) / 2) *
           (1 + ((109.0 / 107 - 1) + (110.0 / 105 - 1)) / 2),
       kStartCapital * bench},
  };
  for (const Case& c : cases) {
    const Result r =
        run_backtest(*m.store, {kDates[1], kDates[1], 1, 3}, picks_on({{kDates[1], c.picks}}));
    ASSERT_EQ(r.equity.size(), 4u);  // signal day 1 to exit day 4
    EXPECT_EQ(r.equity.front().date, kDates[1]);
    EXPECT_DOUBLE_EQ(r.equity.front().value, kStartCapital);  // nothing held on the signal day
    EXPECT_EQ(r.equity[1].holding, static_cast<int>(c.picks.size()));
    EXPECT_NEAR(r.equity.back().value, c.final_value, 1e-6) << c.picks.front();
    EXPECT_NEAR(r.equity.back().benchmark, c.final_bench, 1e-6);
  }
}

TEST(Backtest, SplitOnTheEntryOrExitDayAndEvenMedians) {
  HandMarket m;
  ASSERT_TRUE(m.store);
  const double a = (109.0 / 104 - 1) * 100;
  const struct {
    int signal;
    std::vector<std::string> picks;
    double entry, exit, median;
  } cases[] = {
      {0, {"2004"}, 100, 105, 5},   // exits on its split day: the open of 200 is halved
      {2, {"2004"}, 100, 115, 15},  // enters on its split day: the open is already halved
      {1, {"2001", "2004"}, 104, 109, (a + 10) / 2},  // even count: mean of the middle two
  };
  for (const auto& c : cases) {
    const std::string& day = kDates[static_cast<std::size_t>(c.signal)];
    const Result r = run_backtest(*m.store, {day, day, 1, 3}, picks_on({{day, c.picks}}));
    ASSERT_EQ(r.trades.size(), c.picks.size()) << day;
    EXPECT_DOUBLE_EQ(r.trades[0].entry_price, c.entry) << day;
    EXPECT_DOUBLE_EQ(r.trades[0].exit_price, c.exit) << day;
    EXPECT_NEAR(r.summary.at(0).median, c.median, 1e-9) << day;
  }
}

TEST(Backtest, AnEmptyScreenSaysSoWithoutMadeUpFigures) {
  HandMarket m;
  ASSERT_TRUE(m.store);
  const Result r = run_backtest(*m.store, {kDates[0], kDates[5], 2, 3}, picks_on({}));
  EXPECT_EQ(r.signal_days, (std::vector<std::string>{kDates[0], kDates[2], kDates[4]}));
  EXPECT_TRUE(r.trades.empty());
  const std::string text = summary_text(r);
  EXPECT_NE(text.find("全体,3,0,0,0,0,-,-,-,-,-,-,-"), std::string::npos) << text;
  EXPECT_EQ(text.find("nan"), std::string::npos);
  for (const EquityPoint& p : r.equity) EXPECT_EQ(p.value, kStartCapital);
}

TEST(Backtest, OutputFolderIsReplacedWholeOrNotAtAll) {
  HandMarket m;
  ASSERT_TRUE(m.store);
  const std::string dir = m.dir.file("user/backtest/screen-a-b") + "/";
  const ScreenFn screen = picks_on({{kDates[1], {"2001"}}});
  std::string error;
  const Result first = run_backtest(*m.store, {kDates[1], kDates[3], 1, 3}, screen);
  ASSERT_TRUE(write_outputs(first, dir, "png-1", error)) << error;
  test::write_bytes(dir + "stale.txt", "from an older run");
  const auto before = test::files_under(dir);

  // Cancelled at the second signal day: nothing is written, the old folder stays whole.
  const Result cancelled = run_backtest(*m.store, {kDates[1], kDates[3], 1, 3}, screen,
                                        [](int i, int) { return i < 2; });
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_EQ(test::files_under(dir), before);

  // A finished run replaces the folder as a whole (no file of the older run survives).
  ASSERT_TRUE(write_outputs(first, dir, "png-2", error)) << error;
  const auto after = test::files_under(dir);
  EXPECT_EQ(after.count("stale.txt"), 0u);
  EXPECT_EQ(after.at("equity.png"), "png-2");
  for (const char* f : {"trades.csv", "summary.csv", "equity.csv"}) EXPECT_EQ(after.count(f), 1u);
  EXPECT_NE(test::read_cp932(dir + "trades.csv").find("シグナル日,コード,銘柄,買付日"),
            std::string::npos);
  // A file of that name is not a folder to replace.
  test::write_bytes(m.dir.file("user/backtest/plain-file"), "mine");
  EXPECT_FALSE(write_outputs(first, m.dir.file("user/backtest/plain-file"), "png", error));
  EXPECT_EQ(test::read_bytes(m.dir.file("user/backtest/plain-file")), "mine");
  // No staging folder is left beside it.
  for (const auto& e : std::filesystem::directory_iterator(m.dir.file("user/backtest"))) {
    EXPECT_EQ(e.path().filename().string().front() == '.', false) << e.path();
  }
}

TEST(Backtest, OnlyAFolderABacktestMadeIsEverReplaced) {
  HandMarket m;
  ASSERT_TRUE(m.store);
  const Result r =
      run_backtest(*m.store, {kDates[1], kDates[3], 1, 3}, picks_on({{kDates[1], {"2001"}}}));
  namespace fs = std::filesystem;
  const fs::path outside = m.dir.file("outside");
  test::write_bytes(outside / "notes.txt", "mine");
  struct Case {
    const char* name;
    std::function<std::string()> make;  // the folder given as --out
    bool replaced;
  };
  const std::vector<Case> cases = {
      {"a user's own folder",
       [&] {
         test::write_bytes(m.dir.file("mine/notes.txt"), "notes");
         test::write_bytes(m.dir.file("mine/2023/q4.xlsx"), "xlsx");
         return m.dir.file("mine");
       },
       false},
      {"a year of the database", [&] { return m.db + "2024"; }, false},
      {"the database itself", [&] { return m.db; }, false},
      {"a folder holding the database", [&] { return m.dir.path().string(); }, false},
      {"a new folder inside the database", [&] { return m.db + "2024/bt"; }, false},
      {"a link to another folder",
       [&] {
         fs::create_directory_symlink(outside, m.dir.file("link"));
         return m.dir.file("link");
       },
       false},
      {"an empty folder",
       [&] {
         fs::create_directories(m.dir.file("empty"));
         return m.dir.file("empty");
       },
       true},
      {"an older run's folder without the mark",
       [&] {
         for (const char* f : {"trades.csv", "summary.csv", "equity.csv", "equity.png"})
           test::write_bytes(m.dir.file("older") + "/" + f, "old");
         return m.dir.file("older");
       },
       true},
      {"a new folder", [&] { return m.dir.file("fresh/run"); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = c.make();
    const auto before = test::files_under(m.dir.path());
    std::string error;
    EXPECT_EQ(write_outputs(r, dir, "png", error, m.db), c.replaced) << error;
    if (c.replaced) {
      EXPECT_EQ(test::files_under(dir).at("equity.png"), "png");
      // Marked now: the next run may replace it even with a file of the user's beside ours.
      test::write_bytes(dir + "/later.txt", "x");
      EXPECT_TRUE(write_outputs(r, dir, "png-2", error, m.db)) << error;
    } else {
      EXPECT_FALSE(error.empty());
      EXPECT_EQ(test::files_under(m.dir.path()), before);
    }
  }
}

}  // namespace
}  // namespace lp::backtest
