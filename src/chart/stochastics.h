// ストキャスティクス as TA-Lib defines them: fast %K = 100 (C - lowest low) / (highest high -
// lowest low) over n bars (0 when the range is flat), fast %D the simple average of m %K,
// slow %D the simple average of s fast %D. (TA-Lib's STOCH calls these slow %K and slow %D.)
#pragma once

#include <span>

#include "chart/line.h"

namespace lp::chart {

struct StochLines {
  Line k, d, slow_d;
};

StochLines stochastics(std::span<const double> high, std::span<const double> low,
                       std::span<const double> close, int n, int m, int s);

}  // namespace lp::chart
