// Returns of a ledger over a period: the time-weighted return from daily valuations, the
// money-weighted return (XIRR over the dated flows) and the reference index over the same days.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ledger/book.h"
#include "ledger/prices.h"

namespace lp::ledger {

// A flow from the investor's side: negative paid in, positive taken out (XIRR's convention).
struct Flow {
  int date = 0;  // yyyymmdd
  double amount = 0;
};
// The annual rate r with sum(amount / (1 + r)^(days / 365)) = 0, days counted from the first
// flow. nullopt when the flows do not change sign or no rate solves them.
std::optional<double> xirr(const std::vector<Flow>& flows);

// Days since 1970-01-01 of a yyyymmdd date.
int day_number(int yyyymmdd);

struct ValuePoint {
  int date = 0;
  double value = 0;        // yen, at the day's closes
  double index = 100;      // the time-weighted growth of 100 from the base day
  double benchmark = 100;  // the reference index likewise
};

struct Performance {
  int base = 0;       // the last trading day before the period (its close is the start), or 0
  int end = 0;        // the last trading day valued
  bool cash = false;  // valued with the cash of 入金 and 出金; else the holdings alone, buys
                      // counting as money in and sells and dividends as money out
  double twr = 0;     // %, cumulative over the period
  std::optional<double> irr;        // %, annualised
  std::optional<double> benchmark;  // %, cumulative over the same days
  std::vector<ValuePoint> points;   // the base day, then every trading day of the period
  std::vector<Flow> flows;          // what the IRR solved
  std::string problem;              // why nothing could be measured
};

// Measures the ledger (the account `only`'s entries when given) from `from` to `to` on the
// reference's trading days. `closes` holds each code's closes; a code missing a close on a day
// is valued at its last close before it.
Performance measure(const std::vector<Transaction>& list, const SplitTable& splits,
                    const std::map<std::string, CloseSeries, std::less<>>& closes,
                    const CloseSeries& reference, int from, int to, const Account* only = nullptr);

// The same with the prices read from the database: each code's closes from the year before
// `from` to `to`'s year (and, for a code that did not trade then, its last close before).
Performance measure(const SeriesSource& src, const std::vector<Transaction>& list, int from, int to,
                    const Account* only = nullptr);

}  // namespace lp::ledger
