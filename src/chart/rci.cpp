#include "chart/rci.h"

#include <algorithm>
#include <numeric>

namespace lp::chart {

double rci_of_window(std::span<const double> window, std::vector<std::size_t>& order) {
  const std::size_t n = window.size();
  if (n < 2) return kUndefined;
  order.resize(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Highest close first.
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return window[a] > window[b]; });
  double sum = 0;
  for (std::size_t r = 0; r < n;) {
    std::size_t end = r + 1;
    while (end < n && window[order[end]] == window[order[r]]) ++end;
    // Ranks r+1 .. end shared: their average.
    const double price_rank = (static_cast<double>(r + 1) + static_cast<double>(end)) / 2.0;
    for (std::size_t j = r; j < end; ++j) {
      const double date_rank = static_cast<double>(n - order[j]);  // newest (last) ranks 1
      const double d = date_rank - price_rank;
      sum += d * d;
    }
    r = end;
  }
  const double nn = static_cast<double>(n);
  return (1.0 - 6.0 * sum / (nn * (nn * nn - 1.0))) * 100.0;
}

Line rci(std::span<const double> close, int n) {
  Line out(close.size(), kUndefined);
  if (n < 2) return out;
  std::vector<std::size_t> scratch;
  const auto w = static_cast<std::size_t>(n);
  for (std::size_t i = w - 1; i < close.size(); ++i) {
    out[i] = rci_of_window(close.subspan(i + 1 - w, w), scratch);
  }
  return out;
}

}  // namespace lp::chart
