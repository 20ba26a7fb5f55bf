// Criterion 1: the close of the latest trading day between two bounds in yen. It needs no
// history, so the run puts it first to cut the list down cheaply.
#include <utility>

#include "common/numbers.h"
#include "screening/criteria/criterion.h"

namespace lp::screening {

void f_kabukasel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  std::string progress = ctx.criterion_name(1);
  progress.append("処理中");
  begin_criterion(ctx, n, progress);

  std::int32_t a = round_half_even_i32(parse_number(trimmed_param(ctx, "kabukamin")));
  std::int32_t b = round_half_even_i32(parse_number(trimmed_param(ctx, "kabukamax")));
  if (b < a) std::swap(a, b);
  if (a < 0) a = 0;
  if (b < 0) b = 0;
  write_back_int(ctx, "kabukamax", b);
  write_back_int(ctx, "kabukamin", a);

  const DayTable* table = ctx.day_table;
  filter_rows(ctx, candidates, output, "-", [&](const Candidate& c, std::string& value) {
    const DayRecord* row = table ? table->row(parse_integer(c.row)) : nullptr;
    const std::int64_t p = row ? round_half_even(parse_number(row->close())) : 0;
    if (p == 0 || p < a || p > b) return Verdict::fail;
    value.assign(1, '-');
    return Verdict::pass;
  });
  finish_criterion(ctx, candidates, output, n);
}

}  // namespace lp::screening
