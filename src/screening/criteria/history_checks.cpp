#include "screening/criteria/history_checks.h"

#include <algorithm>

#include "common/numbers.h"

namespace lp::screening {

namespace {

std::string_view trim_view(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

bool code_matches(std::string_view header_code, std::string_view candidate_code) {
  return trim_view(header_code) == trim_view(candidate_code);
}

const DayRecord* day_row(const RunContext& ctx, const Candidate& c) {
  if (!ctx.day_table) return nullptr;
  return ctx.day_table->row(parse_integer(c.row));
}

int cap_days(const RunContext& ctx, long long days) {
  long long d = std::min<long long>(days, ctx.trading_day_count);
  d = std::min<long long>(d, kMaxDayCount);
  return static_cast<int>(std::max<long long>(d, 0));
}

Verdict code_mismatch(const std::string& text, std::string& value) {
  value = text;
  return Verdict::abort;
}

}  // namespace lp::screening
