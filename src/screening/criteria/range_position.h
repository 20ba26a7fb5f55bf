// Criteria 4, 5 and 6: the span between the highest high and the lowest low of a period.
#pragma once

#include <cstdint>

#include "screening/criteria/criterion.h"
#include "screening/criteria/lowest_price.h"

namespace lp::screening {

// Criteria 4 and 5: lowest positive low and highest high (each rounded half to even) over
// the days 1..min(loaded, days) with volume > 0.
struct TradedSpan {
  std::int64_t low = kNoLow;
  std::int64_t high = 0;
  bool traded = false;  // at least one day with volume > 0
};
TradedSpan traded_span(const SeriesNumbers& series, int days);

// Where `price` lies between the span's low (0 %) and high (100 %); 0 when low equals high.
double range_position(double price, const TradedSpan& span);

// Criterion 6: the span of days 1..min(loaded, days) whatever their volume, with the days
// that made the low and the high and the direction of the low's day.
struct RangeRate {
  bool has_price = false;  // a day with a positive close was found
  double price = 0;        // the newest positive close
  std::int64_t low = kNoLow;
  std::int64_t high = 0;
  long long low_date = 0;  // yyyymmdd as a number, 0 when no low was found
  long long high_date = 0;
  bool up = false;    // the low's day closed above its open
  bool down = false;  // the low's day closed at or below its open
  double rate = 0;    // (high - low) / price * 100
};
RangeRate range_rate(const SeriesNumbers& series, const TradingCalendar& cal, int days);

// The direction boxes of criterion 6: "+" keeps a low before the high (on one day: a rising
// day), "ｰ" a high before the low (on one day: a day that did not rise).
bool direction_passes(const RangeRate& r, bool plus, bool minus);

}  // namespace lp::screening
