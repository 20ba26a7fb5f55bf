#include "chart/chart_painter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPen>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <limits>

#include "common/numbers.h"
#include "pricedb/formats.h"

namespace lp::chart {

QColor palette_color(int index) {
  static const QColor kPalette[16] = {
      {0, 0, 0},     {0, 0, 128},     {0, 128, 0},     {0, 128, 128},   {128, 0, 0}, {128, 0, 128},
      {128, 128, 0}, {192, 192, 192}, {128, 128, 128}, {0, 0, 255},     {0, 255, 0}, {0, 255, 255},
      {255, 0, 0},   {255, 0, 255},   {255, 255, 0},   {255, 255, 255},
  };
  return kPalette[std::clamp(index, 0, 15)];
}

namespace {

// Logical pane coordinates to device coordinates.
class PaneMapper {
 public:
  PaneMapper(const QRectF& rect, const PaneGeometry& g) : rect_(rect), g_(g) {}
  double dx(double lx) const { return rect_.left() + lx / g_.width * rect_.width(); }
  double dy(double ly) const { return rect_.top() + ly / g_.height * rect_.height(); }
  QPointF day(int index, double value) const { return {dx(g_.x(index)), dy(g_.y(value))}; }
  double value_y(double value) const { return dy(g_.y(value)); }
  const PaneGeometry& g() const { return g_; }
  const QRectF& rect() const { return rect_; }
  QRectF plot_rect() const {
    const PaneGeometry::Area a = g_.plot_area();
    return QRectF(QPointF(dx(a.left), dy(a.top)), QPointF(dx(a.right), dy(a.bottom)));
  }

 private:
  QRectF rect_;
  const PaneGeometry& g_;
};

QPen pen(int color, double width = 1) {
  QPen p(palette_color(color));
  p.setWidthF(width);
  p.setCosmetic(true);
  p.setCapStyle(Qt::FlatCap);
  return p;
}

QFont label_font(double pane_height_px) {
  QFont f;
  f.setPixelSize(std::clamp(static_cast<int>(pane_height_px / 18), 9, 12));
  return f;
}

// Keeps a line's look with at most four points per pixel column (its first, lowest, highest
// and last point): twenty years of bars on a thousand pixels draw as fast as four years.
class ColumnThinner {
 public:
  explicit ColumnThinner(QPolygonF& out) : out_(out) {}
  ~ColumnThinner() { flush(); }
  ColumnThinner(const ColumnThinner&) = delete;
  ColumnThinner& operator=(const ColumnThinner&) = delete;
  void add(const QPointF& pt) {
    const double col = std::floor(pt.x());
    if (count_ == 0 || col != col_) {
      flush();
      col_ = col;
      first_ = lo_ = hi_ = last_ = pt;
      count_ = 1;
      return;
    }
    if (pt.y() < lo_.y()) lo_ = pt;
    if (pt.y() > hi_.y()) hi_ = pt;
    last_ = pt;
    ++count_;
  }
  void flush() {
    if (count_ == 0) return;
    out_ << first_;
    if (count_ > 1) out_ << lo_ << hi_ << last_;
    count_ = 0;
  }

 private:
  QPolygonF& out_;
  double col_ = 0;
  int count_ = 0;
  QPointF first_, lo_, hi_, last_;
};

// Segments between consecutive valid points; an invalid point breaks the line.
void draw_series(QPainter& p, const PaneMapper& m, const DaySeries& s, int first, int last,
                 int color) {
  p.setPen(pen(color));
  QPolygonF run;
  {
    ColumnThinner thin(run);
    for (int i = first; i <= last; ++i) {
      const IndicatorPoint pt = s.at(i);
      if (!pt.valid) {
        thin.flush();
        if (run.size() >= 2) p.drawPolyline(run);
        run.clear();
        continue;
      }
      thin.add(m.day(i, pt.value));
    }
  }
  if (run.size() >= 2) p.drawPolyline(run);
}

// A line through the valid points: a bar without trading (no value) is stepped over, so an
// illiquid stock's lines stay whole.
void draw_line(QPainter& p, const PaneMapper& m, const DaySeries& s, int first, int last,
               const QColor& color, double width = 1) {
  QPen pn(color);
  pn.setWidthF(width);
  pn.setCosmetic(true);
  p.setPen(pn);
  QPolygonF run;
  {
    ColumnThinner thin(run);
    for (int i = first; i <= last; ++i) {
      const IndicatorPoint pt = s.at(i);
      if (pt.valid) thin.add(m.day(i, pt.value));
    }
  }
  if (run.size() >= 2) p.drawPolyline(run);
}

// The cloud between the two 先行スパン: shaded light red where span 1 lies above, light blue
// where below; each stretch of one sign is one polygon.
void draw_cloud(QPainter& p, const PaneMapper& m, const DaySeries& a, const DaySeries& b, int first,
                int last) {
  p.save();
  p.setPen(Qt::NoPen);
  QPolygonF upper, lower;
  int sign = 0;
  auto flush = [&] {
    if (upper.size() >= 2) {
      QPolygonF poly = upper;
      for (auto it = lower.rbegin(); it != lower.rend(); ++it) poly << *it;
      p.setBrush(sign > 0 ? QColor(255, 160, 160, 90) : QColor(150, 170, 255, 90));
      p.drawPolygon(poly);
    }
    upper.clear();
    lower.clear();
  };
  for (int i = first; i <= last; ++i) {
    const IndicatorPoint a0 = a.at(i), b0 = b.at(i);
    if (!a0.valid || !b0.valid) {
      flush();
      continue;
    }
    const int now = a0.value >= b0.value ? 1 : -1;
    if (now != sign && !upper.isEmpty()) {
      // The stretch ends on this bar, so the two shades meet without a gap.
      upper << m.day(i, a0.value);
      lower << m.day(i, b0.value);
      flush();
    }
    sign = now;
    upper << m.day(i, a0.value);
    lower << m.day(i, b0.value);
  }
  flush();
  p.restore();
}

// Bars drawn one pixel column at a time when there are more bars than columns: each column
// a line from the lowest to the highest value of its bars, in the colour `color_of` gives
// the column's newest and oldest bar.
template <class Range, class Color>
void dense_columns(QPainter& p, const PaneMapper& m, int first, int last, Range&& range,
                   Color&& color_of) {
  double col = 0, lo = 0, hi = 0;
  int newest = 0, oldest = 0;
  bool open = false;
  auto flush = [&] {
    if (!open) return;
    const double top = m.value_y(hi), bottom = m.value_y(lo);
    p.fillRect(QRectF(col, top, 1, std::max(1.0, bottom - top)), color_of(newest, oldest));
    open = false;
  };
  for (int i = first; i <= last; ++i) {
    double v_lo = 0, v_hi = 0;
    if (!range(i, v_lo, v_hi)) continue;
    const double x = std::floor(m.dx(m.g().x(i)));
    if (!open || x != col) {
      flush();
      col = x;
      lo = v_lo;
      hi = v_hi;
      newest = oldest = i;
      open = true;
      continue;
    }
    lo = std::min(lo, v_lo);
    hi = std::max(hi, v_hi);
    oldest = i;
  }
  flush();
}

// More bars than half the plot's pixel columns: the bars are drawn as columns.
bool dense(const PaneMapper& m, const ChartScene& s) {
  return s.n > m.plot_rect().width() / 2;
}

// A dotted horizontal line of single points every 100 logical units.
void dotted_line(QPainter& p, const PaneMapper& m, double value, int color) {
  const PaneGeometry& g = m.g();
  const double y = m.value_y(value);
  QPolygonF dots;
  for (double x = g.width * 0.02; x <= g.width - g.margin_right; x += 100)
    dots << QPointF(m.dx(x), y);
  p.setPen(pen(color));
  p.drawPoints(dots);
}

// Slightly above its level, or just below it where the pane's top edge would cut it off.
void level_label(QPainter& p, const PaneMapper& m, double value, const QString& text) {
  const QFontMetricsF fm(p.font());
  double baseline = m.value_y(value) - 2;
  if (baseline - fm.ascent() < m.rect().top()) baseline = m.value_y(value) + fm.ascent() + 1;
  p.setPen(palette_color(kDarkBlue));
  p.drawText(QPointF(m.rect().left() + 2, baseline), text);
}

// Keeps what is drawn while it lives inside the pane's plotting area.
class PlotClip {
 public:
  PlotClip(QPainter& p, const PaneMapper& m) : p_(p) {
    p_.save();
    p_.setClipRect(m.plot_rect(), Qt::IntersectClip);
  }
  ~PlotClip() { p_.restore(); }
  PlotClip(const PlotClip&) = delete;
  PlotClip& operator=(const PlotClip&) = delete;

 private:
  QPainter& p_;
};

// The ratio of a ratio-scale line in a small font of its colour, at the right end above it.
void ratio_label(QPainter& p, const PaneMapper& m, const RatioLine& line) {
  QFont small = p.font();
  small.setPixelSize(std::max(8, small.pixelSize() - 2));
  p.save();
  p.setFont(small);
  const QFontMetricsF fm(small);
  const QString text = QString::fromStdString(ratio_label(line));
  const QRectF plot = m.plot_rect();
  double baseline = m.value_y(line.value) - 2;
  if (baseline - fm.ascent() < plot.top()) baseline = m.value_y(line.value) + fm.ascent() + 1;
  p.setPen(palette_color(line.color));
  p.drawText(QPointF(plot.right() - fm.horizontalAdvance(text) - 2, baseline), text);
  p.restore();
}

void solid_line(QPainter& p, const PaneMapper& m, double value, int color) {
  const PaneGeometry& g = m.g();
  p.setPen(pen(color));
  const double y = m.value_y(value);
  p.drawLine(QPointF(m.dx(g.margin_left), y), QPointF(m.dx(g.width - g.margin_right), y));
}

// A bar of the given pixel width from one value to another at a day.
void bar(QPainter& p, const PaneMapper& m, int day, double from, double to, int color,
         double width) {
  const QPointF a = m.day(day, from), b = m.day(day, to);
  const double top = std::min(a.y(), b.y());
  const double height = std::max(std::fabs(a.y() - b.y()), 1.0);
  p.fillRect(QRectF(a.x() - width / 2, top, width, height), palette_color(color));
}

QString number_text(double v) {
  return QString::fromStdString(format_pattern(v, "#,##0"));
}

void paint_price(QPainter& p, const PaneMapper& m, const ChartScene& s) {
  const Bars& b = s.bars;
  const PaneGeometry& g = m.g();
  if (!s.price_range_empty) {
    for (std::int64_t level : s.levels) {
      dotted_line(p, m, static_cast<double>(level), kDarkBlue);
      level_label(p, m, static_cast<double>(level), number_text(static_cast<double>(level)));
    }
  }
  const QFontMetricsF fm(p.font());
  // Zoomed out over years the months crowd together: a label only where the one before it
  // (to the right, newer) leaves room, and the lines in one call.
  const double label_w = fm.horizontalAdvance(QStringLiteral("00")) + 6;
  double last_label = std::numeric_limits<double>::infinity();
  QVector<QLineF> month_lines;
  month_lines.reserve(static_cast<int>(s.months.size()));
  for (const MonthMark& mark : s.months) {
    const double x = m.dx(mark.x);
    month_lines << QLineF(QPointF(x, m.rect().top()), QPointF(x, m.rect().bottom()));
  }
  p.setPen(pen(kLightCyan));
  p.drawLines(month_lines);
  p.setPen(palette_color(kDarkBlue));
  for (const MonthMark& mark : s.months) {
    const double x = m.dx(mark.x);
    if (last_label - x < label_w) continue;
    last_label = x;
    p.drawText(QPointF(x + 2, m.rect().bottom() - fm.descent() - 1),
               QString::fromStdString(mark.month));
  }
  if (s.price_range_empty) return;
  const PlotClip clip(p, m);
  for (const RatioLine& line : s.ratio) {
    solid_line(p, m, line.value, line.color);
    ratio_label(p, m, line);
  }
  if (s.options.candles && dense(m, s)) {
    dense_columns(
        p, m, s.first, s.last,
        [&](int i, double& lo, double& hi) {
          if (!b.traded(i)) return false;
          lo = b.low[static_cast<std::size_t>(i)];
          hi = b.high[static_cast<std::size_t>(i)];
          return true;
        },
        [&](int newest, int oldest) {
          return palette_color(candle_color(b.open[static_cast<std::size_t>(oldest)],
                                            b.close[static_cast<std::size_t>(newest)]));
        });
  } else if (s.options.candles) {
    for (int i = s.first; i <= s.last; ++i) {
      if (!b.traded(i)) continue;
      const auto k = static_cast<std::size_t>(i);
      const int color = candle_color(b.open[k], b.close[k]);
      bar(p, m, i, b.low[k], b.high[k], color, 1);
      bar(p, m, i, b.open[k], b.close[k], color, 3);
    }
  }
  if (s.options.ma) {
    draw_series(p, m, s.ma1, s.first, s.last, kLightGreen);
    draw_series(p, m, s.ma2, s.first, s.last, kLightMagenta);
  }
  if (s.options.bands) {
    draw_series(p, m, s.bands.mean, s.first, s.last, kDarkBlue);
    for (int j = 0; j < 3; ++j) {
      draw_series(p, m, s.bands.upper[static_cast<std::size_t>(j)], s.first, s.last, kGrey);
      draw_series(p, m, s.bands.lower[static_cast<std::size_t>(j)], s.first, s.last, kGrey);
    }
  }
  // Event marks at the foot of the plot: 決 (results), 分 (split), 併 (consolidation).
  if (!s.events.empty()) {
    const EventStrip strip = event_strip(g);
    const double bottom = m.dy(strip.bottom);
    const double h = std::clamp(bottom - m.dy(strip.top), 8.0, 14.0);
    const double top = bottom - h;
    QFont small = p.font();
    small.setPixelSize(std::max(7, static_cast<int>(h * 0.8)));
    p.save();
    p.setFont(small);
    for (const EventMark& e : s.events) {
      if (e.bar < s.first || e.bar > s.last) continue;
      const double x = m.dx(g.x(e.bar));
      const QRectF box(x - h / 2, top, h, h);
      p.fillRect(box, e.kind == EventKind::results    ? QColor(255, 200, 0)
                      : e.kind == EventKind::dividend ? QColor(120, 200, 255)
                                                      : QColor(0, 170, 90));
      p.setPen(palette_color(kBlack));
      p.drawText(box, Qt::AlignCenter, QString::fromUtf8(event_sign(e.kind)));
    }
    p.restore();
  }
  // The user's trend lines.
  {
    QPen tp(QColor(200, 0, 120));
    tp.setWidthF(1.5);
    tp.setCosmetic(true);
    p.setPen(tp);
    for (const Segment& seg : trend_segments(s)) {
      if (seg.x1 == 0 && seg.x2 == 0) continue;
      p.drawLine(QPointF(m.dx(seg.x1), m.dy(seg.y1)), QPointF(m.dx(seg.x2), m.dy(seg.y2)));
    }
  }
  if (s.options.topix) {
    draw_line(p, m, s.index_line, s.first, s.last, QColor(110, 110, 110), 1.5);
    draw_line(p, m, s.relative_line, s.first, s.last, QColor(0, 160, 120));
  }
  const IndicatorLines& l = s.lines;
  if (s.options.indicators.ichimoku) {
    draw_cloud(p, m, l.span_a, l.span_b, s.first, s.last);
    draw_line(p, m, l.span_a, s.first, s.last, QColor(220, 80, 80));
    draw_line(p, m, l.span_b, s.first, s.last, QColor(80, 110, 220));
    draw_line(p, m, l.tenkan, s.first, s.last, QColor(230, 120, 0));
    draw_line(p, m, l.kijun, s.first, s.last, QColor(0, 110, 160));
    draw_line(p, m, l.chikou, s.first, s.last, QColor(130, 0, 130));
  }
  if (s.options.indicators.bb) {
    draw_line(p, m, l.bb_mean, s.first, s.last, QColor(90, 90, 90));
    const QColor shades[3] = {QColor(0, 150, 200), QColor(0, 100, 170), QColor(120, 0, 170)};
    for (std::size_t k = 0; k < 3; ++k) {
      draw_line(p, m, l.bb_upper[k], s.first, s.last, shades[k]);
      draw_line(p, m, l.bb_lower[k], s.first, s.last, shades[k]);
    }
  }
  (void)g;
}

void paint_volume(QPainter& p, const PaneMapper& m, const ChartScene& s) {
  const Bars& b = s.bars;
  dotted_line(p, m, 0, kDarkBlue);
  dotted_line(p, m, s.volume_max, kDarkBlue);
  level_label(p, m, s.volume_max, number_text(s.volume_max));
  const auto volume_known = [&](int i) {
    return b.traded(i) && !is_unknown_volume(b.volume[static_cast<std::size_t>(i)]);
  };
  if (dense(m, s)) {
    dense_columns(
        p, m, s.first, s.last,
        [&](int i, double& lo, double& hi) {
          if (!volume_known(i)) return false;  // no bar for no number
          lo = 0;
          hi = b.volume[static_cast<std::size_t>(i)];
          return true;
        },
        [&](int newest, int oldest) {
          return palette_color(candle_color(b.open[static_cast<std::size_t>(oldest)],
                                            b.close[static_cast<std::size_t>(newest)]));
        });
  } else {
    for (int i = s.first; i <= s.last; ++i) {
      const auto k = static_cast<std::size_t>(i);
      if (!volume_known(i)) continue;  // no bar for no number
      bar(p, m, i, 0, b.volume[k], candle_color(b.open[k], b.close[k]), 3);
    }
  }
  if (s.options.indicators.vma) {
    const PlotClip clip(p, m);
    draw_line(p, m, s.lines.vma, s.first, s.last, QColor(230, 120, 0));
  }
}

// A pane's caption at its top left.
void pane_caption(QPainter& p, const PaneMapper& m, double top_value, const QString& text) {
  // Right of the level labels, which the left margin holds.
  p.setPen(palette_color(kDarkBlue));
  p.drawText(
      QPointF(m.plot_rect().left() + 4, m.value_y(top_value) + QFontMetricsF(p.font()).ascent()),
      text);
}

void paint_macd(QPainter& p, const PaneMapper& m, const ChartScene& s) {
  dotted_line(p, m, 0, kDarkBlue);
  const IndicatorParams& q = s.options.params;
  pane_caption(
      p, m, s.macd_max,
      QStringLiteral("MACD %1,%2,%3").arg(q.macd_fast).arg(q.macd_slow).arg(q.macd_signal));
  const PlotClip clip(p, m);
  // The histogram as bars about zero, then the line and its signal.
  const double w = std::max(1.0, m.rect().width() * 0.92 / std::max(s.n, 1) * 0.6);
  const DaySeries& hist = s.lines.macd_histogram;
  if (dense(m, s)) {
    dense_columns(
        p, m, s.first, s.last,
        [&](int i, double& lo, double& hi) {
          const IndicatorPoint h = hist.at(i);
          if (!h.valid) return false;
          lo = std::min(0.0, h.value);
          hi = std::max(0.0, h.value);
          return true;
        },
        [&](int newest, int) {
          return hist.at(newest).value >= 0 ? QColor(255, 150, 150) : QColor(140, 160, 255);
        });
  } else {
    for (int i = s.first; i <= s.last; ++i) {
      const IndicatorPoint h = hist.at(i);
      if (!h.valid) continue;
      const QPointF a = m.day(i, 0), b = m.day(i, h.value);
      p.fillRect(
          QRectF(a.x() - w / 2, std::min(a.y(), b.y()), w, std::max(1.0, std::fabs(a.y() - b.y()))),
          h.value >= 0 ? QColor(255, 150, 150) : QColor(140, 160, 255));
    }
  }
  draw_line(p, m, s.lines.macd, s.first, s.last, QColor(200, 0, 0));
  draw_line(p, m, s.lines.macd_signal, s.first, s.last, QColor(0, 90, 200));
}

void paint_stoch(QPainter& p, const PaneMapper& m, const ChartScene& s) {
  for (int level : {0, 20, 50, 80, 100}) {
    dotted_line(p, m, level, kDarkBlue);
    if (level == 20 || level == 80) level_label(p, m, level, QString::number(level));
  }
  const IndicatorParams& q = s.options.params;
  pane_caption(p, m, 100,
               QStringLiteral("ストキャスティクス %1,%2,%3")
                   .arg(q.stoch_k)
                   .arg(q.stoch_d)
                   .arg(q.stoch_slow));
  const PlotClip clip(p, m);
  draw_line(p, m, s.lines.stoch_k, s.first, s.last, QColor(200, 0, 0));
  draw_line(p, m, s.lines.stoch_d, s.first, s.last, QColor(0, 90, 200));
  draw_line(p, m, s.lines.stoch_slow_d, s.first, s.last, QColor(0, 150, 0));
}

void paint_rci(QPainter& p, const PaneMapper& m, const ChartScene& s) {
  for (int level : {-100, -80, 0, 80, 100}) {
    dotted_line(p, m, level, kDarkBlue);
    if (level == -80 || level == 0 || level == 80) level_label(p, m, level, QString::number(level));
  }
  const IndicatorParams& q = s.options.params;
  pane_caption(p, m, 100, QStringLiteral("RCI %1,%2").arg(q.rci_short).arg(q.rci_long));
  const PlotClip clip(p, m);
  draw_line(p, m, s.lines.rci_short, s.first, s.last, QColor(200, 0, 0));
  draw_line(p, m, s.lines.rci_long, s.first, s.last, QColor(0, 90, 200));
}

void paint_rsi(QPainter& p, const PaneMapper& m, const ChartScene& s) {
  for (int level : {0, 25, 50, 75, 100}) {
    dotted_line(p, m, level, kDarkBlue);
    if (level == 25 || level == 50 || level == 75) level_label(p, m, level, QString::number(level));
  }
  p.setPen(palette_color(kDarkBlue));
  p.drawText(QPointF(m.rect().left() + 2, m.value_y(100) + QFontMetricsF(p.font()).ascent()),
             QStringLiteral("RSI %1").arg(s.options.rsi_period));
  const PlotClip clip(p, m);
  draw_series(p, m, s.rsi, s.first, s.last, kDarkBlue);
}

void paint_alg1(QPainter& p, const PaneMapper& m, const ChartScene& s) {
  dotted_line(p, m, 0, kDarkBlue);
  dotted_line(p, m, 1, kDarkBlue);
  p.setPen(palette_color(kDarkBlue));
  p.drawText(QPointF(m.rect().left() + 2, m.value_y(1) + QFontMetricsF(p.font()).ascent()),
             QStringLiteral("ALG1"));
  const PlotClip clip(p, m);
  draw_series(p, m, s.alg1, s.first, s.last, kLightRed);
}

}  // namespace

void paint_pane(QPainter& painter, const QRectF& rect, const ChartScene& scene, int pane) {
  if (pane < 0 || pane >= kPaneCount) return;
  painter.save();
  painter.setClipRect(rect);
  painter.fillRect(rect, palette_color(kBrightWhite));
  painter.setFont(label_font(rect.height()));
  const PaneGeometry& g = scene.pane[static_cast<std::size_t>(pane)];
  if (scene.loaded && g.has_days()) {
    const PaneMapper m(rect, g);
    switch (pane) {
      case kPricePane:
        paint_price(painter, m, scene);
        break;
      case kVolumePane:
        paint_volume(painter, m, scene);
        break;
      case kRsiPane:
        paint_rsi(painter, m, scene);
        break;
      case kAlg1Pane:
        paint_alg1(painter, m, scene);
        break;
      case kMacdPane:
        paint_macd(painter, m, scene);
        break;
      case kStochPane:
        paint_stoch(painter, m, scene);
        break;
      case kRciPane:
        paint_rci(painter, m, scene);
        break;
      default:
        break;
    }
  }
  painter.setPen(pen(kGrey));
  painter.drawRect(rect.adjusted(0, 0, -1, -1));
  painter.restore();
}

void paint_crosshair(QPainter& painter, const QRectF& rect, const ChartScene& scene, int pane,
                     int bar, bool here, double value, const QString& readout) {
  if (pane < 0 || pane >= kPaneCount || !scene.loaded) return;
  const PaneGeometry& g = scene.pane[static_cast<std::size_t>(pane)];
  if (!g.has_days()) return;
  painter.save();
  painter.setClipRect(rect);
  painter.setFont(label_font(rect.height()));
  const PaneMapper m(rect, g);
  const QRectF plot = m.plot_rect();
  QPen dash(QColor(60, 60, 60));
  dash.setStyle(Qt::DashLine);
  dash.setCosmetic(true);
  painter.setPen(dash);
  const double x = m.dx(g.x(bar));
  painter.drawLine(QPointF(x, rect.top()), QPointF(x, rect.bottom()));
  const QFontMetricsF fm(painter.font());
  auto boxed = [&](const QPointF& at, const QString& text) {
    const QRectF box(at.x(), at.y(), fm.horizontalAdvance(text) + 6, fm.height() + 2);
    painter.fillRect(box, QColor(40, 40, 40));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
  };
  // The date on the time axis (the pane's foot, where the months are marked).
  if (scene.bars.in_range(bar)) {
    const std::string& d = scene.bars.date[static_cast<std::size_t>(bar)];
    const QString date =
        d.size() == 8
            ? QString::fromStdString(d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2))
            : QString::fromStdString(d);
    const double w = fm.horizontalAdvance(date) + 6;
    boxed(QPointF(std::clamp(x - w / 2, rect.left(), rect.right() - w),
                  rect.bottom() - fm.height() - 3),
          date);
  }
  if (here) {
    const double y = m.value_y(value);
    painter.setPen(dash);
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    const char* pattern = std::fabs(g.span) < 20 ? "#,##0.###" : "#,##0.#";
    boxed(QPointF(rect.left() + 1, y - fm.height() / 2 - 1),
          QString::fromStdString(format_pattern(value, pattern)));
  }
  // The read-out line across the top of the pane.
  if (!readout.isEmpty()) {
    const QRectF line(rect.left() + 2, rect.top() + 1, rect.width() - 4, fm.height() + 2);
    painter.fillRect(
        QRectF(line.left(), line.top(), std::min(line.width(), fm.horizontalAdvance(readout) + 8),
               line.height()),
        QColor(255, 255, 235, 230));
    painter.setPen(palette_color(kBlack));
    painter.drawText(line.adjusted(3, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, readout);
  }
  painter.restore();
}

QString chart_title(const ChartScene& scene) {
  const Bars& b = scene.bars;
  QString title = QString::fromStdString(b.code) + QStringLiteral("  ") +
                  QString::fromStdString(b.name) + QStringLiteral("  期間 %1").arg(scene.n);
  if (scene.options.bar_period != BarPeriod::day) {
    title += QStringLiteral("  ") + QString::fromUtf8(bar_period_caption(scene.options.bar_period));
  }
  const int newest = std::max(scene.first, 1);
  if (scene.loaded && scene.last >= newest) {
    title += QStringLiteral("  ") +
             QString::fromStdString(b.date[static_cast<std::size_t>(scene.last)]) +
             QStringLiteral(" - ") +
             QString::fromStdString(b.date[static_cast<std::size_t>(newest)]);
  }
  return title;
}

void paint_chart(QPainter& painter, const QRectF& rect, const ChartScene& scene) {
  painter.save();
  painter.fillRect(rect, palette_color(kBrightWhite));
  QFont title_font;
  title_font.setPixelSize(std::clamp(static_cast<int>(rect.height() / 45), 11, 18));
  painter.setFont(title_font);
  const double title_h = QFontMetricsF(title_font).height() * 1.6;
  painter.setPen(palette_color(kBlack));
  painter.drawText(QRectF(rect.left() + 8, rect.top(), rect.width() - 16, title_h),
                   Qt::AlignVCenter | Qt::AlignLeft, chart_title(scene));
  const QRectF body(rect.left(), rect.top() + title_h, rect.width(), rect.height() - title_h);
  if (!scene.loaded) {
    painter.setPen(palette_color(kLightRed));
    painter.drawText(body, Qt::AlignCenter, QStringLiteral("データがありません。"));
    painter.restore();
    return;
  }
  int total = 0;
  for (int p = 0; p < kPaneCount; ++p) {
    if (scene.layout.shown[static_cast<std::size_t>(p)])
      total += kPaneHeightTwips[static_cast<std::size_t>(p)];
  }
  double top = body.top();
  for (int p = 0; p < kPaneCount && total > 0; ++p) {
    const auto i = static_cast<std::size_t>(p);
    if (!scene.layout.shown[i]) continue;
    const double h = body.height() * kPaneHeightTwips[i] / total;
    paint_pane(painter, QRectF(body.left(), top, body.width(), h), scene, p);
    top += h;
  }
  painter.restore();
}

}  // namespace lp::chart
