// Hand-made series for the chart tests: days newest first as (close, volume), or full bars.
#pragma once

#include <string>
#include <vector>

#include "chart/indicators.h"
#include "common/numbers.h"

namespace lp::chart::test {

struct D {
  double open, high, low, close;
  long long volume;
  std::string date = "";
};

// A loaded series with record 1 the first day given (the newest). Days without a date get
// consecutive weekdays-agnostic dates counting back from 20240630.
inline Series make_series(const std::vector<D>& newest_first, std::string code = "7203",
                          std::string name = "テスト") {
  Series s(newest_first.size() + 1);
  s[0] = {code, "desc", name, "", "", std::to_string(newest_first.size())};
  int day = 0;
  for (std::size_t i = 0; i < newest_first.size(); ++i, ++day) {
    const D& d = newest_first[i];
    std::string date = d.date.empty() ? std::to_string(20240630 - day) : d.date;
    if (d.volume > 0) {
      s[i + 1] = {date,
                  format_decimal(d.open),
                  format_decimal(d.high),
                  format_decimal(d.low),
                  format_decimal(d.close),
                  std::to_string(d.volume)};
    } else {
      s[i + 1] = {date, "0", "0", "0", "0", "0"};
    }
  }
  return s;
}

// Closes newest first; volume 0 marks a day without trading.
inline Bars closes(const std::vector<std::pair<double, long long>>& newest_first) {
  std::vector<D> days;
  for (const auto& [c, v] : newest_first) days.push_back({c, c, c, c, v});
  return bars_from_series(make_series(days));
}

}  // namespace lp::chart::test
