#include "price-server/jquants_view.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "common/numbers.h"
#include "pricedb/formats.h"

namespace lp::tools {

namespace fs = std::filesystem;

namespace {

double now_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string json_text(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string iso_date(int d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d / 10000 % 10000, d / 100 % 100, d % 100);
  return buf;
}

int date_of(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c >= '0' && c <= '9') digits += c;
  }
  if (digits.size() != 8) return 0;
  return static_cast<int>(parse_integer(digits));
}

std::string percent_decode(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i] == '+' ? ' ' : s[i];
    }
  }
  return out;
}

std::map<std::string, std::string> parse_query(std::string_view query) {
  std::map<std::string, std::string> out;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view part = query.substr(0, amp);
    const std::size_t eq = part.find('=');
    if (eq != std::string_view::npos) {
      out[percent_decode(part.substr(0, eq))] = percent_decode(part.substr(eq + 1));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return out;
}

JQuantsReply error_reply(int status, const std::string& message) {
  return {status, "{\"message\":" + json_text(message) + "}", {}};
}

std::string number(double v) {
  return format_decimal(v);
}

// yyyymmdd <-> days since 1970-01-01, for the plan windows.
long days_of(int d) {
  using namespace std::chrono;
  return sys_days(year(d / 10000) / month(static_cast<unsigned>(d / 100 % 100)) /
                  day(static_cast<unsigned>(d % 100)))
      .time_since_epoch()
      .count();
}
int date_from_days(long n) {
  using namespace std::chrono;
  const year_month_day ymd{sys_days(days(n))};
  return static_cast<int>(ymd.year()) * 10000 + static_cast<int>(unsigned(ymd.month())) * 100 +
         static_cast<int>(unsigned(ymd.day()));
}
int years_back(int d, int years) {
  int y = d / 10000 - years, m = d / 100 % 100, dd = d % 100;
  if (m == 2 && dd == 29 && !((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) dd = 28;
  return y * 10000 + m * 100 + dd;
}

}  // namespace

std::string segment_on(const std::string& segment, int date) {
  if (date >= 20220404) return current_segment(segment);
  static const std::map<std::string, std::string> kOld = {{"東証", "東証一部"},
                                                          {"東証1部", "東証一部"},
                                                          {"東証外国", "東証一部"},
                                                          {"東証2部", "東証二部"},
                                                          {"マザーズ", "マザーズ"},
                                                          {"JASDAQ", "JASDAQ スタンダード"},
                                                          {"ＪＱＳ", "JASDAQ スタンダード"},
                                                          {"JQ外国部", "JASDAQ スタンダード"},
                                                          {"ＪＱＧ", "JASDAQ グロース"}};
  auto it = kOld.find(segment);
  return it == kOld.end() ? "その他" : it->second;
}

std::string current_segment(const std::string& segment) {
  static const std::map<std::string, std::string> kMap = {
      {"東証", "プライム"},           {"東証1部", "プライム"},      {"東証外国", "プライム"},
      {"東証2部", "スタンダード"},    {"JASDAQ", "スタンダード"},   {"ＪＱＳ", "スタンダード"},
      {"大証", "スタンダード"},       {"大証1部", "スタンダード"},  {"大証2部", "スタンダード"},
      {"大証外国部", "スタンダード"}, {"JQ外国部", "スタンダード"}, {"マザーズ", "グロース"},
      {"ＪＱＧ", "グロース"}};
  auto it = kMap.find(segment);
  return it == kMap.end() ? segment : it->second;
}

bool JQuantsView::load(const JQuantsViewOptions& options, std::string& error) {
  opt_ = options;
  if (opt_.page_size < 1) opt_.page_size = 1;
  issues_.clear();
  trading_days_.clear();
  index_.clear();
  std::map<std::string, Issue> by_code;
  for (int year : years_present(opt_.db_folder)) {
    for (const std::string& f : day_files_of_year(opt_.db_folder, year)) {
      const int d = date_of(fs::path(f).stem().string());
      if (d) trading_days_.insert(d);
    }
    std::error_code ec;
    const fs::path series_dir = year_folder(opt_.db_folder, year) + "data_m";
    for (const auto& entry : fs::directory_iterator(series_dir, ec)) {
      const std::string code = entry.path().stem().string();
      if (entry.path().extension() == ".csv" && code == opt_.reference_code) {
        SeriesFile s;
        if (read_series_file(entry.path().string(), s)) {
          for (const SeriesRecord& d : s.days) {
            const int date = date_of(d.d1_code_yyyymmdd);
            if (!date) continue;
            index_[date] =
                "{\"Date\":\"" + iso_date(date) + "\",\"O\":" + number(parse_number(d.d2)) +
                ",\"H\":" + number(parse_number(d.d3)) + ",\"L\":" + number(parse_number(d.d4)) +
                ",\"C\":" + number(parse_number(d.d5)) + "}";
          }
        }
        continue;
      }
      if (entry.path().extension() != ".csv" || code.size() != 4) continue;
      SeriesFile s;
      if (!read_series_file(entry.path().string(), s) || s.days.empty()) continue;
      Issue& issue = by_code[code];
      issue.code4 = code;
      issue.code5 = code + "0";
      issue.source = code;
      const int first = date_of(s.days.front().d1_code_yyyymmdd);
      const int last = date_of(s.days.back().d1_code_yyyymmdd);
      if (!issue.first || first < issue.first) issue.first = first;
      if (last > issue.last) {
        issue.last = last;
        issue.name = s.header.d3;
        issue.segment = s.header.d2;
      }
      CorrectionFile c;
      if (read_correction_file(correction_file_path(opt_.db_folder, year, code), c)) {
        for (const Correction& row : c.rows) {
          if (row.denominator > 0 && row.numerator > 0) {
            issue.factors.emplace_back(date_of(row.date), row.numerator / row.denominator);
          }
        }
      }
    }
  }
  if (trading_days_.empty()) {
    error = "no day files under " + opt_.db_folder;
    return false;
  }
  if (opt_.extra_issues && by_code.count("1301")) {
    const Issue& base = by_code["1301"];
    std::vector<int> days(trading_days_.begin(), trading_days_.end());
    Issue alpha = base;
    alpha.code5 = "130A0";
    alpha.code4 = "130A";
    alpha.name = "𠮷野テクノロジー";  // "𠮷" has no CP932 form
    alpha.segment = "マザーズ";       // グロース today
    alpha.first = std::max(base.first, days[days.size() / 2]);
    alpha.scale = 0.5;
    alpha.volume_scale = 40;  // a busy new listing: it tops the volume ranking
    alpha.factors.clear();
    by_code["130A"] = alpha;
    Issue preferred = base;
    preferred.code5 = "13015";
    preferred.code4 = "";
    preferred.name = "北洋水産第一種優先株式";
    preferred.scale = 0.8;
    by_code["1301~"] = preferred;
  }
  for (auto& [code, issue] : by_code) {
    std::sort(issue.factors.begin(), issue.factors.end());
    issues_.push_back(std::move(issue));
  }
  std::sort(issues_.begin(), issues_.end(),
            [](const Issue& a, const Issue& b) { return a.code5 < b.code5; });
  if (!opt_.now.empty() && (opt_.now.size() != 12 || date_of(opt_.now.substr(0, 8)) == 0)) {
    error = "now must be yyyymmddhhmm";
    return false;
  }
  window_from_ = window_to_ = 0;
  if (!opt_.plan.empty()) {
    static const std::map<std::string, int> kYears = {
        {"free", 2}, {"light", 5}, {"standard", 10}, {"premium", 20}};
    auto it = kYears.find(opt_.plan);
    if (it == kYears.end()) {
      error = "unknown plan " + opt_.plan;
      return false;
    }
    // Free lags twelve weeks; the paid plans reach today.
    window_to_ = opt_.plan == "free" ? date_from_days(days_of(today()) - 84) : today();
    window_from_ = years_back(window_to_, it->second);
  }
  start_ = seconds();
  lock_until_ = -1;
  fins_.load(opt_.db_folder);
  sectors_ = lp::sectors::SectorTable::load(opt_.db_folder);
  log_.clear();
  requests_ = 0;
  return true;
}

double JQuantsView::seconds() const {
  return opt_.clock ? opt_.clock() : now_seconds();
}

int JQuantsView::today() const {
  if (!opt_.now.empty()) return static_cast<int>(parse_integer(opt_.now.substr(0, 8)));
  const std::time_t t = std::time(nullptr) + 9 * 3600;  // Japan has no daylight saving
  std::tm tm{};
  gmtime_r(&t, &tm);
  return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

int JQuantsView::hhmm() const {
  if (!opt_.now.empty()) return static_cast<int>(parse_integer(opt_.now.substr(8, 4)));
  const std::time_t t = std::time(nullptr) + 9 * 3600;
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm.tm_hour * 100 + tm.tm_min;
}

bool JQuantsView::published(int date) const {
  const int t = today();
  return date < t || (date == t && hhmm() >= opt_.publish_hhmm);
}

bool JQuantsView::outside_window(int date) const {
  return window_from_ && (date < window_from_ || date > window_to_);
}

JQuantsReply JQuantsView::window_reply() const {
  return error_reply(
      400, "Your subscription covers the following dates: " + iso_date(window_from_) + " ~ " +
               iso_date(window_to_) + ". If you want more data, please check other plans.");
}

JQuantsReply JQuantsView::answer(std::string_view path, std::string_view query,
                                 std::string_view api_key) {
  const long n = ++requests_;
  JQuantsReply reply;
  const auto q = parse_query(query);
  if (opt_.lockout_at && n >= opt_.lockout_at && lock_until_ < 0) {
    lock_until_ = seconds() + opt_.lockout_seconds;
  }
  const double locked = lock_until_ - seconds();
  if (api_key.empty() || api_key != opt_.api_key) {
    reply = error_reply(403, "The incoming token is invalid or expired.");
  } else if (locked > 0) {
    reply = error_reply(429, "Rate limit exceeded. Access is blocked for a while.");
    reply.headers.emplace_back("Retry-After", std::to_string(static_cast<long>(std::ceil(locked))));
  } else if (opt_.status_210.count(n)) {
    reply = {210, "", {}};
  } else if (opt_.fail_429.count(n)) {
    reply = error_reply(429, "Rate limit exceeded");
    reply.headers.emplace_back("Retry-After", "1");
  } else if (opt_.fail_500.count(n)) {
    reply = error_reply(500, "Unexpected error. Please try again later.");
  } else if (path == "/markets/calendar") {
    reply = calendar(q);
  } else if (path == "/equities/bars/daily") {
    reply = bars(q);
  } else if (path == "/equities/master") {
    reply = master(q);
  } else if (path == "/fins/summary") {
    reply = fins_summary(q);
  } else if (path == "/indices/bars/daily/topix") {
    reply = opt_.serve_topix && opt_.plan != "free"
                ? topix(q)
                : error_reply(403, "This API is not available on your subscription.");
  } else {
    reply = error_reply(404, "Not Found");
  }
  std::string target(path);
  if (!query.empty()) target += "?" + std::string(query);
  log_.push_back({seconds() - start_, std::move(target), reply.status});
  return reply;
}

JQuantsReply JQuantsView::page(const std::vector<std::string>& records,
                               const std::map<std::string, std::string>& q) {
  std::size_t offset = 0;
  if (auto it = q.find("pagination_key"); it != q.end()) {
    const std::string& key = it->second;
    if (key.size() < 2 || key[0] != 'k' ||
        key.find_first_not_of("0123456789", 1) != std::string::npos || key.size() > 12) {
      return error_reply(400, "pagination_key is invalid");
    }
    offset = static_cast<std::size_t>(std::stoull(key.substr(1)));
    if (offset >= records.size()) return error_reply(400, "pagination_key is invalid");
  }
  const std::size_t end =
      std::min(records.size(), offset + static_cast<std::size_t>(opt_.page_size));
  std::string body = "{\"data\":[";
  for (std::size_t i = offset; i < end; ++i) {
    if (i > offset) body += ',';
    body += records[i];
  }
  body += "]";
  if (end < records.size()) body += ",\"pagination_key\":\"k" + std::to_string(end) + "\"";
  body += "}";
  return {200, std::move(body), {}};
}

JQuantsReply JQuantsView::calendar(const std::map<std::string, std::string>& q) {
  const int from = q.count("from") ? date_of(q.at("from")) : 0;
  const int to = q.count("to") ? date_of(q.at("to")) : 0;
  if (!from || !to || from > to) return error_reply(400, "from and to are required");
  if (outside_window(from) || outside_window(to)) return window_reply();
  std::vector<std::string> records;
  const int y0 = from / 10000;
  for (int y = y0; y <= to / 10000 && y < y0 + 20; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= 31; ++d) {
        const int date = y * 10000 + m * 100 + d;
        if (date < from || date > to) continue;
        static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        if (d > kDays[m - 1] || (m == 2 && d == 29 && !leap)) continue;
        records.push_back("{\"Date\":\"" + iso_date(date) + "\",\"HolDiv\":\"" +
                          (trading_days_.count(date) ? "1" : "0") + "\"}");
      }
    }
  }
  return page(records, q);
}

JQuantsReply JQuantsView::bars(const std::map<std::string, std::string>& q) {
  const int date = q.count("date") ? date_of(q.at("date")) : 0;
  if (!date) return error_reply(400, "date is required");
  if (outside_window(date)) return window_reply();
  std::vector<std::string> records;
  // Before the publication time the newest day is a trading day without bars.
  if (!trading_days_.count(date) || !published(date)) return page(records, q);
  DayFile day;
  read_day_file(day_file_path(opt_.db_folder, std::to_string(date)), day, false);
  std::map<std::string, const PriceRecord*> rows;
  for (const PriceRecord& r : day.rows) rows[r.code] = &r;
  const std::string iso = iso_date(date);
  for (const Issue& issue : issues_) {
    if (date < issue.first || date > issue.last) continue;
    std::string rec = "{\"Date\":\"" + iso + "\",\"Code\":\"" + issue.code5 + "\"";
    auto it = opt_.idle.count(issue.code4 + ":" + std::to_string(date)) ? rows.end()
                                                                        : rows.find(issue.source);
    double factor = 1, later = 1;
    for (const auto& [d, f] : issue.factors) {
      if (d == date) factor = f;
      if (d > date) later *= f;
    }
    if (it == rows.end()) {
      rec +=
          ",\"O\":null,\"H\":null,\"L\":null,\"C\":null,\"UL\":\"0\",\"LL\":\"0\",\"Vo\":null,"
          "\"Va\":null,\"AdjFactor\":" +
          number(factor) +
          ",\"AdjO\":null,\"AdjH\":null,\"AdjL\":null,\"AdjC\":null,\"AdjVo\":null}";
    } else {
      const PriceRecord& r = *it->second;
      const double o = parse_number(r.open) * issue.scale, h = parse_number(r.high) * issue.scale,
                   l = parse_number(r.low) * issue.scale, c = parse_number(r.close) * issue.scale;
      const double v = std::round(parse_number(r.volume) * issue.volume_scale);
      const auto round1 = [](double x) { return std::round(x * 10) / 10; };
      rec += ",\"O\":" + number(round1(o)) + ",\"H\":" + number(round1(h)) +
             ",\"L\":" + number(round1(l)) + ",\"C\":" + number(round1(c)) +
             ",\"UL\":\"0\",\"LL\":\"0\",\"Vo\":" + number(v) +
             ",\"Va\":" + number(std::round(v * c)) + ",\"AdjFactor\":" + number(factor) +
             ",\"AdjO\":" + number(round1(o) * later) + ",\"AdjH\":" + number(round1(h) * later) +
             ",\"AdjL\":" + number(round1(l) * later) + ",\"AdjC\":" + number(round1(c) * later) +
             ",\"AdjVo\":" + number(v / later) + "}";
    }
    records.push_back(std::move(rec));
  }
  return page(records, q);
}

JQuantsReply JQuantsView::topix(const std::map<std::string, std::string>& q) {
  const int from = q.count("from") ? date_of(q.at("from")) : 0;
  const int to = q.count("to") ? date_of(q.at("to")) : 0;
  if (!from || !to || from > to) return error_reply(400, "from and to are required");
  if (outside_window(from) || outside_window(to)) return window_reply();
  std::vector<std::string> records;
  for (auto it = index_.lower_bound(from); it != index_.end() && it->first <= to; ++it) {
    if (published(it->first)) records.push_back(it->second);
  }
  return page(records, q);
}

JQuantsReply JQuantsView::master(const std::map<std::string, std::string>& q) {
  int date = q.count("date") ? date_of(q.at("date")) : *trading_days_.rbegin();
  if (!date) return error_reply(400, "date is invalid");
  if (outside_window(date)) return window_reply();
  std::vector<std::string> records;
  for (const Issue& issue : issues_) {
    if (date < issue.first || date > issue.last) continue;
    const lp::sectors::Sector* s = sectors_ ? sectors_->of(issue.code4, date) : nullptr;
    const std::string s17 = s ? s->s17 : "99", s33 = s ? s->s33 : "9999";
    const std::string s17_name = s ? s->s17_name : "その他", s33_name = s ? s->s33_name : "その他";
    records.push_back("{\"Date\":\"" + iso_date(date) + "\",\"Code\":\"" + issue.code5 +
                      "\",\"CoName\":" + json_text(issue.name) + ",\"CoNameEn\":\"\"" +
                      ",\"S17\":" + json_text(s17) + ",\"S17Nm\":" + json_text(s17_name) +
                      ",\"S33\":" + json_text(s33) + ",\"S33Nm\":" + json_text(s33_name) +
                      ",\"ScaleCat\":\"-\",\"Mkt\":\"0000\",\"MktNm\":" +
                      json_text(segment_on(issue.segment, date)) + "}");
  }
  return page(records, q);
}

JQuantsReply JQuantsView::fins_summary(const std::map<std::string, std::string>& q) {
  if (opt_.fins_status == 403) {
    return error_reply(403, "This API is not available on your subscription.");
  }
  if (opt_.fins_status) return error_reply(opt_.fins_status, "Internal Server Error");
  if (q.count("code")) return page(fins_.by_code(q.at("code")), q);
  const int date = q.count("date") ? date_of(q.at("date")) : 0;
  if (!date) return error_reply(400, "code or date is required");
  // Today's summaries only from their publication time on; none of a day still to come.
  const int t = today();
  const int at = opt_.fins_publish_hhmm < 0 ? opt_.publish_hhmm : opt_.fins_publish_hhmm;
  if (date > t || (date == t && hhmm() < at)) return page({}, q);
  return page(fins_.by_date(date), q);
}

}  // namespace lp::tools
