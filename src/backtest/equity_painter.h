// Draws the backtest's equity curves (the screen's trades against the benchmark) with
// QPainter, in the chart's palette and layout. Qt Gui only, so the CLI draws the same picture.
#pragma once

#include <QByteArray>
#include <QPainter>
#include <QRectF>
#include <QString>

#include "backtest/backtest.h"

namespace lp::backtest {

// A title line, then the two curves over a date axis; "データがありません。" without points.
// `base`: the starting value (a dashed line).
void paint_equity(QPainter& painter, const QRectF& rect, const std::vector<EquityPoint>& points,
                  const QString& title, double base = kStartCapital);

// The account mode: the equity curves above, the two drawdown curves below.
void paint_account(QPainter& painter, const QRectF& rect, const AccountResult& result,
                   const QString& title);
// `label_px`: the labels' pixel size (0: from the height).
void paint_drawdown(QPainter& painter, const QRectF& rect, const AccountResult& result,
                    int label_px = 0);
std::vector<EquityPoint> account_points(const AccountResult& result);
QByteArray account_png(const AccountResult& result, const QString& title, int width = 1000,
                       int height = 700);

// "検証 <screen>  <from> - <to>  保有N日  K日毎": the picture's title line.
// An empty `screen` is a screen not saved under a name.
QString equity_title(const std::string& screen, const Params& params);

// The account mode's title line: the period, the capital, the places and the exits.
QString account_title(const std::string& screen, const Params& params, const AccountParams& a);

// The picture as PNG bytes (for equity.png).
QByteArray equity_png(const Result& result, const QString& title, int width = 1000,
                      int height = 600);

}  // namespace lp::backtest
