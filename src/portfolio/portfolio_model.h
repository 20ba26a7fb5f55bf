// Holdings files ptf0.csv ... ptf9.csv, their valuation at the latest prices and the grid view
// of the portfolio window. No Qt here: the window and the command line both sit on this.
#pragma once

#include <array>
#include <chrono>
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

  bool operator==(const Holding&) const = default;
};

// "ptf" + n + ".csv" and its path in the user folder (a folder text ending in "/").
std::string holdings_file_name(int file_no);
std::string holdings_path(const std::string& user_folder, int file_no);

enum class LoadStatus {
  kLoaded,
  kCreated,     // the file did not exist and was written with an empty header
  kMissing,     // the file does not exist and was left so (a read-only look)
  kUnreadable,  // exists but cannot be read, or could not be created
  kDamaged,     // not in the form this program writes: it is never overwritten
};

struct LoadResult {
  LoadStatus status = LoadStatus::kUnreadable;
  // For a damaged file: the records that have the shape of a holding, to be shown read-only.
  std::vector<Holding> holdings;
  // For a damaged file: what is wrong with it (UTF-8, for the user).
  std::string problem;
  // True when the file may be rewritten from `holdings` without losing anything.
  bool writable() const {
    return status == LoadStatus::kLoaded || status == LoadStatus::kCreated ||
           status == LoadStatus::kMissing;
  }
};

// Reads a holdings file. A missing file is created holding only its header (count 0), unless
// `create_missing` is false. Every record must be one line of six fields and their number
// must match the header's count; otherwise the file is kDamaged and `holdings` holds the
// well-formed records.
LoadResult load_holdings(const std::string& path, bool create_missing = true);
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
// Orders two names: negative, zero or positive. The window passes its locale's collation;
// the command line uses compare_japanese_text.
using NameCompare = std::function<int(const std::string&, const std::string&)>;
// The name column.
inline constexpr int kNameColumn = 2;
// A stable order of the report rows by `column`; the name column sorts as text by `names`
// (compare_japanese_text when empty), the others by their numeric value.
std::vector<int> sort_order(const Report& report, int column, bool descending,
                            const NameCompare& names = {});

// ---- entries ----

// A typed code as ASCII: full-width digits and letters read as the formula language reads them.
std::string code_text(std::string_view entry);
// Trimmed code (after code_text) of four characters with a positive value and a series file in some
// year of the database.
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

// A purchase date typed as YYYYMMDD, YYYY/MM/DD or YYYY-MM-DD (full-width digits too) as
// YYYYMMDD; empty when it is no real date.
std::string purchase_date_text(std::string_view entry);
// A share count or price typed with or without thousands separators as a number; nullopt when
// the entry is not a plain number.
std::optional<double> entry_number(std::string_view entry);
// Checks the date, share and price entries of a holding: a real date not after
// `latest_trading_day` (when it is given), whole shares from 1 to kMaxShares, a price above 0
// and at most kMaxPrice. Empty when all is well,
// otherwise the message naming the field. The code is checked by code_acceptable.
std::string check_entries(const Entries& entries, std::string_view latest_trading_day);

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
inline constexpr const char* kMsgBadDate =
    "取得日を再度入力してください。（YYYYMMDD、YYYY/MM/DD、YYYY-MM-DD）";
// The largest share count and purchase price an entry may give: far above any real holding,
// low enough that amounts stay exact in yen.
inline constexpr double kMaxShares = 1e9;
inline constexpr double kMaxPrice = 1e8;
inline constexpr const char* kMsgBadShares =
    "株数を再度入力してください。（1以上1,000,000,000以下の整数）";
inline constexpr const char* kMsgBadPrice =
    "取得株価を再度入力してください。（0より大きく100,000,000以下の数。1e9 "
    "のような指数表記は使えません）";

// One open holdings file with its report, paging, selection and sort state. Every change is
// written to the file at once; a file that could not be read is never written.
class Book {
 public:
  Book(SeriesSource source, std::string user_folder, std::function<std::string()> today);

  // Loads ptf<file_no>.csv and values it. Not ok (with a message) when the file is unusable;
  // a damaged file still shows the holdings that could be read, read-only. `create_missing`
  // false leaves a missing file missing (a look that must not write).
  Outcome open(int file_no, bool create_missing = true);
  Outcome add(const Entries& entries);
  Outcome correct(int index, const Entries& entries);
  Outcome remove(int index);
  // Same column as last time reverses the direction; another column keeps it.
  Outcome sort_by(int column);
  // The order of the name column (compare_japanese_text until set).
  void set_name_compare(NameCompare compare) { name_compare_ = std::move(compare); }
  // How long a change waits for another writer of the same file before it gives up.
  void set_lock_timeout(std::chrono::milliseconds timeout) { lock_timeout_ = timeout; }
  // The latest trading day of the database (today when it has none): no purchase after it.
  std::string latest_trading_day() const;
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
  Outcome refuse_unwritable() const;
  // The read-modify-write of every change: under the file's lock, re-reads the file, refuses
  // when it is damaged or (with `must_match`) no longer holds what this book shows, applies
  // `change` and writes the result. The book then shows the file as written.
  Outcome change_file(bool must_match, const std::function<Outcome(std::vector<Holding>&)>& change,
                      bool reload = true);
  void show_file(LoadResult&& loaded);

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
  std::string problem_;
  NameCompare name_compare_;
  std::chrono::milliseconds lock_timeout_{5000};
};

}  // namespace lp::portfolio
