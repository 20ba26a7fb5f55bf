// Point-in-time figures of a stock from its results summaries, as of a day D: what the formula
// language, the results grid, the chart and the fins command all show. Nothing disclosed after
// D is seen; per-share figures are put on D's share basis by the corrections known on D.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "pricedb/fins_store.h"

namespace lp {
struct SeriesSource;
}

namespace lp::fins {

// A share correction as the loader applies it: prices dated before `date` are multiplied by
// `factor` (numerator / denominator).
struct Split {
  int date = 0;  // yyyymmdd
  double factor = 1;
};

// The figures as of D. Undefined figures are empty.
struct Figures {
  int as_of = 0;
  int known = 0;                 // disclosures with DiscDate <= D
  std::optional<double> eps;     // forecast EPS (walk), else the last FY actual
  std::optional<double> dps;     // forecast dividend, else the last FY actual
  std::optional<double> bps;     // newest disclosed
  std::optional<double> shares;  // outstanding: ShOutFY less TrShFY
  std::optional<double> roe;     // NP / Eq * 100 of the newest FY results
  std::optional<double> salesg;  // forecast sales / FY sales - 1, in %
  std::optional<double> opg;     // the same for operating profit
  // FIN(name): the newest known disclosed value of each column, as served.
  std::array<double, kColumnCount> latest{};
  std::bitset<kColumnCount> has_latest;
};

// The figures of `sorted` (oldest first) as of `as_of` with the corrections `splits` (any
// order; those dated after as_of are ignored).
Figures figures_as_of(const std::vector<Disclosure>& sorted, int as_of,
                      const std::vector<Split>& splits);

// What a formula, a grid or the chart asks for.
enum class Metric : int { per, pbr, yield, mcap, roe, salesg, opg, eps, dps, bps, fin };

// The metric's formula name ("PER", ...; "FIN" for fin).
std::string_view metric_name(Metric m);
// PER, PBR, YIELD, MCAP, ROE, SALESG, OPG, EPS, DPS, BPS (upper case as typed); false otherwise.
bool metric_of(std::string_view name, Metric& out);

// The value at a close of `close` (used by PER, PBR, YIELD and MCAP); `col` for Metric::fin.
// Empty when undefined: a ratio whose divisor is zero, negative or undefined.
std::optional<double> metric_value(const Figures& f, Metric m, double close, int col = -1);

// The corrections of `code` known on `as_of` (every one when as_of is 0), from the in-memory
// market when the source has one, else from the correction files.
// `years`: the database's years when the caller has listed them already; `with_file`: the
// "yyyy/code" of every correction file, when listed already (no open of a missing file).
std::vector<Split> known_splits(const SeriesSource& src, std::string_view code, int as_of,
                                const std::vector<int>* years = nullptr,
                                const std::unordered_set<std::string>* with_file = nullptr);

// Looks up the figures of many stocks on one day: each stock's disclosures and corrections
// read once (from the in-memory market's table when there is one), its figures computed once.
class FiguresBook {
 public:
  FiguresBook(const SeriesSource& src, std::string_view as_of);
  ~FiguresBook();
  // Null when the stock has no disclosure known on the day. Safe from several threads.
  const Figures* figures(std::string_view code);
  int as_of() const { return as_of_; }

 private:
  const SeriesSource& src_;
  int as_of_ = 0;
  std::shared_ptr<const FinsTable> table_;
  std::unordered_map<std::string, std::unique_ptr<Figures>> cache_;
  std::vector<Disclosure> scratch_;
  std::vector<int> years_;
  std::unordered_set<std::string> with_file_;
  std::mutex mutex_;  // the cache and the scratch list are shared by a run's workers
};

// The disclosures of one stock (from the table of the source's market or its file), sorted.
std::vector<Disclosure> disclosures_of(const SeriesSource& src, std::string_view code);

// One disclosure as the chart's 「決算」 list and the fins command show it: amounts in
// millions of yen, per-share figures as served, "-" where not disclosed. The forecasts are
// the next year's when given, else the current year's.
struct DisclosureRow {
  std::string date, period, sales, op, np, eps, f_eps, bps, div, f_div;
};
DisclosureRow disclosure_row(const Disclosure& d);
// The captions of those columns.
const std::array<const char*, 10>& disclosure_captions();

// The chart's info line as of a day at a close: "予想PER 12.3倍　PBR 0.85倍　利回り 3.20%"
// ("-" where undefined); "" when the stock has no results summary known on the day.
std::string valuation_line(const SeriesSource& src, std::string_view code, int as_of, double close);

// Display texts of the grids and the fins command: "-" when undefined.
std::string per_text(const std::optional<double>& v);    // "12.3"  (#,##0.0)
std::string yield_text(const std::optional<double>& v);  // "3.25"  (#,##0.00)
std::string mcap_text(const std::optional<double>& v);   // "1,234" (#,##0)

}  // namespace lp::fins
