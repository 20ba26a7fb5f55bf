// The account backtest: a starting capital, at most K positions sized to an equal share of the
// account and rounded down to whole trading units, the best-ranked signals first, exits by
// hold, stop, target, trailing stop or an exit formula, the exchange's daily price limits,
// a minimum turnover, commission and slippage. Qt-free: the market, the signals and the exit
// formula come in through AccountMarket, so a test can hand it a market made by hand.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lp::backtest {

// One stock's record of one day, as traded that day (not adjusted).
struct DayBar {
  double open = 0, high = 0, low = 0, close = 0, volume = 0;
};

// The market the account trades in. Days are indexes into days(), oldest first.
class AccountMarket {
 public:
  virtual ~AccountMarket() = default;
  // The trading calendar (yyyymmdd), oldest first.
  virtual const std::vector<std::string>& days() const = 0;
  // The stock's record of day `day`; false when it has none.
  virtual bool bar(const std::string& code, int day, DayBar& out) const = 0;
  // The factor of the share corrections dated `day` (prices before it are multiplied by it:
  // 0.5 for a 1:2 split); 1 when none.
  virtual double split_on(const std::string& code, int day) const = 0;
  // The last day the stock has a record; a stock whose records end before the calendar does
  // was delisted there. -1 when it has none.
  virtual int last_record(const std::string& code) const = 0;
  // The exit formula holds for the stock at the close of `day` (as of that day). False
  // without an exit formula.
  virtual bool exit_signal(const std::string& code, int day) const = 0;
  // The reference code (the benchmark); empty for none.
  virtual std::string reference_code() const = 0;
};

// A stock the screen kept on a signal day, with its rank formula's value as of that day.
struct Signal {
  std::string code, name;
  bool ranked = false;  // the rank formula could be evaluated
  double rank = 0;
};

// Commission per trade: a percentage of the amount with a minimum and a maximum, or a flat
// fee, or nothing.
struct Commission {
  double percent = 0;  // of the amount
  double minimum = 0;  // yen, 0: none
  double maximum = 0;  // yen, 0: none
  double flat = 0;     // yen per trade (when percent is 0)
};
// "0.1%,min=100,max=1000", "0.1%", "500" or "0"; false and a message otherwise.
bool parse_commission(std::string_view text, Commission& out, std::string& error);
// The fee of one buy or sell of `amount` yen, whole yen (the percentage rounded down).
double commission_of(const Commission& c, double amount);

// The exchange's daily price limit (制限値幅) for a base price (the previous close).
double price_limit_width(double base);

struct AccountParams {
  double capital = 3000000;  // yen
  int max_positions = 10;
  int lot = 100;          // shares per trading unit
  int hold = 20;          // sell at the close of the hold-th trading day (entry day = 1); 0: never
  double stop = 0;        // % below the entry price; 0: none
  double target = 0;      // % above the entry price; 0: none
  double trail = 0;       // % below the highest close since entry; 0: none
  bool rank_asc = false;  // lowest rank value first
  double min_turnover = 0;  // yen, mean of close x volume over the 20 days up to the signal
  Commission commission;
  double slippage = 0;  // % per side
};

// How a trade ended (the 決済理由 column).
enum class ExitReason { hold, stop, target, trail, exit, end };
const char* exit_reason_name(ExitReason r);

struct AccountTrade {
  std::string signal_date, code, name, entry_date, exit_date;
  long long shares = 0;    // shares bought (before any split inside the trade)
  double entry_price = 0;  // paid per share, slippage included
  double exit_price = 0;   // received per share (in the entry's terms when a split came)
  double entry_fee = 0, exit_fee = 0;
  double profit = 0;      // yen, after both fees and slippage
  double return_pct = 0;  // profit / (amount paid + entry fee)
  ExitReason reason = ExitReason::end;
  int days_held = 0;  // trading days from the entry day to the exit day, both counted
};

struct AccountDay {
  std::string date;
  double value = 0;  // cash + positions at the close
  double cash = 0;
  int positions = 0;     // held at the close
  bool exposed = false;  // a position was held at some time of the day
  double benchmark = 0;  // the reference code bought with the capital at the first day's close
  bool has_benchmark = false;
};

// Signals refused, by reason.
struct Skipped {
  int unit = 0;      // a trading unit costs more than the equal share (or the cash)
  int limit = 0;     // the entry day opened at the limit-up price
  int turnover = 0;  // the mean turnover below the minimum
  int full = 0;      // no free place left
  int held = 0;      // the stock is held already
  int no_price = 0;  // no record (or no open) on the entry day
};

struct AccountResult {
  AccountParams params;
  std::vector<AccountTrade> trades;  // in exit order
  std::vector<AccountDay> days;      // every trading day of the period
  Skipped skipped;
  int signal_count = 0;  // signals of the days whose next day lies in the period
  double bought = 0;     // yen bought in all (for the turnover)
};

// Runs the account over days first..last of the market. by_day[d] are the signals of day d
// (entered at day d + 1's open); the vector may be shorter than the calendar.
AccountResult simulate_account(const AccountMarket& market, int first, int last,
                               const std::vector<std::vector<Signal>>& by_day,
                               const AccountParams& params);

// The report's figures. Percentages are in %.
struct AccountStats {
  double start_capital = 0, end_value = 0;
  double total_return = 0, cagr = 0;
  double max_drawdown = 0, max_drawdown_yen = 0;  // 0 or negative; yen: peak - bottom
  std::string drawdown_start, drawdown_bottom, drawdown_recovery;  // recovery "" if not yet
  int max_drawdown_days = 0;  // calendar days from the peak to the recovery (or the last day)
  std::optional<double> profit_factor;  // none without a losing trade
  double expectancy = 0, expectancy_pct = 0, win_rate = 0, avg_win = 0, avg_loss = 0;
  double sharpe = 0, sortino = 0, calmar = 0;
  double exposure = 0, turnover = 0;
  int trades = 0;
  double benchmark_return = 0, benchmark_max_drawdown = 0;
  bool has_benchmark = false;
  bool few_trades = false;  // fewer than kFewTrades trades
};
inline constexpr int kFewTrades = 30;
inline constexpr double kTradingDaysPerYear = 252;
inline constexpr const char* kFewTradesWarning = "取引数が30未満です";

AccountStats account_stats(const AccountResult& result);

// The drawdown (0 or negative, as a fraction) of each value below its running peak.
std::vector<double> drawdowns(const std::vector<double>& values);

// One year of month returns (%), from month-end values; empty where the period has no day.
struct MonthRow {
  int year = 0;
  std::array<std::optional<double>, 12> months;
  std::optional<double> year_return;
};
std::vector<MonthRow> monthly_returns(const AccountResult& result);

// stats.txt: key=value lines, the keys of the CLI contract first.
std::string stats_text(const AccountResult& result, const AccountStats& stats);
// monthly.csv as UTF-8 lines: 年,1,...,12,年間 then one row per year.
std::string monthly_text(const std::vector<MonthRow>& rows);
// The report as lines for people (the window and the command print it).
std::string report_text(const AccountResult& result, const AccountStats& stats);

}  // namespace lp::backtest
