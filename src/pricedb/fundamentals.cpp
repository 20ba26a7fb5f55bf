#include "pricedb/fundamentals.h"

#include <algorithm>
#include <set>

#include "common/csv.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/market_store.h"
#include "pricedb/series.h"

namespace lp::fins {

double split_factor(const std::vector<Split>& splits, int disc_date, int basis) {
  // A disclosure dated on the split day itself is already on the new basis.
  double f = 1;
  for (const Split& s : splits) {
    if (s.date > disc_date && s.date <= basis) f *= s.factor;
  }
  return f;
}

namespace {

// Days since 1970-01-01 of a yyyymmdd date (the civil-from-days inverse).
long long day_number(int yyyymmdd) {
  int y = yyyymmdd / 10000;
  const unsigned m = static_cast<unsigned>(yyyymmdd / 100 % 100);
  const unsigned d = static_cast<unsigned>(yyyymmdd % 100);
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

int date_of(const Disclosure& d, int col) {
  const std::string& t = d[col];
  if (t.size() != 8) return 0;
  int v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v;
}

// A fiscal year of twelve months: 52- and 53-week years included, a changed year's 9 or 15
// months not. A year whose start no disclosure gives is taken as twelve months.
// `after`: `start` is the day before the year begins.
bool twelve_months(int start, int end, bool after = false) {
  if (start == 0 || end == 0) return true;
  const long long span = day_number(end) - day_number(start) + (after ? 0 : 1);
  return span >= 350 && span <= 380;
}

// What a forecast column group is about: a revision notice speaks only about its own kind.
enum class Group { earnings, dividend };

// The forecast columns of a figure: the next-year and current-year columns, and the REIT
// distribution columns that stand in where a dividend column is blank (-1: none).
struct ForecastCols {
  int next, cur, alt_next, alt_cur;
  Group group;
};

// The fiscal year containing D: the newest disclosure whose current or next fiscal year runs
// over D (a year without a known start counts from its end back).
void year_containing(const std::vector<const Disclosure*>& newest_first, int as_of, int& start,
                     int& end) {
  start = end = 0;
  for (const Disclosure* d : newest_first) {
    for (const auto& [st_col, en_col] : {std::pair{NxtFYSt, NxtFYEn}, std::pair{CurFYSt, CurFYEn}}) {
      const int en = date_of(*d, en_col);
      const int st = date_of(*d, st_col);
      if (en >= as_of && (st == 0 || st <= as_of)) {
        start = st;
        end = en;
        return;
      }
    }
  }
}

// Does `d` speak about the forecast `c` of the fiscal year ending `year_end`? Its FY results
// speak about the next year; its quarterly reports and revision notices about the current one
// (a revision of earnings says nothing of the dividend, and the other way round). A disclosure
// that speaks but leaves the figure blank has withdrawn it (未定).
bool speaks_about(const Disclosure& d, const ForecastCols& c, int year_end, int& col) {
  col = -1;
  const auto pick = [&](int main, int alt) {
    if (d.disclosed(main)) {
      col = main;
    } else if (alt >= 0 && d.disclosed(alt)) {
      col = alt;
    }
  };
  if (date_of(d, NxtFYEn) == year_end) {
    pick(c.next, c.alt_next);
    if (col >= 0 || d.is_fy_results()) return true;
  }
  if (d.is_fy_results() || date_of(d, CurFYEn) != year_end) return false;
  const std::string& doc = d[DocType];
  if (doc.find("FinancialStatements") == std::string::npos) {
    // A revision notice: of earnings ("EarnForecastRevision"), of the dividend
    // ("DividendForecastRevision"), or another notice that speaks by what it discloses.
    const bool earn = doc.find("Earn") != std::string::npos;
    const bool div = doc.find("Dividend") != std::string::npos;
    if (earn || div) {
      if ((c.group == Group::earnings) != earn) return false;
    } else {
      pick(c.cur, c.alt_cur);
      return col >= 0;
    }
  }
  pick(c.cur, c.alt_cur);
  return true;
}

// The forecast of the year ending `year_end`: the newest disclosure speaking about it decides.
const Disclosure* forecast_of(const std::vector<const Disclosure*>& newest_first, int year_end,
                              const ForecastCols& c, int& col) {
  col = -1;
  if (year_end == 0) return nullptr;
  for (const Disclosure* d : newest_first) {
    if (speaks_about(*d, c, year_end, col)) return col >= 0 ? d : nullptr;
  }
  return nullptr;
}

std::optional<double> ratio(std::optional<double> num, std::optional<double> den) {
  if (!num || !den || !(*den > 0)) return std::nullopt;
  return *num / *den;
}

std::optional<double> value_of(const Disclosure* d, int col) {
  if (!d || !d->disclosed(col)) return std::nullopt;
  return d->value(col);
}

// 自己資本 at a year end: EqAR x TA, else Eq (net assets) when EqAR is blank.
std::optional<double> own_equity(const Disclosure* d, bool& on_eq) {
  on_eq = false;
  const auto ear = value_of(d, EqAR), ta = value_of(d, TA);
  if (ear && ta) return *ear * *ta;
  on_eq = true;
  return value_of(d, Eq);
}

// The average of a balance at the start (the year before's end) and the end of the year; the
// end alone when the year before is not known.
std::optional<double> average(std::optional<double> start, std::optional<double> end) {
  if (!end) return std::nullopt;
  if (!start) return end;
  return (*start + *end) / 2;
}

}  // namespace

Figures figures_as_of(const std::vector<Disclosure>& sorted, int as_of,
                      const std::vector<Split>& splits, int basis) {
  Figures f;
  f.as_of = as_of;
  if (basis < as_of) basis = as_of;
  std::vector<const Disclosure*> known;  // newest first
  for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
    if (it->date <= as_of) known.push_back(&*it);
  }
  f.known = static_cast<int>(known.size());
  if (known.empty()) return f;

  const Disclosure* last_fy = nullptr;  // the newest FY results
  const Disclosure* prev_fy = nullptr;  // the results of the year before it
  for (const Disclosure* d : known) {
    if (!d->is_fy_results()) continue;
    if (!last_fy) {
      last_fy = d;
    } else if (!prev_fy && date_of(*d, CurFYEn) < date_of(*last_fy, CurFYEn)) {
      // Only the year just before: an average with an older year means nothing.
      const long long gap = day_number(date_of(*last_fy, CurFYEn)) - day_number(date_of(*d, CurFYEn));
      if (date_of(*d, CurFYEn) > 0 && gap <= 400) prev_fy = d;
      if (date_of(*d, CurFYEn) > 0) break;
    }
  }
  auto per_share = [&](const Disclosure* d, int col) -> std::optional<double> {
    if (!d || !d->disclosed(col)) return std::nullopt;
    return d->value(col) * split_factor(splits, d->date, basis);
  };

  year_containing(known, as_of, f.fy_start, f.fy_end);
  int col = -1;
  const Disclosure* from = forecast_of(known, f.fy_end, {NxFEPS, FEPS, -1, -1, Group::earnings}, col);
  f.eps = per_share(from, col);
  from = forecast_of(known, f.fy_end, {NxFDivAnn, FDivAnn, NxFDivUnit, FDivUnit, Group::dividend}, col);
  f.dps = per_share(from, col);
  f.aeps = per_share(last_fy, EPS);
  f.adps = last_fy && last_fy->disclosed(DivAnn) ? per_share(last_fy, DivAnn)
                                                  : per_share(last_fy, DivUnit);

  for (const Disclosure* d : known) {
    if (!f.bps && d->disclosed(BPS)) f.bps = per_share(d, BPS);
    if (!f.shares && d->disclosed(ShOutFY)) {
      f.shares = d->value(ShOutFY) / split_factor(splits, d->date, basis);
    }
    for (int c = kFirstValueColumn; c <= kLastValueColumn; ++c) {
      const auto i = static_cast<std::size_t>(c);
      if (!f.has_latest[i] && d->disclosed(c)) {
        f.has_latest[i] = true;
        f.latest[i] = d->value(c);
      }
    }
  }
  if (!last_fy) return f;
  for (int c = kFirstValueColumn; c <= kLastValueColumn; ++c) {
    const auto i = static_cast<std::size_t>(c);
    if (last_fy->disclosed(c)) {
      f.has_fy[i] = true;
      f.fy[i] = last_fy->value(c);
    }
  }
  const auto at = [&](int c) { return value_of(last_fy, c); };
  bool start_on_eq = false;
  const auto equity = average(prev_fy ? own_equity(prev_fy, start_on_eq) : std::nullopt,
                              own_equity(last_fy, f.roe_on_eq));
  f.roe_on_eq = f.roe_on_eq || start_on_eq;
  if (auto r = ratio(at(NP), equity)) f.roe = *r * 100;
  if (auto r = ratio(at(NP), average(value_of(prev_fy, TA), at(TA)))) f.roa = *r * 100;
  if (at(EqAR)) {
    f.eqr = *at(EqAR) * 100;
  } else if (auto r = ratio(at(Eq), at(TA))) {
    f.eqr = *r * 100;
  }
  if (auto r = ratio(at(OP), at(Sales))) f.opm = *r * 100;
  if (at(PayoutRatioAnn)) {
    f.payout = *at(PayoutRatioAnn) * 100;
  } else if (auto r = ratio(at(DivAnn), at(EPS))) {
    f.payout = *r * 100;
  }

  // Growth compares like with like: a forecast of twelve months with twelve months' actuals.
  // A year whose start no disclosure gives begins the day after the newest FY results' end.
  const int last_end = date_of(*last_fy, CurFYEn);
  const bool year_twelve = f.fy_start ? twelve_months(f.fy_start, f.fy_end)
                                      : last_end == 0 || twelve_months(last_end, f.fy_end, true);
  const bool like = f.fy_end > 0 && last_end < f.fy_end && year_twelve &&
                    twelve_months(date_of(*last_fy, CurFYSt), last_end);
  if (like) {
    from = forecast_of(known, f.fy_end, {NxFSales, FSales, -1, -1, Group::earnings}, col);
    if (auto r = ratio(value_of(from, col), at(Sales))) f.salesg = (*r - 1) * 100;
    from = forecast_of(known, f.fy_end, {NxFOP, FOP, -1, -1, Group::earnings}, col);
    if (auto r = ratio(value_of(from, col), at(OP))) f.opg = (*r - 1) * 100;
  }
  return f;
}

namespace {
constexpr std::pair<Metric, std::string_view> kMetricNames[] = {
    {Metric::per, "PER"},       {Metric::pbr, "PBR"},       {Metric::yield, "YIELD"},
    {Metric::mcap, "MCAP"},     {Metric::roe, "ROE"},       {Metric::salesg, "SALESG"},
    {Metric::opg, "OPG"},       {Metric::eps, "EPS"},       {Metric::dps, "DPS"},
    {Metric::bps, "BPS"},       {Metric::fin, "FIN"},       {Metric::aper, "APER"},
    {Metric::ayield, "AYIELD"}, {Metric::roa, "ROA"},       {Metric::eqr, "EQR"},
    {Metric::opm, "OPM"},       {Metric::payout, "PAYOUT"}, {Metric::minbuy, "MINBUY"},
    {Metric::fy, "FY"}};
}  // namespace

std::string_view metric_name(Metric m) {
  for (const auto& [metric, name] : kMetricNames) {
    if (metric == m) return name;
  }
  return "";
}

bool metric_of(std::string_view name, Metric& out) {
  for (const auto& [metric, n] : kMetricNames) {
    if (n == name && metric != Metric::fin && metric != Metric::fy) {
      out = metric;
      return true;
    }
  }
  return false;
}

bool metric_on_close(Metric m) {
  switch (m) {
    case Metric::per:
    case Metric::pbr:
    case Metric::yield:
    case Metric::mcap:
    case Metric::aper:
    case Metric::ayield:
    case Metric::minbuy:
      return true;
    default:
      return false;
  }
}

std::optional<double> metric_value(const Figures& f, Metric m, double close, int col) {
  const auto column = [&](const std::array<double, kColumnCount>& values,
                          const std::bitset<kColumnCount>& has) -> std::optional<double> {
    if (!is_value_column(col) || !has[static_cast<std::size_t>(col)]) return std::nullopt;
    return values[static_cast<std::size_t>(col)];
  };
  switch (m) {
    case Metric::per:
      return ratio(close, f.eps);
    case Metric::aper:
      return ratio(close, f.aeps);
    case Metric::pbr:
      return ratio(close, f.bps);
    case Metric::yield:
      if (auto r = ratio(f.dps, close)) return *r * 100;
      return std::nullopt;
    case Metric::ayield:
      if (auto r = ratio(f.adps, close)) return *r * 100;
      return std::nullopt;
    case Metric::mcap:
      if (!f.shares || !(close > 0)) return std::nullopt;
      return close * *f.shares / 100000000.0;
    case Metric::minbuy:
      if (!(close > 0)) return std::nullopt;
      return close * 100;
    case Metric::roe:
      return f.roe;
    case Metric::roa:
      return f.roa;
    case Metric::eqr:
      return f.eqr;
    case Metric::opm:
      return f.opm;
    case Metric::payout:
      return f.payout;
    case Metric::salesg:
      return f.salesg;
    case Metric::opg:
      return f.opg;
    case Metric::eps:
      return f.eps;
    case Metric::dps:
      return f.dps;
    case Metric::bps:
      return f.bps;
    case Metric::fin:
      return column(f.latest, f.has_latest);
    case Metric::fy:
      return column(f.fy, f.has_fy);
  }
  return std::nullopt;
}

std::vector<Split> known_splits(const SeriesSource& src, std::string_view code, int as_of,
                                const std::vector<int>* years,
                                const std::unordered_set<std::string>* with_file) {
  std::vector<Split> out;
  auto take = [&](const std::vector<Correction>& rows) {
    for (const Correction& c : rows) {
      // A zero numerator or denominator is skipped, as the loader skips it.
      if (c.numerator == 0.0 || c.denominator == 0.0) continue;
      const int d = static_cast<int>(parse_integer(c.date));
      if (as_of > 0 && d > as_of) continue;
      out.push_back({d, c.numerator / c.denominator});
    }
  };
  if (src.store) {
    if (const StoredStock* s = src.store->stock(code)) {
      for (const auto& [year, rows] : s->corrections) take(rows);
    }
    return out;
  }
  CorrectionFile cf;
  const std::vector<int> listed = years ? std::vector<int>() : years_present(src.db_folder);
  for (int y : years ? *years : listed) {
    if (as_of > 0 && y > as_of / 10000) continue;
    if (with_file && !with_file->count(std::to_string(y) + "/" + std::string(code))) continue;
    if (read_correction_file(correction_file_path(src.db_folder, y, code), cf)) take(cf.rows);
  }
  return out;
}

std::vector<Disclosure> disclosures_of(const SeriesSource& src, std::string_view code) {
  if (src.store && src.store->fins()) return src.store->fins()->of(code);
  std::vector<Disclosure> list;
  if (!read_fins_file(fins_file_path(src.db_folder, code), list)) list.clear();
  return list;
}

FiguresBook::FiguresBook(const SeriesSource& src, std::string_view as_of)
    : src_(src), as_of_(static_cast<int>(parse_integer(as_of))) {
  if (src.store) {
    table_ = src.store->fins();
  } else {
    table_ = FinsTable::shared(src.db_folder);
    years_ = years_present(src.db_folder);
    for (int y : years_) {
      for (const auto& p : list_files(year_folder(src.db_folder, y) + "data_mh")) {
        with_file_.insert(std::to_string(y) + "/" + p.stem().string());
      }
    }
  }
}

FiguresBook::~FiguresBook() = default;

const Figures* FiguresBook::figures(std::string_view code) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::string key(code);
  if (auto it = cache_.find(key); it != cache_.end()) return it->second.get();
  const std::vector<Disclosure>* list = &scratch_;
  if (table_) {
    list = &table_->of(code);
  } else if (!read_fins_file(fins_file_path(src_.db_folder, code), scratch_)) {
    scratch_.clear();
  }
  std::unique_ptr<Figures> f;
  if (!list->empty() && list->front().date <= as_of_) {
    f = std::make_unique<Figures>(
        figures_as_of(*list, as_of_, known_splits(src_, code, as_of_, &years_, &with_file_)));
  }
  const Figures* out = f.get();
  cache_.emplace(key, std::move(f));
  return out;
}

DisclosureRow disclosure_row(const Disclosure& d, double factor) {
  auto millions = [&](int col) {
    return d.disclosed(col) ? format_pattern(d.value(col) / 1e6, "#,##0") : std::string("-");
  };
  auto plain = [&](int col) {
    if (!d.disclosed(col)) return std::string("-");
    std::string t = format_pattern(d.value(col) * factor, "#,##0.##");
    if (!t.empty() && t.back() == '.') t.pop_back();  // the pattern's point without decimals
    return t;
  };
  auto forecast = [&](int next, int cur) { return d.disclosed(next) ? plain(next) : plain(cur); };
  // A REIT's distribution where the dividend fields are blank.
  auto dividend = [&](int col, int unit) { return d.disclosed(col) ? plain(col) : plain(unit); };
  DisclosureRow r;
  const std::string& date = d[DiscDate];
  r.date = date.size() == 8 ? date.substr(0, 4) + "/" + date.substr(4, 2) + "/" + date.substr(6, 2)
                            : date;
  r.period = d[CurPerType].empty() ? "-" : d[CurPerType];
  if (!d.is_fy_results() && d[DocType].find("Forecast") != std::string::npos) r.period += "修正";
  r.sales = millions(Sales);
  r.op = millions(OP);
  r.np = millions(NP);
  r.eps = plain(EPS);
  r.f_eps = forecast(NxFEPS, FEPS);
  r.bps = plain(BPS);
  r.div = dividend(DivAnn, DivUnit);
  r.f_div = d.disclosed(NxFDivAnn) || d.disclosed(FDivAnn) ? forecast(NxFDivAnn, FDivAnn)
                                                           : forecast(NxFDivUnit, FDivUnit);
  return r;
}

std::vector<DisclosureListRow> disclosure_list(const SeriesSource& src, std::string_view code,
                                               int as_of, int basis) {
  const std::vector<Disclosure> all = disclosures_of(src, code);
  std::vector<Split> splits = known_splits(src, code, basis);
  std::sort(splits.begin(), splits.end(), [](const Split& a, const Split& b) { return a.date > b.date; });
  std::vector<DisclosureListRow> out;
  std::size_t next_split = 0;  // splits newest first
  const auto date_text = [](int d) {
    const std::string t = std::to_string(d);
    return t.size() == 8 ? t.substr(0, 4) + "/" + t.substr(4, 2) + "/" + t.substr(6, 2) : t;
  };
  bool any = false;
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (as_of > 0 && it->date > as_of) continue;  // not disclosed yet on that day
    // The splits after this disclosure (and after the newest shown) stand above it.
    while (next_split < splits.size() && splits[next_split].date > it->date) {
      const Split& sp = splits[next_split++];
      if (!any || !(sp.factor > 0)) continue;  // nothing shown above it to set apart
      DisclosureListRow mark;
      mark.split = (sp.factor < 1 ? "分割 1→" + format_decimal(1 / sp.factor)
                                  : "併合 " + format_decimal(sp.factor) + "→1") +
                   " (" + date_text(sp.date) + ")　これより前の1株あたりの値は換算しています";
      out.push_back(std::move(mark));
    }
    DisclosureListRow row;
    row.row = disclosure_row(*it, split_factor(splits, it->date, basis));
    out.push_back(std::move(row));
    any = true;
  }
  return out;
}

const std::array<const char*, 10>& disclosure_captions() {
  static const std::array<const char*, 10> kCaptions = {
      "開示日",  "期",  "売上高(百万円)", "営業利益(百万円)", "純利益(百万円)", "EPS",
      "予想EPS", "BPS", "配当",           "予想配当"};
  return kCaptions;
}

std::string valuation_line(const SeriesSource& src, std::string_view code, int as_of,
                           double close, int basis) {
  const std::vector<Disclosure> list = disclosures_of(src, code);
  if (list.empty() || list.front().date > as_of) return {};
  if (basis < as_of) basis = as_of;
  const Figures f = figures_as_of(list, as_of, known_splits(src, code, basis), basis);
  auto with = [](const std::string& text, const char* unit) {
    return text == "-" ? text : text + unit;
  };
  return "予想PER " + with(per_text(metric_value(f, Metric::per, close)), "倍") + "　実績PER " +
         with(per_text(metric_value(f, Metric::aper, close)), "倍") + "　PBR " +
         with(yield_text(metric_value(f, Metric::pbr, close)), "倍") + "　予想利回り " +
         with(yield_text(metric_value(f, Metric::yield, close)), "%");
}

int load_basis(int newest_day) {
  return newest_day / 10000 * 10000 + 1231;
}

std::string per_text(const std::optional<double>& v) {
  return v ? format_pattern(*v, "#,##0.0") : "-";
}

std::string yield_text(const std::optional<double>& v) {
  return v ? format_pattern(*v, "#,##0.00") : "-";
}

std::string mcap_text(const std::optional<double>& v) {
  return v ? format_pattern(*v, "#,##0") : "-";
}

}  // namespace lp::fins
