// Small checks shared by the history criteria: the loaded file belongs to the candidate, the
// day-table row of a candidate, and the bound on a period in trading days.
#pragma once

#include <string>
#include <string_view>

#include "screening/criteria/criterion.h"

namespace lp::screening {

// The loaded file's header code equals the candidate's code (both trimmed).
bool code_matches(std::string_view header_code, std::string_view candidate_code);

// The candidate's day-table row, nullptr when its row number is not a row of the table.
const DayRecord* day_row(const RunContext& ctx, const Candidate& c);

// The largest day count a history load takes.
constexpr int kMaxDayCount = 32767;

// A history load never asks for more days than the database holds nor more than a 16-bit
// day count can say.
int cap_days(const RunContext& ctx, long long days);

// A code mismatch: the text goes into `value` for the frame to show in red, and the
// criterion then ends at once.
Verdict code_mismatch(const std::string& text, std::string& value);

}  // namespace lp::screening
