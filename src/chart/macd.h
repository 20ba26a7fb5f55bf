// MACD as TA-Lib computes it (TA_MACD): the fast and the slow exponential averages are both
// seeded on the slow average's first bar (the fast one with the plain average of its own
// period ending there), the line is their difference from that bar on, and the signal is the
// exponential average of the line seeded on the line's first `signal` values. A slow period
// shorter than the fast one is swapped, as TA-Lib does.
#pragma once

#include <span>

#include "chart/line.h"

namespace lp::chart {

struct MacdLines {
  Line line, signal, histogram;
};

// Over closes oldest first: the line from bar slow-1 on, the signal and the histogram from
// bar slow+signal-2 on.
MacdLines macd(std::span<const double> close, int fast, int slow, int signal);

// Bars a close series must hold for the line and for the signal to be defined.
int macd_line_lookback(int fast, int slow);
int macd_signal_lookback(int fast, int slow, int signal);

}  // namespace lp::chart
