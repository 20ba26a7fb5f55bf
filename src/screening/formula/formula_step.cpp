#include "screening/formula/formula_step.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <unordered_map>

#include "common/encoding.h"
#include "common/numbers.h"
#include "common/parallel.h"
#include "pricedb/market_store.h"
#include "pricedb/sectors.h"

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

const std::array<IndicatorField, kIndicatorFields>& indicator_fields() {
  static const std::array<IndicatorField, kIndicatorFields> kFields = {{
      {"予想PER", "PER"},
      {"実績PER", "APER"},
      {"PBR", "PBR"},
      {"配当利回り(%)", "YIELD"},
      {"時価総額(億円)", "MCAP"},
      {"ROE(%)", "ROE"},
      {"自己資本比率(%)", "EQR"},
      {"営業利益率(%)", "OPM"},
      {"最低購入金額(円)", "MINBUY"},
  }};
  return kFields;
}

std::string indicator_min_control(int i) {
  return indexed("shihyou_min_txt", i);
}
std::string indicator_max_control(int i) {
  return indexed("shihyou_max_txt", i);
}

bool indicator_formula(const ControlSet& controls, std::string& formula, std::string& error) {
  formula.clear();
  const auto& fields = indicator_fields();
  for (int i = 1; i <= kIndicatorFields; ++i) {
    const IndicatorField& f = fields[static_cast<std::size_t>(i - 1)];
    for (const bool lower : {true, false}) {
      std::string text = trim_blanks(
          controls.text(lower ? indicator_min_control(i) : indicator_max_control(i)));
      text.erase(std::remove(text.begin(), text.end(), ','), text.end());
      if (text.empty()) continue;
      lp::formula::Formula check;
      lp::formula::FormulaError e;
      // A number as the formula language reads it (full-width digits included).
      if (!lp::formula::Formula::compile(text, check, e) || check.nodes().size() != 1 ||
          check.nodes()[0].op != lp::formula::Op::number) {
        error = std::string("指標: ") + f.caption + "の" + (lower ? "下限" : "上限") +
                "が数値ではありません: " + text;
        return false;
      }
      if (!formula.empty()) formula += " AND ";
      formula += std::string(f.name) + (lower ? " >= " : " <= ") +
                 format_decimal(check.nodes()[0].value);
    }
  }
  return true;
}

void sync_indicator_row(ControlSet& controls) {
  std::string formula, error;
  const bool filled = !indicator_formula(controls, formula, error) || !formula.empty();
  controls.set_checked(indexed("pr_chk", kIndicatorRow), filled);
}

std::string formula_row_title(const ControlSet& controls, int n) {
  if (n == kIndicatorRow) return "指標";
  const std::string name = trim_blanks(controls.text(formula_name_control(n)));
  return name.empty() ? "式" + std::to_string(n) : name;
}

bool compile_formula_row(const ControlSet& controls, int n, CompiledRow& out, std::string& error) {
  using lp::formula::Formula;
  using lp::formula::FormulaError;
  FormulaError e;
  if (n == kIndicatorRow) {
    std::string text;
    if (!indicator_formula(controls, text, error)) return false;
    if (!Formula::compile(text, out.formula, e)) {
      error = "指標の" + e.text();
      return false;
    }
    out.show = Formula{};
    return true;
  }
  const std::string text = controls.text(formula_text_control(n));
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
  // The 「指標」 page runs whenever a field is filled, ticked or not yet.
  std::string formula, error;
  if (!indicator_formula(controls, formula, error)) return error;
  return {};
}

bool rows_use_fins(const ControlSet& controls) {
  for (int n = kFirstFormulaRow; n <= kIndicatorRow; ++n) {
    if (n == kIndicatorRow) {
      std::string formula, error;
      if (indicator_formula(controls, formula, error) && !formula.empty()) return true;
      continue;
    }
    if (!controls.enabled(n)) continue;
    CompiledRow row;
    std::string error;
    if (compile_formula_row(controls, n, row, error) &&
        (row.formula.uses_fins() || row.show.uses_fins())) {
      return true;
    }
  }
  return false;
}

std::string check_fins_available(const ControlSet& controls, const SeriesSource& source) {
  if (!rows_use_fins(controls)) return {};
  const bool held = source.store ? source.store->fins() && !source.store->fins()->empty()
                                 : lp::fins::database_has_fins(source.db_folder);
  return held ? std::string() : std::string(kNoFinsMessage);
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

namespace {

// The median of the values (the mean of the middle two for an even count); NaN for none.
double median_of(std::vector<double>& v) {
  if (v.empty()) return std::numeric_limits<double>::quiet_NaN();
  const std::size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
  const double upper = v[mid];
  if (v.size() % 2) return upper;
  return (*std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid)) + upper) / 2;
}

double industry_number(const std::string& code) {
  if (code.empty()) return std::numeric_limits<double>::quiet_NaN();
  for (char c : code) {
    if (c < '0' || c > '9') return std::numeric_limits<double>::quiet_NaN();
  }
  return std::stod(code);
}

}  // namespace

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
    // Industries as of the run's day.
    std::shared_ptr<const lp::sectors::SectorTable> sectors;
    if (row.formula.uses_sectors() || row.show.uses_sectors()) {
      sectors = lp::sectors::SectorTable::shared(ctx.source.db_folder);
    }
    const int day = static_cast<int>(parse_integer(ctx.today));
    const SeriesSource src = ctx.source.for_workers();

    // One stock's traded days as the formula reads them; false when it has no history.
    auto load_days = [&](const std::string& code, SeriesNumbers& numbers, Series& scratch,
                         lp::formula::TradedDays& traded) {
      int load = std::min(first, most);
      bool loaded = false;
      for (;;) {
        if (load_series_numbers(src, ctx.today, load, code, ctx.calendar, numbers, ctx.adjust,
                                scratch) != 0) {
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
      if (!loaded) return false;
      if (whole && numbers.count >= load && load < most) {
        // The load stopped short of the history: count the rest.
        traded.held = count_traded_days(src, ctx.today, most, code, ctx.calendar);
      }
      traded.fins = book ? book->figures(code) : nullptr;
      if (sectors) {
        if (const lp::sectors::Sector* s = sectors->of(code, day)) {
          traded.s33 = industry_number(s->s33);
          traded.s17 = industry_number(s->s17);
        }
      }
      return true;
    };

    struct Outcome {
      bool kept = false;
      std::string value;
    };
    std::vector<Outcome> outcomes(static_cast<std::size_t>(m));
    std::vector<Candidate> kept;
    const std::string of_m = "/" + std::to_string(m);
    auto take = [&](int i) {
      const Candidate& c = candidates.items[static_cast<std::size_t>(i)];
      Outcome& o = outcomes[static_cast<std::size_t>(i)];
      if (o.kept) kept.push_back({c.code, c.row, std::move(o.value)});
      ctx.result_label(n, std::to_string(i + 1) + of_m);
      ctx.yield();
      return true;
    };

    const std::size_t slots_f = row.formula.smed_args().size();
    const std::size_t slots = slots_f + row.show.smed_args().size();
    if (slots == 0) {
      WorkerBuffers buffers(ctx, m, true);  // a formula may read any field
      std::vector<lp::formula::TradedDays> days(
          static_cast<std::size_t>(workers_for(m, worker_count())));
      ordered_for(
          m,
          [&](int i, int w) {
            const std::string code = trim_blanks(candidates.items[static_cast<std::size_t>(i)].code);
            lp::formula::TradedDays& traded = days[static_cast<std::size_t>(w)];
            if (!load_days(code, buffers.numbers(w), buffers.series(w), traded)) return;
            Outcome& o = outcomes[static_cast<std::size_t>(i)];
            o.kept = judge_traded_days(row, traded, o.value);
          },
          take, [&] { ctx.yield(); });
    } else {
      // SMED: the median over every stock of the day's table, whatever the markets chosen,
      // by 33 industry. Each stock is loaded once; the candidates' days are kept for the
      // second pass, so the medians cost little more than the formula itself.
      std::vector<std::string> listed;
      std::unordered_map<std::string, int> at;
      if (ctx.day_table) {
        for (int r = 1; r <= ctx.day_table->count(); ++r) {
          const std::string code = trim_blanks(ctx.day_table->row(r)->code());
          if (at.emplace(code, static_cast<int>(listed.size())).second) listed.push_back(code);
        }
      }
      for (const Candidate& c : candidates.items) {
        const std::string code = trim_blanks(c.code);
        if (at.emplace(code, static_cast<int>(listed.size())).second) listed.push_back(code);
      }
      const int all = static_cast<int>(listed.size());
      std::vector<lp::formula::TradedDays> days(static_cast<std::size_t>(all));
      std::vector<char> has(static_cast<std::size_t>(all), 0);
      std::vector<double> values(static_cast<std::size_t>(all) * slots,
                                 std::numeric_limits<double>::quiet_NaN());
      {
        WorkerBuffers buffers(ctx, all, true);
        ordered_for(
            all,
            [&](int i, int w) {
              lp::formula::TradedDays& traded = days[static_cast<std::size_t>(i)];
              if (!load_days(listed[static_cast<std::size_t>(i)], buffers.numbers(w),
                             buffers.series(w), traded)) {
                return;
              }
              has[static_cast<std::size_t>(i)] = 1;
              for (std::size_t k = 0; k < slots; ++k) {
                const bool in_formula = k < slots_f;
                const lp::formula::Formula& f = in_formula ? row.formula : row.show;
                const int node = f.smed_args()[in_formula ? k : k - slots_f];
                const auto e = lp::formula::evaluate_node(f, traded, node);
                if (e.ok) values[static_cast<std::size_t>(i) * slots + k] = e.value;
              }
            },
            [&](int) {
              ctx.yield();
              return true;
            },
            [&] { ctx.yield(); });
      }
      // Medians by slot and industry.
      std::unordered_map<long long, std::vector<std::vector<double>>> groups;
      for (int i = 0; i < all; ++i) {
        const double s33 = days[static_cast<std::size_t>(i)].s33;
        if (!has[static_cast<std::size_t>(i)] || !std::isfinite(s33)) continue;
        auto& g = groups[static_cast<long long>(s33)];
        g.resize(slots);
        for (std::size_t k = 0; k < slots; ++k) {
          const double v = values[static_cast<std::size_t>(i) * slots + k];
          if (std::isfinite(v)) g[k].push_back(v);
        }
      }
      std::unordered_map<long long, std::vector<double>> medians;
      for (auto& [industry, g] : groups) {
        std::vector<double>& out = medians[industry];
        for (auto& v : g) out.push_back(median_of(v));
      }
      ordered_for(
          m,
          [&](int i, int) {
            const int k = at.at(trim_blanks(candidates.items[static_cast<std::size_t>(i)].code));
            if (!has[static_cast<std::size_t>(k)]) return;
            lp::formula::TradedDays& traded = days[static_cast<std::size_t>(k)];
            const double s33 = traded.s33;
            const auto it =
                std::isfinite(s33) ? medians.find(static_cast<long long>(s33)) : medians.end();
            const double* own = it == medians.end() ? nullptr : it->second.data();
            Outcome& o = outcomes[static_cast<std::size_t>(i)];
            traded.smed = own;
            if (!lp::formula::holds(lp::formula::evaluate(row.formula, traded))) return;
            o.kept = true;
            o.value = "-";
            if (!row.show.empty()) {
              traded.smed = own ? own + slots_f : nullptr;
              const auto shown = lp::formula::evaluate(row.show, traded);
              if (shown.ok) o.value = format_decimal(shown.value);
            }
          },
          take, [&] { ctx.yield(); });
    }
    output.items = std::move(kept);
    output.date = candidates.date;
    output.title = title;
  }
  finish_criterion(ctx, candidates, output, n);
}

}  // namespace lp::screening
