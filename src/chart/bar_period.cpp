#include "chart/bar_period.h"

#include <algorithm>
#include <cctype>

#include "pricedb/formats.h"

namespace lp::chart {

bool parse_bar_period(std::string_view text, BarPeriod& out) {
  std::string t;
  for (char c : text) {
    if (c != ' ') t.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  if (t == "日足" || t == "day" || t == "daily") return out = BarPeriod::day, true;
  if (t == "週足" || t == "week" || t == "weekly") return out = BarPeriod::week, true;
  if (t == "月足" || t == "month" || t == "monthly") return out = BarPeriod::month, true;
  return false;
}

const char* bar_period_caption(BarPeriod period) {
  switch (period) {
    case BarPeriod::week:
      return "週足";
    case BarPeriod::month:
      return "月足";
    case BarPeriod::day:
      break;
  }
  return "日足";
}

namespace {

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm).
long days_from_civil(long y, long m, long d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

long bar_key(std::string_view date, BarPeriod period) {
  if (date.size() != 8 ||
      !std::all_of(date.begin(), date.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return -1;
  }
  const long y = std::stol(std::string(date.substr(0, 4)));
  const long m = std::stol(std::string(date.substr(4, 2)));
  const long d = std::stol(std::string(date.substr(6, 2)));
  if (period == BarPeriod::month) return y * 100 + m;
  const long days = days_from_civil(y, m, d);
  // 1970-01-01 was a Thursday: Monday-based weekday 3.
  const long weekday = ((days % 7) + 7 + 3) % 7;
  return days - weekday;
}

Bars aggregate_bars(const Bars& days, BarPeriod period) {
  if (period == BarPeriod::day) return days;
  Bars out;
  out.code = days.code;
  out.name = days.name;
  out.date.emplace_back();
  out.open.push_back(0);
  out.high.push_back(0);
  out.low.push_back(0);
  out.close.push_back(0);
  out.volume.push_back(0);
  int i = 1;
  while (i <= days.count) {
    const long key = bar_key(days.date[static_cast<std::size_t>(i)], period);
    int end = i;  // the group's records i..end, newest first
    while (end + 1 <= days.count &&
           bar_key(days.date[static_cast<std::size_t>(end + 1)], period) == key && key >= 0) {
      ++end;
    }
    double open = 0, high = 0, low = 0, close = 0, volume = 0;
    bool traded = false, unknown_volume = false;
    for (int k = end; k >= i; --k) {  // oldest first
      if (!days.traded(k)) continue;
      const auto u = static_cast<std::size_t>(k);
      if (!traded) {
        open = days.open[u];
        high = days.high[u];
        low = days.low[u];
        traded = true;
      }
      high = std::max(high, days.high[u]);
      low = std::min(low, days.low[u]);
      close = days.close[u];
      if (is_unknown_volume(days.volume[u])) {
        unknown_volume = true;
      } else {
        volume += days.volume[u];
      }
    }
    // A bar whose days all lack their volume keeps the unknown mark; otherwise the known sum.
    if (traded && volume <= 0 && unknown_volume) volume = std::stod(kUnknownVolumeText);
    out.date.push_back(days.date[static_cast<std::size_t>(i)]);
    out.open.push_back(open);
    out.high.push_back(high);
    out.low.push_back(low);
    out.close.push_back(close);
    out.volume.push_back(traded ? volume : 0);
    ++out.count;
    i = end + 1;
  }
  return out;
}

}  // namespace lp::chart
