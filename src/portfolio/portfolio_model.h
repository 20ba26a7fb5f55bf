// Holdings files ptf0.csv ... ptf9.csv, their valuation at the latest prices and the grid view
// of the portfolio window. No Qt here: the window and the command line both sit on this.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pricedb/series.h"

namespace lp::portfolio {

inline constexpr int kFileCount = 10;     // ptf0 ... ptf9
inline constexpr int kMaxHoldings = 200;  // per file
inline constexpr int kRowsPerPage = 10;
inline constexpr int kColumns = 13;
inline constexpr int kLoadDays = 361;

// One record of a holdings file: code, purchase price, shares, purchase date, spare, sequence.
// The sequence is empty in holding records (written as "-").
struct Holding {
  std::string code;
  std::string price;
  std::string shares;
  std::string date;
  std::string spare;
  std::string sequence;
};

// "ptf" + n + ".csv" and its path in the user folder (a folder text ending in "/").
std::string holdings_file_name(int file_no);
std::string holdings_path(const std::string& user_folder, int file_no);

enum class LoadStatus {
  kLoaded,
  kCreated,     // the file did not exist and was written with an empty header
  kUnreadable,  // exists but cannot be read, or could not be created
  kDamaged,     // not in the form this program writes: it is never overwritten
};

struct LoadResult {
  LoadStatus status = LoadStatus::kUnreadable;
  std::vector<Holding> holdings;
  // True when the file may be rewritten from `holdings` without losing anything.
  bool writable() const { return status == LoadStatus::kLoaded || status == LoadStatus::kCreated; }
};

// Reads a holdings file; a missing file is created holding only its header (count 0).
LoadResult load_holdings(const std::string& path);
// The whole file as UTF-8 text: the header ",,,,," + count, then one line per holding.
std::string holdings_file_text(const std::vector<Holding>& holdings);
// Rewrites the file atomically (CP932, CR LF): the old file survives any failure.
bool save_holdings(const std::string& path, const std::vector<Holding>& holdings);

// One report row per holding. Empty optionals are the empty value fields.
struct ReportRow {
  std::string code;
  std::string descriptive;  // header field 2 of the loaded series
  std::string name;
  std::string date;
  bool priced = false;  // the series was loaded and has a positive close
  std::optional<double> shares, price, current, difference, amount, valuation, profit, ratio,
      change;
};

struct Totals {
  int count = 0;
  double purchase = 0;
  double valuation = 0;
  double profit = 0;
  double ratio = 0;  // percent; 0 when nothing was paid
};

struct Report {
  std::vector<ReportRow> rows;
  Totals totals;
};

// Values one holding from its loaded series (`series` may be empty or unloaded: load_ok false).
ReportRow value_holding(const Holding& holding, const Series& series, bool load_ok);
Totals compute_totals(const std::vector<ReportRow>& rows);

// Values every holding at the latest prices on or before `end_date` (the years down to 1999,
// at most 361 trading days). The calendar is built once for the whole list.
Report build_report(const SeriesSource& source, std::string_view end_date,
                    const std::vector<Holding>& holdings);

// ---- the grid ----

// Display colours. kDarkGreen marks a row whose difference is empty.
enum class Tone { kRed, kBlue, kGreen, kDarkGreen };
struct Rgb {
  int r, g, b;
};
Rgb tone_rgb(Tone tone);

struct Cell {
  std::string text;
  Tone tone = Tone::kDarkGreen;
};
using GridRow = std::array<Cell, kColumns>;

const std::array<std::string_view, kColumns>& column_headers();

// The thirteen cells of report row `index` (0-based; column 0 shows index + 1).
GridRow format_row(const ReportRow& row, int index);

struct TotalsView {
  std::array<Cell, 4> cells;  // purchase, valuation, profit, profit ratio
};
TotalsView format_totals(const Totals& totals);

// The highest page number for `count` holdings (pages are numbered from 0).
int last_page(int count);

struct PageView {
  std::vector<GridRow> rows;  // at most ten, the holdings of the page in order
  bool has_next = false;
  bool has_back = false;
};
PageView fill_page(const Report& report, int page);

// The numeric value of the field shown in `column` for report row `index`.
double sort_key(const ReportRow& row, int index, int column);
// A stable order of the report rows by `column`.
std::vector<int> sort_order(const Report& report, int column, bool descending);

// ---- entries ----

// Trimmed code of four characters with a positive value and a series file in some year of the
// database.
bool code_acceptable(const std::string& db_folder, std::string_view code);
// A price or share entry as the stored fixed-point text (four decimals at most); separators
// are ignored, an empty or non-numeric entry counts as 0.
std::string currency_text(std::string_view entry);
// A stored price or share count shown back in an entry field: thousands separators, and the
// decimals it has (so a correction of 1,234.5 does not round it away).
std::string entry_text(std::string_view stored);

struct Entries {
  std::string code, date, shares, price;
};
Holding holding_from_entries(const Entries& entries);

// ---- the window's model ----

// Outcome of a command: the status text (empty: clear it) and whether it is an error.
struct Outcome {
  bool ok = false;
  std::string message;
  bool error = false;
};

inline constexpr const char* kMsgBadCode = "コードを再度入力してください。";
inline constexpr const char* kMsgAdding = "追加処理中";
inline constexpr const char* kMsgCorrecting = "修正処理中";
inline constexpr const char* kMsgDeleting = "削除処理中";
inline constexpr const char* kMsgSorting = "ソーティング処理中";
inline constexpr const char* kMsgNoSettings = "エラー：設定ファイル（settei.txt）がありません。";

// One open holdings file with its report, paging, selection and sort state. Every change is
// written to the file at once; a file that could not be read is never written.
class Book {
 public:
  Book(SeriesSource source, std::string user_folder, std::function<std::string()> today);

  // Loads ptf<file_no>.csv and values it. Not ok (with a message) when the file is unusable.
  Outcome open(int file_no);
  Outcome add(const Entries& entries);
  Outcome correct(int index, const Entries& entries);
  Outcome remove(int index);
  // Same column as last time reverses the direction; another column keeps it.
  Outcome sort_by(int column);
  // The holding after (+1) or before (-1) `index`, wrapping around; -1 when there is none.
  int step(int index, int direction) const;

  int file_no() const { return file_no_; }
  std::string path() const;
  bool writable() const { return writable_; }
  const std::vector<Holding>& holdings() const { return holdings_; }
  const Report& report() const { return report_; }
  int count() const { return static_cast<int>(holdings_.size()); }
  int last_page() const { return portfolio::last_page(count()); }
  int sort_column() const { return sort_column_; }
  bool descending() const { return descending_; }
  // Where the last add put its holding (0-based).
  int last_added() const { return last_added_; }

 private:
  Outcome write_and_reload();
  Outcome refuse_unwritable() const;

  SeriesSource source_;
  std::string user_folder_;
  std::function<std::string()> today_;
  int file_no_ = 0;
  bool writable_ = false;
  std::vector<Holding> holdings_;
  Report report_;
  int sort_column_ = -1;
  bool descending_ = false;
  int last_added_ = -1;
};

}  // namespace lp::portfolio
