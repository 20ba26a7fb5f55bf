#include "results/results_export.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <filesystem>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"

namespace lp {

namespace {

using namespace result_field;

enum class CellKind { text, number, date, count };

struct Column {
  int field;  // field of the result line; 0 = the result's number, -1 = the previous-day ratio
  CellKind kind;
  double width;
};

// Code and name are text (codes are names of stocks, not quantities); prices and volumes are
// numbers; the value column is judged cell by cell.
const Column kColumns[] = {
    {0, CellKind::count, 6},
    {kCode, CellKind::text, 8},
    {kMarket, CellKind::text, 10},
    {kName, CellKind::text, 26},
    {kExtra, CellKind::number, 14},
    {kOpen, CellKind::number, 10},
    {6, CellKind::number, 10},
    {7, CellKind::number, 10},
    {kClose, CellKind::number, 10},
    {kVolume, CellKind::number, 14},
    {kPrevClose, CellKind::number, 10},
    {kPrevVolume, CellKind::number, 14},
    {-1, CellKind::number, 11},
};

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// A plain decimal number ("-12.5", "300"): nothing the lenient reader would guess at.
bool plain_number(const std::string& s, double& value) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  std::size_t digits = 0, point = 0;
  for (; i < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') {
      ++digits;
    } else if (s[i] == '.' && point == 0) {
      ++point;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  value = parse_number(s);
  return true;
}

// yyyymmdd of a real calendar day.
bool plain_date(const std::string& s, int& y, int& m, int& d) {
  if (s.size() != 8 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  y = std::stoi(s.substr(0, 4));
  m = std::stoi(s.substr(4, 2));
  d = std::stoi(s.substr(6, 2));
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return y >= 1900 && m >= 1 && m <= 12 && d >= 1 && d <= days[m - 1] &&
         !(m == 2 && d == 29 && !((y % 4 == 0 && y % 100 != 0) || y % 400 == 0));
}

bool date_column(const ResultTable& table) {
  return table.extra_caption().find("日付") != std::string::npos;
}

std::string slashed(const std::string& yyyymmdd) {
  return yyyymmdd.substr(0, 4) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(6, 2);
}

// The previous-day ratio in percent as the results grid computes it; false when the day or
// the day before had no trade or there is no previous close.
bool previous_day_ratio(const ResultTable& table, int i, double& ratio) {
  const double close = parse_number(table.field(i, kClose));
  const double prev_close = parse_number(table.field(i, kPrevClose));
  if (parse_number(table.field(i, kVolume)) == 0 ||
      parse_number(table.field(i, kPrevVolume)) == 0 || prev_close == 0) {
    return false;
  }
  ratio = static_cast<double>(round_half_even(close - prev_close)) * 100.0 / prev_close;
  return true;
}

std::string title_text(const ResultTable& table, const ExportOptions& options) {
  std::string t = "銘柄選択結果　最新取引日 ";
  int y, m, d;
  t += plain_date(table.date(), y, m, d) ? slashed(table.date()) : table.date();
  if (!options.screen_name.empty()) t += "　条件 " + options.screen_name;
  return t;
}

bool write_xlsx(const ResultTable& table, const std::string& path, const ExportOptions& options,
                std::string& error) {
  // The library writes to a file name: a temporary file beside the target, made exclusively
  // (no guessable name in a shared folder), renamed over the target when whole, so a failure
  // never leaves half a workbook where the old one was.
  std::filesystem::path temp;
  if (!create_temp_file(path, temp)) {
    error = "「" + path + "」に書き込めません。";
    return false;
  }
  lxw_workbook* wb = workbook_new(temp.c_str());
  if (!wb) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    error = "Excelファイルを作れません。";
    return false;
  }
  std::string sheet_name = table.date().empty() ? "結果" : table.date();
  if (sheet_name.find_first_of("[]:*?/\\") != std::string::npos || cp_count(sheet_name) > 31)
    sheet_name = "結果";
  lxw_worksheet* ws = workbook_add_worksheet(wb, sheet_name.c_str());

  lxw_format* title = workbook_add_format(wb);
  format_set_bold(title);
  format_set_font_size(title, 12);
  lxw_format* caption = workbook_add_format(wb);
  format_set_bold(caption);
  format_set_bottom(caption, LXW_BORDER_THIN);
  format_set_bg_color(caption, 0xDDEBF7);
  lxw_format* date = workbook_add_format(wb);
  format_set_num_format(date, "yyyy/mm/dd");
  lxw_format* volume = workbook_add_format(wb);
  format_set_num_format(volume, "#,##0");
  lxw_format* ratio = workbook_add_format(wb);
  format_set_num_format(ratio, "0.00");

  worksheet_write_string(ws, 0, 0, title_text(table, options).c_str(), title);
  const ValuationTable* valuation =
      options.valuation && options.valuation->shown() ? options.valuation : nullptr;
  const std::vector<std::string> captions = export_captions(table, valuation);
  const bool dates = date_column(table);
  const std::size_t figures = valuation && valuation->present ? kValuationColumns : 0;
  for (std::size_t c = 0; c < captions.size(); ++c) {
    const auto col = static_cast<lxw_col_t>(c);
    worksheet_write_string(ws, 1, col, captions[c].c_str(), caption);
    worksheet_set_column(ws, col, col, c < std::size(kColumns) ? kColumns[c].width : 13, nullptr);
  }
  lxw_format* two = workbook_add_format(wb);
  format_set_num_format(two, "#,##0.00");
  for (int i = 1; i <= table.count(); ++i) {
    const auto row = static_cast<lxw_row_t>(i + 1);
    for (std::size_t c = 0; c < std::size(kColumns); ++c) {
      const Column& k = kColumns[c];
      const auto col = static_cast<lxw_col_t>(c);
      if (k.field == 0) {
        worksheet_write_number(ws, row, col, i, nullptr);
        continue;
      }
      if (k.field == -1) {
        double r = 0;
        if (previous_day_ratio(table, i, r)) worksheet_write_number(ws, row, col, r, ratio);
        continue;
      }
      const std::string& text = table.field(i, k.field);
      double v = 0;
      int y, m, d;
      if (k.kind == CellKind::text || text.empty()) {
        if (!text.empty()) worksheet_write_string(ws, row, col, text.c_str(), nullptr);
      } else if (k.field == kExtra && dates && plain_date(text, y, m, d)) {
        lxw_datetime dt = {y, m, d, 0, 0, 0};
        worksheet_write_datetime(ws, row, col, &dt, date);
      } else if (plain_number(text, v)) {
        const bool is_volume = k.field == kVolume || k.field == kPrevVolume;
        worksheet_write_number(ws, row, col, v, is_volume ? volume : nullptr);
      } else {
        worksheet_write_string(ws, row, col, text.c_str(), nullptr);
      }
    }
    if (valuation && valuation->sectors) {
      const std::string& sector = valuation->sector_of(trim_blanks(table.field(i, kCode)));
      const auto col = static_cast<lxw_col_t>(std::size(kColumns) + figures);
      if (!sector.empty()) worksheet_write_string(ws, row, col, sector.c_str(), nullptr);
    }
    if (valuation && valuation->present) {
      // An undefined figure stays an empty cell, so a spreadsheet's sort and sum skip it.
      const ValuationValues& x = valuation->of(trim_blanks(table.field(i, kCode)));
      for (int k = 0; k < kValuationColumns; ++k) {
        const auto col = static_cast<lxw_col_t>(std::size(kColumns) + static_cast<std::size_t>(k));
        if (x[static_cast<std::size_t>(k)]) {
          worksheet_write_number(ws, row, col, *x[static_cast<std::size_t>(k)],
                                 k == 3 ? volume : two);
        }
      }
    }
  }
  worksheet_freeze_panes(ws, 2, 0);
  worksheet_autofilter(ws, 1, 0, static_cast<lxw_row_t>(std::max(1, table.count() + 1)),
                       static_cast<lxw_col_t>(captions.size() - 1));
  const lxw_error err = workbook_close(wb);
  if (err != LXW_NO_ERROR) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    error = std::string("Excelファイルを作れません: ") + lxw_strerror(err);
    return false;
  }
  if (!commit_temp_file(temp, path, true)) {
    error = "「" + path + "」に書き込めません。";
    return false;
  }
  return true;
}

void csv_field(std::string& out, const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) {
    out += s;
    return;
  }
  out += '"';
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

bool write_csv(const ResultTable& table, const std::string& path, bool cp932,
               const ValuationTable* valuation, std::string& error) {
  std::string text;
  const std::vector<std::string> captions = export_captions(table, valuation);
  for (std::size_t c = 0; c < captions.size(); ++c) {
    if (c) text += ',';
    csv_field(text, captions[c]);
  }
  text += "\r\n";
  const bool dates = date_column(table);
  for (int i = 1; i <= table.count(); ++i) {
    for (std::size_t c = 0; c < std::size(kColumns); ++c) {
      const Column& k = kColumns[c];
      if (c) text += ',';
      if (k.field == 0) {
        text += std::to_string(i);
      } else if (k.field == -1) {
        double r = 0;
        if (previous_day_ratio(table, i, r)) text += format_pattern(r, "0.00");
      } else {
        const std::string& s = table.field(i, k.field);
        int y, m, d;
        // Written yyyy/mm/dd, a date column opens as dates in a spreadsheet.
        csv_field(text, k.field == kExtra && dates && plain_date(s, y, m, d) ? slashed(s) : s);
      }
    }
    if (valuation && valuation->present) {
      const ValuationValues& x = valuation->of(trim_blanks(table.field(i, kCode)));
      for (int k = 0; k < kValuationColumns; ++k) {
        text += ',';
        const auto& v = x[static_cast<std::size_t>(k)];
        if (v) text += format_pattern(*v, k == 3 ? "0" : "0.00");
      }
    }
    if (valuation && valuation->sectors) {
      text += ',';
      csv_field(text, valuation->sector_of(trim_blanks(table.field(i, kCode))));
    }
    text += "\r\n";
  }
  const std::string bytes = cp932 ? utf8_to_cp932(text) : "\xEF\xBB\xBF" + text;
  if (!write_file_atomic(path, bytes, true)) {
    error = "「" + path + "」に書き込めません。";
    return false;
  }
  return true;
}

}  // namespace

bool export_format_for(const std::string& path, bool cp932, ExportFormat& out) {
  const std::string l = lower(path);
  auto ends = [&](const std::string& suffix) {
    return l.size() > suffix.size() &&
           l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (ends(".xlsx")) {
    out = ExportFormat::xlsx;
    return true;
  }
  if (ends(".csv")) {
    out = cp932 ? ExportFormat::csv_cp932 : ExportFormat::csv_utf8;
    return true;
  }
  return false;
}

std::vector<std::string> export_captions(const ResultTable& table,
                                         const ValuationTable* valuation) {
  const std::string extra = table.extra_caption().empty() ? "-" : table.extra_caption();
  std::vector<std::string> captions = {"No",       "ｺｰﾄﾞ",       "市場",       "銘柄", extra,
                                       "始値",     "高値",       "安値",       "終値", "出来高",
                                       "前日引値", "前日出来高", "前日比率(%)"};
  if (valuation && valuation->present) {
    for (const std::string& c : valuation_captions()) captions.push_back(c);
  }
  if (valuation && valuation->sectors) captions.push_back(kSectorCaption);
  return captions;
}

bool export_results(const ResultTable& table, const std::string& path, const ExportOptions& options,
                    std::string& error) {
  if (path.empty()) {
    error = "出力するファイルの名前がありません。";
    return false;
  }
  switch (options.format) {
    case ExportFormat::xlsx:
      return write_xlsx(table, path, options, error);
    case ExportFormat::csv_utf8:
    case ExportFormat::csv_cp932: {
      const ValuationTable* v =
          options.valuation && options.valuation->shown() ? options.valuation : nullptr;
      return write_csv(table, path, options.format == ExportFormat::csv_cp932, v, error);
    }
  }
  return false;
}

}  // namespace lp
