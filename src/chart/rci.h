// RCI (順位相関指数): Spearman's rank correlation of the n bars' dates (the newest ranked 1)
// and their closes (the highest ranked 1), in percent: (1 - 6 Σd² / (n (n² - 1))) × 100.
// Tied closes share the average of the ranks they span (two closes for 2nd and 3rd both rank
// 2.5). Defined for n ≥ 2 from bar n-1 on.
#pragma once

#include <span>
#include <vector>

#include "chart/line.h"

namespace lp::chart {

Line rci(std::span<const double> close, int n);

// The RCI of exactly the closes given, oldest first (the formula's one-day form); NaN for
// fewer than two closes.
double rci_of_window(std::span<const double> window, std::vector<std::size_t>& scratch);

}  // namespace lp::chart
