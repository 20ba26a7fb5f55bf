// The building blocks of the chart's indicators: a line is one value per bar, oldest bar
// first (the order the indicators are defined in), NaN where the indicator is not defined yet.
// The chart and the formula language compute every indicator through these same functions.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

namespace lp::chart {

using Line = std::vector<double>;

inline constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();
inline bool defined(double v) {
  return !std::isnan(v);
}

// The average of the n values ending at each bar; defined once the n values are all defined.
Line simple_average(std::span<const double> in, int n);

// TA-Lib's exponential average: undefined before `seed`, the plain average of the n values
// ending at `seed` there, then e += 2 / (n + 1) * (x - e) bar by bar. Undefined throughout
// when the n values ending at `seed` are not all there.
Line ta_ema(std::span<const double> in, int n, std::size_t seed);

// (highest high + lowest low) / 2 over the n bars ending at each bar: the lines of the
// 一目均衡表 and, without the halving, the range of the stochastics.
struct Extremes {
  Line highest, lowest;
};
Extremes extremes(std::span<const double> high, std::span<const double> low, int n);

}  // namespace lp::chart
