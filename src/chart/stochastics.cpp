#include "chart/stochastics.h"

#include <algorithm>

namespace lp::chart {

StochLines stochastics(std::span<const double> high, std::span<const double> low,
                       std::span<const double> close, int n, int m, int s) {
  const std::size_t size = std::min({high.size(), low.size(), close.size()});
  StochLines out{Line(size, kUndefined), Line(size, kUndefined), Line(size, kUndefined)};
  if (n < 1 || m < 1 || s < 1) return out;
  const Extremes x = extremes(high.first(size), low.first(size), n);
  for (std::size_t i = 0; i < size; ++i) {
    if (!defined(x.highest[i])) continue;
    const double range = x.highest[i] - x.lowest[i];
    out.k[i] = range > 0 ? 100.0 * (close[i] - x.lowest[i]) / range : 0.0;
  }
  out.d = simple_average(out.k, m);
  out.slow_d = simple_average(out.d, s);
  return out;
}

}  // namespace lp::chart
