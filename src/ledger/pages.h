// The tables of the portfolio window's ledger pages (「取引」「損益」「成績」), built once here so
// that the window's grids and the .xlsx export show the same cells.
#pragma once

#include <string>
#include <vector>

#include "ledger/ledger.h"

namespace lp::ledger {

enum class CellKind { text, yen, shares, price, percent, date };

struct Cell {
  CellKind kind = CellKind::text;
  std::string text;   // as shown ("1,234", "2024/01/04", "-" for nothing)
  double number = 0;  // the value of a number or date cell (yyyymmdd for a date)
  bool has_number = false;
};

struct Table {
  std::string name;  // the sheet's name
  std::vector<std::string> captions;
  std::vector<std::vector<Cell>> rows;
};

Cell text_cell(std::string text);
Cell yen_cell(std::int64_t yen);
Cell number_cell(CellKind kind, double value);

// 「取引」: every transaction in file order.
Table trades_table(const std::vector<Transaction>& list);
// 「損益」: the holdings by account, the sales of the year, 「年間損益」 by account with the
// year's tax, and the NISA allowance used and left.
Table holdings_table(const PnlReport& r);
Table sales_table(const PnlReport& r);
Table year_table(const PnlReport& r);
Table nisa_table(const PnlReport& r);
// The dividend calendar: 実績 and 予想 by month.
Table dividend_table(const DividendCalendar& c);
// 「成績」: the returns, then the value and both indexes day by day.
Table returns_table(const Performance& p);

// Writes the tables as the sheets of one .xlsx workbook (numbers as numbers with their formats,
// a bold caption row frozen), through a temporary file renamed over `path`. False with a
// message when it cannot (the old file left as it was).
bool export_xlsx(const std::vector<Table>& tables, const std::string& path, std::string& error);

}  // namespace lp::ledger
