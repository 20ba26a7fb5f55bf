#include "screening/universe.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <set>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "common/parallel.h"
#include "pricedb/formats.h"
#include "pricedb/market_store.h"
#include "pricedb/sectors.h"
#include "pricedb/stock_code.h"

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
  day_table_from_file(file, table);
  return true;
}

bool read_day_table(const SeriesSource& source, const std::string& date, DayTable& table) {
  if (!source.store) return read_day_table(day_file_path(source.db_folder, date), table);
  thread_local DayFile file;  // reused: a backtest reads one day file every signal day
  if (!source.store->day_file(date, file, true)) return false;
  day_table_from_file(file, table);
  return true;
}

bool latest_trading_date_as_of(const SeriesSource& source, std::string& date) {
  TradingCalendar cal;
  if (build_trading_calendar(source, cal, source.as_of, 1) != 0) return false;
  date = cal.at(1);
  return true;
}

int count_trading_days_as_of(const SeriesSource& source, int& count) {
  const double end = parse_number(source.as_of);
  const int last_year =
      static_cast<int>(parse_integer(std::string_view(source.as_of).substr(0, 4)));
  std::set<std::int64_t> dates;
  auto take = [&](double d) {
    if (d > 0 && d <= end && d == static_cast<double>(static_cast<std::int64_t>(d)))
      dates.insert(static_cast<std::int64_t>(d));
  };
  if (source.store) {
    if (const StoredStock* ref = source.store->stock(source.reference_code)) {
      for (const StoredYear& y : ref->years) {
        if (y.year < kLowestYear || y.year > last_year) continue;
        for (std::size_t i = 0; i < y.size(); ++i) {
          FieldReader r(std::string_view(y.bytes).substr(y.day_starts[i]));
          take(parse_number(r.next_or_empty()));
        }
      }
    }
  } else {
    std::vector<std::string> list;
    for (int y : years_present(source.db_folder)) {
      if (y < kLowestYear || y > last_year) continue;
      if (!read_series_dates(series_file_path(source.db_folder, y, source.reference_code), list))
        continue;
      for (const std::string& d : list) take(parse_number(d));
    }
  }
  count = static_cast<int>(std::min<std::size_t>(dates.size(), INT_MAX));
  return count < 1 ? -1 : 0;
}

void day_table_from_file(DayFile& file, DayTable& table) {
  // The table is refilled in place: a backtest builds one every signal day, and the strings
  // of the previous day's rows already have the room for this day's.
  std::vector<DayRecord>& records = table.records;
  const std::size_t room = std::min<std::size_t>(file.rows.size(), kDayTableCapacity) + 1;
  if (records.size() < room) records.resize(room);
  std::size_t n = 1;
  for (std::string& f : records[0].f) f.clear();
  records[0].f[0] = file.date;
  for (PriceRecord& r : file.rows) {
    const double code = parse_number(r.code);
    if (!(code >= 1000 && code <= 9999) && !is_alphanumeric_stock_code(r.code)) continue;
    if (static_cast<int>(n) > kDayTableCapacity) break;
    auto& f = records[n++].f;
    f[0] = r.code;
    f[1] = r.market;
    f[2] = clean_company_marker(r.name);
    f[3] = r.open;
    f[4] = r.high;
    f[5] = r.low;
    f[6] = r.close;
    f[7] = r.volume;
    f[8].clear();
    f[9].clear();
  }
  records.resize(n);
  records[0].f[1] = std::to_string(n - 1);
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
// Today's segments (プライム, スタンダード, グロース) join the boxes whose markets they succeeded;
// the names J-Quants gives the segments before 2022-04-04 join the boxes of the same markets.
const std::array<std::vector<std::string_view>, 5> kBoxNames = {{
    {"東証", "東証1部", "東証外国", "プライム", "東証一部"},
    {"東証2部", "スタンダード", "東証二部"},
    {"マザーズ", "グロース"},
    {"大証", "大証1部", "大証2部", "大証外国部"},
    {"JASDAQ", "ＪＱＳ", "ＪＱＧ", "JQ外国部", "JASDAQ スタンダード", "JASDAQ グロース"},
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
  // Each row is filled by a worker (worker 0 with the caller's buffer); the progress is shown
  // here in row order.
  const SeriesSource src = source.for_workers();
  std::vector<Series> more(static_cast<std::size_t>(workers_for(n, worker_count()) - 1));
  ordered_for(
      n,
      [&](int i, int w) {
        Series& s = w == 0 ? buffer : more[static_cast<std::size_t>(w - 1)];
        DayRecord& r = table.records[static_cast<std::size_t>(i + 1)];
        const int status =
            load_series_cal(src, end_date, 5, trim_view(r.code()), calendar, s, true);
        if (status == 0 && series_count(s) >= 2 && s.size() > 2) {
          r.f[8] = s[2].d5;
          r.f[9] = s[2].d6;
        } else {
          r.f[8] = "0";
          r.f[9] = "0";
        }
      },
      [&](int i) {
        if (progress) progress(i + 1, n);
        return true;
      });
}

void filter_sectors(const ControlSet& controls, const SeriesSource& source, const std::string& day,
                    CandidateList& list) {
  std::vector<std::string> codes;
  std::string error;
  if (!lp::sectors::parse_sector_list(controls.text("gyoushu_txt"), codes, error) || codes.empty())
    return;
  const auto table = lp::sectors::SectorTable::shared(source.db_folder);
  const int d = static_cast<int>(parse_integer(day));
  std::erase_if(list.items, [&](const Candidate& c) {
    const lp::sectors::Sector* s = table->of(trim_blanks(c.code), d);
    return !s || !std::binary_search(codes.begin(), codes.end(), s->s33);
  });
}

std::string check_sector_choice(const ControlSet& controls, const SeriesSource& source) {
  std::vector<std::string> codes;
  std::string error;
  if (!lp::sectors::parse_sector_list(controls.text("gyoushu_txt"), codes, error)) return error;
  if (!codes.empty() && lp::sectors::SectorTable::shared(source.db_folder)->empty()) {
    return "業種の一覧がありません: jquants-sync で取得してください";
  }
  return {};
}

}  // namespace lp::screening
