// Screening runs over the whole sample market, as the window's "開始" makes them: the first run
// of a window (day table and previous-day loads), criterion 8 alone, criteria 1, 8, 18 and 40
// together, and the peak memory of the process after them.
#include <sys/resource.h>

#include <memory>
#include <string>

#include "bench/bench.h"
#include "screening/screening_session.h"

namespace {

using lp::bench::Case;
using lp::bench::Setup;
using lp::bench::bench_platform;
using lp::screening::indexed;
using lp::screening::ScreeningSession;

void tick_only(ScreeningSession& s, std::initializer_list<int> criteria) {
  for (int n = 1; n <= 40; ++n) s.controls().set_checked(indexed("pr_chk", n), false);
  for (int n : criteria) s.controls().set_checked(indexed("pr_chk", n), true);
}

void add_screening_cases(const Setup& setup, std::vector<Case>& cases) {
  Case first{"screening: first run, criterion 1 only (day table + 5-day loads)",
             "<= 0.5 s",
             {},
             [setup]() -> long long {
               ScreeningSession s(bench_platform(setup), nullptr);
               s.load(false);
               tick_only(s, {1});
               s.run();
               return s.day_table().count();
             }};
  first.item = "stock";
  cases.push_back(first);

  auto warm = std::make_shared<std::unique_ptr<ScreeningSession>>();
  auto prepare_warm = [setup, warm] {
    *warm = std::make_unique<ScreeningSession>(bench_platform(setup), nullptr);
    (*warm)->load(false);
    tick_only(**warm, {});
    (*warm)->run();  // builds the day table once, as a window's first run does
  };

  Case cross{"screening: criterion 8 with its defaults over all stocks", "<= 0.3 s", prepare_warm,
             [warm]() -> long long {
               ScreeningSession& s = **warm;
               s.controls() = lp::screening::ControlSet::with_builtins();
               tick_only(s, {8});
               s.run();
               return s.day_table().count();
             }};
  cross.item = "stock";
  cases.push_back(cross);

  Case four{"screening: criteria 1, 8, 18, 40 (bounds keep every stock)", "<= 1.5 s", prepare_warm,
            [warm]() -> long long {
              ScreeningSession& s = **warm;
              s.controls() = lp::screening::ControlSet::with_builtins();
              s.controls().set_text("kabukamin", "0");
              s.controls().set_text("kabukamax", "100000000");
              s.controls().set_text("kairi1_cmb(0)", "25");
              s.controls().set_text("kairi1_cmb(1)", "75");
              tick_only(s, {1, 8, 18, 40});
              s.run();
              return s.day_table().count();
            }};
  four.item = "stock";
  cases.push_back(four);

  Case memory{
      "screening: peak memory after the full runs (ru_maxrss)", "<= 200 MB", {}, []() -> long long {
        return 1;
      }};
  memory.runs = 1;
  memory.item = "";
  memory.judge = [](const lp::bench::Result&, const std::vector<lp::bench::Result>&) {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const long long mb = u.ru_maxrss / 1024;
    return lp::bench::yes_no(mb <= 200) + " (" + std::to_string(mb) + " MB)";
  };
  cases.push_back(memory);
}

LP_BENCH(add_screening_cases);

}  // namespace
