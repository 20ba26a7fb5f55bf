// The chart's redraw as the window does it: load the stock (period + 260 days), compute the
// indicators and paint every pane offscreen at 1200 x 900; and stepping through codes with
// "UP", each step finding the year's code files and redrawing.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/bench.h"
#include "chart/chart_model.h"
#include "chart/chart_painter.h"
#include "chart/chart_state.h"
#include "pricedb/series.h"

namespace {

using lp::bench::Case;
using lp::bench::Result;
using lp::bench::Setup;

// Painting text needs a GUI application; the offscreen platform needs no display. It is kept
// to the end of the process: destroying it among the static destructors crashes.
void ensure_gui() {
  if (QGuiApplication::instance()) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "lumenpick-bench";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);
}

lp::chart::ChartOptions all_panes(int period) {
  lp::chart::ChartOptions o;
  o.period = period;
  o.candles = o.volume = o.ratio = o.ma = o.rsi = o.bands = o.alg1 = true;
  o.ma1 = 25;
  o.ma2 = 75;
  o.rsi_period = 14;
  o.band_period = 20;
  return o;
}

// One redraw; returns the number of days loaded.
int redraw(const Setup& setup, const std::string& code, const lp::chart::ChartOptions& o,
           QImage& image) {
  lp::SeriesSource src{setup.db_folder, "1001", {}};
  lp::Series series;
  lp::load_series(src, setup.today, lp::chart::load_day_count(o.period), code, series, true);
  const lp::chart::ChartScene scene =
      lp::chart::build_scene(lp::chart::bars_from_series(series), o);
  QPainter painter(&image);
  lp::chart::paint_chart(painter, QRectF(0, 0, image.width(), image.height()), scene);
  return scene.bars.count;
}

// Twenty years of daily bars (about 4900), a seeded random walk: the most a chart holds when
// zoomed out to a long-listed stock's whole history.
lp::chart::Bars twenty_years() {
  lp::chart::Bars b;
  constexpr int kDays = 20 * 245;
  b.code = "1301";
  b.name = "ベンチ";
  b.count = kDays;
  const auto size = static_cast<std::size_t>(kDays) + 1;
  b.date.assign(size, "");
  b.open.assign(size, 0);
  b.high.assign(size, 0);
  b.low.assign(size, 0);
  b.close.assign(size, 0);
  b.volume.assign(size, 0);
  unsigned state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<double>((state >> 8) & 0xffff) / 65536.0;
  };
  double price = 1000;
  // Oldest first; weekdays of the calendar from 2006 on.
  int y = 2006, m = 1, d = 2, weekday = 0;
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int i = kDays; i >= 1; --i) {
    const auto k = static_cast<std::size_t>(i);
    char date[48];
    std::snprintf(date, sizeof date, "%04d%02d%02d", y, m, d);
    b.date[k] = date;
    const double open = price;
    price = std::max(50.0, price * (1 + (next() - 0.5) * 0.04));
    b.open[k] = open;
    b.close[k] = price;
    b.high[k] = std::max(open, price) * (1 + next() * 0.01);
    b.low[k] = std::min(open, price) * (1 - next() * 0.01);
    b.volume[k] = 10000 + next() * 90000;
    do {
      weekday = (weekday + 1) % 7;
      const int month_days = kMonthDays[m - 1] + (m == 2 && y % 4 == 0 ? 1 : 0);
      if (++d > month_days) {
        d = 1;
        if (++m > 12) {
          m = 1;
          ++y;
        }
      }
    } while (weekday >= 5);
  }
  return b;
}

// The five panes a trader reads: candles with averages and the cloud, volume with its
// average, RSI, MACD and the stochastics.
lp::chart::ChartOptions five_panes() {
  lp::chart::ChartOptions o = all_panes(250);
  o.ratio = o.alg1 = o.bands = false;
  o.indicators.macd = o.indicators.stoch = o.indicators.ichimoku = o.indicators.vma = true;
  return o;
}

void paint(const lp::chart::ChartScene& scene, QImage& image) {
  QPainter painter(&image);
  lp::chart::paint_chart(painter, QRectF(0, 0, image.width(), image.height()), scene);
}

void add_chart_cases(const Setup& setup, std::vector<Case>& cases) {
  auto image = std::make_shared<QImage>();
  auto prepare = [image] {
    ensure_gui();
    *image = QImage(1200, 900, QImage::Format_RGB32);
  };

  Case draw{"chart: redraw 250-day period (load 510 days, indicators, paint 1200x900)", "<= 0.03 s",
            prepare, [setup, image] {
              return static_cast<long long>(redraw(setup, "1301", all_panes(250), *image));
            }};
  draw.item = "day loaded";
  cases.push_back(std::move(draw));

  constexpr int kSteps = 100;
  Case step{"chart: step 100 codes with UP (redraw each)", "<= 50 ms per code", prepare,
            [setup, image] {
              std::string code = "1301";
              const lp::chart::ChartOptions o = all_panes(250);
              for (int i = 0; i < kSteps; ++i) {
                const auto year = lp::chart::stepping_year(setup.db_folder, setup.today);
                if (!year) return 0LL;
                code = lp::chart::step_code(lp::chart::code_files_of_year(setup.db_folder, *year),
                                            code, lp::chart::StepDirection::kUp);
                redraw(setup, code, o, *image);
              }
              return static_cast<long long>(kSteps);
            }};
  step.item = "code";
  step.judge = [](const Result& self, const std::vector<Result>&) {
    if (self.items <= 0) return std::string("no");
    return lp::bench::yes_no(self.median_seconds / static_cast<double>(self.items) <= 0.05);
  };
  cases.push_back(std::move(step));

  // Zooming and panning over the whole twenty years: each step moves the view and repaints
  // the five panes; the indicators were computed once, when the stock was drawn.
  auto days = std::make_shared<lp::chart::Bars>();
  auto scene = std::make_shared<lp::chart::ChartScene>();
  constexpr int kViewSteps = 20;
  Case view{"chart: zoom/pan step, 5 panes over 20 years of daily bars (4900, paint 1200x900)",
            "<= 16 ms per step",
            [prepare, days, scene] {
              prepare();
              *days = twenty_years();
              *scene = lp::chart::build_scene(*days, five_panes());
            },
            [image, scene] {
              lp::chart::ChartScene& s = *scene;
              lp::chart::apply_view(s, 1, s.bars.count);  // the whole history in view
              for (int i = 0; i < kViewSteps; ++i) {
                if (i % 4 == 0) lp::chart::zoom_view(s, 0.8, s.first + s.n / 2);
                if (i % 4 == 1) lp::chart::pan_view(s, s.n / 10);
                if (i % 4 == 2) lp::chart::zoom_view(s, 1.25, s.first + s.n / 2);
                if (i % 4 == 3) lp::chart::pan_view(s, -s.n / 10);
                paint(s, *image);
              }
              return static_cast<long long>(kViewSteps);
            }};
  view.item = "step";
  view.judge = [](const Result& self, const std::vector<Result>&) {
    if (self.items <= 0) return std::string("no");
    return lp::bench::yes_no(self.median_seconds / static_cast<double>(self.items) <= 0.016);
  };
  cases.push_back(std::move(view));

  // Switching the same twenty years to weekly, then monthly bars: the bars, every indicator
  // on them and a repaint, as the 日足/週足/月足 box does once the days are loaded.
  Case period{"chart: switch 20 years of days to weekly / monthly bars (5 panes, paint)",
              "<= 50 ms per switch",
              [prepare, days] {
                prepare();
                *days = twenty_years();
              },
              [image, days] {
                for (const auto p : {lp::chart::BarPeriod::week, lp::chart::BarPeriod::month}) {
                  lp::chart::ChartOptions o = five_panes();
                  o.bar_period = p;
                  paint(lp::chart::build_scene(*days, o), *image);
                }
                return 2LL;
              }};
  period.item = "switch";
  period.judge = [](const Result& self, const std::vector<Result>&) {
    if (self.items <= 0) return std::string("no");
    return lp::bench::yes_no(self.median_seconds / static_cast<double>(self.items) <= 0.05);
  };
  cases.push_back(std::move(period));
}

LP_BENCH(add_chart_cases);

}  // namespace
