#include "results/results_valuation.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/fundamentals.h"
#include "pricedb/market_store.h"
#include "pricedb/sectors.h"

namespace lp {

const ValuationValues& ValuationTable::of(const std::string& code) const {
  static const ValuationValues kNone{};
  auto it = by_code.find(code);
  return it == by_code.end() ? kNone : it->second;
}

const std::array<std::string, kValuationColumns>& valuation_captions() {
  static const std::array<std::string, kValuationColumns> kCaptions = {"予想PER", "PBR", "予想利回り",
                                                                       "時価総額(億円)"};
  return kCaptions;
}

const std::string& ValuationTable::sector_of(const std::string& code) const {
  static const std::string kNone;
  auto it = sector_by_code.find(code);
  return it == sector_by_code.end() ? kNone : it->second;
}

ValuationTable compute_valuation(const ResultTable& table, const SeriesSource& src) {
  ValuationTable v;
  const auto sectors = sectors::SectorTable::shared(src.db_folder);
  if (!sectors->empty()) {
    v.sectors = true;
    const int day = static_cast<int>(parse_integer(table.date()));
    for (int i = 1; i <= table.count(); ++i) {
      const std::string code = trim_blanks(table.field(i, result_field::kCode));
      if (const sectors::Sector* s = sectors->of(code, day)) {
        v.sector_by_code[code] = s->s33_name.empty() ? std::string(sectors::name33(s->s33))
                                                     : s->s33_name;
      }
    }
  }
  if (src.store ? !src.store->fins() || src.store->fins()->empty()
                : !fins::database_has_fins(src.db_folder)) {
    return v;
  }
  v.present = true;
  fins::FiguresBook book(src, table.date());
  for (int i = 1; i <= table.count(); ++i) {
    const std::string code = trim_blanks(table.field(i, result_field::kCode));
    const fins::Figures* f = book.figures(code);
    if (!f) continue;
    const double close = parse_number(table.field(i, result_field::kClose));
    ValuationValues values;
    if (close > 0) {
      values[0] = fins::metric_value(*f, fins::Metric::per, close);
      values[1] = fins::metric_value(*f, fins::Metric::pbr, close);
      values[2] = fins::metric_value(*f, fins::Metric::yield, close);
      values[3] = fins::metric_value(*f, fins::Metric::mcap, close);
    }
    v.by_code[code] = values;
  }
  return v;
}

std::array<std::string, kValuationColumns> valuation_cells(const ValuationTable& v,
                                                           const std::string& code) {
  const ValuationValues& x = v.of(trim_blanks(code));
  return {fins::per_text(x[0]), fins::yield_text(x[1]), fins::yield_text(x[2]),
          fins::mcap_text(x[3])};
}

void exchange_sort_sector(ResultTable& table, const ValuationTable& v, bool descending) {
  const double missing = descending ? -std::numeric_limits<double>::infinity()
                                    : std::numeric_limits<double>::infinity();
  const auto sectors = std::vector<sectors::Industry>(sectors::industries33());
  const int n = table.count();
  std::vector<double> key(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const std::string& name = v.sector_of(trim_blanks(table.field(i + 1, result_field::kCode)));
    const std::string code = sectors::code33_of(name);
    key[static_cast<std::size_t>(i)] = code.empty() ? missing : std::stod(code);
  }
  exchange_by_keys(table, std::move(key), descending);
}

void exchange_sort_valuation(ResultTable& table, const ValuationTable& v, int k, bool descending) {
  const double missing = descending ? -std::numeric_limits<double>::infinity()
                                    : std::numeric_limits<double>::infinity();
  const int n = table.count();
  std::vector<double> key(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const auto& x = v.of(trim_blanks(table.field(i + 1, result_field::kCode)));
    key[static_cast<std::size_t>(i)] = x[static_cast<std::size_t>(k)].value_or(missing);
  }
  exchange_by_keys(table, std::move(key), descending);
}

}  // namespace lp
