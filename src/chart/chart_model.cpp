#include "chart/chart_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "chart/ichimoku.h"
#include "common/numbers.h"

namespace lp::chart {

PaletteColor candle_color(double open, double close) {
  if (close > open) return kLightRed;
  if (close < open) return kLightBlue;
  return kLightGreen;
}

PaneLayout layout_panes(const PaneSwitches& on) {
  PaneLayout layout;
  layout.shown = {
      on.candles || on.ma, on.volume, on.rsi, on.alg1, on.alg2, on.macd, on.stoch, on.rci};
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
  const double v = std::max(n, 1) / plot * (width - xpos - margin_right) + first + 0.5;
  return static_cast<int>(std::floor(v));
}

double PaneGeometry::value_at(double ypos) const {
  const double plot = height - margin_top - margin_bottom;
  return minimum + (height - ypos - margin_bottom) * span / plot;
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
  for (int i = std::max(g.first, 1) + 1; i <= std::min(g.last, bars.count); ++i) {
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

int load_day_count(int period, BarPeriod bars) {
  if (bars == BarPeriod::day) return load_day_count(period);
  const long per_bar = bars == BarPeriod::week ? 5 : 21;
  const long days = (std::clamp(period, 0, kMaxPeriod) + 260L) * per_bar;
  return static_cast<int>(std::min<long>(days, kWholeHistoryDays));
}

int bar_on_or_after(const Bars& bars, std::string_view yyyymmdd) {
  int found = 0;
  for (int i = 1; i <= bars.count; ++i) {
    if (bars.date[static_cast<std::size_t>(i)] >= yyyymmdd) found = i;
  }
  return found;
}

void set_index_days(ChartScene& s, const Bars& index_days) {
  const Bars idx = aggregate_bars(index_days, s.options.bar_period);
  Bars& out = s.index_bars;
  out = Bars{};
  const auto size = static_cast<std::size_t>(s.bars.count) + 1;
  out.count = s.bars.count;
  out.date = s.bars.date;
  out.open.assign(size, 0);
  out.high.assign(size, 0);
  out.low.assign(size, 0);
  out.close.assign(size, 0);
  out.volume.assign(size, 0);
  // Both newest first: walk them together by date.
  int j = 1;
  for (int i = 1; i <= s.bars.count; ++i) {
    const std::string& d = s.bars.date[static_cast<std::size_t>(i)];
    while (j <= idx.count && idx.date[static_cast<std::size_t>(j)] > d) ++j;
    if (j <= idx.count && idx.date[static_cast<std::size_t>(j)] == d && idx.traded(j)) {
      const auto k = static_cast<std::size_t>(i);
      const auto u = static_cast<std::size_t>(j);
      out.open[k] = idx.open[u];
      out.high[k] = idx.high[u];
      out.low[k] = idx.low[u];
      out.close[k] = idx.close[u];
      out.volume[k] = idx.volume[u] > 0 ? idx.volume[u] : 1;
    }
  }
  apply_view(s, s.first, s.n);
}

namespace {

PaneSwitches switches_of(const ChartOptions& o) {
  return {o.candles,       o.ma,   o.volume,          o.rsi,
          o.alg1,          o.alg2, o.indicators.macd, o.indicators.stoch,
          o.indicators.rci};
}

// Bars the newest shown bar may reach into the future: the cloud's 25.
int future_bars(const ChartScene& s) {
  return s.options.indicators.ichimoku ? kIchimokuOffset : 0;
}

}  // namespace

ChartScene build_scene(Bars days, const ChartOptions& options) {
  ChartScene s;
  s.options = options;
  s.layout = layout_panes(switches_of(options));
  s.bars = aggregate_bars(days, options.bar_period);
  s.loaded = s.bars.count > 0;
  const Bars& b = s.bars;
  // Every indicator over every loaded bar: zooming and panning then only move the view.
  if (b.count >= 1) {
    if (options.ma) {
      s.ma1 = moving_average_series(b, options.ma1, 1, b.count);
      s.ma2 = moving_average_series(b, options.ma2, 1, b.count);
    }
    if (options.bands) s.bands = sigma_bands(b, options.band_period, 1, b.count);
    if (options.alg1) s.alg1 = alg1_signal(b, s.ma1, s.ma2, 1, b.count);
    if (options.rsi) s.rsi = rsi_series(b, options.rsi_period, 1, b.count);
    s.lines = compute_indicator_lines(b, options.indicators, options.params);
  }
  const int n = options.view_n > 0 ? options.view_n : std::clamp(options.period, 0, kMaxPeriod);
  s.n = n;
  s.first = 1;
  s.last = std::min(n, b.count);
  if (options.view_n > 0 || options.view_first != 1) {
    apply_view(s, options.view_first, n);
  } else {
    apply_view(s, 1, n);
  }
  return s;
}

ViewLimits view_limits(const ChartScene& s) {
  ViewLimits v;
  v.max_n = std::max({kMinViewBars, s.bars.count, std::clamp(s.options.period, 0, kMaxPeriod)});
  v.min_first = 1 - future_bars(s);
  v.max_first = std::max(1, s.bars.count - kMinViewBars + 1);
  return v;
}

namespace {

void widen(ValueRange& range, const DaySeries& series, int first, int last) {
  include_series(range, series, first, last);
}

}  // namespace

void apply_view(ChartScene& s, int first, int n) {
  const ChartOptions& options = s.options;
  const Bars& b = s.bars;
  // The period's own span stays as it is (also fewer days than the period); a zoom keeps to
  // the limits.
  const bool period_span = first == 1 && n == std::clamp(options.period, 0, kMaxPeriod);
  if (!period_span) {
    const ViewLimits lim = view_limits(s);
    n = std::clamp(n, lim.min_n, lim.max_n);
    first = std::clamp(first, lim.min_first, lim.max_first);
  }
  s.n = n;
  s.first = first;
  s.last = std::min(first + n - 1, b.count);
  s.options.view_first = first;
  s.options.view_n = n;
  s.levels.clear();
  s.ratio.clear();
  s.months.clear();
  s.price_step = 0;

  ValueRange range = price_range(b, s.first, s.last);
  // The scale holds everything the pane draws: a long average or a 3σ band far from the
  // shown prices would otherwise run off the pane.
  if (options.ma) {
    widen(range, s.ma1, s.first, s.last);
    widen(range, s.ma2, s.first, s.last);
  }
  if (options.bands) {
    widen(range, s.bands.mean, s.first, s.last);
    for (const DaySeries& band : s.bands.upper) widen(range, band, s.first, s.last);
    for (const DaySeries& band : s.bands.lower) widen(range, band, s.first, s.last);
  }
  s.index_line = DaySeries{};
  s.relative_line = DaySeries{};
  if (options.topix && s.index_bars.count > 0 && s.last >= std::max(s.first, 1)) {
    // Rebased on the oldest shown bar where both traded.
    int base = 0;
    for (int i = s.last; i >= std::max(s.first, 1); --i) {
      if (b.traded(i) && s.index_bars.traded(i) && s.index_bars.close_at(i) > 0) {
        base = i;
        break;
      }
    }
    if (base > 0) {
      const double stock0 = b.close_at(base), index0 = s.index_bars.close_at(base);
      s.index_line.first = s.relative_line.first = std::max(s.first, 1);
      for (int i = s.index_line.first; i <= s.last; ++i) {
        IndicatorPoint ix, rel;
        if (s.index_bars.traded(i) && s.index_bars.close_at(i) > 0) {
          const double ratio = s.index_bars.close_at(i) / index0;
          ix = {stock0 * ratio, true};
          if (b.traded(i)) rel = {b.close_at(i) / ratio, true};
        }
        s.index_line.points.push_back(ix);
        s.relative_line.points.push_back(rel);
      }
      widen(range, s.index_line, s.first, s.last);
      widen(range, s.relative_line, s.first, s.last);
    }
  }
  const IndicatorLines& l = s.lines;
  if (options.indicators.ichimoku) {
    for (const DaySeries* d : {&l.tenkan, &l.kijun, &l.span_a, &l.span_b, &l.chikou})
      widen(range, *d, s.first, s.last);
  }
  if (options.indicators.bb) {
    widen(range, l.bb_mean, s.first, s.last);
    for (std::size_t k = 0; k < 3; ++k) {
      widen(range, l.bb_upper[k], s.first, s.last);
      widen(range, l.bb_lower[k], s.first, s.last);
    }
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
  indicator_pane(kStochPane, -5, 105);
  indicator_pane(kRciPane, -105, 105);
  // MACD has no fixed scale: its lines in view, symmetric enough to show the zero line.
  double lo = 0, hi = 0;
  for (const DaySeries* d : {&l.macd, &l.macd_signal, &l.macd_histogram}) {
    for (int i = s.first; i <= s.last; ++i) {
      const IndicatorPoint p = d->at(i);
      if (!p.valid) continue;
      lo = std::min(lo, p.value);
      hi = std::max(hi, p.value);
    }
  }
  if (hi - lo <= 0) hi = lo + 1;
  s.macd_min = lo;
  s.macd_max = hi;
  // A span of the lines' own size: MACD values are prices' differences, often below 1.
  s.pane[kMacdPane] = PaneGeometry::make(kPaneHeightTwips[kMacdPane], s.n, s.last, lo, hi, hi - lo);
  for (auto& g : s.pane) g.first = s.first;
  if (!s.loaded || s.last < std::max(s.first, 1)) return;

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
}

namespace {

std::string value_text(double v, const char* pattern = "#,##0.##") {
  return format_pattern(v, pattern);
}

void add_value(std::string& out, const char* name, const DaySeries& d, int i,
               const char* pattern = "#,##0.##") {
  const IndicatorPoint p = d.at(i);
  if (!p.valid) return;
  out += std::string("  ") + name + " " + value_text(p.value, pattern);
}

std::string slash_date(const std::string& d) {
  if (d.size() != 8) return d;
  return d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2);
}

}  // namespace

EventStrip event_strip(const PaneGeometry& g) {
  const PaneGeometry::Area a = g.plot_area();
  return {a.bottom - (a.bottom - a.top) * 0.09, a.bottom};
}

const EventMark* event_at(const ChartScene& s, double x, double y, double tolerance) {
  const PaneGeometry& g = s.pane[kPricePane];
  const EventStrip strip = event_strip(g);
  if (y < strip.top - tolerance || y > g.height) return nullptr;
  const EventMark* best = nullptr;
  double best_d = tolerance;
  for (const EventMark& m : s.events) {
    if (m.bar < s.first || m.bar > s.last) continue;
    const double d = std::fabs(g.x(m.bar) - x);
    if (d <= best_d) {
      best = &m;
      best_d = d;
    }
  }
  return best;
}

std::vector<Segment> trend_segments(const ChartScene& s) {
  std::vector<Segment> out;
  const PaneGeometry& g = s.pane[kPricePane];
  for (const TrendLine& l : s.trend_lines) {
    const int a = bar_of_date(s.bars, l.date1), b = bar_of_date(s.bars, l.date2);
    if (a == 0 || b == 0 || s.price_range_empty) {
      out.push_back({});
      continue;
    }
    out.push_back({g.x(a), g.y(l.price1), g.x(b), g.y(l.price2)});
  }
  return out;
}

std::string pane_readout(const ChartScene& s, int pane, int i) {
  if (!s.loaded || pane < 0 || pane >= kPaneCount ||
      !s.layout.shown[static_cast<std::size_t>(pane)])
    return {};
  const Bars& b = s.bars;
  const bool future = i < 1 && i >= 1 - kIchimokuOffset && s.options.indicators.ichimoku;
  if (!b.in_range(i) && !future) return {};
  std::string out = b.in_range(i) ? slash_date(b.date[static_cast<std::size_t>(i)]) : "(先行)";
  const IndicatorLines& l = s.lines;
  const IndicatorParams& q = s.options.params;
  const auto k = static_cast<std::size_t>(b.in_range(i) ? i : 0);
  switch (pane) {
    case kPricePane:
      if (b.traded(i)) {
        out += "  始 " + value_text(b.open[k]) + "  高 " + value_text(b.high[k]) + "  安 " +
               value_text(b.low[k]) + "  終 " + value_text(b.close[k]);
      }
      if (s.options.ma) {
        add_value(out, ("MA" + std::to_string(s.options.ma1)).c_str(), s.ma1, i);
        add_value(out, ("MA" + std::to_string(s.options.ma2)).c_str(), s.ma2, i);
      }
      if (s.options.indicators.ichimoku) {
        add_value(out, "転換線", l.tenkan, i);
        add_value(out, "基準線", l.kijun, i);
        add_value(out, "先行1", l.span_a, i);
        add_value(out, "先行2", l.span_b, i);
        add_value(out, "遅行", l.chikou, i);
      }
      if (s.options.indicators.bb) {
        add_value(out, ("BB" + std::to_string(q.bb_period)).c_str(), l.bb_mean, i);
        add_value(out, "+2σ", l.bb_upper[1], i);
        add_value(out, "-2σ", l.bb_lower[1], i);
      }
      if (s.options.topix) {
        add_value(out, "TOPIX", s.index_line, i);
        add_value(out, "相対", s.relative_line, i);
      }
      break;
    case kVolumePane:
      if (b.traded(i)) out += "  出来高 " + value_text(b.volume[k], "#,##0");
      if (s.options.indicators.vma)
        add_value(out, ("出来高MA" + std::to_string(q.vma_period)).c_str(), l.vma, i, "#,##0");
      break;
    case kRsiPane:
      add_value(out, ("RSI" + std::to_string(s.options.rsi_period)).c_str(), s.rsi, i, "0.0");
      break;
    case kAlg1Pane:
      add_value(out, "ALG1", s.alg1, i, "0");
      break;
    case kMacdPane:
      add_value(out, "MACD", l.macd, i, "0.###");
      add_value(out, "シグナル", l.macd_signal, i, "0.###");
      add_value(out, "ヒストグラム", l.macd_histogram, i, "0.###");
      break;
    case kStochPane:
      add_value(out, "%K", l.stoch_k, i, "0.0");
      add_value(out, "%D", l.stoch_d, i, "0.0");
      add_value(out, "Slow%D", l.stoch_slow_d, i, "0.0");
      break;
    case kRciPane:
      add_value(out, ("RCI" + std::to_string(q.rci_short)).c_str(), l.rci_short, i, "0.0");
      add_value(out, ("RCI" + std::to_string(q.rci_long)).c_str(), l.rci_long, i, "0.0");
      break;
    default:
      break;
  }
  return out;
}

void zoom_view(ChartScene& s, double factor, int anchor) {
  if (!(factor > 0)) return;
  const ViewLimits lim = view_limits(s);
  const int n = std::clamp(static_cast<int>(std::lround(s.n * factor)), lim.min_n, lim.max_n);
  if (n == s.n) return;
  // The anchor bar keeps its place: its share of the view from the right stays the same.
  anchor = std::clamp(anchor, s.first, s.first + s.n - 1);
  const double share = static_cast<double>(anchor - s.first) / std::max(s.n, 1);
  const int first = anchor - static_cast<int>(std::lround(share * n));
  apply_view(s, first, n);
}

void pan_view(ChartScene& s, int bars) {
  if (bars == 0) return;
  apply_view(s, s.first + bars, s.n);
}

}  // namespace lp::chart
