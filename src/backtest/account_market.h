// The account backtest on the in-memory market: each stock's records and corrections, and the
// signal, rank and exit formulas evaluated as of each day exactly as a screen as of that day
// evaluates them (prices adjusted only for the corrections known that day, results figures
// as disclosed by then), but over each stock's whole history in one pass.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "backtest/account.h"
#include "pricedb/fundamentals.h"
#include "pricedb/market_store.h"
#include "screening/formula/formula.h"

namespace lp::backtest {

// One stock's history: every record as traded, and its traded days as the formula language
// sees them as of any day.
class StockHistory {
 public:
  StockHistory(const MarketStore& store, const StoredStock& stock, const std::string& code);

  const std::vector<std::int32_t>& dates() const { return dates_; }  // every record, oldest first
  const std::vector<DayBar>& bars() const { return bars_; }
  // The record of `date`, or null.
  const DayBar* on(std::int32_t date) const;
  // The corrections' factor dated after `after` up to and including `upto`.
  double splits_between(std::int32_t after, std::int32_t upto) const;
  // The formula's value as of the close of `date` (days after it unseen). `with_fins`: look
  // up the results figures known that day.
  formula::Evaluation evaluate(const formula::Formula& f, std::int32_t date);
  // holds(evaluate(f, date)), quicker (see formula::holds_at).
  bool holds(const formula::Formula& f, std::int32_t date);

 private:
  const MarketStore& store_;
  std::string code_;
  std::vector<std::int32_t> dates_;
  std::vector<DayBar> bars_;
  std::vector<std::pair<std::int32_t, double>> splits_;  // oldest first
  // Traded days (volume > 0): their dates oldest first, and per count of corrections known
  // (segment) the traded days newest first adjusted as a load as of such a day adjusts them.
  std::vector<std::int32_t> traded_;
  std::vector<std::unique_ptr<formula::TradedDays>> segments_;
  // Results figures per (disclosures known, corrections known).
  const std::vector<fins::Disclosure>* disclosures_ = nullptr;
  std::vector<fins::Split> fins_splits_;
  std::map<std::pair<int, int>, std::unique_ptr<fins::Figures>> figures_;
  // Where the last day asked stands (a walk through the days in order moves it on).
  std::int32_t cursor_date_ = 0;
  std::size_t cursor_known_ = 0;   // corrections dated on or before it
  std::size_t cursor_traded_ = 0;  // traded days on or before it
  // The traded days as of `date` (fins set for `f`) and the offset of `date` among them.
  formula::TradedDays& as_of(const formula::Formula& f, std::int32_t date, int& offset);
};

// The market the account trades in, from the in-memory market: the calendar is the reference
// code's, the exit formula (optional) is evaluated as of each day.
class StoreAccountMarket : public AccountMarket {
 public:
  StoreAccountMarket(std::shared_ptr<const MarketStore> store, const formula::Formula* exit);
  const std::vector<std::string>& days() const override { return store_->trading_dates(); }
  bool bar(const std::string& code, int day, DayBar& out) const override;
  double split_on(const std::string& code, int day) const override;
  int last_record(const std::string& code) const override;
  bool exit_signal(const std::string& code, int day) const override;
  std::string reference_code() const override { return store_->reference_code(); }
  // The history of a stock (built on first use); null when the market has no such stock.
  StockHistory* history(const std::string& code) const;

 private:
  std::shared_ptr<const MarketStore> store_;
  const formula::Formula* exit_;
  std::vector<std::int32_t> calendar_;
  mutable std::unordered_map<std::string, std::unique_ptr<StockHistory>> histories_;
};

// The rank formula's value of each pick as of its signal day (the picks' names kept).
struct PickDay {
  int day = 0;                                             // index into the calendar
  std::vector<std::pair<std::string, std::string>> picks;  // code, name
};
std::vector<std::vector<Signal>> rank_signals(const StoreAccountMarket& market,
                                              const std::vector<PickDay>& picks,
                                              const formula::Formula* rank);

// The signals of a screen made of formulas only (every one must hold), on every calendar day
// in `signal_days`, with their rank values: each stock's history evaluated in one pass on the
// workers. A stock is a candidate on a day it has a record of. `progress(done, stocks)`
// returning false cancels (the signals are then incomplete).
std::vector<std::vector<Signal>> formula_signals(
    const MarketStore& store, const std::vector<formula::Formula>& all_of,
    const formula::Formula* rank, const std::vector<int>& signal_days,
    const std::function<bool(int done, int stocks)>& progress = {});

}  // namespace lp::backtest
