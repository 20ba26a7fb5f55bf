// Chart commands: a chart picture drawn offscreen by the chart's own painter, and the
// indicator values behind it.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>

#include "app/cli/cli.h"
#include "chart/bar_period.h"
#include "chart/chart_model.h"
#include "chart/chart_painter.h"
#include "chart/chart_state.h"
#include "common/numbers.h"
#include "pricedb/series.h"

namespace lp::cli {
namespace {

using chart::ChartOptions;

// Qt's notes about the session (no runtime folder, no display, font substitutions) say
// nothing about a picture drawn offscreen; only its errors reach standard error.
void qt_message(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    std::cerr << "lumenpick-cli: " << text.toStdString() << "\n";
  }
}

bool positive_int(const std::string& text, int& out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = static_cast<int>(parse_integer(text));
  return out > 0;
}

// The window's start-up state: its preferences, then candles, volume and averages on.
ChartOptions options_from_prefs(const AppFolders& folders) {
  chart::ChartPrefs prefs = chart::chart_defaults();
  chart::read_chart_prefs(folders.app_folder + "init.txt", prefs);
  auto num = [](const std::string& t) { return static_cast<int>(parse_integer(t)); };
  ChartOptions o;
  o.period = chart::period_days(prefs.period.text);
  o.ratio = prefs.ratio;
  o.rsi = prefs.rsi;
  o.bands = prefs.bands;
  o.alg1 = prefs.alg1;
  o.ma1 = num(prefs.ma1.text);
  o.ma2 = num(prefs.ma2.text);
  o.rsi_period = num(prefs.rsi_period.text);
  o.band_period = num(prefs.band_period.text);
  // The new indicators keep their preferred parameters; only --indicators draws them.
  o.params = prefs.params;
  chart::parse_bar_period(prefs.bar_unit.text, o.bar_period);
  return o;
}

// A value the chart command does not know: a usage error (exit 2), nothing written.
constexpr int kUsageError = 2;
int usage_fail(const std::string& message) {
  fail(message);
  return kUsageError;
}

// "--indicators MACD,STOCH,RCI,ICHIMOKU,BB,VMA" (any case); false on an unknown name.
bool parse_indicator_list(const std::string& text, chart::IndicatorSwitches& on,
                          std::string& unknown) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    std::string name =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name == "MACD") {
      on.macd = true;
    } else if (name == "STOCH") {
      on.stoch = true;
    } else if (name == "RCI") {
      on.rci = true;
    } else if (name == "ICHIMOKU") {
      on.ichimoku = true;
    } else if (name == "BB") {
      on.bb = true;
    } else if (name == "VMA") {
      on.vma = true;
    } else {
      unknown = name;
      return false;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

// Options shared by both commands, taken after each command's own; false with a message in
// `error`.
bool take_chart_options(Context& ctx, ChartOptions& o, std::string& error) {
  std::string v;
  if (ctx.take_option("--period", v)) {
    // A number of bars across, or the bars themselves: day, week or month.
    if (!chart::parse_bar_period(v, o.bar_period) &&
        (!positive_int(v, o.period) || o.period > 5000))
      return error = "--period は day、week、month か 1～5000 の本数で指定してください", false;
  }
  if (ctx.take_option("--ma", v)) {
    const auto comma = v.find(',');
    if (comma == std::string::npos || !positive_int(v.substr(0, comma), o.ma1) ||
        !positive_int(v.substr(comma + 1), o.ma2)) {
      return error = "--ma は A,B（二つの期間）で指定してください", false;
    }
  }
  if (ctx.take_option("--rsi", v)) {
    if (!positive_int(v, o.rsi_period))
      return error = "--rsi は期間（1以上の整数）で指定してください", false;
    o.rsi = true;
  }
  if (ctx.take_option("--bands", v)) {
    if (!positive_int(v, o.band_period))
      return error = "--bands は期間（1以上の整数）で指定してください", false;
    o.bands = true;
  }
  if (ctx.take_flag("--alg1")) o.alg1 = true;
  if (ctx.take_flag("--no-volume")) o.volume = false;
  // "--ratio" with an optional reference price after it.
  for (std::size_t i = 0; i < ctx.args.size(); ++i) {
    if (ctx.args[i] != "--ratio") continue;
    o.ratio = true;
    std::size_t drop = 1;
    if (i + 1 < ctx.args.size() && ctx.args[i + 1].rfind("--", 0) != 0 &&
        parse_number(ctx.args[i + 1]) > 0 && ctx.args.size() >= 3) {
      // Only a number that leaves the stock code behind is a reference price.
      o.reference_on = true;
      o.reference = parse_number(ctx.args[i + 1]);
      drop = 2;
    }
    ctx.args.erase(ctx.args.begin() + static_cast<long>(i),
                   ctx.args.begin() + static_cast<long>(i + drop));
    break;
  }
  return true;
}

// Loads the stock (and the reference index for --topix) up to `to` (else today) and shows
// the bars from `from` when given, else the period.
bool load_scene(Context& ctx, const std::string& code, const ChartOptions& o,
                chart::ChartScene& scene, std::string& error, const std::string& to = {},
                const std::string& from = {}) {
  if (!chart::is_valid_code_text(code)) return error = "銘柄コードではありません: " + code, false;
  const AppFolders folders = ctx.folders();
  const SeriesSource src = SeriesSource::from(folders);
  const std::string end = to.empty() ? today_yyyymmdd(ctx.platform) : to;
  int days = chart::load_day_count(o.period, o.bar_period);
  if (!from.empty()) {
    // Calendar days between the two dates bound the trading days, plus the indicators' 260.
    const long span = chart::bar_key(end, chart::BarPeriod::week) -
                      chart::bar_key(from, chart::BarPeriod::week) + 7;
    days = static_cast<int>(std::clamp<long>(span + chart::load_day_count(0, o.bar_period), days,
                                             chart::kWholeHistoryDays));
  }
  Series series;
  const int rc = load_series(src, end, days, code, series, true);
  chart::Bars bars = rc == 0 ? chart::bars_from_series(series) : chart::Bars{};
  if (bars.count == 0) return error = "データがありません。 (" + code + ")", false;
  const std::vector<chart::ChartEvent> events = chart::load_chart_events(src, code, end, &bars);
  scene = chart::build_scene(std::move(bars), o);
  scene.events = chart::place_events(scene.bars, events, o.bar_period);
  scene.trend_lines = chart::read_trend_lines(chart::trend_lines_path(folders.user_folder, code));
  if (!from.empty()) {
    const int oldest = chart::bar_on_or_after(scene.bars, from);
    if (oldest == 0) return error = "--from より後のデータがありません。 (" + code + ")", false;
    chart::apply_view(scene, 1, std::max(oldest, chart::kMinViewBars));
  }
  if (o.topix && !folders.reference_code.empty()) {
    Series index;
    if (load_series(src, end, days, folders.reference_code, index, true) == 0) {
      chart::set_index_days(scene, chart::bars_from_series(index));
    }
  }
  return true;
}

int chart_command(Context& ctx) {
  ChartOptions o = options_from_prefs(ctx.folders());
  std::string error, out, v;
  if (!ctx.take_option("--out", out) && !ctx.take_option("--png", out)) {
    return fail("chart には --out FILE.png が必要です");
  }
  int width = 1200, height = 900;
  if (ctx.take_option("--size", v)) {
    const auto x = v.find('x');
    if (x == std::string::npos || !positive_int(v.substr(0, x), width) ||
        !positive_int(v.substr(x + 1), height)) {
      return fail("--size は 幅x高さ（例 1200x900）で指定してください");
    }
  }
  if (ctx.take_option("--width", v) && !positive_int(v, width))
    return fail("--width はピクセル数で指定してください");
  if (ctx.take_option("--height", v) && !positive_int(v, height))
    return fail("--height はピクセル数で指定してください");
  if (width > 10000 || height > 10000) return fail("画像が大きすぎます（縦横10000ピクセルまで）");
  if (ctx.take_option("--indicators", v) && !parse_indicator_list(v, o.indicators, error)) {
    return usage_fail("不明な指標です: " + error +
                      "（MACD,STOCH,RCI,ICHIMOKU,BB,VMA から選んでください）");
  }
  o.topix = ctx.take_flag("--topix");
  std::string from, to;
  ctx.take_option("--from", from);  // both checked as dates of the calendar, from <= to
  ctx.take_option("--to", to);
  if (!take_chart_options(ctx, o, error)) return usage_fail(error);
  if (ctx.args.size() != 1) return fail("chart には銘柄コードを一つ指定してください");
  chart::ChartScene scene;
  if (!load_scene(ctx, ctx.args[0], o, scene, error, to, from)) return fail(error);

  // Fonts need a GUI application; the offscreen platform needs no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(qt_message);
  static int argc = 1;
  static char name[] = "lumenpick-cli";
  static char* argv[] = {name, nullptr};
  std::unique_ptr<QGuiApplication> app;
  if (!QGuiApplication::instance()) app = std::make_unique<QGuiApplication>(argc, argv);
  QImage image(width, height, QImage::Format_RGB32);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    chart::paint_chart(painter, QRectF(0, 0, width, height), scene);
  }
  if (!image.save(QString::fromStdString(out), "PNG")) return fail("書き込めません: " + out);
  std::cout << out << ": " << scene.bars.code << " " << scene.bars.name << ", "
            << scene.last - std::max(scene.first, 1) + 1 << " "
            << (o.bar_period == chart::BarPeriod::week    ? "weeks"
                : o.bar_period == chart::BarPeriod::month ? "months"
                                                          : "days")
            << " to " << scene.bars.date[1] << ", " << width << "x" << height << "\n";
  return 0;
}

std::string cell(const chart::IndicatorPoint& p) {
  return p.valid ? format_decimal(p.value) : "";
}

int indicators_command(Context& ctx) {
  ChartOptions o = options_from_prefs(ctx.folders());
  std::string error;
  if (!take_chart_options(ctx, o, error)) return fail(error);
  if (ctx.args.size() != 1) return fail("indicators には銘柄コードを一つ指定してください");
  o.rsi = o.bands = o.alg1 = o.ma = true;
  chart::ChartScene s;
  if (!load_scene(ctx, ctx.args[0], o, s, error)) return fail(error);
  std::cout << "date,close,volume,MA" << o.ma1 << ",MA" << o.ma2 << ",RSI" << o.rsi_period << ",MA"
            << o.band_period << ",sigma+1,sigma-1,ALG1\n";
  for (int i = s.first; i <= s.last; ++i) {
    const auto k = static_cast<std::size_t>(i);
    std::cout << s.bars.date[k] << ","
              << (s.bars.traded(i) ? format_decimal(s.bars.close[k]) : std::string()) << ","
              << format_decimal(s.bars.volume[k]) << "," << cell(s.ma1.at(i)) << ","
              << cell(s.ma2.at(i)) << "," << cell(s.rsi.at(i)) << "," << cell(s.bands.mean.at(i))
              << "," << cell(s.bands.upper[0].at(i)) << "," << cell(s.bands.lower[0].at(i)) << ","
              << cell(s.alg1.at(i)) << "\n";
  }
  return 0;
}

}  // namespace

LP_CLI_COMMAND("chart",
               "chart CODE --out|--png FILE.png [--period N|day|week|month] [--from YYYYMMDD] "
               "[--to YYYYMMDD] [--indicators MACD,STOCH,RCI,ICHIMOKU,BB,VMA] [--topix] "
               "[--width W --height H | --size WxH] "
               "[--ma A,B] [--rsi N] [--bands N] [--alg1] [--ratio [REF]] [--no-volume]",
               "draws the stock's chart as the chart window does and writes it as a PNG "
               "(daily, weekly or monthly bars; the new indicators only with --indicators)",
               chart_command);
LP_CLI_COMMAND("indicators", "indicators CODE [--period N] [--ma A,B] [--rsi N] [--bands N]",
               "prints the shown days newest first with their averages, RSI, bands and ALG1 (CSV)",
               indicators_command);

}  // namespace lp::cli
