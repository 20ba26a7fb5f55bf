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

// The figures as of D. Undefined figures are empty. Per-share figures and share counts are on
// the share basis of `basis` (see figures_as_of).
struct Figures {
  int as_of = 0;
  int known = 0;     // disclosures with DiscDate <= D
  int fy_start = 0;  // the fiscal year containing D (yyyymmdd; 0 when no disclosure says)
  int fy_end = 0;
  std::optional<double> eps;     // forecast EPS for the fiscal year containing D
  std::optional<double> dps;     // forecast dividend (a REIT's distribution) for that year
  std::optional<double> aeps;    // actual EPS of the newest FY results
  std::optional<double> adps;    // actual dividend (distribution) of the newest FY results
  std::optional<double> bps;     // newest disclosed
  std::optional<double> shares;  // issued, treasury included (ShOutFY), newest disclosed
  std::optional<double> roe;     // NP / average 自己資本 * 100 of the newest FY results
  std::optional<double> roa;     // NP / average TA * 100
  std::optional<double> eqr;     // 自己資本比率 in %
  std::optional<double> opm;     // OP / Sales * 100
  std::optional<double> payout;  // 配当性向 in %
  std::optional<double> salesg;  // forecast sales / FY sales - 1, in %, both of 12 months
  std::optional<double> opg;     // the same for operating profit
  bool roe_on_eq = false;        // ROE's 自己資本 fell back to Eq (EqAR not disclosed)
  // FIN(name): the newest known disclosed value of each column, as served.
  std::array<double, kColumnCount> latest{};
  std::bitset<kColumnCount> has_latest;
  // FY(name): the value of each column in the newest known FY results, as served.
  std::array<double, kColumnCount> fy{};
  std::bitset<kColumnCount> has_fy;
};

// The figures of `sorted` (oldest first) as of `as_of` with the corrections `splits` (any
// order). Per-share figures are put on the share basis of the day `basis` (0: as_of): every
// correction after a disclosure and on or before `basis` applies. A screen or a backtest
// evaluates on D's own basis; the chart, whose prices are adjusted for every correction it
// holds, passes the newest day of its prices.
Figures figures_as_of(const std::vector<Disclosure>& sorted, int as_of,
                      const std::vector<Split>& splits, int basis = 0);

// What a formula, a grid or the chart asks for.
enum class Metric : int {
  per,
  pbr,
  yield,
  mcap,
  roe,
  salesg,
  opg,
  eps,
  dps,
  bps,
  fin,
  // Actual-based ratios, profitability and the newest FY's value of a column.
  aper,
  ayield,
  roa,
  eqr,
  opm,
  payout,
  minbuy,
  fy,
};

// The metric's formula name ("PER", ...; "FIN" for fin, "FY" for fy).
std::string_view metric_name(Metric m);
// PER, PBR, YIELD, MCAP, ROE, SALESG, OPG, EPS, DPS, BPS, APER, AYIELD, ROA, EQR, OPM, PAYOUT,
// MINBUY (upper case as typed); false otherwise (FIN and FY take a column).
bool metric_of(std::string_view name, Metric& out);
// True for the metrics that read the close (PER, PBR, YIELD, MCAP, APER, AYIELD, MINBUY).
bool metric_on_close(Metric m);

// The value at a close of `close` (used by the metrics on the close); `col` for FIN and FY.
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
// millions of yen, per-share figures as served times `factor` (the chart's share basis; 1:
// as served), "-" where not disclosed. The forecasts are the next year's when given, else the
// current year's; a REIT's distribution stands where the dividend fields are blank.
struct DisclosureRow {
  std::string date, period, sales, op, np, eps, f_eps, bps, div, f_div;
};
DisclosureRow disclosure_row(const Disclosure& d, double factor = 1);
// The product of the factors of the corrections dated after `disc_date` and on or before
// `basis`: what turns a per-share figure of that disclosure into the basis of that day.
double split_factor(const std::vector<Split>& splits, int disc_date, int basis);
// The 「決算」 list of a stock as of a day (0: every disclosure), newest first, per-share figures
// on the share basis of `basis`: a disclosure row, or a line marking a split that falls between
// two disclosures ("分割 1→10 (2025/03/28) 以前の1株あたりの値は換算済み").
struct DisclosureListRow {
  DisclosureRow row;
  std::string split;  // not empty: this line marks a split
};
std::vector<DisclosureListRow> disclosure_list(const SeriesSource& src, std::string_view code,
                                               int as_of, int basis);
// The captions of those columns.
const std::array<const char*, 10>& disclosure_captions();

// The chart's info line as of a day at a close:
// "予想PER 12.3倍　実績PER 11.0倍　PBR 0.85倍　予想利回り 3.20%" ("-" where undefined); "" when the
// stock has no results summary known on the day. `close` is on the share basis of `basis` (the
// newest day of the prices drawn; 0: as_of), and so are the figures it is divided by.
std::string valuation_line(const SeriesSource& src, std::string_view code, int as_of, double close,
                           int basis = 0);
// The share basis of a load whose newest day is `newest_day`: the loader rescales by every
// correction in the year folders it reads, so the basis is the end of that day's year.
int load_basis(int newest_day);

// Display texts of the grids and the fins command: "-" when undefined.
std::string per_text(const std::optional<double>& v);    // "12.3"  (#,##0.0)
std::string yield_text(const std::optional<double>& v);  // "3.25"  (#,##0.00)
std::string mcap_text(const std::optional<double>& v);   // "1,234" (#,##0)

}  // namespace lp::fins
