// Results summaries: a valuation formula over every stock beside criterion 10, one day of 200
// disclosures from the received JSON into the database, and a year's backtest of a valuation
// formula beside the same backtest of C > MA(C,25).
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backtest/screen_backtest.h"
#include "bench/bench.h"
#include "bench/bench_market.h"
#include "common/csv.h"
#include "pricedb/fins_store.h"
#include "pricedb/jquants_fins.h"
#include "pricedb/market_store.h"
#include "screening/criteria/criterion.h"
#include "screening/formula/formula_step.h"

namespace {

namespace fs = std::filesystem;
using lp::bench::Case;
using lp::bench::Result;
using lp::bench::Setup;
namespace sc = lp::screening;

constexpr const char* kValuation = "PER < 15 AND PBR < 1.2 AND YIELD > 3";
// Its own reference run, so that `--filter fins` measures both in the same run.
constexpr const char* kRsiCase = "fins reference: criterion 10 f_rsi1sel 14 days, every stock";
constexpr const char* kConstantCase = "fins: formula PER < 12 * 0.7, every stock";
constexpr const char* kMaBacktest =
    "fins backtest baseline: 250 signal days, formula C > MA(C,25), hold 20 (load included)";

std::string ratio_judge(const Result& self, const std::vector<Result>& all, const char* base,
                        double most) {
  const Result* b = lp::bench::find_result(all, base);
  if (!b || b->median_seconds <= 0) return "";
  const double ratio = self.median_seconds / b->median_seconds;
  char buf[32];
  std::snprintf(buf, sizeof buf, " (%.2fx)", ratio);
  return lp::bench::yes_no(ratio <= most) + buf;
}

// A JSON page of `n` disclosures of one new day, made from the market's newest disclosure of
// n stocks, and a scratch database holding those stocks' files.
struct DayOfSummaries {
  std::string json;
  std::string db;
  void prepare(const Setup& setup, int n) {
    db = setup.market_dir + "/bench-fins-db/";
    std::error_code ec;
    fs::remove_all(db, ec);
    fs::create_directories(lp::fins::fins_folder(db), ec);
    json = "{\"data\":[";
    int made = 0;
    std::vector<lp::fins::Disclosure> list;
    for (const fs::path& p : lp::list_files(lp::fins::fins_folder(setup.db_folder))) {
      if (made == n) break;
      if (!lp::fins::read_fins_file(p.string(), list) || list.empty()) continue;
      fs::copy_file(p, lp::fins::fins_folder(db) + p.filename().string(), ec);
      lp::fins::Disclosure d = list.back();
      if (made) json += ',';
      json += "{";
      for (int c = 0; c < lp::fins::kColumnCount; ++c) {
        std::string v = d[c];
        if (c == lp::fins::DiscDate) v = "2099-01-05";
        if (c == lp::fins::DiscNo) v = "2099010500" + std::to_string(1000 + made);
        if (c == lp::fins::Code) v += "0";
        json += std::string(c ? "," : "") + "\"" + std::string(lp::fins::column_name(c)) +
                "\":" + (lp::fins::is_value_column(c) && d.disclosed(c) ? v : "\"" + v + "\"");
      }
      json += "}";
      ++made;
    }
    json += "]}";
  }
};

lp::backtest::Job formula_backtest(const Setup& setup, const lp::backtest::Params& period,
                                   const std::string& formula, const std::string& out) {
  lp::backtest::Job job;
  job.platform = lp::bench::bench_platform(setup);
  job.controls = sc::ControlSet::with_builtins();
  for (int n = 1; n <= 45; ++n) job.controls.set_checked(sc::indexed("pr_chk", n), false);
  for (int i = 0; i < 6; ++i) job.controls.set_checked(sc::indexed("shijyou_chk", i), true);
  job.controls.set_checked(sc::indexed("pr_chk", 41), true);
  job.controls.set_text(sc::formula_text_control(41), formula);
  job.params = period;
  job.out_dir = setup.market_dir + "/" + out + "/";
  return job;
}

void add_fins_cases(const Setup& setup, std::vector<Case>& cases) {
  auto universe = std::make_shared<lp::bench::BenchMarket>();
  {
    Case c{kRsiCase, "",
           [setup, universe] { lp::bench::prepare_market(setup, *universe, "bench-fins-user"); },
           [setup, universe]() -> long long {
             universe->controls = sc::ControlSet::with_builtins();
             universe->controls.set_text("rsi1_kikan_cmb", "14");
             universe->controls.set_text("rsi1_max_txt", "30");
             return lp::bench::run_step(setup, *universe, sc::f_rsi1sel, 10);
           }};
    c.item = "stock";
    cases.push_back(std::move(c));
  }
  {
    Case c{"fins: formula " + std::string(kValuation) + ", every stock", "<= 1.3x criterion 10",
           [setup, universe] { lp::bench::prepare_market(setup, *universe, "bench-fins-user"); },
           [setup, universe]() -> long long {
             universe->controls = sc::ControlSet::with_builtins();
             universe->controls.set_text(sc::formula_text_control(41), kValuation);
             return lp::bench::run_step(setup, *universe, sc::f_shikisel, 41);
           }};
    c.item = "stock";
    c.judge = [](const Result& self, const std::vector<Result>& all) {
      return ratio_judge(self, all, kRsiCase, 1.3);
    };
    cases.push_back(std::move(c));
  }
  // A sector median against a constant in its place; the second is the reference.
  {
    Case c{kConstantCase, "",
           [setup, universe] { lp::bench::prepare_market(setup, *universe, "bench-fins-user"); },
           [setup, universe]() -> long long {
             universe->controls = sc::ControlSet::with_builtins();
             universe->controls.set_text(sc::formula_text_control(41), "PER < 12 * 0.7");
             return lp::bench::run_step(setup, *universe, sc::f_shikisel, 41);
           }};
    c.item = "stock";
    cases.push_back(std::move(c));
  }
  {
    Case c{"fins: formula PER < SMED(PER) * 0.7, every stock", "<= 1.5x the constant",
           [setup, universe] { lp::bench::prepare_market(setup, *universe, "bench-fins-user"); },
           [setup, universe]() -> long long {
             universe->controls = sc::ControlSet::with_builtins();
             universe->controls.set_text(sc::formula_text_control(41), "PER < SMED(PER) * 0.7");
             return lp::bench::run_step(setup, *universe, sc::f_shikisel, 41);
           }};
    c.item = "stock";
    c.judge = [](const Result& self, const std::vector<Result>& all) {
      return ratio_judge(self, all, kConstantCase, 1.5);
    };
    cases.push_back(std::move(c));
  }
  {
    // The 「指標」 page's boxes run the formula they mean, on the same path.
    Case c{"fins: 指標 page 予想PER 5-15, PBR <= 1.2, 利回り >= 3, every stock",
           "as fast as its formula",
           [setup, universe] { lp::bench::prepare_market(setup, *universe, "bench-fins-user"); },
           [setup, universe]() -> long long {
             universe->controls = sc::ControlSet::with_builtins();
             universe->controls.set_text(sc::indicator_min_control(1), "5");
             universe->controls.set_text(sc::indicator_max_control(1), "15");
             universe->controls.set_text(sc::indicator_max_control(3), "1.2");
             universe->controls.set_text(sc::indicator_min_control(4), "3");
             return lp::bench::run_step(setup, *universe, sc::f_shikisel, sc::kIndicatorRow);
           }};
    c.item = "stock";
    c.judge = [](const Result& self, const std::vector<Result>& all) {
      // The formula the page means, give or take the machine's noise.
      static const std::string base = "fins: formula " + std::string(kValuation) + ", every stock";
      return ratio_judge(self, all, base.c_str(), 1.1);
    };
    cases.push_back(std::move(c));
  }
  {
    auto day = std::make_shared<DayOfSummaries>();
    Case c{"fins: one day of 200 disclosures (JSON) into the database", "<= 20 ms",
           [setup, day] { day->prepare(setup, 200); },
           [day]() -> long long {
             std::vector<lp::fins::Disclosure> found;
             std::string next, error;
             int skipped = 0;
             if (!lp::jquants::parse_fins_page(day->json, "20990105", found, next, skipped, error))
               throw std::runtime_error(error);
             lp::fins::StoreStats stats;
             if (!lp::fins::store_disclosures(day->db, found, stats, error))
               throw std::runtime_error(error);
             return static_cast<long long>(found.size());
           }};
    c.item = "disclosure";
    c.judge = [](const Result& self, const std::vector<Result>&) {
      return lp::bench::yes_no(self.items == 200 && self.median_seconds <= 0.020);
    };
    cases.push_back(std::move(c));
  }
  auto period = std::make_shared<lp::backtest::Params>();
  auto find_period = [setup, period] {
    if (!period->from.empty()) return;
    const auto dates =
        lp::backtest::database_trading_dates(lp::read_settei_sub(setup.documents, setup.documents));
    if (dates.size() < 30) return;
    const std::size_t last = dates.size() - 21;
    period->from = dates[last + 1 > 250 ? last + 1 - 250 : 0];
    period->to = dates[last];
    period->every = 1;
    period->hold = 20;
  };
  {
    Case c{kMaBacktest, "", find_period, [setup, period]() -> long long {
             const auto out =
                 lp::backtest::run_job(formula_backtest(setup, *period, "C > MA(C,25)", "bt-ma"));
             return out.error.empty() ? static_cast<long long>(out.result.signal_days.size()) : 0;
           }};
    c.runs = 1;
    c.item = "signal day";
    cases.push_back(std::move(c));
  }
  {
    Case c{"fins backtest: 250 signal days, formula " + std::string(kValuation) +
               ", hold 20 (load included)",
           "<= 1.5x the C > MA(C,25) backtest", find_period, [setup, period]() -> long long {
             const auto out =
                 lp::backtest::run_job(formula_backtest(setup, *period, kValuation, "bt-fins"));
             return out.error.empty() ? static_cast<long long>(out.result.signal_days.size()) : 0;
           }};
    c.runs = 1;
    c.item = "signal day";
    c.judge = [](const Result& self, const std::vector<Result>& all) {
      return ratio_judge(self, all, kMaBacktest, 1.5);
    };
    cases.push_back(std::move(c));
  }
}

LP_BENCH(add_fins_cases);

}  // namespace
