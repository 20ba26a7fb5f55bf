#include "chart/bollinger.h"

#include <cmath>

namespace lp::chart {

BollingerLines bollinger(std::span<const double> close, int n) {
  BollingerLines out;
  out.mean = simple_average(close, n);
  for (auto& l : out.upper) l.assign(close.size(), kUndefined);
  for (auto& l : out.lower) l.assign(close.size(), kUndefined);
  const auto w = static_cast<std::size_t>(n > 0 ? n : 1);
  for (std::size_t i = 0; i < close.size(); ++i) {
    const double m = out.mean[i];
    if (!defined(m)) continue;
    // Squares about the mean (two passes): no cancellation on prices far from zero.
    double q = 0;
    for (std::size_t j = i + 1 - w; j <= i; ++j) q += (close[j] - m) * (close[j] - m);
    const double sd = std::sqrt(q / static_cast<double>(w));
    for (std::size_t k = 0; k < 3; ++k) {
      out.upper[k][i] = m + static_cast<double>(k + 1) * sd;
      out.lower[k][i] = m - static_cast<double>(k + 1) * sd;
    }
  }
  return out;
}

}  // namespace lp::chart
