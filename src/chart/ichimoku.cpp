#include "chart/ichimoku.h"

namespace lp::chart {

Line midpoint(std::span<const double> high, std::span<const double> low, int n) {
  Extremes x = extremes(high, low, n);
  for (std::size_t i = 0; i < x.highest.size(); ++i)
    x.highest[i] = (x.highest[i] + x.lowest[i]) / 2;
  return std::move(x.highest);
}

IchimokuLines ichimoku(std::span<const double> high, std::span<const double> low, int tenkan,
                       int kijun, int span_b) {
  IchimokuLines out;
  out.tenkan = midpoint(high, low, tenkan);
  out.kijun = midpoint(high, low, kijun);
  out.span_a.assign(out.tenkan.size(), kUndefined);
  for (std::size_t i = 0; i < out.span_a.size(); ++i)
    out.span_a[i] = (out.tenkan[i] + out.kijun[i]) / 2;
  out.span_b = midpoint(high, low, span_b);
  return out;
}

}  // namespace lp::chart
