#include "chart/indicators.h"

#include <algorithm>
#include <cmath>

#include "common/numbers.h"

namespace lp::chart {

Bars bars_from_series(const Series& series) {
  Bars bars;
  if (series.empty()) return bars;
  const SeriesRecord& head = series[0];
  bars.code = head.d1_code_yyyymmdd;
  bars.name = head.d3;
  long long count = parse_integer(head.d6);
  count = std::clamp<long long>(count, 0, static_cast<long long>(series.size()) - 1);
  bars.count = static_cast<int>(count);
  const std::size_t size = static_cast<std::size_t>(count) + 1;
  bars.date.resize(size);
  bars.open.assign(size, 0);
  bars.high.assign(size, 0);
  bars.low.assign(size, 0);
  bars.close.assign(size, 0);
  bars.volume.assign(size, 0);
  for (std::size_t i = 1; i < size; ++i) {
    const SeriesRecord& r = series[i];
    bars.date[i] = r.d1_code_yyyymmdd;
    bars.open[i] = parse_number(r.d2);
    bars.high[i] = parse_number(r.d3);
    bars.low[i] = parse_number(r.d4);
    bars.close[i] = parse_number(r.d5);
    bars.volume[i] = parse_number(r.d6);
  }
  return bars;
}

namespace {

// The traded days of the window [index, index+period-1]; false when the window is not whole.
bool window_ok(const Bars& bars, int period, int index) {
  if (period < 1 || index < 1) return false;
  return static_cast<long>(index) + period - 1 <= bars.count;
}

template <class F>
DaySeries series_over(int first, int last, F&& f) {
  DaySeries out;
  out.first = first;
  if (last >= first) {
    out.points.reserve(static_cast<std::size_t>(last - first + 1));
    for (int i = first; i <= last; ++i) out.points.push_back(f(i));
  }
  return out;
}

}  // namespace

IndicatorPoint moving_average(const Bars& bars, int period, int index) {
  if (!window_ok(bars, period, index)) return {};
  double sum = 0;
  int traded = 0;
  for (int k = index; k < index + period; ++k) {
    if (bars.traded(k)) {
      sum += bars.close_at(k);
      ++traded;
    }
  }
  if (traded == 0) return {};
  return {sum / traded, true};
}

DaySeries moving_average_series(const Bars& bars, int period, int first, int last) {
  return series_over(first, last, [&](int i) { return moving_average(bars, period, i); });
}

IndicatorPoint standard_deviation(const Bars& bars, int period, int index, IndicatorPoint mean) {
  if (!mean.valid || !window_ok(bars, period, index)) return {};
  double sum = 0;
  int traded = 0;
  for (int k = index; k < index + period; ++k) {
    if (bars.traded(k)) {
      const double d = bars.close_at(k) - mean.value;
      sum += d * d;
      ++traded;
    }
  }
  if (traded == 0) return {};
  return {std::sqrt(sum / traded), true};
}

SigmaBands sigma_bands(const Bars& bars, int period, int first, int last) {
  SigmaBands b;
  b.mean = moving_average_series(bars, period, first, last);
  for (int j = 0; j < 3; ++j) {
    b.upper[static_cast<std::size_t>(j)].first = first;
    b.lower[static_cast<std::size_t>(j)].first = first;
  }
  for (int i = first; i <= last; ++i) {
    const IndicatorPoint m = b.mean.at(i);
    const IndicatorPoint s = standard_deviation(bars, period, i, m);
    for (int j = 1; j <= 3; ++j) {
      IndicatorPoint up, down;
      if (m.valid && s.valid) {
        up = {m.value + j * s.value, true};
        down = {m.value - j * s.value, true};
      }
      b.upper[static_cast<std::size_t>(j - 1)].points.push_back(up);
      b.lower[static_cast<std::size_t>(j - 1)].points.push_back(down);
    }
  }
  return b;
}

IndicatorPoint rsi(const Bars& bars, int period, int index) {
  if (index < 1 || period < 1) return {};
  // A window that reaches past the oldest day is cut at the last pair the series still has.
  const long wanted_end = static_cast<long>(index) + period - 1;
  const long end = bars.count >= wanted_end + 1 ? wanted_end : bars.count - 1L;
  double up = 0, down = 0;
  int pairs = 0;
  for (long k = index; k <= end; ++k) {
    const int day = static_cast<int>(k);
    if (!bars.traded(day) || !bars.traded(day + 1)) continue;
    const double d = bars.close_at(day) - bars.close_at(day + 1);
    if (d > 0) up += d;
    if (d < 0) down -= d;
    ++pairs;
  }
  if (pairs == 0 || up + down <= 0) return {};
  return {100.0 * up / (up + down), true};
}

DaySeries rsi_series(const Bars& bars, int period, int first, int last) {
  return series_over(first, last, [&](int i) { return rsi(bars, period, i); });
}

DaySeries alg1_signal(const Bars& bars, const DaySeries& ma1, const DaySeries& ma2, int first,
                      int last) {
  return series_over(first, last, [&](int i) -> IndicatorPoint {
    // The newest..second-oldest days carry a signal; the oldest has no day before it.
    if (i < 1 || i > bars.count - 1) return {};
    const IndicatorPoint a1 = ma1.at(i), a1p = ma1.at(i + 1);
    const IndicatorPoint a2 = ma2.at(i), a2p = ma2.at(i + 1);
    if (!bars.traded(i) || !a1.valid || !a1p.valid || !a2.valid || !a2p.valid) return {0, true};
    const double gap = a2.value - a1.value;
    const double gap_before = a2p.value - a1p.value;
    const bool on = gap > 0 && gap_before > 0 && gap_before - gap > 0 && a2.value > a2p.value;
    return {on ? 1.0 : 0.0, true};
  });
}

double volume_scale_max(const Bars& bars, int first, int last) {
  double top = 10000;
  for (int i = std::max(first, 1); i <= std::min(last, bars.count); ++i) {
    top = std::max(top, bars.volume[static_cast<std::size_t>(i)]);
  }
  return top;
}

}  // namespace lp::chart
