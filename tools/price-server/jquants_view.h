// The price database seen through the J-Quants API V2: the three endpoints the sync uses,
// answered from a database folder (the sample market's, or any other). Kept free of Qt so the
// core tests can call it directly as their HTTP service; the price server puts it on loopback.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "price-server/jquants_fins_view.h"

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
    std::string code5, code4, name, segment;      // UTF-8
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

  JQuantsViewOptions opt_;
  std::vector<Issue> issues_;  // by code5
  std::set<int> trading_days_;
  std::map<int, std::string> index_;  // the reference code's days as TOPIX records
  JQuantsFinsView fins_;
  std::vector<JQuantsLogEntry> log_;
  long requests_ = 0;
  double start_ = 0;
};

// The segment names of today's market for the sample market's older names.
std::string current_segment(const std::string& segment);

}  // namespace lp::tools
