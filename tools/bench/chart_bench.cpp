// The chart's redraw as the window does it: load the stock (period + 260 days), compute the
// indicators and paint every pane offscreen at 1200 x 900; and stepping through codes with
// "UP", each step finding the year's code files and redrawing.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
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
}

LP_BENCH(add_chart_cases);

}  // namespace
