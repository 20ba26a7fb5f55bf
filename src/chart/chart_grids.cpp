#include "chart/chart_grids.h"

#include "common/numbers.h"
#include "pricedb/formats.h"

namespace lp::chart {

namespace {

PaletteColor sign_color(double v) {
  if (v > 0) return kLightRed;
  if (v < 0) return kLightBlue;
  return kGreen;
}

const char* const kNoTrade = "-";

// A split-adjusted volume may carry decimals; a whole one shows without a point ("12,345").
std::string volume_text(double v) {
  if (is_unknown_volume(v)) return "不明";  // traded, but the source gave no volume
  std::string t = format_pattern(v, "#,##0.###");
  if (!t.empty() && t.back() == '.') t.pop_back();
  return t;
}

std::string percent_text(double v) {
  return format_pattern(v, "#,##0.00");
}

std::size_t at(int i) {
  return static_cast<std::size_t>(i);
}

}  // namespace

const std::vector<std::string>& grid1_headers() {
  static const std::vector<std::string> h = {"日付",   "始値",   "高値",   "安値",  "終値",
                                             "前日比", "出来高", "価格差", "上下率"};
  return h;
}

const std::vector<std::string>& grid2_headers() {
  static const std::vector<std::string> h = {"ｺｰﾄﾞ", "銘柄",   "日付",   "始値",   "高値",   "安値",
                                             "終値", "前日比", "出来高", "前日率", "同日率", ""};
  return h;
}

std::string price_text(double value) {
  std::string t = format_pattern(value, "#,##0.##");
  if (!t.empty() && t.back() == '.') t.pop_back();
  return t;
}

std::vector<GridCell> newest_day_summary(const Bars& bars) {
  std::vector<GridCell> row(12);
  if (bars.count < 1) return row;
  row[0] = {bars.code, candle_color(bars.open[1], bars.close[1])};
  row[1] = {bars.name, kBlack};
  row[2] = {bars.date[1], kBlack};
  if (!bars.traded(1)) {
    for (std::size_t c = 3; c <= 10; ++c) row[c] = {kNoTrade, kBlack};
    return row;
  }
  row[3] = {price_text(bars.open[1]), kBlack};
  row[4] = {price_text(bars.high[1]), kBlack};
  row[5] = {price_text(bars.low[1]), kBlack};
  row[6] = {price_text(bars.close[1]), kBlack};
  row[8] = {volume_text(bars.volume[1]), kBlack};
  row[7] = row[9] = {kNoTrade, kBlack};
  // 前日比 needs a day 2 that traded; 前日率 only a close on day 2 (a day without volume
  // still has its close).
  if (bars.traded(2)) {
    const double change = bars.close[1] - bars.close[2];
    row[7] = {price_text(change), sign_color(change)};
  }
  if (bars.in_range(2) && bars.close_at(2) > 0) {
    const double pct = (bars.close[1] - bars.close[2]) / bars.close[2] * 100;
    row[9] = {percent_text(pct), sign_color(pct)};
  }
  row[10] = {kNoTrade, kBlack};
  if (bars.open[1] != 0) {
    const double pct = (bars.close[1] - bars.open[1]) / bars.open[1] * 100;
    row[10] = {percent_text(pct), sign_color(pct)};
  }
  return row;
}

std::vector<GridCell> newest_day_row(const Bars& bars) {
  std::vector<GridCell> row(9);
  if (bars.count < 1) return row;
  const std::vector<GridCell> summary = newest_day_summary(bars);
  for (std::size_t c = 0; c <= 6; ++c) row[c] = summary[c + 2];
  return row;
}

std::vector<GridCell> day_readout(const Bars& bars, int day) {
  std::vector<GridCell> row(9);
  if (!bars.in_range(day)) return row;
  const std::size_t k = at(day);
  row[0] = {bars.date[k], kBlack};
  if (!bars.traded(day)) {
    for (std::size_t c = 1; c <= 8; ++c) row[c] = {kNoTrade, kBlack};
    return row;
  }
  row[1] = {price_text(bars.open[k]), kBlack};
  row[2] = {price_text(bars.high[k]), kBlack};
  row[3] = {price_text(bars.low[k]), kBlack};
  row[4] = {price_text(bars.close[k]), kBlack};
  row[5] = {kNoTrade, kBlack};
  if (bars.traded(day + 1)) {
    const double change = bars.close[k] - bars.close[k + 1];
    row[5] = {format_pattern(change, "#,##0"), sign_color(change)};
  }
  row[6] = {volume_text(bars.volume[k]), kBlack};
  row[7] = row[8] = {kNoTrade, kBlack};
  if (bars.traded(1)) {
    const double diff = bars.close[1] - bars.close[k];
    row[7] = {price_text(diff), sign_color(diff)};
    if (bars.close[k] != 0) {
      const double rate = diff * 100 / bars.close[k];
      row[8] = {percent_text(rate), sign_color(rate)};
    }
  }
  return row;
}

std::string selection_text(const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) out += '\r';
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      if (c > 0) out += '\t';
      out += rows[r][c];
    }
  }
  return out;
}

std::string clipboard_text(std::string_view selection) {
  std::string out;
  out.reserve(selection.size() + 8);
  for (char ch : selection) {
    if (ch == '\r') {
      out += "\r\n";
    } else if (ch == ',') {
      continue;
    } else if (ch == '\t') {
      out += ',';
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace lp::chart
