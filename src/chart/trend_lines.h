// Trend lines a user draws on the price pane, kept per stock in the user folder
// (user/trendlines/<code>.csv, a line "date,price,date,price" each, oldest end first). They are
// anchored on dates and prices, so they stay on the same days in weekly and monthly bars.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "chart/indicators.h"

namespace lp::chart {

struct TrendLine {
  std::string date1;  // yyyymmdd
  double price1 = 0;
  std::string date2;
  double price2 = 0;
  bool operator==(const TrendLine&) const = default;
};

std::filesystem::path trend_lines_path(const std::string& user_folder, std::string_view code);

// The lines of the file; lines that do not read as two dates and two prices are skipped.
std::vector<TrendLine> read_trend_lines(const std::filesystem::path& path);
// Writes the lines whole (to a temporary file renamed over the old one); no line removes the
// file. False when it cannot be written.
bool write_trend_lines(const std::filesystem::path& path, const std::vector<TrendLine>& lines);

// The bar a date stands on: the oldest bar dated on or after it (a week's or month's bar holds
// its days); 0 for a date after the newest bar or before the oldest.
int bar_of_date(const Bars& bars, std::string_view yyyymmdd);

// A line from bar i1 at price p1 to bar i2 at p2 in the price pane's logical units.
struct Segment {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};
// The index of the line nearest to the logical point (x, y) within `tolerance`, or -1; the
// segments as the pane draws them.
int nearest_segment(const std::vector<Segment>& segments, double x, double y, double tolerance);

}  // namespace lp::chart
