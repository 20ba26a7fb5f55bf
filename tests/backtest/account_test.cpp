// The account backtest on markets made by hand: every figure of one small run computed by
// hand, and the statistics of a single-stock run against an independent computation.
#include "backtest/account.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>

namespace lp::backtest {
namespace {

class HandMarket : public AccountMarket {
 public:
  std::vector<std::string> dates;
  std::map<std::string, std::map<int, DayBar>> bars;
  std::map<std::pair<std::string, int>, double> splits;
  std::string reference;
  std::map<std::pair<std::string, int>, bool> exits;

  const std::vector<std::string>& days() const override { return dates; }
  bool bar(const std::string& code, int day, DayBar& out) const override {
    auto s = bars.find(code);
    if (s == bars.end()) return false;
    auto d = s->second.find(day);
    if (d == s->second.end()) return false;
    out = d->second;
    return true;
  }
  double split_on(const std::string& code, int day) const override {
    auto it = splits.find({code, day});
    return it == splits.end() ? 1.0 : it->second;
  }
  int last_record(const std::string& code) const override {
    auto s = bars.find(code);
    return s == bars.end() || s->second.empty() ? -1 : s->second.rbegin()->first;
  }
  bool exit_signal(const std::string& code, int day) const override {
    return exits.count({code, day}) > 0;
  }
  std::string reference_code() const override { return reference; }

  void add(const std::string& code, int day, double o, double h, double l, double c,
           double v = 100000) {
    bars[code][day] = {o, h, l, c, v};
  }
  void flat(const std::string& code, int from, int to, double price) {
    for (int d = from; d <= to; ++d) add(code, d, price, price, price, price);
  }
};

Signal sig(const std::string& code, double rank) {
  return {code, "銘柄" + code, true, rank};
}

// Eight days over a month end. Capital 1,000,000, two places, stop 10 %, trailing 12 %,
// commission 0.1 % with a minimum of 400 yen.
//   day 0 signals, ranked 2222 (9) = 3333 (9) > 5555 (7) > 1111 (5) > 4444 (1):
//     2222 opens day 1 at 560 = 480 + 80, its limit-up: refused (limit);
//     3333 at 3000: 500,000 / 300,000 = 1 unit, 100 shares, fee 300 -> the minimum 400;
//     5555 at 6000: a unit (600,000) costs more than the share (unit);
//     1111 at 400: 12 units, 1200 shares, 480,000, fee 480; 4444: no place left (full).
//   day 3: 3333 gaps to 2600 below its stop 2700: sold at the open, -40,800 yen.
//   day 3 signal 6666: day 4's open value 478,720 + 1200 x 500 = 1,078,720, share 539,360:
//     5 units by the share, but 500,500 yen exceeds the cash 478,720: 4 units, fee 400.
//   day 5: 1111's trailing level 500 x 0.88 = 440 (above its stop 360) is reached by the low
//     430: sold at 440, +46,992 yen. 6666 trades only at 700, its limit-down (base 1000,
//     width 300): not sold although below its stop.
//   day 6: 6666 opens at 650 below its stop 900: sold at the open, -140,800 yen.
struct HandRun {
  HandMarket m;
  AccountParams p;
  std::vector<std::vector<Signal>> signals;

  HandRun() {
    m.dates = {"20240129", "20240130", "20240131", "20240201",
               "20240202", "20240205", "20240206", "20240207"};
    m.reference = "1001";
    for (int d = 0; d < 8; ++d) {
      const double c = 2000 + 10 * d;
      m.add("1001", d, c, c, c, c);
    }
    m.add("3333", 0, 2990, 3010, 2980, 3000);
    m.add("3333", 1, 3000, 3050, 2950, 3000);
    m.add("3333", 2, 3010, 3040, 2980, 3020);
    m.add("3333", 3, 2600, 2650, 2550, 2600);
    m.flat("3333", 4, 7, 2600);
    m.add("2222", 0, 480, 480, 480, 480);
    m.add("2222", 1, 560, 560, 560, 560);
    m.flat("2222", 2, 7, 560);
    m.flat("5555", 0, 7, 6000);
    m.flat("4444", 0, 7, 100);
    m.add("1111", 0, 395, 400, 390, 398);
    m.add("1111", 1, 400, 410, 395, 405);
    m.add("1111", 2, 405, 440, 404, 440);
    m.add("1111", 3, 442, 505, 440, 500);
    m.add("1111", 4, 500, 500, 480, 490);
    m.add("1111", 5, 470, 475, 430, 435);
    m.flat("1111", 6, 7, 435);
    m.flat("6666", 0, 3, 1000);
    m.add("6666", 4, 1000, 1010, 990, 1000);
    m.add("6666", 5, 700, 700, 700, 700);
    m.add("6666", 6, 650, 660, 640, 650);
    m.flat("6666", 7, 7, 650);
    p.capital = 1000000;
    p.max_positions = 2;
    p.hold = 0;
    p.stop = 10;
    p.trail = 12;
    p.commission = {0.1, 400, 0, 0};
    signals.resize(8);
    signals[0] = {sig("1111", 5), sig("4444", 1), sig("5555", 7), sig("3333", 9), sig("2222", 9)};
    signals[3] = {sig("6666", 0)};
  }
  AccountResult run() const { return simulate_account(m, 0, 7, signals, p); }
};

TEST(AccountRun, EveryFigureOfAHandMadeRun) {
  HandRun h;
  const AccountResult r = h.run();
  struct Want {
    const char* code;
    const char* entry;
    const char* exit;
    long long shares;
    double entry_price, exit_price, entry_fee, exit_fee, profit;
    ExitReason reason;
  };
  const Want want[] = {
      {"3333", "20240130", "20240201", 100, 3000, 2600, 400, 400, -40800, ExitReason::stop},
      {"1111", "20240130", "20240205", 1200, 400, 440, 480, 528, 46992, ExitReason::trail},
      {"6666", "20240202", "20240206", 400, 1000, 650, 400, 400, -140800, ExitReason::stop},
  };
  ASSERT_EQ(r.trades.size(), std::size(want));
  for (std::size_t i = 0; i < std::size(want); ++i) {
    const AccountTrade& t = r.trades[i];
    SCOPED_TRACE(want[i].code);
    EXPECT_EQ(t.code, want[i].code);
    EXPECT_EQ(t.entry_date, want[i].entry);
    EXPECT_EQ(t.exit_date, want[i].exit);
    EXPECT_EQ(t.shares, want[i].shares);
    EXPECT_DOUBLE_EQ(t.entry_price, want[i].entry_price);
    EXPECT_DOUBLE_EQ(t.exit_price, want[i].exit_price);
    EXPECT_DOUBLE_EQ(t.entry_fee, want[i].entry_fee);
    EXPECT_DOUBLE_EQ(t.exit_fee, want[i].exit_fee);
    EXPECT_NEAR(t.profit, want[i].profit, 1e-6);
    EXPECT_EQ(t.reason, want[i].reason);
  }
  EXPECT_NEAR(r.trades[0].return_pct, -40800.0 / 300400 * 100, 1e-9);
  EXPECT_EQ(r.trades[0].signal_date, "20240129");
  EXPECT_EQ(r.trades[2].signal_date, "20240201");
  EXPECT_EQ(r.skipped.limit, 1);
  EXPECT_EQ(r.skipped.unit, 1);
  EXPECT_EQ(r.skipped.full, 1);
  EXPECT_EQ(r.skipped.turnover + r.skipped.held + r.skipped.no_price, 0);
  EXPECT_EQ(r.signal_count, 6);

  const double values[] = {1000000, 1005120, 1049120, 1078720, 1066320, 885792, 865392, 865392};
  const int held[] = {0, 2, 2, 1, 2, 1, 0, 0};
  ASSERT_EQ(r.days.size(), 8u);
  for (std::size_t d = 0; d < 8; ++d) {
    EXPECT_NEAR(r.days[d].value, values[d], 1e-6) << d;
    EXPECT_EQ(r.days[d].positions, held[d]) << d;
  }
  EXPECT_NEAR(r.days[7].benchmark, 1000000.0 * 2070 / 2000, 1e-6);

  const AccountStats s = account_stats(r);
  EXPECT_NEAR(s.total_return, -13.4608, 1e-9);
  EXPECT_NEAR(s.max_drawdown, (865392.0 / 1078720 - 1) * 100, 1e-9);
  EXPECT_NEAR(s.max_drawdown_yen, -213328, 1e-6);
  EXPECT_EQ(s.drawdown_start, "20240201");
  EXPECT_EQ(s.drawdown_bottom, "20240206");
  EXPECT_EQ(s.drawdown_recovery, "");
  EXPECT_EQ(s.max_drawdown_days, 6);  // 1 Feb to the last day, 7 Feb, not recovered
  ASSERT_TRUE(s.profit_factor);
  EXPECT_NEAR(*s.profit_factor, 46992.0 / 181600, 1e-12);
  EXPECT_NEAR(s.win_rate, 100.0 / 3, 1e-9);
  EXPECT_NEAR(s.expectancy, -134608.0 / 3, 1e-6);
  EXPECT_NEAR(s.avg_win, 46992, 1e-6);
  EXPECT_NEAR(s.avg_loss, -90800, 1e-6);
  EXPECT_NEAR(s.exposure, 75, 1e-9);  // days 1 to 6 of 8
  EXPECT_TRUE(s.few_trades);

  const std::vector<MonthRow> months = monthly_returns(r);
  ASSERT_EQ(months.size(), 1u);
  EXPECT_NEAR(*months[0].months[0], 4.912, 1e-9);
  EXPECT_NEAR(*months[0].months[1], (865392.0 / 1049120 - 1) * 100, 1e-9);
  EXPECT_FALSE(months[0].months[2]);
  EXPECT_NEAR(*months[0].year_return, -13.4608, 1e-9);
  EXPECT_EQ(monthly_text(months),
            "年,1,2,3,4,5,6,7,8,9,10,11,12,年間\n2024,4.91,-17.51,,,,,,,,,,,-13.46\n");

  const std::string stats = stats_text(r, s);
  for (const char* line :
       {"total_return=-13.4608\n", "max_drawdown=-19.7760\n", "max_drawdown_days=6\n",
        "profit_factor=0.2588\n", "win_rate=33.3333\n", "exposure=75.0000\n", "trades=3\n",
        "skipped_unit=1\n", "skipped_limit=1\n", "skipped_turnover=0\n", "skipped_full=1\n",
        "warning=few_trades\n"}) {
    EXPECT_NE(stats.find(line), std::string::npos) << line << stats;
  }
}

// Each rule on its own, against the same run with one setting changed.
TEST(AccountRun, EachRuleChangesWhatItShould) {
  {
    // A minimum turnover above every stock's: nothing bought.
    HandRun h;
    h.p.min_turnover = 1e12;
    const AccountResult r = h.run();
    EXPECT_TRUE(r.trades.empty());
    EXPECT_EQ(r.skipped.turnover, 6);
  }
  {
    // Lowest rank first: 4444 (1) and 1111 (5) take the places; the three others and
    // day 3's 6666 find none.
    HandRun h;
    h.p.rank_asc = true;
    const AccountResult r = h.run();
    ASSERT_FALSE(r.trades.empty());
    EXPECT_EQ(r.skipped.full, 4);
    EXPECT_EQ(r.trades.back().code, "4444");
    EXPECT_EQ(r.trades.back().reason, ExitReason::end);
  }
  {
    // A 5 % target: 1111's 420 is above day 1's high (410) and inside day 2's range (high
    // 440, open 405): sold at 420 on day 2.
    HandRun h;
    h.p.target = 5;
    const AccountResult r = h.run();
    ASSERT_FALSE(r.trades.empty());
    EXPECT_EQ(r.trades[0].code, "1111");
    EXPECT_EQ(r.trades[0].exit_date, "20240131");
    EXPECT_DOUBLE_EQ(r.trades[0].exit_price, 420);
    EXPECT_EQ(r.trades[0].reason, ExitReason::target);
  }
  {
    // Hold 2: sold at the close of the entry's second day; slippage 1 % on both sides.
    HandRun h;
    h.p.hold = 2;
    h.p.stop = h.p.trail = 0;
    h.p.slippage = 1;
    const AccountResult r = h.run();
    ASSERT_GE(r.trades.size(), 2u);
    EXPECT_EQ(r.trades[0].exit_date, "20240131");
    EXPECT_EQ(r.trades[0].reason, ExitReason::hold);
    EXPECT_DOUBLE_EQ(r.trades[0].entry_price, 3030);         // 3000 + 1 %
    EXPECT_NEAR(r.trades[0].exit_price, 3020 * 0.99, 1e-9);  // 3020 - 1 %
  }
  {
    // An exit formula true at 3333's close of day 1: sold at day 2's open.
    HandRun h;
    h.m.exits[{"3333", 1}] = true;
    const AccountResult r = h.run();
    ASSERT_FALSE(r.trades.empty());
    EXPECT_EQ(r.trades[0].code, "3333");
    EXPECT_EQ(r.trades[0].exit_date, "20240131");
    EXPECT_DOUBLE_EQ(r.trades[0].exit_price, 3010);
    EXPECT_EQ(r.trades[0].reason, ExitReason::exit);
  }
  {
    // A 1:2 split of 1111 on day 2: twice the shares at half the price, the same value.
    HandRun h;
    for (int d = 2; d < 8; ++d) {
      DayBar& b = h.m.bars["1111"][d];
      b.open /= 2, b.high /= 2, b.low /= 2, b.close /= 2;
    }
    h.m.splits[{"1111", 2}] = 0.5;
    const AccountResult r = h.run();
    const AccountResult plain = HandRun().run();
    for (std::size_t d = 0; d < 8; ++d) EXPECT_NEAR(r.days[d].value, plain.days[d].value, 1e-6);
    ASSERT_EQ(r.trades.size(), 3u);
    EXPECT_EQ(r.trades[1].shares, 1200);
    EXPECT_NEAR(r.trades[1].exit_price, 440, 1e-9);  // in the entry's terms
  }
}

TEST(AccountRun, CommissionForms) {
  struct Row {
    const char* text;
    double amount, fee;
  };
  const Row rows[] = {
      {"0.1%,min=100,max=1000", 50000, 100},     // 50 -> the minimum
      {"0.1%,min=100,max=1000", 300000, 300},    // the percentage
      {"0.1%,min=100,max=1000", 2000000, 1000},  // 2000 -> the maximum
      {"0.1%", 123456, 123},                     // rounded down
      {"500", 1000000, 500},
      {"0", 1000000, 0},
  };
  for (const Row& r : rows) {
    Commission c;
    std::string error;
    ASSERT_TRUE(parse_commission(r.text, c, error)) << r.text;
    EXPECT_DOUBLE_EQ(commission_of(c, r.amount), r.fee) << r.text << " " << r.amount;
  }
  for (const char* bad : {"", "abc", "0.1%,min=x", "0.1%,foo=1", "-5", "0.1%,min=500,max=100"}) {
    Commission c;
    std::string error;
    EXPECT_FALSE(parse_commission(bad, c, error)) << bad;
  }
}

TEST(AccountRun, PriceLimitBands) {
  // Base price -> limit width, at each side of a few band edges of the exchange's table.
  const std::pair<double, double> rows[] = {
      {99, 30},      {100, 50},      {499, 80},      {500, 100},   {999, 150},
      {1000, 300},   {2999, 500},    {3000, 700},    {9999, 1500}, {10000, 3000},
      {49999, 7000}, {50000, 10000}, {1e8, 10000000}};
  for (const auto& [base, width] : rows) EXPECT_EQ(price_limit_width(base), width) << base;
}

// A single stock bought whenever flat, held 5 days, 80 days of prices: the statistics
// against an independent computation of the same trades (account_stats_reference.py beside
// this file, following empyrical's definitions of the Sharpe and Sortino ratios, the annual
// return and the maximum drawdown; the profit factor is the gross profit over the gross loss
// in yen, as trading platforms define it — backtesting.py sums the trades' % returns instead):
//   sharpe = mean(r) / std(r, ddof=1) * sqrt(252); sortino = mean(r) * 252 /
//   (sqrt(mean(min(r, 0)^2)) * sqrt(252)); cagr = (V_end / V_0)^(252 / len(r)) - 1;
//   max_drawdown = min(V / cummax(V) - 1); profit_factor = gains / losses.
TEST(AccountRun, SingleStockStatisticsMatchAnIndependentComputation) {
  HandMarket m;
  for (int t = 0; t < 80; ++t) {
    m.dates.push_back(std::to_string(20230101 + (t / 20) * 100 + t % 20 + 3));
    const double c = std::round(1000 + 100 * std::sin(t / 5.0) + 3 * t);
    const double o = std::round(c - 5 * std::cos(t));
    m.add("7203", t, o, std::max(o, c) + 8, std::min(o, c) - 8, c);
  }
  std::vector<std::vector<Signal>> signals(80, std::vector<Signal>{sig("7203", 0)});
  AccountParams p;
  p.capital = 1000000;
  p.max_positions = 1;
  p.hold = 5;
  const AccountResult r = simulate_account(m, 0, 79, signals, p);
  const AccountStats s = account_stats(r);
  EXPECT_EQ(s.trades, 16);
  EXPECT_NEAR(s.total_return, 15.57, 1e-9);
  EXPECT_NEAR(s.cagr, 58.6601849752, 1e-8);
  EXPECT_NEAR(s.sharpe, 2.806587498830, 1e-9);
  EXPECT_NEAR(s.sortino, 4.878178018599, 1e-9);
  EXPECT_NEAR(s.max_drawdown, -10.760599650510, 1e-9);
  ASSERT_TRUE(s.profit_factor);
  EXPECT_NEAR(*s.profit_factor, 1.550955414013, 1e-9);
  EXPECT_NEAR(s.calmar, 5.451386249879, 1e-8);
  const double profits[] = {71100,  13500,  -49500, -56700, 0,     67500, 81900,  27900,
                            -41400, -59400, -12600, 54000,  80100, 42300, -22500, -40500};
  ASSERT_EQ(r.trades.size(), std::size(profits));
  for (std::size_t i = 0; i < std::size(profits); ++i)
    EXPECT_NEAR(r.trades[i].profit, profits[i], 1e-6) << i;
}

}  // namespace
}  // namespace lp::backtest
