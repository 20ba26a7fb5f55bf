// Events marked on the chart's time axis: results disclosures (決算) and splits and
// consolidations, placed on the bar of their day (or the next bar after it, for a day without
// one), with the text a hover shows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chart/bar_period.h"
#include "chart/indicators.h"

namespace lp {
struct SeriesSource;
}

namespace lp::chart {

enum class EventKind { results, split, consolidation, dividend };

struct ChartEvent {
  std::string date;  // yyyymmdd
  EventKind kind = EventKind::results;
  std::string text;  // "決算 2024/05/10 2024年3月期 本決算" ...
};

struct EventMark {
  int bar = 0;  // bar index (1 the newest)
  EventKind kind = EventKind::results;
  std::string text;  // the texts of every event on the bar, one per line
};

// The stock's results disclosures and corrections known up to `to` (yyyymmdd), and the
// ex-dividend days of the fiscal years whose annual dividend its results reported: the
// trading day before the last one of the month the year ends in (the record date's month;
// settlement takes two days), found among `days` (the loaded days; none without them).
std::vector<ChartEvent> load_chart_events(const SeriesSource& src, std::string_view code,
                                          std::string_view to, const Bars* days = nullptr);

// The ex-dividend day of a year ending in the month of `fy_end` (yyyymmdd): the trading day
// before the month's last among `days`; "" when the days do not reach the month's end.
std::string ex_dividend_day(const Bars& days, std::string_view fy_end);

// The events on the bars: each on the bar whose span holds its day (a week's or month's bar
// holds its days; a day without a bar goes to the next newer bar); events older than the oldest
// bar's week or month (its day, for daily bars) or newer than the newest bar are left out.
// Several on one bar share its mark.
std::vector<EventMark> place_events(const Bars& bars, const std::vector<ChartEvent>& events,
                                    BarPeriod period = BarPeriod::day);

// The short sign drawn in the mark: 決, 分, 併, 配.
const char* event_sign(EventKind kind);

}  // namespace lp::chart
