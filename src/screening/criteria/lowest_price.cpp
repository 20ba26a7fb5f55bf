#include "screening/criteria/lowest_price.h"

#include <algorithm>

#include "common/numbers.h"
#include "screening/criteria/history_checks.h"

namespace lp::screening {

LowestDay lowest_traded_low(const SeriesNumbers& s, int days) {
  LowestDay best;
  const int last = std::min(s.count, days);
  for (int i = 1; i <= last; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (s.volume[k] <= 0) continue;
    const std::int64_t low = round_half_even(s.low[k]);
    if (low > 0 && low < best.low) {
      best.low = low;
      best.day = i;
    }
  }
  return best;
}

std::int64_t lowest_low(const SeriesNumbers& s, int days) {
  std::int64_t best = kNoLow;
  const int last = std::min(s.count, days);
  for (int i = 1; i <= last; ++i) {
    const std::int64_t low = round_half_even(s.low[static_cast<std::size_t>(i)]);
    if (low > 0 && low < best) best = low;
  }
  return best;
}

double rise_from_low(std::int64_t price, std::int64_t low) {
  if (low == 0) return 0;
  return static_cast<double>(price - low) / static_cast<double>(low) * 100.0;
}

// ---------------------------------------------------------------------------------------
// The routines.

void f_yasune1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  begin_criterion(ctx, n, "最安値日による銘柄選択：処理中");
  long long a = round_half_even_i32(parse_number(trimmed_param(ctx, "yasune1_kikan_cmb")));
  long long b = round_half_even_i32(parse_number(trimmed_param(ctx, "yasune1_kikan_txt")));
  if (a < 0) a = 0;
  if (b < 0) b = 0;
  a = std::min<long long>(a, kMaxDayCount);
  // Bounded by the days held; an empty database holds none and leaves the user's period alone.
  if (ctx.trading_day_count > 0) a = std::min<long long>(a, ctx.trading_day_count);
  if (a < b) b = a;
  write_back_int(ctx, "yasune1_kikan_cmb", a);
  write_back_int(ctx, "yasune1_kikan_txt", b);

  const int days = static_cast<int>(a);
  const bool done = filter_numbers(
      ctx, candidates, output, n, days, "最安値日付",
      [&](const Candidate& c, const SeriesNumbers& s, std::string& value) {
        if (!code_matches(s.code, c.code)) {
          return code_mismatch("f_yasune1sel_Error:Read Meigara File code is incorrect.", value);
        }
        const LowestDay low = lowest_traded_low(s, days);
        // A stock that never traded at a positive low in the window has no lowest day.
        if (low.day < 1 || low.day > b) return Verdict::fail;
        value = ctx.calendar.at(low.day);  // the day record's date
        return Verdict::pass;
      },
      true);
  if (!done) return;
  finish_criterion(ctx, candidates, output, n);
}

void f_yasune2sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  // An empty database leaves no trace at all.
  if (ctx.trading_day_count <= 0) return;
  begin_criterion(ctx, n, "最安値による銘柄選択：処理中");
  long long a = round_half_even_i32(parse_number(trimmed_param(ctx, "yasune2_kikan_cmb")));
  double lo = parse_number(trimmed_param(ctx, "yasune2_ageritsu1_txt"));
  double hi = parse_number(trimmed_param(ctx, "yasune2_ageritsu2_txt"));
  if (a > ctx.trading_day_count) a = ctx.trading_day_count;
  // The ten days loaded beyond the period must fit the 16-bit day count as well.
  a = std::min<long long>(a, kMaxDayCount - 10);
  if (a < 1) a = 1;
  write_back_int(ctx, "yasune2_kikan_cmb", a);
  if (!(hi >= lo)) std::swap(lo, hi);
  if (lo < 0) lo = 0;
  if (hi < 0) hi = 0;
  write_back(ctx, "yasune2_ageritsu1_txt", lo);
  write_back(ctx, "yasune2_ageritsu2_txt", hi);

  const int days = static_cast<int>(a);
  const bool done = filter_numbers(
      ctx, candidates, output, n, cap_days(ctx, days + 10), "値上率",
      [&](const Candidate& c, const SeriesNumbers& s, std::string& value) {
        if (!code_matches(s.code, c.code)) {
          return code_mismatch("f_yasune2sel_Error:Read Meigara File code is incorrect.", value);
        }
        const DayRecord* row = day_row(ctx, c);
        if (!row) return Verdict::fail;
        const std::int64_t price = round_half_even_i32(parse_number(row->close()));
        const double rise = rise_from_low(price, lowest_low(s, days));
        if (!(lo <= rise && rise <= hi)) return Verdict::fail;
        value = format_decimal(rise);
        return Verdict::pass;
      },
      true);
  if (!done) return;
  finish_criterion(ctx, candidates, output, n);
}

}  // namespace lp::screening
