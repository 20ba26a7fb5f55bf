// The list files ("sel"+n+".csv", "sel0.csv") and the result file "sel0_out.csv".
#pragma once

#include <string>

#include "common/platform.h"
#include "screening/criteria/criterion.h"

namespace lp::screening {

// Reads a list file (count, date, title, then count records of code, row, value).
// False (list untouched) when it cannot be read.
bool read_list_file(const std::string& path, CandidateList& list);
bool write_list_file(const std::string& path, const CandidateList& list);

// "sel0_out.csv": twelve fields per line, the day-table text copied as held.
bool write_result_out(const std::string& path, const CandidateList& list, const DayTable& table,
                      const YieldFn& yield = {});

}  // namespace lp::screening
