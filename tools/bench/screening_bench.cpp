// Screening runs over the whole sample market, as the window's "開始" makes them: the first run
// of a window (day table and previous-day loads), criterion 8 alone, criteria 1, 8, 18 and 40
// together, and the peak memory of the process while they ran.
#include <malloc.h>

#include <fstream>
#include <memory>
#include <string>

#include "bench/bench.h"
#include "screening/screening_session.h"

namespace {

using lp::bench::bench_platform;
using lp::bench::Case;
using lp::bench::Setup;
using lp::screening::indexed;
using lp::screening::ScreeningSession;

void tick_only(ScreeningSession& s, std::initializer_list<int> criteria) {
  for (int n = 1; n <= 40; ++n) s.controls().set_checked(indexed("pr_chk", n), false);
  for (int n : criteria) s.controls().set_checked(indexed("pr_chk", n), true);
}

// A field of /proc/self/status in MB ("VmHWM", "VmRSS"); -1 when the system does not say.
long long status_mb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1)) / 1024;
  }
  return -1;
}

// What the process held when the screens began: the process's peak resident size starts again
// from there (freed memory given back first), so that the figure below is the screens' own and
// not that of the cases run before them (the CSV import holds over a gigabyte). What earlier
// cases still hold is counted apart.
long long held_before_screens = -1;
void restart_peak_memory() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  held_before_screens = status_mb("VmRSS");
}

void add_screening_cases(const Setup& setup, std::vector<Case>& cases) {
  Case first{"screening: first run, criterion 1 only (day table + 5-day loads)", "<= 0.5 s",
             restart_peak_memory, [setup]() -> long long {
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

  // Read when this case runs, right after the screens; the judges speak after every case.
  auto peak = std::make_shared<long long>(-1);
  Case memory{
      "screening: peak memory from the first-run case to here, above what the process "
      "held before it (VmHWM)",
      "<= 200 MB",
      {},
      [peak]() -> long long {
        *peak = status_mb("VmHWM");
        return 1;
      }};
  memory.runs = 1;
  memory.item = "";
  memory.judge = [peak](const lp::bench::Result&, const std::vector<lp::bench::Result>&) {
    if (*peak < 0 || held_before_screens < 0) return std::string();
    const long long own = *peak - held_before_screens;
    return lp::bench::yes_no(own <= 200) + " (" + std::to_string(own) + " MB; peak " +
           std::to_string(*peak) + " MB, " + std::to_string(held_before_screens) +
           " MB held before)";
  };
  cases.push_back(memory);
}

LP_BENCH(add_screening_cases);

}  // namespace
