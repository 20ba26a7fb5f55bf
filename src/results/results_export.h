// Export of the result list, in the order the results window holds it, to a spreadsheet:
// .xlsx (numbers as numbers, dates as dates, a bold frozen caption row) or .csv (UTF-8 with a
// byte order mark so that Excel reads it right, or CP932). The file is replaced atomically.
#pragma once

#include <string>

#include "results/results_model.h"
#include "results/results_valuation.h"

namespace lp {

enum class ExportFormat { xlsx, csv_utf8, csv_cp932 };

struct ExportOptions {
  ExportFormat format = ExportFormat::xlsx;
  std::string screen_name;  // shown in the title row when not empty
  // When given and present: 予想PER, PBR, 利回り, 時価総額(億円) after the other columns.
  const ValuationTable* valuation = nullptr;
};

// The format a file name asks for: ".xlsx" or ".csv" (case-insensitive; `cp932` picks the
// CP932 form of CSV). False for any other name.
bool export_format_for(const std::string& path, bool cp932, ExportFormat& out);

// The column captions of an export: No, ｺｰﾄﾞ, 市場, 銘柄, the value column's caption, the
// day's prices, the previous day's, and 前日比率(%).
std::vector<std::string> export_captions(const ResultTable& table,
                                         const ValuationTable* valuation = nullptr);

// Writes the table; false and a message (the old file left as it was) when it cannot.
bool export_results(const ResultTable& table, const std::string& path, const ExportOptions& options,
                    std::string& error);

}  // namespace lp
