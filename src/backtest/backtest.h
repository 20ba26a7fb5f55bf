// The backtest of a screen: the screen run as of each signal day, each stock it keeps bought
// at the next day's open and sold at the close of the hold's last day, measured against the
// reference code over the same days.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backtest/account.h"
#include "pricedb/market_store.h"

namespace lp::backtest {

struct Params {
  std::string from, to;  // yyyymmdd, both included
  int every = 1;         // every K-th trading day is a signal day
  int hold = 20;         // trading days held, the entry day counting as day 1
};

// A stock the screen kept on a signal day.
struct Pick {
  std::string code, name;
};

struct Trade {
  std::string signal_date, code, name, entry_date, exit_date;
  double entry_price = 0;       // the entry day's open, rescaled by the splits inside the trade
  double exit_price = 0;        // the last close on or before the exit day
  std::string last_close_date;  // the day of that close (earlier than exit_date: stopped trading)
  double return_pct = 0;
  bool has_benchmark = false;
  double benchmark_pct = 0;
};

// The figures of one group of signal days (all of them, or one calendar year).
struct Stats {
  std::string period;  // "全体" or the year
  int signal_days = 0, signal_count = 0, trades = 0, not_entered = 0, open = 0;
  // Undefined (no trade) figures are not shown; `trades` then says why.
  double mean = 0, median = 0, win_rate = 0, mean_excess = 0, stdev = 0, best = 0, worst = 0;
  bool has_excess = false;
};

struct EquityPoint {
  std::string date;
  int holding = 0;   // trades open that day
  double value = 0;  // 1,000,000 yen at the start
  double benchmark = 0;
};

struct Result {
  Params params;
  std::vector<std::string> signal_days;
  std::vector<Trade> trades;   // closed trades, in signal-day then screen order
  std::vector<Stats> summary;  // [0] all signal days, then one per calendar year
  std::vector<EquityPoint> equity;
  int signal_count = 0, not_entered = 0, open = 0;
  bool cancelled = false;
  std::string error;
};

constexpr double kStartCapital = 1000000.0;

// The signal days: the store's trading days from..to, every K-th one starting with the first.
std::vector<std::string> signal_days(const MarketStore& store, const Params& params);

// Runs the screen as of one day; false (and a message) when it could not run.
using ScreenFn =
    std::function<bool(const std::string& day, std::vector<Pick>& picks, std::string& error)>;
// Called before signal day i (1-based) of n; returning false cancels the run.
using ProgressFn = std::function<bool(int i, int n)>;

Result run_backtest(const MarketStore& store, const Params& params, const ScreenFn& screen,
                    const ProgressFn& progress = {});
// The same with the signal days screened on worker threads, worker w calling screens[w]
// (each over state of its own); up to screens.size() workers. Trades, figures and the
// progress calls are those of one screen function.
Result run_backtest(const MarketStore& store, const Params& params,
                    const std::vector<ScreenFn>& screens, const ProgressFn& progress = {});

// The summary table as CSV lines (UTF-8, "\n"): the caption line, then one line per Stats.
std::string summary_text(const Result& result);

// Writes trades.csv, summary.csv, equity.csv (CP932) and equity.png (the given bytes) into
// `dir`, all or nothing: they are written into a hidden folder beside it first, which then
// takes the place of `dir`. False and a message when anything failed (`dir` then unchanged).
// Only a folder that a backtest wrote (it carries a mark), an empty one or a new one is replaced;
// a folder inside the price database `db_folder`, or holding it, never is.
bool write_outputs(const Result& result, const std::string& dir, const std::string& png_bytes,
                   std::string& error, const std::string& db_folder = {});
// The account mode's folder: trades.csv (with 株数 and 決済理由), summary.csv (the report),
// equity.csv (with the drawdowns), monthly.csv, stats.txt and equity.png, all or nothing.
bool write_account_outputs(const AccountResult& result, const AccountStats& stats,
                           const std::string& dir, const std::string& png_bytes,
                           std::string& error, const std::string& db_folder = {});
// trades.csv of the account mode as UTF-8 lines.
std::string account_trades_text(const AccountResult& result);
// Whether write_outputs may use `dir`; false and a message when it may not. Checked before a
// run too, so a refused folder does not cost the user the run.
bool check_output_folder(const std::string& dir, const std::string& db_folder, std::string& error);

// The default output folder: <user folder>backtest/<screen>-<from>-<to>/.
std::string default_output_folder(const std::string& user_folder, const std::string& screen,
                                  const Params& params);

}  // namespace lp::backtest
