// In-memory series for the criteria tests: days given newest first, as the loaders hold them.
#pragma once

#include <string>
#include <vector>

#include "common/numbers.h"
#include "pricedb/series.h"

namespace lp::test {

struct Bar {
  std::string date;
  double open, high, low, close;
  long long volume;  // 0 with all prices 0 stands for a gap day (empty prices)
};

inline Series series_of(const std::vector<Bar>& newest_first, const std::string& code = "1301") {
  Series s;
  s.push_back({code, "desc", "name", newest_first.empty() ? "" : newest_first.back().date,
               newest_first.empty() ? "" : newest_first.front().date,
               std::to_string(newest_first.size())});
  for (const Bar& b : newest_first) {
    const bool gap = b.volume == 0 && b.open == 0 && b.high == 0 && b.low == 0 && b.close == 0;
    auto text = [&](double v) { return gap ? std::string() : format_decimal(v); };
    s.push_back(
        {b.date, text(b.open), text(b.high), text(b.low), text(b.close), std::to_string(b.volume)});
  }
  return s;
}

// A day with only the close given (open = high = low = close), volume 1000.
inline Bar close_bar(const std::string& date, double close) {
  return {date, close, close, close, close, 1000};
}

// Closes newest first on consecutive made-up dates.
inline Series closes_newest_first(const std::vector<double>& closes) {
  std::vector<Bar> bars;
  long long date = 20241231;  // only compared as numbers here
  for (double c : closes) {
    const std::string d = std::to_string(date--);
    bars.push_back(c > 0 ? close_bar(d, c) : Bar{d, 0, 0, 0, 0, 0});
  }
  return series_of(bars);
}

}  // namespace lp::test
