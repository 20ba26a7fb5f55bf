// Evaluates a compiled formula on one stock's traded days. A node is evaluated at an offset
// (traded days back from the newest); windows evaluate their argument at each offset they
// cover, so any expression may stand where a series does.
#include <algorithm>
#include <cmath>
#include <limits>

#include "common/numbers.h"
#include "pricedb/formats.h"
#include "screening/formula/chart_functions.h"
#include "screening/formula/formula.h"

namespace lp::formula {

namespace {
// A day traded with a volume its source did not give: V there has no value.
double known_volume(double v) {
  return is_unknown_volume(v) ? std::numeric_limits<double>::quiet_NaN() : v;
}
}  // namespace

void TradedDays::clear() {
  held = -1;
  s33 = s17 = std::numeric_limits<double>::quiet_NaN();
  smed = nullptr;
  open.clear();
  high.clear();
  low.clear();
  close.clear();
  volume.clear();
}

void TradedDays::assign(const Series& series) {
  clear();
  const int n = series_count(series);
  for (int i = 1; i <= n && i < static_cast<int>(series.size()); ++i) {
    const SeriesRecord& r = series[static_cast<std::size_t>(i)];
    const double v = parse_number(r.d6);
    if (!(v > 0)) continue;  // a gap day: the stock did not trade
    open.push_back(parse_number(r.d2));
    high.push_back(parse_number(r.d3));
    low.push_back(parse_number(r.d4));
    close.push_back(parse_number(r.d5));
    volume.push_back(known_volume(v));
  }
}

void TradedDays::assign(const SeriesNumbers& series) {
  clear();
  for (int i = 1; i <= series.count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const double v = series.volume[k];
    if (!(v > 0)) continue;  // a gap day: the stock did not trade
    open.push_back(series.open[k]);
    high.push_back(series.high[k]);
    low.push_back(series.low[k]);
    close.push_back(series.close[k]);
    volume.push_back(known_volume(v));
  }
}

const std::vector<double>& TradedDays::of(Field f) const {
  switch (f) {
    case Field::open:
      return open;
    case Field::high:
      return high;
    case Field::low:
      return low;
    case Field::volume:
      return volume;
    case Field::close:
      break;
  }
  return close;
}

namespace {

class Evaluator {
 public:
  Evaluator(const Formula& f, const TradedDays& d, int base = 0)
      : nodes_(f.nodes()), days_(d), count_(d.count()), base_(base) {}

  bool failed = false;

  double ev(int i, int k) {
    if (failed) return 0;
    const Node& n = nodes_[static_cast<std::size_t>(i)];
    double r = 0;
    switch (n.op) {
      case Op::number:
        return n.value;
      case Op::series:
        if (k < 0 || k >= count_) return fail();
        r = days_.of(n.field)[static_cast<std::size_t>(k)];
        break;
      case Op::shift:
        return ev(n.a, k + n.n);
      case Op::neg:
        r = -ev(n.a, k);
        break;
      case Op::not_:
        r = ev(n.a, k) == 0 ? 1 : 0;
        break;
      case Op::add:
      case Op::sub:
      case Op::mul:
      case Op::div:
      case Op::lt:
      case Op::le:
      case Op::gt:
      case Op::ge:
      case Op::eq:
      case Op::ne:
      case Op::and_:
      case Op::or_: {
        // Both sides always: a failure on either side fails the formula.
        const double x = ev(n.a, k);
        const double y = ev(n.b, k);
        r = binary(n.op, x, y);
        break;
      }
      case Op::ma:
      case Op::sum: {
        double s = 0;
        if (const double* x = plain_window(n.a, k, n.n)) {
          // A window over a field: the same additions in the same order, without a call each.
          for (int j = 0; j < n.n; ++j) {
            if (!std::isfinite(x[j])) return fail();
            s += x[j];
          }
        } else {
          for (int j = 0; j < n.n; ++j) s += ev(n.a, k + j);
        }
        r = n.op == Op::ma ? s / n.n : s;
        break;
      }
      case Op::max:
      case Op::min: {
        r = ev(n.a, k);
        for (int j = 1; j < n.n; ++j) {
          const double x = ev(n.a, k + j);
          r = n.op == Op::max ? std::max(r, x) : std::min(r, x);
        }
        break;
      }
      case Op::std:
      case Op::sstd: {
        // Two passes (mean, then squares about it): no cancellation on prices far from 0.
        double s = 0;
        for (int j = 0; j < n.n; ++j) s += ev(n.a, k + j);
        const double mean = s / n.n;
        double q = 0;
        for (int j = 0; j < n.n; ++j) {
          const double x = ev(n.a, k + j) - mean;
          q += x * x;
        }
        r = std::sqrt(q / (n.op == Op::std ? n.n : n.n - 1));
        break;
      }
      case Op::ema: {
        const int first = std::max(nodes_[static_cast<std::size_t>(n.a)].need, 1);
        const int available = count_ - k - first + 1;  // offsets where the argument exists
        if (available < n.n) return fail();
        const int m = std::min(available, 4 * n.n);
        const double alpha = 2.0 / (n.n + 1);
        double e = ev(n.a, k + m - 1);
        for (int j = k + m - 2; j >= k; --j) e += alpha * (ev(n.a, j) - e);
        r = e;
        break;
      }
      case Op::rsi: {
        if (k < 0 || k + n.n >= count_) return fail();
        double up = 0, down = 0;
        for (int j = k; j < k + n.n; ++j) {
          const double d = days_.close[static_cast<std::size_t>(j)] -
                           days_.close[static_cast<std::size_t>(j + 1)];
          if (d > 0) up += d;
          if (d < 0) down -= d;
        }
        if (!(up + down > 0)) return fail();
        r = 100.0 * up / (up + down);
        break;
      }
      case Op::wrsi: {
        // Over the last min(held, 10n) traded days, oldest first: the first n changes give
        // plain means, every later change is smoothed in as (avg * (n - 1) + change) / n.
        if (k < 0 || k + n.n >= count_) return fail();
        const int span = std::min(count_ - k, 10 * n.n);
        const int oldest = k + span - 1;
        double gain = 0, loss = 0;
        for (int j = oldest; j > k; --j) {
          const double d = days_.close[static_cast<std::size_t>(j - 1)] -
                           days_.close[static_cast<std::size_t>(j)];
          const double g = d > 0 ? d : 0, l = d < 0 ? -d : 0;
          const int index = oldest - j;  // 0 for the oldest change
          if (index < n.n) {
            gain += g;
            loss += l;
            if (index == n.n - 1) {
              gain /= n.n;
              loss /= n.n;
            }
          } else {
            gain = (gain * (n.n - 1) + g) / n.n;
            loss = (loss * (n.n - 1) + l) / n.n;
          }
        }
        if (!(gain + loss > 0)) return fail();
        r = 100.0 * gain / (gain + loss);
        break;
      }
      case Op::cross: {
        const double a0 = ev(n.a, k), b0 = ev(n.b, k);
        const double a1 = ev(n.a, k + 1), b1 = ev(n.b, k + 1);
        r = (a0 > b0 && a1 <= b1) ? 1 : 0;
        break;
      }
      case Op::abs:
        r = std::fabs(ev(n.a, k));
        break;
      case Op::days:
        return days_.held >= 0 ? days_.held : count_ - base_;
      case Op::fin: {
        // An undefined figure fails the formula whatever surrounds it, as too few days do.
        if (!days_.fins) return fail();
        double close = 0;
        if (k >= 0 && k < count_) {
          close = days_.close[static_cast<std::size_t>(k)];
        } else if (n.need > 0) {
          return fail();
        }
        const auto v = lp::fins::metric_value(*days_.fins, static_cast<lp::fins::Metric>(n.n),
                                              close, static_cast<int>(n.value));
        if (!v) return fail();
        r = *v;
        break;
      }
      case Op::sector:
        r = n.n == 17 ? days_.s17 : days_.s33;  // NaN without a sector: fails below
        break;
      case Op::smed:
        if (!days_.smed) return fail();
        r = days_.smed[n.n];
        break;
      // --- The chart's indicators.
      case Op::chart_indicator:
        if (!evaluate_chart_function(static_cast<ChartFunction>(n.n), n.args, days_, k, r)) {
          return fail();
        }
        break;
        // --- end of the chart's indicators
    }
    if (!std::isfinite(r)) return fail();
    return r;
  }

 private:
  double fail() {
    failed = true;
    return 0;
  }

  // The values of node i at offsets k .. k + n - 1 when node i reads a field directly and all
  // of them are held; null otherwise (too few days fail through ev as before).
  const double* plain_window(int i, int k, int n) const {
    const Node& node = nodes_[static_cast<std::size_t>(i)];
    if (node.op != Op::series || k < 0 || k + n > count_) return nullptr;
    return days_.of(node.field).data() + k;
  }

  double binary(Op op, double x, double y) {
    switch (op) {
      case Op::add:
        return x + y;
      case Op::sub:
        return x - y;
      case Op::mul:
        return x * y;
      case Op::div:
        if (y == 0) return fail();
        return x / y;
      case Op::lt:
        return x < y;
      case Op::le:
        return x <= y;
      case Op::gt:
        return x > y;
      case Op::ge:
        return x >= y;
      case Op::eq:
        return x == y;
      case Op::ne:
        return x != y;
      case Op::and_:
        return x != 0 && y != 0;
      case Op::or_:
        return x != 0 || y != 0;
      default:
        return 0;
    }
  }

  const std::vector<Node>& nodes_;
  const TradedDays& days_;
  int count_;
  int base_;  // the offset of the day evaluated: the days held as of it are count_ - base_
};

}  // namespace

Evaluation evaluate(const Formula& formula, const TradedDays& days) {
  return evaluate_at(formula, days, 0);
}

Evaluation evaluate_at(const Formula& formula, const TradedDays& days, int offset) {
  Evaluation out;
  if (formula.empty() || offset < 0 || days.count() - offset < formula.lookback()) return out;
  Evaluator e(formula, days, offset);
  const double v = e.ev(static_cast<int>(formula.nodes().size()) - 1, offset);
  if (e.failed) return out;
  out.ok = true;
  out.value = v;
  return out;
}

Evaluation evaluate_node(const Formula& formula, const TradedDays& days, int node) {
  Evaluation out;
  if (node < 0 || node >= static_cast<int>(formula.nodes().size()) ||
      days.count() < formula.nodes()[static_cast<std::size_t>(node)].need) {
    return out;
  }
  Evaluator e(formula, days);
  const double v = e.ev(node, 0);
  if (e.failed) return out;
  out.ok = true;
  out.value = v;
  return out;
}

bool holds_at(const Formula& formula, const TradedDays& days, int offset) {
  if (formula.empty() || offset < 0 || days.count() - offset < formula.lookback()) return false;
  // holds(a AND b) is holds(a) && holds(b): along the root's chain of ANDs the first operand
  // that fails or is 0 answers, and the others need not be evaluated.
  const std::vector<Node>& nodes = formula.nodes();
  int pending[kMaxDepth + 2];
  int top = 0;
  pending[top++] = static_cast<int>(nodes.size()) - 1;
  while (top > 0) {
    const int i = pending[--top];
    const Node& n = nodes[static_cast<std::size_t>(i)];
    if (n.op == Op::and_ && top + 2 <= kMaxDepth + 2) {
      pending[top++] = n.b;
      pending[top++] = n.a;
      continue;
    }
    Evaluator e(formula, days, offset);
    const double v = e.ev(i, offset);
    if (e.failed || v == 0) return false;
  }
  return true;
}

}  // namespace lp::formula
