// The chart's indicators as pure functions of a loaded series: moving averages, sigma bands,
// RSI and the ALG1 signal. Every window runs over records i .. i+n-1 (day i and the n-1 days
// before it); days without trading (volume 0, gap days included) keep their place in a window
// but are left out of every sum.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "pricedb/series.h"

namespace lp::chart {

// A loaded series as numbers, parsed once per redraw. Index 1 is the newest day, like the
// records of the series; element 0 is unused so indices read the same as record numbers.
struct Bars {
  std::string code, name;
  std::vector<std::string> date;
  std::vector<double> open, high, low, close, volume;
  int count = 0;

  bool in_range(int i) const { return i >= 1 && i <= count; }
  bool traded(int i) const { return in_range(i) && volume[static_cast<std::size_t>(i)] > 0; }
  double close_at(int i) const { return close[static_cast<std::size_t>(i)]; }
};

// Parses the records 1..count of a loaded series (count from d6 of record 0, bounded by the
// records actually present).
Bars bars_from_series(const Series& series);

// A value that is drawn only when valid; an invalid point has value 0.
struct IndicatorPoint {
  double value = 0;
  bool valid = false;
};

// Points for the day indices first, first+1, ...; any other index reads as invalid.
struct DaySeries {
  int first = 1;
  std::vector<IndicatorPoint> points;

  IndicatorPoint at(int index) const {
    const long j = static_cast<long>(index) - first;
    if (j < 0 || j >= static_cast<long>(points.size())) return {};
    return points[static_cast<std::size_t>(j)];
  }
  int last() const { return first + static_cast<int>(points.size()) - 1; }
};

// Average close over the traded days of the n-day window at `index`; the divisor is the number
// of traded days, not n. Invalid when the window reaches past the oldest day or holds no
// traded day.
IndicatorPoint moving_average(const Bars& bars, int period, int index);
DaySeries moving_average_series(const Bars& bars, int period, int first, int last);

// Population standard deviation of the closes of the traded days of the window around the
// window's average `mean`; invalid when the mean is.
IndicatorPoint standard_deviation(const Bars& bars, int period, int index, IndicatorPoint mean);

// The n-day average with bands at 1, 2 and 3 sigma above and below it.
struct SigmaBands {
  DaySeries mean;
  std::array<DaySeries, 3> upper, lower;
};
SigmaBands sigma_bands(const Bars& bars, int period, int first, int last);

// 100 * U / (U + D) over the day-to-day changes inside the window whose two days both
// traded; invalid with no such change or no movement at all.
IndicatorPoint rsi(const Bars& bars, int period, int index);
DaySeries rsi_series(const Bars& bars, int period, int first, int last);

// 1 on a day that traded while MA2 lies above MA1 on that day and the day before, the gap
// narrowed since the day before and MA2 rose; 0 otherwise (also where an average is missing).
// The averages are those drawn for the MA lines; pass empty series when they are off.
DaySeries alg1_signal(const Bars& bars, const DaySeries& ma1, const DaySeries& ma2, int first,
                      int last);

// The volume pane's scale: the largest volume among the shown days, at least 10000.
double volume_scale_max(const Bars& bars, int first, int last);

}  // namespace lp::chart
