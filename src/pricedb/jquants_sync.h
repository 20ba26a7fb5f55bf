// Fills or brings up to date the price database from J-Quants API V2: the calendar for the
// trading days, one bars/daily walk per missing day, the listed-issue master for names and
// segments. Each day is committed whole before the next is fetched, so an interrupted sync
// continues where it stopped and a second run changes nothing.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/http.h"
#include "pricedb/jquants_json.h"
#include "pricedb/price_writer.h"

namespace lp::jquants {

inline constexpr const char* kDefaultBase = "https://api.jquants.com/v2";

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
  int max_attempts = 6;  // per request, on 429, 5xx and lost connections
  // Results summaries: fetched for every day synced unless `fins` is false; `fins_only`
  // fetches them alone for the days the database holds (from..to, or the plan's window).
  bool fins = true;
  bool fins_only = false;
};

struct SyncProgress {
  int days_done = 0;
  int days_total = 0;
  long requests = 0;
  double seconds_left = 0;  // at the plan's pace
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

enum class SyncStatus { done, failed, refused, cancelled };

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
  std::string index;     // what the reference code carries: "TOPIX" or the equal-weighted index
  long disclosures = 0;  // results summaries received and stored
  bool ok() const { return status == SyncStatus::done; }
};

SyncResult run_sync(const SyncOptions& options, const SyncServices& services);

}  // namespace lp::jquants
