#include "chart/macd.h"

#include <algorithm>

namespace lp::chart {

int macd_line_lookback(int fast, int slow) {
  return std::max(fast, slow);
}

int macd_signal_lookback(int fast, int slow, int signal) {
  return macd_line_lookback(fast, slow) + signal - 1;
}

MacdLines macd(std::span<const double> close, int fast, int slow, int signal) {
  const std::size_t size = close.size();
  MacdLines out{Line(size, kUndefined), Line(size, kUndefined), Line(size, kUndefined)};
  if (fast < 1 || slow < 1 || signal < 1) return out;
  if (slow < fast) std::swap(fast, slow);
  const auto seed = static_cast<std::size_t>(slow - 1);
  if (seed >= size) return out;
  const Line slow_ema = ta_ema(close, slow, seed);
  const Line fast_ema = ta_ema(close, fast, seed);
  for (std::size_t i = seed; i < size; ++i) out.line[i] = fast_ema[i] - slow_ema[i];
  out.signal = ta_ema(out.line, signal, seed + static_cast<std::size_t>(signal - 1));
  for (std::size_t i = 0; i < size; ++i) {
    if (defined(out.signal[i])) out.histogram[i] = out.line[i] - out.signal[i];
  }
  return out;
}

}  // namespace lp::chart
