// Weekly and monthly candles built from the loaded (split-adjusted) days: a week runs Monday
// to Friday, a month by the calendar. A bar opens at its first traded day's open, closes at its
// last traded day's close, spans their highest high and lowest low and sums their volumes; it
// carries the date of its last day. A week or month in which the stock did not trade stays as
// a bar without trading (volume 0), as a gap day does among daily bars.
#pragma once

#include <string>
#include <string_view>

#include "chart/indicators.h"

namespace lp::chart {

enum class BarPeriod { day, week, month };

// "日足" / "週足" / "月足", "day" / "week" / "month" (any case): the period, or nothing.
bool parse_bar_period(std::string_view text, BarPeriod& out);
const char* bar_period_caption(BarPeriod period);  // 日足 / 週足 / 月足

// The bar a yyyymmdd date belongs to: the Monday of its week as days since 1970-01-01, or
// yyyymm; -1 for a date that is not eight digits.
long bar_key(std::string_view yyyymmdd, BarPeriod period);

// The days (index 1 newest) as bars of the period, newest first; the days themselves for
// BarPeriod::day.
Bars aggregate_bars(const Bars& days, BarPeriod period);

}  // namespace lp::chart
