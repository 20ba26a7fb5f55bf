// A deterministic synthetic market in the real file formats.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lp::sample {

struct Options {
  int codes = 4000;      // 2 to 5000 stock codes (1001 and 1301 always among them)
  std::string end_date;  // yyyymmdd, the last trading day at most; "" = today
  int years = 3;         // calendar years ending with the end date's year
  unsigned seed = 1;
  std::string packed_root;  // if set: <packed_root>/html/kabuka_db/<yyyy>/data_mhg|data_dg|data_mg/
  std::string db_folder;    // if set: a ready database folder (<db>/<yyyy>/data_d|data_m|data_mh/)
  // If set: a database folder that receives only the results summaries (<fins_db>/fins/), for
  // a database filled by a download of the packed files. A ready database (db_folder) gets
  // them anyway.
  std::string fins_db;
};

// What was generated, for the program's summary and for tests that want to know where to look.
struct Summary {
  std::string end_date;  // the last trading day actually generated
  int first_year = 0;
  int trading_days = 0;            // over all years
  std::vector<std::string> codes;  // every code, ascending
  // Codes with a special life, for tests that need one of a kind.
  std::vector<std::string> listed_inside;    // first day inside the span
  std::vector<std::string> delisted_inside;  // last day before the end date
  std::vector<std::string> split;            // one correction line each
  std::vector<std::string> illiquid;         // missing days between their first and last day
  // Results summaries: quarterly disclosures of every ordinary stock, a loss-making stock and
  // one that gives no forecasts among them.
  std::vector<std::string> loss_making;
  std::vector<std::string> no_forecast;
  // The kinds of documents and forecasts a real market has, one stock each at least.
  std::vector<std::string> ifrs, us_gaap, non_consolidated, reit;
  std::vector<std::string> withdrawn;   // a forecast left 未定 in a 1Q, a new one later
  std::vector<std::string> changed_fy;  // its fiscal year end moves from March to December
  // The 33-industry code of every stock but the index ("1301" -> "0050"), as sectors.csv and
  // the J-Quants master carry them.
  std::vector<std::pair<std::string, std::string>> sectors;
  long long disclosures = 0;
  long long files_written = 0;
  long long bytes_written = 0;
};

// False with a message in `error` on failure.
bool generate(const Options& options, std::string& error);
bool generate(const Options& options, std::string& error, Summary& summary);

// The market's calendar rules, shared with the tests: weekdays, closed Dec 31 to Jan 3 and on
// a fixed set of other holidays. Dates are yyyymmdd numbers.
bool is_trading_day(int yyyymmdd);
// The last trading day on or before `yyyymmdd` (0 when the text is not a valid date).
int last_trading_day_on_or_before(std::string_view yyyymmdd);
// Every trading day from Jan 1 of first_year to end_date, oldest first.
std::vector<int> trading_days(int first_year, int end_date);

// The thirteen segment names the screening window's market boxes admit by name.
const std::vector<std::string>& listed_segment_names();

}  // namespace lp::sample
