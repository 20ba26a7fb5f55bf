// Formula conditions: a small expression language over one stock's traded days (lexer, parser
// to a compiled form, evaluator). Pure functions of the text and of a loaded series: nothing
// here touches a file, so a run as of any past day evaluates a formula the same way.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "pricedb/fundamentals.h"
#include "pricedb/series.h"

namespace lp::formula {

// Limits that keep any input, however long or deep, to a quick answer or an error.
inline constexpr int kMaxLength = 1000;          // characters of a formula
inline constexpr int kMaxDepth = 64;             // nesting of parentheses, calls and operators
inline constexpr int kMaxPeriod = 5000;          // n of a function, k of [k] / REF
inline constexpr int kMaxLookback = 5000;        // traded days a formula may need
inline constexpr double kMaxCost = 2'000'000.0;  // series reads per stock, whole formula

// An error at a 1-based character position of the text as typed.
struct FormulaError {
  int position = 0;
  std::string message;  // Japanese, e.g. "')' がありません"
  // "12文字目: ')' がありません"
  std::string text() const;
};

// The message of a formula (or a row's formulas together) beyond kMaxCost.
std::string total_cost_text();

enum class Field : std::uint8_t { open, high, low, close, volume };

enum class Op : std::uint8_t {
  number,  // value
  series,  // field at the evaluation offset
  shift,   // a[k]: child evaluated k traded days further back
  neg,
  not_,
  add,
  sub,
  mul,
  div,
  lt,
  le,
  gt,
  ge,
  eq,
  ne,
  and_,
  or_,
  ma,
  ema,
  max,
  min,
  sum,
  std,
  sstd,  // sample standard deviation (n - 1)
  rsi,
  wrsi,  // Wilder's smoothed RSI
  cross,
  abs,
  days,
  // Company results: a point-in-time figure (n: the fins::Metric, value: the column of FIN).
  fin,
  // Sectors: S33 / S17 (n: 33 or 17), the stock's industry code; SMED(x) (n: its
  // slot), the median of x over the stocks of the stock's 33 industry listed on the run's day.
  sector,
  smed,
  // --- The chart's indicators (chart_functions.h): n is the ChartFunction, args its integer
  // parameters.
  chart_indicator,
  // --- end of the chart's indicators
};

struct Node {
  Op op = Op::number;
  Field field = Field::close;
  int a = -1;  // first child (index into the node list)
  int b = -1;  // second child
  int n = 0;   // period of a function, k of a shift
  double value = 0;
  int need = 0;     // traded days this node needs at offset 0
  int reads = 0;    // traded days it reads at most (EMA reads up to 4n)
  double cost = 1;  // series reads per evaluation
  std::array<int, 3> args{};  // the integer parameters of a chart indicator
};

// A formula compiled to a flat tree (children before parents; the root is last).
class Formula {
 public:
  // False and `error` set when the text is not a formula.
  static bool compile(std::string_view text, Formula& out, FormulaError& error);

  // Traded days a stock must hold for the formula to be evaluated at all.
  int lookback() const { return nodes_.empty() ? 0 : nodes_.back().need; }
  // Traded days that determine the value fully (EMA reads beyond its minimum); what a run
  // loads.
  int read_days() const { return nodes_.empty() ? 0 : nodes_.back().reads; }
  // DAYS() counts every traded day held, so such a formula wants the whole history.
  bool uses_days() const { return uses_days_; }
  // Reads company results (PER, FIN(...)): the run looks up the stock's figures.
  bool uses_fins() const { return uses_fins_; }
  // Reads the stock's industry (S33, S17, SMED): the run looks up the sectors.
  bool uses_sectors() const { return uses_sectors_; }
  // The argument node of each SMED, by slot: the run evaluates it on every stock of the day.
  const std::vector<int>& smed_args() const { return smed_args_; }
  bool empty() const { return nodes_.empty(); }
  // Series reads of one evaluation on one stock (the work bound kMaxCost applies to it).
  double cost() const { return nodes_.empty() ? 0 : nodes_.back().cost; }
  const std::vector<Node>& nodes() const { return nodes_; }

 private:
  friend class Parser;
  std::vector<Node> nodes_;
  bool uses_days_ = false;
  bool uses_fins_ = false;
  bool uses_sectors_ = false;
  std::vector<int> smed_args_;
};

// A stock's traded days (volume > 0) newest first: index 0 is the newest traded day. A day
// of unknown volume is traded, and its volume is NaN: a formula reading it fails.
struct TradedDays {
  std::vector<double> open, high, low, close, volume;
  int count() const { return static_cast<int>(close.size()); }
  void clear();
  // From a loaded series (record 0 header, 1..count calendar days newest first; a gap day
  // has volume 0 and is skipped).
  void assign(const Series& series);
  void assign(const SeriesNumbers& series);
  const std::vector<double>& of(Field f) const;
  // The stock's results figures as of the run's day; null when it has none (every results
  // name is then undefined).
  const lp::fins::Figures* fins = nullptr;
  // The stock's 33 and 17 industry codes as numbers (NaN: no master named it), and the
  // industry medians of the formula's SMED slots (NaN where undefined; null: none computed).
  double s33 = std::numeric_limits<double>::quiet_NaN();
  double s17 = std::numeric_limits<double>::quiet_NaN();
  const double* smed = nullptr;
  // The traded days the stock holds in all, when a run counted them without loading them
  // (what DAYS() gives); -1: count() is all it holds. Reset by clear() and assign().
  int held = -1;
};

struct Evaluation {
  bool ok = false;  // false: too few traded days, a division by zero or no finite value
  double value = 0;
};

// The formula's value on `days`. Any failure anywhere fails the whole formula (AND and OR
// do not short-circuit past it).
Evaluation evaluate(const Formula& formula, const TradedDays& days);

// The value of one node of the formula (an SMED's argument) at the newest traded day.
Evaluation evaluate_node(const Formula& formula, const TradedDays& days, int node);

// The same as of an older traded day: `offset` traded days back from the newest, as if the
// days newer than it did not exist (the backtest evaluates one whole history day by day).
Evaluation evaluate_at(const Formula& formula, const TradedDays& days, int offset);

// holds(evaluate_at(...)), quicker: the operands of the root's ANDs are evaluated one by one
// and the first that does not hold answers.
bool holds_at(const Formula& formula, const TradedDays& days, int offset);

// True when the formula holds: evaluated and not 0.
inline bool holds(const Evaluation& e) {
  return e.ok && e.value != 0;
}

}  // namespace lp::formula
