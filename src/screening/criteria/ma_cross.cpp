// Moving-average criteria: golden/dead cross (8), long-term golden cross (18) and the narrowing
// gap below a rising long average (40).
#include <cmath>
#include <utility>

#include "common/numbers.h"
#include "screening/criteria/criterion.h"

namespace lp::screening {

int day_count_of(const Series& series) {
  if (series.empty()) return 0;
  long long n = parse_integer(series[0].d6);
  const long long held = static_cast<long long>(series.size()) - 1;
  if (n > held) n = held;
  return n < 0 ? 0 : static_cast<int>(n);
}

double day_close(const Series& series, int i) {
  if (i < 1 || i > day_count_of(series)) return 0;
  return parse_number(series[static_cast<std::size_t>(i)].d5);
}

double day_volume(const Series& series, int i) {
  if (i < 1 || i > day_count_of(series)) return 0;
  return parse_number(series[static_cast<std::size_t>(i)].d6);
}

double moving_average(const Series& series, int start, int period) {
  const int m = day_count_of(series);
  long long last = static_cast<long long>(start) + period - 1;
  if (m < last) last = m;
  if (last < start || start < 1) return 0;
  double sum = 0;
  int c = 0;
  for (long long j = start; j <= last; ++j) {
    const SeriesRecord& r = series[static_cast<std::size_t>(j)];
    if (parse_number(r.d6) > 0) {
      sum += parse_number(r.d5);
      ++c;
    }
  }
  return c == 0 ? 0 : sum / c;
}

double moving_average(const SeriesNumbers& series, int start, int period) {
  const int m = series.count;
  long long last = static_cast<long long>(start) + period - 1;
  if (m < last) last = m;
  if (last < start || start < 1) return 0;
  double sum = 0;
  int c = 0;
  for (long long j = start; j <= last; ++j) {
    const auto k = static_cast<std::size_t>(j);
    if (series.volume[k] > 0) {
      sum += series.close[k];
      ++c;
    }
  }
  return c == 0 ? 0 : sum / c;
}

namespace {

// A period control: real, above `max` becomes `max`, 0 or less becomes 1.
double clamp_period(double v, double max) {
  if (v > max) return max;
  if (v <= 0) return 1;
  return v;
}

struct CrossParams {
  int within;   // A
  int short_p;  // B
  int long_p;   // C
  int day_count;
};

// Reads, clamps and writes back A (days within), B and C (the two periods) of criteria 8 and 18.
CrossParams read_cross_params(RunContext& ctx, const std::string& a_name, const std::string& b_name,
                              const std::string& c_name) {
  std::int16_t a = round_half_even_i16(parse_number(trimmed_param(ctx, a_name)));
  double b = clamp_period(parse_number(trimmed_param(ctx, b_name)), 450);
  double c = clamp_period(parse_number(trimmed_param(ctx, c_name)), 450);
  if (a > 50) a = 50;
  if (a < 1) a = 1;
  if (c < b) std::swap(b, c);
  write_back_int(ctx, a_name, a);
  write_back(ctx, b_name, b);
  write_back(ctx, c_name, c);
  return {a, round_half_even_i16(b), round_half_even_i16(c), round_half_even_i16(a + c + 10)};
}

enum class CrossKind { none, golden, dead };

bool crossed(const SeriesNumbers& s, const CrossParams& p, CrossKind kind) {
  if (kind == CrossKind::none) return false;
  const double ma1_then = moving_average(s, p.within, p.short_p);
  const double ma1_now = moving_average(s, 1, p.short_p);
  const double ma2_then = moving_average(s, p.within, p.long_p);
  const double ma2_now = moving_average(s, 1, p.long_p);
  if (!(ma1_then > 0 && ma1_now > 0 && ma2_then > 0 && ma2_now > 0)) return false;
  if (kind == CrossKind::golden) return ma1_then < ma2_then && ma1_now >= ma2_now;
  return ma1_then > ma2_then && ma1_now <= ma2_now;
}

void run_cross(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n,
               const CrossParams& p, CrossKind kind) {
  filter_numbers(ctx, candidates, output, n, p.day_count, "-",
                 [&](const Candidate&, const SeriesNumbers& s, std::string& value) {
                   if (!crossed(s, p, kind)) return Verdict::fail;
                   value.assign(1, '-');
                   return Verdict::pass;
                 });
  finish_criterion(ctx, candidates, output, n);
}

}  // namespace

void f_gcdcsel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  begin_criterion(ctx, n, processing_text(ctx, n));
  const CrossParams p = read_cross_params(ctx, indexed("gcdc_txt", 0), indexed("gcdc_txt", 1),
                                          indexed("gcdc_txt", 2));
  CrossKind kind = CrossKind::none;
  if (ctx.controls->checked(indexed("gc_dc_opt", 0))) {
    kind = CrossKind::golden;
  } else if (ctx.controls->checked(indexed("gc_dc_opt", 1))) {
    kind = CrossKind::dead;
  }
  run_cross(ctx, candidates, output, n, p, kind);
}

void f_kairi2sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  begin_criterion(ctx, n, processing_text(ctx, n));
  const CrossParams p = read_cross_params(ctx, indexed("kairi2_txt", 2), indexed("kairi2_txt", 0),
                                          indexed("kairi2_txt", 1));
  run_cross(ctx, candidates, output, n, p, CrossKind::golden);
}

void f_kairi1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  begin_criterion(ctx, n, processing_text(ctx, n));
  const std::string b_name = indexed("kairi1_cmb", 0);
  const std::string c_name = indexed("kairi1_cmb", 1);
  double b = clamp_period(parse_number(trimmed_param(ctx, b_name)), 250);
  double c = clamp_period(parse_number(trimmed_param(ctx, c_name)), 250);
  if (c < b) std::swap(b, c);
  write_back(ctx, b_name, b);
  write_back(ctx, c_name, c);
  const int pb = round_half_even_i16(b);
  const int pc = round_half_even_i16(c);
  filter_numbers(ctx, candidates, output, n, round_half_even_i16(c + 10), "-",
                 [&](const Candidate&, const SeriesNumbers& s, std::string& value) {
                   const double ma1_now = moving_average(s, 1, pb);
                   const double ma1_prev = moving_average(s, 2, pb);
                   const double ma2_now = moving_average(s, 1, pc);
                   const double ma2_prev = moving_average(s, 2, pc);
                   if (!(ma1_now > 0 && ma1_prev > 0)) return Verdict::fail;
                   if (!(ma1_prev < ma2_prev)) return Verdict::fail;
                   if (!(std::fabs(ma1_now - ma2_now) <= std::fabs(ma1_prev - ma2_prev)))
                     return Verdict::fail;
                   if (!(ma2_now >= ma2_prev)) return Verdict::fail;
                   value.assign(1, '-');
                   return Verdict::pass;
                 });
  finish_criterion(ctx, candidates, output, n);
}

}  // namespace lp::screening
