#include "pricedb/formats.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"

namespace lp {

namespace fs = std::filesystem;

namespace {

std::string year_text(int year) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d", year);
  return buf;
}

// A header count as a safe loop bound: negative or absurd counts read nothing more than the
// file holds anyway, since every reader stops at the end of the data.
long long count_of(std::string_view field) {
  std::int64_t n = parse_integer(field);
  return n < 0 ? 0 : n;
}

// Room to reserve for `declared` records without trusting a damaged header.
std::size_t reserve_for(long long declared, std::size_t cap) {
  return static_cast<std::size_t>(std::min<long long>(declared, static_cast<long long>(cap)));
}

}  // namespace

std::string year_folder(const std::string& db_folder, int year) {
  return db_folder + year_text(year) + "/";
}

std::string day_file_path(const std::string& db_folder, std::string_view date) {
  return db_folder + std::string(date.substr(0, 4)) + "/data_d/" + std::string(date) + ".csv";
}

std::string series_file_path(const std::string& db_folder, int year, std::string_view code) {
  return year_folder(db_folder, year) + "data_m/" + std::string(code) + ".csv";
}

std::unordered_set<std::string> stored_stock_codes(const std::string& db_folder) {
  std::unordered_set<std::string> codes;
  for (int year : years_present(db_folder)) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(year_folder(db_folder, year) + "data_m", ec), end;
         !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".csv") == 0) {
        codes.insert(name.substr(0, name.size() - 4));
      }
    }
  }
  return codes;
}

std::string correction_file_path(const std::string& db_folder, int year, std::string_view code) {
  return year_folder(db_folder, year) + "data_mh/" + std::string(code) + ".csv";
}

bool read_day_file(const std::string& path, DayFile& out, bool decode_names) {
  std::string bytes;
  out = DayFile{};
  if (!read_file_bytes(path, bytes)) return false;
  parse_day_file(bytes, out, decode_names);
  return true;
}

void parse_day_file(std::string_view bytes, DayFile& out, bool decode_names) {
  FieldReader f(bytes);
  // The rows of a reused DayFile are refilled in place: their strings keep their room.
  out.date.assign(f.next_or_empty());
  out.declared = count_of(f.next_or_empty());
  f.skip(6);
  out.rows.reserve(reserve_for(out.declared, 6000));
  std::string_view v[8];
  std::size_t n = 0;
  for (long long i = 0; i < out.declared; ++i) {
    int got = 0;
    while (got < 8 && f.next(v[got])) ++got;
    if (got < 8) break;  // a truncated last line is not a stock
    if (n == out.rows.size()) out.rows.emplace_back();
    PriceRecord& r = out.rows[n++];
    r.code.assign(v[0]);
    if (decode_names) {
      r.market = cp932_to_utf8(v[1]);
      r.name = cp932_to_utf8(v[2]);
    } else {
      r.market.clear();
      r.name.clear();
    }
    r.open.assign(v[3]);
    r.high.assign(v[4]);
    r.low.assign(v[5]);
    r.close.assign(v[6]);
    r.volume.assign(v[7]);
  }
  out.rows.resize(n);
}

bool read_series_file(const std::string& path, SeriesFile& out) {
  CsvFile f;
  out = SeriesFile{};
  if (!f.open(path)) return false;
  std::string_view h[6];
  for (auto& x : h) x = f.next_or_empty();
  out.header = {std::string(h[0]), cp932_to_utf8(h[1]), cp932_to_utf8(h[2]),
                cp932_to_utf8(h[3]), std::string(h[4]), std::string(h[5])};
  long long n = count_of(h[5]);
  out.days.reserve(reserve_for(n, 400));
  std::string_view v[6];
  for (long long i = 0; i < n; ++i) {
    int got = 0;
    while (got < 6 && f.next(v[got])) ++got;
    if (got < 6) break;
    out.days.push_back({std::string(v[0]), std::string(v[1]), std::string(v[2]),
                        std::string(v[3]), std::string(v[4]), std::string(v[5])});
  }
  return true;
}

bool read_correction_file(const std::string& path, CorrectionFile& out) {
  std::string bytes;
  out = CorrectionFile{};
  if (!read_file_bytes(path, bytes)) return false;
  parse_correction_file(bytes, out);
  return true;
}

void parse_correction_file(std::string_view bytes, CorrectionFile& out) {
  FieldReader f(bytes);
  out = CorrectionFile{};
  out.code = std::string(f.next_or_empty());
  f.skip(1);
  long long n = count_of(f.next_or_empty());
  out.rows.reserve(reserve_for(n, 256));
  std::string_view v[3];
  for (long long i = 0; i < n; ++i) {
    int got = 0;
    while (got < 3 && f.next(v[got])) ++got;
    if (got < 3) break;
    out.rows.push_back({std::string(v[0]), parse_number(v[1]), parse_number(v[2])});
  }
}

bool read_series_dates(const std::string& path, std::vector<std::string>& newest_first,
                       long long limit) {
  newest_first.clear();
  CsvFile f;
  if (!f.open(path)) return false;
  f.skip(5);
  long long n = count_of(f.next_or_empty());
  newest_first.reserve(reserve_for(n, 400));
  std::string_view v[6];
  for (long long i = 0; i < n; ++i) {
    int got = 0;
    while (got < 6 && f.next(v[got])) ++got;
    if (got < 6) break;
    newest_first.emplace_back(v[0]);
  }
  std::reverse(newest_first.begin(), newest_first.end());
  if (limit >= 0 && static_cast<long long>(newest_first.size()) > limit) {
    newest_first.resize(static_cast<std::size_t>(limit));
  }
  return true;
}

namespace {

// The year a database subfolder stands for: its last four characters read as a number.
int year_of_folder(const std::string& name) {
  if (name.size() < 4) return 0;
  return static_cast<int>(parse_integer(std::string_view(name).substr(name.size() - 4)));
}

}  // namespace

std::vector<int> years_present(const std::string& db_folder) {
  std::set<int> years;
  std::error_code ec;
  for (fs::directory_iterator it(db_folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ec2;
    if (!it->is_directory(ec2)) continue;
    int y = year_of_folder(it->path().filename().string());
    if (y > 0) years.insert(y);
  }
  return {years.rbegin(), years.rend()};
}

bool year_present(const std::string& db_folder, int year) {
  auto ys = years_present(db_folder);
  return std::find(ys.begin(), ys.end(), year) != ys.end();
}

bool read_latest_date(const std::string& db_folder, const std::string& reference_code,
                      int current_year, int lowest_year, std::string& date) {
  for (int y = current_year; y >= lowest_year; --y) {
    CsvFile f;
    if (!f.open(series_file_path(db_folder, y, reference_code))) continue;
    f.skip(4);
    date = std::string(f.next_or_empty());
    return true;
  }
  return false;
}

bool is_day_file_name(std::string_view name) {
  return name.size() == 12 && name.substr(8) == ".csv" &&
         std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> day_files_of_year(const std::string& db_folder, int year) {
  std::vector<std::string> files;
  for (const fs::path& file : list_files(year_folder(db_folder, year) + "data_d")) {
    if (is_day_file_name(file.filename().string())) files.push_back(file.string());
  }
  return files;
}

}  // namespace lp
