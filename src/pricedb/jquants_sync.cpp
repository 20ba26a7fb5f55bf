#include "pricedb/jquants_sync.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/jquants_fins.h"
#include "pricedb/jquants_json.h"
#include "pricedb/price_writer.h"
#include "pricedb/stock_code.h"

namespace lp::jquants {

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

// yyyymmdd moved by `days`.
std::string add_days(const std::string& date, int days) {
  const int n = static_cast<int>(parse_integer(date));
  return civil_text(days_from_civil(n / 10000, n / 100 % 100, n % 100) + days);
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
  const long s = std::lround(std::max(0.0, seconds));
  if (s >= 3600) return std::to_string(s / 3600) + "時間" + std::to_string(s / 60 % 60) + "分";
  if (s >= 60) return std::to_string(s / 60) + "分" + std::to_string(s % 60) + "秒";
  return std::to_string(s) + "秒";
}

enum class Outcome { ok, refused, failed, cancelled };

// One GET with the plan's pacing and retries on 429, 5xx and lost connections.
class Fetcher {
 public:
  Fetcher(const SyncOptions& o, const SyncServices& s, SyncResult& r)
      : opt_(o), svc_(s), res_(r), interval_(request_interval(o.plan)) {}

  double interval() const { return interval_; }

  Outcome get(const std::string& path_query, std::string& body, std::string& error) {
    HttpRequest req;
    req.url = opt_.base + path_query;
    req.headers = {{"x-api-key", opt_.api_key}, {"Accept", "application/json"}};
    req.cancelled = svc_.cancelled;
    for (int attempt = 1;; ++attempt) {
      if (!pace()) return Outcome::cancelled;
      last_ = now();
      HttpResponse resp = svc_.http(req);
      ++res_.requests;
      if (cancelled()) return Outcome::cancelled;
      if (resp.ok()) {
        body = std::move(resp.body);
        return Outcome::ok;
      }
      const int st = resp.status;
      const std::string said = error_message_of(resp.body);
      if (resp.error.empty() && (st == 401 || st == 403)) {
        error = "J-Quants がAPIキーを受け付けませんでした (HTTP " + std::to_string(st) +
                (said.empty() ? "" : ": " + said) + ")。キーとプランを確かめてください。";
        return Outcome::refused;
      }
      const bool retry = !resp.error.empty() || st == 429 || st >= 500;
      const std::string what = resp.error.empty() ? "HTTP " + std::to_string(st) +
                                                        (said.empty() ? "" : " (" + said + ")")
                                                  : resp.error;
      if (!retry || attempt >= opt_.max_attempts) {
        error = "J-Quants " + path_of(path_query) + ": " + what +
                (retry ? " (" + std::to_string(attempt) + "回試みました)" : "");
        return Outcome::failed;
      }
      ++res_.retries;
      double wait = std::min(120.0, std::max(1.0, interval_) * std::pow(2.0, attempt - 1));
      if (const std::string ra = resp.header("retry-after"); !ra.empty()) {
        const double s = parse_number(ra);
        if (s > 0) wait = std::min(600.0, s);
      }
      if (!sleep_for(wait)) return Outcome::cancelled;
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

  const SyncOptions& opt_;
  const SyncServices& svc_;
  SyncResult& res_;
  double interval_;
  double last_ = -1;
};

// Walks every page of one endpoint. `parse` takes a body, sets the next key and may fail.
template <class Parse>
Outcome walk(Fetcher& fetcher, const std::string& path, const std::string& query, Parse parse,
             std::string& error, long* pages = nullptr) {
  std::string key, body;
  std::set<std::string> seen;
  for (int page = 1;; ++page) {
    std::string q = query;
    if (!key.empty())
      q += (q.empty() ? "" : "&") + std::string("pagination_key=") + url_encode(key);
    const Outcome o = fetcher.get(path + (q.empty() ? "" : "?" + q), body, error);
    if (o != Outcome::ok) return o;
    if (pages) ++*pages;
    std::string next, why;
    if (!parse(body, next, why)) {
      error = "J-Quants " + path + "?" + query + " (page " + std::to_string(page) +
              ") could not be used: " + why + "。";
      return Outcome::failed;
    }
    if (next.empty()) return Outcome::ok;
    if (!seen.insert(next).second || page >= 100000) {
      error = "J-Quants " + path + "?" + query + ": the pagination_key repeats; stopped";
      return Outcome::failed;
    }
    key = std::move(next);
  }
}

bool valid_date(const std::string& d) {
  return normalize_date(d) == d && !d.empty();
}

// One day's results summaries fetched and stored (merged by DiscNo, so a second fetch of the
// same day changes nothing).
Outcome sync_fins_day(Fetcher& fetcher, const SyncOptions& opt, const std::string& date,
                      SyncResult& res, std::string& error) {
  std::vector<fins::Disclosure> found;
  int skipped = 0;
  const Outcome o = walk(
      fetcher, "/fins/summary", "date=" + date,
      [&](const std::string& body, std::string& next, std::string& why) {
        return parse_fins_page(body, date, found, next, skipped, why);
      },
      error);
  if (o != Outcome::ok) return o;
  fins::StoreStats stats;
  if (!fins::store_disclosures(opt.db_folder, found, stats, error)) return Outcome::failed;
  res.disclosures += static_cast<long>(found.size());
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

std::string map_code(std::string_view api_code) {
  if (api_code.size() != 5 || api_code[4] != '0') return {};
  const std::string_view code = api_code.substr(0, 4);
  return is_stock_code(code) ? std::string(code) : std::string();
}

static SyncResult run_fins_only(const SyncOptions& opt, const SyncServices& svc) {
  SyncResult res;
  const PlanInfo plan = plan_info(opt.plan);
  const int history = plan_history_days(opt.plan);
  res.to = opt.to.empty() ? add_days(opt.today, -plan.delay_days) : opt.to;
  res.from = !opt.from.empty() ? opt.from
             : history > 0     ? add_days(opt.today, -history)
                               : "19000101";
  const std::vector<std::string> days = database_days(opt.db_folder, res.from, res.to);
  res.trading_days = static_cast<int>(days.size());
  if (days.empty()) {
    res.message =
        "決算を取得する取引日がデータベースにありません (" + res.from + "～" + res.to + ")。";
    return res;
  }
  Fetcher fetcher(opt, svc, res);
  SyncProgress prog;
  prog.days_total = static_cast<int>(days.size());
  std::string error;
  for (std::size_t i = 0; i < days.size(); ++i) {
    prog.days_done = static_cast<int>(i);
    prog.date = days[i];
    prog.requests = res.requests;
    prog.seconds_left = static_cast<double>(days.size() - i) * fetcher.interval();
    prog.text = "J-Quants: " + days[i] + " の決算を取得しています (" + std::to_string(i) + "/" +
                std::to_string(days.size()) + "日, 残り約" + duration_text(prog.seconds_left) + ")";
    if (svc.progress) svc.progress(prog);
    const Outcome o = sync_fins_day(fetcher, opt, days[i], res, error);
    if (o != Outcome::ok) {
      res.status = o == Outcome::refused     ? SyncStatus::refused
                   : o == Outcome::cancelled ? SyncStatus::cancelled
                                             : SyncStatus::failed;
      res.message =
          (o == Outcome::cancelled ? std::string("J-Quants の取得を中止しました。") : error) +
          " (" + std::to_string(res.days_written) + " 日分の決算は登録済みです)";
      return res;
    }
    ++res.days_written;
  }
  res.message = "J-Quants: " + std::to_string(res.days_written) + " 日分の決算 " +
                std::to_string(res.disclosures) + " 件を登録しました (" + days.front() + "～" +
                days.back() + ", " + std::to_string(res.requests) + " リクエスト)";
  return res;
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
  if (!valid_date(opt.today)) return finish(SyncStatus::failed, "today's date is not valid");
  if ((!opt.from.empty() && !valid_date(opt.from)) || (!opt.to.empty() && !valid_date(opt.to))) {
    return finish(SyncStatus::failed, "--from/--to must be valid dates YYYYMMDD");
  }
  const PlanInfo plan = plan_info(opt.plan);
  if (opt.fins_only) return run_fins_only(opt, svc);
  res.to = opt.to.empty() ? add_days(opt.today, -plan.delay_days) : opt.to;
  if (!opt.from.empty()) {
    res.from = opt.from;
  } else {
    std::string latest;
    const int year = static_cast<int>(parse_integer(opt.today.substr(0, 4)));
    res.from = read_latest_date(opt.db_folder, opt.reference_code, year, 1983, latest)
                   ? add_days(latest, 1)
                   : add_days(opt.today, -730);
  }
  if (res.from > res.to) {
    return finish(SyncStatus::done, "株価データベースは最新です (" + res.to + " まで)。");
  }

  Fetcher fetcher(opt, svc, res);
  std::string error;
  // Says what the database holds now: nothing changed, or the days committed before the stop.
  auto stop = [&](Outcome o) {
    std::string text = o == Outcome::cancelled ? "J-Quants の取得を中止しました。" : error;
    text += res.days_written == 0 ? "データベースは変更していません。"
                                  : "それまでの " + std::to_string(res.days_written) +
                                        " 取引日は登録済みです (続きは次の実行で取得します)。";
    return finish(o == Outcome::refused     ? SyncStatus::refused
                  : o == Outcome::cancelled ? SyncStatus::cancelled
                                            : SyncStatus::failed,
                  text);
  };
  SyncProgress prog;
  auto report = [&](const std::string& text) {
    prog.requests = res.requests;
    prog.text = text;
    if (svc.progress) svc.progress(prog);
  };

  // The trading days of the range.
  std::vector<CalendarDay> calendar;
  report("J-Quants: 取引カレンダーを取得しています (" + res.from + "～" + res.to + ")");
  Outcome o = walk(
      fetcher, "/markets/calendar", "from=" + res.from + "&to=" + res.to,
      [&](const std::string& body, std::string& next, std::string& why) {
        return parse_calendar_page(body, calendar, next, why);
      },
      error);
  if (o != Outcome::ok) return stop(o);
  std::vector<std::string> days;
  for (const CalendarDay& d : calendar) {
    if (is_trading_hol_div(d.hol_div) && d.date >= res.from && d.date <= res.to)
      days.push_back(d.date);
  }
  std::sort(days.begin(), days.end());
  days.erase(std::unique(days.begin(), days.end()), days.end());
  res.trading_days = static_cast<int>(days.size());

  DayWriter writer(opt.db_folder, opt.reference_code);
  std::vector<std::string> missing;
  for (const std::string& d : days) {
    if (writer.day_present(d)) {
      ++res.already_present;
    } else {
      missing.push_back(d);
    }
  }
  if (missing.empty()) {
    return finish(SyncStatus::done, "株価データベースは最新です (" + res.from + "～" + res.to +
                                        " の " + std::to_string(days.size()) + " 取引日)。");
  }
  prog.days_total = static_cast<int>(missing.size());

  // The index under the reference code: TOPIX where the plan serves it, otherwise the
  // equal-weighted average. A database keeps the kind it started with, so the reference
  // series stays one chain.
  std::map<std::string, IndexBar> topix;
  const std::string stored_index = writer.stored_index_name();
  bool use_topix =
      stored_index == kTopixIndexName || (stored_index.empty() && opt.plan != Plan::free);
  if (use_topix) {
    std::vector<IndexDay> index_days;
    report("J-Quants: TOPIX を取得しています");
    o = walk(
        fetcher, "/indices/bars/daily/topix", "from=" + missing.front() + "&to=" + missing.back(),
        [&](const std::string& body, std::string& next, std::string& why) {
          return parse_index_page(body, index_days, next, why);
        },
        error);
    if (o == Outcome::cancelled) return stop(o);
    if (o != Outcome::ok) {
      if (stored_index == kTopixIndexName) return stop(o);
      use_topix = false;  // not in this plan: the equal-weighted index instead
      error.clear();
    }
    for (const IndexDay& d : index_days) topix[d.date] = {d.open, d.high, d.low, d.close};
  }
  res.index = use_topix ? kTopixIndexName : kEqualWeightIndexName;

  // Names and segments, once per run; a day holding codes the list lacks (issues delisted
  // before its date) asks for the list of that day as well.
  std::unordered_map<std::string, Identity> identities;
  std::set<std::string> masters_fetched;
  std::unordered_set<std::string> replaced_names;
  auto fetch_master = [&](const std::string& date) -> Outcome {
    masters_fetched.insert(date);
    std::vector<Issue> issues;
    const Outcome mo = walk(
        fetcher, "/equities/master", "date=" + date,
        [&](const std::string& body, std::string& next, std::string& why) {
          return parse_master_page(body, issues, next, why);
        },
        error);
    if (mo != Outcome::ok) return mo;
    for (const Issue& issue : issues) {
      Identity id{utf8_to_cp932(issue.segment), utf8_to_cp932(issue.name)};
      const auto q_in = std::count(issue.name.begin(), issue.name.end(), '?');
      const auto q_out = std::count(id.name.begin(), id.name.end(), '?');
      if (q_out > q_in) replaced_names.insert(issue.code);
      identities[issue.code] = std::move(id);
    }
    return Outcome::ok;
  };
  report("J-Quants: 上場銘柄一覧を取得しています");
  if ((o = fetch_master(missing.back())) != Outcome::ok) return stop(o);

  std::unordered_set<std::string> skipped;
  long bar_pages = 0;
  std::vector<Bar> bars;
  std::vector<StockBar> stock_bars;
  const double started = svc.now ? svc.now() : 0;
  (void)started;
  for (std::size_t i = 0; i < missing.size(); ++i) {
    const std::string& date = missing[i];
    prog.date = date;
    prog.days_done = static_cast<int>(i);
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
        fetcher, "/equities/bars/daily", "date=" + date,
        [&](const std::string& body, std::string& next, std::string& why) {
          return parse_bars_page(body, date, bars, next, why);
        },
        error, &bar_pages);
    if (o != Outcome::ok) return stop(o);
    if (bars.empty()) {
      error = "J-Quants: " + date + " の株価がありません (プランの提供範囲外かもしれません)。";
      return stop(Outcome::failed);
    }
    bool unknown = false;
    for (const Bar& b : bars) {
      if (b.traded && !map_code(b.code).empty() && !identities.count(b.code)) unknown = true;
    }
    if (unknown && !masters_fetched.count(date)) {
      if ((o = fetch_master(date)) != Outcome::ok) return stop(o);
    }
    stock_bars.clear();
    std::unordered_set<std::string> seen;
    for (const Bar& b : bars) {
      const std::string code = map_code(b.code);
      if (code.empty() || code == opt.reference_code) {
        skipped.insert(b.code);
        continue;
      }
      if (!b.traded || !seen.insert(code).second) continue;
      const auto it = identities.find(b.code);
      stock_bars.push_back(
          stock_bar_of(b, code, it != identities.end() ? &it->second : nullptr));
    }
    const IndexBar* index_bar = nullptr;
    if (use_topix) {
      auto it = topix.find(date);
      if (it == topix.end()) {
        error = "J-Quants: " + date + " の TOPIX がありません。";
        return stop(Outcome::failed);
      }
      index_bar = &it->second;
    }
    // The day's summaries go in before its prices: a stop between the two fetches both again.
    if (opt.fins && (o = sync_fins_day(fetcher, opt, date, res, error)) != Outcome::ok) {
      return stop(o);
    }
    if (!writer.commit_day(date, stock_bars, error, index_bar)) {
      return finish(SyncStatus::failed, "J-Quants: " + date + " を書き込めませんでした: " + error +
                                            " (" + date + " は元のままです)");
    }
    ++res.days_written;
    res.bars_written += static_cast<long>(stock_bars.size());
    res.codes_skipped = static_cast<int>(skipped.size());
    res.names_replaced = static_cast<int>(replaced_names.size());
  }
  prog.days_done = static_cast<int>(missing.size());
  prog.seconds_left = 0;
  prog.date.clear();
  res.codes_skipped = static_cast<int>(skipped.size());
  res.names_replaced = static_cast<int>(replaced_names.size());
  std::string summary = "J-Quants: " + std::to_string(res.days_written) +
                        " 取引日を登録しました (" + missing.front() + "～" + missing.back() + ", " +
                        std::to_string(res.requests) + " リクエスト)";
  if (opt.fins) summary += "、決算 " + std::to_string(res.disclosures) + " 件";
  if (res.codes_skipped) summary += "、対象外コード " + std::to_string(res.codes_skipped);
  if (res.names_replaced) {
    summary += "、Shift_JIS にない文字を置き換えた銘柄名 " + std::to_string(res.names_replaced);
  }
  report(summary);
  return finish(SyncStatus::done, summary);
}

}  // namespace lp::jquants
