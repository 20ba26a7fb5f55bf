// The price database seen through the J-Quants API V2: the endpoints the sync uses, answered
// from a database folder (the sample market's, or any other). Kept free of Qt so the core
// tests can call it directly as their HTTP service; the price server puts it on loopback.
//
// It answers as the live API does: a plan's window of dates (400 naming the window beyond
// it), 403 for a wrong key and for an endpoint the plan lacks, a day's bars only after the
// publication time, the old segment names before the market restructuring, 210 and a
// rate-limit lockout on request.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "price-server/jquants_fins_view.h"
#include "pricedb/sectors.h"

namespace lp::tools {

struct JQuantsViewOptions {
  std::string db_folder;                // native, ending in "/"
  std::string api_key;                  // the x-api-key every request must carry
  std::string reference_code = "1001";  // the sample market's index: not an issue of the API
  int page_size = 1000;                 // records per page before a pagination_key
  std::set<long> fail_429;              // request numbers (1-based) answered 429
  std::set<long> fail_500;              // request numbers answered 500
  // Answers /indices/bars/daily/topix from the reference code's series (403 when false, as
  // for a plan without it).
  bool serve_topix = true;
  // "free", "light", "standard" or "premium": the window of dates served (and no TOPIX on
  // Free); "" serves every date.
  std::string plan;
  // The server's clock in Japan time, yyyymmddhhmm; "" = the system clock. It places the
  // plan's window and says which days are published.
  std::string now;
  int publish_hhmm = 1630;    // a day's bars and TOPIX appear at this time of that day
  // A day's results summaries appear at this time of that day (live: about 18:00), hours
  // after its bars; -1: with the bars.
  int fins_publish_hhmm = -1;
  int fins_status = 0;  // when not 0, every /fins/summary is answered with this status
  std::set<long> status_210;  // request numbers answered 210 (no content)
  // From request number `lockout_at` on (0: never) the key is locked out for
  // `lockout_seconds`: every request is answered 429 with Retry-After until it ends.
  long lockout_at = 0;
  double lockout_seconds = 300;
  // "CODE:YYYYMMDD": the issue did not trade that day (null prices, AdjFactor kept).
  std::set<std::string> idle;
  // Seconds for the log and the lockout; empty = the steady clock.
  std::function<double()> clock;
  // Adds issues the sample market has no room for: "130A0" (an alphanumeric code, listed
  // mid-span, with a name CP932 cannot hold) and the preferred share "13015".
  bool extra_issues = true;
};

struct JQuantsReply {
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

struct JQuantsLogEntry {
  double seconds = 0;  // since the view was loaded
  std::string target;  // path and query
  int status = 0;
};

class JQuantsView {
 public:
  bool load(const JQuantsViewOptions& options, std::string& error);
  // `path` below the API base ("/equities/bars/daily"), `query` without "?", the request's
  // x-api-key header (empty when absent).
  JQuantsReply answer(std::string_view path, std::string_view query, std::string_view api_key);
  const std::vector<JQuantsLogEntry>& log() const { return log_; }
  long requests() const { return requests_; }

  struct Issue {
    std::string code5, code4, name, segment;      // UTF-8; segment as the database has it
    int first = 0, last = 0;                      // listed span (yyyymmdd)
    std::vector<std::pair<int, double>> factors;  // split days and their AdjFactor
    std::string source;                           // the database code whose prices it carries
    double scale = 1;                             // prices of the source times this
    double volume_scale = 1;
  };

 private:
  JQuantsReply calendar(const std::map<std::string, std::string>& q);
  JQuantsReply bars(const std::map<std::string, std::string>& q);
  JQuantsReply master(const std::map<std::string, std::string>& q);
  JQuantsReply topix(const std::map<std::string, std::string>& q);
  JQuantsReply fins_summary(const std::map<std::string, std::string>& q);
  JQuantsReply page(const std::vector<std::string>& records,
                    const std::map<std::string, std::string>& q);
  double seconds() const;
  // The server's date and time (Japan) as yyyymmdd and hhmm.
  int today() const;
  int hhmm() const;
  bool published(int date) const;
  // True when the plan's window does not hold `date`; window_reply() is the live answer.
  bool outside_window(int date) const;
  JQuantsReply window_reply() const;

  JQuantsViewOptions opt_;
  std::vector<Issue> issues_;  // by code5
  std::set<int> trading_days_;
  std::map<int, std::string> index_;  // the reference code's days as TOPIX records
  JQuantsFinsView fins_;
  // The industries the master serves: the database's sectors.csv (the sample market writes
  // one); a stock it does not name is served as 9999 その他.
  std::shared_ptr<lp::sectors::SectorTable> sectors_;
  std::vector<JQuantsLogEntry> log_;
  std::atomic<long> requests_ = 0;  // read by a test while a sync thread asks
  double start_ = 0;
  double lock_until_ = -1;
  int window_from_ = 0, window_to_ = 0;  // 0: no window
};

// The segment names of today's market for the sample market's older names.
std::string current_segment(const std::string& segment);
// The name the master gave a segment on `date` (yyyymmdd): before 2022-04-04 the old market
// names (東証一部, 東証二部, マザーズ, JASDAQ スタンダード/グロース, その他), today's after.
std::string segment_on(const std::string& segment, int date);

}  // namespace lp::tools
