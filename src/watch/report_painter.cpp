#include "watch/report_painter.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "chart/chart_model.h"
#include "chart/chart_painter.h"
#include "chart/chart_state.h"
#include "common/numbers.h"
#include "pricedb/series.h"

namespace lp::watch {

namespace {

// Qt's notes about an offscreen session (no runtime folder, font substitutions) are no use
// to a user of the command line.
void quiet_messages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) fprintf(stderr, "%s\n", qPrintable(text));
}

}  // namespace

void ensure_gui_application() {
  if (QCoreApplication::instance()) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(quiet_messages);
  static int argc = 1;
  static char name[] = "lumenpick-cli";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}

ChartPicture report_chart_picture(const AppFolders& folders,
                                  std::shared_ptr<const MarketStore> store) {
  chart::ChartPrefs prefs = chart::chart_defaults();
  chart::read_chart_prefs(folders.app_folder + "init.txt", prefs);
  chart::ChartOptions o;
  o.period = kReportChartDays;
  o.candles = true;
  o.ma = true;
  o.volume = o.ratio = o.rsi = o.bands = o.alg1 = o.alg2 = false;
  o.ma1 = static_cast<int>(parse_integer(prefs.ma1.text));
  o.ma2 = static_cast<int>(parse_integer(prefs.ma2.text));
  if (o.ma1 <= 0) o.ma1 = 25;
  if (o.ma2 <= 0) o.ma2 = 75;
  // The indicators the user switched on for the chart, with their parameters: the report's
  // picture is the chart's own renderer, as `lumenpick-cli chart` draws it.
  o.indicators = prefs.indicators;
  o.params = prefs.params;
  return [folders, store, o](const std::string& code, const std::string& date) -> std::string {
    SeriesSource source = SeriesSource::from(folders);
    source.store = store;
    source.as_of = date;
    Series series;
    if (load_series(source, date, chart::load_day_count(o.period), code, series, true) != 0)
      return {};
    chart::Bars bars = chart::bars_from_series(series);
    if (bars.count == 0) return {};
    const chart::ChartScene scene = chart::build_scene(std::move(bars), o);
    QImage image(kReportChartWidth, kReportChartHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      chart::paint_chart(painter, QRectF(0, 0, image.width(), image.height()), scene);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return {};
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  };
}

}  // namespace lp::watch
