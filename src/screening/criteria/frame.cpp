// The frame every criterion runs in (run order, progress, loops, count label, intermediate
// file, copy-back). Written once so that a criterion is only its parameters and its test.
#include <filesystem>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "common/parallel.h"
#include "screening/criteria/criterion.h"
#include "screening/formula/formula_step.h"

namespace lp::screening {

const std::string& DayTable::date() const {
  static const std::string empty;
  return records.empty() ? empty : records[0].f[0];
}

int DayTable::count() const {
  if (records.empty()) return 0;
  long long n = parse_integer(records[0].f[1]);
  long long held = static_cast<long long>(records.size()) - 1;
  if (n > held) n = held;
  return n < 0 ? 0 : static_cast<int>(n);
}

const DayRecord* DayTable::row(long long r) const {
  if (r < 1 || r > count()) return nullptr;
  return &records[static_cast<std::size_t>(r)];
}

void RunContext::message(const std::string& text, TextColor color) const {
  if (events.message) events.message(text, color);
}

void RunContext::result_label(int n, const std::string& text) const {
  if (events.result_label) events.result_label(n, text);
}

void RunContext::yield() const {
  yield_now(events.yield);
}

std::string RunContext::criterion_name(int n) const {
  if (!criterion_names || n < 0 || n >= static_cast<int>(criterion_names->size())) return {};
  return (*criterion_names)[static_cast<std::size_t>(n)];
}

const std::vector<RunEntry>& run_table() {
  static const std::vector<RunEntry> table = {
      {1, f_kabukasel},
      {2, f_yasune1sel},
      {3, f_yasune2sel},
      {4, f_nehaba1sel},
      {5, f_nehaba1sel},
      {6, f_nehaba3sel},
      {7, f_zenjituhi1sel},
      {8, f_gcdcsel},
      {9, f_std_dev1sel},
      {10, f_rsi1sel},
      {12, f_semi1sel},
      {13, f_kairi3sel},
      {18, f_kairi2sel},
      {40, f_kairi1sel},
      // The formula rows come last: they load histories, so they run on the shortest list.
      {41, f_shikisel},
      {42, f_shikisel},
      {43, f_shikisel},
      {44, f_shikisel},
      {45, f_shikisel},
      {46, f_shikisel},  // the 「指標」 page
  };
  return table;
}

std::string processing_text(const RunContext& ctx, int n) {
  return ctx.criterion_name(n) + "：処理中";
}

void begin_criterion(RunContext& ctx, int n, const std::string& progress) {
  ctx.message("", TextColor::black);
  ctx.yield();
  ctx.message(progress, TextColor::blue);
  ctx.yield();
}

bool filter_rows(RunContext& ctx, const CandidateList& candidates, CandidateList& output,
                 const std::string& title, const RowTest& test) {
  if (candidates.count() <= 0) return true;
  output.items.clear();
  std::string value;
  for (const Candidate& c : candidates.items) {
    value.clear();
    Verdict v = test(c, value);
    if (v == Verdict::abort) return false;
    if (v == Verdict::pass) output.items.push_back({c.code, c.row, value});
  }
  output.date = candidates.date;
  output.title = title;
  return true;
}

namespace {

// The loop both kinds of history test share: load each candidate's days, test them, keep
// what passes, and show the progress. The loads and tests run on the workers, each with its
// own buffers (`load(code, w)` returns the loader's status, `test(c, value, w)` reads what
// worker w loaded); the verdicts are taken here in candidate order, so the kept list, the
// progress texts and an abort's message come out as one thread would give them.
template <class Load, class Test>
bool filter_loaded(RunContext& ctx, const CandidateList& candidates, CandidateList& output, int n,
                   const std::string& title, const Load& load, const Test& test) {
  const int m = candidates.count();
  struct Outcome {
    bool loaded = false;
    Verdict verdict = Verdict::fail;
    std::string value;
  };
  std::vector<Outcome> outcomes(static_cast<std::size_t>(m));
  std::vector<Candidate> kept;
  const std::string of_m = "/" + std::to_string(m);
  bool aborted = false;
  ordered_for(
      m,
      [&](int i, int w) {
        const Candidate& c = candidates.items[static_cast<std::size_t>(i)];
        Outcome& o = outcomes[static_cast<std::size_t>(i)];
        o.loaded = load(i, trim_blanks(c.code), w) == 0;
        if (o.loaded) o.verdict = test(c, o.value, w);
      },
      [&](int i) {
        const Candidate& c = candidates.items[static_cast<std::size_t>(i)];
        Outcome& o = outcomes[static_cast<std::size_t>(i)];
        if (o.loaded) {
          if (o.verdict == Verdict::abort) {
            // The test's message for the user (see code_mismatch), shown where it stopped.
            ctx.message(o.value, TextColor::red);
            ctx.yield();
            aborted = true;
            return false;
          }
          if (o.verdict == Verdict::pass) kept.push_back({c.code, c.row, std::move(o.value)});
        }
        ctx.result_label(n, std::to_string(i + 1) + of_m);
        ctx.yield();
        return true;
      },
      [&] { ctx.yield(); });
  if (aborted) return false;
  output.items = std::move(kept);
  output.date = candidates.date;
  output.title = title;
  return true;
}

}  // namespace

WorkerBuffers::WorkerBuffers(RunContext& ctx, int candidates, bool want_prices)
    : ctx_(ctx),
      extra_(static_cast<std::size_t>(std::max(0, workers_for(candidates, worker_count()) - 1))) {
  ctx.numbers.want_prices = want_prices;
  for (Extra& e : extra_) e.numbers.want_prices = want_prices;
}

Series& WorkerBuffers::series(int w) {
  return w == 0 ? ctx_.series : extra_[static_cast<std::size_t>(w - 1)].series;
}

SeriesNumbers& WorkerBuffers::numbers(int w) {
  return w == 0 ? ctx_.numbers : extra_[static_cast<std::size_t>(w - 1)].numbers;
}

bool filter_numbers(RunContext& ctx, const CandidateList& candidates, CandidateList& output, int n,
                    int day_count, const std::string& title, const NumbersTest& test, bool prices) {
  const int m = candidates.count();
  if (m <= 0) return true;
  build_trading_calendar(ctx.source, ctx.calendar, ctx.today, day_count);
  const SeriesSource src = ctx.source.for_workers();
  WorkerBuffers buffers(ctx, m, prices);
  const SeriesPrefetch prefetch(src, ctx.today);
  auto ahead = [&](int i, int step) {
    if (i < m) prefetch.stage(candidates.items[static_cast<std::size_t>(i)].code, step);
  };
  return filter_loaded(
      ctx, candidates, output, n, title,
      [&](int i, const std::string& code, int w) {
        // A worker mostly takes the next few candidates too: warm their data on the way.
        ahead(i + 3, 0);
        ahead(i + 2, 1);
        ahead(i + 1, 2);
        return load_series_numbers(src, ctx.today, day_count, code, ctx.calendar,
                                   buffers.numbers(w), ctx.adjust, buffers.series(w));
      },
      [&](const Candidate& c, std::string& value, int w) {
        return test(c, buffers.numbers(w), value);
      });
}

std::string intermediate_file_name(int n) {
  if ((n >= 0 && n <= 20) || n == 40 || is_formula_row(n))
    return "sel" + std::to_string(n) + ".csv";
  return {};
}

void finish_criterion(RunContext& ctx, CandidateList& candidates, CandidateList& output, int n) {
  const int before = candidates.count();
  ctx.result_label(n, std::to_string(output.count()) + "/" + std::to_string(before));
  ctx.yield();
  const std::string name = intermediate_file_name(n);
  bool written = true;
  if (!name.empty() && ctx.write_files) {
    CsvWriter w;
    w.field(output.count()).field(output.date).field(output.title).end_line();
    for (const Candidate& c : output.items) w.field(c.code).field(c.row).field(c.value).end_line();
    written = w.commit(std::filesystem::path(ctx.user_folder) / name);
    if (!written) ctx.write_failed = true;
  }
  ctx.yield();
  candidates = output;
  // A 「▽」 whose file was not written would show an older run's list.
  if (ctx.events.show_option && written) ctx.events.show_option(n);
  ctx.message("", TextColor::blue);
  ctx.yield();
}

std::string trimmed_param(RunContext& ctx, std::string_view control) {
  std::string t = trim_blanks(ctx.controls->text(control));
  ctx.controls->set_text(control, t);
  return t;
}

void write_back(RunContext& ctx, std::string_view control, double value) {
  ctx.controls->set_text(control, format_decimal(value));
}

void write_back_int(RunContext& ctx, std::string_view control, long long value) {
  ctx.controls->set_text(control, std::to_string(value));
}

}  // namespace lp::screening
