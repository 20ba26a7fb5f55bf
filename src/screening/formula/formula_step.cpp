#include "screening/formula/formula_step.h"

#include <algorithm>
#include <memory>

#include "common/encoding.h"
#include "common/numbers.h"
#include "common/parallel.h"

namespace lp::screening {

namespace {

// Calendar days loaded first for a formula reading `reads` traded days: a little more than
// that, so most stocks (which trade every day) need one load.
int first_load(int reads) {
  return std::max(1, reads + reads / 8 + 2);
}

}  // namespace

std::string formula_name_control(int n) {
  return indexed("shiki_name_txt", n);
}
std::string formula_text_control(int n) {
  return indexed("shiki_txt", n);
}
std::string formula_show_control(int n) {
  return indexed("shiki_hyouji_txt", n);
}

std::string formula_row_title(const ControlSet& controls, int n) {
  const std::string name = trim_blanks(controls.text(formula_name_control(n)));
  return name.empty() ? "式" + std::to_string(n) : name;
}

bool compile_formula_row(const ControlSet& controls, int n, CompiledRow& out, std::string& error) {
  using lp::formula::Formula;
  using lp::formula::FormulaError;
  const std::string text = controls.text(formula_text_control(n));
  FormulaError e;
  if (!Formula::compile(text, out.formula, e)) {
    error = "式" + std::to_string(n) + "の" + e.text();
    return false;
  }
  out.show = Formula{};
  const std::string show = controls.text(formula_show_control(n));
  if (!trim_blanks(show).empty() && !Formula::compile(show, out.show, e)) {
    error = "式" + std::to_string(n) + "（表示）の" + e.text();
    return false;
  }
  // Both are evaluated on every stock: the bound is on the row's work.
  if (out.formula.cost() + out.show.cost() > lp::formula::kMaxCost) {
    error = "式" + std::to_string(n) + "と表示式を合わせて" + lp::formula::total_cost_text();
    return false;
  }
  return true;
}

std::string check_formula_rows(const ControlSet& controls) {
  for (int n = kFirstFormulaRow; n <= kLastFormulaRow; ++n) {
    if (!controls.enabled(n)) continue;
    CompiledRow row;
    std::string error;
    if (!compile_formula_row(controls, n, row, error)) return error;
  }
  return {};
}

bool judge_traded_days(const CompiledRow& row, const lp::formula::TradedDays& days,
                       std::string& value) {
  if (!lp::formula::holds(lp::formula::evaluate(row.formula, days))) return false;
  value = "-";
  if (!row.show.empty()) {
    const auto shown = lp::formula::evaluate(row.show, days);
    if (shown.ok) value = format_decimal(shown.value);
  }
  return true;
}

bool judge_formula_row(const CompiledRow& row, const Series& series,
                       lp::formula::TradedDays& scratch, std::string& value) {
  scratch.assign(series);
  return judge_traded_days(row, scratch, value);
}

void f_shikisel(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  const std::string title = formula_row_title(*ctx.controls, n);
  begin_criterion(ctx, n, title + "：処理中");
  CompiledRow row;
  std::string error;
  if (!compile_formula_row(*ctx.controls, n, row, error)) {
    // The run checks every row before it starts; a row changed since keeps the list as it is.
    ctx.message(error, TextColor::red);
    return;
  }
  const int m = candidates.count();
  if (m > 0) {
    const int reads = std::max(row.formula.read_days(), row.show.read_days());
    const bool whole = row.formula.uses_days() || row.show.uses_days();
    // The history held bounds every load; without a count the longest look-back does.
    const int held =
        ctx.trading_day_count > 0 ? ctx.trading_day_count : std::max(first_load(reads), 1);
    // DAYS() is counted over the whole history without loading it (count_traded_days), so a
    // formula that asks it loads only its other look-backs.
    const int first = std::min(first_load(reads), std::max(held, 1));
    build_trading_calendar(ctx.source, ctx.calendar, ctx.today, std::max(first, held));
    const int most = std::max(1, ctx.calendar.count());

    // Results figures as of the run's day, each stock's looked up once.
    std::unique_ptr<lp::fins::FiguresBook> book;
    if (row.formula.uses_fins() || row.show.uses_fins()) {
      book = std::make_unique<lp::fins::FiguresBook>(ctx.source, ctx.today);
    }
    const SeriesSource src = ctx.source.for_workers();
    WorkerBuffers buffers(ctx, m, true);  // a formula may read any field
    std::vector<lp::formula::TradedDays> days(
        static_cast<std::size_t>(workers_for(m, worker_count())));
    struct Outcome {
      bool kept = false;
      std::string value;
    };
    std::vector<Outcome> outcomes(static_cast<std::size_t>(m));
    std::vector<Candidate> kept;
    const std::string of_m = "/" + std::to_string(m);
    ordered_for(
        m,
        [&](int i, int w) {
          const Candidate& c = candidates.items[static_cast<std::size_t>(i)];
          const std::string code = trim_blanks(c.code);
          SeriesNumbers& numbers = buffers.numbers(w);
          lp::formula::TradedDays& traded = days[static_cast<std::size_t>(w)];
          int load = std::min(first, most);
          bool loaded = false;
          for (;;) {
            if (load_series_numbers(src, ctx.today, load, code, ctx.calendar, numbers, ctx.adjust,
                                    buffers.series(w)) != 0) {
              break;
            }
            loaded = true;
            // A stock with gap days holds fewer traded days than calendar days loaded: load
            // further back until the formula sees all it reads, the history ends or the
            // database does.
            traded.assign(numbers);
            if (traded.count() >= reads || numbers.count < load || load >= most) break;
            load = std::min(most, load * 2);
          }
          if (!loaded) return;
          if (whole && numbers.count >= load && load < most) {
            // The load stopped short of the history: count the rest.
            traded.held = count_traded_days(src, ctx.today, most, code, ctx.calendar);
          }
          Outcome& o = outcomes[static_cast<std::size_t>(i)];
          traded.fins = book ? book->figures(code) : nullptr;
          o.kept = judge_traded_days(row, traded, o.value);
        },
        [&](int i) {
          const Candidate& c = candidates.items[static_cast<std::size_t>(i)];
          Outcome& o = outcomes[static_cast<std::size_t>(i)];
          if (o.kept) kept.push_back({c.code, c.row, std::move(o.value)});
          ctx.result_label(n, std::to_string(i + 1) + of_m);
          ctx.yield();
          return true;
        },
        [&] { ctx.yield(); });
    output.items = std::move(kept);
    output.date = candidates.date;
    output.title = title;
  }
  finish_criterion(ctx, candidates, output, n);
}

}  // namespace lp::screening
