#include "ledger/prices.h"

#include <algorithm>
#include <unordered_set>

#include "common/csv.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/fundamentals.h"

namespace lp::ledger {

namespace {

// Appends the traded days of one series file (days oldest first) that fall after what is
// already there. Only the date and the close are read.
void append_file(const std::string& path, CloseSeries& out) {
  CsvFile f;
  if (!f.open(path)) return;
  std::string_view h[6];
  for (auto& x : h) x = f.next_or_empty();
  const long long n = parse_integer(h[5]);
  std::string_view v[6];
  for (long long i = 0; i < n; ++i) {
    int got = 0;
    while (got < 6 && f.next(v[got])) ++got;
    if (got < 6) break;
    const double close = parse_number(v[4]);
    if (close <= 0) continue;
    const int date = static_cast<int>(parse_integer(v[0]));
    if (!out.dates.empty() && date <= out.dates.back()) continue;
    out.dates.push_back(date);
    out.closes.push_back(close);
  }
}

}  // namespace

CloseSeries load_closes(const std::string& db_folder, std::string_view code, int from_year,
                        int to_year) {
  CloseSeries s;
  for (int y = from_year; y <= to_year; ++y) append_file(series_file_path(db_folder, y, code), s);
  return s;
}

std::optional<double> close_on(const CloseSeries& s, int date) {
  const auto it = std::lower_bound(s.dates.begin(), s.dates.end(), date);
  if (it == s.dates.end() || *it != date) return std::nullopt;
  return s.closes[static_cast<std::size_t>(it - s.dates.begin())];
}

std::optional<std::pair<int, double>> close_on_or_before(const CloseSeries& s, int date) {
  const auto it = std::upper_bound(s.dates.begin(), s.dates.end(), date);
  if (it == s.dates.begin()) return std::nullopt;
  const std::size_t k = static_cast<std::size_t>(it - s.dates.begin()) - 1;
  return std::make_pair(s.dates[k], s.closes[k]);
}

std::optional<std::pair<int, double>> latest_close(const std::string& db_folder,
                                                   std::string_view code, int date) {
  for (int y = date / 10000; y >= kPortfolioLowestYear; --y) {
    CloseSeries s;
    append_file(series_file_path(db_folder, y, code), s);
    if (auto c = close_on_or_before(s, date)) return c;
  }
  return std::nullopt;
}

SplitTable load_splits(const SeriesSource& src, const std::vector<std::string>& codes) {
  SplitTable table;
  if (codes.empty()) return table;
  const std::vector<int> years = years_present(src.db_folder);
  std::unordered_set<std::string> with_file;
  for (int y : years) {
    for (const auto& p : list_files(year_folder(src.db_folder, y) + "data_mh")) {
      with_file.insert(std::to_string(y) + "/" + p.stem().string());
    }
  }
  for (const std::string& code : codes) {
    std::vector<fins::Split> list = fins::known_splits(src, code, 0, &years, &with_file);
    if (list.empty()) continue;
    std::vector<SplitEvent>& out = table[code];
    for (const fins::Split& s : list) out.push_back({s.date, s.factor});
    std::stable_sort(out.begin(), out.end(),
                     [](const SplitEvent& a, const SplitEvent& b) { return a.date < b.date; });
  }
  return table;
}

std::vector<std::string> ledger_codes(const std::vector<Transaction>& list) {
  std::vector<std::string> codes;
  std::unordered_set<std::string> seen;
  for (const Transaction& t : list) {
    if (!t.code.empty() && seen.insert(t.code).second) codes.push_back(t.code);
  }
  return codes;
}

int latest_trading_day(const SeriesSource& src, int today) {
  std::string latest;
  if (!read_latest_date(src.db_folder, src.reference_code, today / 10000, kLowestYear, latest)) {
    return 0;
  }
  const int d = static_cast<int>(parse_integer(latest));
  if (d <= today) return d;
  // A database filled beyond the given day: its last day on or before it.
  const auto c = latest_close(src.db_folder, src.reference_code, today);
  return c ? c->first : 0;
}

}  // namespace lp::ledger
