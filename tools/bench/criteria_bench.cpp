// The history criteria over every stock of the latest day with their default periods, and the
// summary rebuild behind the top-25 rankings.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "bench/bench.h"
#include "bench/bench_market.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"
#include "screening/controls.h"
#include "screening/criteria/criterion.h"
#include "screening/preferences.h"
#include "screening/rankings.h"
#include "screening/screening_session.h"
#include "screening/universe.h"

namespace {

namespace fs = std::filesystem;
using lp::bench::Case;
using lp::bench::Setup;
namespace sc = lp::screening;

using Market = lp::bench::BenchMarket;

// The template's default periods, with bounds wide enough to keep nearly every stock so the
// intermediate file is written in full.
void set_defaults(sc::ControlSet& c) {
  c = sc::ControlSet::with_builtins();
  for (const char* period :
       {"yasune1_kikan_cmb", "yasune2_kikan_cmb", "nehaba1_kikan_cmb", "nehaba2_kikan_cmb"}) {
    c.set_text(period, "250");
  }
  c.set_text("yasune1_kikan_txt", "250");
  c.set_text("yasune2_ageritsu2_txt", "100000");
  c.set_text("nehaba1_ageritsu2_txt", "100");
  c.set_text("nehaba2_ageritsu1_txt", "0");
  c.set_text("nehaba3_nehabaritsu1_txt", "0");
  c.set_text("nehaba3_nehabaritsu2_txt", "100000");
  c.set_checked("nehaba3_m_chk", true);
  c.set_text("zenjituhi1_txt(0)", "-100");
  c.set_text("std_dev1_cmb", "25");
  c.set_text("dev1_txt(0)", "-100");
  c.set_text("dev1_txt(1)", "100");
  c.set_text("rsi1_kikan_cmb", "14");
  c.set_text("rsi1_max_txt", "100");
  c.set_text("semi1_min_txt", "-1");
  c.set_text("kairi3_min_txt", "-100");
  c.set_text("kairi3_max_txt", "100000");
}

long long run_criterion(const Setup& setup, Market& m, sc::CriterionFn routine, int n) {
  set_defaults(m.controls);
  return lp::bench::run_step(setup, m, routine, n);
}

void add_criteria_cases(const Setup& setup, std::vector<Case>& cases) {
  auto market = std::make_shared<Market>();
  struct Entry {
    int n;
    sc::CriterionFn routine;
    const char* what;
    bool history;
  };
  const Entry entries[] = {
      {2, sc::f_yasune1sel, "criterion 2 f_yasune1sel, 250 days", true},
      {3, sc::f_yasune2sel, "criterion 3 f_yasune2sel, 250+10 days", true},
      {4, sc::f_nehaba1sel, "criterion 4 f_nehaba1sel, 250 days", true},
      {5, sc::f_nehaba1sel, "criterion 5 f_nehaba1sel, 250 days", true},
      {6, sc::f_nehaba3sel, "criterion 6 f_nehaba3sel, 250+10 days", true},
      {7, sc::f_zenjituhi1sel, "criterion 7 f_zenjituhi1sel, day table only", false},
      {9, sc::f_std_dev1sel, "criterion 9 f_std_dev1sel, 25 days", true},
      {10, sc::f_rsi1sel, "criterion 10 f_rsi1sel, 14+1 days", true},
      {12, sc::f_semi1sel, "criterion 12 f_semi1sel, 20+31 days", true},
      {13, sc::f_kairi3sel, "criterion 13 f_kairi3sel, 25+30 days", true},
  };
  for (const Entry& e : entries) {
    Case c{std::string(e.what) + ", every stock", e.history ? "<= 0.3 s" : "",
           [setup, market] { prepare_market(setup, *market, "bench-criteria-user"); },
           [setup, market, e] { return run_criterion(setup, *market, e.routine, e.n); }};
    c.item = "stock";
    cases.push_back(std::move(c));
  }

  auto source = std::make_shared<sc::RankingSource>();
  source->source.db_folder = setup.db_folder;
  source->source.reference_code = "1001";
  source->latest_year = static_cast<int>(lp::parse_integer(setup.today.substr(0, 4)));
  {
    Case c{"initdata1.csv rebuild + 前日比上率ﾄｯﾌﾟ25", "<= 1 s", {}, [source] {
             std::error_code ec;
             fs::remove(source->source.db_folder + sc::kInitDataFileName, ec);
             const sc::Top25 top = sc::rank_top25(*source, "前日比上率ﾄｯﾌﾟ25");
             return static_cast<long long>(top.filled);
           }};
    c.item = "entry";
    cases.push_back(std::move(c));
  }
  {
    Case c{"rank_top25 on a current initdata1.csv, all twelve rankings", "", {}, [source] {
             long long filled = 0;
             for (const auto& def : sc::ranking_defs()) {
               filled += sc::rank_top25(*source, def.name).filled;
             }
             return filled;
           }};
    c.item = "entry";
    cases.push_back(std::move(c));
  }
}

// Whole runs of the screening window's 開始 over the sample market, after a first run has built
// the day table (as in a window that has run once).
void add_full_run_cases(const Setup& setup, std::vector<Case>& cases) {
  auto session = std::make_shared<std::unique_ptr<sc::ScreeningSession>>();
  auto prepare = [setup, session] {
    lp::Platform p;
    p.documents_folder = setup.documents;
    p.desktop_folder = setup.documents;
    const std::string today = setup.today;
    p.today = [today] { return today; };
    *session = std::make_unique<sc::ScreeningSession>(p, nullptr);
    (*session)->load(false);
    (*session)->run();
  };
  auto run_with = [session](const std::function<void(sc::ControlSet&)>& settings,
                            std::initializer_list<int> ticked) -> long long {
    sc::ScreeningSession& s = **session;
    settings(s.controls());
    for (int n = 1; n <= 40; ++n) s.controls().set_checked(sc::indexed("pr_chk", n), false);
    for (int n : ticked) s.controls().set_checked(sc::indexed("pr_chk", n), true);
    s.run();
    return s.day_table().count();
  };
  Case all{"screening: all fourteen criteria, bounds that keep (nearly) every stock", "<= 3 s",
           prepare, [run_with] {
             return run_with(
                 [](sc::ControlSet& c) {
                   set_defaults(c);
                   c.set_text("kabukamin", "0");
                   c.set_text("kabukamax", "100000000");
                 },
                 {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 18, 40});
           }};
  all.item = "stock";
  cases.push_back(std::move(all));
  Case realistic{"screening: criterion 1 at 30-300 yen, then 2, 8, 10 with defaults", "<= 1 s",
                 prepare, [run_with] {
                   return run_with(
                       [](sc::ControlSet& c) {
                         // The defaults a user starts from: the shipped init.txt next to the
                         // program.
                         c = sc::ControlSet::with_builtins();
                         sc::read_init_sel(
                             c, (fs::canonical("/proc/self/exe").parent_path() / "init.txt")
                                    .string());
                         c.set_text("kabukamin", "30");
                         c.set_text("kabukamax", "300");
                       },
                       {1, 2, 8, 10});
                 }};
  realistic.item = "stock";
  cases.push_back(std::move(realistic));
}

}  // namespace

LP_BENCH(add_criteria_cases);
LP_BENCH(add_full_run_cases);
