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

enum class EventKind { results, split, consolidation };

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

// The stock's results disclosures and corrections known up to `to` (yyyymmdd).
std::vector<ChartEvent> load_chart_events(const SeriesSource& src, std::string_view code,
                                          std::string_view to);

// The events on the bars: each on the bar whose span holds its day (a week's or month's bar
// holds its days; a day without a bar goes to the next newer bar); events older than the oldest
// bar's week or month (its day, for daily bars) or newer than the newest bar are left out.
// Several on one bar share its mark.
std::vector<EventMark> place_events(const Bars& bars, const std::vector<ChartEvent>& events,
                                    BarPeriod period = BarPeriod::day);

// The short sign drawn in the mark: 決, 分, 併.
const char* event_sign(EventKind kind);

}  // namespace lp::chart
