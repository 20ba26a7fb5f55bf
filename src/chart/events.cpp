#include "chart/events.h"

#include <algorithm>
#include <cmath>

#include "common/numbers.h"
#include "pricedb/fins_store.h"
#include "pricedb/fundamentals.h"
#include "pricedb/series.h"

namespace lp::chart {

namespace {

std::string slash(const std::string& d) {
  if (d.size() != 8) return d;
  return d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2);
}

// "1:2" for a factor of 0.5 (one share became two), "10:1" for 10.
std::string ratio_text(double factor) {
  if (factor < 1) return "1:" + format_decimal(1 / factor);
  return format_decimal(factor) + ":1";
}

}  // namespace

const char* event_sign(EventKind kind) {
  switch (kind) {
    case EventKind::split:
      return "分";
    case EventKind::consolidation:
      return "併";
    case EventKind::dividend:
      return "配";
    case EventKind::results:
      break;
  }
  return "決";
}

std::string ex_dividend_day(const Bars& days, std::string_view fy_end) {
  if (fy_end.size() < 6) return {};
  const std::string_view month = fy_end.substr(0, 6);
  // Days newest first: the month's last trading day, then the one before it.
  for (int i = 1; i + 1 <= days.count; ++i) {
    const std::string& d = days.date[static_cast<std::size_t>(i)];
    if (d.compare(0, 6, month) > 0) continue;
    if (d.compare(0, 6, month) < 0) return {};
    // The month must be over on the chart: a later day is loaded.
    if (i == 1) return {};
    const std::string& before = days.date[static_cast<std::size_t>(i + 1)];
    return before.compare(0, 6, month) == 0 ? before : std::string();
  }
  return {};
}

std::vector<ChartEvent> load_chart_events(const SeriesSource& src, std::string_view code,
                                          std::string_view to, const Bars* days) {
  std::vector<ChartEvent> out;
  const int until = static_cast<int>(parse_integer(to));
  for (const fins::Disclosure& d : fins::disclosures_of(src, code)) {
    if (d.date <= 0 || (until > 0 && d.date > until)) continue;
    if (days && d.is_fy_results() && d.disclosed(fins::DivAnn) && d.value(fins::DivAnn) > 0) {
      const std::string ex = ex_dividend_day(*days, d[fins::CurFYEn]);
      if (!ex.empty()) {
        out.push_back({ex, EventKind::dividend,
                       "配当落ち " + slash(ex) + "（年間配当 " +
                           format_pattern(d.value(fins::DivAnn), "#,##0.##") + "円）"});
      }
    }
    const fins::DisclosureRow row = fins::disclosure_row(d);
    ChartEvent e;
    e.date = std::to_string(d.date);
    e.kind = EventKind::results;
    e.text = "決算 " + slash(e.date) + (row.period.empty() ? "" : " " + row.period);
    out.push_back(std::move(e));
  }
  for (const fins::Split& s : fins::known_splits(src, code, until)) {
    if (!(s.factor > 0) || s.factor == 1) continue;
    ChartEvent e;
    e.date = std::to_string(s.date);
    e.kind = s.factor < 1 ? EventKind::split : EventKind::consolidation;
    e.text = std::string(e.kind == EventKind::split ? "株式分割 " : "株式併合 ") +
             ratio_text(s.factor) + " " + slash(e.date);
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<EventMark> place_events(const Bars& bars, const std::vector<ChartEvent>& events,
                                    BarPeriod period) {
  std::vector<EventMark> out;
  if (bars.count < 1) return out;
  for (const ChartEvent& e : events) {
    // Bars are newest first and carry their last day: the event's bar is the oldest one whose
    // date is on or after the event's day.
    if (e.date > bars.date[1]) continue;
    int bar = 0;
    for (int i = 1; i <= bars.count; ++i) {
      if (bars.date[static_cast<std::size_t>(i)] >= e.date) {
        bar = i;
      } else {
        break;
      }
    }
    // Older than the oldest bar: not on this chart. A week's or month's bar carries its last
    // day but holds the days of its week or month before it.
    const std::string& oldest = bars.date[static_cast<std::size_t>(bars.count)];
    if (period == BarPeriod::day ? e.date < oldest
                                 : bar_key(e.date, period) < bar_key(oldest, period)) {
      continue;
    }
    if (bar == 0) continue;
    auto it =
        std::find_if(out.begin(), out.end(), [&](const EventMark& m) { return m.bar == bar; });
    if (it == out.end()) {
      out.push_back({bar, e.kind, e.text});
    } else {
      it->text += "\n" + e.text;
      // A split or consolidation outranks a results mark in the sign shown.
      if (it->kind == EventKind::results) it->kind = e.kind;
    }
  }
  std::sort(out.begin(), out.end(),
            [](const EventMark& a, const EventMark& b) { return a.bar < b.bar; });
  return out;
}

}  // namespace lp::chart
