#include "chart/chart_lines.h"

#include <algorithm>

#include "chart/bollinger.h"
#include "chart/ichimoku.h"
#include "chart/macd.h"
#include "chart/rci.h"
#include "chart/stochastics.h"
#include "pricedb/formats.h"

namespace lp::chart {

TradedBars traded_bars(const Bars& bars) {
  TradedBars t;
  for (int i = bars.count; i >= 1; --i) {
    if (!bars.traded(i)) continue;
    const auto k = static_cast<std::size_t>(i);
    t.open.push_back(bars.open[k]);
    t.high.push_back(bars.high[k]);
    t.low.push_back(bars.low[k]);
    t.close.push_back(bars.close[k]);
    // A volume its source did not give has no value for the average.
    t.volume.push_back(is_unknown_volume(bars.volume[k]) ? kUndefined : bars.volume[k]);
    t.index.push_back(i);
  }
  return t;
}

DaySeries line_on_bars(const TradedBars& t, const Line& line, int shift) {
  DaySeries out;
  const long n = static_cast<long>(t.size());
  if (n == 0) return out;
  const int newest = t.index.back();
  auto index_of = [&](long q) {
    return q < n ? t.index[static_cast<std::size_t>(q)] : newest - static_cast<int>(q - (n - 1));
  };
  const int lowest = shift > 0 ? std::min(1, index_of(n - 1 + shift)) : 1;
  out.first = lowest;
  const int oldest = t.index.front();
  out.points.assign(static_cast<std::size_t>(oldest - lowest + 1), IndicatorPoint{});
  for (long p = 0; p < n && p < static_cast<long>(line.size()); ++p) {
    const double v = line[static_cast<std::size_t>(p)];
    if (!defined(v)) continue;
    const long q = p + shift;
    if (q < 0) continue;
    const int at = index_of(q);
    out.points[static_cast<std::size_t>(at - lowest)] = {v, true};
  }
  return out;
}

IndicatorLines compute_indicator_lines(const Bars& bars, const IndicatorSwitches& on,
                                       const IndicatorParams& p) {
  IndicatorLines out;
  if (!(on.macd || on.stoch || on.rci || on.ichimoku || on.bb || on.vma)) return out;
  const TradedBars t = traded_bars(bars);
  if (on.macd) {
    const MacdLines m = macd(t.close, p.macd_fast, p.macd_slow, p.macd_signal);
    out.macd = line_on_bars(t, m.line);
    out.macd_signal = line_on_bars(t, m.signal);
    out.macd_histogram = line_on_bars(t, m.histogram);
  }
  if (on.stoch) {
    const StochLines s = stochastics(t.high, t.low, t.close, p.stoch_k, p.stoch_d, p.stoch_slow);
    out.stoch_k = line_on_bars(t, s.k);
    out.stoch_d = line_on_bars(t, s.d);
    out.stoch_slow_d = line_on_bars(t, s.slow_d);
  }
  if (on.rci) {
    out.rci_short = line_on_bars(t, rci(t.close, p.rci_short));
    out.rci_long = line_on_bars(t, rci(t.close, p.rci_long));
  }
  if (on.ichimoku) {
    const IchimokuLines l = ichimoku(t.high, t.low, p.tenkan, p.kijun, p.span_b);
    out.tenkan = line_on_bars(t, l.tenkan);
    out.kijun = line_on_bars(t, l.kijun);
    out.span_a = line_on_bars(t, l.span_a, kIchimokuOffset);
    out.span_b = line_on_bars(t, l.span_b, kIchimokuOffset);
    out.chikou = line_on_bars(t, t.close, -kIchimokuOffset);
  }
  if (on.bb) {
    const BollingerLines b = bollinger(t.close, p.bb_period);
    out.bb_mean = line_on_bars(t, b.mean);
    for (std::size_t k = 0; k < 3; ++k) {
      out.bb_upper[k] = line_on_bars(t, b.upper[k]);
      out.bb_lower[k] = line_on_bars(t, b.lower[k]);
    }
  }
  if (on.vma) out.vma = line_on_bars(t, simple_average(t.volume, p.vma_period));
  return out;
}

}  // namespace lp::chart
