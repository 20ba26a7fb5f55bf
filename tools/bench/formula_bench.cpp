// Formula conditions and the export of results: compiling a long formula, a three-part
// formula over every stock (history loads included) beside criterion 10 in the same run, and
// 4000 results written to .xlsx.
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "bench/bench.h"
#include "bench/bench_market.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"
#include "results/results_export.h"
#include "screening/criteria/criterion.h"
#include "screening/formula/formula.h"
#include "screening/formula/formula_step.h"
#include "screening/universe.h"

namespace {

namespace fs = std::filesystem;
using lp::bench::Case;
using lp::bench::Result;
using lp::bench::Setup;
namespace sc = lp::screening;

constexpr const char* kScreen = "C > MA(C,25) AND RSI(14) < 30 AND V > 2*MA(V,20)";
constexpr const char* kFormulaCase =
    "formula: C > MA(C,25) AND RSI(14) < 30 AND V > 2*MA(V,20), every stock";
constexpr const char* kRsiCase = "formula: criterion 10 f_rsi1sel 14 days, every stock (reference)";

using Universe = lp::bench::BenchMarket;
using lp::bench::run_step;

void prepare(const Setup& setup, Universe& u) {
  lp::bench::prepare_market(setup, u, "bench-formula-user");
}

// Exactly 200 characters: a realistic screen padded with a harmless term.
std::string formula_of_200() {
  std::string f =
      "C > MA(C,25) AND MA(C,5)[1] < MA(C,25)[1] AND RSI(14) < 45 AND V > 1.5*MA(V,20) AND "
      "CROSS(EMA(C,12),EMA(C,26)) OR (H-L)/C*100 > STD(C,20) AND MAX(H,60) < C*1.2 AND "
      "ABS(C-REF(C,5))";
  while (f.size() < 196) f += " ";
  f += "> 0";
  while (f.size() < 200) f += " ";
  return f.substr(0, 200);
}

void add_formula_cases(const Setup& setup, std::vector<Case>& cases) {
  {
    const std::string text = formula_of_200();
    Case c{"formula: parse + compile a 200-character formula (x1000)",
           "<= 50 µs per formula",
           {},
           [text]() -> long long {
             lp::formula::Formula f;
             lp::formula::FormulaError e;
             long long ok = 0;
             for (int i = 0; i < 1000; ++i) ok += lp::formula::Formula::compile(text, f, e);
             if (ok != 1000)
               throw std::runtime_error("the bench formula does not compile: " + e.text());
             return 1000;
           }};
    c.item = "formula";
    c.judge = [](const Result& self, const std::vector<Result>&) {
      return lp::bench::yes_no(self.median_seconds / static_cast<double>(self.items) <= 50e-6);
    };
    cases.push_back(std::move(c));
  }

  auto universe = std::make_shared<Universe>();
  {
    Case c{kRsiCase, "", [setup, universe] { prepare(setup, *universe); },
           [setup, universe]() -> long long {
             universe->controls = sc::ControlSet::with_builtins();
             universe->controls.set_text("rsi1_kikan_cmb", "14");
             universe->controls.set_text("rsi1_max_txt", "30");
             return run_step(setup, *universe, sc::f_rsi1sel, 10);
           }};
    c.item = "stock";
    cases.push_back(std::move(c));
  }
  {
    Case c{kFormulaCase, "<= 0.3 s and <= 1.5x criterion 10",
           [setup, universe] { prepare(setup, *universe); },
           [setup, universe]() -> long long {
             universe->controls = sc::ControlSet::with_builtins();
             universe->controls.set_text(sc::formula_text_control(41), kScreen);
             return run_step(setup, *universe, sc::f_shikisel, 41);
           }};
    c.item = "stock";
    c.judge = [](const Result& self, const std::vector<Result>& all) {
      const Result* rsi = lp::bench::find_result(all, kRsiCase);
      if (!rsi || rsi->median_seconds <= 0) return std::string();
      const double ratio = self.median_seconds / rsi->median_seconds;
      char buf[32];
      std::snprintf(buf, sizeof buf, " (%.2fx)", ratio);
      return lp::bench::yes_no(self.median_seconds <= 0.3 && ratio <= 1.5) + buf;
    };
    cases.push_back(std::move(c));
  }

  {
    // Wilder's RSI loads and smooths 10n traded days where RSI(n) reads n + 1.
    Case c{"formula: WRSI(14) < 30 AND C > MA(C,25), every stock", "",
           [setup, universe] { prepare(setup, *universe); },
           [setup, universe]() -> long long {
             universe->controls = sc::ControlSet::with_builtins();
             universe->controls.set_text(sc::formula_text_control(41),
                                         "WRSI(14) < 30 AND C > MA(C,25)");
             return run_step(setup, *universe, sc::f_shikisel, 41);
           }};
    c.item = "stock";
    cases.push_back(std::move(c));
  }

  {
    // 4000 results of the latest day, as "sel0_out.csv" would hold them.
    auto table = std::make_shared<lp::ResultTable>();
    const std::string out = setup.market_dir + "/bench-export.xlsx";
    Case c{"export: 4000 results to .xlsx", "<= 0.5 s",
           [setup, universe, table] {
             prepare(setup, *universe);
             table->header = {"4000", setup.today, "銘柄",   "値上率",   "始値",       "高値",
                              "安値", "終値",      "出来高", "前日引値", "前日出来高", "ポインタ"};
             for (int i = 0; i < 4000; ++i) {
               const auto* r = universe->table.row(1 + i % universe->table.count());
               table->rows.push_back({r->f[0], r->f[1], r->f[2], lp::format_decimal(i * 0.37),
                                      r->f[3], r->f[4], r->f[5], r->f[6], r->f[7], r->f[8], r->f[9],
                                      std::to_string(i + 1)});
             }
           },
           [table, out]() -> long long {
             lp::ExportOptions o;
             o.screen_name = "bench";
             std::string error;
             if (!lp::export_results(*table, out, o, error)) throw std::runtime_error(error);
             return table->count();
           }};
    c.item = "result";
    c.finish = [out] {
      std::error_code ec;
      fs::remove(out, ec);
    };
    cases.push_back(std::move(c));
  }
}

LP_BENCH(add_formula_cases);

}  // namespace
