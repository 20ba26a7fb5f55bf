// ボリンジャーバンド: the simple average of n closes with bands at ±1, 2 and 3 population
// standard deviations of the same closes (TA-Lib's BBANDS with an SMA). The chart's σ bands
// (sigma_bands) keep their own rule over gap days.
#pragma once

#include <array>
#include <span>

#include "chart/line.h"

namespace lp::chart {

struct BollingerLines {
  Line mean;
  std::array<Line, 3> upper, lower;  // [0] ±1σ, [1] ±2σ, [2] ±3σ
};

BollingerLines bollinger(std::span<const double> close, int n);

}  // namespace lp::chart
