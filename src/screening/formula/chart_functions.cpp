#include "screening/formula/chart_functions.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "chart/ichimoku.h"
#include "chart/macd.h"
#include "chart/rci.h"
#include "chart/stochastics.h"

namespace lp::formula {

namespace {

const ChartFunctionDef kChartFunctions[] = {
    {"MACD", ChartFunction::macd, 2, 1},       {"MACDSIG", ChartFunction::macdsig, 3, 1},
    {"STOCHK", ChartFunction::stochk, 1, 1},   {"STOCHD", ChartFunction::stochd, 2, 1},
    {"SSTOCHD", ChartFunction::sstochd, 3, 1}, {"RCI", ChartFunction::rci, 1, 2},
    {"TENKAN", ChartFunction::tenkan, 1, 1},   {"KIJUN", ChartFunction::kijun, 1, 1},
    {"SENKOUA", ChartFunction::senkoua, 2, 1}, {"SENKOUB", ChartFunction::senkoub, 1, 1},
};

int clamp_days(long long v) {
  return static_cast<int>(std::min<long long>(v, 1LL << 30));
}

// MACD's exponential averages reach back to their seed: ten times the longest period past it
// leaves the seed a weight below 10^-7 of the value, so reading that far gives the chart's
// value whatever lies further back, without loading the whole history.
int macd_window(int longest, int signal) {
  const long long want = 10LL * (longest + signal);
  return clamp_days(std::min<long long>(want, std::max<long long>(kMaxLookback, longest + signal)));
}

// Days k .. k+len-1 of a field, oldest first (the order the chart's functions read).
void window(const std::vector<double>& field, int k, int len, std::vector<double>& out) {
  out.resize(static_cast<std::size_t>(len));
  for (int j = 0; j < len; ++j) {
    out[static_cast<std::size_t>(len - 1 - j)] = field[static_cast<std::size_t>(k + j)];
  }
}

}  // namespace

const ChartFunctionDef* find_chart_function(std::string_view name) {
  for (const auto& f : kChartFunctions) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

ChartFunctionNeeds chart_function_needs(ChartFunction kind, const std::array<int, 3>& a) {
  ChartFunctionNeeds n;
  const int longest = std::max(a[0], a[1]);
  switch (kind) {
    case ChartFunction::macd:
      n.need = longest;
      n.reads = std::max(n.need, macd_window(longest, 0));
      break;
    case ChartFunction::macdsig:
      n.need = clamp_days(static_cast<long long>(longest) + a[2] - 1);
      n.reads = std::max(n.need, macd_window(longest, a[2]));
      break;
    case ChartFunction::stochk:
    case ChartFunction::rci:
    case ChartFunction::tenkan:
    case ChartFunction::kijun:
      n.need = a[0];
      n.reads = n.need;
      break;
    case ChartFunction::stochd:
      n.need = clamp_days(static_cast<long long>(a[0]) + a[1] - 1);
      n.reads = n.need;
      break;
    case ChartFunction::sstochd:
      n.need = clamp_days(static_cast<long long>(a[0]) + a[1] + a[2] - 2);
      n.reads = n.need;
      break;
    case ChartFunction::senkoua:
      n.need = clamp_days(static_cast<long long>(longest) + chart::kIchimokuOffset);
      n.reads = n.need;
      break;
    case ChartFunction::senkoub:
      n.need = clamp_days(static_cast<long long>(a[0]) + chart::kIchimokuOffset);
      n.reads = n.need;
      break;
  }
  // Every day read costs a few reads (high, low, close and the work on them); RCI sorts.
  const double per_day = kind == ChartFunction::rci ? 2.0 + std::log2(std::max(a[0], 2)) : 3.0;
  n.cost = per_day * n.reads + 1;
  return n;
}

bool evaluate_chart_function(ChartFunction kind, const std::array<int, 3>& a,
                             const TradedDays& days, int k, double& out) {
  if (k < 0) return false;
  const int held = days.count() - k;  // traded days from day k back
  const ChartFunctionNeeds needs = chart_function_needs(kind, a);
  // SENKOUA and SENKOUB read the day 25 traded days back, so need counts those days too.
  if (held < needs.need) return false;
  std::vector<double> h, l, c;
  switch (kind) {
    case ChartFunction::macd:
    case ChartFunction::macdsig: {
      const int len = std::min(held, needs.reads);
      window(days.close, k, len, c);
      const chart::MacdLines m = chart::macd(c, a[0], a[1], kind == ChartFunction::macd ? 1 : a[2]);
      out = kind == ChartFunction::macd ? m.line.back() : m.signal.back();
      break;
    }
    case ChartFunction::stochk:
    case ChartFunction::stochd:
    case ChartFunction::sstochd: {
      window(days.high, k, needs.need, h);
      window(days.low, k, needs.need, l);
      window(days.close, k, needs.need, c);
      const int m = kind == ChartFunction::stochk ? 1 : a[1];
      const int s = kind == ChartFunction::sstochd ? a[2] : 1;
      const chart::StochLines st = chart::stochastics(h, l, c, a[0], m, s);
      out = kind == ChartFunction::stochk   ? st.k.back()
            : kind == ChartFunction::stochd ? st.d.back()
                                            : st.slow_d.back();
      break;
    }
    case ChartFunction::rci: {
      window(days.close, k, a[0], c);
      std::vector<std::size_t> scratch;
      out = chart::rci_of_window(c, scratch);
      break;
    }
    case ChartFunction::tenkan:
    case ChartFunction::kijun:
    case ChartFunction::senkoub: {
      // 先行スパン2 drawn on day k was computed 25 traded days before it.
      const int at = kind == ChartFunction::senkoub ? k + chart::kIchimokuOffset : k;
      window(days.high, at, a[0], h);
      window(days.low, at, a[0], l);
      out = chart::midpoint(h, l, a[0]).back();
      break;
    }
    case ChartFunction::senkoua: {
      const int at = k + chart::kIchimokuOffset;
      const int longest = std::max(a[0], a[1]);
      window(days.high, at, longest, h);
      window(days.low, at, longest, l);
      const chart::IchimokuLines lines = chart::ichimoku(h, l, a[0], a[1], 1);
      out = lines.span_a.back();
      break;
    }
  }
  return chart::defined(out) && std::isfinite(out);
}

}  // namespace lp::formula
