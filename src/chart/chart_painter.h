// Draws a ChartScene with QPainter on any paint device (window panes, images). Uses QtGui
// only, so the headless CLI can draw the same picture the window shows.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>

#include "chart/chart_model.h"

namespace lp::chart {

// An entry of the standard 16-colour palette.
QColor palette_color(int index);

// One pane: its 10000 x 10000 logical system mapped onto `rect`.
void paint_pane(QPainter& painter, const QRectF& rect, const ChartScene& scene, int pane);

// The crosshair over one pane: a vertical line through the bar, the bar's date on the time
// axis at the pane's foot, the read-out line at its top and, on the pane under the pointer
// (`here`), a horizontal line with its value on the scale.
void paint_crosshair(QPainter& painter, const QRectF& rect, const ChartScene& scene, int pane,
                     int bar, bool here, double value, const QString& readout);

// The whole chart on one surface: a title line, then the shown panes stacked in proportion
// to their heights; "データがありません。" when nothing was loaded.
void paint_chart(QPainter& painter, const QRectF& rect, const ChartScene& scene);

// The title of a chart picture: code, name, period and the span of the shown days.
QString chart_title(const ChartScene& scene);

}  // namespace lp::chart
