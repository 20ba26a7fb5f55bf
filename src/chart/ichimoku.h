// 一目均衡表: 転換線 and 基準線 are the midpoints (highest high + lowest low) / 2 of their n
// bars; 先行スパン1 is the mean of the two and 先行スパン2 the midpoint of 52 bars, both drawn
// 26 bars ahead counting the bar itself (the value of bar i is drawn at bar i + 25); 遅行スパン
// is the close drawn 26 bars back (at bar i - 25). The lines here are as computed on each bar;
// the shift is applied where they are drawn or read (senkou_drawn).
#pragma once

#include <span>

#include "chart/line.h"

namespace lp::chart {

// Bars from the bar a 先行スパン is computed on to the bar it is drawn on.
inline constexpr int kIchimokuShift = 26;
inline constexpr int kIchimokuOffset = kIchimokuShift - 1;

struct IchimokuLines {
  Line tenkan, kijun, span_a, span_b;  // span_a, span_b: as computed, not yet shifted
};

IchimokuLines ichimoku(std::span<const double> high, std::span<const double> low, int tenkan,
                       int kijun, int span_b);

// The midpoint of the n bars ending at each bar.
Line midpoint(std::span<const double> high, std::span<const double> low, int n);

// The value a shifted line shows on bar i: the computed value of bar i - 25.
inline double senkou_drawn(const Line& computed, long i) {
  const long j = i - kIchimokuOffset;
  if (j < 0 || j >= static_cast<long>(computed.size())) return kUndefined;
  return computed[static_cast<std::size_t>(j)];
}

}  // namespace lp::chart
