#include "backtest/equity_painter.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPen>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "chart/chart_painter.h"
#include "common/numbers.h"

namespace lp::backtest {

namespace {

// Palette entries of the chart: black, grey, light grey, red (the screen), blue (benchmark).
constexpr int kBlack = 0, kGrey = 8, kLightGrey = 7, kRed = 12, kBlue = 9, kWhite = 15;

QPen pen(int color, double width = 1, Qt::PenStyle style = Qt::SolidLine) {
  QPen p(lp::chart::palette_color(color));
  p.setWidthF(width);
  p.setCosmetic(true);
  p.setStyle(style);
  return p;
}

QString date_label(const std::string& d) {
  return QString::fromStdString(d.substr(0, 4) + "/" + d.substr(4, 2));
}

}  // namespace

void paint_equity(QPainter& painter, const QRectF& rect, const std::vector<EquityPoint>& points,
                  const QString& title, double base) {
  painter.save();
  painter.fillRect(rect, lp::chart::palette_color(kWhite));
  QFont title_font;
  title_font.setPixelSize(std::clamp(static_cast<int>(rect.height() / 35), 11, 18));
  painter.setFont(title_font);
  const double title_h = QFontMetricsF(title_font).height() * 1.6;
  painter.setPen(lp::chart::palette_color(kBlack));
  painter.drawText(QRectF(rect.left() + 8, rect.top(), rect.width() - 16, title_h),
                   Qt::AlignVCenter | Qt::AlignLeft, title);
  const QRectF body(rect.left(), rect.top() + title_h, rect.width(), rect.height() - title_h);
  if (points.empty()) {
    painter.setPen(lp::chart::palette_color(kRed));
    painter.drawText(body, Qt::AlignCenter, QStringLiteral("データがありません。"));
    painter.restore();
    return;
  }
  QFont label_font;
  label_font.setPixelSize(std::clamp(static_cast<int>(rect.height() / 50), 9, 12));
  painter.setFont(label_font);
  const QFontMetricsF fm(label_font);
  const QString widest = QString::fromStdString(format_pattern(99999999, "#,##0"));
  const QRectF plot(body.left() + fm.horizontalAdvance(widest) + 14, body.top() + 8,
                    body.width() - fm.horizontalAdvance(widest) - 28,
                    body.height() - fm.height() * 3 - 16);

  double lo = base, hi = base;
  for (const EquityPoint& p : points) {
    lo = std::min({lo, p.value, p.benchmark});
    hi = std::max({hi, p.value, p.benchmark});
  }
  if (hi - lo < 1) {
    hi += 1;
    lo -= 1;
  }
  const double pad = (hi - lo) * 0.05;
  lo -= pad;
  hi += pad;
  const std::size_t n = points.size();
  auto x_of = [&](std::size_t i) {
    return n < 2 ? plot.center().x() : plot.left() + plot.width() * i / (n - 1);
  };
  auto y_of = [&](double v) { return plot.bottom() - (v - lo) / (hi - lo) * plot.height(); };

  // Value grid: about five round steps.
  const double raw = (hi - lo) / 5;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  const double step = raw / mag < 2 ? 2 * mag : raw / mag < 5 ? 5 * mag : 10 * mag;
  for (double v = std::ceil(lo / step) * step; v <= hi; v += step) {
    painter.setPen(pen(kLightGrey));
    painter.drawLine(QPointF(plot.left(), y_of(v)), QPointF(plot.right(), y_of(v)));
    painter.setPen(lp::chart::palette_color(kBlack));
    const QString text = QString::fromStdString(format_pattern(v, "#,##0"));
    painter.drawText(
        QPointF(plot.left() - fm.horizontalAdvance(text) - 6, y_of(v) + fm.ascent() / 2 - 1), text);
  }
  // Date axis: a tick at the first day of each month, labelled when there is room.
  double last_label_right = -1e9;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && points[i].date.substr(0, 6) == points[i - 1].date.substr(0, 6)) continue;
    const double x = x_of(i);
    painter.setPen(pen(kLightGrey));
    painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    const QString text = date_label(points[i].date);
    if (x > last_label_right + 8 && x + 2 + fm.horizontalAdvance(text) <= rect.right() - 2) {
      painter.setPen(lp::chart::palette_color(kBlack));
      painter.drawText(QPointF(x + 2, plot.bottom() + fm.ascent() + 4), text);
      last_label_right = x + 2 + fm.horizontalAdvance(text);
    }
  }
  painter.setPen(pen(kGrey, 1, Qt::DashLine));
  painter.drawLine(QPointF(plot.left(), y_of(base)), QPointF(plot.right(), y_of(base)));
  painter.setPen(pen(kBlack));
  painter.drawRect(plot);

  QPolygonF curve, bench;
  for (std::size_t i = 0; i < n; ++i) {
    curve << QPointF(x_of(i), y_of(points[i].value));
    bench << QPointF(x_of(i), y_of(points[i].benchmark));
  }
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(pen(kBlue, 1.5));
  painter.drawPolyline(bench);
  painter.setPen(pen(kRed, 2));
  painter.drawPolyline(curve);
  painter.setRenderHint(QPainter::Antialiasing, false);

  // Legend below the axis labels.
  const double ly = plot.bottom() + fm.height() * 2 + 10;
  double lx = plot.left();
  const std::pair<int, QString> legend[] = {{kRed, QStringLiteral("スクリーン")},
                                            {kBlue, QStringLiteral("基準コード")}};
  for (const auto& [color, text] : legend) {
    painter.setPen(pen(color, 2));
    painter.drawLine(QPointF(lx, ly - fm.ascent() / 3), QPointF(lx + 24, ly - fm.ascent() / 3));
    painter.setPen(lp::chart::palette_color(kBlack));
    painter.drawText(QPointF(lx + 30, ly), text);
    lx += 30 + fm.horizontalAdvance(text) + 24;
  }
  painter.restore();
}

void paint_drawdown(QPainter& painter, const QRectF& rect, const AccountResult& result,
                    int label_px) {
  painter.save();
  painter.fillRect(rect, lp::chart::palette_color(kWhite));
  std::vector<double> values, bench;
  bool with_bench = false;
  for (const AccountDay& d : result.days) {
    values.push_back(d.value);
    bench.push_back(d.benchmark);
    with_bench = with_bench || d.has_benchmark;
  }
  const std::vector<double> dd = drawdowns(values), bdd = drawdowns(bench);
  QFont label_font;
  label_font.setPixelSize(label_px > 0 ? label_px
                                        : std::clamp(static_cast<int>(rect.height() / 14), 9, 12));
  painter.setFont(label_font);
  const QFontMetricsF fm(label_font);
  const QString widest = QString::fromStdString(format_pattern(99999999, "#,##0"));
  // The same left and right edges as the equity curves' plot above it.
  const QRectF plot(rect.left() + fm.horizontalAdvance(widest) + 14, rect.top() + fm.height() + 4,
                    rect.width() - fm.horizontalAdvance(widest) - 28,
                    rect.height() - fm.height() * 2 - 8);
  painter.setPen(lp::chart::palette_color(kBlack));
  painter.drawText(QPointF(plot.left(), rect.top() + fm.ascent() + 2),
                   QStringLiteral("ドローダウン（赤：スクリーン　青：基準コード）"));
  double lo = -0.01;
  for (std::size_t i = 0; i < dd.size(); ++i) {
    lo = std::min(lo, dd[i]);
    if (with_bench) lo = std::min(lo, bdd[i]);
  }
  lo *= 1.05;
  const std::size_t n = dd.size();
  auto x_of = [&](std::size_t i) {
    return n < 2 ? plot.center().x() : plot.left() + plot.width() * i / (n - 1);
  };
  auto y_of = [&](double v) { return plot.top() + v / lo * plot.height(); };
  for (int k = 0; k <= 4; ++k) {
    const double v = lo * k / 4;
    painter.setPen(pen(kLightGrey));
    painter.drawLine(QPointF(plot.left(), y_of(v)), QPointF(plot.right(), y_of(v)));
    painter.setPen(lp::chart::palette_color(kBlack));
    const QString text = QString::number(v * 100, 'f', 1) + "%";
    painter.drawText(
        QPointF(plot.left() - fm.horizontalAdvance(text) - 6, y_of(v) + fm.ascent() / 2 - 1), text);
  }
  painter.setPen(pen(kBlack));
  painter.drawRect(plot);
  QPolygonF curve, bcurve;
  for (std::size_t i = 0; i < n; ++i) {
    curve << QPointF(x_of(i), y_of(dd[i]));
    bcurve << QPointF(x_of(i), y_of(bdd[i]));
  }
  painter.setRenderHint(QPainter::Antialiasing, true);
  if (with_bench) {
    painter.setPen(pen(kBlue, 1.2));
    painter.drawPolyline(bcurve);
  }
  painter.setPen(pen(kRed, 1.5));
  painter.drawPolyline(curve);
  painter.restore();
}

std::vector<EquityPoint> account_points(const AccountResult& result) {
  std::vector<EquityPoint> out;
  for (const AccountDay& d : result.days)
    out.push_back({d.date, d.positions, d.value, d.has_benchmark ? d.benchmark : d.value});
  return out;
}

void paint_account(QPainter& painter, const QRectF& rect, const AccountResult& result,
                   const QString& title) {
  const QRectF top(rect.left(), rect.top(), rect.width(), rect.height() * 0.68);
  const QRectF bottom(rect.left(), top.bottom(), rect.width(), rect.height() - top.height());
  paint_equity(painter, top, account_points(result), title, result.params.capital);
  // The equity picture's label size, so that both plots share their left edge.
  const int label_px = std::clamp(static_cast<int>(top.height() / 50), 9, 12);
  if (!result.days.empty()) paint_drawdown(painter, bottom, result, label_px);
}

QByteArray account_png(const AccountResult& result, const QString& title, int width,
                       int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter p(&image);
    paint_account(p, QRectF(0, 0, width, height), result, title);
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

QString equity_title(const std::string& screen, const Params& p) {
  const QString name = screen.empty() ? QStringLiteral("検証（保存していない条件）")
                                      : QStringLiteral("検証 ") + QString::fromStdString(screen);
  return QStringLiteral("%1  %2 - %3  保有%4日  %5日毎")
      .arg(name, QString::fromStdString(p.from), QString::fromStdString(p.to))
      .arg(p.hold)
      .arg(p.every);
}

QString account_title(const std::string& screen, const Params& p, const AccountParams& a) {
  QString text = screen.empty() ? QStringLiteral("検証（保存していない条件）")
                                : QStringLiteral("検証 ") + QString::fromStdString(screen);
  text += QStringLiteral("  %1 - %2  資金%3円  最大%4銘柄")
              .arg(QString::fromStdString(p.from), QString::fromStdString(p.to),
                   QString::fromStdString(format_pattern(a.capital, "#,##0")))
              .arg(a.max_positions);
  if (a.hold > 0) text += QStringLiteral("  保有%1日").arg(a.hold);
  if (a.stop > 0) text += QStringLiteral("  損切%1%").arg(a.stop);
  if (a.target > 0) text += QStringLiteral("  利確%1%").arg(a.target);
  if (a.trail > 0) text += QStringLiteral("  トレール%1%").arg(a.trail);
  return text;
}

QByteArray equity_png(const Result& result, const QString& title, int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  {
    QPainter p(&image);
    paint_equity(p, QRectF(0, 0, width, height), result.equity, title);
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

}  // namespace lp::backtest
