// The chart's geometry and what goes into its panes, worked out without any drawing: the pane
// stack, the 10000 x 10000 logical system of every pane with its margins and mappings, the
// price range and levels, month boundaries, ratio-scale lines and the indicator series. The
// painter only turns a ChartScene into lines and text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chart/bar_period.h"
#include "chart/chart_lines.h"
#include "chart/events.h"
#include "chart/indicators.h"
#include "chart/trend_lines.h"

namespace lp::chart {

// The standard 16-colour palette (0 black ... 15 bright white), by the entries the chart uses.
enum PaletteColor : int {
  kBlack = 0,
  kDarkBlue = 1,
  kGreen = 2,
  kTeal = 3,
  kOlive = 6,
  kGrey = 8,
  kLightBlue = 9,
  kLightGreen = 10,
  kLightCyan = 11,
  kLightRed = 12,
  kLightMagenta = 13,
  kBrightWhite = 15,
};

// Candle colour of a day: rise light red, fall light blue, unchanged light green.
PaletteColor candle_color(double open, double close);

// Panes, top to bottom. The original five come first; the oscillators added beside them
// (MACD, stochastics, RCI) follow, each in a pane of its own.
enum PaneId : int {
  kPricePane = 0,
  kVolumePane,
  kRsiPane,
  kAlg1Pane,
  kAlg2Pane,
  kMacdPane,
  kStochPane,
  kRciPane,
  kPaneCount
};

constexpr std::array<int, kPaneCount> kPaneHeightTwips = {3500, 1300, 1300, 700,
                                                          700,  1300, 1300, 1300};
constexpr int kPaneStackTopTwips = 1800;
constexpr int kWindowBaseHeightTwips = 2400;
constexpr double kLogicalSize = 10000;

// The shown panes stacked in order from the stack top; the window grows with them.
struct PaneLayout {
  std::array<bool, kPaneCount> shown{};
  std::array<int, kPaneCount> top_twips{};  // meaningful for shown panes only
  int window_height_twips = kWindowBaseHeightTwips;
};

struct PaneSwitches {
  bool candles = false, ma = false, volume = false, rsi = false, alg1 = false, alg2 = false;
  bool macd = false, stoch = false, rci = false;
};
PaneLayout layout_panes(const PaneSwitches& on);

// One pane's logical system: day index i sits at x(i), the newest shown day (first) at the
// right margin; value v at y(v). index_at() is the inverse of x() used by the mouse.
struct PaneGeometry {
  double width = kLogicalSize, height = kLogicalSize;
  int first = 1, last = 0, n = 0;  // shown day indices; n = days the width is divided by
  double minimum = 0, maximum = 0, span = 1;
  double margin_left = 0, margin_right = 0, margin_top = 0, margin_bottom = 0;

  // Margins: left 8 %, right 1 %, top 1 %, bottom 1 % plus a 200-twip label strip.
  static PaneGeometry make(int height_twips, int n, int last, double minimum, double maximum,
                           double span);

  double x(int index) const;
  double y(double value) const;
  // The day index under logical x (may fall outside first..last; callers check).
  int index_at(double x) const;
  // The value at logical y (the inverse of y()).
  double value_at(double y) const;
  bool has_days() const { return n >= 1 && last >= first; }

  // The plotting area inside the margins, where the days and their values live; the left
  // margin carries the level labels and the bottom strip the months, so lines that run
  // beyond the shown range (σ bands, averages) are cut at its edges.
  struct Area {
    double left = 0, top = 0, right = 0, bottom = 0;
    bool contains(double lx, double ly) const {
      return lx >= left && lx <= right && ly >= top && ly <= bottom;
    }
  };
  Area plot_area() const;
};

// Lowest low and highest high over the shown traded days, each rounded half to even.
struct ValueRange {
  double minimum = 0, maximum = 0, span = 1;
  bool empty = true;  // no traded day shown
};
ValueRange price_range(const Bars& bars, int first, int last);
// Widens a non-empty range to the valid points of a drawn series over first..last (floored
// and ceiled, so the line stays inside).
void include_series(ValueRange& range, const DaySeries& series, int first, int last);

// The price-level step for a span: the 1-2-5 table up to 10 million, then doubling (2, 4, 8
// million ...) and on doubling for spans of 80 million and more.
std::int64_t price_step(double span);
// Levels strictly between minimum and maximum, multiples of the step, lowest first.
std::vector<std::int64_t> price_levels(double minimum, double maximum, std::int64_t step);

// A month boundary between a shown day and the next newer one: a line at x and the newer
// day's month ("01".."12").
struct MonthMark {
  double x = 0;
  std::string month;
};
std::vector<MonthMark> month_marks(const Bars& bars, const PaneGeometry& g);

// Ratio-scale lines: the reference in green, every +10 % of it inside the range in olive,
// every -10 % in teal (colours no average, month line or candle uses), each labelled with its
// ratio to the reference.
struct RatioLine {
  double value = 0;
  PaletteColor color = kGreen;
  long long percent = 100;  // of the reference: 100, 110, 90 ...
};
// "100%", "110%", "90%".
std::string ratio_label(const RatioLine& line);
// The user's reference when switched on and positive, else the newest positive close.
double ratio_reference(const Bars& bars, bool user_reference_on, double user_reference);
std::vector<RatioLine> ratio_lines(double reference, double minimum, double maximum);

// The period box keeps to 1..5000 days.
inline constexpr int kMinPeriod = 1;
inline constexpr int kMaxPeriod = 5000;
// A period from any source (the box, init.txt, the command line) within 1..5000.
int clamp_period(double period);
// Days to load for a period: the period plus 260 days of history, at most 5000.
int load_day_count(int period);
// Days to load for `period` bars of daily, weekly or monthly candles: the bars and 260 more
// for the indicators, in days, at most the whole history a chart may hold.
inline constexpr int kWholeHistoryDays = 12000;
int load_day_count(int period, BarPeriod bars);

// Everything a redraw shows, from the window's switches and boxes.
struct ChartOptions {
  int period = 0;
  // Daily, weekly or monthly bars, and the bars shown: the newest shown bar (1 the newest
  // loaded; below 1 the future the cloud is drawn into) and how many across (0: the period).
  BarPeriod bar_period = BarPeriod::day;
  int view_first = 1;
  int view_n = 0;
  IndicatorSwitches indicators;
  IndicatorParams params;
  bool candles = true, volume = true, ratio = false, ma = true, rsi = false, bands = false,
       alg1 = false, alg2 = false;
  int ma1 = 0, ma2 = 0, rsi_period = 0, band_period = 0;
  bool reference_on = false;
  double reference = 1000;
  bool topix = false;  // the reference index and the relative strength on the price pane
};

struct ChartScene {
  ChartOptions options;
  PaneLayout layout;
  Bars bars;
  bool loaded = false;  // false: "データがありません。"
  int first = 1, last = 0, n = 0;
  std::array<PaneGeometry, kPaneCount> pane;
  bool price_range_empty = true;
  std::int64_t price_step = 0;
  std::vector<std::int64_t> levels;
  std::vector<MonthMark> months;
  std::vector<RatioLine> ratio;
  DaySeries ma1, ma2, rsi, alg1;
  SigmaBands bands;
  IndicatorLines lines;
  // The reference index (TOPIX) on the price pane, rebased to the first shown bar's close, and
  // the stock's strength against it (stock ÷ index, rebased the same way): empty without one.
  Bars index_bars;  // the index on the stock's bars (untraded where its dates are missing)
  std::vector<EventMark> events;       // 決算, splits and consolidations on the time axis
  std::vector<TrendLine> trend_lines;  // the user's lines on the price pane
  DaySeries index_line, relative_line;
  double volume_max = 10000;
  // The oscillator panes' ranges (MACD's follows its lines in view).
  double macd_min = -1, macd_max = 1;
};

// Works out the scene of loaded days (days.count 0: nothing loaded): the bars of the chosen
// period, every indicator over all of them, then the view.
ChartScene build_scene(Bars days, const ChartOptions& options);

// The view's limits for a scene's bars: the smallest and largest count of bars across, and
// the range of the newest shown bar.
inline constexpr int kMinViewBars = 20;
struct ViewLimits {
  int min_n = kMinViewBars, max_n = kMinViewBars;
  int min_first = 1, max_first = 1;
};
ViewLimits view_limits(const ChartScene& scene);
// Shows `n` bars with `first` the newest (both kept within the limits) and works out what the
// panes show: the ranges, levels, month lines and scales. Cheap: the indicators stay.
void apply_view(ChartScene& scene, int first, int n);

// Puts the reference index's days beside the stock's (matched by date, in the scene's bar
// period) and redraws the view with the index and the relative strength when
// options.topix is on.
void set_index_days(ChartScene& scene, const Bars& index_days);

// The first bar (index) whose date is on or after yyyymmdd, or 0 when none is.
int bar_on_or_after(const Bars& bars, std::string_view yyyymmdd);

// The event mark whose sign lies under logical (x, y) of the price pane (within `tolerance`
// logical units of its bar, in the strip at the pane's foot), or null.
const EventMark* event_at(const ChartScene& scene, double x, double y, double tolerance);
// The sign's box in the price pane's logical units: the strip at the foot of the plot.
struct EventStrip {
  double top = 0, bottom = 0;
};
EventStrip event_strip(const PaneGeometry& price);

// The trend lines on the price pane in its logical units, one per line (a line with an end
// outside the bars gets an empty segment, all zeros, and is not drawn).
std::vector<Segment> trend_segments(const ChartScene& scene);

// The crosshair's line at the top of a pane for the bar `index`: the date and the bar's
// open/high/low/close/volume on the price and volume panes, and the value of every line the
// pane draws ("" for a pane that is off or a bar outside the bars and the cloud's future).
std::string pane_readout(const ChartScene& scene, int pane, int index);

// Zooms by `factor` (below 1 zooms in) around the bar `anchor`, which stays where it is.
void zoom_view(ChartScene& scene, double factor, int anchor);
// Pans by `bars` (positive: towards older bars).
void pan_view(ChartScene& scene, int bars);

}  // namespace lp::chart
