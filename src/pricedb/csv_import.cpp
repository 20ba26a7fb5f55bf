#include "pricedb/csv_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/db_lock.h"
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

bool has_high_bytes(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// Fields of one line as CSV has them: a separator inside double quotes belongs to the field,
// "" inside quotes is one quote, blanks around a field are dropped.
void split_fields(std::string_view line, char sep, std::vector<std::string>& out) {
  out.clear();
  std::size_t p = 0;
  for (;;) {
    std::string field;
    while (p < line.size() && (line[p] == ' ' || (line[p] == '\t' && sep != '\t'))) ++p;
    if (p < line.size() && line[p] == '"') {
      ++p;
      while (p < line.size()) {
        if (line[p] == '"') {
          if (p + 1 < line.size() && line[p + 1] == '"') {
            field += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        field += line[p++];
      }
      // Anything between the closing quote and the separator stays with the field.
      const std::size_t e = line.find(sep, p);
      field += line.substr(p, e == std::string_view::npos ? std::string_view::npos : e - p);
      p = e;
    } else {
      const std::size_t e = line.find(sep, p);
      field.assign(line.substr(p, e == std::string_view::npos ? std::string_view::npos : e - p));
      p = e;
    }
    out.emplace_back(trim(field));
    if (p == std::string_view::npos) return;
    ++p;
  }
}

enum Column { kDate, kOpen, kHigh, kLow, kClose, kVolume, kTicker, kPer, kColumns };

std::string caption_key(std::string_view caption) {
  std::string c;
  for (char ch : trim(caption)) {
    if (ch == '<' || ch == '>') continue;
    c += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  // A unit after the caption, "出来高(株)" or "終値（円）", does not change the column.
  for (const char* open : {"(", "\xEF\xBC\x88"}) {
    const std::size_t at = c.find(open);
    if (at != std::string::npos && at > 0) c.resize(at);
  }
  while (!c.empty() && c.back() == ' ') c.pop_back();
  return c;
}

int column_of(std::string_view caption) {
  const std::string c = caption_key(caption);
  static const std::pair<const char*, int> kNames[] = {
      {"date", kDate},  {"日付", kDate},     {"年月日", kDate},   {"open", kOpen},
      {"始値", kOpen},  {"high", kHigh},     {"高値", kHigh},     {"low", kLow},
      {"安値", kLow},   {"close", kClose},   {"終値", kClose},    {"volume", kVolume},
      {"vol", kVolume}, {"出来高", kVolume}, {"ticker", kTicker}, {"per", kPer},
      {"price", -2}};  // yfinance's first header row names its date column "Price"
  for (const auto& [name, col] : kNames) {
    if (c == name) return col;
  }
  return -1;  // "Adj Close", "終値調整値", <TIME>, <OPENINT> and anything else are ignored
}

bool all_digits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string parse_date(std::string_view text) {
  // A time after the date ("2024-12-27 00:00:00+09:00", "2024-12-27T00:00") is not kept.
  if (const std::size_t cut = text.find_first_of(" T"); cut != std::string_view::npos && cut >= 8)
    text = text.substr(0, cut);
  std::string t(text);
  // 2024年12月27日
  for (const char* jp : {"\xE5\xB9\xB4", "\xE6\x9C\x88"}) {
    if (const std::size_t at = t.find(jp); at != std::string::npos) t.replace(at, 3, "/");
  }
  if (t.size() >= 3 && t.compare(t.size() - 3, 3, "\xE6\x97\xA5") == 0) t.resize(t.size() - 3);
  std::string digits;
  if (t.size() == 8 && all_digits(t)) {
    digits = t;
  } else {
    // YYYY-MM-DD, YYYY/MM/DD or YYYY.MM.DD, month and day with one or two digits.
    const char sep = t.size() > 4 ? t[4] : 0;
    if (sep != '-' && sep != '/' && sep != '.') return {};
    const std::size_t a = t.find(sep), b = t.find(sep, a + 1);
    if (b == std::string::npos || t.find(sep, b + 1) != std::string::npos) return {};
    const std::string y = t.substr(0, a), m = t.substr(a + 1, b - a - 1), d = t.substr(b + 1);
    if (y.size() != 4 || !all_digits(y) || !all_digits(m) || m.size() > 2 || !all_digits(d) ||
        d.size() > 2) {
      return {};
    }
    digits = y + (m.size() == 1 ? "0" : "") + m + (d.size() == 1 ? "0" : "") + d;
  }
  return jquants::normalize_date(digits);
}

// A plain decimal number: digits with optional thousands groups ("49,315,300"), an optional
// fraction and exponent, an optional leading minus. Hexadecimal, "inf", "nan" and anything
// with trailing text are not numbers.
bool plain_number(std::string_view text, double& value) {
  std::string t;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) t += text[i++];
  std::size_t int_digits = 0, group = 0;
  bool grouped = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      t += c;
      ++int_digits;
      ++group;
    } else if (c == ',') {
      if (group == 0 || (grouped ? group != 3 : group > 3)) return false;
      grouped = true;
      group = 0;
    } else {
      break;
    }
  }
  if (grouped && group != 3) return false;
  std::size_t frac_digits = 0;
  if (i < text.size() && text[i] == '.') {
    t += text[i++];
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++frac_digits) t += text[i];
  }
  if (int_digits + frac_digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    t += text[i++];
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) t += text[i++];
    std::size_t exp_digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++exp_digits) t += text[i];
    if (exp_digits == 0) return false;
  }
  if (i != text.size()) return false;
  char* end = nullptr;
  value = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && std::isfinite(value);
}

std::string shown_date(std::string_view d) {
  return std::string(d.substr(0, 4)) + "/" + std::string(d.substr(4, 2)) + "/" +
         std::string(d.substr(6, 2));
}

// Longest line a price file has any reason to hold; a longer one means the file is not one.
constexpr std::size_t kMaxLineBytes = 4096;
// Lines before the header (a title, a note) looked at before the file is given up.
constexpr int kMaxPreambleLines = 10;
// Refused rows in a row after which a file is taken not to be a price file.
constexpr long kMaxBadRun = 1000;
// Refused rows listed one by one per file; the rest are counted.
constexpr std::size_t kMaxProblemsShown = 20;
// The largest volume held: far above any day of any stock, and 5000 of them still add up
// within 64 bits.
constexpr double kMaxVolume = 1e15;
constexpr const char* kOldestDate = "19830101";
constexpr const char* kNoCode =
    "銘柄コードがわかりません (ファイル名が 7203.csv のようにコードで始まるか、--code "
    "を指定してください)";

// Reads a price file line by line; nothing but the current line and the bars read is held.
class PriceCsvParser {
 public:
  PriceCsvParser(const std::string& code, const std::string& label, const std::string& today,
                 ParsedPriceFile& out)
      : code_(code), label_(label), today_(today), out_(out) {
    std::fill(std::begin(col_), std::end(col_), -1);
  }

  // False once the file is given up.
  bool line(std::string_view line);
  bool finish();

 private:
  void problem(const std::string& what) {
    ++out_.bad_rows;
    if (out_.problems.size() < kMaxProblemsShown) {
      out_.problems.push_back(label_ + ":" + std::to_string(line_no_) + ": " + what);
    }
  }
  bool give_up(const std::string& what) {
    out_.problems.push_back(label_ + ":" + std::to_string(line_no_) + ": " + what);
    given_up_ = true;
    return false;
  }
  bool header(const std::vector<std::string>& captions);
  void row(const std::vector<std::string>& f);
  const std::string& field(const std::vector<std::string>& f, int column) const {
    return f[static_cast<std::size_t>(col_[column])];
  }

  std::string code_, label_, today_;
  ParsedPriceFile& out_;
  int col_[kColumns];
  std::size_t header_fields_ = 0;
  char sep_ = ',';
  bool have_header_ = false, yfinance_ = false, data_seen_ = false, given_up_ = false;
  int preamble_ = 0;
  long line_no_ = 0, bad_run_ = 0;
  std::vector<std::string> fields_;
  std::string decoded_;
  // Per code: bars by date, and the line each date came from.
  std::map<std::string, std::map<std::string, std::pair<CsvBar, long>>> rows_;
};

bool PriceCsvParser::header(const std::vector<std::string>& captions) {
  int found[kColumns];
  std::fill(std::begin(found), std::end(found), -1);
  bool price_first = false;
  for (std::size_t i = 0; i < captions.size(); ++i) {
    const int c = column_of(captions[i]);
    if (c == -2 && i == 0) price_first = true;
    if (c >= 0 && found[c] < 0) found[c] = static_cast<int>(i);
  }
  if (found[kDate] < 0 && price_first) found[kDate] = 0;
  for (int c : {kDate, kOpen, kHigh, kLow, kClose}) {
    if (found[c] < 0) return false;
  }
  std::copy(std::begin(found), std::end(found), std::begin(col_));
  yfinance_ = price_first;
  header_fields_ = captions.size();
  return true;
}

bool PriceCsvParser::line(std::string_view line) {
  if (given_up_) return false;
  ++line_no_;
  if (line_no_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > kMaxLineBytes) {
    return give_up("1行が " + std::to_string(kMaxLineBytes) +
                   " バイトを超えています: 株価のCSVファイルではないようです");
  }
  if (trim(line).empty()) return true;
  if (has_high_bytes(line) && !valid_utf8(line)) {
    decoded_ = cp932_to_utf8(line);
    line = decoded_;
  }
  if (!have_header_) {
    sep_ = line.find('\t') != std::string_view::npos ? '\t' : ',';
    split_fields(line, sep_, fields_);
    if (header(fields_)) {
      have_header_ = true;
      return true;
    }
    if (++preamble_ >= kMaxPreambleLines) {
      return give_up(
          "見出し行 (Date, Open, High, Low, Close / 日付, 始値, 高値, 安値, 終値) "
          "が見つかりません");
    }
    return true;
  }
  split_fields(line, sep_, fields_);
  if (yfinance_ && !data_seen_ && !fields_.empty()) {
    const std::string first = caption_key(fields_[0]);
    if (first == "ticker") {
      // One ticker for the whole file; several side by side are a multi-stock download.
      std::string ticker;
      for (std::size_t i = 1; i < fields_.size(); ++i) {
        if (fields_[i].empty()) continue;
        if (!ticker.empty() && fields_[i] != ticker) {
          return give_up("複数銘柄をまとめたファイルです (1銘柄ずつ保存してください)");
        }
        ticker = fields_[i];
      }
      if (code_.empty()) code_ = code_from_file_name(ticker);
      return true;
    }
    if (first == "date") return true;  // the third header row: captions of the date only
  }
  if (col_[kTicker] < 0 && code_.empty()) return give_up(kNoCode);
  data_seen_ = true;
  const long bad_before = out_.bad_rows;
  row(fields_);
  bad_run_ = out_.bad_rows > bad_before ? bad_run_ + 1 : 0;
  if (bad_run_ >= kMaxBadRun) {
    return give_up(std::to_string(kMaxBadRun) +
                   " 行続けて読めませんでした: 株価のCSVファイルではないようです");
  }
  return true;
}

void PriceCsvParser::row(const std::vector<std::string>& f) {
  int needed = 0;
  for (int c : col_) needed = std::max(needed, c + 1);
  if (static_cast<int>(f.size()) < needed) {
    problem("列が足りません");
    return;
  }
  for (std::size_t i = header_fields_; i < f.size(); ++i) {
    if (!f[i].empty()) {
      problem("列が見出しより多くあります (桁区切りのカンマは \"3,204\" のように引用符で囲みます)");
      return;
    }
  }
  std::string row_code = code_;
  if (col_[kTicker] >= 0) {
    row_code = code_from_file_name(field(f, kTicker));
    if (row_code.empty()) {
      problem("銘柄コードを読めません: " + field(f, kTicker).substr(0, 20));
      return;
    }
  }
  if (col_[kPer] >= 0 && field(f, kPer) != "D") {
    problem("日足ではありません");
    return;
  }
  CsvBar bar;
  bar.date = parse_date(field(f, kDate));
  if (bar.date.empty()) {
    problem("日付を読めません: " + field(f, kDate).substr(0, 20));
    return;
  }
  if (bar.date < kOldestDate) {
    problem("1983年より前の日付です: " + shown_date(bar.date));
    return;
  }
  if (!today_.empty() && bar.date > today_) {
    problem("今日 (" + shown_date(today_) + ") より後の日付です: " + shown_date(bar.date));
    return;
  }
  double* prices[] = {&bar.open, &bar.high, &bar.low, &bar.close};
  const int price_cols[] = {kOpen, kHigh, kLow, kClose};
  const char* price_names[] = {"始値", "高値", "安値", "終値"};
  for (int i = 0; i < 4; ++i) {
    const std::string& t = field(f, price_cols[i]);
    if (!plain_number(t, *prices[i])) {
      problem(std::string(price_names[i]) + "を数として読めません: " + t.substr(0, 20));
      return;
    }
    if (!(*prices[i] > 0)) {
      problem(std::string(price_names[i]) + "が0以下です: " + t.substr(0, 20));
      return;
    }
  }
  if (bar.high < bar.low) {
    problem("高値が安値より低い");
    return;
  }
  if (bar.open > bar.high || bar.open < bar.low) {
    problem("始値が高値と安値の間にありません");
    return;
  }
  if (bar.close > bar.high || bar.close < bar.low) {
    problem("終値が高値と安値の間にありません");
    return;
  }
  bar.volume_known = col_[kVolume] >= 0 && !field(f, kVolume).empty();
  if (bar.volume_known) {
    const std::string& t = field(f, kVolume);
    double v = 0;
    if (!plain_number(t, v) || t[0] == '-' || t[0] == '+') {
      problem("出来高を読めません: " + t.substr(0, 20));
      return;
    }
    if (v > kMaxVolume) {
      problem("出来高が大きすぎて保持できません: " + t.substr(0, 24));
      return;
    }
    bar.volume = round_half_even(v);
  }
  auto& by_date = rows_[row_code];
  const auto [at, fresh] = by_date.try_emplace(bar.date, bar, line_no_);
  if (!fresh) {
    problem("日付 " + shown_date(bar.date) + " が " + std::to_string(at->second.second) +
            "行目と重複しています (先の行を使います)");
    return;
  }
  ++out_.rows_read;
}

bool PriceCsvParser::finish() {
  if (given_up_) return false;
  if (!have_header_) {
    out_.problems.push_back(label_ + ": " +
                            (line_no_ == 0 ? std::string("空のファイルです")
                                           : std::string("見出し行が見つかりません")));
    return false;
  }
  if (col_[kTicker] < 0 && code_.empty()) {
    out_.problems.push_back(label_ + ": " + kNoCode);
    return false;
  }
  for (auto& [c, by_date] : rows_) {
    auto& list = out_.bars[c];
    for (auto& [d, b] : by_date) list.push_back(std::move(b.first));
  }
  if (out_.bad_rows > static_cast<long>(kMaxProblemsShown)) {
    out_.problems.push_back(label_ + ": ほかに " +
                            std::to_string(out_.bad_rows - static_cast<long>(kMaxProblemsShown)) +
                            " 行を読めませんでした");
  }
  return true;
}

std::string bar_fields(const CsvBar& b) {
  std::string s;
  for (double p : {b.open, b.high, b.low, b.close}) {
    s += ',';
    s += price_text(p);
  }
  s += ',';
  s += b.volume_known ? std::to_string(b.volume) : std::string(kUnknownVolumeText);
  return s;
}

bool traded(const CsvBar& b) {
  return !b.volume_known || b.volume > 0;
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

// Creates the year's folders, remembering each one it made, so that a failed import can
// remove them again and leave no empty year behind.
bool make_year(const std::string& db, int year, std::vector<std::string>& made,
               std::string& error) {
  const std::string y = year_folder(db, year);
  std::vector<std::string> dirs = {y, y + "data_d", y + "data_m", y + "data_mh"};
  // The database folder and any of its parents that are missing come first.
  std::error_code ec;
  for (fs::path p = fs::path(db).parent_path(); !p.empty() && !fs::exists(p, ec);
       p = p.parent_path()) {
    dirs.insert(dirs.begin(), p.string());
    if (p == p.parent_path()) break;
  }
  for (const std::string& dir : dirs) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) continue;
    if (!fs::create_directory(dir, ec) || ec) {
      error = "cannot create " + dir;
      return false;
    }
    made.push_back(dir);
  }
  return true;
}

void remove_made(const std::vector<std::string>& made) {
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    std::error_code ec;
    fs::remove(*it, ec);  // only ever empty: a folder still holding a file stays
  }
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
      bool unknown_volume = false;
      for (long long i = 0; i < n && !r.at_end(); ++i) {
        std::string_view f[8];
        for (auto& x : f) r.next(x);
        if (f[0] == ref) continue;
        StockBar b;
        b.code.assign(f[0]);
        b.close = parse_number(f[6]);
        b.volume = parse_integer(f[7]);
        unknown_volume = unknown_volume || is_unknown_volume(parse_number(f[7]));
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
        if (b.volume > 0 && __builtin_add_overflow(volume, b.volume, &volume)) {
          error = "cannot add the volumes of " + date + ": the total does not fit";
          return false;
        }
      }
      // A market whose stocks traded with volumes nobody gave has an unknown volume too.
      const std::string volume_text =
          volume == 0 && unknown_volume ? std::string(kUnknownVolumeText) : std::to_string(volume);
      const std::string v = price_text(value);
      const std::string line = date + "," + v + "," + v + "," + v + "," + v + "," + volume_text;
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
                     ParsedPriceFile& out, const std::string& today) {
  PriceCsvParser parser(code, label, today, out);
  for (std::size_t p = 0; p < bytes.size();) {
    std::size_t e = bytes.find('\n', p);
    if (e == std::string_view::npos) e = bytes.size();
    if (!parser.line(bytes.substr(p, e - p))) return false;
    p = e + 1;
  }
  return parser.finish();
}

bool read_price_csv(const std::string& path, const std::string& code, const std::string& label,
                    ParsedPriceFile& out, const std::string& today) {
  // Not blocking on open: a FIFO or device named as a price file must not hang the import.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    out.problems.push_back(label + ": 読めません");
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    out.problems.push_back(label + ": 通常のファイルではありません");
    return false;
  }
  PriceCsvParser parser(code, label, today, out);
  constexpr std::size_t kChunk = 1 << 16;
  std::string buffer;
  buffer.reserve(kChunk + kMaxLineBytes);
  bool ok = true;
  for (;;) {
    const std::size_t have = buffer.size();
    buffer.resize(have + kChunk);
    const ssize_t n = ::read(fd, buffer.data() + have, kChunk);
    if (n < 0 && errno == EINTR) {
      buffer.resize(have);
      continue;
    }
    if (n < 0) {
      ::close(fd);
      out.problems.push_back(label + ": 読み込みの途中で失敗しました");
      return false;
    }
    buffer.resize(have + static_cast<std::size_t>(n));
    std::size_t p = 0;
    for (std::size_t e; ok && (e = buffer.find('\n', p)) != std::string::npos; p = e + 1) {
      ok = parser.line(std::string_view(buffer).substr(p, e - p));
    }
    buffer.erase(0, p);
    // A line that never ends is handed over as it is, and refused for its length.
    if (ok && (n == 0 || buffer.size() > kMaxLineBytes + 1) && !buffer.empty()) {
      ok = parser.line(buffer);
      buffer.clear();
    }
    if (!ok || n == 0) break;
  }
  ::close(fd);
  return ok && parser.finish();
}

bool parse_splits(std::string_view bytes, const std::string& label, std::vector<SplitLine>& out,
                  std::string& error, const std::string& today) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::vector<std::string> f;
  long line_no = 0;
  for (std::size_t p = 0; p < bytes.size();) {
    std::size_t e = bytes.find('\n', p);
    if (e == std::string_view::npos) e = bytes.size();
    const std::string_view line = trim(bytes.substr(p, e - p));
    p = e + 1;
    ++line_no;
    if (line.empty() || line[0] == '#') continue;
    auto bad = [&](const std::string& what) {
      error = label + ":" + std::to_string(line_no) + ": " + what;
      return false;
    };
    if (line.size() > 200) return bad("行が長すぎます");
    split_fields(line, ',', f);
    if (f.size() != 2 && f.size() != 3) {
      return bad("「YYYYMMDD,比率」(例 20211001,5) の形ではありません");
    }
    SplitLine s;
    if (f.size() == 3) {
      s.code = f[0];
      for (char& c : s.code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (!is_stock_code(s.code)) return bad("銘柄コードを読めません: " + f[0].substr(0, 20));
    }
    const std::string& date = f[f.size() - 2];
    const std::string& ratio = f.back();
    s.date = parse_date(date);
    if (s.date.empty()) return bad("日付を読めません: " + date.substr(0, 20));
    if (s.date < kOldestDate) return bad("1983年より前の日付です: " + shown_date(s.date));
    if (!today.empty() && s.date > today) {
      return bad("今日 (" + shown_date(today) + ") より後の日付です: " + shown_date(s.date));
    }
    // RATIO: new shares for one old share, "5", "1.5", "0.1" or "A/B".
    long long num = 0, den = 1;
    const std::size_t slash = ratio.find_first_of("/:");
    if (slash != std::string::npos) {
      const std::string a = ratio.substr(0, slash), b = ratio.substr(slash + 1);
      if (!all_digits(a) || !all_digits(b) || a.size() > 9 || b.size() > 9) {
        return bad("比率を読めません: " + ratio.substr(0, 20));
      }
      num = std::stoll(a);
      den = std::stoll(b);
    } else {
      const std::size_t dot = ratio.find('.');
      const std::string whole = ratio.substr(0, dot);
      const std::string frac = dot == std::string::npos ? std::string() : ratio.substr(dot + 1);
      if ((whole.empty() && frac.empty()) || (!whole.empty() && !all_digits(whole)) ||
          (!frac.empty() && !all_digits(frac)) || whole.size() + frac.size() > 12 ||
          frac.size() > 6) {
        return bad("比率を読めません: " + ratio.substr(0, 20));
      }
      num = std::stoll(whole + frac);
      for (std::size_t i = 0; i < frac.size(); ++i) den *= 10;
    }
    if (num <= 0 || den <= 0 || num * 1000 < den || num > den * 1000 || num == den) {
      return bad("比率は 1/1000 から 1000 までの 1 以外の数です: " + ratio.substr(0, 20));
    }
    const long long g = std::gcd(num, den);
    s.new_shares = num / g;
    s.old_shares = den / g;
    for (const SplitLine& o : out) {
      if (o.code == s.code && o.date == s.date) return bad("同じ日付の分割が2度あります");
    }
    out.push_back(std::move(s));
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

namespace {

// A likely split the file does not record: the day's open against the previous close is
// near 1/k (k new shares for one) or k (k old shares become one). Daily price limits keep an
// ordinary day far from these jumps.
struct JumpGuess {
  long long new_shares = 0, old_shares = 0;
};
JumpGuess split_jump(double previous_close, double open) {
  JumpGuess best;
  if (!(previous_close > 0) || !(open > 0)) return best;
  const double r = open / previous_close;
  double closest = 0.12;  // how far from the exact ratio a day may move besides the split
  for (long long k : {2, 3, 4, 5, 10}) {
    const double kd = static_cast<double>(k);
    if (const double off = std::fabs(r * kd - 1); off <= closest) {
      closest = off;
      best = {k, 1};
    }
    if (const double off = std::fabs(r / kd - 1); off <= closest) {
      closest = off;
      best = {1, k};
    }
  }
  return best;
}

std::string ratio_text(long long new_shares, long long old_shares) {
  return old_shares == 1 ? std::to_string(new_shares)
                         : std::to_string(new_shares) + "/" + std::to_string(old_shares);
}

}  // namespace

bool import_price_csv(const std::string& db, const std::string& ref,
                      const std::vector<std::string>& files, const CsvImportOptions& opt,
                      CsvImportReport& report, std::string& error) {
  std::string forced_code;
  if (!opt.code.empty()) {
    forced_code = opt.code;
    for (char& c : forced_code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!is_stock_code(forced_code)) {
      error = "--code には 7203 や 130A のような銘柄コードを指定してください: " + opt.code;
      return false;
    }
  }
  std::vector<SplitLine> splits;
  if (!opt.splits.empty()) {
    std::error_code ec;
    const std::string label = fs::path(opt.splits).filename().string();
    std::string bytes;
    if (!fs::is_regular_file(opt.splits, ec) || fs::file_size(opt.splits, ec) > (1u << 20) ||
        !read_file_bytes(opt.splits, bytes)) {
      error = "--splits のファイルを読めません: " + opt.splits;
      return false;
    }
    if (!parse_splits(bytes, label, splits, error, opt.today)) return false;
  }

  // Every file first: a later file's bar of the same stock and date replaces an earlier one.
  std::map<std::string, std::map<std::string, CsvBar>> stocks;
  for (const std::string& file : files) {
    const std::string label = fs::path(file).filename().string();
    const std::string code = forced_code.empty() ? code_from_file_name(label) : forced_code;
    ParsedPriceFile parsed;
    const bool understood = read_price_csv(file, code, label, parsed, opt.today);
    report.messages.insert(report.messages.end(), parsed.problems.begin(), parsed.problems.end());
    report.rows_skipped += parsed.bad_rows;
    if (!understood || parsed.bars.empty()) {
      if (understood)
        report.messages.push_back(label + ": 使える行がありません (何も変更していません)");
      ++report.files_refused;
      continue;
    }
    ++report.files_used;
    for (auto& [c, bars] : parsed.bars) {
      auto [it, fresh] = stocks.try_emplace(c);
      if (!fresh) {
        report.messages.push_back(
            label + ": " + c + " は先のファイルでも取り込みました (同じ日付は後のほうを使います)");
      }
      for (CsvBar& b : bars) it->second[b.date] = std::move(b);
    }
  }
  if (stocks.empty()) return true;
  // One writer at a time; what the database holds is read only from here on.
  LockWaitWords words;
  words.timeout = opt.lock_timeout;
  words.say = opt.waiting;
  const auto lock = lock_database(db, words, error, &report.locked);
  if (!lock) return false;
  if (!opt.name.empty() && stocks.size() > 1) {
    error = "--name は1銘柄の取り込みにだけ使えます (" + std::to_string(stocks.size()) +
            " 銘柄あります)";
    return false;
  }
  for (SplitLine& s : splits) {
    if (s.code.empty()) {
      if (stocks.size() != 1) {
        error = "--splits の「YYYYMMDD,比率」は1銘柄の取り込みにだけ使えます (" +
                std::to_string(stocks.size()) +
                " 銘柄あります; 「コード,YYYYMMDD,比率」で書いてください)";
        return false;
      }
      s.code = stocks.begin()->first;
    } else if (!stocks.count(s.code)) {
      error = "--splits の銘柄 " + s.code + " は取り込むファイルにありません";
      return false;
    }
  }

  // A date on which no imported stock traded (zero-volume rows with unchanged prices, as some
  // sources write on exchange holidays) is not a trading day, unless the database has it.
  std::map<std::string, bool> date_traded;
  for (const auto& [c, by_date] : stocks) {
    for (const auto& [d, b] : by_date) date_traded[d] = date_traded[d] || traded(b);
  }
  std::vector<std::string> holidays;
  for (const auto& [d, any] : date_traded) {
    std::error_code ec;
    if (!any && !fs::exists(day_file_path(db, d), ec)) holidays.push_back(d);
  }
  if (!holidays.empty()) {
    std::string shown;
    for (std::size_t i = 0; i < holidays.size() && i < 5; ++i) {
      shown += (i ? ", " : "") + shown_date(holidays[i]);
    }
    if (holidays.size() > 5) shown += " ほか";
    for (auto& [c, by_date] : stocks) {
      for (const std::string& d : holidays) report.holiday_rows += by_date.erase(d);
    }
    report.messages.push_back("どの銘柄も取引のなかった " + std::to_string(holidays.size()) +
                              " 日 (休場日とみなします) の " + std::to_string(report.holiday_rows) +
                              " 行は取り込みませんでした: " + shown);
  }

  // Jumps that look like splits nobody recorded, with the --splits line that records them.
  for (const auto& [c, by_date] : stocks) {
    std::map<int, CorrectionFile> stored;
    auto recorded = [&](const std::string& date) {
      for (const SplitLine& s : splits) {
        if (s.code == c && s.date == date) return true;
      }
      const int year = std::stoi(date.substr(0, 4));
      auto [it, fresh] = stored.try_emplace(year);
      if (fresh) read_correction_file(correction_file_path(db, year, c), it->second);
      for (const Correction& row : it->second.rows) {
        if (row.date == date) return true;
      }
      return false;
    };
    const CsvBar* previous = nullptr;
    for (const auto& [d, b] : by_date) {
      if (previous) {
        const JumpGuess g = split_jump(previous->close, b.open);
        if (g.new_shares > 0 && !recorded(d)) {
          ++report.split_warnings;
          report.messages.push_back(
              "警告: " + c + " の " + shown_date(d) + " の始値 " + format_decimal(b.open) +
              " は前日の終値 " + format_decimal(previous->close) + " の約 " +
              (g.old_shares == 1 ? "1/" + std::to_string(g.new_shares)
                                 : std::to_string(g.old_shares) + " 倍") +
              " です。株式分割(併合)なら --splits のファイルに次の行を加えてください: " + d + "," +
              ratio_text(g.new_shares, g.old_shares));
        }
      }
      previous = &b;
    }
  }

  FileBatch batch;
  std::vector<std::string> made;
  auto fail = [&](const std::string& what) {
    error = what;
    batch.rollback();
    remove_made(made);
    return false;
  };
  const std::string market = utf8_to_cp932(csv_safe_text(opt.market));
  const std::string name = utf8_to_cp932(csv_safe_text(opt.name));
  // Rows of each date, by code: the day files are rewritten once at the end.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> day_rows;
  std::set<int> years_made;
  auto ensure_year = [&](int year) {
    if (years_made.count(year)) return true;
    if (!make_year(db, year, made, error)) return false;
    years_made.insert(year);
    return true;
  };
  bool reference_imported = false;
  for (const auto& [c, by_date] : stocks) {
    if (by_date.empty()) continue;
    if (c == ref) reference_imported = true;
    // The name the database already knows stays, unless --name gives one; without either the
    // code stands for the name.
    auto [seg, nm] = stored_identity(db, c);
    if (!market.empty()) seg = market;
    if (!name.empty()) nm = name;
    if (nm.empty()) nm = c;
    std::map<int, std::vector<std::string>> by_year;
    for (const auto& [d, b] : by_date) {
      const std::string fields = bar_fields(b);
      by_year[std::stoi(d.substr(0, 4))].push_back(d + fields);
      day_rows[d].emplace_back(c, c + "," + seg + "," + nm + fields);
    }
    for (auto& [year, lines] : by_year) {
      if (!ensure_year(year)) return fail(error);
      const std::string path = series_file_path(db, year, c);
      auto old = old_content(path);
      const std::string merged = merge_series_bytes(old ? *old : std::string(), c, seg, nm, lines);
      if ((!old || *old != merged) && !batch.write(path, merged, std::move(old), error)) {
        return fail(error);
      }
    }
    report.rows_imported += static_cast<long>(by_date.size());
    report.codes.insert(c);
  }
  for (const SplitLine& s : splits) {
    const int year = std::stoi(s.date.substr(0, 4));
    if (!ensure_year(year)) return fail(error);
    const std::string path = correction_file_path(db, year, s.code);
    auto old = old_content(path);
    // Every price before the date is multiplied by old shares / new shares.
    const std::string merged = merge_correction_bytes(old ? *old : std::string(), s.code, year,
                                                      s.date, {s.old_shares, s.new_shares});
    if (!old || *old != merged) {
      if (!batch.write(path, merged, std::move(old), error)) return fail(error);
      ++report.corrections_written;
    }
  }
  for (auto& [date, rows] : day_rows) {
    std::unordered_set<std::string> imported_here;
    for (const auto& row : rows) imported_here.insert(row.first);
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
        if (imported_here.count(std::string(f[0]))) continue;
        std::string line;
        for (int k = 0; k < 8; ++k) {
          if (k) line += ',';
          line += f[k];
        }
        (f[0] == ref ? ref_row : body) += line + "\r\n";
        ++count;
      }
    }
    for (const auto& [c, text] : rows) {
      (c == ref ? ref_row : body) += text + "\r\n";
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
