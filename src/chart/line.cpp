#include "chart/line.h"

#include <algorithm>
#include <deque>

namespace lp::chart {

Line simple_average(std::span<const double> in, int n) {
  Line out(in.size(), kUndefined);
  if (n < 1) return out;
  // A running sum over the last n values; a run of defined values restarts the sum so an
  // undefined prefix (the %K before its window is whole) never leaks into it.
  double sum = 0;
  int run = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (!defined(in[i])) {
      sum = 0;
      run = 0;
      continue;
    }
    sum += in[i];
    ++run;
    if (run > n) sum -= in[i - static_cast<std::size_t>(n)];
    // Re-summing now and then keeps the running sum from drifting over thousands of bars.
    if (run > n && (i % 1024) == 0) {
      sum = 0;
      for (std::size_t j = i + 1 - static_cast<std::size_t>(n); j <= i; ++j) sum += in[j];
    }
    if (run >= n) out[i] = sum / n;
  }
  return out;
}

Line ta_ema(std::span<const double> in, int n, std::size_t seed) {
  Line out(in.size(), kUndefined);
  if (n < 1 || seed >= in.size() || seed + 1 < static_cast<std::size_t>(n)) return out;
  double e = 0;
  for (std::size_t j = seed + 1 - static_cast<std::size_t>(n); j <= seed; ++j) {
    if (!defined(in[j])) return out;
    e += in[j];
  }
  e /= n;
  out[seed] = e;
  const double k = 2.0 / (n + 1);
  for (std::size_t i = seed + 1; i < in.size(); ++i) {
    e = (in[i] - e) * k + e;
    out[i] = e;
  }
  return out;
}

Extremes extremes(std::span<const double> high, std::span<const double> low, int n) {
  const std::size_t size = std::min(high.size(), low.size());
  Extremes out{Line(size, kUndefined), Line(size, kUndefined)};
  if (n < 1) return out;
  // Monotonic queues: each bar enters and leaves once, so a 52-bar window over 20 years of
  // bars costs no more than a 9-bar one.
  std::deque<std::size_t> hi, lo;
  const auto w = static_cast<std::size_t>(n);
  for (std::size_t i = 0; i < size; ++i) {
    while (!hi.empty() && high[hi.back()] <= high[i]) hi.pop_back();
    hi.push_back(i);
    while (!lo.empty() && low[lo.back()] >= low[i]) lo.pop_back();
    lo.push_back(i);
    if (hi.front() + w <= i) hi.pop_front();
    if (lo.front() + w <= i) lo.pop_front();
    if (i + 1 >= w) {
      out.highest[i] = high[hi.front()];
      out.lowest[i] = low[lo.front()];
    }
  }
  return out;
}

}  // namespace lp::chart
