// The in-memory market and the backtest: loading the whole database once against the bare
// read of the same files, the memory it holds, a backtest of a year of signal days, and the
// same screens run one by one as separate as-of screens over the files.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backtest/screen_backtest.h"
#include "bench/bench.h"
#include "common/csv.h"
#include "pricedb/formats.h"
#include "pricedb/market_store.h"
#include "screening/formula/formula_step.h"
#include "screening/preferences.h"

namespace {

namespace fs = std::filesystem;
using lp::bench::Case;
using lp::bench::Result;
using lp::bench::Setup;
using lp::bench::bench_platform;

constexpr const char* kRaw = "market store: raw read of every database file";
constexpr const char* kLoad = "market store: load the whole database once";
constexpr const char* kBacktest =
    "market store backtest: 250 signal days, criteria 1 (30-3000) + 8 + 10, hold 20 (load "
    "included)";
constexpr const char* kSeparate =
    "market store backtest baseline: separate as-of screens over the files (10 of the 250 days)";
constexpr const char* kSeparateCli =
    "market store backtest baseline: separate `lumenpick-cli screen --as-of` runs (10 of the 250 "
    "days)";
constexpr int kSignalDays = 250;
constexpr int kSampledDays = 10;
constexpr std::size_t kAccountDays = 2450;

std::vector<std::string> every_file(const std::string& db) {
  std::vector<std::string> out;
  std::error_code ec;
  for (int y : lp::years_present(db)) {
    for (const char* part : {"data_m", "data_mh", "data_d"}) {
      for (const auto& e : fs::directory_iterator(lp::year_folder(db, y) + part, ec))
        out.push_back(e.path().string());
    }
  }
  return out;
}

// Heap bytes in use (the store is heap only): freed memory kept by the allocator for reuse
// does not hide the growth as the resident size would.
long long heap_in_use() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<long long>(m.uordblks + m.hblkhd);
}

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The template's preferences, as a fresh installation has them.
std::string template_init() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return (exe.parent_path() / "init.txt").string();
}

// Criterion 1 at 30-3000 yen, criteria 8 and 10 with the template's defaults.
lp::screening::ControlSet screen_controls() {
  lp::screening::ControlSet c = lp::screening::ControlSet::with_builtins();
  lp::screening::read_init_sel(c, template_init());
  for (int n = 1; n <= 40; ++n) c.set_checked(lp::screening::indexed("pr_chk", n), false);
  for (int n : {1, 8, 10}) c.set_checked(lp::screening::indexed("pr_chk", n), true);
  c.set_text("kabukamin", "30");
  c.set_text("kabukamax", "3000");
  for (int i = 0; i < 6; ++i) c.set_checked(lp::screening::indexed("shijyou_chk", i), true);
  return c;
}

// The last 250 trading days of the sample ending 20 days before its end, so that every
// trade can close.
lp::backtest::Params year_of_signals(const lp::MarketStore& store) {
  const auto& dates = store.trading_dates();
  lp::backtest::Params p;
  const std::size_t last = dates.size() > 21 ? dates.size() - 21 : dates.size() - 1;
  const std::size_t first = last + 1 > kSignalDays ? last + 1 - kSignalDays : 0;
  p.from = dates[first];
  p.to = dates[last];
  p.every = 1;
  p.hold = 20;
  return p;
}

void add_backtest_cases(const Setup& setup, std::vector<Case>& cases) {
  auto files = std::make_shared<std::vector<std::string>>();
  {
    Case c{kRaw, "", [setup, files] { *files = every_file(setup.db_folder); },
           [files]() -> long long {
             std::string bytes;
             long long n = 0;
             for (const std::string& f : *files) n += lp::read_file_bytes(f, bytes);
             return n;
           }};
    c.item = "file";
    cases.push_back(std::move(c));
  }
  {
    Case c{kLoad, "<= 2 s and <= 2x raw read", {}, [setup]() -> long long {
             std::string error;
             auto store = lp::MarketStore::load(setup.db_folder, "1001", error);
             return store ? static_cast<long long>(store->file_count()) : 0;
           }};
    c.item = "file";
    c.judge = [](const Result& self, const std::vector<Result>& all) -> std::string {
      const Result* raw = lp::bench::find_result(all, kRaw);
      if (!raw) return "";
      char ratio[64];
      std::snprintf(ratio, sizeof ratio, " (%.2fx raw)", self.median_seconds / raw->median_seconds);
      return lp::bench::yes_no(self.median_seconds <= 2 &&
                               self.median_seconds <= 2 * raw->median_seconds) +
             ratio;
    };
    cases.push_back(std::move(c));
  }
  {
    auto held = std::make_shared<std::pair<long long, long long>>();
    Case c{"market store: memory held (heap growth while loaded)",
           "<= 400 MB",
           {},
           [setup, held]() -> long long {
             const long long before = heap_in_use();
             std::string error;
             auto store = lp::MarketStore::load(setup.db_folder, "1001", error);
             held->first = heap_in_use() - before;
             held->second = store ? static_cast<long long>(store->memory_bytes()) : 0;
             return 1;
           }};
    c.runs = 1;
    c.item = "";
    c.judge = [held](const Result&, const std::vector<Result>&) {
      const long long mb = held->first >> 20;
      return lp::bench::yes_no(mb <= 400) + " (" + std::to_string(mb) + " MB heap, " +
             std::to_string(held->second >> 20) + " MB counted)";
    };
    cases.push_back(std::move(c));
  }
  auto period = std::make_shared<lp::backtest::Params>();
  auto days = std::make_shared<std::vector<std::string>>();
  auto find_period = [setup, period, days] {
    if (!days->empty()) return;
    std::string error;
    auto probe = lp::MarketStore::load(setup.db_folder, "1001", error);
    if (!probe) return;
    *period = year_of_signals(*probe);
    *days = lp::backtest::signal_days(*probe, *period);
  };
  {
    auto cpu = std::make_shared<double>(0);
    Case c{kBacktest, "<= 1 s and >= 20x separate screens", find_period,
           [setup, period, cpu]() -> long long {
             const double cpu_start = cpu_seconds();
             lp::backtest::Job job;
             job.platform = bench_platform(setup);
             job.controls = screen_controls();
             job.params = *period;
             job.out_dir = setup.market_dir + "/backtest-bench-out/";
             const lp::backtest::JobOutcome out = lp::backtest::run_job(job);  // loads, timed
             *cpu = cpu_seconds() - cpu_start;
             return static_cast<long long>(out.result.signal_days.size());
           }};
    c.runs = 3;
    c.item = "signal day";
    c.judge = [cpu](const Result& self, const std::vector<Result>& all) -> std::string {
      const Result* separate = lp::bench::find_result(all, kSeparate);
      if (!separate) return lp::bench::yes_no(self.median_seconds <= 1);
      const double scaled = separate->median_seconds * kSignalDays / kSampledDays;
      const double ratio = scaled / self.median_seconds;
      const Result* cli = lp::bench::find_result(all, kSeparateCli);
      const double cli_ratio =
          cli ? cli->median_seconds * kSignalDays / kSampledDays / self.median_seconds : 0;
      char text[200];
      std::snprintf(text, sizeof text,
                    " (%.1fx faster than 250 separate screens in one process, %.1fx than 250 "
                    "`screen --as-of` runs; %.1f s CPU)",
                    ratio, cli_ratio, *cpu);
      return lp::bench::yes_no(self.median_seconds <= 1 && ratio >= 20) + text;
    };
    cases.push_back(std::move(c));
  }
  {
    Case c{
        "market store backtest: 250 signal days, formula C > MA(C,25) AND RSI(14) < 30, "
        "hold 20 (load included)",
        "<= 10 s", find_period, [setup, period]() -> long long {
          lp::backtest::Job job;
          job.platform = bench_platform(setup);
          job.controls = lp::screening::ControlSet::with_builtins();
          for (int n = 1; n <= 45; ++n)
            job.controls.set_checked(lp::screening::indexed("pr_chk", n), false);
          for (int i = 0; i < 6; ++i)
            job.controls.set_checked(lp::screening::indexed("shijyou_chk", i), true);
          job.controls.set_checked(lp::screening::indexed("pr_chk", 41), true);
          job.controls.set_text(lp::screening::formula_text_control(41),
                                "C > MA(C,25) AND RSI(14) < 30");
          job.params = *period;
          job.out_dir = setup.market_dir + "/backtest-bench-formula-out/";
          const lp::backtest::JobOutcome out = lp::backtest::run_job(job);
          return out.error.empty() ? static_cast<long long>(out.result.signal_days.size()) : 0;
        }};
    c.runs = 1;
    c.item = "signal day";
    cases.push_back(std::move(c));
  }
  {
    // The account mode over the market's last 2,450 trading days (ten years; all of them in
    // a shorter market: run with --years 11 for the target): every stock, a formula signal, a
    // rank formula and a stop, load included.
    auto days_run = std::make_shared<long long>(0);
    auto from = std::make_shared<std::string>();
    Case c{"account backtest: 2,450 days, every stock, formula V > 2 * MA(V,20) AND C > "
           "MA(C,25), rank C / REF(C,20), 10 places, stop 8, target 20, 0.1% (load included)",
           "<= 5 s at 2,450 days (--years 11)",
           [setup, from] {
             std::string error;
             auto probe = lp::MarketStore::load(setup.db_folder, "1001", error);
             if (!probe || probe->trading_dates().empty()) return;
             const auto& dates = probe->trading_dates();
             *from = dates[dates.size() > kAccountDays ? dates.size() - kAccountDays : 0];
           },
           [setup, days_run, from]() -> long long {
             lp::backtest::Job job;
             job.platform = bench_platform(setup);
             job.controls = lp::screening::ControlSet::with_builtins();
             for (int n = 1; n <= 45; ++n)
               job.controls.set_checked(lp::screening::indexed("pr_chk", n), n == 41);
             for (int i = 0; i < 6; ++i)
               job.controls.set_checked(lp::screening::indexed("shijyou_chk", i), true);
             job.controls.set_text(lp::screening::formula_text_control(41),
                                   "V > 2 * MA(V,20) AND C > MA(C,25)");
             job.params.from = *from;
             job.params.to = setup.today;
             lp::backtest::AccountOptions account;
             account.params.capital = 3000000;
             account.params.max_positions = 10;
             account.params.hold = 0;
             account.params.stop = 8;
             account.params.target = 20;
             account.params.commission = {0.1, 100, 0, 0};
             account.rank = "C / REF(C,20)";
             job.account = account;
             job.out_dir = setup.market_dir + "/backtest-bench-account-out/";
             const lp::backtest::JobOutcome out = lp::backtest::run_job(job);
             if (!out.error.empty()) return 0;
             *days_run = static_cast<long long>(out.account.days.size());
             return static_cast<long long>(out.account.days.size());
           }};
    c.runs = 3;
    c.item = "day";
    c.judge = [days_run](const Result& self, const std::vector<Result>&) -> std::string {
      char text[120];
      std::snprintf(text, sizeof text, " (%lld days)", *days_run);
      if (*days_run < static_cast<long long>(kAccountDays)) return std::string(text + 1);
      return lp::bench::yes_no(self.median_seconds <= 5) + text;
    };
    cases.push_back(std::move(c));
  }
  {
    // What a script calling `screen --as-of` once per day costs: a fresh session reading the
    // files each time (the program's start-up is not counted). 10 days spread over the 250.
    Case c{kSeparate, "", find_period, [setup, days]() -> long long {
             for (int k = 0; k < kSampledDays; ++k) {
               const std::string& day = (*days)[days->size() * k / kSampledDays];
               lp::screening::ScreeningSession s(bench_platform(setup), nullptr);
               s.load(false);
               s.controls() = screen_controls();
               s.use_market(nullptr, day);
               s.run();
             }
             return kSampledDays;
           }};
    c.runs = 1;
    c.item = "screen";
    cases.push_back(std::move(c));
  }
  {
    // The same as whole program runs, as a script would make them (start-up included).
    Case c{kSeparateCli, "", find_period, [setup, days]() -> long long {
             std::error_code ec;
             const fs::path cli =
                 fs::read_symlink("/proc/self/exe", ec).parent_path() / "lumenpick-cli";
             for (int k = 0; k < kSampledDays; ++k) {
               const std::string& day = (*days)[days->size() * k / kSampledDays];
               const std::string command =
                   "'" + cli.string() + "' screen --documents '" + setup.documents + "' --today " +
                   setup.today +
                   " --criteria 1,8,10 --set kabukamin=30 --set kabukamax=3000 --as-of " + day +
                   " > /dev/null";
               if (std::system(command.c_str()) != 0) return 0;
             }
             return kSampledDays;
           }};
    c.runs = 1;
    c.item = "run";
    cases.push_back(std::move(c));
  }
}

LP_BENCH(add_backtest_cases);

}  // namespace
