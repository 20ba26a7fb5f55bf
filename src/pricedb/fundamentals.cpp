#include "pricedb/fundamentals.h"

#include <algorithm>
#include <set>

#include "common/csv.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/market_store.h"
#include "pricedb/series.h"

namespace lp::fins {

namespace {

// The product of the factors of the corrections dated after `disc_date` and on or before
// `as_of`: a disclosure dated on the split day itself is already on the new basis.
double split_factor(const std::vector<Split>& splits, int disc_date, int as_of) {
  double f = 1;
  for (const Split& s : splits) {
    if (s.date > disc_date && s.date <= as_of) f *= s.factor;
  }
  return f;
}

struct Found {
  const Disclosure* from = nullptr;
  int col = -1;
};

// The forecast walk: newest first, each disclosure's next-year forecast if disclosed, else its
// current-year one; the first whose fiscal year has no known FY results is the forecast.
Found forecast_walk(const std::vector<const Disclosure*>& newest_first,
                    const std::set<std::string>& years_with_results, int next_col, int cur_col) {
  for (const Disclosure* d : newest_first) {
    int col = -1, year = -1;
    if (d->disclosed(next_col)) {
      col = next_col;
      year = NxtFYEn;
    } else if (d->disclosed(cur_col)) {
      col = cur_col;
      year = CurFYEn;
    }
    if (col < 0) continue;
    if (!years_with_results.count((*d)[year])) return {d, col};
  }
  return {};
}

std::optional<double> ratio(std::optional<double> num, std::optional<double> den) {
  if (!num || !den || !(*den > 0)) return std::nullopt;
  return *num / *den;
}

}  // namespace

Figures figures_as_of(const std::vector<Disclosure>& sorted, int as_of,
                      const std::vector<Split>& splits) {
  Figures f;
  f.as_of = as_of;
  std::vector<const Disclosure*> known;  // newest first
  for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
    if (it->date <= as_of) known.push_back(&*it);
  }
  f.known = static_cast<int>(known.size());
  if (known.empty()) return f;

  std::set<std::string> years_with_results;
  const Disclosure* last_fy = nullptr;
  for (const Disclosure* d : known) {
    if (!d->is_fy_results()) continue;
    years_with_results.insert((*d)[CurFYEn]);
    if (!last_fy) last_fy = d;
  }
  auto per_share = [&](const Disclosure* d, int col) -> std::optional<double> {
    if (!d || !d->disclosed(col)) return std::nullopt;
    return d->value(col) * split_factor(splits, d->date, as_of);
  };

  const Found eps = forecast_walk(known, years_with_results, NxFEPS, FEPS);
  f.eps = eps.from ? per_share(eps.from, eps.col) : per_share(last_fy, EPS);
  const Found dps = forecast_walk(known, years_with_results, NxFDivAnn, FDivAnn);
  f.dps = dps.from ? per_share(dps.from, dps.col) : per_share(last_fy, DivAnn);

  for (const Disclosure* d : known) {
    if (!f.bps && d->disclosed(BPS)) f.bps = per_share(d, BPS);
    if (!f.shares && d->disclosed(ShOutFY)) {
      const double treasury = d->disclosed(TrShFY) ? d->value(TrShFY) : 0;
      f.shares = (d->value(ShOutFY) - treasury) / split_factor(splits, d->date, as_of);
    }
    for (int c = kFirstValueColumn; c < kColumnCount; ++c) {
      const auto i = static_cast<std::size_t>(c);
      if (!f.has_latest[i] && d->disclosed(c)) {
        f.has_latest[i] = true;
        f.latest[i] = d->value(c);
      }
    }
  }
  if (last_fy) {
    const auto at = [&](int col) -> std::optional<double> {
      if (!last_fy->disclosed(col)) return std::nullopt;
      return last_fy->value(col);
    };
    if (auto r = ratio(at(NP), at(Eq))) f.roe = *r * 100;
    const Found sales = forecast_walk(known, years_with_results, NxFSales, FSales);
    if (sales.from) {
      if (auto r = ratio(sales.from->value(sales.col), at(Sales))) f.salesg = (*r - 1) * 100;
    }
    const Found op = forecast_walk(known, years_with_results, NxFOP, FOP);
    if (op.from) {
      if (auto r = ratio(op.from->value(op.col), at(OP))) f.opg = (*r - 1) * 100;
    }
  }
  return f;
}

namespace {
constexpr std::pair<Metric, std::string_view> kMetricNames[] = {
    {Metric::per, "PER"},   {Metric::pbr, "PBR"}, {Metric::yield, "YIELD"},
    {Metric::mcap, "MCAP"}, {Metric::roe, "ROE"}, {Metric::salesg, "SALESG"},
    {Metric::opg, "OPG"},   {Metric::eps, "EPS"}, {Metric::dps, "DPS"},
    {Metric::bps, "BPS"},   {Metric::fin, "FIN"}};
}  // namespace

std::string_view metric_name(Metric m) {
  for (const auto& [metric, name] : kMetricNames) {
    if (metric == m) return name;
  }
  return "";
}

bool metric_of(std::string_view name, Metric& out) {
  for (const auto& [metric, n] : kMetricNames) {
    if (n == name && metric != Metric::fin) {
      out = metric;
      return true;
    }
  }
  return false;
}

std::optional<double> metric_value(const Figures& f, Metric m, double close, int col) {
  switch (m) {
    case Metric::per:
      return ratio(close, f.eps);
    case Metric::pbr:
      return ratio(close, f.bps);
    case Metric::yield:
      if (auto r = ratio(f.dps, close)) return *r * 100;
      return std::nullopt;
    case Metric::mcap:
      if (!f.shares) return std::nullopt;
      return close * *f.shares / 100000000.0;
    case Metric::roe:
      return f.roe;
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
      if (!is_value_column(col) || !f.has_latest[static_cast<std::size_t>(col)])
        return std::nullopt;
      return f.latest[static_cast<std::size_t>(col)];
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

DisclosureRow disclosure_row(const Disclosure& d) {
  auto millions = [&](int col) {
    return d.disclosed(col) ? format_pattern(d.value(col) / 1e6, "#,##0") : std::string("-");
  };
  auto plain = [&](int col) {
    if (!d.disclosed(col)) return std::string("-");
    std::string t = format_pattern(d.value(col), "#,##0.##");
    if (!t.empty() && t.back() == '.') t.pop_back();  // the pattern's point without decimals
    return t;
  };
  auto forecast = [&](int next, int cur) { return d.disclosed(next) ? plain(next) : plain(cur); };
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
  r.div = plain(DivAnn);
  r.f_div = forecast(NxFDivAnn, FDivAnn);
  return r;
}

const std::array<const char*, 10>& disclosure_captions() {
  static const std::array<const char*, 10> kCaptions = {
      "開示日",  "期",  "売上高(百万円)", "営業利益(百万円)", "純利益(百万円)", "EPS",
      "予想EPS", "BPS", "配当",           "予想配当"};
  return kCaptions;
}

std::string valuation_line(const SeriesSource& src, std::string_view code, int as_of,
                           double close) {
  const std::vector<Disclosure> list = disclosures_of(src, code);
  if (list.empty() || list.front().date > as_of) return {};
  const Figures f = figures_as_of(list, as_of, known_splits(src, code, as_of));
  auto with = [](const std::string& text, const char* unit) {
    return text == "-" ? text : text + unit;
  };
  return "予想PER " + with(per_text(metric_value(f, Metric::per, close)), "倍") + "　PBR " +
         with(yield_text(metric_value(f, Metric::pbr, close)), "倍") + "　利回り " +
         with(yield_text(metric_value(f, Metric::yield, close)), "%");
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
