// Criteria 2 and 3: where the lowest low of a recent period lies.
#pragma once

#include <cstdint>

#include "screening/criteria/criterion.h"

namespace lp::screening {

// The starting value of a lowest-low search; a stock without a positive low keeps it.
constexpr std::int64_t kNoLow = 100000000;

struct LowestDay {
  int day = 0;                // 1 = newest day; 0 when no traded day had a positive low
  std::int64_t low = kNoLow;  // the lowest low, rounded to whole yen
};

// Criterion 2: over days 1..min(loaded, days) with volume > 0, the lowest positive low
// (rounded half to even) and the newest day that made it (only a strictly lower low
// replaces the minimum, so an equal low on an older day does not move it).
LowestDay lowest_traded_low(const SeriesNumbers& series, int days);

// Criterion 3: the lowest positive low of days 1..min(loaded, days); the volume is not
// looked at (a gap day's empty low reads 0 and is ignored). kNoLow when there is none.
std::int64_t lowest_low(const SeriesNumbers& series, int days);

// Criterion 3: (price - low) / low * 100, the difference taken in whole yen.
double rise_from_low(std::int64_t price, std::int64_t low);

}  // namespace lp::screening
