// Whether the price database is whole, and mending what can be mended. The database holds each
// stock's day twice, in the day file of the day and in the stock's series file of the year, and
// the reference code's series is the market's calendar. A writer killed part-way, two writers
// at once or a hand-edited folder can leave the copies disagreeing; readers then see a stock
// without a day it traded, or a day without some stocks. verify_database lists each
// disagreement with its day and code; repair_database rebuilds each side from the other copy
// where there is one, and says what it could not.
#pragma once

#include <string>
#include <vector>

namespace lp {

enum class DbProblemKind {
  series_lacks_day,      // the day file has the stock, its series file has not the day
  day_file_lacks_stock,  // the series file has the day, the day file has not the stock
  no_day_file,           // a day of the reference's calendar without a day file
  not_in_calendar,       // a day file of a day the reference's calendar does not hold
  series_day_only,       // a series day that neither a day file nor the calendar holds
  after_newest,          // a day after the reference's newest day (day file or series lines)
  temp_file,             // a temporary file left by a writer that is gone
  empty_year_folder,     // a year folder without a single file
  unreadable,            // a file or folder that cannot be read
};

struct DbProblem {
  DbProblemKind kind;
  std::string date;                // yyyymmdd, "" when the problem has no day
  std::string code;                // "" when it has no stock
  std::string path;                // the file or folder, for the kinds without a day
  std::vector<std::string> codes;  // after_newest: the stocks whose series hold the day
  // One line for a person: "YYYYMMDD CODE: what is wrong" ("-" for a missing day or code).
  std::string text() const;
};

struct VerifyReport {
  std::vector<DbProblem> problems;
  std::string newest;  // the reference's newest day, "" when it has none
  int days = 0;        // day files read
  int series_files = 0;
  bool whole() const { return problems.empty(); }
};

// Reads the whole database (db_folder ends in "/"): every year folder's day files and series
// files. Only reads; temporary files are reported, never removed.
VerifyReport verify_database(const std::string& db_folder, const std::string& reference_code);

struct RepairReport {
  std::vector<DbProblem> repaired;
  std::vector<std::pair<DbProblem, std::string>> not_repaired;  // with the reason
  std::string error;  // a write that failed (everything the repair wrote is then put back)
};

// Mends the problems of `found` (a report of verify_database on the same folder): a missing
// series day or day-file row is rebuilt from the other copy, a missing day file from the series
// files, a day missing from the calendar from the reference's row of its day file; a day after
// the reference's newest is removed (no reader sees it, and the next sync fetches it again);
// stale temporary files and empty year folders are removed. Every file is replaced atomically,
// series first, day files next and the reference's series last, as the writers do. The caller
// holds the database's writer lock.
RepairReport repair_database(const std::string& db_folder, const std::string& reference_code,
                             const VerifyReport& found);

}  // namespace lp
