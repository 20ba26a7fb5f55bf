// Fills or brings up to date the price database from J-Quants API V2: the calendar for the
// trading days, one bars/daily walk per missing day, the listed-issue master for names and
// segments. The days fetched are committed in batches (see DayWriter), each whole or not at
// all, so an interrupted sync continues where it stopped and a second run changes nothing.
//
// The API is taken as it really behaves: each plan serves a window of dates (asked beyond it,
// the server answers 400 naming the window), the newest day's bars appear around 16:30 JST,
// a bad key and an endpoint outside the plan are both 403, 210 is an empty answer, and a key
// that overshoots the rate limit is locked out for about five minutes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/http.h"
#include "pricedb/db_lock.h"
#include "pricedb/jquants_json.h"
#include "pricedb/price_writer.h"

namespace lp::jquants {

inline constexpr const char* kDefaultBase = "https://api.jquants.com/v2";
// Overrides the settings' address (a local test server, a proxy).
inline constexpr const char* kBaseEnvironmentVariable = "LUMENPICK_JQUANTS_BASE";
// The most one request waits for a rate-limit lockout to end, in seconds.
inline constexpr double kDefaultMaxWait = 360;
// The market restructuring: before this day the master names the old segments (東証一部 ...).
inline constexpr const char* kSegmentReformDate = "20220404";

enum class Plan { free, light, standard, premium, unpaced };

struct PlanInfo {
  const char* name;
  int requests_per_minute;  // 0: no pacing
  int delay_days;           // how old the newest data the plan serves is
};
PlanInfo plan_info(Plan plan);
// "free", "light", "standard", "premium" or "none" (no pacing, for a local test server).
bool parse_plan(std::string_view text, Plan& plan);
// Seconds between two requests: a tenth below the plan's limit.
double request_interval(Plan plan);
// The dates the plan serves on `today` (yyyymmdd): Free from two years and twelve weeks ago to
// twelve weeks ago, Light five years back, Standard ten, Premium twenty, each up to today.
// False for Plan::unpaced (a local server: no window).
bool plan_window(Plan plan, const std::string& today, std::string& from, std::string& to);

// yyyymmdd moved by `days` calendar days.
std::string add_calendar_days(const std::string& yyyymmdd, int days);

// "20250613" -> "2025/06/13", as messages show dates.
std::string slash_date(const std::string& yyyymmdd);

// Where the sync connects and how long it may wait, from settei.txt in the product folder
// (keys "J-Quants_URL" and "J-Quants待機上限秒") and the environment (LUMENPICK_JQUANTS_BASE,
// which wins). `error` names a value that was refused (the default is kept).
struct ConnectionSettings {
  std::string base = kDefaultBase;
  double max_wait_s = kDefaultMaxWait;
  std::string error;
};
ConnectionSettings read_connection_settings(const std::string& app_folder,
                                            const std::function<const char*(const char*)>& env);
// An API address as the sync takes it: http(s)://..., trailing "/" dropped; "" when unusable.
std::string clean_base(std::string base);

// Maps an API code to the database's: "72030" -> "7203", "130A0" -> "130A". Codes whose fifth
// character is not "0" (preferred shares and the like) give "".
std::string map_code(std::string_view api_code);

// An issue's segment and name as the database files hold them (CP932).
struct Identity {
  std::string segment, name;
};

// A traded bar as the day writer takes it, under our code; `id` may be null (no name known).
StockBar stock_bar_of(const Bar& bar, std::string code, const Identity* id);

struct SyncOptions {
  std::string base = kDefaultBase;  // without a trailing "/"
  std::string api_key;              // sent as x-api-key only
  std::string db_folder;            // native, ending in "/"
  std::string reference_code = "1001";
  std::string today;  // yyyymmdd
  std::string from;   // yyyymmdd; empty: the day after the latest date, or two years back
  std::string to;     // yyyymmdd; empty: today less the plan's delay
  Plan plan = Plan::free;
  int max_attempts = 6;  // per request, on 5xx answers
  // The most one request waits in all for 429 and 5xx answers (Retry-After included).
  double max_wait_s = kDefaultMaxWait;
  // A network that is not there fails within this, not after minutes of retries.
  int connect_timeout_s = 15;
  // Caps on one answer over all its pages (a day's bars, the master, the calendar).
  int max_pages = 1000;
  std::uint64_t max_answer_bytes = 64ull * 1024 * 1024;
  // Results summaries: after the prices, by disclosure date from the newest fetched (less two
  // days) up to the newest the plan serves, unless `fins` is false; `fins_only` fetches them
  // alone: the days the database holds within from..to, or with no dates the plan's window.
  bool fins = true;
  bool fins_only = false;
  // How long to wait for another writer of the database before giving up.
  std::chrono::milliseconds lock_timeout = kDatabaseLockWait;
};

struct SyncProgress {
  int days_done = 0;
  int days_total = 0;
  long requests = 0;
  double seconds_left = 0;  // at the plan's pace
  double wait_left = 0;     // > 0 while waiting out a rate limit (counts down each second)
  std::string date;         // the day being fetched, or ""
  std::string text;         // one line for a message area
};

struct SyncServices {
  HttpClient http;
  // Waits (the CLI and GUI sleep; tests record). Empty: really sleep.
  std::function<void(double seconds)> sleep;
  // Monotonic seconds. Empty: the steady clock.
  std::function<double()> now;
  std::function<void(const SyncProgress&)> progress;
  std::function<bool()> cancelled;
};

// locked: another writer held the database past the wait.
enum class SyncStatus { done, failed, refused, cancelled, locked };

struct SyncResult {
  SyncStatus status = SyncStatus::done;
  std::string message;  // what went wrong, or the summary; never holds the key
  std::string from, to;
  int trading_days = 0;     // in the range
  int already_present = 0;  // skipped: already in the database
  int days_written = 0;
  long requests = 0;
  long retries = 0;
  int codes_skipped = 0;   // API codes with no database code (preferred shares ...)
  int names_replaced = 0;  // names holding a character CP932 cannot hold
  long bars_written = 0;
  std::string index;  // what the reference code carries: "TOPIX" or the equal-weighted index
  // Parts of the asked range the plan does not serve, "YYYY/MM/DD～YYYY/MM/DD" each.
  std::vector<std::string> not_covered;
  std::string unpublished;   // the newest day, when its bars are not out yet (yyyymmdd)
  int idle_corrections = 0;  // splits on days the stock did not trade
  long disclosures = 0;      // results summaries received and stored
  int fins_days = 0;         // disclosure dates fetched
  std::string fins_from, fins_to;  // the disclosure dates asked for
  std::string fins_error;          // the summaries failed (the prices stand)
  bool fins_skipped = false;       // not in the plan, as a 403 said before
  std::vector<std::string> warnings;  // one line each: data not used, files moved aside
  bool ok() const { return status == SyncStatus::done; }
};

SyncResult run_sync(const SyncOptions& options, const SyncServices& services);

// The command's exit status: 0 when everything the plan serves was synced, 3 when the prices
// were synced but the results summaries not, 75 when another writer held the database too
// long, 1 otherwise.
inline constexpr int kExitPricesOnly = 3;
int exit_code(const SyncResult& result);

}  // namespace lp::jquants
