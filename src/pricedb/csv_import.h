// Importing daily bars the user already has as CSV files into the price database: one stock
// per file (a header naming Date, Open, High, Low, Close, Volume in English or Japanese, in
// any order; comma or tab; UTF-8 with or without BOM, or CP932) or the bulk text form
// <TICKER>,<PER>,<DATE>,<TIME>,<OPEN>,<HIGH>,<LOW>,<CLOSE>,<VOL>,<OPENINT>.
#pragma once

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
};

// What one file holds: bars by stock code, and the rows it could not read.
struct ParsedPriceFile {
  std::map<std::string, std::vector<CsvBar>> bars;  // dates ascending, one bar a date
  std::vector<std::string> problems;                // "FILE:LINE: what"
  long rows_read = 0;
};

// The stock code a file name starts with: "7203.csv", "7203.T.csv", "130a.jp.txt" -> "7203",
// "7203", "130A". Empty when the name gives none.
std::string code_from_file_name(std::string_view file_name);

// Reads one file's bytes. `code` is the stock the rows belong to (the bulk form names its
// own); `label` names the file in problems. False (with a problem) when the file has no
// header it understands.
bool parse_price_csv(std::string_view bytes, const std::string& code, const std::string& label,
                     ParsedPriceFile& out);

struct CsvImportOptions {
  std::string code;    // --code: the stock of every file
  std::string name;    // --name (UTF-8)
  std::string market;  // --market (UTF-8)
};

struct CsvImportReport {
  int files_used = 0;
  int files_refused = 0;
  long rows_imported = 0;
  long rows_skipped = 0;
  std::set<std::string> codes;
  int dates_touched = 0;
  bool index_rebuilt = false;
  std::vector<std::string> messages;  // problems and refusals, one line each
};

// Writes the series files of every imported stock and rewrites the day file of every date
// touched, merging with what is there (an imported date replaces the same stock's line).
// When the reference code is not imported, its equal-weighted index is rebuilt over the whole
// database so the calendar covers every imported date. False with `error` when writing
// failed; every file written is then put back.
bool import_price_csv(const std::string& db_folder, const std::string& reference_code,
                      const std::vector<std::string>& files, const CsvImportOptions& options,
                      CsvImportReport& report, std::string& error);

// Rebuilds the equal-weighted index under the reference code from every day file of the
// database (reference series of each year, and its line in each day file). Leaves a reference
// series that is not the program's own index alone and returns false.
bool rebuild_equal_weight_index(const std::string& db_folder, const std::string& reference_code,
                                std::string& error);

}  // namespace lp
