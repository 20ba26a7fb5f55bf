#include "portfolio/portfolio_model.h"

#include "pricedb/stock_code.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <system_error>

#include "common/collation.h"
#include "common/csv.h"
#include "common/encoding.h"
#include "common/file_lock.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"

namespace lp::portfolio {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// A field text that cannot break the record layout of the file.
std::string file_field(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : trim(text)) {
    if (c != ',' && c != '"' && c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

// Full-width digits, separators and signs as ASCII, so what an input method typed reads.
std::string ascii_digits(std::string_view entry) {
  std::string out;
  for (char32_t c : to_u32(trim(entry))) {
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;
    if (c == 0x3000) c = U' ';                 // ideographic space
    if (c == 0x2212 || c == 0x2015) c = U'-';  // minus sign, horizontal bar
    if (c == 0x3001) c = U',';                 // 、
    if (c == 0x3002) c = U'.';                 // 。
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out += to_utf8(c);
    }
  }
  return std::string(trim(out));
}

bool only_blanks(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

std::optional<double> positive(double v) {
  if (v > 0) return v;
  return std::nullopt;
}

// Patterns of the grid. Prices keep up to two decimals; amounts and profits are whole yen.
constexpr std::string_view kPricePattern = "#,##0.##";
constexpr std::string_view kSharesPattern = "#,###,##,##0";
constexpr std::string_view kYenPattern = "#,###,###,##0";
constexpr std::string_view kPercentPattern = "#,###,###,##0.0";
constexpr std::string_view kEntryPattern = "#,###,###,##0.####";

// format_pattern keeps the point of a pattern whose decimals are optional ("1,234.").
std::string shown(double value, std::string_view pattern) {
  std::string s = format_pattern(value, pattern);
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

Tone sign_tone(double v) {
  if (v > 0) return Tone::kRed;
  if (v < 0) return Tone::kBlue;
  return Tone::kGreen;
}

}  // namespace

// ---- the file ----

std::string holdings_file_name(int file_no) {
  return "ptf" + std::to_string(file_no) + ".csv";
}

std::string holdings_path(const std::string& user_folder, int file_no) {
  return user_folder + holdings_file_name(file_no);
}

std::string holdings_file_text(const std::vector<Holding>& holdings) {
  CsvWriter w;
  w.fields({"", "", "", "", "", to_text(static_cast<std::int64_t>(holdings.size()))}).end_line();
  for (const Holding& h : holdings) {
    std::string seq = file_field(h.sequence);
    w.fields({file_field(h.code), file_field(h.price), file_field(h.shares), file_field(h.date),
              file_field(h.spare), seq.empty() ? std::string_view("-") : std::string_view(seq)})
        .end_line();
  }
  return w.text();
}

bool save_holdings(const std::string& path, const std::vector<Holding>& holdings) {
  return write_file_atomic(path, utf8_to_cp932(holdings_file_text(holdings)), true);
}

namespace {

// The lines of a text (CR LF, LF or CR ends), blank lines dropped, each with its 1-based
// line number.
std::vector<std::pair<int, std::string_view>> text_lines(std::string_view text) {
  std::vector<std::pair<int, std::string_view>> lines;
  int number = 0;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t e = text.find_first_of("\r\n", p);
    if (e == std::string_view::npos) e = text.size();
    ++number;
    const std::string_view line = text.substr(p, e - p);
    if (!only_blanks(line)) lines.emplace_back(number, line);
    p = e;
    if (p < text.size() && text[p] == '\r') ++p;
    if (p < text.size() && text[p] == '\n') ++p;
  }
  return lines;
}

std::vector<std::string_view> line_fields(std::string_view line) {
  std::vector<std::string_view> fields;
  FieldReader reader(line);
  std::string_view f;
  while (reader.next(f)) fields.push_back(f);
  // A trailing comma ends one more, empty field.
  if (!line.empty() && line.back() == ',') fields.emplace_back();
  return fields;
}

}  // namespace

LoadResult load_holdings(const std::string& path, bool create_missing) {
  LoadResult result;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    if (!create_missing) {
      result.status = LoadStatus::kMissing;
    } else {
      result.status = save_holdings(path, {}) ? LoadStatus::kCreated : LoadStatus::kUnreadable;
    }
    return result;
  }
  std::string bytes;
  if (!read_file_bytes(path, bytes)) return result;  // kUnreadable
  // An empty file holds nothing that could be lost.
  if (only_blanks(bytes)) {
    result.status = LoadStatus::kLoaded;
    return result;
  }
  const std::string text = cp932_to_utf8(bytes);
  result.status = LoadStatus::kDamaged;
  const auto lines = text_lines(text);

  // The header: five empty fields and the count. A record is one line of six fields; any
  // other shape would shift fields on the next save, so such a file is only ever shown.
  const std::vector<std::string_view> header = line_fields(lines.front().second);
  bool header_ok = header.size() == 6 && !header[5].empty() &&
                   std::isdigit(static_cast<unsigned char>(header[5].front()));
  for (int i = 0; header_ok && i < 5; ++i) header_ok = header[static_cast<std::size_t>(i)].empty();
  const double declared = header_ok ? std::trunc(parse_number(header[5])) : 0;
  if (!header_ok || declared > 1e6) {
    result.problem = "1行目が件数の行ではありません。";
    return result;
  }
  const int count = static_cast<int>(declared);

  std::vector<Holding> holdings;
  std::string problem;
  for (std::size_t k = 1; k < lines.size(); ++k) {
    const std::vector<std::string_view> v = line_fields(lines[k].second);
    if (v.size() != 6) {
      if (problem.empty()) {
        problem = std::to_string(lines[k].first) + "行目の項目数が" + std::to_string(v.size()) +
                  "です（6のはず）。";
      }
      continue;
    }
    // More records than a file may hold are not worth showing (nor reserving memory for).
    if (static_cast<int>(holdings.size()) >= std::max(count, kMaxHoldings)) continue;
    Holding h{std::string(v[0]), std::string(v[1]), std::string(v[2]),
              std::string(v[3]), std::string(v[4]), std::string(v[5])};
    if (h.sequence == "-") h.sequence.clear();
    holdings.push_back(std::move(h));
  }
  const int records = static_cast<int>(lines.size()) - 1;
  if (problem.empty() && records != count) {
    problem = "件数（" + std::to_string(count) + "）と記録の数（" + std::to_string(records) +
              "）が合いません。";
  }
  result.holdings = std::move(holdings);
  if (!problem.empty()) {
    result.problem = std::move(problem);
    return result;
  }
  result.status = LoadStatus::kLoaded;
  return result;
}

// ---- valuation ----

ReportRow value_holding(const Holding& holding, const Series& series, bool load_ok) {
  ReportRow row;
  row.code = holding.code;
  row.date = holding.date;
  row.shares = positive(parse_number(holding.shares));
  row.price = positive(parse_number(holding.price));

  const int n = load_ok ? std::min(series_count(series), static_cast<int>(series.size()) - 1) : 0;
  // The most recent day that traded; a stock suspended on the last days still has a price.
  int latest = 0;
  for (int i = 1; i <= n; ++i) {
    if (parse_number(series[static_cast<std::size_t>(i)].d5) > 0) {
      latest = i;
      break;
    }
  }
  if (latest == 0) return row;

  row.priced = true;
  row.descriptive = series[0].d2;
  row.name = series[0].d3;
  const double current = parse_number(series[static_cast<std::size_t>(latest)].d5);
  const double previous =
      latest < n ? parse_number(series[static_cast<std::size_t>(latest + 1)].d5) : 0.0;
  row.current = current;
  if (row.price) {
    row.difference = current - *row.price;
    row.ratio = (current - *row.price) * 100.0 / *row.price;
  }
  if (row.shares) {
    if (row.price) row.amount = *row.price * *row.shares;
    row.valuation = current * *row.shares;
    row.profit = (current - row.price.value_or(0.0)) * *row.shares;
  }
  if (previous > 0) row.change = (current - previous) * 100.0 / current;
  return row;
}

Totals compute_totals(const std::vector<ReportRow>& rows) {
  Totals t;
  t.count = static_cast<int>(rows.size());
  for (const ReportRow& r : rows) {
    t.purchase += r.amount.value_or(0.0);
    t.valuation += r.valuation.value_or(0.0);
  }
  t.profit = t.valuation - t.purchase;
  t.ratio = t.purchase != 0 ? t.profit * 100.0 / t.purchase : 0.0;
  return t;
}

Report build_report(const SeriesSource& source, std::string_view end_date,
                    const std::vector<Holding>& holdings) {
  Report report;
  report.rows.reserve(holdings.size());
  TradingCalendar calendar;
  const bool have_calendar =
      !holdings.empty() && build_trading_calendar(source, calendar, end_date, kLoadDays) == 0;
  Series series;
  for (const Holding& h : holdings) {
    bool ok = false;
    if (have_calendar) {
      ok = load_series_cal(source, end_date, kLoadDays, h.code, calendar, series, true,
                           kPortfolioLowestYear) == 0;
    }
    report.rows.push_back(value_holding(h, series, ok));
  }
  report.totals = compute_totals(report.rows);
  return report;
}

// ---- the grid ----

Rgb tone_rgb(Tone tone) {
  switch (tone) {
    case Tone::kRed:
      return {255, 0, 0};
    case Tone::kBlue:
      return {0, 0, 255};
    case Tone::kGreen:
      return {0, 128, 0};
    case Tone::kDarkGreen:
      break;
  }
  return {0, 96, 0};
}

const std::array<std::string_view, kColumns>& column_headers() {
  static const std::array<std::string_view, kColumns> headers = {
      "No",   "ｺｰﾄﾞ",   "銘柄",   "取得日", "株数",   "取得株価", "現株価",
      "差額", "購入額", "評価額", "損益",   "損益率", "前日比"};
  return headers;
}

GridRow format_row(const ReportRow& row, int index) {
  GridRow cells;
  auto value = [](const std::optional<double>& v, std::string_view pattern) {
    return v ? shown(*v, pattern) : std::string("-");
  };
  cells[0].text = std::to_string(index + 1);
  cells[1].text = row.code;
  cells[2].text = cp_left(row.name, 8);
  cells[3].text = row.date;
  cells[4].text = value(row.shares, kSharesPattern);
  cells[5].text = value(row.price, kPricePattern);
  cells[6].text = value(row.current, kPricePattern);
  cells[7].text = value(row.difference, kPricePattern);
  cells[8].text = value(row.amount, kYenPattern);
  cells[9].text = value(row.valuation, kYenPattern);
  cells[10].text = value(row.profit, kYenPattern);
  cells[11].text = value(row.ratio, kPercentPattern);
  cells[12].text = value(row.change, kPercentPattern);

  const Tone tone = row.difference ? sign_tone(*row.difference) : Tone::kDarkGreen;
  for (Cell& c : cells) c.tone = tone;
  // The change column always takes its own sign's colour; "-" counts as zero.
  cells[12].tone = sign_tone(row.change.value_or(0.0));
  return cells;
}

TotalsView format_totals(const Totals& totals) {
  TotalsView view;
  const double values[4] = {totals.purchase, totals.valuation, totals.profit, totals.ratio};
  for (int i = 0; i < 4; ++i) {
    view.cells[static_cast<std::size_t>(i)].text =
        shown(values[i], i == 3 ? kPercentPattern : kYenPattern);
    view.cells[static_cast<std::size_t>(i)].tone = values[i] >= 0 ? Tone::kRed : Tone::kBlue;
  }
  return view;
}

int last_page(int count) {
  return count <= 0 ? 0 : (count - 1) / kRowsPerPage;
}

PageView fill_page(const Report& report, int page) {
  PageView view;
  const int count = static_cast<int>(report.rows.size());
  page = std::clamp(page, 0, last_page(count));
  for (int i = page * kRowsPerPage; i < count && i < (page + 1) * kRowsPerPage; ++i) {
    view.rows.push_back(format_row(report.rows[static_cast<std::size_t>(i)], i));
  }
  view.has_next = page < last_page(count);
  view.has_back = page > 0;
  return view;
}

double sort_key(const ReportRow& row, int index, int column) {
  switch (column) {
    case 0:
      return index + 1;
    case 1: {
      // Codes order as text, so "130A" sits between "1301" and "1311".
      const double key = code_order_key(row.code);
      return key >= 0 ? key : parse_number(row.code);
    }
    case 2:
      return parse_number(row.name);
    case 3:
      return parse_number(row.date);
    case 4:
      return row.shares.value_or(0.0);
    case 5:
      return row.price.value_or(0.0);
    case 6:
      return row.current.value_or(0.0);
    case 7:
      return row.difference.value_or(0.0);
    case 8:
      return row.amount.value_or(0.0);
    case 9:
      return row.valuation.value_or(0.0);
    case 10:
      return row.profit.value_or(0.0);
    case 11:
      return row.ratio.value_or(0.0);
    case 12:
      return row.change.value_or(0.0);
    default:
      return 0.0;
  }
}

std::vector<int> sort_order(const Report& report, int column, bool descending,
                            const NameCompare& names) {
  const int n = static_cast<int>(report.rows.size());
  if (column == kNameColumn) {
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      const std::string& na = report.rows[static_cast<std::size_t>(a)].name;
      const std::string& nb = report.rows[static_cast<std::size_t>(b)].name;
      const int r = names ? names(na, nb) : compare_japanese_text(na, nb);
      return descending ? r > 0 : r < 0;
    });
    return order;
  }
  std::vector<double> keys(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    keys[static_cast<std::size_t>(i)] =
        sort_key(report.rows[static_cast<std::size_t>(i)], i, column);
  }
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const double ka = keys[static_cast<std::size_t>(a)];
    const double kb = keys[static_cast<std::size_t>(b)];
    return descending ? ka > kb : ka < kb;
  });
  return order;
}

// ---- entries ----

std::string code_text(std::string_view entry) {
  return ascii_digits(entry);
}

bool code_acceptable(const std::string& db_folder, std::string_view entry) {
  const std::string typed = code_text(entry);
  const std::string_view code = typed;
  if (cp_count(code) != 4 || parse_number(code) <= 0) return false;
  // The code becomes part of a path: plain digits and letters only.
  for (char c : code) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  std::error_code ec;
  for (int year : years_present(db_folder)) {
    if (std::filesystem::is_regular_file(series_file_path(db_folder, year, code), ec)) return true;
  }
  return false;
}

std::string currency_text(std::string_view entry) {
  std::string digits;
  for (char c : ascii_digits(entry)) {
    if (c != ',') digits.push_back(c);
  }
  const double v = parse_number(digits);
  // A fixed-point currency value: four decimals, halves to even.
  return format_decimal(static_cast<double>(round_half_even(v * 10000.0)) / 10000.0);
}

std::string entry_text(std::string_view stored) {
  return shown(parse_number(stored), kEntryPattern);
}

Holding holding_from_entries(const Entries& e) {
  Holding h;
  h.code = code_text(e.code);
  h.price = currency_text(e.price);
  h.shares = currency_text(e.shares);
  const std::string date = purchase_date_text(e.date);
  h.date = date.empty() ? file_field(e.date) : date;
  return h;
}

namespace {

bool all_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool real_date(int y, int m, int d) {
  if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

}  // namespace

std::string purchase_date_text(std::string_view entry) {
  const std::string t = ascii_digits(entry);
  std::string y, m, d;
  if (all_digits(t) && t.size() == 8) {
    y = t.substr(0, 4);
    m = t.substr(4, 2);
    d = t.substr(6, 2);
  } else {
    const char sep = t.find('/') != std::string::npos ? '/' : '-';
    const std::size_t a = t.find(sep);
    const std::size_t b = a == std::string::npos ? a : t.find(sep, a + 1);
    if (b == std::string::npos || t.find(sep, b + 1) != std::string::npos) return {};
    y = t.substr(0, a);
    m = t.substr(a + 1, b - a - 1);
    d = t.substr(b + 1);
    if (y.size() != 4 || m.size() > 2 || d.size() > 2) return {};
  }
  if (!all_digits(y) || !all_digits(m) || !all_digits(d)) return {};
  const int yi = std::stoi(y), mi = std::stoi(m), di = std::stoi(d);
  if (!real_date(yi, mi, di)) return {};
  const auto two = [](int v) { return std::string(v < 10 ? "0" : "") + std::to_string(v); };
  return y + two(mi) + two(di);
}

std::optional<double> entry_number(std::string_view entry) {
  std::string t;
  for (char c : ascii_digits(entry)) {
    if (c != ',') t.push_back(c);
  }
  // Digits with at most one decimal point: no sign, no exponent, nothing after the number.
  const std::size_t point = t.find('.');
  const std::string whole = t.substr(0, point);
  const std::string fraction = point == std::string::npos ? std::string() : t.substr(point + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  if ((!whole.empty() && !all_digits(whole)) || (!fraction.empty() && !all_digits(fraction)) ||
      whole.size() > 15) {
    return std::nullopt;
  }
  return parse_number(t);
}

std::string check_entries(const Entries& entries, std::string_view latest_trading_day) {
  const std::string date = purchase_date_text(entries.date);
  if (date.empty()) return kMsgBadDate;
  if (!latest_trading_day.empty() && date > latest_trading_day) {
    return "取得日が最新取引日（" + std::string(latest_trading_day) +
           "）より後です。取得日を再度入力してください。";
  }
  // Shares are whole: a fraction would be shown rounded and valued unrounded.
  const std::optional<double> shares = entry_number(entries.shares);
  if (!shares || *shares < 1 || *shares > kMaxShares || std::floor(*shares) != *shares) {
    return kMsgBadShares;
  }
  // The stored price keeps four decimals: an entry that rounds to 0 is 0.
  const std::optional<double> price = entry_number(entries.price);
  if (!price || parse_number(currency_text(entries.price)) <= 0 || *price > kMaxPrice) {
    return kMsgBadPrice;
  }
  return {};
}

// ---- Book ----

Book::Book(SeriesSource source, std::string user_folder, std::function<std::string()> today)
    : source_(std::move(source)), user_folder_(std::move(user_folder)), today_(std::move(today)) {}

std::string Book::path() const {
  return holdings_path(user_folder_, file_no_);
}

std::string Book::latest_trading_day() const {
  const std::string today = today_ ? today_() : std::string();
  std::string latest;
  const int year = static_cast<int>(parse_number(std::string_view(today).substr(0, 4)));
  if (year > 0 &&
      read_latest_date(source_.db_folder, source_.reference_code, year, kLowestYear, latest)) {
    return latest;
  }
  return today;
}

Outcome Book::refuse_unwritable() const {
  std::string text = "エラー：" + holdings_file_name(file_no_) + " の内容を読み取れません。";
  if (!problem_.empty()) text += problem_;
  text += "読み取り専用で表示し、ファイルは変更しません。";
  return {false, text, true};
}

void Book::show_file(LoadResult&& r) {
  writable_ = r.writable();
  holdings_ = std::move(r.holdings);
  problem_ = std::move(r.problem);
  // Years may have been downloaded or deleted since the last look.
  source_.forget_folders();
  report_ = build_report(source_, today_ ? today_() : std::string(), holdings_);
}

Outcome Book::open(int file_no, bool create_missing) {
  file_no_ = std::clamp(file_no, 0, kFileCount - 1);
  last_added_ = -1;
  LoadResult r = load_holdings(path(), false);
  if (r.status == LoadStatus::kMissing && create_missing) {
    // Created under the lock: another writer may be adding the first holding right now.
    std::string lock_error;
    const std::unique_ptr<FileLock> lock = FileLock::acquire(path(), lock_timeout_, lock_error);
    if (!lock) {
      writable_ = false;
      holdings_.clear();
      report_ = Report{};
      return {false, lock_error, true};
    }
    r = load_holdings(path(), true);
  }
  if (r.status == LoadStatus::kUnreadable) {
    writable_ = false;
    problem_.clear();
    holdings_.clear();
    report_ = Report{};
    return {false, "エラー：" + holdings_file_name(file_no_) + " を開けません。", true};
  }
  show_file(std::move(r));
  // A damaged file still shows what could be read; it is never written.
  if (!writable_) return refuse_unwritable();
  return {true, "", false};
}

Outcome Book::change_file(bool must_match,
                          const std::function<Outcome(std::vector<Holding>&)>& change,
                          bool reload) {
  const std::string name = holdings_file_name(file_no_);
  std::error_code folder_ec;
  std::filesystem::create_directories(user_folder_, folder_ec);
  std::string lock_error;
  const std::unique_ptr<FileLock> lock = FileLock::acquire(path(), lock_timeout_, lock_error);
  if (!lock) return {false, lock_error, true};
  // Start from the file as it is now, not from what this book last read. A missing file is
  // only written when the change is made: a refused change leaves nothing behind.
  LoadResult r = load_holdings(path(), false);
  if (!r.writable()) {
    if (r.status == LoadStatus::kUnreadable) {
      return {false, "エラー：" + name + " を開けません。", true};
    }
    show_file(std::move(r));
    return refuse_unwritable();
  }
  if (must_match && r.holdings != holdings_) {
    // Positions in the grid no longer point at the same holdings.
    show_file(std::move(r));
    return {false,
            "エラー：" + name + " は他で変更されていました。最新の内容を表示しましたので、" +
                "もう一度操作してください。",
            true};
  }
  std::vector<Holding> next = std::move(r.holdings);
  const Outcome changed = change(next);
  if (!changed.ok) return changed;
  if (!save_holdings(path(), next)) {
    // The file still holds the previous list; show that rather than the unsaved one.
    LoadResult old = load_holdings(path());
    if (old.status != LoadStatus::kUnreadable) show_file(std::move(old));
    return {false, "エラー：" + name + " に書き込めません。", true};
  }
  if (reload) {
    show_file(LoadResult{LoadStatus::kLoaded, std::move(next), {}});
  } else {
    holdings_ = std::move(next);
  }
  writable_ = true;
  return {true, "", false};
}

Outcome Book::add(const Entries& entries) {
  if (!code_acceptable(source_.db_folder, entries.code)) return {false, kMsgBadCode, true};
  if (std::string bad = check_entries(entries, latest_trading_day()); !bad.empty()) {
    return {false, bad, true};
  }
  int added = -1;
  Outcome o = change_file(false, [&](std::vector<Holding>& holdings) -> Outcome {
    if (static_cast<int>(holdings.size()) >= kMaxHoldings) {
      return {
          false,
          "エラー：1つのファイルに登録できるのは" + std::to_string(kMaxHoldings) + "銘柄までです。",
          true};
    }
    holdings.push_back(holding_from_entries(entries));
    added = static_cast<int>(holdings.size()) - 1;
    return {true, "", false};
  });
  if (o.ok) last_added_ = added;
  return o;
}

Outcome Book::correct(int index, const Entries& entries) {
  if (!code_acceptable(source_.db_folder, entries.code)) return {false, kMsgBadCode, true};
  if (!writable_) return refuse_unwritable();
  if (index < 0 || index >= count()) return {false, "", false};
  if (std::string bad = check_entries(entries, latest_trading_day()); !bad.empty()) {
    return {false, bad, true};
  }
  return change_file(true, [&](std::vector<Holding>& holdings) -> Outcome {
    holdings[static_cast<std::size_t>(index)] = holding_from_entries(entries);
    return {true, "", false};
  });
}

Outcome Book::remove(int index) {
  if (!writable_) return refuse_unwritable();
  if (index < 0 || index >= count()) return {false, "", false};
  return change_file(true, [&](std::vector<Holding>& holdings) -> Outcome {
    holdings.erase(holdings.begin() + index);
    return {true, "", false};
  });
}

Outcome Book::sort_by(int column) {
  if (column < 0 || column >= kColumns) return {false, "", false};
  if (column == sort_column_) {
    descending_ = !descending_;
  } else {
    sort_column_ = column;
  }
  if (!writable_) return refuse_unwritable();
  const std::vector<int> order = sort_order(report_, column, descending_, name_compare_);
  std::vector<ReportRow> rows;
  rows.reserve(order.size());
  for (int i : order) rows.push_back(report_.rows[static_cast<std::size_t>(i)]);
  // The prices are already valued: the sorted rows are kept rather than valued again.
  Outcome o = change_file(
      true,
      [&](std::vector<Holding>& holdings) -> Outcome {
        std::vector<Holding> sorted;
        sorted.reserve(order.size());
        for (int i : order) sorted.push_back(holdings[static_cast<std::size_t>(i)]);
        holdings = std::move(sorted);
        return {true, "", false};
      },
      false);
  if (o.ok) report_.rows = std::move(rows);
  return o;
}

int Book::step(int index, int direction) const {
  const int n = count();
  if (n == 0) return -1;
  if (index < 0 || index >= n) return direction >= 0 ? 0 : n - 1;
  return ((index + (direction >= 0 ? 1 : -1)) % n + n) % n;
}

}  // namespace lp::portfolio
