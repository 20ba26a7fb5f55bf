#include "pricedb/csv_import.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_json.h"
#include "pricedb/price_writer.h"
#include "pricedb/stock_code.h"

namespace lp {

namespace fs = std::filesystem;

namespace {

bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    if (c < 0x80) {
      n = 0;
    } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
      n = 1;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
    } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
      n = 3;
    } else {
      return false;
    }
    if (n > 0 && i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '"'))
    s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '"' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

std::vector<std::string_view> split(std::string_view line, char sep) {
  std::vector<std::string_view> out;
  for (std::size_t p = 0;;) {
    const std::size_t e = line.find(sep, p);
    out.push_back(trim(line.substr(p, e == std::string_view::npos ? e : e - p)));
    if (e == std::string_view::npos) return out;
    p = e + 1;
  }
}

enum Column { kDate, kOpen, kHigh, kLow, kClose, kVolume, kTicker, kPer, kColumns };

int column_of(std::string_view caption) {
  std::string c;
  for (char ch : caption) {
    if (ch == '<' || ch == '>') continue;
    c += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  static const std::pair<const char*, int> kNames[] = {
      {"date", kDate},  {"日付", kDate},     {"年月日", kDate},   {"open", kOpen},
      {"始値", kOpen},  {"high", kHigh},     {"高値", kHigh},     {"low", kLow},
      {"安値", kLow},   {"close", kClose},   {"終値", kClose},    {"volume", kVolume},
      {"vol", kVolume}, {"出来高", kVolume}, {"ticker", kTicker}, {"per", kPer}};
  for (const auto& [name, col] : kNames) {
    if (c == name) return col;
  }
  return -1;  // "Adj Close", <TIME>, <OPENINT> and anything else are ignored
}

std::string parse_date(std::string_view text) {
  std::string digits;
  if (text.size() == 8 && text.find_first_not_of("0123456789") == std::string_view::npos) {
    digits.assign(text);
  } else {
    // YYYY-MM-DD or YYYY/MM/DD, month and day with one or two digits.
    const char sep = text.size() > 4 ? text[4] : 0;
    if (sep != '-' && sep != '/') return {};
    const auto parts = split(text, sep);
    if (parts.size() != 3 || parts[0].size() != 4 || parts[1].empty() || parts[1].size() > 2 ||
        parts[2].empty() || parts[2].size() > 2) {
      return {};
    }
    digits = std::string(parts[0]) + (parts[1].size() == 1 ? "0" : "") + std::string(parts[1]) +
             (parts[2].size() == 1 ? "0" : "") + std::string(parts[2]);
  }
  return jquants::normalize_date(digits);
}

bool strict_number(std::string_view text, double& value) {
  const std::string t(text);
  if (t.empty()) return false;
  char* end = nullptr;
  value = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && std::isfinite(value);
}

std::string bar_fields(const CsvBar& b) {
  std::string s;
  for (double p : {b.open, b.high, b.low, b.close}) {
    s += ',';
    s += price_text(p);
  }
  s += ',';
  s += std::to_string(b.volume);
  return s;
}

// Header fields 2 and 3 of the stock's newest series file, CP932 ("" when it has none).
std::pair<std::string, std::string> stored_identity(const std::string& db,
                                                    const std::string& code) {
  for (int year : years_present(db)) {
    std::string bytes;
    if (read_file_bytes(series_file_path(db, year, code), bytes)) return series_identity(bytes);
  }
  return {};
}

std::optional<std::string> old_content(const std::string& path) {
  std::string bytes;
  if (!read_file_bytes(path, bytes)) return std::nullopt;
  return bytes;
}

bool make_year(const std::string& db, int year, std::string& error) {
  std::error_code ec;
  for (const char* sub : {"data_d", "data_m", "data_mh"}) {
    fs::create_directories(year_folder(db, year) + sub, ec);
    if (ec) {
      error = "cannot create " + year_folder(db, year) + sub;
      return false;
    }
  }
  return true;
}

bool rebuild_index(const std::string& db, const std::string& ref, FileBatch& batch,
                   std::string& error) {
  const std::string index_name = utf8_to_cp932(kEqualWeightIndexName);
  const std::string index_segment = utf8_to_cp932(kIndexSegment);
  std::vector<int> years = years_present(db);
  std::sort(years.begin(), years.end());
  for (int year : years) {
    std::string bytes;
    if (read_file_bytes(series_file_path(db, year, ref), bytes) &&
        series_identity(bytes).second != index_name) {
      error = "the reference code " + ref + " holds a series of its own; it was left as it is";
      return false;
    }
  }
  EqualWeightIndex index;
  for (int year : years) {
    // Corrections of the year by code and date, so a split does not move the index.
    std::unordered_map<std::string, std::vector<Correction>> corrections;
    std::error_code ec;
    for (fs::directory_iterator it(year_folder(db, year) + "data_mh", ec), end; !ec && it != end;
         it.increment(ec)) {
      CorrectionFile c;
      if (it->path().extension() == ".csv" && read_correction_file(it->path().string(), c)) {
        corrections[it->path().stem().string()] = c.rows;
      }
    }
    std::string ref_lines;
    std::string oldest, newest;
    std::size_t count = 0;
    for (const std::string& path : day_files_of_year(db, year)) {
      std::string old;
      if (!read_file_bytes(path, old)) continue;
      FieldReader r(old);
      std::string_view h[8];
      for (auto& f : h) r.next(f);
      const std::string date(h[0]);
      if (jquants::normalize_date(date) != date) continue;
      std::vector<StockBar> bars;
      std::string rows;
      long long n = std::max<std::int64_t>(0, parse_integer(h[1]));
      long long kept = 0;
      for (long long i = 0; i < n && !r.at_end(); ++i) {
        std::string_view f[8];
        for (auto& x : f) r.next(x);
        if (f[0] == ref) continue;
        StockBar b;
        b.code.assign(f[0]);
        b.close = parse_number(f[6]);
        b.volume = parse_integer(f[7]);
        if (auto c = corrections.find(b.code); c != corrections.end()) {
          for (const Correction& row : c->second) {
            if (row.date == date && row.denominator > 0)
              b.adj_factor = row.numerator / row.denominator;
          }
        }
        bars.push_back(std::move(b));
        for (int k = 0; k < 8; ++k) {
          if (k) rows += ',';
          rows += f[k];
        }
        rows += "\r\n";
        ++kept;
      }
      const double value = index.add_day(bars);
      long long volume = 0;
      for (const StockBar& b : bars) {
        if (b.volume < 0 || __builtin_add_overflow(volume, b.volume, &volume)) {
          error = "cannot sum the volumes of " + date + " (" + path + ")";
          return false;
        }
      }
      const std::string v = price_text(value);
      const std::string line =
          date + "," + v + "," + v + "," + v + "," + v + "," + std::to_string(volume);
      std::string day = date + "," + std::to_string(kept + 1) + ",0,0,0,0,0,0\r\n" + ref + "," +
                        index_segment + "," + index_name + line.substr(date.size()) + "\r\n" + rows;
      if (day != old && !batch.write(path, day, std::move(old), error)) return false;
      ref_lines += line + "\r\n";
      if (oldest.empty()) oldest = date;
      newest = date;
      ++count;
    }
    if (count == 0) continue;
    const std::string bytes = ref + "," + index_segment + "," + index_name + "," + oldest + "," +
                              newest + "," + std::to_string(count) + "\r\n" + ref_lines;
    const std::string rpath = series_file_path(db, year, ref);
    auto old = old_content(rpath);
    if ((!old || *old != bytes) && !batch.write(rpath, bytes, std::move(old), error)) return false;
  }
  return true;
}

}  // namespace

std::string code_from_file_name(std::string_view file_name) {
  const std::string name = fs::path(std::string(file_name)).filename().string();
  if (name.size() < 4) return {};
  std::string code;
  for (int i = 0; i < 4; ++i) {
    code += static_cast<char>(
        std::toupper(static_cast<unsigned char>(name[static_cast<std::size_t>(i)])));
  }
  if (name.size() > 4 && name[4] != '.' && name[4] != '_' && name[4] != '-' && name[4] != ' ') {
    return {};
  }
  return is_stock_code(code) ? code : std::string();
}

bool parse_price_csv(std::string_view bytes, const std::string& code, const std::string& label,
                     ParsedPriceFile& out) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::string decoded;
  if (!valid_utf8(bytes)) {
    decoded = cp932_to_utf8(bytes);
    bytes = decoded;
  }
  int col[kColumns];
  std::fill(std::begin(col), std::end(col), -1);
  char sep = ',';
  bool have_header = false;
  std::map<std::string, std::map<std::string, CsvBar>> rows;
  long line_no = 0;
  for (std::size_t p = 0; p < bytes.size();) {
    std::size_t e = bytes.find('\n', p);
    if (e == std::string_view::npos) e = bytes.size();
    std::string_view line = bytes.substr(p, e - p);
    p = e + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (trim(line).empty()) continue;
    auto problem = [&](const std::string& what) {
      out.problems.push_back(label + ":" + std::to_string(line_no) + ": " + what);
    };
    if (!have_header) {
      sep = line.find('\t') != std::string_view::npos ? '\t' : ',';
      const auto captions = split(line, sep);
      for (std::size_t i = 0; i < captions.size(); ++i) {
        const int c = column_of(captions[i]);
        if (c >= 0 && col[c] < 0) col[c] = static_cast<int>(i);
      }
      for (int c : {kDate, kOpen, kHigh, kLow, kClose}) {
        if (col[c] < 0) {
          problem(
              "見出し行に Date, Open, High, Low, Close (日付, 始値, 高値, 安値, 終値) "
              "がありません");
          return false;
        }
      }
      if (col[kTicker] < 0 && code.empty()) {
        problem(
            "銘柄コードがわかりません (ファイル名が 7203.csv のようにコードで始まるか、--code "
            "を指定してください)");
        return false;
      }
      have_header = true;
      continue;
    }
    const auto f = split(line, sep);
    int needed = 0;
    for (int c : col) needed = std::max(needed, c + 1);
    if (static_cast<int>(f.size()) < needed) {
      problem("列が足りません");
      continue;
    }
    std::string row_code = code;
    if (col[kTicker] >= 0) {
      row_code = code_from_file_name(f[static_cast<std::size_t>(col[kTicker])]);
      if (row_code.empty()) {
        problem("銘柄コードを読めません: " +
                std::string(f[static_cast<std::size_t>(col[kTicker])]).substr(0, 20));
        continue;
      }
    }
    if (col[kPer] >= 0 && f[static_cast<std::size_t>(col[kPer])] != "D") {
      problem("日足ではありません");
      continue;
    }
    CsvBar bar;
    bar.date = parse_date(f[static_cast<std::size_t>(col[kDate])]);
    if (bar.date.empty()) {
      problem("日付を読めません: " +
              std::string(f[static_cast<std::size_t>(col[kDate])]).substr(0, 20));
      continue;
    }
    double* prices[] = {&bar.open, &bar.high, &bar.low, &bar.close};
    const int price_cols[] = {kOpen, kHigh, kLow, kClose};
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
      ok = strict_number(f[static_cast<std::size_t>(col[price_cols[i]])], *prices[i]) &&
           *prices[i] > 0;
    }
    if (!ok) {
      problem("価格を読めません");
      continue;
    }
    if (bar.high < bar.low) {
      problem("高値が安値より低い");
      continue;
    }
    if (col[kVolume] >= 0) {
      double v = 0;
      const std::string_view vt = f[static_cast<std::size_t>(col[kVolume])];
      if (!vt.empty() && (!strict_number(vt, v) || v < 0 || v > kMaxVolume)) {
        problem("出来高を読めません");
        continue;
      }
      bar.volume = round_half_even(v);
    }
    ++out.rows_read;
    rows[row_code][bar.date] = bar;
  }
  if (!have_header) {
    out.problems.push_back(label + ": 空のファイルです");
    return false;
  }
  for (auto& [c, by_date] : rows) {
    auto& list = out.bars[c];
    for (auto& [d, b] : by_date) list.push_back(std::move(b));
  }
  return true;
}

bool rebuild_equal_weight_index(const std::string& db_folder, const std::string& reference_code,
                                std::string& error) {
  FileBatch batch;
  if (!rebuild_index(db_folder, reference_code, batch, error)) {
    batch.rollback();
    return false;
  }
  return true;
}

bool import_price_csv(const std::string& db, const std::string& ref,
                      const std::vector<std::string>& files, const CsvImportOptions& opt,
                      CsvImportReport& report, std::string& error) {
  std::string forced_code;
  if (!opt.code.empty()) {
    forced_code = opt.code;
    for (char& c : forced_code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!is_stock_code(forced_code)) {
      error = "--code wants a stock code such as 7203 or 130A, got " + opt.code;
      return false;
    }
  }
  // Rows of each date, by code: the day files are rewritten once at the end.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> day_rows;
  std::map<int, bool> years_made;
  bool reference_imported = false;
  FileBatch batch;
  auto fail = [&](const std::string& what) {
    error = what;
    batch.rollback();
    return false;
  };
  const std::string market = utf8_to_cp932(csv_safe_text(opt.market));
  const std::string name = utf8_to_cp932(csv_safe_text(opt.name));
  std::set<std::string> imported;
  for (const std::string& file : files) {
    std::string bytes;
    const std::string label = fs::path(file).filename().string();
    if (!read_file_bytes(file, bytes)) {
      report.messages.push_back(label + ": 読めません");
      ++report.files_refused;
      continue;
    }
    const std::string code = forced_code.empty() ? code_from_file_name(label) : forced_code;
    ParsedPriceFile parsed;
    const bool understood = parse_price_csv(bytes, code, label, parsed);
    report.messages.insert(report.messages.end(), parsed.problems.begin(), parsed.problems.end());
    report.rows_skipped += static_cast<long>(parsed.problems.size()) - (understood ? 0 : 1);
    if (!understood || parsed.bars.empty()) {
      if (understood)
        report.messages.push_back(label + ": 使える行がありません (何も変更していません)");
      ++report.files_refused;
      continue;
    }
    ++report.files_used;
    for (auto& [c, bars] : parsed.bars) {
      if (!imported.insert(c).second) {
        report.messages.push_back(label + ": " + c +
                                  " は先のファイルでも取り込みました (後のほうを使います)");
      }
      if (c == ref) reference_imported = true;
      auto [seg, nm] = stored_identity(db, c);
      if (!market.empty()) seg = market;
      if (!name.empty()) nm = name;
      if (nm.empty()) nm = c;
      std::map<int, std::vector<std::string>> by_year;
      for (const CsvBar& b : bars) {
        const std::string fields = bar_fields(b);
        by_year[std::stoi(b.date.substr(0, 4))].push_back(b.date + fields);
        auto& list = day_rows[b.date];
        list.emplace_back(c, c + "," + seg + "," + nm + fields);
      }
      for (auto& [year, lines] : by_year) {
        if (!years_made[year]) {
          if (!make_year(db, year, error)) return fail(error);
          years_made[year] = true;
        }
        const std::string path = series_file_path(db, year, c);
        auto old = old_content(path);
        const std::string merged =
            merge_series_bytes(old ? *old : std::string(), c, seg, nm, lines);
        if ((!old || *old != merged) && !batch.write(path, merged, std::move(old), error)) {
          return fail(error);
        }
      }
      report.rows_imported += static_cast<long>(bars.size());
      report.codes.insert(c);
    }
  }
  for (auto& [date, rows] : day_rows) {
    // The last file naming a stock wins, as for the series.
    std::unordered_map<std::string, std::size_t> last;
    for (std::size_t i = 0; i < rows.size(); ++i) last[rows[i].first] = i;
    const std::string path = day_file_path(db, date);
    auto old = old_content(path);
    std::string body, ref_row;
    long long count = 0;
    if (old) {
      FieldReader r(*old);
      std::string_view h[8];
      for (auto& f : h) r.next(f);
      const long long n = std::max<std::int64_t>(0, parse_integer(h[1]));
      for (long long i = 0; i < n && !r.at_end(); ++i) {
        std::string_view f[8];
        for (auto& x : f) r.next(x);
        if (last.count(std::string(f[0]))) continue;
        std::string line;
        for (int k = 0; k < 8; ++k) {
          if (k) line += ',';
          line += f[k];
        }
        (f[0] == ref ? ref_row : body) += line + "\r\n";
        ++count;
      }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (last[rows[i].first] != i) continue;
      (rows[i].first == ref ? ref_row : body) += rows[i].second + "\r\n";
      ++count;
    }
    const std::string bytes =
        date + "," + std::to_string(count) + ",0,0,0,0,0,0\r\n" + ref_row + body;
    if ((!old || *old != bytes) && !batch.write(path, bytes, std::move(old), error)) {
      return fail(error);
    }
  }
  report.dates_touched = static_cast<int>(day_rows.size());
  if (!reference_imported && !day_rows.empty()) {
    std::string why;
    if (rebuild_index(db, ref, batch, why)) {
      report.index_rebuilt = true;
    } else if (why.rfind("cannot", 0) == 0) {
      return fail(why);
    } else {
      report.messages.push_back(why);
    }
  }
  return true;
}

}  // namespace lp
