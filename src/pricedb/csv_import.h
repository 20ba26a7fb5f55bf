// Importing daily bars the user already has as CSV files into the price database: one stock
// per file (a header naming Date, Open, High, Low, Close, Volume in English or Japanese, in
// any order, possibly after a title line; yfinance's three header rows; comma or tab; quoted
// fields and thousands separators; UTF-8 with or without BOM, or CP932) or the bulk text form
// <TICKER>,<PER>,<DATE>,<TIME>,<OPEN>,<HIGH>,<LOW>,<CLOSE>,<VOL>,<OPENINT>.
//
// A day whose volume the file does not give (no volume column, or an empty cell) is a traded
// day of unknown volume, stored with the volume text kUnknownVolumeText (formats.h).
#pragma once

#include <chrono>
#include <functional>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace lp {

struct CsvBar {
  std::string date;  // yyyymmdd
  double open = 0, high = 0, low = 0, close = 0;
  long long volume = 0;
  bool volume_known = true;  // false: traded, volume not given
};

// What one file holds: bars by stock code, and the rows it could not read.
struct ParsedPriceFile {
  std::map<std::string, std::vector<CsvBar>> bars;  // dates ascending, one bar a date
  std::vector<std::string> problems;                // "FILE:LINE: what", the first few only
  long bad_rows = 0;                                // every row refused, kept in problems or not
  long rows_read = 0;
};

// The stock code a file name starts with: "7203.csv", "7203.T.csv", "130a.jp.txt" -> "7203",
// "7203", "130A". Empty when the name gives none.
std::string code_from_file_name(std::string_view file_name);

// Reads one file's bytes. `code` is the stock the rows belong to (the bulk form and a
// yfinance ticker row name their own); `label` names the file in problems; rows dated after
// `today` (yyyymmdd, empty: no limit) or before 1983 are refused. False (with a problem) when
// the file is refused whole: no header it understands, no stock code, or clearly not CSV.
bool parse_price_csv(std::string_view bytes, const std::string& code, const std::string& label,
                     ParsedPriceFile& out, const std::string& today = {});
// The same, streamed from a file, so a huge or binary file costs little memory.
bool read_price_csv(const std::string& path, const std::string& code, const std::string& label,
                    ParsedPriceFile& out, const std::string& today = {});

// A split recorded by the user: from `date` on, one old share is `ratio` new shares
// (new_shares / old_shares), so every earlier price is multiplied by old_shares / new_shares.
struct SplitLine {
  std::string code;  // empty: the one stock of the import
  std::string date;  // yyyymmdd
  long long new_shares = 1, old_shares = 1;
};
// Reads a splits file: lines "YYYYMMDD,RATIO" or "CODE,YYYYMMDD,RATIO", RATIO a decimal ("5",
// "1.5", "0.1") or "A/B"; blank lines and lines starting with '#' are skipped. False with
// `error` ("FILE:LINE: what") at the first line it cannot take. Dates are bounded like price
// rows: 1983 to `today` (yyyymmdd; "" leaves the upper bound open).
bool parse_splits(std::string_view bytes, const std::string& label, std::vector<SplitLine>& out,
                  std::string& error, const std::string& today = {});

struct CsvImportOptions {
  std::string code;    // --code: the stock of every file
  std::string name;    // --name (UTF-8)
  std::string market;  // --market (UTF-8)
  std::string splits;  // --splits: path of a splits file
  std::string today;   // yyyymmdd; rows after it are refused (empty: no limit)
  // How long to wait for another writer of the database, and where the wait is said.
  std::chrono::milliseconds lock_timeout = std::chrono::minutes(10);
  std::function<void(const std::string& text)> waiting;
};

struct CsvImportReport {
  int files_used = 0;
  int files_refused = 0;
  long rows_imported = 0;
  long rows_skipped = 0;
  long holiday_rows = 0;  // zero-volume rows of dates on which no stock traded, left out
  int corrections_written = 0;
  int split_warnings = 0;
  std::set<std::string> codes;
  int dates_touched = 0;
  bool index_rebuilt = false;
  bool locked = false;  // another writer held the database past the wait: nothing written
  std::vector<std::string> messages;  // problems, refusals and warnings, one line each
};

// Writes the series files of every imported stock and rewrites the day file of every date
// touched, merging with what is there (an imported date replaces the same stock's line).
// When the reference code is not imported, its equal-weighted index is rebuilt over the whole
// database so the calendar covers every imported date. False with `error` when writing
// failed or an option cannot be used; every file written is then put back and every year
// folder the import made is removed again.
bool import_price_csv(const std::string& db_folder, const std::string& reference_code,
                      const std::vector<std::string>& files, const CsvImportOptions& options,
                      CsvImportReport& report, std::string& error);

// Rebuilds the equal-weighted index under the reference code from every day file of the
// database (reference series of each year, and its line in each day file). Leaves a reference
// series that is not the program's own index alone and returns false.
bool rebuild_equal_weight_index(const std::string& db_folder, const std::string& reference_code,
                                std::string& error);

}  // namespace lp
