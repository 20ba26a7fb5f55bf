// The texts and colours of the chart's two one-row grids and the clipboard form of a grid
// selection.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chart/chart_model.h"

namespace lp::chart {

struct GridCell {
  std::string text;
  PaletteColor color = kBlack;
};

// Headers of MSFlexGrid1 (9 columns) and MSFlexGrid2 (12 columns, the last without a title).
const std::vector<std::string>& grid1_headers();
const std::vector<std::string>& grid2_headers();

// "#,##0.##" without a dangling point: 1234 -> "1,234", 1234.5 -> "1,234.5".
std::string price_text(double value);

// Row 1 of MSFlexGrid2 for the newest day: code, name, date, prices, change, volume, change in
// percent from the previous close and from the open.
std::vector<GridCell> newest_day_summary(const Bars& bars);
// Row 1 of MSFlexGrid1 after a redraw: the newest day (the last two columns empty).
std::vector<GridCell> newest_day_row(const Bars& bars);
// Row 1 of MSFlexGrid1 for the day under the mouse, with the difference from the newest close.
std::vector<GridCell> day_readout(const Bars& bars, int day);

// Cells of a selection as the grid gives them (columns by tabs, rows by CR) turned into
// clipboard text: rows end in CR LF, thousands separators go, tabs become commas.
std::string selection_text(const std::vector<std::vector<std::string>>& rows);
std::string clipboard_text(std::string_view selection);

}  // namespace lp::chart
