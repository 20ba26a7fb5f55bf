#include "chart/chart_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/numbers.h"

namespace lp::chart {

PaletteColor candle_color(double open, double close) {
  if (close > open) return kLightRed;
  if (close < open) return kLightBlue;
  return kLightGreen;
}

PaneLayout layout_panes(const PaneSwitches& on) {
  PaneLayout layout;
  layout.shown = {on.candles || on.ma, on.volume, on.rsi, on.alg1, on.alg2};
  int top = kPaneStackTopTwips;
  int total = 0;
  for (int p = 0; p < kPaneCount; ++p) {
    const auto i = static_cast<std::size_t>(p);
    if (!layout.shown[i]) continue;
    layout.top_twips[i] = top;
    top += kPaneHeightTwips[i];
    total += kPaneHeightTwips[i];
  }
  layout.window_height_twips = kWindowBaseHeightTwips + total;
  return layout;
}

PaneGeometry PaneGeometry::make(int height_twips, int n, int last, double minimum, double maximum,
                                double span) {
  PaneGeometry g;
  g.n = n;
  g.first = 1;
  g.last = last;
  g.minimum = minimum;
  g.maximum = maximum;
  g.span = span > 0 ? span : 1;
  g.margin_left = g.width * 0.08;
  g.margin_right = g.width * 0.01;
  g.margin_top = g.height * 0.01;
  const double strip = height_twips > 0 ? kLogicalSize / height_twips * 200.0 : 0.0;
  g.margin_bottom = g.height * 0.01 + strip;
  return g;
}

PaneGeometry::Area PaneGeometry::plot_area() const {
  return {margin_left, margin_top, width - margin_right, height - margin_bottom};
}

double PaneGeometry::x(int index) const {
  const double plot = width - margin_left - margin_right;
  return width - (margin_right + plot / std::max(n, 1) * (index - first));
}

double PaneGeometry::y(double value) const {
  const double plot = height - margin_top - margin_bottom;
  return height - (margin_bottom + plot / span * (value - minimum));
}

int PaneGeometry::index_at(double xpos) const {
  const double plot = width - margin_left - margin_right;
  const double v = std::max(n, 1) / plot * (width - xpos - margin_right) + 1.5;
  return static_cast<int>(std::trunc(v));
}

ValueRange price_range(const Bars& bars, int first, int last) {
  ValueRange r;
  double lo = 10000000.0, hi = 0.0;
  for (int i = std::max(first, 1); i <= std::min(last, bars.count); ++i) {
    if (!bars.traded(i)) continue;
    const auto k = static_cast<std::size_t>(i);
    lo = std::min(lo, static_cast<double>(round_half_even(bars.low[k])));
    hi = std::max(hi, static_cast<double>(round_half_even(bars.high[k])));
    r.empty = false;
  }
  if (r.empty) return r;
  r.minimum = lo;
  r.maximum = hi;
  r.span = hi - lo + 1;
  if (r.span < 1) r.span = 1;  // only when every low lies above the starting minimum
  return r;
}

void include_series(ValueRange& range, const DaySeries& series, int first, int last) {
  if (range.empty) return;  // nothing traded is shown: the pane draws nothing
  for (int i = first; i <= last; ++i) {
    const IndicatorPoint p = series.at(i);
    if (!p.valid || !std::isfinite(p.value)) continue;
    range.minimum = std::min(range.minimum, std::floor(p.value));
    range.maximum = std::max(range.maximum, std::ceil(p.value));
  }
  range.span = std::max(1.0, range.maximum - range.minimum + 1);
}

std::int64_t price_step(double span) {
  static constexpr std::int64_t kTable[][2] = {
      {50, 5},
      {100, 10},
      {200, 20},
      {500, 50},
      {1000, 100},
      {2000, 200},
      {5000, 500},
      {10000, 1000},
      {20000, 2000},
      {50000, 5000},
      {100000, 10000},
      {200000, 20000},
      {500000, 50000},
      {1000000, 100000},
      {2000000, 200000},
      {5000000, 500000},
      {10000000, 1000000},
      {20000000, 2000000},
      {40000000, 4000000},
      {80000000, 8000000},
  };
  for (const auto& row : kTable) {
    if (span < static_cast<double>(row[0])) return row[1];
  }
  // Past the table the limits keep doubling, so there are never more than ten levels.
  std::int64_t limit = 160000000, step = 16000000;
  while (span >= static_cast<double>(limit) && limit < (std::int64_t{1} << 60)) {
    limit *= 2;
    step *= 2;
  }
  return step;
}

std::vector<std::int64_t> price_levels(double minimum, double maximum, std::int64_t step) {
  std::vector<std::int64_t> out;
  if (step <= 0 || maximum < minimum) return out;
  const auto from = static_cast<std::int64_t>(std::trunc((minimum - 1) / step)) * step;
  const auto to = static_cast<std::int64_t>(std::trunc((maximum - 1) / step)) * step;
  for (std::int64_t v = from; v <= to; v += step) {
    if (v > minimum && v < maximum) out.push_back(v);
    // Near the top of the range (a damaged price) the next step would overflow and wrap.
    if (v > std::numeric_limits<std::int64_t>::max() - step) break;
  }
  return out;
}

std::vector<MonthMark> month_marks(const Bars& bars, const PaneGeometry& g) {
  std::vector<MonthMark> out;
  for (int i = g.first + 1; i <= std::min(g.last, bars.count); ++i) {
    const std::string& older = bars.date[static_cast<std::size_t>(i)];
    const std::string& newer = bars.date[static_cast<std::size_t>(i - 1)];
    if (older.size() < 6 || newer.size() < 6) continue;
    if (older.compare(0, 6, newer, 0, 6) == 0) continue;
    out.push_back({(g.x(i) + g.x(i - 1)) / 2, newer.substr(4, 2)});
  }
  return out;
}

double ratio_reference(const Bars& bars, bool user_reference_on, double user_reference) {
  if (user_reference_on && user_reference > 0) return user_reference;
  for (int i = 1; i <= bars.count; ++i) {
    if (bars.close_at(i) > 0) return bars.close_at(i);
  }
  return 0;
}

namespace {

// A pane is kLogicalSize units high: more lines than that cannot be told apart.
constexpr int kMaxRatioLines = static_cast<int>(kLogicalSize);

}  // namespace

std::vector<RatioLine> ratio_lines(double reference, double minimum, double maximum) {
  std::vector<RatioLine> out;
  if (!(reference > 0)) return out;
  if (reference >= minimum && reference <= maximum) out.push_back({reference, kGreen, 100});
  // Tenths counted as integers: adding 0.1 again and again drifts (1.2000000000000002).
  // The steps below the range draw nothing and are skipped; a tiny reference under a huge
  // range (a damaged price, a mistyped reference) is capped at the lines a pane can tell
  // apart instead of looping for ever.
  const double first_k = std::max(1.0, std::ceil((minimum / reference - 1.0) * 10.0) - 1.0);
  for (int step = 0; step < kMaxRatioLines; ++step) {
    const double v = reference * (1.0 + (first_k + step) / 10.0);
    if (!(v <= maximum)) break;
    if (v >= minimum) {
      // A damaged reference can put the steps beyond any integer: the label saturates.
      const double tenths = std::min(first_k + step, 1e15);
      out.push_back({v, kOlive, 100 + 10 * static_cast<long long>(tenths)});
    }
  }
  for (int k = 1; k <= 10; ++k) {
    const double v = reference * (1.0 - k / 10.0);
    if (v < minimum) break;
    if (v <= maximum) out.push_back({v, kTeal, 100 - 10 * k});
  }
  return out;
}

int clamp_period(double period) {
  if (!(period >= kMinPeriod)) return kMinPeriod;  // also NaN
  if (period > kMaxPeriod) return kMaxPeriod;
  return static_cast<int>(period);
}

std::string ratio_label(const RatioLine& line) {
  return std::to_string(line.percent) + "%";
}

int load_day_count(int period) {
  return std::min(std::clamp(period, 0, kMaxPeriod) + 260, 5000);
}

ChartScene build_scene(Bars bars, const ChartOptions& options) {
  ChartScene s;
  s.options = options;
  s.layout = layout_panes(
      {options.candles, options.ma, options.volume, options.rsi, options.alg1, options.alg2});
  s.bars = std::move(bars);
  s.loaded = s.bars.count > 0;
  s.n = std::clamp(options.period, 0, kMaxPeriod);
  s.first = 1;
  s.last = std::min(s.n, s.bars.count);
  const Bars& b = s.bars;

  if (s.last >= s.first) {
    if (options.ma) {
      s.ma1 = moving_average_series(b, options.ma1, s.first, s.last);
      s.ma2 = moving_average_series(b, options.ma2, s.first, s.last);
    }
    if (options.bands) s.bands = sigma_bands(b, options.band_period, s.first, s.last);
  }
  ValueRange range = price_range(b, s.first, s.last);
  // The scale holds everything the pane draws: a long average or a 3σ band far from the
  // shown prices would otherwise run off the pane.
  if (options.ma) {
    include_series(range, s.ma1, s.first, s.last);
    include_series(range, s.ma2, s.first, s.last);
  }
  if (options.bands) {
    include_series(range, s.bands.mean, s.first, s.last);
    for (const DaySeries& band : s.bands.upper) include_series(range, band, s.first, s.last);
    for (const DaySeries& band : s.bands.lower) include_series(range, band, s.first, s.last);
  }
  s.price_range_empty = range.empty;
  s.pane[kPricePane] = PaneGeometry::make(kPaneHeightTwips[kPricePane], s.n, s.last, range.minimum,
                                          range.maximum, range.span);
  s.volume_max = volume_scale_max(b, s.first, s.last);
  // Every pane maps its own range with span = maximum - minimum + 1, like the price pane.
  const auto indicator_pane = [&](PaneId p, double minimum, double maximum) {
    s.pane[p] = PaneGeometry::make(kPaneHeightTwips[p], s.n, s.last, minimum, maximum,
                                   maximum - minimum + 1);
  };
  indicator_pane(kVolumePane, 0, s.volume_max);
  indicator_pane(kRsiPane, -5, 105);
  indicator_pane(kAlg1Pane, 0, 1);
  indicator_pane(kAlg2Pane, 0, 1);
  if (!s.loaded || s.last < s.first) return s;

  const PaneGeometry& price = s.pane[kPricePane];
  if (!range.empty) {
    s.price_step = price_step(range.span);
    s.levels = price_levels(range.minimum, range.maximum, s.price_step);
    if (options.ratio) {
      s.ratio = ratio_lines(ratio_reference(b, options.reference_on, options.reference),
                            range.minimum, range.maximum);
    } else if (options.reference_on && options.reference >= range.minimum &&
               options.reference <= range.maximum) {
      // A given reference price (a holding's purchase price) is drawn on its own, without
      // the ratio scale around it.
      s.ratio.push_back({options.reference, kGreen});
    }
  }
  s.months = month_marks(b, price);
  if (options.alg1) s.alg1 = alg1_signal(b, s.ma1, s.ma2, s.first, s.last);
  if (options.rsi) s.rsi = rsi_series(b, options.rsi_period, s.first, s.last);
  return s;
}

}  // namespace lp::chart
