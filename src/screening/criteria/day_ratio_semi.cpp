#include "screening/criteria/day_ratio_semi.h"

#include <algorithm>
#include <cstdint>

#include "common/numbers.h"
#include "screening/criteria/history_checks.h"

namespace lp::screening {

double previous_day_ratio(std::string_view close, std::string_view previous_close) {
  const std::int64_t cur = round_half_even_i32(parse_number(close));
  const std::int64_t prev = round_half_even_i32(parse_number(previous_close));
  if (cur < 1 || prev < 1) return 0;
  return static_cast<double>(cur - prev) / static_cast<double>(prev) * 100.0;
}

SemiCounts semi_counts(const SeriesNumbers& series, int days) {
  SemiCounts c;
  const int last = std::min(series.count, days);
  for (int i = 1; i <= last; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const double open = series.open[k];
    if (series.high[k] - open > 1) ++c.k;
    if (open - series.low[k] > 1) ++c.u;
  }
  return c;
}

// ---------------------------------------------------------------------------------------
// The routines.

void f_zenjituhi1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  if (!ctx.controls->enabled(n)) return;
  begin_criterion(ctx, n, processing_text(ctx, n));
  const std::string lo_name = indexed("zenjituhi1_txt", 0);
  const std::string hi_name = indexed("zenjituhi1_txt", 1);
  const double lo = parse_number(trimmed_param(ctx, lo_name));
  const double hi = parse_number(trimmed_param(ctx, hi_name));
  filter_rows(ctx, candidates, output, "前日比率", [&](const Candidate& c, std::string& value) {
    const DayRecord* row = day_row(ctx, c);
    if (!row) return Verdict::fail;
    const double ratio = previous_day_ratio(row->close(), row->prev_close());
    if (!(lo <= ratio && ratio <= hi)) return Verdict::fail;
    value = format_decimal(ratio);
    return Verdict::pass;
  });
  finish_criterion(ctx, candidates, output, n);
}

void f_semi1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  if (!ctx.controls->enabled(n)) return;
  begin_criterion(ctx, n, processing_text(ctx, n));
  const int a = round_half_even_i16(parse_number(trimmed_param(ctx, "semi1_kikan_txt")));
  const int lo = round_half_even_i16(parse_number(trimmed_param(ctx, "semi1_min_txt")));
  const int hi = round_half_even_i16(parse_number(trimmed_param(ctx, "semi1_max_txt")));
  const bool count_k = ctx.controls->checked("k1_opt");
  const bool count_u = !count_k && ctx.controls->checked("u1_opt");
  // With neither option selected no count is tested, nothing passes and the column keeps
  // its title.
  const std::string title = count_k ? "ΣK" : count_u ? "ΣU" : candidates.title;
  // Days beyond those held are gap days and count nothing, so loading fewer changes nothing.
  const bool done = filter_numbers(
      ctx, candidates, output, n, std::max(1, cap_days(ctx, a + 31LL)), title,
      [&](const Candidate&, const SeriesNumbers& s, std::string& value) {
        if (!count_k && !count_u) return Verdict::fail;
        const SemiCounts counts = semi_counts(s, a);
        const int x = count_k ? counts.k : counts.u;
        if (!(lo < x && x < hi)) return Verdict::fail;
        value = std::to_string(x);
        return Verdict::pass;
      },
      true);
  if (!done) return;
  finish_criterion(ctx, candidates, output, n);
}

}  // namespace lp::screening
