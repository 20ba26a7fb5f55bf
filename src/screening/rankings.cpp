#include "screening/rankings.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "common/parallel.h"
#include "pricedb/formats.h"
#include "pricedb/market_store.h"
#include "pricedb/stock_code.h"
#include "screening/criteria/sigma_rsi_kairi.h"
#include "screening/result_files.h"
#include "screening/universe.h"
#include "search/search_model.h"

namespace lp::screening {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDescendingSentinel = "-100000000";
constexpr const char* kAscendingSentinel = "100000000";

std::string initdata_path(const std::string& db_folder) {
  return db_folder + kInitDataFileName;
}

void emit(const std::function<void(const std::string&)>& fn, const std::string& text) {
  if (fn) fn(text);
}

// Fields 11-28: one window of the last `days` trading days.
void write_window(CsvWriter& w, const Series& s, int days) {
  const int last = std::min(day_count_of(s), days);
  double open = 0, high = 0, low = 0, close = 0, volume = 0;
  int traded = 0;
  for (int i = 1; i <= last; ++i) {
    const SeriesRecord& d = s[static_cast<std::size_t>(i)];
    const double v = parse_number(d.d6);
    if (v <= 0) continue;
    ++traded;
    volume += v;
    open = parse_number(d.d2);  // ends on the oldest traded day
    if (close == 0) close = parse_number(d.d5);
    high = std::max(high, parse_number(d.d3));
    const double l = parse_number(d.d4);
    if (l > 0 && (low == 0 || l < low)) low = l;
  }
  w.field(format_decimal(open))
      .field(format_decimal(high))
      .field(format_decimal(low))
      .field(format_decimal(close))
      .field(format_decimal(volume))
      .field(traded);
}

// Fields 29-34: averages of the close and of the volume over the traded days.
void write_averages(CsvWriter& w, const Series& s, int days) {
  const int last = std::min(day_count_of(s), days);
  double volume = 0;
  int traded = 0;
  for (int i = 1; i <= last; ++i) {
    const double v = parse_number(s[static_cast<std::size_t>(i)].d6);
    if (v > 0) {
      volume += v;
      ++traded;
    }
  }
  w.field(format_decimal(moving_average(s, 1, days)))
      .field(format_decimal(traded > 0 ? volume / traded : 0.0));
}

const char* const kHeaderTitles[kInitDataFields - 2] = {
    "銘柄",       "始値",           "高値",     "安値",          "終値",     "出来高",
    "前日引値",   "前日出来高",     "5日始値",  "5日高値",       "5日安値",  "5日終値",
    "5日出来高",  "5日取引日数",    "25日始値", "25日高値",      "25日安値", "25日終値",
    "25日出来高", "25日取引日数",   "75日始値", "75日高値",      "75日安値", "75日終値",
    "75日出来高", "75日取引日数",   "5日平均",  "5日平均出来高", "10日平均", "10日平均出来高",
    "25日平均",   "25日平均出来高", "RSI14"};

// The measure of one ranking for one record; false when the stock does not qualify or the
// measure would divide by zero.
bool measure(std::size_t which, const InitRecord& r, double& value) {
  auto f = [&r](int field) { return parse_number(r[static_cast<std::size_t>(field - 1)]); };
  const double open = f(4), high = f(5), low = f(6), close = f(7), volume = f(8);
  const double prev_close = f(9), prev_volume = f(10);
  if (!(volume > 0)) return false;
  auto ratio = [&value](double num, double den) {
    if (den == 0) return false;
    value = num * 100 / den;
    return true;
  };
  switch (which) {
    case 0:  // 前日比上率
      return prev_volume > 0 && ratio(close - prev_close, close);
    case 1:  // 前日比下率
      return prev_volume > 0 && ratio(close - prev_close, prev_close);
    case 2:  // 同日比上率
    case 3:  // 同日比下率
      return ratio(close - open, open);
    case 4:  // 陽線値幅率
      return close > open && ratio(high - low, close);
    case 5:  // 陰線値幅率
      return open > close && ratio(low - high, close);
    case 6:  // 出来高: the market's index codes are not stocks
      if (!(f(1) > 1003) && !is_alphanumeric_stock_code(r[0])) return false;
      if (is_unknown_volume(volume)) return false;
      value = volume;
      return true;
    case 7:  // 出来高増大率
      if (is_unknown_volume(volume) || is_unknown_volume(prev_volume)) return false;
      return ratio(volume - prev_volume, prev_volume);
    case 8:  // 上方乖離率
    case 9:  // 下方乖離率
      return ratio(close - f(33), close);
    case 10:  // 上髭率
      return ratio(high - close, close);
    case 11:  // 下髭率: the lower shadow, below the body
      return ratio(std::min(open, close) - low, close);
    default:
      return false;
  }
}

std::string value_text(RankFormat format, double value, const InitRecord& r) {
  switch (format) {
    case RankFormat::two_decimals:
      return format_pattern(value, "#.#0");
    case RankFormat::wide_two_decimals:
      return format_pattern(value, "######.#0");
    case RankFormat::as_read:
      return std::string(r[7]);
    case RankFormat::shortest:
      break;
  }
  return format_decimal(value);
}

// An entry during the pass: the record's fields stay views into the file until the end.
struct Slot {
  double number = 0;
  std::string value;
  std::array<std::string_view, 10> fields{};
};

}  // namespace

bool create_initdata(const SeriesSource& source, const std::string& latest_date,
                     const InitDataEvents& events) {
  return create_initdata_in(source, latest_date, source.db_folder, events);
}

bool create_initdata_in(const SeriesSource& source, const std::string& latest_date,
                        const std::string& folder, const InitDataEvents& events) {
  if (events.busy) events.busy(true);
  emit(events.message, "初期データ作成中");
  yield_now(events.yield);
  auto done = [&events](bool ok) {
    if (events.busy) events.busy(false);
    if (events.refresh_date) events.refresh_date();
    emit(events.status, "");
    return ok;
  };

  DayTable table;
  if (latest_date.empty() || !read_day_table(source, latest_date, table)) {
    return done(false);
  }
  const int n = table.count();
  TradingCalendar calendar;
  build_trading_calendar(source, calendar, latest_date, kInitDataDays);

  CsvWriter w;
  w.field(latest_date).field(n);
  for (const char* title : kHeaderTitles) w.field(title);
  w.end_line();
  const std::string of_n = " / " + std::to_string(n);
  // Each stock's record is built by a worker, with its own series buffer, and written here in
  // the table's order.
  const SeriesSource src = source.for_workers();
  std::vector<Series> series(static_cast<std::size_t>(workers_for(n, worker_count())));
  std::vector<CsvWriter> lines(static_cast<std::size_t>(std::max(n, 0)));
  ordered_for(
      n,
      [&](int i, int worker) {
        const DayRecord& row = *table.row(i + 1);
        Series& s = series[static_cast<std::size_t>(worker)];
        CsvWriter& line = lines[static_cast<std::size_t>(i)];
        for (int f = 0; f < 8; ++f) line.field(row.f[static_cast<std::size_t>(f)]);
        const bool loaded =
            load_series_cal(src, latest_date, kInitDataDays, row.code(), calendar, s, true) == 0;
        if (!loaded) s.assign(1, SeriesRecord{row.code(), "", "", "", "", "0"});
        // The previous trading day, as the screening day table takes it; "0" when not traded.
        if (day_count_of(s) >= 2 && !s[2].d5.empty()) {
          line.field(s[2].d5).field(s[2].d6);
        } else {
          line.field("0").field("0");
        }
        write_window(line, s, 5);
        write_window(line, s, 25);
        write_window(line, s, 75);
        write_averages(line, s, 5);
        write_averages(line, s, 10);
        write_averages(line, s, 25);
        const RsiValue rsi = rsi_value(s, 1, 14);
        line.field(format_decimal(rsi.rsi)).end_line();
      },
      [&](int i) {
        CsvWriter& line = lines[static_cast<std::size_t>(i)];
        w.append_lines(line);
        line = CsvWriter();
        emit(events.status, std::to_string(i + 1) + of_n);
        yield_now(events.yield);
        return true;
      },
      [&] { yield_now(events.yield); });
  std::error_code ec;
  fs::create_directories(folder, ec);
  return done(w.commit(initdata_path(folder)));
}

bool InitDataFile::open(const std::string& db_folder) {
  open_ = file_.open(initdata_path(db_folder));
  return open_;
}

bool InitDataFile::read(InitRecord& record) {
  if (!open_) return false;
  InitRecord next;
  for (auto& field : next) {
    if (!file_.next(field)) return false;
  }
  record = next;
  return true;
}

void InitDataFile::close() {
  file_ = CsvFile();
  open_ = false;
}

bool read_initdata(InitDataFile& file, std::string_view mode, InitRecord& record,
                   const std::string& db_folder) {
  if (mode == "open") {
    if (file.open(db_folder)) return true;
    std::error_code ec;
    fs::create_directories(db_folder, ec);
    return false;
  }
  if (mode == "header" || mode == "read") return file.read(record);
  if (mode == "close") {
    file.close();
    return true;
  }
  return false;
}

std::string latest_daily_date(const std::string& db_folder, int year) {
  long long best = 0;
  std::error_code ec;
  const fs::path folder = fs::path(year_folder(db_folder, year)) / "data_d";
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // Only real day files count: a leftover of an interrupted write must not name a day.
    if (sweep_temp_file(it->path()) || !is_day_file_name(name)) continue;
    best = std::max<long long>(best, parse_integer(std::string_view(name).substr(0, 8)));
  }
  return best > 0 ? std::to_string(best) : std::string();
}

const std::vector<RankingDef>& ranking_defs() {
  static const std::vector<RankingDef> defs = {
      {"前日比上率ﾄｯﾌﾟ25", "前日比率", true, RankFormat::two_decimals},
      {"前日比下率ﾄｯﾌﾟ25", "前日比率", false, RankFormat::two_decimals},
      {"同日比上率ﾄｯﾌﾟ25", "同日比率", true, RankFormat::two_decimals},
      {"同日比下率ﾄｯﾌﾟ25", "同日比率", false, RankFormat::shortest},
      {"陽線値幅率ﾄｯﾌﾟ25", "陽線値幅率", true, RankFormat::wide_two_decimals},
      {"陰線値幅率ﾄｯﾌﾟ25", "陰線値幅率", false, RankFormat::wide_two_decimals},
      {"出来高ﾄｯﾌﾟ25", "出来高", true, RankFormat::as_read},
      {"出来高増大率ﾄｯﾌﾟ25", "出来高増大率", true, RankFormat::shortest},
      {"上方乖離率ﾄｯﾌﾟ25", "乖離率", true, RankFormat::shortest},
      {"下方乖離率ﾄｯﾌﾟ25", "乖離率", false, RankFormat::shortest},
      {"上髭率ﾄｯﾌﾟ25", "上髭率", true, RankFormat::shortest},
      {"下髭率ﾄｯﾌﾟ25", "下髭率", true, RankFormat::shortest},
  };
  return defs;
}

const RankingDef* find_ranking(std::string_view name) {
  for (const RankingDef& d : ranking_defs()) {
    if (d.name == name) return &d;
  }
  return nullptr;
}

const RankingDef* find_ranking_loosely(std::string_view text) {
  if (const RankingDef* exact = find_ranking(text)) return exact;
  const auto& defs = ranking_defs();
  if (!text.empty() && text.size() <= 2 &&
      text.find_first_not_of("0123456789") == std::string_view::npos) {
    const long long n = parse_integer(text);
    if (n >= 1 && n <= static_cast<long long>(defs.size())) {
      return &defs[static_cast<std::size_t>(n - 1)];
    }
    return nullptr;
  }
  const std::u32string key = normalise_for_search(text);
  if (key.empty()) return nullptr;
  for (const RankingDef& d : defs) {
    if (normalise_for_search(d.name) == key) return &d;
  }
  return nullptr;
}

Top25 rank_top25(const RankingSource& source, std::string_view name) {
  Top25 top;
  top.name = std::string(name);
  const RankingDef* def = find_ranking(name);
  const std::string sentinel = def && !def->descending ? kAscendingSentinel : kDescendingSentinel;
  for (RankEntry& e : top.entries) e.value = sentinel;
  if (!def) return top;
  top.title = def->title;
  const std::string& db =
      source.summary_folder.empty() ? source.source.db_folder : source.summary_folder;

  std::string latest;
  if (source.source.as_of.empty()) {
    latest = latest_daily_date(source.source.db_folder, source.latest_year);
    // A day written ahead of the reference's own newest day (an interrupted commit) is not a
    // trading day yet: the screens end at the reference's day, and so do the rankings.
    std::string reference_newest;
    if (!latest.empty() &&
        read_latest_date(source.source.db_folder, source.source.reference_code,
                         source.latest_year, kLowestYear, reference_newest) &&
        reference_newest < latest &&
        fs::exists(day_file_path(source.source.db_folder, reference_newest))) {
      latest = reference_newest;
    }
  } else if (!latest_trading_date_as_of(source.source, latest) ||
             !(source.source.store ? source.source.store->has_day_file(latest)
                                   : fs::exists(day_file_path(source.source.db_folder, latest)))) {
    latest.clear();
  }
  InitDataFile file;
  InitRecord record{};
  bool current = false;
  if (fs::exists(initdata_path(db))) {
    if (read_initdata(file, "open", record, db) && read_initdata(file, "header", record)) {
      current = !latest.empty() && parse_number(record[0]) == parse_number(latest);
    }
    read_initdata(file, "close", record);
  }
  if (!current) create_initdata_in(source.source, latest, db, source.events);

  if (!read_initdata(file, "open", record, db) || !read_initdata(file, "header", record)) {
    return top;
  }
  // A summary that still is not the latest day's (its day file is missing) is not shown.
  if (latest.empty() || parse_number(record[0]) != parse_number(latest)) return top;
  top.date = std::string(record[0]);
  const long long n = parse_integer(record[1]);
  const std::size_t which = static_cast<std::size_t>(def - ranking_defs().data());

  std::array<Slot, kTopCount> slots;
  const double sentinel_number = parse_number(sentinel);
  for (Slot& s : slots) {
    s.number = sentinel_number;
    s.value = sentinel;
  }
  Slot incoming;
  for (long long k = 1; k <= n; ++k) {
    // A record cut short ends the pass: judging the previous record again would rank it twice.
    if (!read_initdata(file, "read", record)) break;
    if (parse_number(record[7]) > 0) ++top.traded;
    double value = 0;
    if (!measure(which, record, value)) continue;
    incoming.value = value_text(def->format, value, record);
    incoming.number = parse_number(incoming.value);
    for (std::size_t i = 0; i < incoming.fields.size(); ++i) incoming.fields[i] = record[i];
    for (Slot& s : slots) {
      const bool beats = def->descending ? incoming.number > s.number : incoming.number < s.number;
      if (beats) std::swap(incoming, s);
    }
  }
  for (std::size_t j = 0; j < slots.size(); ++j) {
    RankEntry& e = top.entries[j];
    e.value = slots[j].value;
    if (slots[j].fields[0].empty()) continue;
    for (std::size_t i = 0; i < e.fields.size(); ++i)
      e.fields[i] = cp932_to_utf8(slots[j].fields[i]);
    ++top.filled;
  }
  read_initdata(file, "close", record);
  return top;
}

bool write_ranking_results(const Top25& top, const std::string& user_folder, const YieldFn& yield) {
  DayTable table;
  table.records.resize(1);
  CandidateList list;
  list.date = top.date;
  list.title = top.title;
  for (const RankEntry& e : top.entries) {
    if (!e.filled()) continue;
    DayRecord r;
    r.f = e.fields;
    table.records.push_back(r);
    list.items.push_back({e.code(), std::to_string(table.records.size() - 1), e.value});
  }
  table.records[0].f[0] = top.date;
  table.records[0].f[1] = std::to_string(list.count());
  std::error_code ec;
  fs::create_directories(user_folder, ec);
  const bool listed = write_list_file(user_folder + "sel0.csv", list);
  return write_result_out(user_folder + "sel0_out.csv", list, table, yield) && listed;
}

bool ranking_to_result_files(const RankingSource& source, std::string_view name,
                             const std::string& user_folder, bool* write_failed) {
  if (write_failed) *write_failed = false;
  const Top25 top = rank_top25(source, name);
  // A summary without a single traded stock (a damaged or empty day file) must not replace
  // the user's last results; a day on which no stock qualifies is a ranking all the same.
  if (top.date.empty() || top.traded == 0) return false;
  const bool written = write_ranking_results(top, user_folder, source.events.yield);
  if (write_failed) *write_failed = !written;
  return written;
}

}  // namespace lp::screening
