#include "pricedb/jquants_sync.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/keyvalue.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_fins.h"
#include "pricedb/jquants_json.h"
#include "pricedb/price_writer.h"
#include "pricedb/sectors.h"
#include "pricedb/stock_code.h"

namespace lp::jquants {

namespace fs = std::filesystem;

namespace {

long long days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

std::string civil_text(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y0 = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04lld%02u%02u", y0 + (m <= 2), m % 100, d % 100);
  return buf;
}

long long day_number(const std::string& date) {
  const int n = static_cast<int>(parse_integer(date));
  return days_from_civil(n / 10000, n / 100 % 100, n % 100);
}

// yyyymmdd moved by `days`.
std::string add_days(const std::string& date, int days) {
  return civil_text(day_number(date) + days);
}

// yyyymmdd moved by whole years; a 29 February lands on the 28th.
std::string add_years(const std::string& date, int years) {
  const int n = static_cast<int>(parse_integer(date));
  const int y = n / 10000 + years, m = n / 100 % 100;
  int d = n % 100;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (m == 2 && d == 29 && !leap) d = 28;
  char buf[24];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

std::string url_encode(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string duration_text(double seconds) {
  const long s = std::lround(std::ceil(std::max(0.0, seconds)));
  if (s >= 3600) return std::to_string(s / 3600) + "時間" + std::to_string(s / 60 % 60) + "分";
  if (s >= 60) return std::to_string(s / 60) + "分" + std::to_string(s % 60) + "秒";
  return std::to_string(s) + "秒";
}

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// What the HTTP client reported, in the user's words. The client's own text stays in brackets
// for the details (host, library message).
std::string transport_error_text(const std::string& e) {
  const auto starts = [&](const char* p) { return e.rfind(p, 0) == 0; };
  std::string what;
  if (starts("could not resolve") || starts("could not connect")) {
    what = "接続できません";
  } else if (starts("timed out") || starts("slower than")) {
    what = "応答が時間内に終わりませんでした";
  } else if (starts("body larger than")) {
    what = "応答が大きすぎます";
  } else if (starts("secure connection")) {
    what = "暗号化通信を確立できません";
  } else if (starts("malformed or incomplete")) {
    what = "応答が壊れているか途中で切れました";
  } else {
    what = "通信できません";
  }
  return what + " (" + e + ")";
}

bool is_key_message(const std::string& said) {
  const std::string m = lower(said);
  for (const char* word : {"token", "api key", "apikey", "x-api-key", "invalid", "expired",
                           "unauthorized", "authentication"}) {
    if (m.find(word) != std::string::npos) return true;
  }
  return false;
}

// Endpoints every plan serves: a 403 there can only be the key.
bool in_every_plan(std::string_view path) {
  return path == "/markets/calendar" || path == "/equities/master" ||
         path == "/equities/bars/daily";
}

std::string endpoint_name(std::string_view path) {
  if (path == "/indices/bars/daily/topix") return "TOPIX";
  if (path == "/equities/bars/daily") return "株価四本値";
  if (path == "/equities/master") return "上場銘柄一覧";
  if (path == "/markets/calendar") return "取引カレンダー";
  return std::string(path);
}

enum class Outcome { ok, refused, not_in_plan, outside, failed, cancelled };

// However the server answers, one request is tried at most this often (429s included).
constexpr int kMaxAttempts = 10;

// One GET with the plan's pacing. Answers 429 and 5xx are waited out and retried, within a
// total wait per request; a network that is not there is not retried.
class Fetcher {
 public:
  using WaitReport = std::function<void(const std::string& why, double left)>;
  Fetcher(const SyncOptions& o, const SyncServices& s, SyncResult& r, WaitReport on_wait)
      : opt_(o),
        svc_(s),
        res_(r),
        interval_(request_interval(o.plan)),
        on_wait_(std::move(on_wait)) {}

  double interval() const { return interval_; }
  // When the last request went out, so a second walk keeps the plan's pace from there.
  double last_request() const { return last_; }
  void continue_after(double last) { last_ = last; }
  // The dates a 400 answer said the plan covers (set with Outcome::outside).
  std::string window_from, window_to;

  Outcome get(const std::string& path_query, std::string& body, std::string& error) {
    HttpRequest req;
    req.url = opt_.base + path_query;
    req.headers = {{"x-api-key", opt_.api_key}, {"Accept", "application/json"}};
    req.cancelled = svc_.cancelled;
    req.connect_timeout_s = opt_.connect_timeout_s;
    const std::string path = path_of(path_query);
    const std::string where = "J-Quants " + path;
    double waited = 0;
    int limited = 0;
    for (int attempt = 1;; ++attempt) {
      if (!pace()) return Outcome::cancelled;
      last_ = now();
      HttpResponse resp = svc_.http(req);
      ++res_.requests;
      if (cancelled()) return Outcome::cancelled;
      if (!resp.error.empty()) {
        error = where + ": " + transport_error_text(resp.error) +
                "。ネットワークの接続と J-Quants のアドレス (設定 J-Quants_URL) "
                "を確かめてください。";
        return Outcome::failed;
      }
      const int st = resp.status;
      if (st == 210) {
        // "No content": the endpoint has nothing for the request, whatever the body says.
        body = R"({"data":[]})";
        return Outcome::ok;
      }
      if (st >= 200 && st < 300) {
        body = std::move(resp.body);
        return Outcome::ok;
      }
      const std::string said = error_message_of(resp.body);
      const std::string http = "HTTP " + std::to_string(st) + (said.empty() ? "" : ": " + said);
      if (st == 400 && plan_window_of(said, window_from, window_to)) {
        error = where + ": プランの提供範囲外です (" + http + ")。";
        return Outcome::outside;
      }
      if (st == 401 || st == 403) {
        // 403 is both a refused key and an endpoint outside the plan: the message tells
        // which, and an endpoint of every plan can only mean the key.
        if (st == 401 || is_key_message(said) || in_every_plan(path)) {
          error = "J-Quants がAPIキーを受け付けませんでした (" + http +
                  ")。キーが正しいか、有効期限が切れていないか確かめてください。";
          return Outcome::refused;
        }
        error = "J-Quants の" + endpoint_name(path) + "はご契約のプランに含まれていません (" +
                http + ")。";
        return Outcome::not_in_plan;
      }
      const bool limit = st == 429;
      if (!limit && st < 500) {
        error = where + ": " + http;
        return Outcome::failed;
      }
      double wait = limit ? std::max(5.0, interval_) * std::pow(2.0, limited++)
                          : std::max(1.0, interval_) * std::pow(2.0, attempt - 1);
      wait = std::min(wait, 120.0);
      const std::string ra = resp.header("retry-after");
      // A fractional or tiny Retry-After is still a second: a server that says 0.001 must not
      // be asked thousands of times a minute.
      const double asked = ra.empty() ? 0 : std::max(1.0, parse_number(ra));
      if (asked > 0) wait = asked;
      const double budget = opt_.max_wait_s - waited;
      if ((!limit && attempt >= opt_.max_attempts) || attempt >= kMaxAttempts || budget <= 0 ||
          asked > budget) {
        error = where + ": " + http + " (" + std::to_string(attempt) + "回試み、" +
                duration_text(waited) + "待ちました";
        if (asked > budget && budget > 0) {
          error += "。制限の解除まで" + duration_text(asked) + "かかり、待機の上限 " +
                   duration_text(opt_.max_wait_s) + " を超えます";
        }
        error += ")。";
        return Outcome::failed;
      }
      wait = std::min(wait, budget);
      ++res_.retries;
      const std::string why =
          limit ? "リクエストの上限を超えました (HTTP 429)"
                : "J-Quants のサーバーが応答できません (HTTP " + std::to_string(st) + ")";
      const double before = now();
      if (!countdown(wait, why)) return Outcome::cancelled;
      // The time really waited, whatever the sleep did.
      waited += std::max(wait, now() - before);
    }
  }

  bool cancelled() const { return svc_.cancelled && svc_.cancelled(); }

 private:
  static std::string path_of(const std::string& path_query) {
    return path_query.substr(0, path_query.find('?'));
  }
  double now() const {
    if (svc_.now) return svc_.now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  bool pace() {
    if (cancelled()) return false;
    if (last_ < 0 || interval_ <= 0) return true;
    return sleep_for(last_ + interval_ - now());
  }
  // Sleeps in short slices so a cancel is honoured quickly. False when cancelled.
  bool sleep_for(double seconds) {
    while (seconds > 0) {
      if (cancelled()) return false;
      const double slice = std::min(seconds, 0.2);
      if (svc_.sleep) {
        svc_.sleep(slice);
      } else {
        std::this_thread::sleep_for(std::chrono::duration<double>(slice));
      }
      seconds -= slice;
    }
    return !cancelled();
  }
  // A wait the user sees: the time left is reported each second, then 0 at the end.
  bool countdown(double seconds, const std::string& why) {
    while (seconds > 0) {
      if (on_wait_) on_wait_(why, seconds);
      const double step = std::min(seconds, 1.0);
      if (!sleep_for(step)) return false;
      seconds -= step;
    }
    if (on_wait_) on_wait_(why, 0);
    return !cancelled();
  }

  const SyncOptions& opt_;
  const SyncServices& svc_;
  SyncResult& res_;
  double interval_;
  WaitReport on_wait_;
  double last_ = -1;
};

// Walks every page of one endpoint. `parse` takes a body, sets the next key and may fail.
// One answer is capped in pages and bytes, and a key seen before ends the walk.
template <class Parse>
Outcome walk(Fetcher& fetcher, const SyncOptions& opt, const std::string& path,
             const std::string& query, Parse parse, std::string& error, long* pages = nullptr) {
  std::string key, body;
  std::set<std::string> seen;
  std::uint64_t bytes = 0;
  const std::string what = "J-Quants " + path + "?" + query;
  for (int page = 1;; ++page) {
    if (page > opt.max_pages) {
      error =
          what + ": 応答が " + std::to_string(opt.max_pages) + " ページを超えたため中止しました。";
      return Outcome::failed;
    }
    std::string q = query;
    if (!key.empty())
      q += (q.empty() ? "" : "&") + std::string("pagination_key=") + url_encode(key);
    const Outcome o = fetcher.get(path + (q.empty() ? "" : "?" + q), body, error);
    if (o != Outcome::ok) return o;
    if (pages) ++*pages;
    bytes += body.size();
    if (bytes > opt.max_answer_bytes) {
      const std::uint64_t mb = 1024 * 1024, cap = opt.max_answer_bytes;
      error = what + ": 応答が " +
              (cap >= mb && cap % mb == 0 ? std::to_string(cap / mb) + " MB"
                                          : std::to_string(cap) + " バイト") +
              "を超えたため中止しました。";
      return Outcome::failed;
    }
    std::string next, why;
    if (!parse(body, next, why)) {
      error = what + " (" + std::to_string(page) + " ページ目) の応答が使えません: " + why + "。";
      return Outcome::failed;
    }
    if (next.empty()) return Outcome::ok;
    if (!seen.insert(next).second) {
      error = what + ": pagination_key が繰り返されたため中止しました。";
      return Outcome::failed;
    }
    key = std::move(next);
  }
}

bool valid_date(const std::string& d) {
  return normalize_date(d) == d && !d.empty();
}

// The names and segments of one day's master (CP932), by API code.
struct Master {
  std::string date;
  long long day = 0;
  bool old_era = false;
  std::unordered_map<std::string, Identity> ids;
};

// One day's results summaries fetched and stored (merged by DiscNo, so a second fetch of the
// same day changes nothing).
Outcome sync_fins_day(Fetcher& fetcher, const SyncOptions& opt, const std::string& date,
                      const std::unordered_set<std::string>& codes, SyncResult& res,
                      std::string& error) {
  std::vector<fins::Disclosure> found;
  int skipped = 0;
  const Outcome o = walk(
      fetcher, opt, "/fins/summary", "date=" + date,
      [&](const std::string& body, std::string& next, std::string& why) {
        return parse_fins_page(body, date, found, next, skipped, why, &res.warnings);
      },
      error);
  if (o != Outcome::ok) return o;
  // Companies the database holds no prices of (other markets, delisted long ago) are not kept.
  std::erase_if(found, [&](const fins::Disclosure& d) { return !codes.count(d[fins::Code]); });
  fins::StoreStats stats;
  if (!fins::store_disclosures(opt.db_folder, found, stats, error)) return Outcome::failed;
  res.disclosures += static_cast<long>(found.size());
  res.warnings.insert(res.warnings.end(), stats.warnings.begin(), stats.warnings.end());
  // A stock whose file could not be read was moved aside: its whole history is fetched anew.
  for (const std::string& code : stats.moved_aside) {
    std::vector<fins::Disclosure> all;
    const Outcome again = walk(
        fetcher, opt, "/fins/summary", "code=" + code + "0",
        [&](const std::string& body, std::string& next, std::string& why) {
          return parse_fins_page(body, {}, all, next, skipped, why, &res.warnings);
        },
        error);
    if (again != Outcome::ok) return again;
    fins::StoreStats refetched;
    if (!fins::store_disclosures(opt.db_folder, all, refetched, error)) return Outcome::failed;
  }
  return Outcome::ok;
}

}  // namespace

StockBar stock_bar_of(const Bar& bar, std::string code, const Identity* id) {
  StockBar sb;
  sb.code = std::move(code);
  if (id) {
    sb.segment = id->segment;
    sb.name = id->name;
  }
  sb.open = bar.open;
  sb.high = bar.high;
  sb.low = bar.low;
  sb.close = bar.close;
  sb.volume = round_half_even(bar.volume);
  sb.adj_factor = bar.adj_factor;
  return sb;
}

PlanInfo plan_info(Plan plan) {
  switch (plan) {
    case Plan::free:
      return {"free", 5, 84};
    case Plan::light:
      return {"light", 60, 0};
    case Plan::standard:
      return {"standard", 120, 0};
    case Plan::premium:
      return {"premium", 500, 0};
    case Plan::unpaced:
      return {"none", 0, 0};
  }
  return {"free", 5, 84};
}

bool parse_plan(std::string_view text, Plan& plan) {
  for (Plan p : {Plan::free, Plan::light, Plan::standard, Plan::premium, Plan::unpaced}) {
    if (text == plan_info(p).name) {
      plan = p;
      return true;
    }
  }
  return false;
}

double request_interval(Plan plan) {
  const int per_minute = plan_info(plan).requests_per_minute;
  return per_minute <= 0 ? 0.0 : 60.0 / per_minute * 1.1;
}

bool plan_window(Plan plan, const std::string& today, std::string& from, std::string& to) {
  int years = 0;
  switch (plan) {
    case Plan::free:
      years = 2;
      break;
    case Plan::light:
      years = 5;
      break;
    case Plan::standard:
      years = 10;
      break;
    case Plan::premium:
      years = 20;
      break;
    case Plan::unpaced:
      return false;
  }
  to = add_days(today, -plan_info(plan).delay_days);
  from = add_years(to, -years);
  return true;
}

std::string add_calendar_days(const std::string& yyyymmdd, int days) {
  return add_days(yyyymmdd, days);
}

std::string slash_date(const std::string& d) {
  if (d.size() != 8) return d;
  return d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2);
}

std::string clean_base(std::string base) {
  base = trim_blanks(base);
  while (!base.empty() && base.back() == '/') base.pop_back();
  const bool scheme = base.rfind("http://", 0) == 0 || base.rfind("https://", 0) == 0;
  const bool plain =
      std::all_of(base.begin(), base.end(), [](unsigned char c) { return c > 0x20 && c < 0x7f; });
  if (!scheme || !plain || base.size() <= 8) return {};
  return base;
}

ConnectionSettings read_connection_settings(const std::string& app_folder,
                                            const std::function<const char*(const char*)>& env) {
  ConnectionSettings s;
  const auto shown = [](const std::string& v) {
    std::string out;
    for (unsigned char c : v.substr(0, 80))
      out += c < 0x20 || c == 0x7f ? ' ' : static_cast<char>(c);
    return out;
  };
  read_key_values(app_folder + "settei.txt", [&](const std::string& key, const std::string& value) {
    if (key == "J-Quants_URL") {
      const std::string base = clean_base(value);
      if (base.empty()) {
        s.error = "settei.txt の J-Quants_URL は http:// か https:// のアドレスにしてください (" +
                  shown(value) + ")";
      } else {
        s.base = base;
      }
    } else if (key == "J-Quants待機上限秒") {
      const std::string v = trim_blanks(value);
      const bool digits =
          !v.empty() && v.size() <= 4 && v.find_first_not_of("0123456789") == std::string::npos;
      if (digits && std::stoi(v) <= 3600) {
        s.max_wait_s = std::stoi(v);
      } else {
        s.error = "settei.txt の J-Quants待機上限秒 は 0～3600 の整数にしてください (" +
                  shown(value) + ")";
      }
    }
  });
  if (env) {
    if (const char* v = env(kBaseEnvironmentVariable); v && *v) {
      const std::string base = clean_base(v);
      if (base.empty()) {
        s.error = std::string(kBaseEnvironmentVariable) +
                  " は http:// か https:// のアドレスにしてください (" + shown(v) + ")";
      } else {
        s.base = base;
      }
    }
  }
  return s;
}

std::string map_code(std::string_view api_code) {
  if (api_code.size() != 5 || api_code[4] != '0') return {};
  const std::string_view code = api_code.substr(0, 4);
  return is_stock_code(code) ? std::string(code) : std::string();
}

int exit_code(const SyncResult& result) {
  if (result.status == SyncStatus::locked) return kExitLocked;
  if (!result.ok()) return 1;
  return result.fins_error.empty() ? 0 : kExitPricesOnly;
}

namespace {

// The database's writer lock, the wait shown through the progress callback every 30 s.
std::unique_ptr<FileLock> hold_database(const SyncOptions& opt, const SyncServices& svc,
                                        SyncResult& res) {
  LockWaitWords words;
  words.timeout = opt.lock_timeout;
  words.say = [&](const std::string& text) {
    SyncProgress p;
    p.text = "J-Quants: " + text;
    if (svc.progress) svc.progress(p);
  };
  words.cancelled = svc.cancelled;
  std::string error;
  bool timed_out = false;
  auto lock = lock_database(opt.db_folder, words, error, &timed_out);
  if (!lock) {
    res.status = timed_out                           ? SyncStatus::locked
                 : svc.cancelled && svc.cancelled() ? SyncStatus::cancelled
                                                    : SyncStatus::failed;
    res.message = error;
  }
  return lock;
}

}  // namespace

// --- results summaries -----------------------------------------------------------------------
// They are fetched by disclosure date on a timeline of their own, recorded in fins/fetched.txt:
// J-Quants publishes a day's summaries hours after its bars (about 18:00, finals after
// midnight), so they cannot ride on the price days.

namespace {

constexpr const char* kFinsRecordName = "fetched.txt";
// Finals and corrections arrive for days already fetched: each run asks this far back again.
constexpr int kFinsOverlapDays = 2;

struct FinsRecord {
  std::string newest;       // the newest disclosure date fetched (yyyymmdd)
  std::string not_in_plan;  // the plan whose key was refused the summaries (403)
};

std::string fins_record_path(const std::string& db_folder) {
  return fins::fins_folder(db_folder) + kFinsRecordName;
}

FinsRecord read_fins_record(const std::string& db_folder) {
  FinsRecord r;
  std::string bytes;
  if (!read_file_bytes(fins_record_path(db_folder), bytes)) return r;
  for_each_key_value_line(bytes, [&](const std::string& key, const std::string& value) {
    if (key == "newest" && valid_date(value)) r.newest = value;
    if (key == "not_in_plan") r.not_in_plan = value;
  });
  return r;
}

bool write_fins_record(const std::string& db_folder, const FinsRecord& r, std::string& error) {
  std::error_code ec;
  fs::create_directories(fins::fins_folder(db_folder), ec);
  std::string bytes = "newest=" + r.newest + "\r\n";
  if (!r.not_in_plan.empty()) bytes += "not_in_plan=" + r.not_in_plan + "\r\n";
  if (write_file_atomic(fins_record_path(db_folder), bytes)) return true;
  error = "決算データの取得記録を書き込めませんでした: " + fins_record_path(db_folder);
  return false;
}

// The trading days of [from, to] by the exchange's calendar.
Outcome calendar_days(Fetcher& fetcher, const SyncOptions& opt, const std::string& from,
                      const std::string& to, std::vector<std::string>& days, std::string& error) {
  std::vector<CalendarDay> calendar;
  const Outcome o = walk(
      fetcher, opt, "/markets/calendar", "from=" + from + "&to=" + to,
      [&](const std::string& body, std::string& next, std::string& why) {
        return parse_calendar_page(body, calendar, next, why);
      },
      error);
  days.clear();
  for (const CalendarDay& d : calendar) {
    if (is_trading_hol_div(d.hol_div) && d.date >= from && d.date <= to) days.push_back(d.date);
  }
  std::sort(days.begin(), days.end());
  days.erase(std::unique(days.begin(), days.end()), days.end());
  return o;
}

// Fetches and stores the summaries of `days` (oldest first); after each day the record's
// newest date moves on when `advance_record`, so a stop continues where it stopped.
Outcome fetch_fins_days(Fetcher& fetcher, const SyncOptions& opt, const SyncServices& svc,
                        const std::vector<std::string>& days, bool advance_record,
                        FinsRecord& record, SyncResult& res, std::string& error) {
  SyncProgress prog;
  prog.days_total = static_cast<int>(days.size());
  const std::unordered_set<std::string> codes = stored_stock_codes(opt.db_folder);
  for (std::size_t i = 0; i < days.size(); ++i) {
    prog.days_done = static_cast<int>(i);
    prog.date = days[i];
    prog.requests = res.requests;
    prog.seconds_left = static_cast<double>(days.size() - i) * fetcher.interval();
    prog.text = "J-Quants: " + days[i] + " の決算を取得しています (" + std::to_string(i) + "/" +
                std::to_string(days.size()) + "日, 残り約" + duration_text(prog.seconds_left) + ")";
    if (svc.progress) svc.progress(prog);
    const Outcome o = sync_fins_day(fetcher, opt, days[i], codes, res, error);
    if (o != Outcome::ok) return o;
    ++res.fins_days;
    if (advance_record && days[i] > record.newest) {
      record.newest = days[i];
      if (!write_fins_record(opt.db_folder, record, error)) return Outcome::failed;
    }
  }
  return Outcome::ok;
}

// What the summaries' failure means for the sync's outcome: the prices stand.
void note_fins_failure(Outcome o, const std::string& error, SyncResult& res) {
  if (o == Outcome::cancelled) {
    res.fins_error = "中止しました";
  } else {
    res.fins_error = error;
  }
  res.message += std::string(res.message.empty() ? "" : "。") +
                 "決算データを取得できませんでした: " + res.fins_error +
                 " 株価は更新しました (決算は次の実行で取得します)";
}

}  // namespace

// The summaries alone: a range's days the database holds, or with no dates the plan's whole
// window (the days a local server's database holds, where no window applies).
static SyncResult run_fins_only(const SyncOptions& opt, const SyncServices& svc) {
  SyncResult res;
  std::string win_from, win_to;
  const bool windowed = plan_window(opt.plan, opt.today, win_from, win_to);
  const bool ranged = !opt.from.empty() || !opt.to.empty();
  res.to = !opt.to.empty() ? opt.to : windowed ? win_to : opt.today;
  res.from = !opt.from.empty() ? opt.from : windowed ? win_from : "19000101";
  if (windowed) {
    res.from = std::max(res.from, win_from);
    res.to = std::min(res.to, win_to);
  }
  SyncProgress prog;
  Fetcher fetcher(opt, svc, res, [&](const std::string& why, double left) {
    prog.wait_left = left;
    prog.text = "J-Quants: " + why + "。再試行まで残り" + duration_text(left);
    if (svc.progress) svc.progress(prog);
  });
  std::string error;
  std::vector<std::string> days;
  if (ranged || !windowed) {
    days = database_days(opt.db_folder, res.from, res.to);
  } else if (res.from <= res.to) {
    const Outcome o = calendar_days(fetcher, opt, res.from, res.to, days, error);
    if (o != Outcome::ok) {
      res.status = o == Outcome::refused ? SyncStatus::refused : SyncStatus::failed;
      res.message = error;
      return res;
    }
  }
  res.trading_days = static_cast<int>(days.size());
  if (days.empty()) {
    res.message =
        "決算を取得する取引日がデータベースにありません (" + res.from + "～" + res.to + ")。";
    return res;
  }
  FinsRecord record = read_fins_record(opt.db_folder);
  record.not_in_plan.clear();  // asked for by name: tried again whatever the plan
  // Only the run with no dates walks the timeline's front; a range leaves the record alone.
  const Outcome o = fetch_fins_days(fetcher, opt, svc, days, !ranged, record, res, error);
  res.days_written = res.fins_days;
  if (o != Outcome::ok) {
    res.status = o == Outcome::refused     ? SyncStatus::refused
                 : o == Outcome::cancelled ? SyncStatus::cancelled
                                           : SyncStatus::failed;
    res.message =
        (o == Outcome::cancelled ? std::string("J-Quants の取得を中止しました。") : error) +
        " (" + std::to_string(res.days_written) + " 日分の決算は登録済みです)";
    return res;
  }
  res.message = "J-Quants: " + std::to_string(res.days_written) + " 日分の決算 " +
                std::to_string(res.disclosures) + " 件を登録しました (" + days.front() + "～" +
                days.back() + ", " + std::to_string(res.requests) + " リクエスト)";
  return res;
}

// After the prices: every disclosure date from the newest fetched (less the overlap) up to the
// newest the plan serves; a first sync takes the plan's whole window (or the database's span).
static void sync_fins_timeline(const SyncOptions& opt, const SyncServices& svc,
                               double last_request, SyncResult& res) {
  FinsRecord record = read_fins_record(opt.db_folder);
  const std::string plan = plan_info(opt.plan).name;
  if (!record.not_in_plan.empty() && record.not_in_plan == plan) {
    res.fins_skipped = true;
    res.message += "。決算データはご契約のプランに含まれないため取得しません";
    return;
  }
  std::string win_from, win_to;
  const bool windowed = plan_window(opt.plan, opt.today, win_from, win_to);
  std::string to = !opt.to.empty() ? opt.to : windowed ? win_to : opt.today;
  if (windowed) to = std::min(to, win_to);
  std::string from;
  if (!record.newest.empty()) {
    from = add_days(std::min(record.newest, to), -kFinsOverlapDays);
  } else if (!opt.from.empty()) {
    from = opt.from;
  } else if (windowed) {
    from = win_from;
  } else {
    const std::vector<std::string> held = database_days(opt.db_folder, "19000101", to);
    from = held.empty() ? to : held.front();
  }
  if (windowed) from = std::max(from, win_from);
  if (from > to) return;
  res.fins_from = from;
  res.fins_to = to;
  SyncProgress prog;
  Fetcher fetcher(opt, svc, res, [&](const std::string& why, double left) {
    prog.wait_left = left;
    prog.text = "J-Quants: " + why + "。再試行まで残り" + duration_text(left);
    if (svc.progress) svc.progress(prog);
  });
  fetcher.continue_after(last_request);
  std::string error;
  std::vector<std::string> days;
  Outcome o = calendar_days(fetcher, opt, from, to, days, error);
  if (o == Outcome::outside) {
    // The key's plan is not the one chosen: its window, as the 400 named it.
    from = std::max(from, fetcher.window_from);
    to = std::min(to, fetcher.window_to);
    res.fins_from = from;
    res.fins_to = to;
    error.clear();
    days.clear();
    o = from > to ? Outcome::ok : calendar_days(fetcher, opt, from, to, days, error);
  }
  if (o == Outcome::ok) {
    o = fetch_fins_days(fetcher, opt, svc, days, true, record, res, error);
  }
  if (o == Outcome::not_in_plan) {
    // Remembered, so later runs say it in one line instead of asking every time.
    record.not_in_plan = plan;
    std::string ignored;
    write_fins_record(opt.db_folder, record, ignored);
  }
  if (o != Outcome::ok) {
    note_fins_failure(o, error, res);
    return;
  }
  res.message += "、決算 " + std::to_string(res.disclosures) + " 件 (" +
                 std::to_string(res.fins_days) + " 日分)";
}

// The prices of the missing days (the calendar, TOPIX, the masters, the daily bars), committed
// in batches. `last_request` is when its last request went out.
static SyncResult sync_prices(const SyncOptions& opt, const SyncServices& svc,
                              double& last_request) {
  SyncResult res;
  auto finish = [&](SyncStatus status, std::string message) {
    res.status = status;
    res.message = std::move(message);
    return res;
  };
  if (!opt.from.empty() && !opt.to.empty() && opt.from > opt.to) {
    return finish(SyncStatus::failed,
                  "--from (" + opt.from + ") が --to (" + opt.to + ") より後です。");
  }
  std::string win_from, win_to;
  bool windowed = plan_window(opt.plan, opt.today, win_from, win_to);
  const std::string asked_to = !opt.to.empty() ? opt.to : windowed ? win_to : opt.today;
  std::string asked_from = opt.from;
  if (asked_from.empty()) {
    std::string latest;
    const int year = static_cast<int>(parse_integer(opt.today.substr(0, 4)));
    asked_from = read_latest_date(opt.db_folder, opt.reference_code, year, 1983, latest)
                     ? add_days(latest, 1)
                     : add_days(opt.today, -730);
  }
  res.from = asked_from;
  res.to = asked_to;
  if (res.from > res.to) {
    if (windowed && !opt.from.empty() && opt.to.empty()) {
      res.not_covered.push_back(slash_date(opt.from) + "～" + slash_date(opt.today));
      return finish(SyncStatus::done,
                    "J-Quants: 求めた期間はすべてプランの提供範囲外です。"
                    "プランの提供範囲外: " +
                        res.not_covered.back());
    }
    return finish(SyncStatus::done, "株価データベースは最新です (" + res.to + " まで)。");
  }

  // Commits the days fetched before a stop (set once the writer exists).
  std::function<void()> keep_fetched = [] {};
  SyncProgress prog;
  auto report = [&](const std::string& text) {
    prog.requests = res.requests;
    prog.text = text;
    if (svc.progress) svc.progress(prog);
  };
  Fetcher fetcher(opt, svc, res, [&](const std::string& why, double left) {
    prog.wait_left = left;
    report(left > 0 ? "J-Quants: " + why + "。再試行まで残り" + duration_text(left) +
                          " (待機は最大" + duration_text(opt.max_wait_s) + ")"
                    : "J-Quants: 再試行します");
  });
  struct KeepPace {
    Fetcher& fetcher;
    double& last;
    ~KeepPace() { last = fetcher.last_request(); }
  } keep_pace{fetcher, last_request};
  std::string error;
  std::vector<std::string> notes;
  // The parts of the asked range outside the plan's window, for the closing message.
  auto note_window = [&] {
    res.not_covered.clear();
    if (!windowed) return;
    if (asked_from < win_from) {
      res.not_covered.push_back(slash_date(asked_from) + "～" +
                                slash_date(std::min(asked_to, add_days(win_from, -1))));
    }
    if (asked_to > win_to) {
      res.not_covered.push_back(slash_date(std::max(asked_from, add_days(win_to, 1))) + "～" +
                                slash_date(asked_to));
    }
  };
  auto adopt_window = [&] {
    windowed = true;
    win_from = fetcher.window_from;
    win_to = fetcher.window_to;
    note_window();
  };
  auto with_notes = [&](std::string text) {
    for (const std::string& part : res.not_covered) text += "。プランの提供範囲外: " + part;
    if (!res.unpublished.empty()) {
      text += "。" + slash_date(res.unpublished) + " 分は未公開です (16:30頃公開)";
    }
    for (const std::string& n : notes) text += "。" + n;
    return text;
  };
  // Says what the database holds now: nothing changed, or the days committed before the stop.
  auto stop = [&](Outcome o) {
    keep_fetched();
    std::string text = o == Outcome::cancelled ? "J-Quants の取得を中止しました。" : error;
    text += res.days_written == 0 ? "データベースは変更していません。"
                                  : "それまでの " + std::to_string(res.days_written) +
                                        " 取引日は登録済みです (続きは次の実行で取得します)。";
    return finish(o == Outcome::refused || o == Outcome::not_in_plan ? SyncStatus::refused
                  : o == Outcome::cancelled                          ? SyncStatus::cancelled
                                                                     : SyncStatus::failed,
                  text);
  };

  // The trading days of the range, within what the plan serves. A 400 naming the window
  // (the plan chosen here is not the key's) narrows the range and the calendar is asked again.
  std::vector<CalendarDay> calendar;
  for (int tries = 0;; ++tries) {
    note_window();
    if (windowed) {
      res.from = std::max(asked_from, win_from);
      res.to = std::min(asked_to, win_to);
    }
    if (res.from > res.to) {
      return finish(SyncStatus::done,
                    with_notes("J-Quants: 求めた期間はすべてプランの提供範囲外です"));
    }
    calendar.clear();
    report("J-Quants: 取引カレンダーを取得しています (" + res.from + "～" + res.to + ")");
    const Outcome o = walk(
        fetcher, opt, "/markets/calendar", "from=" + res.from + "&to=" + res.to,
        [&](const std::string& body, std::string& next, std::string& why) {
          return parse_calendar_page(body, calendar, next, why);
        },
        error);
    if (o == Outcome::outside && tries < 2) {
      adopt_window();
      continue;
    }
    if (o != Outcome::ok) return stop(o);
    break;
  }
  std::vector<std::string> days;
  for (const CalendarDay& d : calendar) {
    if (is_trading_hol_div(d.hol_div) && d.date >= res.from && d.date <= res.to)
      days.push_back(d.date);
  }
  std::sort(days.begin(), days.end());
  days.erase(std::unique(days.begin(), days.end()), days.end());
  res.trading_days = static_cast<int>(days.size());

  DayWriter writer(opt.db_folder, opt.reference_code);
  keep_fetched = [&] {
    std::string why;
    if (!writer.flush(why)) error += " (取得済みの日を書き込めませんでした: " + why + ")";
    res.days_written = writer.days_committed();
    res.bars_written = writer.bars_committed();
  };
  std::vector<std::string> missing;
  for (const std::string& d : days) {
    if (writer.day_present(d)) {
      ++res.already_present;
    } else {
      missing.push_back(d);
    }
  }
  if (missing.empty()) {
    return finish(SyncStatus::done,
                  with_notes("株価データベースは最新です (" + res.from + "～" + res.to + " の " +
                             std::to_string(days.size()) + " 取引日)"));
  }
  prog.days_total = static_cast<int>(missing.size());
  const std::string newest = days.back();  // bars not out yet here mean "not published"
  auto inside = [&](const std::string& d) { return !windowed || (d >= win_from && d <= win_to); };

  // The index under the reference code: TOPIX where the plan serves it, otherwise the
  // equal-weighted average. A database keeps the kind it started with, so the reference
  // series stays one chain.
  std::map<std::string, IndexBar> topix;
  const std::string stored_index = writer.stored_index_name();
  bool use_topix =
      stored_index == kTopixIndexName || (stored_index.empty() && opt.plan != Plan::free);
  if (use_topix) {
    std::vector<IndexDay> index_days;
    Outcome o = Outcome::ok;
    for (int tries = 0; tries < 3; ++tries) {
      index_days.clear();
      report("J-Quants: TOPIX を取得しています");
      o = walk(
          fetcher, opt, "/indices/bars/daily/topix",
          "from=" + std::max(missing.front(), windowed ? win_from : std::string()) +
              "&to=" + std::min(missing.back(), windowed ? win_to : missing.back()),
          [&](const std::string& body, std::string& next, std::string& why) {
            return parse_index_page(body, index_days, next, why);
          },
          error);
      if (o != Outcome::outside) break;
      adopt_window();
    }
    if (o == Outcome::not_in_plan && stored_index != kTopixIndexName) {
      use_topix = false;  // the equal-weighted index instead, from the first day on
      notes.push_back("TOPIX はご契約のプランに含まれないため、基準コード " + opt.reference_code +
                      " は市場平均 (等加重) です");
      error.clear();
    } else if (o != Outcome::ok) {
      return stop(o);
    }
    for (const IndexDay& d : index_days) topix[d.date] = {d.open, d.high, d.low, d.close};
  }
  res.index = use_topix ? kTopixIndexName : kEqualWeightIndexName;

  // Names and segments of each day's own date. A master is asked for the newest day of each
  // era first (it holds every issue still listed then), and again for a day holding codes no
  // master of its era knows (issues delisted since); each code takes its name from the
  // nearest master of the day's era that knows it. The era matters: before the market
  // restructuring the master names the old segments.
  std::vector<Master> masters;
  std::vector<std::pair<int, sectors::MasterSectors>> sector_masters;  // stored at the end
  std::set<std::string> masters_fetched;
  std::unordered_set<std::string> replaced_names;
  auto fetch_master = [&](const std::string& date) -> Outcome {
    masters_fetched.insert(date);
    std::vector<Issue> issues;
    const Outcome mo = walk(
        fetcher, opt, "/equities/master", "date=" + date,
        [&](const std::string& body, std::string& next, std::string& why) {
          return parse_master_page(body, issues, next, why);
        },
        error);
    if (mo != Outcome::ok) return mo;
    Master m;
    m.date = date;
    m.day = day_number(date);
    m.old_era = date < kSegmentReformDate;
    sectors::MasterSectors& by_code =
        sector_masters.emplace_back(static_cast<int>(std::stol(date)), sectors::MasterSectors{})
            .second;
    for (const Issue& issue : issues) {
      const std::string code = map_code(issue.code);
      if (!code.empty() && !issue.s33.empty()) {
        by_code[code] = {0, printable_text(issue.s17), printable_text(issue.s17_name),
                         printable_text(issue.s33), printable_text(issue.s33_name),
                         printable_text(issue.segment)};
      }
      Identity id{utf8_to_cp932(issue.segment), utf8_to_cp932(issue.name)};
      const auto q_in = std::count(issue.name.begin(), issue.name.end(), '?');
      const auto q_out = std::count(id.name.begin(), id.name.end(), '?');
      if (q_out > q_in) replaced_names.insert(issue.code);
      m.ids[issue.code] = std::move(id);
    }
    masters.push_back(std::move(m));
    return Outcome::ok;
  };
  auto ensure_era_master = [&](const std::string& date) -> Outcome {
    const bool old_era = date < kSegmentReformDate;
    for (const Master& m : masters) {
      if (m.old_era == old_era) return Outcome::ok;
    }
    std::string anchor = date;
    for (const std::string& d : missing) {
      if ((d < kSegmentReformDate) == old_era && d > anchor && inside(d)) anchor = d;
    }
    report("J-Quants: 上場銘柄一覧を取得しています (" + anchor + ")");
    return fetch_master(anchor);
  };
  Outcome o = ensure_era_master(missing.front());
  if (o != Outcome::ok) return stop(o);

  std::unordered_set<std::string> skipped;
  long bar_pages = 0;
  std::vector<Bar> bars;
  std::vector<StockBar> stock_bars;
  std::vector<const Master*> near;
  std::string first_written, last_written;
  for (std::size_t i = 0; i < missing.size(); ++i) {
    const std::string& date = missing[i];
    if (!inside(date)) continue;  // a 400 during the run narrowed the window
    prog.date = date;
    prog.days_done = static_cast<int>(i);
    prog.wait_left = 0;
    const double pages_per_day =
        i == 0 ? 1.0 : static_cast<double>(bar_pages) / static_cast<double>(i);
    prog.seconds_left =
        static_cast<double>(missing.size() - i) * pages_per_day * fetcher.interval();
    report("J-Quants: " + date + " を取得しています (" + std::to_string(i) + "/" +
           std::to_string(missing.size()) + "日, " + std::to_string(res.requests) +
           " リクエスト, 残り約" + duration_text(prog.seconds_left) + ")");
    if (fetcher.cancelled()) return stop(Outcome::cancelled);
    bars.clear();
    o = walk(
        fetcher, opt, "/equities/bars/daily", "date=" + date,
        [&](const std::string& body, std::string& next, std::string& why) {
          return parse_bars_page(body, date, bars, next, why);
        },
        error, &bar_pages);
    if (o == Outcome::outside) {
      adopt_window();
      if (!inside(date)) continue;
    }
    if (o != Outcome::ok) return stop(o);
    // Bars appear around 16:30 JST; before that the newest trading day is empty. Anywhere
    // else an empty day is a hole in the answer, not a day to skip.
    const bool unpublished_index = use_topix && !topix.count(date);
    if (date == newest && (bars.empty() || unpublished_index)) {
      res.unpublished = date;
      break;
    }
    if (bars.empty()) {
      error = "J-Quants: " + date + " の株価がありません (プランの提供範囲外かもしれません)。";
      return stop(Outcome::failed);
    }
    if (unpublished_index) {
      error = "J-Quants: " + date + " の TOPIX がありません。";
      return stop(Outcome::failed);
    }

    const bool old_era = date < kSegmentReformDate;
    if ((o = ensure_era_master(date)) != Outcome::ok) return stop(o);
    const long long today_number = day_number(date);
    auto order_masters = [&] {
      near.clear();
      for (const Master& m : masters) {
        if (m.old_era == old_era) near.push_back(&m);
      }
      std::sort(near.begin(), near.end(), [&](const Master* a, const Master* b) {
        return std::llabs(a->day - today_number) < std::llabs(b->day - today_number);
      });
    };
    auto identity_of = [&](const std::string& api_code) -> const Identity* {
      for (const Master* m : near) {
        if (auto it = m->ids.find(api_code); it != m->ids.end()) return &it->second;
      }
      return nullptr;
    };
    order_masters();
    bool unknown = false;
    for (const Bar& b : bars) {
      if (b.traded && !map_code(b.code).empty() && !identity_of(b.code)) unknown = true;
    }
    if (unknown && !masters_fetched.count(date)) {
      if ((o = fetch_master(date)) != Outcome::ok) return stop(o);
      order_masters();
    }

    stock_bars.clear();
    std::vector<std::pair<std::string, double>> idle_splits;
    std::unordered_set<std::string> seen;
    for (const Bar& b : bars) {
      const std::string code = map_code(b.code);
      if (code.empty() || code == opt.reference_code) {
        skipped.insert(b.code);
        continue;
      }
      if (!seen.insert(code).second) continue;
      if (!b.traded) {
        // A split on a day the stock did not trade still rescales its earlier prices.
        if (b.adj_factor != 1.0) idle_splits.emplace_back(code, b.adj_factor);
        continue;
      }
      stock_bars.push_back(stock_bar_of(b, code, identity_of(b.code)));
    }
    const IndexBar* index_bar = use_topix ? &topix.at(date) : nullptr;
    // Days go to the database in batches; a batch that cannot be written is left out whole.
    // The corrections of split days the stock did not trade go in the same batch.
    DayBars day{date, std::move(stock_bars), std::nullopt, std::move(idle_splits)};
    if (index_bar) day.topix = *index_bar;
    const int idle = static_cast<int>(day.idle_splits.size());
    if (!writer.add_day(std::move(day), error)) {
      return finish(SyncStatus::failed, "J-Quants: " + date +
                                            " までの取得分を書き込めませんでした: " + error +
                                            " (書き込めなかった日は元のままです)");
    }
    stock_bars.clear();
    if (first_written.empty()) first_written = date;
    last_written = date;
    res.idle_corrections += idle;
    res.days_written = writer.days_committed();
    res.bars_written = writer.bars_committed();
    res.codes_skipped = static_cast<int>(skipped.size());
    res.names_replaced = static_cast<int>(replaced_names.size());
  }
  if (!writer.flush(error)) {
    return finish(SyncStatus::failed, "J-Quants: " + missing.back() +
                                          " までの取得分を書き込めませんでした: " + error +
                                          " (書き込めなかった日は元のままです)");
  }
  res.days_written = writer.days_committed();
  res.bars_written = writer.bars_committed();
  // The industries of the masters fetched, kept per stock and era.
  if (!sectors::store_sectors(opt.db_folder, sector_masters, error)) {
    return finish(SyncStatus::failed, "J-Quants: " + error);
  }
  prog.days_done = static_cast<int>(missing.size());
  prog.seconds_left = 0;
  prog.wait_left = 0;
  prog.date.clear();
  res.codes_skipped = static_cast<int>(skipped.size());
  res.names_replaced = static_cast<int>(replaced_names.size());
  std::string summary = res.days_written == 0
                            ? "J-Quants: 登録できる取引日はまだありません (" +
                                  std::to_string(res.requests) + " リクエスト)"
                            : "J-Quants: " + std::to_string(res.days_written) +
                                  " 取引日を登録しました (" + first_written + "～" + last_written +
                                  ", " + std::to_string(res.requests) + " リクエスト)";
  if (res.codes_skipped) summary += "、対象外コード " + std::to_string(res.codes_skipped);
  if (res.names_replaced) {
    summary += "、Shift_JIS にない文字を置き換えた銘柄名 " + std::to_string(res.names_replaced);
  }
  summary = with_notes(summary);
  report(summary);
  return finish(SyncStatus::done, summary);
}

SyncResult run_sync(const SyncOptions& opt, const SyncServices& svc) {
  SyncResult res;
  auto finish = [&](SyncStatus status, std::string message) {
    res.status = status;
    res.message = std::move(message);
    return res;
  };
  if (!svc.http) return finish(SyncStatus::failed, "no HTTP client");
  if (opt.api_key.empty()) {
    return finish(SyncStatus::refused,
                  "J-Quants のAPIキーがありません。JQUANTS_API_KEY か "
                  "~/.config/lumenpick/jquants.key に設定してください。");
  }
  if (!valid_date(opt.today)) return finish(SyncStatus::failed, "今日の日付が正しくありません。");
  if ((!opt.from.empty() && !valid_date(opt.from)) || (!opt.to.empty() && !valid_date(opt.to))) {
    return finish(SyncStatus::failed, "--from と --to は正しい日付 YYYYMMDD にしてください。");
  }
  // Held to the end: the newest day is read only once no other writer can change it.
  const auto lock = hold_database(opt, svc, res);
  if (!lock) return res;
  if (opt.fins_only) return run_fins_only(opt, svc);
  double last_request = -1;
  res = sync_prices(opt, svc, last_request);
  // The summaries only after prices that stand; their failure never costs the prices.
  if (res.ok() && opt.fins) sync_fins_timeline(opt, svc, last_request, res);
  return res;
}

}  // namespace lp::jquants
