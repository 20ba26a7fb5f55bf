#include "screening/universe.h"

#include "pricedb/stock_code.h"

#include <algorithm>
#include <charconv>
#include <climits>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"

namespace lp::screening {

namespace {

std::string_view trim_view(std::string_view s) {
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

bool read_day_table(const std::string& path, DayTable& table) {
  DayFile file;
  if (!read_day_file(path, file, true)) return false;
  DayTable fresh;
  fresh.records.reserve(std::min<std::size_t>(file.rows.size(), kDayTableCapacity) + 1);
  fresh.records.emplace_back();
  fresh.records[0].f[0] = file.date;
  for (PriceRecord& r : file.rows) {
    const double code = parse_number(r.code);
    if (!(code >= 1000 && code <= 9999) && !is_alphanumeric_stock_code(r.code)) continue;
    if (static_cast<int>(fresh.records.size()) > kDayTableCapacity) break;
    DayRecord rec;
    rec.f = {std::move(r.code),  std::move(r.market), clean_company_marker(r.name),
             std::move(r.open),  std::move(r.high),   std::move(r.low),
             std::move(r.close), std::move(r.volume), std::string(),
             std::string()};
    fresh.records.push_back(std::move(rec));
  }
  fresh.records[0].f[1] = std::to_string(fresh.records.size() - 1);
  table = std::move(fresh);
  return true;
}

int count_trading_days(const std::string& db_folder, const std::string& reference_code,
                       int current_year, int& count) {
  // Summed wide and saturated: a damaged header (10^9, negative) must neither overflow the sum
  // nor take days away from the other years.
  long long total = 0;
  for (int y : years_present(db_folder)) {
    if (y < kLowestYear || y > current_year) continue;
    CsvFile f;
    if (!f.open(series_file_path(db_folder, y, reference_code))) continue;
    f.skip(5);
    const long long n = parse_integer(f.next_or_empty());
    if (n > 0) total = std::min<long long>(total + std::min<long long>(n, INT_MAX), INT_MAX);
  }
  count = static_cast<int>(total);
  return count < 1 ? -1 : 0;
}

namespace {
// Today's segments (プライム, スタンダード, グロース) join the boxes whose markets they succeeded.
const std::array<std::vector<std::string_view>, 5> kBoxNames = {{
    {"東証", "東証1部", "東証外国", "プライム"},
    {"東証2部", "スタンダード"},
    {"マザーズ", "グロース"},
    {"大証", "大証1部", "大証2部", "大証外国部"},
    {"JASDAQ", "ＪＱＳ", "ＪＱＧ", "JQ外国部"},
}};
}  // namespace

std::vector<std::string_view> market_box_segments(int box) {
  if (box < 0 || box >= static_cast<int>(kBoxNames.size())) return {};
  return kBoxNames[static_cast<std::size_t>(box)];
}

int market_box_of(std::string_view segment) {
  const auto& names = kBoxNames;
  const std::string_view s = trim_view(segment);
  for (std::size_t box = 0; box < names.size(); ++box) {
    for (std::string_view n : names[box]) {
      if (s == n) return static_cast<int>(box);
    }
  }
  return 5;
}

void filter_markets(const DayTable& table, const MarketBoxes& boxes, CandidateList& out) {
  out.items.clear();
  out.date = table.date();
  out.title.clear();
  const int n = table.count();
  for (int k = 1; k <= n; ++k) {
    const DayRecord& r = table.records[static_cast<std::size_t>(k)];
    if (!boxes[static_cast<std::size_t>(market_box_of(r.market()))]) continue;
    if (out.count() >= kCandidateCapacity) break;
    out.items.push_back({r.code(), std::to_string(k), std::string()});
  }
}

void fill_previous_day(DayTable& table, const SeriesSource& source, const std::string& end_date,
                       const TradingCalendar& calendar, Series& buffer,
                       const std::function<void(int k, int n)>& progress) {
  const int n = table.count();
  for (int k = 1; k <= n; ++k) {
    DayRecord& r = table.records[static_cast<std::size_t>(k)];
    const int status =
        load_series_cal(source, end_date, 5, trim_view(r.code()), calendar, buffer, true);
    if (status == 0 && series_count(buffer) >= 2 && buffer.size() > 2) {
      r.f[8] = buffer[2].d5;
      r.f[9] = buffer[2].d6;
    } else {
      r.f[8] = "0";
      r.f[9] = "0";
    }
    if (progress) progress(k, n);
  }
}

}  // namespace lp::screening
