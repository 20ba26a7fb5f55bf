// The state of a screening run after its universe step, shared by the benchmarks that time one
// step (a criterion or a formula row) over every stock of the sample market's latest day.
#pragma once

#include <string>

#include "bench/bench.h"
#include "screening/controls.h"
#include "screening/criteria/criterion.h"
#include "screening/universe.h"

namespace lp::bench {

struct BenchMarket {
  screening::DayTable table;
  screening::CandidateList all;
  screening::ControlSet controls;
  screening::RunContext ctx;
  screening::CandidateList candidates, output;
  std::string user_folder;
  int trading_days = 0;
  bool ready = false;
};

// Reads the latest day table and the previous-day values once; results go to `user_sub` under
// the market folder.
void prepare_market(const Setup& setup, BenchMarket& m, const std::string& user_sub);

// Ticks step `n` in the market's controls and runs `routine` over every stock; returns the
// number of stocks.
long long run_step(const Setup& setup, BenchMarket& m, screening::CriterionFn routine, int n);

}  // namespace lp::bench
