// Company results summaries (決算短信 summary figures) in the database: one file per stock,
// "fins/<code>.csv" under the database folder, every disclosure a line in (DiscDate, DiscNo)
// order under a header line naming the columns; CP932, CR LF, replaced whole under a lock.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lp::fins {

// The columns kept, named as J-Quants V2 spells them, in file order.
enum Col : int {
  DiscDate,  // yyyymmdd
  DiscTime,
  Code,  // the database's code (four characters)
  DiscNo,
  DocType,
  CurPerType,
  CurFYSt,  // yyyymmdd, like every date column
  CurFYEn,
  NxtFYSt,
  NxtFYEn,
  Sales,  // first value column
  OP,
  OdP,
  NP,
  EPS,
  BPS,
  Eq,
  TA,
  DivAnn,
  FSales,
  FOP,
  FNP,
  FEPS,
  FDivAnn,
  NxFSales,
  NxFOP,
  NxFNp,
  NxFEPS,
  NxFDivAnn,
  ShOutFY,
  TrShFY,
  // Kept since the valuation figures read them; a file written before has none of them, and
  // they read as not disclosed.
  EqAR,            // equity-to-asset ratio (自己資本比率) as served: a fraction (0.452)
  FOdP,            // ordinary profit forecast, current year
  NxFOdP,          // the same, next year
  PayoutRatioAnn,  // payout ratio (配当性向) as served: a fraction (0.304)
  CFO,             // cash flows from operating, investing and financing activities
  CFI,
  CFF,
  CashEq,      // cash and equivalents at the period end
  DEPS,        // diluted EPS
  AvgSh,       // average shares in the period
  DivUnit,     // a REIT's distribution per unit (actual, current-year and next-year forecast)
  FDivUnit,
  NxFDivUnit,
  CurPerSt,  // the period the figures cover (yyyymmdd): a quarter's from the year's start
  CurPerEn,
  kColumnCount
};

inline constexpr int kFirstValueColumn = Sales;
inline constexpr int kLastValueColumn = NxFDivUnit;

// "DiscDate", "Sales", ...
std::string_view column_name(int col);
// The column of a V2 name, case-insensitive; -1 when it is not one of ours.
int column_of(std::string_view name);
inline bool is_value_column(int col) {
  return col >= kFirstValueColumn && col <= kLastValueColumn;
}
// Date columns are stored as yyyymmdd.
bool is_date_column(int col);

// A disclosed value: the whole text reads as a finite number ("", "-", "null", "1.2x" do not).
bool read_disclosed(std::string_view text, double& value);

struct Disclosure {
  std::array<std::string, kColumnCount> text;  // as stored
  // The value columns read once: has[c] when text[c] is a disclosed number.
  std::array<double, kColumnCount> num{};
  std::bitset<kColumnCount> has;
  std::int32_t date = 0;  // DiscDate as a number

  const std::string& operator[](int col) const { return text[static_cast<std::size_t>(col)]; }
  // Sets a column from text (dates normalised, anything unprintable dropped) and reads it.
  void set(int col, std::string_view value);
  // The same for a field read back from our own file: taken as it is when it is clean.
  void set_stored(int col, std::string_view value);
  bool disclosed(int col) const { return has[static_cast<std::size_t>(col)]; }
  double value(int col) const { return num[static_cast<std::size_t>(col)]; }
  // An FY results disclosure: DocType starts with "FYFinancialStatements" (a forecast revision
  // with CurPerType "FY" is not one).
  bool is_fy_results() const;
};

// Orders disclosures by (DiscDate, DiscNo), DiscNo compared as a number of any length.
bool disclosure_before(const Disclosure& a, const Disclosure& b);

// db_folder + "fins/" and the stock's file in it.
std::string fins_folder(const std::string& db_folder);
std::string fins_file_path(const std::string& db_folder, std::string_view code);

// Reads one stock's file; columns are found by their header names, so a file from a later
// version with more columns still reads, and a UTF-8 BOM before the header is skipped.
// `damaged`: a file with no header naming DiscDate, or with a line that is no disclosure.
enum class FileState { ok, missing, damaged };
FileState read_fins_file_state(const std::string& path, std::vector<Disclosure>& out);
// The same for readers: false (and `out` empty) when the file is missing or damaged.
bool read_fins_file(const std::string& path, std::vector<Disclosure>& out);
// The file's bytes: header, then the disclosures as given (sorted by the caller).
std::string fins_file_bytes(const std::vector<Disclosure>& list);

// Merges `incoming` into `kept` (both any order): a disclosure already kept (the same DiscNo,
// or without one the same DiscDate, DiscTime, DocType, CurPerType and CurFYEn) is replaced by
// the newer copy, the result sorted. Returns the number of disclosures not seen before.
int merge_disclosures(std::vector<Disclosure>& kept, const std::vector<Disclosure>& incoming);

struct StoreStats {
  int disclosures = 0;  // offered
  int added = 0;        // not seen before
  int files_written = 0;
  // Stocks whose file could not be read: moved aside as "<code>.csv.bad-YYYYMMDDhhmmss" (never
  // overwritten) and started anew; one warning line each.
  std::vector<std::string> moved_aside;
  std::vector<std::string> warnings;
};

// Stores disclosures of any stocks into the database: per stock, its file is read, merged and
// replaced atomically, all under the lock of the fins folder, so two writers never lose each
// other's lines. Disclosures without a database code or date are skipped. False with `error`
// (Japanese) when a file cannot be written; the files written before stay (each is whole).
// `stamp` (yyyymmddhhmmss) names a damaged file moved aside; empty: the system clock's.
bool store_disclosures(const std::string& db_folder, const std::vector<Disclosure>& incoming,
                       StoreStats& stats, std::string& error, const std::string& stamp = {});

// Every stock's disclosures read once, for runs over many stocks and many days (a backtest).
class FinsTable {
 public:
  static std::shared_ptr<FinsTable> load(const std::string& db_folder);
  // The table of db_folder kept for the process and read again only when the fins folder has
  // changed since (every writer renames into it, which changes the folder's time): runs over
  // every stock look figures up instead of reading 4000 files each time. Never null.
  static std::shared_ptr<const FinsTable> shared(const std::string& db_folder);
  // Sorted, empty when the stock has no file.
  const std::vector<Disclosure>& of(std::string_view code) const;
  bool empty() const { return by_code_.empty(); }
  std::size_t size() const { return by_code_.size(); }

 private:
  std::unordered_map<std::string, std::vector<Disclosure>> by_code_;
};

// True when the database holds any results summary (the fins folder has a stock file).
bool database_has_fins(const std::string& db_folder);

}  // namespace lp::fins
