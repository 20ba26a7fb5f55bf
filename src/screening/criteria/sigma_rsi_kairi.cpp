#include "screening/criteria/sigma_rsi_kairi.h"

#include <algorithm>
#include <cmath>

#include "common/numbers.h"
#include "screening/criteria/history_checks.h"

namespace lp::screening {

namespace {

double close_of(const Series& series, int day) {
  return parse_number(series[static_cast<std::size_t>(day)].d5);
}
double close_of(const SeriesNumbers& series, int day) {
  return series.close[static_cast<std::size_t>(day)];
}
int days_held(const Series& series) {
  return day_count_of(series);
}
int days_held(const SeriesNumbers& series) {
  return series.count;
}

// The measures read only closes: one body for the text and the numbers of a load.
template <class S>
MeanSigma mean_and_sigma_of(const S& series, int s, int count) {
  MeanSigma out;
  if (s < 1 || count < 1) return out;
  const int last = std::min(days_held(series), s + count - 1);
  long double sum = 0;
  int j = 0;
  for (int i = s; i <= last; ++i) {
    const double c = close_of(series, i);
    if (c > 0) {
      sum += c;
      ++j;
    }
  }
  if (j == 0) return out;
  out.mean = sum / j;
  long double squares = 0;
  int k = 0;
  for (int i = s; i <= last; ++i) {
    const long double c = close_of(series, i);
    if (c > 0) {
      squares += (out.mean - c) * (out.mean - c);
      ++k;
    }
  }
  if (!(squares > 0) || k == 0) return out;
  out.sigma = std::sqrt(squares / k);
  out.status = 0;
  return out;
}

template <class S>
RsiValue rsi_value_of(const S& series, int s, int count) {
  RsiValue out;
  if (s < 1 || count < 1) return out;
  // Day i+1 must be loaded, so the last i is one before the last loaded day.
  const int last = std::min(days_held(series) - 1, s + count - 1);
  double up = 0;
  double down = 0;
  int j = 0;
  for (int i = s; i <= last; ++i) {
    const double newer = close_of(series, i);
    const double older = close_of(series, i + 1);
    if (newer <= 0 || older <= 0) continue;
    ++j;
    if (newer > older) up += newer - older;
    if (newer < older) down += older - newer;
  }
  if (!(up + down > 0) || j == 0) return out;
  out.rsi = 100.0 * (up / j) / ((up / j) + (down / j));
  out.status = 0;
  return out;
}

template <class S>
double latest_close_of(const S& series) {
  return days_held(series) >= 1 ? close_of(series, 1) : 0.0;
}

}  // namespace

MeanSigma mean_and_sigma(const Series& series, int s, int count) {
  return mean_and_sigma_of(series, s, count);
}
MeanSigma mean_and_sigma(const SeriesNumbers& series, int s, int count) {
  return mean_and_sigma_of(series, s, count);
}

RsiValue rsi_value(const Series& series, int s, int count) {
  return rsi_value_of(series, s, count);
}
RsiValue rsi_value(const SeriesNumbers& series, int s, int count) {
  return rsi_value_of(series, s, count);
}

double latest_close(const Series& series) {
  return latest_close_of(series);
}
double latest_close(const SeriesNumbers& series) {
  return latest_close_of(series);
}

double sigma_units(const Series& series, const MeanSigma& ms) {
  return static_cast<double>((latest_close(series) - ms.mean) / ms.sigma);
}
double sigma_units(const SeriesNumbers& series, const MeanSigma& ms) {
  return static_cast<double>((latest_close(series) - ms.mean) / ms.sigma);
}

double deviation_rate(double close, double ma) {
  if (ma > 0 && close > 0) return (close - ma) / ma * 100.0;
  return -1;
}

// ---------------------------------------------------------------------------------------
// The routines. Their bounds are neither clamped nor reordered: bounds given in reverse
// keep nothing. A period beyond the days held loads what is held, which is all the
// measures would see anyway.

void f_std_dev1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  begin_criterion(ctx, n, processing_text(ctx, n));
  const int a = round_half_even_i16(parse_number(ctx.controls->text("std_dev1_cmb")));
  const double lo = parse_number(trimmed_param(ctx, indexed("dev1_txt", 0)));
  const double hi = parse_number(trimmed_param(ctx, indexed("dev1_txt", 1)));
  const bool done =
      filter_numbers(ctx, candidates, output, n, std::max(1, cap_days(ctx, a)), "偏差",
                     [&](const Candidate&, const SeriesNumbers& s, std::string& value) {
                       const MeanSigma ms = mean_and_sigma(s, 1, a);
                       if (ms.status != 0) return Verdict::fail;
                       const double z = sigma_units(s, ms);
                       if (!(lo <= z && z <= hi)) return Verdict::fail;
                       value = format_decimal(z);
                       return Verdict::pass;
                     });
  if (!done) return;
  finish_criterion(ctx, candidates, output, n);
}

void f_rsi1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  begin_criterion(ctx, n, processing_text(ctx, n));
  const int a = round_half_even_i16(parse_number(ctx.controls->text("rsi1_kikan_cmb")));
  const double lo = parse_number(trimmed_param(ctx, "rsi1_min_txt"));
  const double hi = parse_number(trimmed_param(ctx, "rsi1_max_txt"));
  const bool done =
      filter_numbers(ctx, candidates, output, n, std::max(1, cap_days(ctx, a + 1LL)), "RSI",
                     [&](const Candidate&, const SeriesNumbers& s, std::string& value) {
                       const RsiValue r = rsi_value(s, 1, a);
                       if (r.status != 0) return Verdict::fail;
                       if (!(lo <= r.rsi && r.rsi <= hi)) return Verdict::fail;
                       value = format_decimal(r.rsi);
                       return Verdict::pass;
                     });
  if (!done) return;
  finish_criterion(ctx, candidates, output, n);
}

void f_kairi3sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  if (!ctx.controls->enabled(n)) return;
  begin_criterion(ctx, n, processing_text(ctx, n));
  const int a = round_half_even_i16(parse_number(trimmed_param(ctx, "kairi3_cmb")));
  const double lo = parse_number(trimmed_param(ctx, "kairi3_min_txt"));
  const double hi = parse_number(trimmed_param(ctx, "kairi3_max_txt"));
  const bool done =
      filter_numbers(ctx, candidates, output, n, std::max(1, cap_days(ctx, a + 30LL)), "乖離率",
                     [&](const Candidate&, const SeriesNumbers& s, std::string& value) {
                       // Judged on the rate in every case: without a positive average or close it
                       // is -1.
                       const double rate = deviation_rate(latest_close(s), moving_average(s, 1, a));
                       if (!(lo <= rate && rate <= hi)) return Verdict::fail;
                       value = format_decimal(rate);
                       return Verdict::pass;
                     });
  if (!done) return;
  finish_criterion(ctx, candidates, output, n);
}

}  // namespace lp::screening
