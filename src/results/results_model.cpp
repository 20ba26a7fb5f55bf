#include "results/results_model.h"

#include "pricedb/stock_code.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <utility>

#include "common/collation.h"
#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "results/results_valuation.h"

namespace lp {

namespace {

constexpr std::string_view kCloseFormat = "#,###,###,###,##0";
constexpr std::string_view kRateFormat = "#,###,###,##0.#0";
constexpr std::string_view kDateFormat = "#######0";
constexpr std::string_view kValueFormat = "#,###,###,##0.##";

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The grid's text of a number. Optional decimals that all drop leave no point behind
// ("12", not "12."), as in the chart's and the portfolio's grids.
std::string shown(double value, std::string_view pattern) {
  std::string text = format_pattern(value, pattern);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

double num(const ResultTable& t, int i, int k) {
  return parse_number(t.field(i, k));
}

}  // namespace

bool read_result_file(const std::string& path, ResultTable& out) {
  out = ResultTable{};
  CsvFile file;
  if (!file.open(path)) return false;
  for (auto& h : out.header) h = cp932_to_utf8(file.next_or_empty());
  const std::int64_t declared = parse_integer(out.header[0]);
  if (declared <= 0) return true;
  // The header count is a promise from another window; a short file must not turn into rows
  // of blank results, so reading stops where the file does.
  // The table holds at most kMaxResults lines whatever the header claims; a damaged count
  // must not fill memory or the quadratic sort with blank records.
  std::string_view first;
  for (std::int64_t i = 0; i < declared && i < kMaxResults && file.next(first); ++i) {
    ResultFields row;
    row[0] = cp932_to_utf8(first);
    for (std::size_t k = 1; k < row.size(); ++k) row[k] = cp932_to_utf8(file.next_or_empty());
    out.rows.push_back(std::move(row));
  }
  return true;
}

int last_page(int n) {
  // floor((n - 1) / 25): no page at all for an empty result.
  return n <= 0 ? -1 : (n - 1) / kRowsPerPage;
}

std::vector<std::string> page_entries(int n) {
  std::vector<std::string> entries;
  for (int p = 0; p <= last_page(n); ++p) entries.push_back(" " + std::to_string(p));
  return entries;
}

std::array<std::string, kGridColumns> grid_captions(const ResultTable& table) {
  return {"No", "ｺｰﾄﾞ", "銘柄", "終値", "前日比率", table.extra_caption()};
}

GridPage fill_page(const ResultTable& table, int p) {
  using namespace result_field;
  GridPage page;
  page.captions = grid_captions(table);
  const int n = table.count();
  const int first = kRowsPerPage * p + 1;
  const int last = std::min(first + kRowsPerPage - 1, n);
  const std::string& caption = table.extra_caption();
  RowColour colour = RowColour::black;
  for (int i = std::max(first, 1); i <= last; ++i) {
    const double open = num(table, i, kOpen);
    const double close = num(table, i, kClose);
    const double volume = num(table, i, kVolume);
    const double prev_close = num(table, i, kPrevClose);
    const double prev_volume = num(table, i, kPrevVolume);
    const auto d1 = round_half_even(close - open);
    const auto d2 = round_half_even(close - prev_close);
    // A day without trades has no candle of its own: it keeps the colour of the row above.
    if (volume > 0) {
      colour = d1 > 0 ? RowColour::red : d1 == 0 ? RowColour::green : RowColour::blue;
    }
    GridRow row;
    row.result = i;
    row.colour = colour;
    row.cells[0] = std::to_string(i);
    row.cells[1] = table.field(i, kCode);
    row.cells[2] = cp_left(table.field(i, kName), 8);
    row.cells[3] = close == 0 ? "-" : shown(close, kCloseFormat);
    // A zero previous close (a listing day) has no ratio rather than a division by zero.
    row.cells[4] = volume != 0 && prev_volume != 0 && prev_close != 0
                       ? shown(static_cast<double>(d2) * 100.0 / prev_close, kRateFormat)
                       : "-";
    const std::string& extra = table.field(i, kExtra);
    // "-" marks a criterion without a value: it stays "-" whatever the column's format.
    if (extra == "-") {
      row.cells[5] = "-";
    } else if (ends_with(caption, "率")) {
      row.cells[5] = shown(parse_number(extra), kRateFormat);
    } else if (ends_with(caption, "日付")) {
      row.cells[5] = shown(parse_number(extra), kDateFormat);
    } else {
      row.cells[5] = shown(parse_number(extra), kValueFormat);
    }
    page.rows.push_back(std::move(row));
  }
  page.next_enabled = last < n;
  page.back_enabled = p >= 1;
  return page;
}

double sort_key(const ResultTable& table, int i, int column) {
  using namespace result_field;
  switch (column) {
    case 1:
    case 2: {
      // Codes order as text, so "130A" sits between "1301" and "1311".
      const double key = code_order_key(table.field(i, kCode));
      return key >= 0 ? key : num(table, i, kCode);
    }
    case 3:
      return num(table, i, kClose);
    case 4: {
      const double prev_close = num(table, i, kPrevClose);
      if (num(table, i, kVolume) == 0 || num(table, i, kPrevVolume) == 0 || prev_close == 0) {
        return 0;
      }
      return (num(table, i, kClose) - prev_close) / prev_close;
    }
    case 5:
      return parse_number(table.field(i, kExtra));
    default:
      return 0;
  }
}

// The exchange sort over precomputed keys: each i against every later j, swapping when the
// later key is greater (descending) or smaller (ascending). Only the records move at the end.
void exchange_by_keys(ResultTable& table, std::vector<double> key, bool descending) {
  const int n = table.count();
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  // The exchange order decides where equal keys land, so it is kept step for step.
  for (int i = 0; i < n; ++i) {
    double a = key[i];
    for (int j = i + 1; j < n; ++j) {
      const double b = key[j];
      if (descending ? b > a : b < a) {
        std::swap(key[i], key[j]);
        std::swap(order[i], order[j]);
        a = b;
      }
    }
  }
  std::vector<ResultFields> sorted;
  sorted.reserve(table.rows.size());
  for (int k : order) sorted.push_back(std::move(table.rows[k]));
  table.rows = std::move(sorted);
}

void exchange_sort(ResultTable& table, int column, bool descending) {
  const int n = table.count();
  std::vector<double> key(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) key[i] = sort_key(table, i + 1, column);
  exchange_by_keys(table, std::move(key), descending);
}

void exchange_sort_names(ResultTable& table, bool descending, const NameCompare& names) {
  const int n = table.count();
  const auto name = [&](int k) -> const std::string& {
    return table.rows[static_cast<std::size_t>(k)][result_field::kName - 1];
  };
  const auto compare = [&](int a, int b) {
    return names ? names(name(a), name(b)) : compare_japanese_text(name(a), name(b));
  };
  // Each name's rank in the collation (equal names share one) is its key: the collation runs
  // n log n times instead of once per exchange step.
  std::vector<int> by_name(static_cast<std::size_t>(n));
  std::iota(by_name.begin(), by_name.end(), 0);
  std::stable_sort(by_name.begin(), by_name.end(), [&](int a, int b) { return compare(a, b) < 0; });
  std::vector<double> key(static_cast<std::size_t>(n));
  double rank = 0;
  for (int k = 0; k < n; ++k) {
    if (k > 0 && compare(by_name[k - 1], by_name[k]) != 0) ++rank;
    key[static_cast<std::size_t>(by_name[k])] = rank;
  }
  exchange_by_keys(table, std::move(key), descending);
}

bool ResultSorter::sort(ResultTable& table, int column, const NameCompare& names,
                        const ValuationTable* valuation) {
  if (column == column_) descending_ = !descending_;
  column_ = column;
  if (column == kGridColumns + kValuationColumns) {
    if (valuation) exchange_sort_sector(table, *valuation, descending_);
  } else if (column >= kGridColumns) {
    if (valuation) exchange_sort_valuation(table, *valuation, column - kGridColumns, descending_);
  } else if (column == 2) {
    exchange_sort_names(table, descending_, names);
  } else {
    exchange_sort(table, column, descending_);
  }
  return descending_;
}

int step_result(int n, int current, bool forward) {
  if (n <= 0) return 0;
  if (forward) return current < n ? std::max(current + 1, 1) : 1;
  return current > 1 ? std::min(current - 1, n) : n;
}

std::string copy_text(const std::vector<std::vector<std::string>>& cells) {
  std::string clip;
  for (std::size_t r = 0; r < cells.size(); ++r) {
    if (r > 0) clip.push_back('\r');
    for (std::size_t c = 0; c < cells[r].size(); ++c) {
      if (c > 0) clip.push_back('\t');
      clip += cells[r][c];
    }
  }
  std::string out;
  out.reserve(clip.size() + cells.size());
  for (char ch : clip) {
    if (ch == '\r') {
      out += "\r\n";
    } else if (ch == ',') {
      continue;
    } else if (ch == '\t') {
      out.push_back(',');
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

}  // namespace lp
