// Criteria 9 (deviation in sigma units), 10 (RSI) and 13 (deviation rate from the average).
#pragma once

#include "screening/criteria/criterion.h"

namespace lp::screening {

// Days s..s+count-1 cut at the last loaded day; closes of 0 or less (gap days) are skipped.
// sigma is the population deviation (divisor = number of closes). status -1 (sigma -1) when
// there is no close or every close equals the mean. Extended precision keeps the last of the
// 15 digits shown right (-10 / sqrt(50) is -1.4142135623731, not ...09).
struct MeanSigma {
  long double mean = 0;
  long double sigma = -1;
  int status = -1;
};
MeanSigma mean_and_sigma(const Series& series, int s, int count);
MeanSigma mean_and_sigma(const SeriesNumbers& series, int s, int count);

// Plain (unsmoothed) RSI over the pairs (day i, day i+1), i = s..s+count-1, with day i+1 a
// loaded day; a pair with a gap day on either side is skipped. status -1 (rsi -1) when no
// pair was counted or the closes never moved.
struct RsiValue {
  double rsi = -1;
  int status = -1;
};
RsiValue rsi_value(const Series& series, int s, int count);
RsiValue rsi_value(const SeriesNumbers& series, int s, int count);

// Criterion 9: (close of day 1 - mean) / sigma; a gap day 1 reads 0.
double sigma_units(const Series& series, const MeanSigma& ms);
double sigma_units(const SeriesNumbers& series, const MeanSigma& ms);

// Criterion 13: (close of day 1 - ma) / ma * 100, or -1 when ma or that close is not
// positive.
double deviation_rate(double close, double ma);

// The close of day 1 (0 for a gap day or an empty series).
double latest_close(const Series& series);
double latest_close(const SeriesNumbers& series);

}  // namespace lp::screening
