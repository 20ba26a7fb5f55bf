// The new indicators of the chart (MACD, stochastics, RCI, 一目均衡表, Bollinger bands, the
// volume average) as day series of a chart: computed over the traded bars oldest first with
// the same functions the formula language calls, then placed back on the bars' indices (a bar
// without trading has no value; the lines are drawn across it).
#pragma once

#include <array>
#include <vector>

#include "chart/indicators.h"
#include "chart/line.h"

namespace lp::chart {

// The traded bars oldest first and the bar index each stands on.
struct TradedBars {
  std::vector<double> open, high, low, close, volume;
  std::vector<int> index;
  std::size_t size() const { return close.size(); }
};
TradedBars traded_bars(const Bars& bars);

// A line over the traded bars as a day series, each value drawn `shift` traded bars later
// (negative: earlier). Values shifted past the newest bar stand on the future indices 0, -1,
// ... beyond it; those shifted before the oldest are dropped.
DaySeries line_on_bars(const TradedBars& traded, const Line& line, int shift = 0);

struct IndicatorParams {
  int macd_fast = 12, macd_slow = 26, macd_signal = 9;
  int stoch_k = 9, stoch_d = 3, stoch_slow = 3;
  int rci_short = 9, rci_long = 26;
  int tenkan = 9, kijun = 26, span_b = 52;
  int bb_period = 20;
  int vma_period = 25;
};

// Which of them to compute.
struct IndicatorSwitches {
  bool macd = false, stoch = false, rci = false, ichimoku = false, bb = false, vma = false;
};

struct IndicatorLines {
  DaySeries macd, macd_signal, macd_histogram;
  DaySeries stoch_k, stoch_d, stoch_slow_d;
  DaySeries rci_short, rci_long;
  DaySeries tenkan, kijun, span_a, span_b, chikou;  // spans and 遅行 already shifted
  DaySeries bb_mean;
  std::array<DaySeries, 3> bb_upper, bb_lower;
  DaySeries vma;
};

IndicatorLines compute_indicator_lines(const Bars& bars, const IndicatorSwitches& on,
                                       const IndicatorParams& p);

}  // namespace lp::chart
