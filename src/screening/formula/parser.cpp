// Recursive descent over the tokens into the flat node list of a Formula. Precedence, from
// the tightest: unary (-, NOT), * /, + -, comparisons, AND, OR. Every node records what it
// needs (traded days, reads, cost) as it is built, so a compiled formula knows its look-back.
#include <algorithm>
#include <cmath>

#include "screening/formula/chart_functions.h"
#include "screening/formula/formula.h"
#include "screening/formula/lexer.h"

namespace lp::formula {

std::string FormulaError::text() const {
  return std::to_string(position) + "文字目: " + message;
}

namespace {

struct FunctionDef {
  const char* name;
  Op op;
  int series_args;  // expression arguments before the period
  bool period;      // takes an integer period (or k for REF)
};

const FunctionDef kFunctions[] = {
    {"MA", Op::ma, 1, true},      {"EMA", Op::ema, 1, true},      {"MAX", Op::max, 1, true},
    {"MIN", Op::min, 1, true},    {"SUM", Op::sum, 1, true},      {"STD", Op::std, 1, true},
    {"SSTD", Op::sstd, 1, true},  {"RSI", Op::rsi, 0, true},      {"WRSI", Op::wrsi, 0, true},
    {"REF", Op::shift, 1, true},  {"CROSS", Op::cross, 2, false}, {"ABS", Op::abs, 1, false},
    {"DAYS", Op::days, 0, false},
};

const FunctionDef* find_function(const std::string& name) {
  for (const auto& f : kFunctions) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

std::string arguments_text(const FunctionDef& f) {
  const int count = f.series_args + (f.period ? 1 : 0);
  if (count == 0) return std::string(f.name) + "() は引数をとりません";
  return std::string(f.name) + " には引数が" + std::to_string(count) + "つ必要です";
}

int clamp_days(long long v) {
  return static_cast<int>(std::min<long long>(v, 1LL << 30));
}

}  // namespace

std::string total_cost_text() {
  return "式全体の計算が多すぎます（1銘柄あたり" +
         std::to_string(static_cast<long long>(kMaxCost / 10000)) +
         "万回まで）。期間を短くするか、同じ計算の繰り返しを減らしてください";
}

class Parser {
 public:
  Parser(const std::vector<Token>& tokens, Formula& out) : t_(tokens), f_(out) {}

  bool parse(FormulaError& error) {
    int root = -1;
    if (cur().kind == Tok::end) return fail(error, cur().pos, "式がありません");
    if (!parse_or(root, error)) return false;
    if (cur().kind != Tok::end) {
      if (cur().kind == Tok::rparen) return fail(error, cur().pos, "')' が多すぎます");
      return fail(error, cur().pos, "'" + cur().text + "' の前に演算子がありません");
    }
    const Node& r = f_.nodes_.back();
    if (r.need > kMaxLookback || r.reads > kMaxLookback) {
      return fail(error, 1, "必要な日数が多すぎます（" + std::to_string(kMaxLookback) + "日まで）");
    }
    // Each function is bounded as it is read; the bound holds for the formula as a whole,
    // or many bounded parts joined by AND would still take minutes per run.
    if (r.cost > kMaxCost) return fail(error, 1, total_cost_text());
    return true;
  }

 private:
  const Token& cur() const { return t_[p_]; }
  void advance() {
    if (t_[p_].kind != Tok::end) ++p_;
  }
  static bool fail(FormulaError& e, int pos, std::string message) {
    e.position = pos;
    e.message = std::move(message);
    return false;
  }

  int add(Node n) {
    f_.nodes_.push_back(n);
    return static_cast<int>(f_.nodes_.size()) - 1;
  }
  const Node& at(int i) const { return f_.nodes_[static_cast<std::size_t>(i)]; }

  bool check_cost(int node, int pos, FormulaError& e) {
    if (at(node).cost > kMaxCost) return fail(e, pos, "計算が多すぎます（期間を短くしてください）");
    return true;
  }

  int binary(Op op, int a, int b) {
    Node n;
    n.op = op;
    n.a = a;
    n.b = b;
    n.need = std::max(at(a).need, at(b).need);
    n.reads = std::max(at(a).reads, at(b).reads);
    n.cost = at(a).cost + at(b).cost + 1;
    return add(n);
  }

  // Depth guard around every recursive rule.
  struct Depth {
    explicit Depth(int& d) : d_(d) { ++d_; }
    ~Depth() { --d_; }
    int& d_;
  };
  bool too_deep(FormulaError& e) {
    if (depth_ > kMaxDepth)
      return !fail(e, cur().pos, "式が深すぎます（" + std::to_string(kMaxDepth) + "段まで）");
    return false;
  }

  bool parse_or(int& out, FormulaError& e) {
    if (!parse_and(out, e)) return false;
    while (cur().kind == Tok::or_) {
      advance();
      int rhs = -1;
      if (!parse_and(rhs, e)) return false;
      out = binary(Op::or_, out, rhs);
    }
    return true;
  }

  bool parse_and(int& out, FormulaError& e) {
    if (!parse_cmp(out, e)) return false;
    while (cur().kind == Tok::and_) {
      advance();
      int rhs = -1;
      if (!parse_cmp(rhs, e)) return false;
      out = binary(Op::and_, out, rhs);
    }
    return true;
  }

  bool parse_cmp(int& out, FormulaError& e) {
    if (!parse_add(out, e)) return false;
    for (;;) {
      Op op;
      switch (cur().kind) {
        case Tok::lt:
          op = Op::lt;
          break;
        case Tok::le:
          op = Op::le;
          break;
        case Tok::gt:
          op = Op::gt;
          break;
        case Tok::ge:
          op = Op::ge;
          break;
        case Tok::eq:
          op = Op::eq;
          break;
        case Tok::ne:
          op = Op::ne;
          break;
        default:
          return true;
      }
      advance();
      int rhs = -1;
      if (!parse_add(rhs, e)) return false;
      out = binary(op, out, rhs);
    }
  }

  bool parse_add(int& out, FormulaError& e) {
    if (!parse_mul(out, e)) return false;
    while (cur().kind == Tok::plus || cur().kind == Tok::minus) {
      const Op op = cur().kind == Tok::plus ? Op::add : Op::sub;
      advance();
      int rhs = -1;
      if (!parse_mul(rhs, e)) return false;
      out = binary(op, out, rhs);
    }
    return true;
  }

  bool parse_mul(int& out, FormulaError& e) {
    if (!parse_unary(out, e)) return false;
    while (cur().kind == Tok::star || cur().kind == Tok::slash) {
      const Op op = cur().kind == Tok::star ? Op::mul : Op::div;
      advance();
      int rhs = -1;
      if (!parse_unary(rhs, e)) return false;
      out = binary(op, out, rhs);
    }
    return true;
  }

  bool parse_unary(int& out, FormulaError& e) {
    Depth d(depth_);
    if (too_deep(e)) return false;
    if (cur().kind == Tok::minus || cur().kind == Tok::not_ || cur().kind == Tok::plus) {
      const Tok k = cur().kind;
      advance();
      int child = -1;
      if (!parse_unary(child, e)) return false;
      if (k == Tok::plus) {
        out = child;
        return true;
      }
      Node n = at(child);
      n.op = k == Tok::minus ? Op::neg : Op::not_;
      n.a = child;
      n.b = -1;
      n.cost = at(child).cost + 1;
      out = add(n);
      return true;
    }
    return parse_postfix(out, e);
  }

  // An integer literal in 0..kMaxPeriod (min_value 1 for periods).
  bool parse_count(int& value, int min_value, const char* what, FormulaError& e) {
    const Token& t = cur();
    if (t.kind != Tok::number || t.text.find('.') != std::string::npos || t.value < min_value ||
        t.value > kMaxPeriod) {
      return fail(e, t.pos,
                  std::string(what) + "は" + std::to_string(min_value) + "から" +
                      std::to_string(kMaxPeriod) + "までの整数で書きます");
    }
    value = static_cast<int>(t.value);
    advance();
    return true;
  }

  int shift(int child, int k) {
    Node n = at(child);
    n.op = Op::shift;
    n.a = child;
    n.b = -1;
    n.n = k;
    // A constant has no days to shift.
    if (n.need > 0) n.need = clamp_days(static_cast<long long>(n.need) + k);
    if (n.reads > 0) n.reads = clamp_days(static_cast<long long>(n.reads) + k);
    n.cost = at(child).cost + 1;
    return add(n);
  }

  bool parse_postfix(int& out, FormulaError& e) {
    if (!parse_primary(out, e)) return false;
    while (cur().kind == Tok::lbracket) {
      advance();
      int k = 0;
      if (!parse_count(k, 0, "[ ] の中", e)) return false;
      if (cur().kind != Tok::rbracket) return fail(e, cur().pos, "']' がありません");
      advance();
      out = shift(out, k);
    }
    return true;
  }

  bool expect_close(FormulaError& e) {
    if (cur().kind != Tok::rparen) return fail(e, cur().pos, "')' がありません");
    advance();
    return true;
  }

  bool parse_primary(int& out, FormulaError& e) {
    const Token& t = cur();
    switch (t.kind) {
      case Tok::number: {
        Node n;
        n.op = Op::number;
        n.value = t.value;
        n.cost = 1;
        out = add(n);
        advance();
        return true;
      }
      case Tok::lparen: {
        advance();
        if (!parse_or(out, e)) return false;
        return expect_close(e);
      }
      case Tok::name:
        return parse_name(out, e);
      case Tok::end:
        return fail(e, t.pos, "式が途中で終わっています");
      default:
        return fail(e, t.pos, "'" + t.text + "' の前に数値または系列がありません");
    }
  }

  bool parse_name(int& out, FormulaError& e) {
    const Token t = cur();
    advance();
    static const std::pair<const char*, Field> series[] = {{"O", Field::open},
                                                           {"H", Field::high},
                                                           {"L", Field::low},
                                                           {"C", Field::close},
                                                           {"V", Field::volume}};
    for (const auto& [name, field] : series) {
      if (t.text == name) {
        Node n;
        n.op = Op::series;
        n.field = field;
        n.need = 1;
        n.reads = 1;
        n.cost = 1;
        out = add(n);
        return true;
      }
    }
    if (t.text == "FIN" || t.text == "FY" || lp::fins::metric_of(t.text, metric_)) {
      return parse_fin(t, out, e);
    }
    if (t.text == "S33" || t.text == "S17" || t.text == "SMED") return parse_sector(t, out, e);
    if (const ChartFunctionDef* chart = find_chart_function(t.text)) {
      return parse_chart_function(t, *chart, out, e);
    }
    const FunctionDef* def = find_function(t.text);
    if (!def) return fail(e, t.pos, "'" + t.text + "' という名前はありません");
    if (cur().kind != Tok::lparen) return fail(e, cur().pos, t.text + " の後に '(' がありません");
    advance();

    int args[2] = {-1, -1};
    for (int i = 0; i < def->series_args; ++i) {
      if (i > 0) {
        if (cur().kind != Tok::comma) {
          if (cur().kind == Tok::rparen) return fail(e, cur().pos, arguments_text(*def));
          return fail(e, cur().pos, "',' がありません");
        }
        advance();
      }
      if (cur().kind == Tok::rparen) return fail(e, cur().pos, arguments_text(*def));
      if (!parse_or(args[i], e)) return false;
    }
    int period = 0;
    if (def->period) {
      if (def->series_args > 0) {
        if (cur().kind != Tok::comma) {
          if (cur().kind == Tok::rparen) return fail(e, cur().pos, arguments_text(*def));
          return fail(e, cur().pos, "',' がありません");
        }
        advance();
      }
      if (cur().kind == Tok::rparen) return fail(e, cur().pos, arguments_text(*def));
      if (def->op == Op::shift) {
        if (!parse_count(period, 0, "REF の日数", e)) return false;
      } else if (!parse_count(period, def->op == Op::sstd ? 2 : 1, "期間", e)) {
        return false;
      }
    }
    if (cur().kind == Tok::comma || (def->series_args == 0 && !def->period &&
                                     cur().kind != Tok::rparen && cur().kind != Tok::end)) {
      return fail(e, cur().pos, arguments_text(*def));
    }
    if (!expect_close(e)) return false;

    if (def->op == Op::shift) {
      out = shift(args[0], period);
      return check_cost(out, t.pos, e);
    }
    Node n;
    n.op = def->op;
    n.a = args[0];
    n.b = args[1];
    n.n = period;
    const long long x_need = args[0] >= 0 ? std::max(at(args[0]).need, 1) : 1;
    const long long x_reads = args[0] >= 0 ? std::max(at(args[0]).reads, 1) : 1;
    const double x_cost = args[0] >= 0 ? at(args[0]).cost : 1;
    switch (def->op) {
      case Op::ma:
      case Op::max:
      case Op::min:
      case Op::sum:
      case Op::std:
      case Op::sstd:
        n.need = clamp_days(x_need + period - 1);
        n.reads = clamp_days(x_reads + period - 1);
        n.cost = x_cost * period * (def->op == Op::std || def->op == Op::sstd ? 2 : 1) + 1;
        break;
      case Op::ema:
        // At least n values to start from; up to 4n make the value independent of the load.
        n.need = clamp_days(x_need + period - 1);
        n.reads = clamp_days(x_reads + 4LL * period - 1);
        n.cost = x_cost * 4.0 * period + 1;
        break;
      case Op::rsi:
        n.need = clamp_days(period + 1LL);
        n.reads = n.need;
        n.cost = 2.0 * period + 1;
        break;
      case Op::wrsi:
        // Defined from n + 1 traded days; the smoothing runs over up to 10n of them.
        n.need = clamp_days(period + 1LL);
        n.reads = clamp_days(std::max(10LL * period, period + 1LL));
        n.cost = 2.0 * n.reads + 1;
        break;
      case Op::cross: {
        const long long need = std::max({at(args[0]).need, at(args[1]).need, 1});
        const long long reads = std::max({at(args[0]).reads, at(args[1]).reads, 1});
        n.need = clamp_days(need + 1);
        n.reads = clamp_days(reads + 1);
        n.cost = 2 * (at(args[0]).cost + at(args[1]).cost) + 1;
        break;
      }
      case Op::abs:
        n.need = at(args[0]).need;
        n.reads = at(args[0]).reads;
        n.cost = x_cost + 1;
        break;
      case Op::days:
        f_.uses_days_ = true;
        n.need = 0;
        n.reads = 0;
        n.cost = 1;
        break;
      default:
        break;
    }
    out = add(n);
    return check_cost(out, t.pos, e);
  }

  // --- Company results: PER, PBR, ... and FIN(name) -------------------------------------
  bool parse_fin(const Token& t, int& out, FormulaError& e) {
    Node n;
    n.op = Op::fin;
    n.value = -1;
    if (t.text == "FIN" || t.text == "FY") {
      if (cur().kind != Tok::lparen) return fail(e, cur().pos, t.text + " の後に '(' がありません");
      advance();
      const Token field = cur();
      if (field.kind != Tok::name) return fail(e, field.pos, t.text + " には決算の項目名が必要です");
      const int col = lp::fins::column_of(field.text);
      if (!lp::fins::is_value_column(col)) {
        return fail(e, field.pos, "'" + field.text + "' という決算の項目はありません");
      }
      advance();
      if (!expect_close(e)) return false;
      n.n = static_cast<int>(t.text == "FY" ? lp::fins::Metric::fy : lp::fins::Metric::fin);
      n.value = col;
    } else {
      n.n = static_cast<int>(metric_);
    }
    // Price ratios read the close of the day they are evaluated on.
    n.need = lp::fins::metric_on_close(static_cast<lp::fins::Metric>(n.n)) ? 1 : 0;
    n.reads = n.need;
    n.cost = 1;
    f_.uses_fins_ = true;
    out = add(n);
    return true;
  }
  lp::fins::Metric metric_ = lp::fins::Metric::per;

  // --- Sectors: S33, S17 and SMED(x) ---------------------------------------------------
  bool parse_sector(const Token& t, int& out, FormulaError& e) {
    f_.uses_sectors_ = true;
    Node n;
    n.cost = 1;
    if (t.text != "SMED") {
      n.op = Op::sector;
      n.n = t.text == "S17" ? 17 : 33;
      out = add(n);
      return true;
    }
    if (in_smed_) return fail(e, t.pos, "SMED の中に SMED は書けません");
    if (cur().kind != Tok::lparen) return fail(e, cur().pos, "SMED の後に '(' がありません");
    advance();
    if (cur().kind == Tok::rparen) return fail(e, cur().pos, "SMED には引数が1つ必要です");
    int arg = -1;
    in_smed_ = true;
    const bool ok = parse_or(arg, e);
    in_smed_ = false;
    if (!ok) return false;
    if (cur().kind == Tok::comma) return fail(e, cur().pos, "SMED には引数が1つ必要です");
    if (!expect_close(e)) return false;
    n.op = Op::smed;
    n.a = arg;
    n.n = static_cast<int>(f_.smed_args_.size());
    f_.smed_args_.push_back(arg);
    // The median is of the run's day, whatever offset it is read at; the run loads what its
    // argument reads for every stock of the day.
    n.need = 0;
    n.reads = at(arg).reads;
    n.cost = at(arg).cost + 1;
    out = add(n);
    return true;
  }
  bool in_smed_ = false;
  // --- The chart's indicators: NAME(p1[, p2[, p3]]) with integer parameters ----------------
  bool parse_chart_function(const Token& t, const ChartFunctionDef& def, int& out,
                            FormulaError& e) {
    const std::string count_text =
        std::string(def.name) + " には引数が" + std::to_string(def.params) + "つ必要です";
    if (cur().kind != Tok::lparen) return fail(e, cur().pos, t.text + " の後に '(' がありません");
    advance();
    Node n;
    n.op = Op::chart_indicator;
    n.n = static_cast<int>(def.kind);
    for (int i = 0; i < def.params; ++i) {
      if (i > 0) {
        if (cur().kind == Tok::rparen) return fail(e, cur().pos, count_text);
        if (cur().kind != Tok::comma) return fail(e, cur().pos, "',' がありません");
        advance();
      }
      if (cur().kind == Tok::rparen) return fail(e, cur().pos, count_text);
      if (!parse_count(n.args[static_cast<std::size_t>(i)], def.min_value, "期間", e)) return false;
    }
    if (cur().kind == Tok::comma) return fail(e, cur().pos, count_text);
    if (!expect_close(e)) return false;
    const ChartFunctionNeeds needs = chart_function_needs(def.kind, n.args);
    n.need = needs.need;
    n.reads = needs.reads;
    n.cost = needs.cost;
    out = add(n);
    return check_cost(out, t.pos, e);
  }
  // --- end of the chart's indicators

  const std::vector<Token>& t_;
  Formula& f_;
  std::size_t p_ = 0;
  int depth_ = 0;
};

bool Formula::compile(std::string_view text, Formula& out, FormulaError& error) {
  out = Formula{};
  std::vector<Token> tokens;
  if (!tokenize(text, tokens, error)) return false;
  Parser parser(tokens, out);
  if (!parser.parse(error)) {
    out = Formula{};
    return false;
  }
  return true;
}

}  // namespace lp::formula
