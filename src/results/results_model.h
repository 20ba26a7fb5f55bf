// The screening results as the results window shows them: the result file "sel0_out.csv",
// pages of 25, row colours, display texts, the column sort, stepping and the copy text.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lp {

struct ValuationTable;

// Field k of a line (1-based in the file) is fields[k - 1].
using ResultFields = std::array<std::string, 12>;

// Field numbers of a result line that the window uses.
namespace result_field {
inline constexpr int kCode = 1;
inline constexpr int kMarket = 2;
inline constexpr int kName = 3;
inline constexpr int kExtra = 4;
inline constexpr int kOpen = 5;
inline constexpr int kClose = 8;
inline constexpr int kVolume = 9;
inline constexpr int kPrevClose = 10;
inline constexpr int kPrevVolume = 11;
}  // namespace result_field

struct ResultTable {
  ResultFields header;             // record 0: count, date, "銘柄", extra caption, ...
  std::vector<ResultFields> rows;  // results 1..n as rows[0..n-1]

  int count() const { return static_cast<int>(rows.size()); }
  const std::string& date() const { return header[1]; }
  const std::string& extra_caption() const { return header[3]; }
  // Field k (1-based) of result i (1-based).
  const std::string& field(int i, int k) const { return rows[i - 1][k - 1]; }
};

// Result lines the table holds at most (records 1..6001).
inline constexpr int kMaxResults = 6001;

// Reads "sel0_out.csv" (CP932). The header's count says how many lines follow (at most
// kMaxResults are read); a file that ends early gives the lines actually present, so no blank
// result is ever shown. A missing file gives an empty table and false.
bool read_result_file(const std::string& path, ResultTable& out);

inline constexpr int kRowsPerPage = 25;
inline constexpr int kGridColumns = 6;

// Last page index for n results: floor((n - 1) / 25); -1 when there are none.
int last_page(int n);
// Page list entries " 0", " 1", ... " P".
std::vector<std::string> page_entries(int n);
// The page holding result i (1-based).
inline int page_of(int i) {
  return (i - 1) / kRowsPerPage;
}

enum class RowColour { black, red, green, blue };

struct GridRow {
  int result = 0;  // 1-based result index
  std::array<std::string, kGridColumns> cells;
  RowColour colour = RowColour::black;  // of columns 1..5; column 0 is always black
};

struct GridPage {
  std::array<std::string, kGridColumns> captions;
  std::vector<GridRow> rows;  // grid rows 1..rows.size()
  bool next_enabled = false;
  bool back_enabled = false;
};

// The caption row: "No", "ｺｰﾄﾞ", "銘柄", "終値", "前日比率" and the extra caption.
std::array<std::string, kGridColumns> grid_captions(const ResultTable& table);

// Page p (0-based) as the grid shows it. A page beyond the results is empty.
GridPage fill_page(const ResultTable& table, int p);

// Orders two names: negative, zero or positive. The window passes its ja_JP collation; the
// command line uses compare_japanese_text (the default).
using NameCompare = std::function<int(const std::string&, const std::string&)>;

// The column sort of the grid: double clicks on the same column reverse the direction; the
// first sort (of a column other than 0) is descending. The name column (2) sorts the names as
// text, every other column by its number.
class ResultSorter {
 public:
  // Sorts by the grid column k (0..5, and 6..9 for the company-results columns when
  // `valuation` is given) and returns whether the order is now descending.
  bool sort(ResultTable& table, int column, const NameCompare& names = {},
            const ValuationTable* valuation = nullptr);
  int column() const { return column_; }
  bool descending() const { return descending_; }

 private:
  int column_ = 0;
  bool descending_ = true;
};

// The sort key of result i for a grid column (0 for columns without a key).
double sort_key(const ResultTable& table, int i, int column);
// The exchange sort: each i against every later j, swapping when the later key is greater
// (descending) or smaller (ascending); equal keys never swap. Keys are computed once.
void exchange_sort(ResultTable& table, int column, bool descending);
// The exchange sort over keys computed beforehand (key[i] of result i + 1).
void exchange_by_keys(ResultTable& table, std::vector<double> key, bool descending);
// The same exchange sort of the names (field 3) in the order `names` gives
// (compare_japanese_text when empty).
void exchange_sort_names(ResultTable& table, bool descending, const NameCompare& names = {});

// Stepping with wrap-around: from result i (25 * page + grid row), "▽" (forward) to i + 1
// or back to 1 after n, "△" to i - 1 or round to n before 1. 0 when there are no results.
int step_result(int n, int current, bool forward);

// The clipboard text of a block of cells: cells joined by tabs, rows by CR, then CR -> CR LF,
// thousands separators (every ",") removed and tabs turned into commas.
std::string copy_text(const std::vector<std::vector<std::string>>& cells);

}  // namespace lp
