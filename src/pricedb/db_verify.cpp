#include "pricedb/db_verify.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/price_writer.h"

namespace lp {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kCrLf = "\r\n";

int year_of_date(std::string_view date) {
  return static_cast<int>(parse_integer(date.substr(0, 4)));
}

// The folder's entries that are plain files named "*.csv", by stem (temporary files are not).
std::vector<std::string> csv_stems(const std::string& folder) {
  std::vector<std::string> stems;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (is_temp_file_name(name) || name.size() <= 4 || name.substr(name.size() - 4) != ".csv")
      continue;
    std::error_code e2;
    if (!it->is_regular_file(e2)) continue;
    stems.push_back(name.substr(0, name.size() - 4));
  }
  std::sort(stems.begin(), stems.end());
  return stems;
}

// True when `folder` holds no file at all, in any of its subfolders. A link to a folder is
// never empty: what it points at is not the database's to judge or remove.
bool holds_no_file(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_symlink(fs::path(folder.native().substr(0, folder.native().find_last_not_of('/') + 1)),
                     ec))
    return false;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code e2;
    if (!it->is_directory(e2) || it->is_symlink(e2)) return false;
  }
  return !ec;
}

// Raw CP932 lines of a day file, as a repair rewrites them.
struct RawRow {
  std::string code, segment, name, prices;  // prices: "open,high,low,close,volume"
};
struct RawDay {
  bool read = false;
  std::vector<std::string> head;  // the header's fields
  std::vector<RawRow> rows;
  // The first row's code as written: the J-Quants writer puts the reference's row first, the
  // maker's files keep plain code order, and a rebuilt file follows its neighbours.
  std::string first_code;
};

std::string join_fields(const std::string_view* f, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    if (i) out += ',';
    out += f[i];
  }
  return out;
}

RawDay read_raw_day(const std::string& path) {
  RawDay day;
  std::string bytes;
  if (!read_file_bytes(path, bytes)) return day;
  day.read = true;
  FieldReader r(bytes);
  std::string_view h[8];
  for (auto& f : h) {
    r.next(f);
    day.head.emplace_back(f);
  }
  const long long declared = std::max<std::int64_t>(0, parse_integer(h[1]));
  std::string_view v[8];
  for (long long i = 0; i < declared; ++i) {
    int got = 0;
    while (got < 8 && r.next(v[got])) ++got;
    if (got < 8) break;
    day.rows.push_back(
        {std::string(v[0]), std::string(v[1]), std::string(v[2]), join_fields(v + 3, 5)});
  }
  if (!day.rows.empty()) day.first_code = day.rows.front().code;
  return day;
}

// Raw CP932 header and day lines of a series file.
struct RawSeries {
  bool read = false;
  std::string segment, name;
  std::map<std::string, std::string> lines;  // date -> "open,high,low,close,volume"
};

RawSeries read_raw_series(const std::string& path) {
  RawSeries s;
  std::string bytes;
  if (!read_file_bytes(path, bytes)) return s;
  s.read = true;
  FieldReader r(bytes);
  std::string_view h[6];
  for (auto& f : h) r.next(f);
  s.segment = h[1];
  s.name = h[2];
  const long long n = std::max<std::int64_t>(0, parse_integer(h[5]));
  std::string_view v[6];
  for (long long i = 0; i < n; ++i) {
    int got = 0;
    while (got < 6 && r.next(v[got])) ++got;
    if (got < 6) break;
    s.lines.emplace(std::string(v[0]), join_fields(v + 1, 5));
  }
  return s;
}

std::string series_bytes(const std::string& code, const RawSeries& s) {
  std::string out = code + "," + csv_safe_text(s.segment, TextEncoding::cp932) + "," +
                    csv_safe_text(s.name, TextEncoding::cp932) + ",";
  if (!s.lines.empty()) out += s.lines.begin()->first;
  out += ',';
  if (!s.lines.empty()) out += s.lines.rbegin()->first;
  out += "," + std::to_string(s.lines.size());
  out += kCrLf;
  for (const auto& [date, prices] : s.lines) {
    out += date;
    out += ',';
    out += prices;
    out += kCrLf;
  }
  return out;
}

std::string row_line(const RawRow& r) {
  return r.code + "," + csv_safe_text(r.segment, TextEncoding::cp932) + "," +
         csv_safe_text(r.name, TextEncoding::cp932) + "," + r.prices;
}

// Removes a folder tree that holds no file: its empty subfolders first, deepest first.
void remove_empty_tree(const fs::path& folder) {
  std::vector<fs::path> dirs;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code e2;
    if (it->is_directory(e2) && !it->is_symlink(e2)) dirs.push_back(it->path());
  }
  std::sort(dirs.begin(), dirs.end(), [](const fs::path& a, const fs::path& b) {
    return a.native().size() > b.native().size();
  });
  for (const fs::path& d : dirs) fs::remove(d, ec);  // fails, harmlessly, on a folder with files
  fs::remove(folder, ec);
}

}  // namespace

std::string DbProblem::text() const {
  std::string out = (date.empty() ? "-" : date) + " " + (code.empty() ? "-" : code) + ": ";
  switch (kind) {
    case DbProblemKind::series_lacks_day:
      return out + "時系列ファイルにこの日がありません（日足ファイルにはあります）";
    case DbProblemKind::day_file_lacks_stock:
      return out + "日足ファイルにこの銘柄がありません（時系列ファイルにはあります）";
    case DbProblemKind::no_day_file:
      return out + "日足ファイルがありません（基準コードの暦にはある日です）";
    case DbProblemKind::not_in_calendar:
      return out + "基準コードの暦にこの日がありません（日足ファイルはあります）";
    case DbProblemKind::series_day_only:
      return out + "時系列ファイルにある日の日足ファイルがなく、基準コードの暦にもありません";
    case DbProblemKind::after_newest: {
      out += "基準コードの最新日より後の日です（";
      if (!path.empty()) out += "日足ファイル";
      if (!path.empty() && !codes.empty()) out += "、";
      if (!codes.empty()) out += std::to_string(codes.size()) + " 銘柄の時系列ファイル";
      return out + "）";
    }
    case DbProblemKind::temp_file:
      return out + "一時ファイルが残っています: " + path;
    case DbProblemKind::empty_year_folder:
      return out + "空の年フォルダがあります: " + path;
    case DbProblemKind::unreadable:
      return out + "読めません: " + path;
  }
  return out;
}

VerifyReport verify_database(const std::string& db, const std::string& ref) {
  VerifyReport report;
  auto add = [&](DbProblemKind kind, std::string date, std::string code, std::string path = {}) {
    report.problems.push_back({kind, std::move(date), std::move(code), std::move(path), {}});
  };

  // Leftovers first: temporary files anywhere, year folders without a file.
  std::error_code ec;
  std::vector<std::string> temps;
  for (fs::recursive_directory_iterator it(db, fs::directory_options::none, ec), end;
       !ec && it != end; it.increment(ec)) {
    if (is_temp_file_name(it->path().filename().string())) temps.push_back(it->path().string());
  }
  std::sort(temps.begin(), temps.end());
  for (std::string& t : temps) add(DbProblemKind::temp_file, {}, {}, std::move(t));
  std::vector<int> years = years_present(db);
  std::reverse(years.begin(), years.end());
  for (int y : years) {
    if (holds_no_file(year_folder(db, y)))
      add(DbProblemKind::empty_year_folder, {}, {}, year_folder(db, y));
  }

  // The calendar: the reference's days of every year.
  std::map<int, std::vector<std::string>> calendar;
  for (int y : years) {
    std::vector<std::string> dates;
    read_series_dates(series_file_path(db, y, ref), dates);
    std::sort(dates.begin(), dates.end());
    if (!dates.empty() && dates.back() > report.newest) report.newest = dates.back();
    calendar[y] = std::move(dates);
  }

  for (int y : years) {
    const std::string year_text = std::to_string(y);
    // Each day's stocks as the series files hold them.
    std::map<std::string, std::vector<std::string>> series_codes;
    const std::string series_folder = year_folder(db, y) + "data_m/";
    for (const std::string& code : csv_stems(series_folder)) {
      std::vector<std::string> dates;
      if (!read_series_dates(series_folder + code + ".csv", dates)) {
        add(DbProblemKind::unreadable, {}, code, series_folder + code + ".csv");
        continue;
      }
      ++report.series_files;
      for (const std::string& d : dates) {
        if (d.size() == 8 && d.compare(0, 4, year_text) == 0) series_codes[d].push_back(code);
      }
    }
    // Each day's stocks as the day files hold them.
    std::map<std::string, std::vector<std::string>> day_codes;
    const std::string day_folder = year_folder(db, y) + "data_d/";
    for (const std::string& stem : csv_stems(day_folder)) {
      if (!is_day_file_name(stem + ".csv") || stem.compare(0, 4, year_text) != 0) continue;
      DayFile day;
      if (!read_day_file(day_folder + stem + ".csv", day, false)) {
        add(DbProblemKind::unreadable, stem, {}, day_folder + stem + ".csv");
        continue;
      }
      ++report.days;
      std::vector<std::string>& codes = day_codes[stem];
      for (const PriceRecord& r : day.rows) codes.push_back(trim_blanks(r.code));
    }

    const std::vector<std::string>& cal = calendar[y];
    std::set<std::string> dates(cal.begin(), cal.end());
    for (const auto& [d, c] : series_codes) dates.insert(d);
    for (const auto& [d, c] : day_codes) dates.insert(d);
    for (const std::string& date : dates) {
      std::vector<std::string> in_series, in_day;
      if (auto it = series_codes.find(date); it != series_codes.end()) in_series = it->second;
      const auto day_it = day_codes.find(date);
      const bool has_day = day_it != day_codes.end();
      if (has_day) in_day = day_it->second;
      std::sort(in_series.begin(), in_series.end());
      std::sort(in_day.begin(), in_day.end());
      in_day.erase(std::unique(in_day.begin(), in_day.end()), in_day.end());
      const bool in_cal = std::binary_search(cal.begin(), cal.end(), date);
      if (!report.newest.empty() && date > report.newest) {
        DbProblem p{DbProblemKind::after_newest, date, {}, {}, in_series};
        if (has_day) p.path = day_file_path(db, date);
        report.problems.push_back(std::move(p));
        continue;
      }
      if (!has_day) {
        if (in_cal) {
          add(DbProblemKind::no_day_file, date, ref);
        } else {
          for (const std::string& code : in_series) add(DbProblemKind::series_day_only, date, code);
        }
        continue;
      }
      if (!in_cal) add(DbProblemKind::not_in_calendar, date, ref);
      std::vector<std::string> only;
      std::set_difference(in_day.begin(), in_day.end(), in_series.begin(), in_series.end(),
                          std::back_inserter(only));
      for (const std::string& code : only) {
        // The reference's own day is the calendar's problem above.
        if (code == ref && !in_cal) continue;
        add(DbProblemKind::series_lacks_day, date, code);
      }
      only.clear();
      std::set_difference(in_series.begin(), in_series.end(), in_day.begin(), in_day.end(),
                          std::back_inserter(only));
      for (const std::string& code : only) add(DbProblemKind::day_file_lacks_stock, date, code);
    }
  }
  return report;
}

RepairReport repair_database(const std::string& db, const std::string& ref,
                             const VerifyReport& found) {
  RepairReport report;
  // Files read once, however many problems name them.
  std::map<std::string, RawDay> days;
  std::map<std::pair<int, std::string>, RawSeries> series;
  auto raw_day = [&](const std::string& date) -> RawDay& {
    auto it = days.find(date);
    if (it == days.end()) it = days.emplace(date, read_raw_day(day_file_path(db, date))).first;
    return it->second;
  };
  auto raw_series = [&](int year, const std::string& code) -> RawSeries& {
    const auto key = std::make_pair(year, code);
    auto it = series.find(key);
    if (it == series.end())
      it = series.emplace(key, read_raw_series(series_file_path(db, year, code))).first;
    return it->second;
  };
  auto row_of = [](const RawDay& day, const std::string& code) -> const RawRow* {
    for (const RawRow& r : day.rows) {
      if (r.code == code) return &r;
    }
    return nullptr;
  };

  // What to write: the files changed, each once.
  std::set<std::string> day_changed;                     // dates
  std::set<std::pair<int, std::string>> series_changed;  // (year, code)
  std::vector<std::string> day_files_removed;
  std::vector<DbProblem> planned;
  auto cannot = [&](const DbProblem& p, std::string why) {
    report.not_repaired.emplace_back(p, std::move(why));
  };

  for (const DbProblem& p : found.problems) {
    const int year = p.date.empty() ? 0 : year_of_date(p.date);
    switch (p.kind) {
      case DbProblemKind::series_lacks_day: {
        const RawRow* row = row_of(raw_day(p.date), p.code);
        if (!row) {
          cannot(p, "日足ファイルを読めません");
          break;
        }
        RawSeries& s = raw_series(year, p.code);
        if (!s.read) {  // a stock's first day of the year: its series starts here
          s.segment = row->segment;
          s.name = row->name;
        }
        s.lines[p.date] = row->prices;
        series_changed.insert({year, p.code});
        planned.push_back(p);
        break;
      }
      case DbProblemKind::day_file_lacks_stock: {
        RawSeries& s = raw_series(year, p.code);
        const auto line = s.lines.find(p.date);
        RawDay& day = raw_day(p.date);
        if (line == s.lines.end() || !day.read) {
          cannot(p, "ファイルを読めません");
          break;
        }
        day.rows.push_back({p.code, s.segment, s.name, line->second});
        day_changed.insert(p.date);
        planned.push_back(p);
        break;
      }
      case DbProblemKind::no_day_file: {
        // Every stock whose series holds the day, the reference among them.
        RawDay& day = raw_day(p.date);
        day = RawDay{};
        day.read = true;
        day.first_code = ref;
        for (const std::string& other : csv_stems(year_folder(db, year) + "data_d/")) {
          if (!is_day_file_name(other + ".csv")) continue;
          day.first_code = read_raw_day(day_file_path(db, other)).first_code;
          break;
        }
        for (const std::string& code : csv_stems(year_folder(db, year) + "data_m/")) {
          const RawSeries& s = raw_series(year, code);
          if (const auto line = s.lines.find(p.date); line != s.lines.end())
            day.rows.push_back({code, s.segment, s.name, line->second});
        }
        day_changed.insert(p.date);
        planned.push_back(p);
        break;
      }
      case DbProblemKind::not_in_calendar: {
        const RawRow* row = row_of(raw_day(p.date), ref);
        if (!row) {
          cannot(p, "日足ファイルに基準コード " + ref + " の行がありません");
          break;
        }
        RawSeries& s = raw_series(year, ref);
        if (!s.read) {
          s.segment = row->segment;
          s.name = row->name;
        }
        s.lines[p.date] = row->prices;
        series_changed.insert({year, ref});
        planned.push_back(p);
        break;
      }
      case DbProblemKind::series_day_only:
        cannot(p, "この日の日足ファイルも基準コードの日もないため、元にできるものがありません");
        break;
      case DbProblemKind::after_newest: {
        for (const std::string& code : p.codes) {
          RawSeries& s = raw_series(year, code);
          s.lines.erase(s.lines.upper_bound(found.newest), s.lines.end());
          series_changed.insert({year, code});
        }
        if (!p.path.empty()) day_files_removed.push_back(p.path);
        planned.push_back(p);
        break;
      }
      case DbProblemKind::temp_file: {
        sweep_temp_file(p.path);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(p.path, ec)))
          cannot(p, "書き込み中のプロセスがあります");
        else
          report.repaired.push_back(p);
        break;
      }
      case DbProblemKind::empty_year_folder: {
        remove_empty_tree(p.path);
        std::error_code ec;
        if (fs::exists(p.path, ec))
          cannot(p, "削除できません");
        else
          report.repaired.push_back(p);
        break;
      }
      case DbProblemKind::unreadable:
        cannot(p, "ファイルを読めません");
        break;
    }
  }

  // Series first, then the day files, the reference's series last: a day counts once the
  // reference holds it, as with every writer. A failed write puts back what was written.
  FileBatch batch;
  std::vector<std::string> series_removed;
  auto write_series = [&](const std::pair<int, std::string>& key) {
    const RawSeries& s = series.at(key);
    const std::string path = series_file_path(db, key.first, key.second);
    if (s.lines.empty()) {
      if (s.read) series_removed.push_back(path);
      return true;
    }
    std::string old;
    const bool had = read_file_bytes(path, old);
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    return batch.write(path, series_bytes(key.second, s),
                       had ? std::optional<std::string>(std::move(old)) : std::nullopt,
                       report.error);
  };
  bool ok = true;
  for (const auto& key : series_changed) {
    if (key.second != ref && !(ok = write_series(key))) break;
  }
  for (auto it = day_changed.begin(); ok && it != day_changed.end(); ++it) {
    RawDay& day = days.at(*it);
    // By code, each once; the reference's row first where the file had it first.
    const bool ref_first = day.first_code == ref;
    std::stable_sort(day.rows.begin(), day.rows.end(), [&](const RawRow& a, const RawRow& b) {
      if (ref_first && (a.code == ref) != (b.code == ref)) return a.code == ref;
      return a.code < b.code;
    });
    day.rows.erase(std::unique(day.rows.begin(), day.rows.end(),
                               [](const RawRow& a, const RawRow& b) { return a.code == b.code; }),
                   day.rows.end());
    std::vector<std::string> head = day.head;
    if (head.size() < 8) head = {*it, "", "0", "0", "0", "0", "0", "0"};
    head[0] = *it;
    head[1] = std::to_string(day.rows.size());
    std::string bytes;
    for (std::size_t i = 0; i < head.size(); ++i) bytes += (i ? "," : "") + head[i];
    bytes += kCrLf;
    for (const RawRow& r : day.rows) {
      bytes += row_line(r);
      bytes += kCrLf;
    }
    const std::string path = day_file_path(db, *it);
    std::string old;
    const bool had = read_file_bytes(path, old);
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    ok = batch.write(path, bytes, had ? std::optional<std::string>(std::move(old)) : std::nullopt,
                     report.error);
  }
  for (const auto& key : series_changed) {
    if (ok && key.second == ref) ok = write_series(key);
  }
  if (!ok) {
    batch.rollback();
    report.error =
        "修復を書き込めませんでした: " + report.error + "（書き込んだ分は元に戻しました）";
    for (const DbProblem& p : planned) cannot(p, "書き込めません");
    return report;
  }
  // What no reader sees goes last.
  for (const std::string& path : day_files_removed) {
    std::error_code ec;
    fs::remove(path, ec);
  }
  for (const std::string& path : series_removed) {
    std::error_code ec;
    fs::remove(path, ec);
  }
  report.repaired.insert(report.repaired.end(), planned.begin(), planned.end());
  return report;
}

}  // namespace lp
