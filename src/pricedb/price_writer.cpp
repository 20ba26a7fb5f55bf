#include "pricedb/price_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/stock_code.h"

namespace lp {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCrLf = "\r\n";

struct ParsedSeries {
  std::string_view code, segment, name;
  std::vector<std::pair<std::string, std::string>> lines;  // date, whole line
};

// Reads header and day records by the comma-separated convention, so a file written by any
// tool (quoted fields, LF line ends) merges the same way.
ParsedSeries parse_series(std::string_view bytes) {
  ParsedSeries out;
  FieldReader r(bytes);
  std::string_view h[6];
  for (auto& f : h) r.next(f);
  out.code = h[0];
  out.segment = h[1];
  out.name = h[2];
  long long n = std::max<std::int64_t>(0, parse_integer(h[5]));
  std::string_view f[6];
  for (long long i = 0; i < n && !r.at_end(); ++i) {
    for (auto& x : f) r.next(x);
    std::string line;
    for (int k = 0; k < 6; ++k) {
      if (k) line += ',';
      line += f[k];
    }
    out.lines.emplace_back(std::string(f[0]), std::move(line));
  }
  return out;
}

void put_header(std::string& out, std::string_view code, std::string_view segment,
                std::string_view name, std::string_view oldest, std::string_view newest,
                std::size_t count) {
  out += code;
  out += ',';
  // Names and segments come from outside (a server, a user's option): never the separator.
  out += is_csv_safe_text(segment, TextEncoding::cp932)
             ? std::string(segment)
             : csv_safe_text(segment, TextEncoding::cp932);
  out += ',';
  out += is_csv_safe_text(name, TextEncoding::cp932) ? std::string(name)
                                                     : csv_safe_text(name, TextEncoding::cp932);
  out += ',';
  out += oldest;
  out += ',';
  out += newest;
  out += ',';
  out += std::to_string(count);
  out += kCrLf;
}

// The date of a day line ("20250613,..."): its first field.
std::string_view line_date(std::string_view line) {
  return line.substr(0, line.find(','));
}

// A well-formed series file, the usual case, is extended at its end: its body is kept byte for
// byte and only the header's dates and count change. False when the file needs the full merge
// (declared count differs from its lines, quoted fields, no final line end) or the new days do
// not all come after its last one.
struct AppendPlan {
  std::string_view segment, name, oldest, body;
  long long present = 0;
  bool crlf = true;  // every body line already ends in CR LF
};

bool plan_append(std::string_view existing, std::string_view first_new_date, AppendPlan& plan) {
  plan = AppendPlan{};
  if (existing.empty()) return true;
  FieldReader r(existing);
  std::string_view h[6];
  for (auto& f : h) r.next(f);
  plan.segment = h[1];
  plan.name = h[2];
  const std::size_t body_at = r.position();
  const std::string_view body = existing.substr(body_at);
  plan.body = body;
  // Line count and whether every line already ends in CR LF, in one pass.
  for (const char *p = body.data(), *end = body.data() + body.size();
       (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))));
       ++p) {
    if (p == body.data() || p[-1] != '\r') plan.crlf = false;
    ++plan.present;
  }
  const bool tidy = body_at > 0 && existing[body_at - 1] == '\n' &&
                    (body.empty() || body.back() == '\n') && parse_integer(h[5]) == plan.present &&
                    body.find('"') == std::string_view::npos;
  if (!tidy) return false;
  if (body.empty()) return true;
  plan.oldest = line_date(body);
  std::string_view last = body.substr(0, body.size() - 1);
  if (!last.empty() && last.back() == '\r') last.remove_suffix(1);
  const std::size_t nl = last.rfind('\n');
  const std::string_view newest = line_date(last.substr(nl == std::string_view::npos ? 0 : nl + 1));
  return first_new_date > newest;
}

}  // namespace

CorrectionRatio correction_ratio(double factor) {
  // Outside this range the ratio would not fit (check_bar refuses such a factor first).
  if (!(factor >= kMinSplitFactor && factor <= kMaxSplitFactor)) return {};
  const double inverse = 1.0 / factor;
  const double whole = std::round(inverse);
  if (whole >= 1 && std::fabs(inverse - whole) < 1e-9 * whole) {
    return {1, static_cast<long long>(whole)};
  }
  long long den = 1;
  double scaled = factor;
  while (den < 1000000000LL &&
         std::fabs(scaled - std::round(scaled)) > 1e-9 * std::max(1.0, scaled)) {
    den *= 10;
    scaled = factor * static_cast<double>(den);
  }
  long long num = static_cast<long long>(std::llround(scaled));
  if (num == 0) num = 1;
  const long long g = std::gcd(num, den);
  return {num / g, den / g};
}

std::string price_text(double value) {
  return format_decimal(value);
}

bool FileBatch::write(const std::string& path, std::string_view bytes,
                      std::optional<std::string> old, std::string& error) {
  if (!write_file_atomic(path, bytes)) {
    error = "cannot write " + path;
    return false;
  }
  undo_.emplace_back(path, std::move(old));
  return true;
}

void FileBatch::rollback() {
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
    if (it->second) {
      write_file_atomic(it->first, *it->second);
    } else {
      std::error_code ec;
      fs::remove(it->first, ec);
    }
  }
  undo_.clear();
}

std::pair<std::string, std::string> series_identity(std::string_view existing) {
  FieldReader r(existing);
  r.skip(1);
  std::string segment(r.next_or_empty());
  std::string name(r.next_or_empty());
  return {segment, name};
}

std::string merge_series_bytes(std::string_view existing, std::string_view code,
                               std::string_view segment, std::string_view name,
                               const std::vector<std::string>& lines) {
  std::string out;
  if (lines.empty() && existing.empty()) return out;
  AppendPlan plan;
  if (!lines.empty() && !existing.empty() &&
      plan_append(existing, line_date(lines.front()), plan)) {
    out.reserve(existing.size() + lines.size() * 48 + 64);
    put_header(out, code, segment.empty() ? plan.segment : segment, name.empty() ? plan.name : name,
               plan.oldest.empty() ? line_date(lines.front()) : plan.oldest,
               line_date(lines.back()), static_cast<std::size_t>(plan.present) + lines.size());
    // Normalise the body's line ends to CR LF while copying.
    if (plan.crlf) {
      out += plan.body;
    } else {
      const std::string_view body = plan.body;
      for (std::size_t p = 0; p < body.size();) {
        std::size_t e = body.find('\n', p);
        std::string_view l = body.substr(p, e - p);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        out += l;
        out += kCrLf;
        p = e + 1;
      }
    }
    for (const auto& l : lines) {
      out += l;
      out += kCrLf;
    }
    return out;
  }
  ParsedSeries parsed = parse_series(existing);
  std::vector<std::pair<std::string, std::string>> merged;
  merged.reserve(parsed.lines.size() + lines.size());
  std::vector<std::string_view> new_dates;
  new_dates.reserve(lines.size());
  for (const auto& l : lines) {
    merged.emplace_back(std::string(line_date(l)), l);
    new_dates.push_back(line_date(l));
  }
  std::sort(new_dates.begin(), new_dates.end());
  for (auto& [date, line] : parsed.lines) {
    if (!std::binary_search(new_dates.begin(), new_dates.end(), std::string_view(date))) {
      merged.emplace_back(std::move(date), std::move(line));
    }
  }
  std::stable_sort(merged.begin(), merged.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  put_header(out, code, segment.empty() ? parsed.segment : segment,
             name.empty() ? parsed.name : name, merged.empty() ? "" : merged.front().first,
             merged.empty() ? "" : merged.back().first, merged.size());
  for (const auto& [date, line] : merged) {
    out += line;
    out += kCrLf;
  }
  return out;
}

std::string merge_correction_bytes(std::string_view existing, std::string_view code, int year,
                                   std::string_view date, const CorrectionRatio& ratio) {
  std::vector<std::pair<std::string, std::string>> rows;
  FieldReader r(existing);
  std::string_view h[3];
  for (auto& f : h) r.next(f);
  const long long n = std::max<std::int64_t>(0, parse_integer(h[2]));
  for (long long i = 0; i < n && !r.at_end(); ++i) {
    std::string_view f[3];
    for (auto& x : f) r.next(x);
    if (f[0] == date) continue;
    rows.emplace_back(std::string(f[0]),
                      std::string(f[0]) + "," + std::string(f[1]) + "," + std::string(f[2]));
  }
  rows.emplace_back(std::string(date), std::string(date) + "," + std::to_string(ratio.numerator) +
                                           "," + std::to_string(ratio.denominator));
  std::stable_sort(rows.begin(), rows.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string out = std::string(code) + "," + std::to_string(year) + "," +
                    std::to_string(rows.size()) + std::string(kCrLf);
  for (const auto& row : rows) {
    out += row.second;
    out += kCrLf;
  }
  return out;
}

void EqualWeightIndex::seed(double value, std::unordered_map<std::string, double> closes) {
  started_ = true;
  value_ = value;
  closes_ = std::move(closes);
}

double EqualWeightIndex::add_day(const std::vector<StockBar>& bars) {
  if (!started_) {
    started_ = true;
    value_ = kIndexBase;
  } else {
    double sum = 0;
    long long n = 0;
    for (const StockBar& b : bars) {
      auto it = closes_.find(b.code);
      if (it == closes_.end() || it->second <= 0 || b.close <= 0 || b.adj_factor <= 0) continue;
      sum += b.close / (it->second * b.adj_factor);
      ++n;
    }
    if (n > 0) value_ = static_cast<double>(round_half_even(value_ * sum / n * 100)) / 100;
  }
  closes_.clear();
  closes_.reserve(bars.size());
  for (const StockBar& b : bars) {
    if (b.close > 0) closes_[b.code] = b.close;
  }
  return value_;
}

bool check_bar(std::string_view date, const StockBar& b, std::string& error) {
  if (b.adj_factor != 1.0 &&
      !(b.adj_factor >= kMinSplitFactor && b.adj_factor <= kMaxSplitFactor)) {
    error = std::string(date) + " " + b.code + " の分割係数 " + format_decimal(b.adj_factor) +
            " は受け付けられません (1/1000～1000 の範囲外)";
    return false;
  }
  if (b.volume < 0 || b.volume > kMaxVolume) {
    error = std::string(date) + " " + b.code + " の出来高 " + std::to_string(b.volume) +
            " は受け付けられません (0～" + std::to_string(kMaxVolume) + " の範囲外)";
    return false;
  }
  return true;
}

DayWriter::DayWriter(std::string db_folder, std::string reference_code, BatchLimits limits)
    : db_(std::move(db_folder)), ref_(std::move(reference_code)), limits_(limits) {}

DayWriter::~DayWriter() {
  for (const auto& [year, f] : folders_) {
    for (int fd : {f.series, f.corrections, f.days}) {
      if (fd >= 0) ::close(fd);
    }
  }
}

double DayWriter::clock() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

const std::vector<std::string>& DayWriter::reference_dates(int year) {
  auto it = ref_dates_.find(year);
  if (it != ref_dates_.end()) return it->second;
  std::vector<std::string> dates;
  read_series_dates(series_file_path(db_, year, ref_), dates);
  std::reverse(dates.begin(), dates.end());
  return ref_dates_[year] = std::move(dates);
}

bool DayWriter::day_present(std::string_view date) {
  const int year = static_cast<int>(parse_integer(date.substr(0, 4)));
  const auto& dates = reference_dates(year);
  if (!std::binary_search(dates.begin(), dates.end(), std::string(date))) return false;
  std::error_code ec;
  return fs::exists(day_file_path(db_, date), ec);
}

const DayWriter::Folders* DayWriter::ensure_year(int year, std::string& error) {
  if (auto it = folders_.find(year); it != folders_.end()) return &it->second;
  Folders f;
  int* fds[] = {&f.days, &f.series, &f.corrections};
  const char* subs[] = {"data_d", "data_m", "data_mh"};
  const std::string year_path = year_folder(db_, year);
  std::error_code exists_ec;
  const bool had_year = fs::exists(year_path, exists_ec);
  for (int i = 0; i < 3; ++i) {
    const std::string folder = year_path + subs[i];
    std::error_code ec;
    if (!fs::exists(folder, ec) && !ec) f.created.push_back(folder);
    fs::create_directories(folder, ec);
    if (!ec) {
      *fds[i] = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (*fds[i] < 0) ec.assign(errno, std::generic_category());
    }
    if (ec) {
      error = "cannot create " + folder + " (" + ec.message() + ")";
      for (int* fd : fds) {
        if (*fd >= 0) ::close(*fd);
      }
      return nullptr;
    }
  }
  if (!had_year) f.created.push_back(year_path);
  return &(folders_[year] = f);
}

void DayWriter::drop_created_folders(int year) {
  const auto it = folders_.find(year);
  if (it == folders_.end() || it->second.created.empty()) return;
  for (int fd : {it->second.series, it->second.corrections, it->second.days}) {
    if (fd >= 0) ::close(fd);
  }
  // rmdir leaves a folder that holds anything (an earlier batch's files, another's).
  for (const std::string& folder : it->second.created) ::rmdir(folder.c_str());
  folders_.erase(it);
}

int DayWriter::read_old(int dir, const std::string& name, std::string_view& old) {
  // Room for the largest file of a year (a year of day lines is about 12 KB) in one read.
  constexpr std::size_t kRoom = 64 * 1024;
  old = {};
  const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? 0 : -1;
  std::size_t size = 0;
  while (true) {
    if (store_.size() - used_ - size < kRoom) {
      store_.resize(std::max(store_.size() * 2, used_ + size + kRoom));
    }
    const std::size_t room = store_.size() - used_ - size;
    const ssize_t r = ::read(fd, store_.data() + used_ + size, room);
    if (r < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      ::close(fd);
      errno = e;
      return -1;
    }
    size += static_cast<std::size_t>(r);
    // A regular file comes whole unless the room ran out: a short read is its end.
    if (r == 0 || static_cast<std::size_t>(r) < room) break;
  }
  ::close(fd);
  old = std::string_view(store_.data() + used_, size);
  used_ += size;
  return 1;
}

bool DayWriter::replace(int dir, const std::string& name, int had, std::string_view old,
                        std::initializer_list<std::string_view> pieces) {
  if (!write_file_atomic_at(dir, name.c_str(), pieces, scratch_)) return false;
  // `old` may have moved with store_ since it was read: keep its offset, not its address.
  const std::size_t at = had > 0 ? static_cast<std::size_t>(old.data() - store_.data()) : 0;
  replaced_.push_back({dir, name, at, old.size(), had > 0});
  return true;
}

bool DayWriter::append_series(int dir, std::string_view code, std::string_view segment,
                              std::string_view name, std::string_view lines, std::size_t count,
                              std::string_view first, std::string_view last, int had,
                              std::string_view old) {
  AppendPlan plan;
  if (plan_append(old, first, plan) && plan.crlf) {
    header_.clear();
    put_header(header_, code, segment.empty() ? plan.segment : segment,
               name.empty() ? plan.name : name, plan.oldest.empty() ? first : plan.oldest, last,
               static_cast<std::size_t>(plan.present) + count);
    return replace(dir, file_name_, had, old, {header_, plan.body, lines});
  }
  std::vector<std::string> split;
  split.reserve(count);
  for (std::size_t p = 0; p < lines.size();) {
    const std::size_t e = lines.find(kCrLf, p);
    split.emplace_back(lines.substr(p, e - p));
    p = e + kCrLf.size();
  }
  const std::string bytes = merge_series_bytes(old, code, segment, name, split);
  return replace(dir, file_name_, had, old, {bytes});
}

void DayWriter::rollback() {
  for (auto it = replaced_.rbegin(); it != replaced_.rend(); ++it) {
    if (it->existed) {
      write_file_atomic_at(it->dir, it->name.c_str(),
                           {std::string_view(store_.data() + it->at, it->size)}, scratch_);
    } else {
      ::unlinkat(it->dir, it->name.c_str(), 0);
    }
  }
  replaced_.clear();
  used_ = 0;
}

std::string DayWriter::stored_day_before(std::string_view date) {
  const int year = static_cast<int>(parse_integer(date.substr(0, 4)));
  for (int y = year; y >= year - 1; --y) {
    const auto& dates = reference_dates(y);
    auto it = std::lower_bound(dates.begin(), dates.end(), std::string(date));
    if (it != dates.begin()) return *(it - 1);
  }
  return {};
}

// The index continues from a stored day: its value (the reference code's close there) and
// every stock's close of that day.
void DayWriter::seed_index(const std::string& prev) {
  if (prev.empty()) {
    index_ = EqualWeightIndex{};
    index_date_.clear();
    return;
  }
  if (prev == index_date_) return;
  DayFile day;
  index_ = EqualWeightIndex{};
  index_date_.clear();
  if (!read_day_file(day_file_path(db_, prev), day, false)) return;
  std::unordered_map<std::string, double> closes;
  double value = kIndexBase;
  for (const PriceRecord& row : day.rows) {
    if (row.code == ref_) {
      value = parse_number(row.close);
    } else {
      closes[row.code] = parse_number(row.close);
    }
  }
  index_.seed(value, std::move(closes));
  index_date_ = prev;
}

std::string DayWriter::stored_index_name() {
  for (int year : years_present(db_)) {
    std::string bytes;
    if (read_file_bytes(series_file_path(db_, year, ref_), bytes)) {
      return cp932_to_utf8(series_identity(bytes).second);
    }
  }
  return {};
}

bool DayWriter::commit_day(std::string_view date, const std::vector<StockBar>& bars,
                           std::string& error, const IndexBar* topix) {
  std::vector<DayBars> one(1);
  one[0].date = date;
  one[0].bars = bars;
  if (topix) one[0].topix = *topix;
  return commit_days(one, error);
}

bool DayWriter::add_day(DayBars day, std::string& error) {
  if (!pending_.empty() && pending_.front().date.substr(0, 4) != day.date.substr(0, 4) &&
      !flush(error)) {
    return false;
  }
  if (pending_.empty()) pending_since_ = clock();
  std::size_t bytes = sizeof(DayBars) + day.bars.size() * sizeof(StockBar);
  for (const StockBar& b : day.bars) bytes += b.segment.capacity() + b.name.capacity();
  pending_bytes_ += bytes;
  pending_.push_back(std::move(day));
  if (static_cast<int>(pending_.size()) >= limits_.max_days ||
      pending_bytes_ >= limits_.max_bytes || clock() - pending_since_ >= limits_.max_seconds) {
    return flush(error);
  }
  return true;
}

bool DayWriter::flush(std::string& error) {
  if (pending_.empty()) return true;
  const bool ok = commit_days(pending_, error);
  pending_.clear();
  pending_bytes_ = 0;
  return ok;
}

namespace {

// ",open,high,low,close,volume" and the line end: the tail a bar's line has in a series file
// and in a day file alike.
void append_bar_fields(std::string& out, const StockBar& b) {
  for (double p : {b.open, b.high, b.low, b.close}) {
    out += ',';
    out += price_text(p);
  }
  out += ',';
  out += std::to_string(b.volume);
  out += kCrLf;
}

}  // namespace

bool DayWriter::write_corrections(
    int dir, const std::string& code, int year,
    std::vector<std::pair<std::string_view, CorrectionRatio>>& corrections, std::string_view& old,
    std::string& bytes) {
  if (corrections.empty()) return true;
  // A bar's split and an idle day's split of one stock may arrive out of date order.
  std::stable_sort(corrections.begin(), corrections.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  const int had = read_old(dir, file_name_, old);
  if (had < 0) return false;
  bytes.assign(old);
  for (const auto& [date, ratio] : corrections) {
    bytes = merge_correction_bytes(bytes, code, year, date, ratio);
  }
  return replace(dir, file_name_, had, old, {bytes});
}

bool DayWriter::commit_days(std::vector<DayBars>& days, std::string& error) {
  if (days.empty()) return true;
  const std::string_view year_text = std::string_view(days.front().date).substr(0, 4);
  for (std::size_t d = 0; d < days.size(); ++d) {
    const std::string& date = days[d].date;
    if (date.size() != 8 || date.substr(0, 4) != year_text ||
        (d > 0 && !(days[d - 1].date < date))) {
      error = "days of one batch must be of one year, dates rising (" + date + ")";
      return false;
    }
    for (const StockBar& b : days[d].bars) {
      if (!check_bar(date, b, error)) return false;
    }
  }
  const int year = static_cast<int>(parse_integer(year_text));
  const Folders* folders = ensure_year(year, error);
  if (!folders) return false;
  const EqualWeightIndex index_before = index_;
  const std::string index_date_before = index_date_;

  replaced_.clear();
  used_ = 0;
  auto fail = [&](const std::string& path, const std::string& message = {}) {
    error = message.empty() ? "cannot write " + path + " (" + std::strerror(errno) + ")" : message;
    rollback();
    drop_created_folders(year);
    index_ = index_before;
    index_date_ = index_date_before;
    return false;
  };

  // Each stock's bars over the batch, in the order the stocks first appear.
  struct Stock {
    std::string code;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> bars;  // (day, bar)
    std::vector<std::pair<std::uint32_t, double>> idle;         // (day, split factor)
  };
  std::vector<Stock> stocks;
  std::unordered_map<std::string_view, std::size_t> stock_of;
  stock_of.reserve(days.front().bars.size() * 2);
  for (std::size_t d = 0; d < days.size(); ++d) {
    for (std::size_t i = 0; i < days[d].bars.size(); ++i) {
      StockBar& b = days[d].bars[i];
      if (b.code == ref_ || !is_stock_code(b.code)) continue;
      // Text from outside never carries the separator into our files.
      if (!is_csv_safe_text(b.segment, TextEncoding::cp932))
        b.segment = csv_safe_text(b.segment, TextEncoding::cp932);
      if (!is_csv_safe_text(b.name, TextEncoding::cp932))
        b.name = csv_safe_text(b.name, TextEncoding::cp932);
      auto [it, added] = stock_of.emplace(b.code, stocks.size());
      if (added) stocks.push_back({b.code, {}, {}});
      stocks[it->second].bars.emplace_back(static_cast<std::uint32_t>(d),
                                           static_cast<std::uint32_t>(i));
    }
  }
  for (std::size_t d = 0; d < days.size(); ++d) {
    for (const auto& [code, factor] : days[d].idle_splits) {
      if (code == ref_ || !is_stock_code(code)) continue;
      auto [it, added] = stock_of.emplace(code, stocks.size());
      if (added) stocks.push_back({code, {}, {}});
      stocks[it->second].idle.emplace_back(static_cast<std::uint32_t>(d), factor);
    }
  }

  // Series and correction files, each read and replaced once. A bar without a name or segment
  // takes the one its series holds at that day (the stored one, or an earlier day's of the
  // batch), so that its day-file line names the stock as its series does.
  std::string_view old;
  std::string lines, cbytes;
  for (const Stock& stock : stocks) {
    const std::string& code = stock.code;
    file_name_.assign(code).append(".csv");
    std::vector<std::pair<std::string_view, CorrectionRatio>> corrections;
    for (const auto& [d, factor] : stock.idle) {
      corrections.emplace_back(days[d].date, correction_ratio(factor));
    }
    if (stock.bars.empty()) {  // only splits on days it did not trade: its series stays
      if (!write_corrections(folders->corrections, code, year, corrections, old, cbytes))
        return fail(correction_file_path(db_, year, code));
      continue;
    }
    const int had = read_old(folders->series, file_name_, old);
    if (had < 0) return fail(series_file_path(db_, year, code));
    std::string segment, name;
    if (had > 0) {
      auto stored = series_identity(old);
      segment = csv_safe_text(stored.first, TextEncoding::cp932);
      name = csv_safe_text(stored.second, TextEncoding::cp932);
    }
    lines.clear();
    for (const auto& [d, i] : stock.bars) {
      StockBar& b = days[d].bars[i];
      if (b.segment.empty())
        b.segment = segment;
      else
        segment = b.segment;
      if (b.name.empty())
        b.name = name;
      else
        name = b.name;
      lines += days[d].date;
      append_bar_fields(lines, b);
      if (b.adj_factor != 1.0) {
        corrections.emplace_back(days[d].date, correction_ratio(b.adj_factor));
      }
    }
    const std::string& first_date = days[stock.bars.front().first].date;
    const std::string& last_date = days[stock.bars.back().first].date;
    if (!append_series(folders->series, code, segment, name, lines, stock.bars.size(), first_date,
                       last_date, had, old)) {
      return fail(series_file_path(db_, year, code));
    }
    if (!write_corrections(folders->corrections, code, year, corrections, old, cbytes))
      return fail(correction_file_path(db_, year, code));
  }

  // The day files, each with the index under the reference code; the index runs on from the
  // day before, stored or of this batch.
  const std::string segment = utf8_to_cp932(kIndexSegment);
  std::string index_name;
  std::string ref_lines, rows, head;
  std::vector<StockBar> kept;
  for (std::size_t d = 0; d < days.size(); ++d) {
    const std::string& date = days[d].date;
    const std::string stored = stored_day_before(date);
    if (d == 0 || stored > days[d - 1].date) seed_index(stored);
    kept.clear();
    rows.clear();
    long long volume = 0;
    for (const StockBar& b : days[d].bars) {
      if (b.code == ref_ || !is_stock_code(b.code)) continue;
      if (__builtin_add_overflow(volume, b.volume, &volume)) {
        return fail(day_file_path(db_, date), date + " の出来高の合計が大きすぎます");
      }
      rows += b.code;
      rows += ',';
      rows += b.segment;
      rows += ',';
      rows += b.name;
      append_bar_fields(rows, b);
      kept.push_back(b);
    }
    const double value = index_.add_day(kept);
    index_date_ = date;
    const IndexBar bar = days[d].topix ? *days[d].topix : IndexBar{value, value, value, value};
    line_ = date;
    for (double p : {bar.open, bar.high, bar.low, bar.close}) {
      line_ += ',';
      line_ += price_text(p);
    }
    line_ += ',';
    line_ += std::to_string(volume);
    ref_lines += line_;
    ref_lines += kCrLf;
    index_name = utf8_to_cp932(days[d].topix ? kTopixIndexName : kEqualWeightIndexName);

    head = date + "," + std::to_string(kept.size() + 1) + ",0,0,0,0,0,0\r\n" + ref_ + "," +
           segment + "," + index_name;
    head += std::string_view(line_).substr(date.size());
    head += kCrLf;
    file_name_.assign(date).append(".csv");
    const int dhad = read_old(folders->days, file_name_, old);
    if (dhad < 0 || !replace(folders->days, file_name_, dhad, old, {head, rows})) {
      return fail(day_file_path(db_, date));
    }
  }

  // Last: the reference series, which makes the batch's days count as present.
  file_name_.assign(ref_).append(".csv");
  const int rhad = read_old(folders->series, file_name_, old);
  if (rhad < 0 || !append_series(folders->series, ref_, segment, index_name, ref_lines, days.size(),
                                 days.front().date, days.back().date, rhad, old)) {
    return fail(series_file_path(db_, year, ref_));
  }
  replaced_.clear();
  used_ = 0;
  folders_[year].created.clear();  // they hold the batch now
  reference_dates(year);
  auto& dates = ref_dates_[year];
  for (const DayBars& day : days) {
    auto at = std::lower_bound(dates.begin(), dates.end(), day.date);
    if (at == dates.end() || *at != day.date) dates.insert(at, day.date);
    bars_committed_ += static_cast<long>(day.bars.size());
  }
  committed_ += static_cast<int>(days.size());
  return true;
}

}  // namespace lp
