// The ledger replayed in date order as the tax office counts it: holdings per code and account
// with their cost (総平均法に準ずる方法), the realised gain of every sell, dividends, the tax of
// each year and account with 損益通算, and the NISA allowances.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ledger/ledger_file.h"

namespace lp::ledger {

// A share correction of the database: prices dated before `date` are multiplied by `factor`
// (numerator / denominator), so a holding from before it has 1 / factor times the shares.
struct SplitEvent {
  int date = 0;
  double factor = 1;
};
// Per code, oldest first.
using SplitTable = std::map<std::string, std::vector<SplitEvent>, std::less<>>;

// The NISA limits of the system begun in 2024, in yen at cost.
inline constexpr int kNisaFirstYear = 2024;
inline constexpr std::int64_t kNisaGrowthYear = 2'400'000;
inline constexpr std::int64_t kNisaTsumitateYear = 1'200'000;
inline constexpr std::int64_t kNisaLifetime = 18'000'000;
inline constexpr std::int64_t kNisaGrowthLifetime = 12'000'000;

struct Position {
  std::string code;
  Account account = Account::tokutei;
  std::int64_t shares = 0;  // 1/10000 share
  std::int64_t cost = 0;    // yen: the book cost of the shares held
  std::size_t next_split = 0;
  // The cost per share, rounded up to the yen as the tax office rounds it.
  std::int64_t unit_cost() const;
};

struct Sale {
  std::size_t index = 0;  // the transaction in the list given
  int date = 0;
  std::string code;
  Account account = Account::tokutei;
  std::int64_t shares = 0;
  std::int64_t proceeds = 0;  // 約定金額 less the fee
  std::int64_t cost = 0;      // unit cost x shares sold
  std::int64_t gain = 0;
};

struct YearAccount {
  std::int64_t gains = 0;   // the year's sells with a gain, summed
  std::int64_t losses = 0;  // those with a loss (negative)
  std::int64_t dividends = 0;
  std::int64_t dividend_tax = 0;  // withheld as entered
  std::int64_t realised() const { return gains + losses; }
};

struct NisaCounts {
  std::int64_t growth = 0, tsumitate = 0;
};

struct Problem {
  std::size_t index = 0;
  std::string message;
};

struct Replay {
  std::vector<Position> positions;  // every code and account seen, splits applied to as_of
  std::vector<Sale> sales;
  std::map<int, std::array<YearAccount, kAccountCount>> years;
  std::map<int, NisaCounts> nisa_bought;  // per year, at cost
  std::map<int, NisaCounts> nisa_freed;   // the book cost sold per year (free from the next)
  std::vector<Problem> problems;          // refused entries, which count for nothing
  const Position* find(std::string_view code, Account account) const;
};

// Replays the transactions dated up to `as_of`. Within a day buys count before sells, as in a
// 特定口座. A sell of more than is held or a NISA buy beyond a limit is a problem (with the
// figures) and is left out.
Replay replay(const std::vector<Transaction>& list, const SplitTable& splits, int as_of = 99991231);

// One year's tax. `only`: one account's figures alone (the others count as empty).
struct YearTax {
  int year = 0;
  std::array<YearAccount, kAccountCount> accounts{};
  std::array<std::int64_t, kAccountCount> withheld{};
  std::int64_t realised = 0;      // every account's
  std::int64_t dividends = 0;     // gross, every account's
  std::int64_t tax_withheld = 0;  // after a 特定口座 with withholding sets its loss against its
                                  // dividends
  std::int64_t taxable_net = 0;   // the taxable accounts' gains and dividends less their losses
  std::int64_t tax_due = 0;       // 20.315 % of taxable_net
  std::int64_t tax_balance = 0;   // tax_due - tax_withheld: paid (+) or refunded (-) by declaring
};
YearTax year_tax(const Replay& r, int year, const Account* only = nullptr);

struct NisaUse {
  std::int64_t growth_used = 0, tsumitate_used = 0;          // bought in the year
  std::int64_t lifetime_used = 0, growth_lifetime_used = 0;  // at the end of the year
};
NisaUse nisa_use(const Replay& r, int year);

// yyyymmdd as "2024/05/01"; a yen amount with separators ("1,234,567").
std::string date_text(int yyyymmdd);
std::string yen_text(std::int64_t yen);
std::string shares_text(std::int64_t shares);

}  // namespace lp::ledger
