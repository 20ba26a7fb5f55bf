#include "screening/criteria/range_position.h"

#include <algorithm>

#include "common/numbers.h"
#include "screening/criteria/history_checks.h"

namespace lp::screening {

TradedSpan traded_span(const SeriesNumbers& s, int days) {
  TradedSpan span;
  const int last = std::min(s.count, days);
  for (int i = 1; i <= last; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (s.volume[k] <= 0) continue;
    span.traded = true;
    const double low = s.low[k];
    const double high = s.high[k];
    // The comparison is on the raw price, the kept value the whole-yen one.
    if (low > 0 && low < static_cast<double>(span.low)) span.low = round_half_even(low);
    if (high > static_cast<double>(span.high)) span.high = round_half_even(high);
  }
  return span;
}

double range_position(double price, const TradedSpan& span) {
  if (span.low == span.high) return 0;
  return (price - static_cast<double>(span.low)) / static_cast<double>(span.high - span.low) *
         100.0;
}

RangeRate range_rate(const SeriesNumbers& s, const TradingCalendar& cal, int days) {
  RangeRate r;
  const int last = std::min(s.count, days);
  for (int i = 1; i <= last; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const double low = s.low[k];
    const double high = s.high[k];
    const double close = s.close[k];
    if (low > 0 && low < static_cast<double>(r.low)) {
      r.low = round_half_even(low);
      r.low_date = static_cast<long long>(parse_integer(cal.at(i)));
      r.up = close > s.open[k];
      r.down = !r.up;
    }
    if (high > 0 && high > static_cast<double>(r.high)) {
      r.high = round_half_even(high);
      r.high_date = static_cast<long long>(parse_integer(cal.at(i)));
    }
    if (!r.has_price && close > 0) {
      r.has_price = true;
      r.price = close;
    }
  }
  if (r.has_price) r.rate = static_cast<double>(r.high - r.low) / r.price * 100.0;
  return r;
}

bool direction_passes(const RangeRate& r, bool plus, bool minus) {
  if (plus && (r.high_date > r.low_date || (r.high_date == r.low_date && r.up))) return true;
  if (minus && (r.low_date > r.high_date || (r.low_date == r.high_date && r.down))) return true;
  return false;
}

// ---------------------------------------------------------------------------------------
// The routines.

void f_nehaba1sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  if (n != 4 && n != 5) return;
  if (!ctx.controls->enabled(n)) return;
  const std::string set = n == 4 ? "nehaba1" : "nehaba2";
  const std::string period_name = set + "_kikan_cmb";
  const std::string lo_name = set + "_ageritsu1_txt";
  const std::string hi_name = set + "_ageritsu2_txt";
  begin_criterion(ctx, n, processing_text(ctx, n));
  long long a = round_half_even_i32(parse_number(trimmed_param(ctx, period_name)));
  double lo = parse_number(trimmed_param(ctx, lo_name));
  double hi = parse_number(trimmed_param(ctx, hi_name));
  // The period is bounded by the trading days held, like the other range criteria. Without a
  // day held there is no range: the criterion ends here, as for a negative period, and the
  // user's period stays as typed.
  if (ctx.trading_day_count <= 0) return;
  a = std::min<long long>(a, ctx.trading_day_count);
  a = std::min<long long>(a, kMaxDayCount);
  if (a < 0) return;
  write_back_int(ctx, period_name, a);
  if (!(hi >= lo)) std::swap(lo, hi);
  lo = std::clamp(lo, 0.0, 100.0);
  hi = std::clamp(hi, 0.0, 100.0);
  write_back(ctx, lo_name, lo);
  write_back(ctx, hi_name, hi);

  const int days = static_cast<int>(a);
  const std::string mismatch = std::string("f_nehaba1sel_Error_") + (n == 4 ? "1" : "2") +
                               ":Read Meigara File code is incorrect.";
  const bool done = filter_numbers(
      ctx, candidates, output, n, days, "値上率",
      [&](const Candidate& c, const SeriesNumbers& s, std::string& value) {
        if (!code_matches(s.code, c.code)) return code_mismatch(mismatch, value);
        const TradedSpan span = traded_span(s, days);
        // Without a traded day there is no range to be in.
        if (!span.traded || span.low == kNoLow) return Verdict::fail;
        const DayRecord* row = day_row(ctx, c);
        if (!row) return Verdict::fail;
        const double position = range_position(parse_number(row->close()), span);
        if (!(lo <= position && position <= hi)) return Verdict::fail;
        value = format_decimal(position);
        return Verdict::pass;
      },
      true);
  if (!done) return;
  finish_criterion(ctx, candidates, output, n);
}

void f_nehaba3sel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  if (!ctx.controls->enabled(n)) return;
  begin_criterion(ctx, n, processing_text(ctx, n));
  long long a = round_half_even_i32(parse_number(trimmed_param(ctx, "nehaba3_kikan_txt")));
  double lo = parse_number(trimmed_param(ctx, "nehaba3_nehabaritsu1_txt"));
  double hi = parse_number(trimmed_param(ctx, "nehaba3_nehabaritsu2_txt"));
  const long long limit = std::min<long long>(ctx.trading_day_count, kMaxDayCount - 10);
  if (a > limit) {
    a = limit;
    write_back_int(ctx, "nehaba3_kikan_txt", a);
  }
  if (a < 1) {
    a = 1;
    write_back_int(ctx, "nehaba3_kikan_txt", a);
  }
  if (!(hi >= lo)) std::swap(lo, hi);
  if (lo < 0) lo = 0;
  if (hi < 0) hi = 0;
  write_back(ctx, "nehaba3_nehabaritsu1_txt", lo);
  write_back(ctx, "nehaba3_nehabaritsu2_txt", hi);
  const bool plus = ctx.controls->checked("nehaba3_p_chk");
  const bool minus = ctx.controls->checked("nehaba3_m_chk");

  const int days = static_cast<int>(a);
  const bool done = filter_numbers(
      ctx, candidates, output, n, cap_days(ctx, days + 10), "値幅率",
      [&](const Candidate& c, const SeriesNumbers& s, std::string& value) {
        if (!code_matches(s.code, c.code)) {
          return code_mismatch("f_nehaba3sel_Error:Read Meigara File code is incorrect.", value);
        }
        const RangeRate r = range_rate(s, ctx.calendar, days);
        if (!r.has_price) return Verdict::fail;
        if (!(lo <= r.rate && r.rate <= hi)) return Verdict::fail;
        if (!direction_passes(r, plus, minus)) return Verdict::fail;
        value = format_decimal(r.rate);
        return Verdict::pass;
      },
      true);
  if (!done) return;
  finish_criterion(ctx, candidates, output, n);
}

}  // namespace lp::screening
