#include "pricedb/series.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <type_traits>
#include <unordered_set>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/market_store.h"

namespace lp {

struct SeriesSource::Folders {
  struct Year {
    bool looked = false;
    int series_fd = -1;  // the year's "data_m" folder, or -1
    bool corrections_listed = false;
    std::unordered_set<std::string> corrections;  // codes with a "data_mh" file
  };
  std::string db_folder;
  std::map<int, Year> years;  // nodes stay put: a Year& handed out stays valid
  // The loads of a run's workers share one listing.
  std::mutex mutex;

  ~Folders() {
    for (auto& [y, info] : years) {
      if (info.series_fd >= 0) ::close(info.series_fd);
    }
  }

  Year& year(int y) {
    const std::lock_guard<std::mutex> lock(mutex);
    Year& info = years[y];
    if (!info.looked) {
      info.looked = true;
      info.series_fd = ::open((year_folder(db_folder, y) + "data_m").c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    return info;
  }

  bool has_correction(int y, std::string_view code) {
    const std::lock_guard<std::mutex> lock(mutex);
    Year& info = years[y];
    if (!info.corrections_listed) {
      info.corrections_listed = true;
      std::error_code ec;
      for (std::filesystem::directory_iterator it(year_folder(db_folder, y) + "data_mh", ec), end;
           !ec && it != end; it.increment(ec)) {
        if (sweep_temp_file(it->path())) continue;
        info.corrections.insert(it->path().stem().string());
      }
    }
    return info.corrections.count(std::string(code)) > 0;
  }
};

SeriesSource SeriesSource::for_workers() const {
  SeriesSource src = *this;
  src.yield = {};
  if (!src.store) src.year_folders();
  return src;
}

SeriesSource::Folders& SeriesSource::year_folders() const {
  if (!folders || folders->db_folder != db_folder) {
    folders = std::make_shared<Folders>();
    folders->db_folder = db_folder;
  }
  return *folders;
}

namespace {

// One day line of a series file, as views into the file's bytes.
using DayView = std::array<std::string_view, 6>;

struct StockYear {
  std::string own;         // the bytes, when read by read_stock_year
  std::string_view bytes;  // what the views below point into
  std::array<std::string_view, 6> header;
  std::vector<DayView> file_days;  // as in the file: oldest first
  std::size_t size() const { return file_days.size(); }
  // The k-th newest day.
  const DayView& newest(std::size_t k) const { return file_days[file_days.size() - 1 - k]; }
  // How many of the newest days lie after `end` (the newest days that a load passes over).
  std::size_t count_after(double end) const {
    std::size_t k = 0;
    while (k < size() && parse_number(newest(k)[0]) > end) ++k;
    return k;
  }
  const std::array<std::string_view, 6>& head() const { return header; }
  bool prices_plain() const { return false; }  // not known without looking
};

// A series file held by the market store, read through the same field reader.
struct HeldYear {
  const StoredYear* y;
  std::size_t size() const { return y->size(); }
  DayView newest(std::size_t k) const {
    const std::size_t i = y->size() - 1 - k;
    if (!y->plain) return y->day(i);
    return cut(y->bytes.data() + y->day_starts[i], y->lengths[i]);
  }
  // A plain line cut at its recorded lengths, built in place: a view filled field by field
  // is first zeroed and then copied out, which cost a fifth of a text load.
  static DayView cut(const char* p, const std::array<std::uint8_t, 6>& len) {
    const char* const p1 = p + len[0] + 1;
    const char* const p2 = p1 + len[1] + 1;
    const char* const p3 = p2 + len[2] + 1;
    const char* const p4 = p3 + len[3] + 1;
    const char* const p5 = p4 + len[4] + 1;
    return DayView{
        {{p, len[0]}, {p1, len[1]}, {p2, len[2]}, {p3, len[3]}, {p4, len[4]}, {p5, len[5]}}};
  }
  bool prices_plain() const { return y->prices_plain; }
  std::size_t count_after(double end) const {
    if (!y->ascending) {
      std::size_t k = 0;
      while (k < size() && parse_number(newest(k)[0]) > end) ++k;
      return k;
    }
    // Whole, rising dates: the days after `end` are the tail past the last date <= end.
    auto it = std::upper_bound(y->dates.begin(), y->dates.end(), end,
                               [](double e, std::int32_t d) { return e < static_cast<double>(d); });
    return static_cast<std::size_t>(y->dates.end() - it);
  }
  std::array<std::string_view, 6> head() const {  // NOLINT: the header is read rarely
    FieldReader r(y->bytes);
    std::array<std::string_view, 6> h;
    for (auto& f : h) f = r.next_or_empty();
    return h;
  }
};

// An eight-digit date as a number, -1 for any other text.
std::int32_t plain_date(std::string_view t) {
  if (t.size() != 8) return -1;
  std::int32_t d = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return -1;
    d = d * 10 + (c - '0');
  }
  return d;
}

int year_of(std::string_view date) {
  return static_cast<int>(parse_integer(date.substr(0, 4)));
}

// The newest date of a calendar as a number (no limit for an empty one).
double calendar_end(const TradingCalendar& cal) {
  return cal.count() == 0 ? std::numeric_limits<double>::infinity() : parse_number(cal.at(1));
}

// Parses a series file's bytes: header and every complete day line (however many the header
// announces, as long as the file holds them), in file order.
void parse_stock_year(StockYear& out, std::string_view bytes) {
  out.file_days.clear();
  out.bytes = bytes;
  FieldReader r(bytes);
  for (auto& h : out.header) h = r.next_or_empty();
  std::int64_t n = parse_integer(out.header[5]);
  DayView v;
  for (std::int64_t i = 0; i < n; ++i) {
    int got = 0;
    while (got < 6 && r.next(v[static_cast<std::size_t>(got)])) ++got;
    if (got < 6) break;
    out.file_days.push_back(v);
  }
}

bool read_stock_year(const std::string& path, StockYear& out) {
  out.file_days.clear();
  if (!read_file_bytes(path, out.own)) return false;
  parse_stock_year(out, out.own);
  return true;
}

// Reads only the dates of the reference code's file of one year, newest first.
bool read_reference_dates(const std::string& path, std::vector<std::string_view>& dates,
                          std::string& bytes) {
  dates.clear();
  if (!read_file_bytes(path, bytes)) return false;
  FieldReader r(bytes);
  r.skip(5);
  std::int64_t n = parse_integer(r.next_or_empty());
  std::string_view v[6];
  for (std::int64_t i = 0; i < n; ++i) {
    int got = 0;
    while (got < 6 && r.next(v[got])) ++got;
    if (got < 6) break;
    dates.push_back(v[0]);
  }
  std::reverse(dates.begin(), dates.end());
  return true;
}

SeriesRecord& slot(Series& s, int i) {
  if (static_cast<int>(s.size()) <= i) s.resize(static_cast<std::size_t>(i) + 1);
  return s[static_cast<std::size_t>(i)];
}

// Most fields of a reused series keep their length from one load to the next (dates, prices
// of the same magnitude), and all are short: the bytes are copied in place, as two overlapping
// words rather than through a call, and a length that changes within the room held is only set.
[[gnu::always_inline]] inline void put(std::string& field, std::string_view text) {
  const std::size_t n = text.size();
  if (field.size() != n) {
    if (n > 16 || n > field.capacity()) {
      field.assign(text);
      return;
    }
    field.resize(n);  // within the room held: sets the length only
  }
  char* d = field.data();
  const char* t = text.data();
  if (n >= 8 && n <= 16) {
    std::uint64_t a, b;
    std::memcpy(&a, t, 8);
    std::memcpy(&b, t + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4 && n < 8) {
    std::uint32_t a, b;
    std::memcpy(&a, t, 4);
    std::memcpy(&b, t + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else if (n > 0 && n < 4) {
    d[0] = t[0];
    d[n / 2] = t[n / 2];
    d[n - 1] = t[n - 1];
  } else if (n > 16) {
    std::memcpy(d, t, n);
  }
}

void write_day(Series& s, int i, const DayView& d) {
  SeriesRecord& r = slot(s, i);
  put(r.d1_code_yyyymmdd, d[0]);
  put(r.d2, d[1]);
  put(r.d3, d[2]);
  put(r.d4, d[3]);
  put(r.d5, d[4]);
  put(r.d6, d[5]);
}

void write_gap(Series& s, int i, std::string_view date) {
  SeriesRecord& r = slot(s, i);
  r.d1_code_yyyymmdd.assign(date);
  r.d2.clear();
  r.d3.clear();
  r.d4.clear();
  r.d5.clear();
  r.d6.assign("0");
}

void write_header(Series& s, const std::array<std::string_view, 6>& h) {
  SeriesRecord& r = slot(s, 0);
  r.d1_code_yyyymmdd.assign(h[0]);
  r.d2 = cp932_to_utf8(h[1]);
  r.d3 = cp932_to_utf8(h[2]);
}

void finish_header(Series& s, int n) {
  SeriesRecord& r = s[0];
  r.d6 = std::to_string(n);
  r.d4 = s[static_cast<std::size_t>(n)].d1_code_yyyymmdd;
  r.d5 = s[1].d1_code_yyyymmdd;
}

// A price already in its plain decimal form needs no rewrite when nothing rescales it.
bool is_plain_integer(const std::string& t) {
  if (t.empty() || t.size() > 15) return false;
  if (t.size() > 1 && t[0] == '0') return false;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

void rescale(std::string& field, double factor) {
  if (factor == 1.0 && is_plain_integer(field)) return;
  field = format_decimal(factor * parse_number(field));
}

// The corrections that rescale a load whose days span newest_year to oldest_year, newest
// first, as (date, numerator / denominator). Shared by the text and the number loads, so both
// take the same factors.
using CorrectionList = std::vector<std::pair<double, double>>;
void gather_corrections(const SeriesSource& src, std::string_view code, int newest_year,
                        int oldest_year, CorrectionList& list) {
  list.clear();
  const StoredStock* held = src.store ? src.store->stock(code) : nullptr;
  if (src.store && !held) return;
  thread_local CorrectionFile cf;
  const double as_of = src.as_of.empty() ? 0 : parse_number(src.as_of);
  for (int y = newest_year; y >= oldest_year && y >= kLowestYear - 100; --y) {
    const std::vector<Correction>* rows = nullptr;
    if (held) {
      auto it = held->corrections.find(y);
      if (it == held->corrections.end()) continue;
      rows = &it->second;
    } else {
      if (!src.year_folders().has_correction(y, code)) continue;
      if (!read_correction_file(correction_file_path(src.db_folder, y, code), cf)) continue;
      rows = &cf.rows;
    }
    for (auto it = rows->rbegin(); it != rows->rend(); ++it) {
      // A zero numerator or denominator would wipe out or blow up every older price.
      if (it->numerator == 0.0 || it->denominator == 0.0) continue;
      // A correction announced after the as-of day is not known yet.
      const double date = parse_number(it->date);
      if (!src.as_of.empty() && date > as_of) continue;
      list.emplace_back(date, it->numerator / it->denominator);
    }
  }
}

// Rescales every price before each correction's date; the volume is never touched.
// `prices_plain`: every day record holds plain integer prices (a gap day has none), so where
// the factor is 1 nothing changes and the record need not be looked at.
void apply_split_adjustment(const SeriesSource& src, std::string_view code, Series& s, int n,
                            bool prices_plain) {
  thread_local CorrectionList list;
  gather_corrections(src, code, year_of(s[0].d5), year_of(s[0].d4), list);
  double factor = 1.0;
  std::size_t pending = 0;
  for (int i = 1; i <= n; ++i) {
    SeriesRecord& r = s[static_cast<std::size_t>(i)];
    if (pending < list.size() && list[pending].first > parse_number(r.d1_code_yyyymmdd)) {
      factor = list[pending].second * factor;
      ++pending;
    }
    if (factor == 1.0 && prices_plain && !r.d2.empty()) continue;
    rescale(r.d2, factor);
    rescale(r.d3, factor);
    rescale(r.d4, factor);
    rescale(r.d5, factor);
  }
}

void finish_load(const SeriesSource& src, std::string_view code, Series& s, int n, bool adjust,
                 bool prices_plain = false) {
  finish_header(s, n);
  if (adjust) apply_split_adjustment(src, code, s, n, prices_plain);
  s[0].d3 = clean_company_marker(s[0].d3);
}

// The merge of load_series_cal for one year of the stock: passes over the days after the end
// date (first year only), then lays the days onto the calendar, writing gap days for calendar
// dates the stock lacks. Shared by the file and the in-memory paths so both give the same text.
// Equal texts; dates are eight bytes and compare as one word.
inline bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() == 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data(), 8);
    std::memcpy(&y, b.data(), 8);
    return x == y;
  }
  return a == b;
}

template <class Year>
void merge_year(const Year& stock, double end, int wanted, const TradingCalendar& cal,
                Series& series, int& n, bool& header_done, bool& prices_plain) {
  std::size_t k = 0;
  if (n == 0) k = stock.count_after(end);
  const int before = n;
  if (!stock.prices_plain()) prices_plain = false;
  for (; k < stock.size() && n < wanted; ++k) {
    const DayView d = stock.newest(k);
    while (n < wanted && !same_text(d[0], cal.at(n + 1))) {
      write_gap(series, n + 1, cal.at(n + 1));
      ++n;
    }
    if (n >= wanted) break;
    write_day(series, n + 1, d);
    ++n;
  }
  if (!header_done && n > before) {
    write_header(series, stock.head());
    header_done = true;
  }
}

}  // namespace

std::string_view SeriesSource::effective_end(std::string_view end_date) const {
  if (as_of.empty() || parse_number(as_of) >= parse_number(end_date)) return end_date;
  return as_of;
}

int series_count(const Series& series) {
  if (series.empty()) return 0;
  return static_cast<int>(parse_integer(series[0].d6));
}

std::string today_yyyymmdd(const Platform& platform) {
  if (platform.today) return platform.today();
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return buf;
}

int build_trading_calendar(const SeriesSource& src, TradingCalendar& cal, std::string_view end_date,
                           int count) {
  cal.dates.clear();
  cal.numbers.clear();
  end_date = src.effective_end(end_date);
  const double end = parse_number(end_date);
  const int first_year = year_of(end_date);
  std::vector<std::string_view> dates;
  std::string bytes;
  const StoredStock* ref = src.store ? src.store->stock(src.reference_code) : nullptr;
  for (int y = first_year; y >= first_year - 10; --y) {
    if (cal.count() >= count) break;  // later years would add nothing
    if (src.store) {
      const StoredYear* sy = ref ? ref->year(y) : nullptr;
      if (!sy) continue;
      const HeldYear held{sy};
      dates.clear();
      for (std::size_t k = 0; k < held.size(); ++k) dates.push_back(held.newest(k)[0]);
    } else if (!read_reference_dates(series_file_path(src.db_folder, y, src.reference_code), dates,
                                     bytes)) {
      continue;
    }
    for (std::string_view d : dates) {
      if (cal.count() >= count) break;
      if (parse_number(d) <= end) cal.dates.emplace_back(d);
    }
  }
  for (const std::string& d : cal.dates) cal.numbers.push_back(plain_date(d));
  return cal.dates.empty() ? -1 : 0;
}

int load_series(const SeriesSource& src, std::string_view end_date, int day_count,
                std::string_view code, Series& series, bool adjust) {
  end_date = src.effective_end(end_date);
  const double end = parse_number(end_date);
  const int first_year = year_of(end_date);
  const int wanted = day_count;
  int taken = 0;  // calendar days taken over all years, with or without the stock's file
  int n = 0;      // day records written
  std::vector<std::string_view> ref_dates;
  std::string ref_bytes;
  std::vector<std::string> cal;  // this year's calendar days, newest first
  StockYear stock;
  slot(series, 0);
  for (int y = first_year; y >= kLowestYear; --y) {
    if (taken >= wanted) break;  // no calendar day is left to take: nothing more can be written
    if (!read_reference_dates(series_file_path(src.db_folder, y, src.reference_code), ref_dates,
                              ref_bytes)) {
      continue;
    }
    cal.clear();
    for (std::string_view d : ref_dates) {
      if (parse_number(d) > end) continue;
      if (taken >= wanted) break;
      cal.emplace_back(d);
      ++taken;
    }
    yield_now(src.yield);
    if (!read_stock_year(series_file_path(src.db_folder, y, code), stock)) continue;
    if (n == 0) write_header(series, stock.header);
    std::size_t k = 0;
    if (!cal.empty()) {
      const double newest = parse_number(cal.front());
      while (k < stock.size() && parse_number(stock.newest(k)[0]) > newest) ++k;
    }
    for (const std::string& day : cal) {
      if (k < stock.size() && parse_number(stock.newest(k)[0]) == parse_number(day)) {
        write_day(series, n + 1, stock.newest(k));
        ++k;
      } else {
        write_gap(series, n + 1, day);
      }
      ++n;
    }
    if (n >= wanted) break;
  }
  if (n == 0) {
    SeriesRecord& r = series[0];
    r = SeriesRecord{std::string(code), "", "", "", "", "0"};
    return -1;
  }
  finish_load(src, code, series, n, adjust);
  return 0;
}

namespace {

// Indexes a year file for a load that has taken `n` of its `wanted` calendar days, only as far
// back as the load can reach: the days still wanted and, in the first year read, the days
// after the end that it passes over. Those are found by indexing a few lines more than wanted,
// and every line when more than those few lie after the end.
bool index_for_load(StoredYear& year, int n, int wanted, double end, IndexedNumbers numbers) {
  const std::size_t still = static_cast<std::size_t>(std::max(wanted - n, 0));
  if (n > 0) return index_plain_year(year, still, numbers);
  constexpr std::size_t kBeyond = 16;
  const std::size_t lines = still + kBeyond;
  if (!index_plain_year(year, lines, numbers)) return false;
  if (year.size() < lines || HeldYear{&year}.count_after(end) <= kBeyond) return true;
  return index_plain_year(year, SIZE_MAX, numbers);
}

// The stock's years as the loads walk them, newest first, up to the end date's year and down
// to `lowest_year`, while `n` (the calendar days taken, which `visit` advances) is below
// `wanted`. Each year goes to `visit` as a HeldYear (the in-memory market's, or a file of the
// usual shape indexed as the market indexes it, its days cut out at the recorded commas) or as
// a StockYear (any other file, through the field reader); `visit` returns false to stop the
// walk. False when the in-memory market does not hold the stock or a visit stopped the walk.
// `numbers`: what a file's index reads as numbers (the text loads read none).
template <class Visit>
bool walk_years(const SeriesSource& src, std::string_view code, int first_year, int lowest_year,
                double end, int wanted, const int& n, const Visit& visit,
                IndexedNumbers numbers = IndexedNumbers::kNone) {
  if (src.store) {
    const StoredStock* held = src.store->stock(code);
    if (!held) return false;
    for (const StoredYear& sy : held->years) {  // newest first, as the file loop runs
      if (n >= wanted) break;
      if (sy.year > first_year) continue;
      if (sy.year < lowest_year) break;
      if (!visit(HeldYear{&sy})) return false;
    }
    return true;
  }
  thread_local StoredYear plain_year;
  thread_local StockYear stock;
  SeriesSource::Folders& dirs = src.year_folders();
  const std::string file_name = std::string(code) + ".csv";
  for (int y = first_year; y >= lowest_year && n < wanted; --y) {
    const int dir_fd = dirs.year(y).series_fd;
    if (dir_fd < 0) continue;
    if (!read_file_bytes_at(dir_fd, file_name.c_str(), plain_year.bytes)) continue;
    // Lines older than the load can reach are only checked.
    const bool plain = index_for_load(plain_year, n, wanted, end, numbers);
    if (!plain) parse_stock_year(stock, plain_year.bytes);
    yield_now(src.yield);
    if (!(plain ? visit(HeldYear{&plain_year}) : visit(stock))) return false;
  }
  return true;
}

// merge_year's walk over one year without writing a record: the same days passed over, the
// same gap days, counting the laid-out days that traded.
template <class Year>
void count_year(const Year& stock, double end, int wanted, const TradingCalendar& cal, int& n,
                int& traded) {
  std::size_t k = 0;
  if (n == 0) k = stock.count_after(end);
  for (; k < stock.size() && n < wanted; ++k) {
    const DayView d = stock.newest(k);
    while (n < wanted && !same_text(d[0], cal.at(n + 1))) ++n;
    if (n >= wanted) break;
    ++n;
    if (parse_number(d[5]) > 0) ++traded;
  }
}

}  // namespace

int load_series_cal(const SeriesSource& src, std::string_view end_date, int day_count,
                    std::string_view code, const TradingCalendar& cal, Series& series, bool adjust,
                    int lowest_year) {
  end_date = src.effective_end(end_date);
  // The market ends at the calendar's newest day (the reference series'): a stock's day after
  // it belongs to a day still being written, or one the reference does not know, and is left
  // out like a day after the end date.
  const double end = std::min(parse_number(end_date), calendar_end(cal));
  const int wanted = std::min(day_count, cal.count());  // no gap day without a calendar date
  int n = 0;
  bool header_done = false;
  bool prices_plain = true;
  walk_years(src, code, year_of(end_date), lowest_year, end, wanted, n, [&](const auto& year) {
    merge_year(year, end, wanted, cal, series, n, header_done, prices_plain);
    return true;
  });
  if (n == 0) return -1;
  finish_load(src, code, series, n, adjust, prices_plain);
  return 0;
}

int count_traded_days(const SeriesSource& src, std::string_view end_date, int day_count,
                      std::string_view code, const TradingCalendar& cal, int lowest_year) {
  end_date = src.effective_end(end_date);
  const double end = std::min(parse_number(end_date), calendar_end(cal));
  const int wanted = std::min(day_count, cal.count());
  int n = 0, traded = 0;
  walk_years(src, code, year_of(end_date), lowest_year, end, wanted, n, [&](const auto& year) {
    count_year(year, end, wanted, cal, n, traded);
    return true;
  });
  return n == 0 ? -1 : traded;
}

}  // namespace lp

namespace lp {

void SeriesNumbers::resize(int n) {
  const std::size_t size = static_cast<std::size_t>(n) + 1;
  if (close.size() >= size) return;
  for (auto* v : {&open, &high, &low, &close, &volume}) v->resize(size);
}

void series_numbers(const Series& series, SeriesNumbers& out) {
  long long n = series.empty() ? 0 : parse_integer(series[0].d6);
  const long long held = static_cast<long long>(series.size()) - 1;
  if (n > held) n = held;
  out.count = n < 0 ? 0 : static_cast<int>(n);
  out.code = series.empty() ? std::string() : series[0].d1_code_yyyymmdd;
  out.resize(out.count);
  for (int i = 1; i <= out.count; ++i) {
    const SeriesRecord& r = series[static_cast<std::size_t>(i)];
    const auto k = static_cast<std::size_t>(i);
    out.open[k] = parse_number(r.d2);
    out.high[k] = parse_number(r.d3);
    out.low[k] = parse_number(r.d4);
    out.close[k] = parse_number(r.d5);
    out.volume[k] = parse_number(r.d6);
  }
}

namespace {

// What the adjustment of the text makes of a price: the rescaled text read back.
double rescaled(double v, double factor) {
  return parse_number(format_decimal(factor * v));
}

// The first `wanted` calendar dates as numbers into dates[1..wanted]; false when one is not
// eight digits (the number loads compare dates as numbers, the text loads as texts).
bool calendar_numbers(const TradingCalendar& cal, int wanted, std::vector<std::int32_t>& dates) {
  dates.resize(static_cast<std::size_t>(std::max(wanted, 0)) + 1);
  // The calendar's numbers when they are there and still belong to its dates.
  const bool numbered =
      cal.numbers.size() == cal.dates.size() && wanted > 0 &&
      cal.numbers[0] == plain_date(cal.at(1)) &&
      cal.numbers[static_cast<std::size_t>(wanted - 1)] == plain_date(cal.at(wanted));
  for (int i = 1; i <= wanted; ++i) {
    const auto k = static_cast<std::size_t>(i);
    dates[k] = numbered ? cal.numbers[k - 1] : plain_date(cal.at(i));
    if (dates[k] < 0) return false;
  }
  return true;
}

// The numbers of a load as it goes: the calendar's dates, each day record's date, the count.
struct NumberMerge {
  const std::vector<std::int32_t>& cal_dates;
  std::vector<std::int32_t>& dates;
  SeriesNumbers& out;
  double end;
  int wanted;
  int n = 0;
  bool coded = false;  // out.code taken from the header of the first year that gave a day
};

// merge_year on numbers, for a year whose numbers stand for its text (StoredYear::numeric()):
// the same days, gap days and stops, each number what the lenient reader reads from the text
// the text load writes. `ref` (may be null): the reference code's year, whose count of days up
// to the end most stocks share.
void merge_numbers_year(const StoredYear& sy, const StoredYear* ref, NumberMerge& m) {
  const auto after_end = [](double e, std::int32_t d) { return e < static_cast<double>(d); };
  const std::size_t size = sy.size();
  const double end = m.end;
  const int wanted = m.wanted;
  SeriesNumbers& out = m.out;
  int n = m.n;
  const int before = n;
  std::size_t k = 0;
  if (n == 0) {
    // The days after the end. Most stocks trade on the reference code's days, so its count
    // of days up to the end (its year is in cache for every load) is tried first: a search
    // through each stock's dates would miss the cache at every step.
    std::size_t upto = size + 1;
    if (ref && ref->ascending) {
      upto = static_cast<std::size_t>(
          std::upper_bound(ref->dates.begin(), ref->dates.end(), end, after_end) -
          ref->dates.begin());
      if (upto > size || (upto > 0 && sy.dates[upto - 1] > end) ||
          (upto < size && !(sy.dates[upto] > end)))
        upto = size + 1;
    }
    if (upto > size) {
      upto = static_cast<std::size_t>(
          std::upper_bound(sy.dates.begin(), sy.dates.end(), end, after_end) - sy.dates.begin());
    }
    k = size - upto;
  }
  const bool with_prices = out.want_prices;
  // A held year keeps its open, high and low as numbers, and a loader's scratch year reads
  // them at its indexing (numbers_from_files asks for them when prices are wanted).
  const double* ohl_all = with_prices ? sy.open_high_low() : nullptr;
  auto put_gap = [&](int i) {
    const auto g = static_cast<std::size_t>(i);
    m.dates[g] = m.cal_dates[g];
    out.open[g] = out.high[g] = out.low[g] = out.close[g] = out.volume[g] = 0;
  };
  for (; k < size && n < wanted; ++k) {
    const std::size_t line = size - 1 - k;
    const std::int32_t d = sy.dates[line];
    while (n < wanted && d != m.cal_dates[static_cast<std::size_t>(n + 1)]) put_gap(++n);
    if (n >= wanted) break;
    ++n;
    const auto i = static_cast<std::size_t>(n);
    const double* cv = sy.close_volume.data() + 2 * line;
    // The days are read backwards through memory: ask for those a few lines on in time.
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(cv) - 256));
    m.dates[i] = d;
    out.close[i] = cv[0];
    out.volume[i] = cv[1];
    if (!with_prices) {
      out.open[i] = out.high[i] = out.low[i] = 0;
    } else {
      const double* ohl = ohl_all + 3 * line;
      __builtin_prefetch(
          reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(ohl) - 384));
      out.open[i] = ohl[0];
      out.high[i] = ohl[1];
      out.low[i] = ohl[2];
    }
  }
  m.n = n;
  if (!m.coded && n > before) {
    FieldReader header(sy.bytes);
    out.code.assign(header.next_or_empty());
    m.coded = true;
  }
}

// apply_split_adjustment on the numbers of n day records: each rescaled price is what the
// lenient reader reads from the rescaled text.
void adjust_numbers(const CorrectionList& list, const std::vector<std::int32_t>& dates,
                    SeriesNumbers& out, int n) {
  if (list.empty()) return;  // nothing rescales a traded day; a gap day's prices read 0 already
  const bool with_prices = out.want_prices;
  double factor = 1.0;
  std::size_t pending = 0;
  for (int i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (pending < list.size() && list[pending].first > static_cast<double>(dates[k])) {
      factor = list[pending].second * factor;
      ++pending;
    }
    if (factor == 1.0) continue;  // plain prices stay; a gap day's read 0 already
    if (!with_prices) {
      out.close[k] = rescaled(out.close[k], factor);
      continue;
    }
    for (auto* col : {&out.open, &out.high, &out.low, &out.close}) {
      (*col)[k] = rescaled((*col)[k], factor);
    }
  }
}

// The end of a number load: its status and, when asked, the split adjustment.
int finish_numbers(const SeriesSource& src, std::string_view code, NumberMerge& m, bool adjust) {
  m.out.count = m.n;
  if (m.n == 0) return -1;
  if (adjust) {
    thread_local CorrectionList list;
    gather_corrections(src, code, m.dates[1] / 10000,
                       m.dates[static_cast<std::size_t>(m.n)] / 10000, list);
    adjust_numbers(list, m.dates, m.out, m.n);
  }
  return 0;
}

// A merge on numbers for `day_count` days ending at `end_date`: the calendar's dates as numbers
// and the output sized. Nothing when the calendar is not of eight-digit dates. The scratch is
// one per thread: a load never nests.
std::optional<NumberMerge> start_number_merge(const TradingCalendar& cal, std::string_view end_date,
                                              int day_count, SeriesNumbers& out) {
  thread_local std::vector<std::int32_t> cal_dates, dates;
  NumberMerge m{cal_dates, dates, out, std::min(parse_number(end_date), calendar_end(cal)),
                std::max(0, std::min(day_count, cal.count()))};
  if (!calendar_numbers(cal, m.wanted, cal_dates)) return std::nullopt;
  dates.resize(cal_dates.size());
  out.resize(m.wanted);
  return m;
}

// load_series_cal's merge and split adjustment done on the store's numbers: the same days,
// gaps and factors, each number what the lenient reader reads from the text the loader would
// have written. False when a year or the calendar is not of the plain kind this needs.
bool numbers_from_store(const SeriesSource& src, std::string_view end_date, int day_count,
                        std::string_view code, const TradingCalendar& cal, SeriesNumbers& out,
                        bool adjust, int lowest_year, int& status) {
  const int first_year = year_of(end_date);
  const StoredStock* held = src.store->stock(code);
  if (!held) {
    status = -1;
    return true;
  }
  for (const StoredYear& sy : held->years) {
    if (sy.year <= first_year && sy.year >= lowest_year && !sy.numeric()) return false;
  }
  std::optional<NumberMerge> started = start_number_merge(cal, end_date, day_count, out);
  if (!started) return false;
  NumberMerge& m = *started;
  const StoredStock* ref = src.store->stock(src.reference_code);
  for (const StoredYear& sy : held->years) {  // newest first, as the file loop runs
    if (m.n >= m.wanted) break;
    if (sy.year > first_year) continue;
    if (sy.year < lowest_year) break;
    merge_numbers_year(sy, ref ? ref->year(sy.year) : nullptr, m);
  }
  status = finish_numbers(src, code, m, adjust);
  return true;
}

// The same from the files, each year indexed into a scratch year as the in-memory market
// indexes it. False (the text load then does it all) at the first year read that is not of
// the plain kind.
bool numbers_from_files(const SeriesSource& src, std::string_view end_date, int day_count,
                        std::string_view code, const TradingCalendar& cal, SeriesNumbers& out,
                        bool adjust, int lowest_year, int& status) {
  const int first_year = year_of(end_date);
  std::optional<NumberMerge> started = start_number_merge(cal, end_date, day_count, out);
  if (!started) return false;
  NumberMerge& m = *started;
  const bool walked = walk_years(
      src, code, first_year, lowest_year, m.end, m.wanted, m.n,
      [&](const auto& year) {
        if constexpr (std::is_same_v<decltype(year), const HeldYear&>) {
          if (!year.y->numeric()) return false;
          merge_numbers_year(*year.y, nullptr, m);
          return true;
        } else {
          return false;  // a file the field reader reads
        }
      },
      out.want_prices ? IndexedNumbers::kAll : IndexedNumbers::kCloseVolume);
  if (!walked) return false;
  status = finish_numbers(src, code, m, adjust);
  return true;
}

}  // namespace

SeriesPrefetch::SeriesPrefetch(const SeriesSource& src, std::string_view end_date) {
  if (!src.store) return;
  store_ = src.store.get();
  ref_ = store_->stock(src.reference_code);
  end_date = src.effective_end(end_date);
  end_ = parse_number(end_date);
  first_year_ = year_of(end_date);
}

void SeriesPrefetch::stage(std::string_view code, int step) const {
  if (!store_) return;
  const StoredStock* held = store_->stock(code);
  if (!held) return;
  if (step == 0) {
    __builtin_prefetch(held);
    return;
  }
  if (step == 1) {
    const char* years = reinterpret_cast<const char*>(held->years.data());
    for (std::size_t b = 0; b < std::min<std::size_t>(held->years.size(), 2) * sizeof(StoredYear);
         b += 64)
      __builtin_prefetch(years + b);
    return;
  }
  for (const StoredYear& sy : held->years) {
    if (sy.year > first_year_) continue;
    if (!sy.numeric() || sy.size() == 0) return;
    // Where the load will start: the reference code's count of days up to the end.
    std::size_t upto = sy.size();
    const auto* ref = static_cast<const StoredStock*>(ref_);
    if (const StoredYear* r = ref ? ref->year(sy.year) : nullptr; r && r->ascending) {
      upto = static_cast<std::size_t>(
          std::upper_bound(r->dates.begin(), r->dates.end(), end_,
                           [](double e, std::int32_t d) { return e < static_cast<double>(d); }) -
          r->dates.begin());
      upto = std::clamp<std::size_t>(upto, 1, sy.size());
    }
    __builtin_prefetch(sy.dates.data() + (upto - 1));
    __builtin_prefetch(sy.dates.data() + upto);
    const double* v = sy.close_volume.data() + 2 * (upto - 1);
    for (std::uintptr_t b = 0; b < 4; ++b)
      __builtin_prefetch(
          reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(v) - 64 * b));
    return;
  }
}

int load_series_numbers(const SeriesSource& src, std::string_view end_date, int day_count,
                        std::string_view code, const TradingCalendar& cal, SeriesNumbers& out,
                        bool adjust, Series& scratch, int lowest_year) {
  int status = -1;
  if (src.store ? numbers_from_store(src, src.effective_end(end_date), day_count, code, cal, out,
                                     adjust, lowest_year, status)
                : numbers_from_files(src, src.effective_end(end_date), day_count, code, cal, out,
                                     adjust, lowest_year, status)) {
    if (status != 0) out.count = 0;
    return status;
  }
  status = load_series_cal(src, end_date, day_count, code, cal, scratch, adjust, lowest_year);
  if (status == 0) {
    series_numbers(scratch, out);
  } else {
    out.count = 0;
  }
  return status;
}

}  // namespace lp
