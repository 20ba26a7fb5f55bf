// Criteria 7 (previous-day ratio) and 12 (SEMI ALG day counts).
#pragma once

#include <string_view>

#include "screening/criteria/criterion.h"

namespace lp::screening {

// Criterion 7: both closes rounded to whole yen first; (close - previous) / previous * 100,
// or 0 when either close is below 1 yen.
double previous_day_ratio(std::string_view close, std::string_view previous_close);

// Criterion 12 over days 1..min(loaded, days): K counts the days whose high exceeded the open
// by more than 1 yen, U the days whose open exceeded the low by more than 1 yen. Gap days
// read 0 for every price and never count.
struct SemiCounts {
  int k = 0;
  int u = 0;
};
SemiCounts semi_counts(const SeriesNumbers& series, int days);

}  // namespace lp::screening
