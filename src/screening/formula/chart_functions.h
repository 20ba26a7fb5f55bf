// The chart's indicators in the formula language: MACD, MACDSIG, STOCHK, STOCHD, SSTOCHD, RCI,
// TENKAN, KIJUN, SENKOUA and SENKOUB. Each is the value the chart draws on the day it is read
// for, computed by the chart's own functions (src/chart) over the stock's traded days up to
// that day. Kept apart from the rest of the language so that names added elsewhere merge
// without touching these.
#pragma once

#include <array>
#include <string_view>

#include "screening/formula/formula.h"

namespace lp::formula {

enum class ChartFunction : int {
  macd,
  macdsig,
  stochk,
  stochd,
  sstochd,
  rci,
  tenkan,
  kijun,
  senkoua,
  senkoub,
};

struct ChartFunctionDef {
  const char* name;
  ChartFunction kind;
  int params;     // integer parameters, 1..3
  int min_value;  // the smallest each may be (RCI ranks at least two days)
};

// The function of that name, or null.
const ChartFunctionDef* find_chart_function(std::string_view name);

// Traded days needed for a value at the newest day, traded days read at most, and series reads.
struct ChartFunctionNeeds {
  int need = 0;
  int reads = 0;
  double cost = 1;
};
ChartFunctionNeeds chart_function_needs(ChartFunction kind, const std::array<int, 3>& args);

// The value `k` traded days back from the newest; false when the stock holds too few days.
bool evaluate_chart_function(ChartFunction kind, const std::array<int, 3>& args,
                             const TradedDays& days, int k, double& out);

}  // namespace lp::formula
